#include "mesh/mesh.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "data/memfile.h"
#include "resources/device.h"
#include "resources/material.h"
#include "resources/material_cache.h"

void Mesh::swap(Mesh& other) {
    std::swap(centre, other.centre);
    std::swap(vertices, other.vertices);
    std::swap(groups, other.groups);
    std::swap(vertexBuffer, other.vertexBuffer);
}

Mesh::~Mesh() {
    if (vertexBuffer) vertexBuffer->Release();
    for (MeshGroup& g : groups)
        if (g.indexBuffer) g.indexBuffer->Release();
}

void Mesh::draw() {
    if (vertices.empty()) return;
    if (!vertexBuffer) {
        UINT bytes = static_cast<UINT>(vertices.size() * sizeof(MeshVertex));
        IDirect3DVertexBuffer9* vb = nullptr;
        if (g_device->CreateVertexBuffer(bytes, 0, kFVF, D3DPOOL_MANAGED, &vb, nullptr) < 0 || !vb)
            throw std::string("Failed to create vertexbuffer");
        void* p = nullptr;
        if (vb->Lock(0, 0, &p, 0) < 0 || !p) {
            vb->Release();
            throw std::string("Failed to lock vertexbuffer");
        }
        std::memcpy(p, vertices.data(), bytes);
        vb->Unlock();
        vertexBuffer = vb;
    }
    g_device->SetFVF(kFVF);
    g_device->SetStreamSource(0, vertexBuffer, 0, sizeof(MeshVertex));
    for (MeshGroup& g : groups) drawGroup(g);
}

void Mesh::drawGroup(MeshGroup& group) {
    if (group.indices.empty()) return;
    if (!group.indexBuffer) {
        UINT bytes = static_cast<UINT>(group.indices.size() * sizeof(uint16_t));
        IDirect3DIndexBuffer9* ib = nullptr;
        if (g_device->CreateIndexBuffer(bytes, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib, nullptr) < 0 || !ib)
            throw std::string("Failed to create indexbuffer");
        auto [lo, hi] = std::minmax_element(group.indices.begin(), group.indices.end());
        void* p = nullptr;
        if (ib->Lock(0, 0, &p, 0) < 0 || !p) {
            ib->Release();
            throw std::string("Failed to lock indexbuffer");
        }
        std::memcpy(p, group.indices.data(), bytes);
        ib->Unlock();
        group.lowestIndex = *lo;
        group.indexEnd = uint32_t(*hi) + 1;
        group.indexBuffer = ib;
    }
    if (group.material) group.material->apply(true, true);
    g_device->SetIndices(group.indexBuffer);
    g_device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, group.lowestIndex,
                                   group.indexEnd - group.lowestIndex, 0,
                                   static_cast<UINT>(group.indices.size() / 3));
}

Mesh* readMesh(const unsigned char* data, size_t size, MaterialCache& materials) {
    Mesh1File file = parseMesh1(data, size);
    auto mesh = std::make_unique<Mesh>();
    mesh->vertices = std::move(file.vertices);
    for (MeshVertex& v : mesh->vertices) v.color = kMesh1White;
    mesh->groups.resize(file.groups.size());
    for (size_t i = 0; i < file.groups.size(); ++i) {
        mesh->groups[i].material = materials.get(file.groups[i].material);
        mesh->groups[i].indices = std::move(file.groups[i].indices);
    }
    if (!mesh->vertices.empty()) {
        double sum[3] = {0, 0, 0};
        for (const MeshVertex& v : mesh->vertices) sum[0] += v.x, sum[1] += v.y, sum[2] += v.z;
        for (int k = 0; k < 3; ++k)
            mesh->centre[k] = static_cast<float>(sum[k] / double(mesh->vertices.size()));
    }
    return mesh.release();
}

Mesh* loadMesh(const std::string& name, MaterialCache& materials) {
    std::unique_ptr<MemoryFile, int (*)(MemoryFile*)> file(memfile_open(name.c_str()), memfile_close);
    if (!file) throw std::string("File not found");
    return readMesh(file->data, file->length, materials);
}
