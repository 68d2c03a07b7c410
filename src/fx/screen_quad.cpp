#include "fx/screen_quad.h"

#include <cstring>
#include <string>

#include "fx/effect_math.h"
#include "fx/screen_states.h"
#include "resources/device.h"

IDirect3DVertexBuffer9* createScreenVertices(const ScreenVertex* vertices, uint32_t count) {
    const UINT bytes = count * sizeof(ScreenVertex);
    IDirect3DVertexBuffer9* buffer = nullptr;
    if (FAILED(g_device->CreateVertexBuffer(bytes, 0, kScreenVertexFvf, D3DPOOL_MANAGED, &buffer, nullptr)) ||
        !buffer)
        return nullptr;
    void* data = nullptr;
    if (FAILED(buffer->Lock(0, 0, &data, 0)) || !data) {
        buffer->Release();
        return nullptr;
    }
    std::memcpy(data, vertices, bytes);
    buffer->Unlock();
    return buffer;
}

ScreenQuad::ScreenQuad(const TextureSource* src, float halfSize) : source(src) {
    ScreenVertex corners[4];
    screenQuadVertices(halfSize, corners);
    vertexBuffer = createScreenVertices(corners, 4);
    if (!vertexBuffer) throw std::string("failed to create vertex buffer");
}

ScreenQuad::~ScreenQuad() {
    if (vertexBuffer) vertexBuffer->Release();
}

void ScreenQuad::draw(uint32_t srcBlend, uint32_t dstBlend, float alpha, float angle) {
    IDirect3DDevice9* d = g_device;
    setScreenTexture(d, source, alpha, D3DTADDRESS_CLAMP);
    if (angle != 0) {
        const D3DMATRIX m = textureRotation(angle);
        d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
        d->SetTransform(D3DTS_TEXTURE0, &m);
    }
    setScreenSpace(d);
    const D3DMATRIX world = quadWorld(posX, posY, scaleX, scaleY);
    d->SetTransform(D3DTS_WORLD, &world);
    setScreenBlend(d, srcBlend, dstBlend);
    d->SetFVF(kScreenVertexFvf);
    d->SetStreamSource(0, vertexBuffer, 0, sizeof(ScreenVertex));
    d->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
}
