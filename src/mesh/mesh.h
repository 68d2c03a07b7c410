#pragma once
// A mesh in memory: vertices and triangle groups, each group drawn with its own material. The
// Direct3D buffers are made at the first draw and filled once.
#include <cstdint>
#include <string>
#include <vector>

#include "mesh/mesh_file.h"
#include "platform/d3d9/d3d9.h"

class Material;
class MaterialCache;

struct MeshGroup {
    std::vector<uint16_t> indices;  // three per triangle, each below the vertex count
    Material* material = nullptr;   // shared through the material cache, not owned
    uint16_t lowestIndex = 0;       // set with the index buffer
    uint32_t indexEnd = 0;          // highest index + 1; wide enough for index 65535
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
};

class Mesh {
public:
    static constexpr DWORD kFVF = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;

    Mesh() = default;
    Mesh(const Mesh&) = delete;
    Mesh& operator=(const Mesh&) = delete;
    virtual ~Mesh();  // releases the buffers, never the materials

    // One indexed draw per group with the current transforms. Throws "Failed to create
    // vertexbuffer", "Failed to lock vertexbuffer", "Failed to create indexbuffer" or "Failed to
    // lock indexbuffer" when a buffer cannot be made.
    virtual void draw();
    // Exchanges the geometry, groups and buffers with `other` (a reload moves a new version into the object
    // the scenes point at).
    void swap(Mesh& other);

    float centre[3] = {0, 0, 0};  // mean of the vertex positions
    std::vector<MeshVertex> vertices;
    std::vector<MeshGroup> groups;
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;

private:
    void drawGroup(MeshGroup& group);
};

// The mesh cache's loader: reads a MESH1 file through the data lookup ("File not found" when it is
// in neither place) and asks `materials` for the materials its groups name.
Mesh* loadMesh(const std::string& name, MaterialCache& materials);

// The same from the file's bytes. Vertex colours become opaque white.
Mesh* readMesh(const unsigned char* data, size_t size, MaterialCache& materials);
