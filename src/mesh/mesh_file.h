#pragma once
// The MESH1 file format: "MESH1", u32 vertex count, 36-byte vertex records, u32 group count, then
// per group a zero-terminated material file name, a u32 triangle count and 3 u16 indices per
// triangle. Little-endian, no padding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The vertex record: also the in-memory and vertex-buffer layout (FVF XYZ | NORMAL | DIFFUSE | TEX1).
struct MeshVertex {
    float x, y, z;
    float nx, ny, nz;
    uint32_t color;
    float u, v;
};
static_assert(sizeof(MeshVertex) == 36, "MESH1 vertex records are 36 bytes");

constexpr size_t kMesh1VertexSize = 36;
constexpr uint32_t kMesh1White = 0xFFFFFFFFu;

struct Mesh1Group {
    std::string material;
    std::vector<uint16_t> indices;  // three per triangle
};

struct Mesh1File {
    std::vector<MeshVertex> vertices;
    std::vector<Mesh1Group> groups;
};

// Parses a whole MESH1 file; throws a std::string on any fault: "Not a MESH1-file" for a wrong
// magic, a "Truncated MESH1-file: ..." text when the data ends inside the vertices, groups or
// indices, and an index text for a vertex number of V or more. Counts are checked against the data
// left before anything is allocated. Vertex colours are kept as stored.
Mesh1File parseMesh1(const unsigned char* data, size_t size);

// Serialises in the file's layout (colours written as given).
std::vector<unsigned char> writeMesh1(const Mesh1File& mesh);
