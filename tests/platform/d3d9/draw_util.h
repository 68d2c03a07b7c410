#pragma once
// Small helpers for the drawing tests: vertices, buffers, textures and matrices.
#include <cstring>
#include <vector>

#include "device_test.h"
#include "platform/d3d9/d3d9.h"

// D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1
struct ScreenVertex {
    float x, y, z;
    DWORD diffuse;
    float u, v;
};
// D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1
struct LitVertex {
    float x, y, z;
    float nx, ny, nz;
    DWORD diffuse;
    float u, v;
};
static_assert(sizeof(ScreenVertex) == 24, "ScreenVertex");
static_assert(sizeof(LitVertex) == 36, "LitVertex");

constexpr DWORD kScreenFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;
constexpr DWORD kLitFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;

inline D3DMATRIX identity() {
    D3DMATRIX m;
    std::memset(&m, 0, sizeof m);
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

// D3DXMatrixPerspectiveFovLH.
D3DMATRIX perspective_fov_lh(float fovY, float aspect, float zn, float zf);

// A managed vertex buffer holding the given vertices (released by the caller).
template <typename V>
IDirect3DVertexBuffer9* make_vertex_buffer(IDirect3DDevice9* d, const std::vector<V>& vertices, DWORD fvf,
                                           DWORD usage = 0, D3DPOOL pool = D3DPOOL_MANAGED) {
    IDirect3DVertexBuffer9* vb = nullptr;
    const UINT bytes = static_cast<UINT>(vertices.size() * sizeof(V));
    if (FAILED(d->CreateVertexBuffer(bytes, usage, fvf, pool, &vb, nullptr))) return nullptr;
    void* p = nullptr;
    if (FAILED(vb->Lock(0, 0, &p, 0))) {
        vb->Release();
        return nullptr;
    }
    std::memcpy(p, vertices.data(), bytes);
    vb->Unlock();
    return vb;
}

// Draws a fan from the vertices through a vertex buffer (FVF set, stream 0 bound, DrawPrimitive).
template <typename V>
HRESULT draw_fan(IDirect3DDevice9* d, const std::vector<V>& vertices, DWORD fvf) {
    IDirect3DVertexBuffer9* vb = make_vertex_buffer(d, vertices, fvf);
    if (!vb) return E_FAIL;
    d->SetFVF(fvf);
    d->SetStreamSource(0, vb, 0, sizeof(V));
    HRESULT hr = d->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, static_cast<UINT>(vertices.size() - 2));
    d->SetStreamSource(0, nullptr, 0, 0);
    vb->Release();
    return hr;
}

// A clip-space quad from (x0, y0) to (x1, y1) (y up), z, with texture coordinates u0..u1 left to right and
// v0 at the top to v1 at the bottom, in fan order.
std::vector<ScreenVertex> quad(float x0, float y0, float x1, float y1, float z = 0.0f,
                               DWORD diffuse = 0xFFFFFFFF, float u0 = 0.0f, float v0 = 0.0f, float u1 = 1.0f,
                               float v1 = 1.0f);
inline std::vector<ScreenVertex> full_quad(DWORD diffuse = 0xFFFFFFFF) {
    return quad(-1.0f, -1.0f, 1.0f, 1.0f, 0.0f, diffuse);
}

// A managed A8R8G8B8 (or other format) texture filled from rows of D3DCOLOR values, top row first.
IDirect3DTexture9* make_texture(IDirect3DDevice9* d, UINT width, UINT height,
                                const std::vector<DWORD>& pixels, UINT levels = 1,
                                D3DFORMAT format = D3DFMT_A8R8G8B8);

// A render-target texture in the default pool (usage adds to D3DUSAGE_RENDERTARGET) and its level 0 in
// *level0, both for the caller to release; null, and *level0 null, when either cannot be had.
IDirect3DTexture9* make_target(IDirect3DDevice9* d, UINT width, UINT height, IDirect3DSurface9** level0,
                               UINT levels = 1, DWORD usage = 0, D3DFORMAT format = D3DFMT_A8R8G8B8);

// Identity transforms, no lighting, no culling, no depth, point sampling, one texture stage selecting the
// texture: the state most pixel tests start from.
void plain_state(IDirect3DDevice9* d);

// The pixel tests' fixture: a device of their own in the plain state, the back buffer opaque black. A
// fixture that adds to it calls SetUp() first and stops when that failed.
class PlainDeviceTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        if (HasFatalFailure()) return;
        plain_state(d);
        d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    }
};

// round(a * b / 255) and friends for expected values.
inline int mul255(int a, int b) {
    return (a * b + 127) / 255;
}
