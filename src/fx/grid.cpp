#include "fx/grid.h"

#include <cstring>
#include <string>

#include "fx/screen_states.h"
#include "resources/device.h"

Grid::Grid(uint32_t c, uint32_t r) : GridLattice(c, r) {
    if (FAILED(g_device->CreateVertexBuffer(vertexCount() * sizeof(ScreenVertex),
                                            D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, kScreenVertexFvf,
                                            D3DPOOL_DEFAULT, &vertexBuffer, nullptr)) ||
        !vertexBuffer) {
        vertexBuffer = nullptr;
        throw std::string("failed to create grid-vertexbuffer");
    }
    if (FAILED(g_device->CreateIndexBuffer(indexCount() * 2, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &indexBuffer,
                                           nullptr)) ||
        !indexBuffer) {
        indexBuffer = nullptr;
        release();
        throw std::string("failed to create grid-indexbuffer");
    }
    void* data = nullptr;
    if (indexBuffer->Lock(0, 0, &data, 0) != D3D_OK || !data) {
        release();
        throw std::string("failed to click-(c)lock grid-indexbuffer");
    }
    writeIndices(static_cast<uint16_t*>(data));
    indexBuffer->Unlock();
    reset(0, 0);
    try {
        upload();
    } catch (...) {
        release();
        throw;
    }
}

Grid::~Grid() {
    release();
}

void Grid::release() {
    if (vertexBuffer) vertexBuffer->Release();
    if (indexBuffer) indexBuffer->Release();
    vertexBuffer = nullptr;
    indexBuffer = nullptr;
}

void Grid::upload() {
    void* data = nullptr;
    if (vertexBuffer->Lock(0, 0, &data, 0) != D3D_OK || !data)
        throw std::string("failed to lock grid-vertexbuffer");
    std::memcpy(data, vertices.data(), vertices.size() * sizeof(ScreenVertex));
    vertexBuffer->Unlock();
}

void Grid::draw(const TextureSource* source, uint32_t srcBlend, uint32_t dstBlend, float alpha) {
    IDirect3DDevice9* d = g_device;
    setScreenTexture(d, source, alpha, D3DTADDRESS_WRAP);
    setScreenSpace(d);
    setScreenBlend(d, srcBlend, dstBlend);
    d->SetFVF(kScreenVertexFvf);
    d->SetStreamSource(0, vertexBuffer, 0, sizeof(ScreenVertex));
    d->SetIndices(indexBuffer);
    d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertexCount(), 0, cols * rows * 2);
}
