#include "fx/grid.h"

#include <cstring>
#include <string>

#include "fx/effect_math.h"
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
    d->SetTexture(0, source ? source->texture : nullptr);
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, opacityFactor(alpha));
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    const D3DMATRIX identity = identityMatrix();
    d->SetTransform(D3DTS_PROJECTION, &identity);
    d->SetTransform(D3DTS_VIEW, &identity);
    d->SetTransform(D3DTS_WORLD, &identity);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    if (srcBlend == D3DBLEND_ONE && dstBlend == D3DBLEND_ZERO) {
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    } else {
        d->SetRenderState(D3DRS_SRCBLEND, srcBlend);
        d->SetRenderState(D3DRS_DESTBLEND, dstBlend);
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    }
    d->SetFVF(kScreenVertexFvf);
    d->SetStreamSource(0, vertexBuffer, 0, sizeof(ScreenVertex));
    d->SetIndices(indexBuffer);
    d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertexCount(), 0, cols * rows * 2);
}
