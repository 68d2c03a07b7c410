#include "draw_util.h"

#include <cmath>

D3DMATRIX perspective_fov_lh(float fovY, float aspect, float zn, float zf) {
    D3DMATRIX m;
    std::memset(&m, 0, sizeof m);
    const float f = 1.0f / std::tan(fovY / 2.0f);
    m._11 = f / aspect;
    m._22 = f;
    m._33 = zf / (zf - zn);
    m._34 = 1.0f;
    m._43 = -zn * zf / (zf - zn);
    return m;
}

std::vector<ScreenVertex> quad(float x0, float y0, float x1, float y1, float z, DWORD diffuse, float u0,
                               float v0, float u1, float v1) {
    // Clockwise on screen: the front face under the default culling.
    return {{x0, y1, z, diffuse, u0, v0},
            {x1, y1, z, diffuse, u1, v0},
            {x1, y0, z, diffuse, u1, v1},
            {x0, y0, z, diffuse, u0, v1}};
}

IDirect3DTexture9* make_texture(IDirect3DDevice9* d, UINT width, UINT height,
                                const std::vector<DWORD>& pixels, UINT levels, D3DFORMAT format) {
    IDirect3DTexture9* t = nullptr;
    if (FAILED(d->CreateTexture(width, height, levels, 0, format, D3DPOOL_MANAGED, &t, nullptr)))
        return nullptr;
    D3DLOCKED_RECT lr;
    if (FAILED(t->LockRect(0, &lr, nullptr, 0))) {
        t->Release();
        return nullptr;
    }
    for (UINT y = 0; y < height; ++y)
        std::memcpy(static_cast<unsigned char*>(lr.pBits) + y * lr.Pitch, &pixels[y * width], width * 4);
    t->UnlockRect(0);
    return t;
}

IDirect3DTexture9* make_target(IDirect3DDevice9* d, UINT width, UINT height, IDirect3DSurface9** level0,
                               UINT levels, DWORD usage, D3DFORMAT format) {
    *level0 = nullptr;
    IDirect3DTexture9* t = nullptr;
    if (FAILED(d->CreateTexture(width, height, levels, D3DUSAGE_RENDERTARGET | usage, format, D3DPOOL_DEFAULT,
                                &t, nullptr)))
        return nullptr;
    if (FAILED(t->GetSurfaceLevel(0, level0))) {
        *level0 = nullptr;
        t->Release();
        return nullptr;
    }
    return t;
}

void plain_state(IDirect3DDevice9* d) {
    const D3DMATRIX id = identity();
    d->SetTransform(D3DTS_WORLD, &id);
    d->SetTransform(D3DTS_VIEW, &id);
    d->SetTransform(D3DTS_PROJECTION, &id);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    for (DWORD s = 0; s < 2; ++s) {
        d->SetSamplerState(s, D3DSAMP_MINFILTER, D3DTEXF_POINT);
        d->SetSamplerState(s, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
        d->SetSamplerState(s, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    }
}
