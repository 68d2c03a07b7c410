#include "fx/screen_quad.h"

#include <cstring>
#include <string>

#include "fx/effect_math.h"
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
    d->SetTexture(0, source ? source->texture : nullptr);
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    if (angle != 0) {
        const D3DMATRIX m = textureRotation(angle);
        d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
        d->SetTransform(D3DTS_TEXTURE0, &m);
    }
    d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, opacityFactor(alpha));
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);

    const D3DMATRIX identity = identityMatrix();
    d->SetTransform(D3DTS_PROJECTION, &identity);
    d->SetTransform(D3DTS_VIEW, &identity);
    d->SetTransform(D3DTS_WORLD, &identity);
    const D3DMATRIX world = quadWorld(posX, posY, scaleX, scaleY);
    d->SetTransform(D3DTS_WORLD, &world);
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
    d->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
}
