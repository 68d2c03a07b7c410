// Textures, render targets with automatic mip-maps, buffers and indexed drawing, state blocks.
#include "platform/d3d9/resources.h"

#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "draw_util.h"
#include "platform/d3d9/readback.h"
#include "platform/win32/win32.h"
#include "test_device.h"

namespace {

class Resources : public PlainDeviceTest {
protected:
};

}  // namespace

TEST_F(Resources, TextureCreationLevelsAndLocks) {
    IDirect3DTexture9* t = nullptr;
    ASSERT_EQ(d->CreateTexture(640, 480, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
    EXPECT_EQ(t->GetLevelCount(), 10u);  // 640 x 480 down to 1 x 1
    D3DSURFACE_DESC desc;
    ASSERT_EQ(t->GetLevelDesc(3, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 80u);
    EXPECT_EQ(desc.Height, 60u);
    EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    ASSERT_EQ(t->GetLevelDesc(9, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 1u);
    EXPECT_EQ(t->GetLevelDesc(10, &desc), D3DERR_INVALIDCALL);

    // A sub-rectangle lock points into the level at that rectangle; X8 reads back opaque.
    RECT r = {10, 20, 12, 22};
    D3DLOCKED_RECT lr;
    ASSERT_EQ(t->LockRect(0, &lr, &r, 0), D3D_OK);
    EXPECT_EQ(t->LockRect(0, &lr, nullptr, 0), D3DERR_INVALIDCALL);  // already locked
    static_cast<DWORD*>(lr.pBits)[0] = 0x00123456;
    static_cast<DWORD*>(lr.pBits)[lr.Pitch / 4 + 1] = 0x00654321;
    ASSERT_EQ(t->UnlockRect(0), D3D_OK);
    EXPECT_EQ(t->UnlockRect(0), D3DERR_INVALIDCALL);
    std::vector<uint32_t> px = read_texture(t);
    EXPECT_EQ(px[20 * 640 + 10], 0xFF123456u);
    EXPECT_EQ(px[21 * 640 + 11], 0xFF654321u);
    RECT outside = {630, 470, 650, 480};
    EXPECT_EQ(t->LockRect(0, &lr, &outside, 0), D3DERR_INVALIDCALL);
    t->Release();

    // Refused: render targets outside the default pool, unknown formats, too many levels, zero sizes.
    EXPECT_EQ(
        d->CreateTexture(64, 64, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr),
        D3DERR_INVALIDCALL);
    EXPECT_EQ(d->CreateTexture(64, 64, 1, 0, D3DFMT_D24S8, D3DPOOL_MANAGED, &t, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(d->CreateTexture(64, 64, 8, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(d->CreateTexture(0, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(t, nullptr);

    // Automatic mip-maps show one level; a default-pool render target cannot be locked.
    ASSERT_EQ(d->CreateTexture(256, 128, 0, D3DUSAGE_RENDERTARGET | D3DUSAGE_AUTOGENMIPMAP, D3DFMT_A8R8G8B8,
                               D3DPOOL_DEFAULT, &t, nullptr),
              D3D_OK);
    EXPECT_EQ(t->GetLevelCount(), 1u);
    EXPECT_EQ(t->GetAutoGenFilterType(), D3DTEXF_LINEAR);
    EXPECT_EQ(t->LockRect(0, &lr, nullptr, 0), D3DERR_INVALIDCALL);
    IDirect3DSurface9* s = nullptr;
    EXPECT_EQ(t->GetSurfaceLevel(1, &s), D3DERR_INVALIDCALL);
    t->Release();
}

// A GL error left by an unrelated earlier call (here a bad enable) is not taken for a failure of a later
// creation: a long run used to end with every new texture refused.
TEST_F(Resources, CreationIsNotFailedByAnEarlierGlError) {
    glEnable(0x1234);  // GL_INVALID_ENUM, left pending
    IDirect3DTexture9* t = nullptr;
    EXPECT_EQ(d->CreateTexture(256, 128, 0, D3DUSAGE_RENDERTARGET | D3DUSAGE_AUTOGENMIPMAP, D3DFMT_A8R8G8B8,
                               D3DPOOL_DEFAULT, &t, nullptr),
              D3D_OK);
    if (t) t->Release();
    glEnable(0x1234);
    IDirect3DVertexBuffer9* vb = nullptr;
    EXPECT_EQ(d->CreateVertexBuffer(96, 0, kScreenFvf, D3DPOOL_MANAGED, &vb, nullptr), D3D_OK);
    if (vb) vb->Release();
}

TEST_F(Resources, RenderTargetMipsAreRegeneratedBeforeSampling) {
    IDirect3DSurface9* surface = nullptr;
    IDirect3DTexture9* rt = make_target(d, 256, 128, &surface, 0, D3DUSAGE_AUTOGENMIPMAP);
    ASSERT_NE(rt, nullptr);
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(d->GetRenderTarget(0, &back), D3D_OK);
    // Trilinear sampling of the whole target into 4 x 2 pixels reads its smallest levels only.
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
    const float px = 2.0f / 640.0f, py = 2.0f / 480.0f;
    const auto tiny = quad(-1, 1 - 2 * py, -1 + 4 * px, 1, 0.0f);

    for (DWORD colour : {0xFFC03010u, 0xFF20D040u}) {
        // Draw into level 0 (a quad in the target's colour), then sample it small from the back buffer.
        ASSERT_EQ(d->SetRenderTarget(0, surface), D3D_OK);
        d->SetTexture(0, nullptr);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
        ASSERT_EQ(draw_fan(d, full_quad(colour), kScreenFvf), D3D_OK);
        ASSERT_EQ(d->SetRenderTarget(0, back), D3D_OK);
        d->SetTexture(0, rt);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        ASSERT_EQ(draw_fan(d, tiny, kScreenFvf), D3D_OK);
        std::vector<uint32_t> px = read_back_buffer(d);
        EXPECT_LE(color_distance(pixel(px, 640, 1, 0), colour), 1) << std::hex << pixel(px, 640, 1, 0);
        EXPECT_LE(color_distance(pixel(px, 640, 3, 1), colour), 1);
    }
    d->SetTexture(0, nullptr);
    back->Release();
    surface->Release();
    EXPECT_EQ(rt->Release(), 0u);
}

TEST_F(Resources, ManagedTextureMipChainIsSampledByDistance) {
    // Level 0 red, level 1 green, level 2 blue: point mip selection picks the level by the pixel's footprint.
    IDirect3DTexture9* t = nullptr;
    ASSERT_EQ(d->CreateTexture(4, 4, 3, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
    const DWORD colours[3] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
    for (UINT level = 0; level < 3; ++level) {
        D3DLOCKED_RECT lr;
        ASSERT_EQ(t->LockRect(level, &lr, nullptr, 0), D3D_OK);
        const UINT n = 4 >> level;
        for (UINT y = 0; y < n; ++y)
            for (UINT x = 0; x < n; ++x) static_cast<DWORD*>(lr.pBits)[y * lr.Pitch / 4 + x] = colours[level];
        ASSERT_EQ(t->UnlockRect(level), D3D_OK);
    }
    d->SetTexture(0, t);
    d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
    const float px = 2.0f / 640.0f, py = 2.0f / 480.0f;
    // 4 x 4 texels on 4 x 4 pixels: level 0; on 2 x 2 pixels: level 1; on 1 x 1: level 2.
    ASSERT_EQ(draw_fan(d, quad(-1, 1 - 4 * py, -1 + 4 * px, 1), kScreenFvf), D3D_OK);
    ASSERT_EQ(draw_fan(d, quad(-1 + 10 * px, 1 - 2 * py, -1 + 12 * px, 1), kScreenFvf), D3D_OK);
    ASSERT_EQ(draw_fan(d, quad(-1 + 20 * px, 1 - 1 * py, -1 + 21 * px, 1), kScreenFvf), D3D_OK);
    std::vector<uint32_t> out = read_back_buffer(d);
    EXPECT_EQ(pixel(out, 640, 1, 1), 0xFFFF0000u);
    EXPECT_EQ(pixel(out, 640, 10, 0), 0xFF00FF00u);
    EXPECT_EQ(pixel(out, 640, 20, 0), 0xFF0000FFu);
    // MIPFILTER NONE: level 0 whatever the size.
    d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    ASSERT_EQ(draw_fan(d, quad(-1 + 20 * px, 1 - 1 * py, -1 + 21 * px, 1), kScreenFvf), D3D_OK);
    EXPECT_EQ(pixel(read_back_buffer(d), 640, 20, 0), 0xFFFF0000u);
    t->Release();
}

TEST_F(Resources, IndexedTriangleListsWithBaseAndStartIndex) {
    // Two quads' worth of vertices; the indices of the second quad drawn with a base vertex of 4.
    std::vector<ScreenVertex> v = quad(-1, -1, 0, 1, 0, 0xFFFF0000);
    const auto right = quad(0, -1, 1, 1, 0, 0xFF0000FF);
    v.insert(v.end(), right.begin(), right.end());
    IDirect3DVertexBuffer9* vb = make_vertex_buffer(d, v, kScreenFvf);
    ASSERT_NE(vb, nullptr);
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_EQ(d->CreateIndexBuffer(12 * 2, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib, nullptr), D3D_OK);
    const uint16_t indices[12] = {9, 9, 9, 9, 9, 9, 0, 1, 2, 0, 2, 3};  // the first six are never drawn
    void* p = nullptr;
    ASSERT_EQ(ib->Lock(0, 0, &p, 0), D3D_OK);
    std::memcpy(p, indices, sizeof indices);
    ib->Unlock();
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    d->SetFVF(kScreenFvf);
    d->SetStreamSource(0, vb, 0, sizeof(ScreenVertex));
    d->SetIndices(ib);
    ASSERT_EQ(d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 6, 2), D3D_OK);
    std::vector<uint32_t> px = read_back_buffer(d);
    EXPECT_EQ(pixel(px, 640, 480, 240), 0xFF0000FFu);
    EXPECT_EQ(pixel(px, 640, 160, 240), 0xFF000000u);
    ASSERT_EQ(d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 6, 2), D3D_OK);
    EXPECT_EQ(pixel(read_back_buffer(d), 640, 160, 240), 0xFFFF0000u);
    // Indices past the vertex buffer (9 + 4) are refused instead of read; so are ranges past the indices.
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    EXPECT_EQ(d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 0, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 6, 3), D3DERR_INVALIDCALL);
    EXPECT_EQ(d->DrawPrimitive(D3DPT_TRIANGLEFAN, 6, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(pixel(read_back_buffer(d), 640, 480, 240), 0xFF000000u);
    d->SetStreamSource(0, nullptr, 0, 0);
    d->SetIndices(nullptr);
    EXPECT_EQ(d->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2), D3DERR_INVALIDCALL);
    D3DINDEXBUFFER_DESC desc;
    ib->GetDesc(&desc);
    EXPECT_EQ(desc.Format, D3DFMT_INDEX16);
    EXPECT_EQ(desc.Size, 24u);
    ib->Release();
    vb->Release();
}

TEST_F(Resources, DynamicBuffersAreRefilledWhole) {
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(d->CreateVertexBuffer(4 * sizeof(ScreenVertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                    kScreenFvf, D3DPOOL_DEFAULT, &vb, nullptr),
              D3D_OK);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    d->SetFVF(kScreenFvf);
    d->SetStreamSource(0, vb, 0, sizeof(ScreenVertex));
    for (DWORD colour : {0xFF112233u, 0xFF445566u}) {
        void* p = nullptr;
        ASSERT_EQ(vb->Lock(0, 0, &p, 0), D3D_OK);
        const auto q = full_quad(colour);
        std::memcpy(p, q.data(), q.size() * sizeof(ScreenVertex));
        ASSERT_EQ(vb->Unlock(), D3D_OK);
        ASSERT_EQ(d->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2), D3D_OK);
        EXPECT_EQ(pixel(read_back_buffer(d), 640, 5, 5), colour);
    }
    void* p = nullptr;
    EXPECT_EQ(vb->Lock(90, 10, &p, 0), D3DERR_INVALIDCALL);  // past the end
    EXPECT_EQ(vb->Unlock(), D3DERR_INVALIDCALL);
    d->SetStreamSource(0, nullptr, 0, 0);
    vb->Release();
}

TEST_F(Resources, StateBlockAppliesOnlyWhatItRecorded) {
    IDirect3DTexture9* t = make_texture(d, 1, 1, {0xFF00FF00});
    ASSERT_EQ(d->BeginStateBlock(), D3D_OK);
    EXPECT_EQ(d->BeginStateBlock(), D3DERR_INVALIDCALL);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);  // the last value is kept
    d->SetRenderState(D3DRS_TEXTUREFACTOR, 0x12345678);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    d->SetTexture(0, t);
    D3DMATERIAL9 m = {};
    m.Power = 7.0f;
    d->SetMaterial(&m);
    IDirect3DStateBlock9* block = nullptr;
    ASSERT_EQ(d->EndStateBlock(&block), D3D_OK);
    ASSERT_NE(block, nullptr);

    // Recording did not touch the device.
    DWORD v = 0;
    d->GetRenderState(D3DRS_CULLMODE, &v);
    EXPECT_EQ(v, static_cast<DWORD>(D3DCULL_NONE));
    IDirect3DBaseTexture9* bound = nullptr;
    d->GetTexture(0, &bound);
    EXPECT_EQ(bound, nullptr);

    d->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);  // not recorded: must survive Apply
    d->SetRenderState(D3DRS_TEXTUREFACTOR, 0);
    EXPECT_EQ(t->Release(), 0u);  // the block keeps the texture alive
    ASSERT_EQ(block->Apply(), D3D_OK);
    d->GetRenderState(D3DRS_CULLMODE, &v);
    EXPECT_EQ(v, static_cast<DWORD>(D3DCULL_CCW));
    d->GetRenderState(D3DRS_TEXTUREFACTOR, &v);
    EXPECT_EQ(v, 0x12345678u);
    d->GetRenderState(D3DRS_ZFUNC, &v);
    EXPECT_EQ(v, static_cast<DWORD>(D3DCMP_ALWAYS));
    d->GetTextureStageState(1, D3DTSS_COLOROP, &v);
    EXPECT_EQ(v, static_cast<DWORD>(D3DTOP_ADD));
    d->GetTextureStageState(0, D3DTSS_COLOROP, &v);
    EXPECT_EQ(v, static_cast<DWORD>(D3DTOP_SELECTARG1));
    d->GetSamplerState(0, D3DSAMP_ADDRESSU, &v);
    EXPECT_EQ(v, static_cast<DWORD>(D3DTADDRESS_CLAMP));
    d->GetSamplerState(0, D3DSAMP_ADDRESSV, &v);
    EXPECT_EQ(v, static_cast<DWORD>(D3DTADDRESS_WRAP));
    D3DMATERIAL9 got;
    d->GetMaterial(&got);
    EXPECT_EQ(got.Power, 7.0f);
    d->GetTexture(0, &bound);
    EXPECT_EQ(bound, static_cast<IDirect3DBaseTexture9*>(t));
    bound->Release();
    // Drawing with the applied states shows the recorded texture.
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    ASSERT_EQ(draw_fan(d, full_quad(), kScreenFvf), D3D_OK);
    EXPECT_EQ(pixel(read_back_buffer(d), 640, 320, 240), 0xFF00FF00u);

    // Capture refreshes the recorded states only.
    d->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFFFFFFFF);
    ASSERT_EQ(block->Capture(), D3D_OK);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, 1);
    block->Apply();
    d->GetRenderState(D3DRS_TEXTUREFACTOR, &v);
    EXPECT_EQ(v, 0xFFFFFFFFu);
    d->SetTexture(0, nullptr);
    EXPECT_EQ(block->Release(), 0u);
}

namespace {

// Every state the device keeps, read through its getters (with each getter's result, so that a light that
// does not exist differs from one that does), as words that compare exactly.
std::vector<uint32_t> read_all_states(IDirect3DDevice9* d) {
    std::vector<uint32_t> out;
    auto add = [&out](const void* p, size_t bytes) {
        const auto* b = static_cast<const unsigned char*>(p);
        for (size_t i = 0; i < bytes; i += 4) {
            uint32_t w = 0;
            std::memcpy(&w, b + i, 4);
            out.push_back(w);
        }
    };
    DWORD v = 0;
    for (DWORD i = 0; i < 256; ++i)
        out.push_back(d->GetRenderState(static_cast<D3DRENDERSTATETYPE>(i), &v)), add(&v, 4);
    for (DWORD st = 0; st < 8; ++st)
        for (DWORD t = 0; t < 33; ++t)
            out.push_back(d->GetTextureStageState(st, static_cast<D3DTEXTURESTAGESTATETYPE>(t), &v)),
                add(&v, 4);
    for (DWORD sp = 0; sp < 16; ++sp)
        for (DWORD t = 0; t < 14; ++t)
            out.push_back(d->GetSamplerState(sp, static_cast<D3DSAMPLERSTATETYPE>(t), &v)), add(&v, 4);
    std::vector<D3DTRANSFORMSTATETYPE> transforms = {D3DTS_VIEW, D3DTS_PROJECTION};
    for (int i = 0; i < 8; ++i) transforms.push_back(static_cast<D3DTRANSFORMSTATETYPE>(D3DTS_TEXTURE0 + i));
    for (int i = 0; i < 4; ++i) transforms.push_back(D3DTS_WORLDMATRIX(i));
    for (D3DTRANSFORMSTATETYPE t : transforms) {
        D3DMATRIX m = {};
        out.push_back(d->GetTransform(t, &m)), add(&m, sizeof m);
    }
    for (DWORD i = 0; i < 12; ++i) {
        D3DLIGHT9 l = {};
        BOOL on = FALSE;
        out.push_back(d->GetLight(i, &l)), add(&l, sizeof l);
        out.push_back(d->GetLightEnable(i, &on)), add(&on, 4);
    }
    D3DMATERIAL9 m = {};
    d->GetMaterial(&m), add(&m, sizeof m);
    D3DVIEWPORT9 vp = {};
    d->GetViewport(&vp), add(&vp, sizeof vp);
    d->GetFVF(&v), add(&v, 4);
    auto addObject = [&](IUnknown* o) {
        const uintptr_t p = reinterpret_cast<uintptr_t>(o);
        add(&p, sizeof p);
        if (o) o->Release();
    };
    for (DWORD st = 0; st < 16; ++st) {
        IDirect3DBaseTexture9* t = nullptr;
        d->GetTexture(st, &t), addObject(t);
    }
    IDirect3DVertexBuffer9* vb = nullptr;
    UINT offset = 0, stride = 0;
    d->GetStreamSource(0, &vb, &offset, &stride), addObject(vb), add(&offset, 4), add(&stride, 4);
    IDirect3DIndexBuffer9* ib = nullptr;
    d->GetIndices(&ib), addObject(ib);
    return out;
}

struct Objects {
    IDirect3DTexture9* texture;
    IDirect3DVertexBuffer9* vertices;
    IDirect3DIndexBuffer9* indices;
};

// Sets a value different from the default in every kind of state the device keeps, render, stage and
// sampler states all through.
void set_everything(IDirect3DDevice9* d, const Objects& o, DWORD seed) {
    for (DWORD i = 0; i < 256; ++i)
        d->SetRenderState(static_cast<D3DRENDERSTATETYPE>(i), seed * 2654435761u + i);
    for (DWORD st = 0; st < 8; ++st)
        for (DWORD t = 0; t < 33; ++t)
            d->SetTextureStageState(st, static_cast<D3DTEXTURESTAGESTATETYPE>(t), seed + st * 40 + t);
    for (DWORD sp = 0; sp < 16; ++sp)
        for (DWORD t = 0; t < 14; ++t)
            d->SetSamplerState(sp, static_cast<D3DSAMPLERSTATETYPE>(t), seed + sp * 20 + t);
    D3DMATRIX m = identity();
    m._41 = static_cast<float>(seed);
    for (D3DTRANSFORMSTATETYPE t :
         {D3DTS_VIEW, D3DTS_PROJECTION, D3DTS_TEXTURE3, D3DTS_WORLDMATRIX(0), D3DTS_WORLDMATRIX(3)}) {
        m._42 += 1.0f;
        d->SetTransform(t, &m);
    }
    D3DLIGHT9 l = {};
    l.Type = D3DLIGHT_POINT;
    l.Range = static_cast<float>(seed);
    d->SetLight(1, &l);
    d->LightEnable(1, TRUE);
    d->LightEnable(4, FALSE);  // makes the default light there
    l.Range += 1.0f;
    d->SetLight(9, &l);
    D3DMATERIAL9 mat = {};
    mat.Power = static_cast<float>(seed);
    d->SetMaterial(&mat);
    const D3DVIEWPORT9 vp = {seed % 7, 3, 100, 50 + seed % 5, 0.25f, 0.75f};
    d->SetViewport(&vp);
    d->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
    d->SetTexture(seed % 16, o.texture);
    d->SetStreamSource(0, o.vertices, 4 * (seed % 3), 16);
    d->SetIndices(o.indices);
}

}  // namespace

// A state block covers every state through the one walk the device and the blocks share: a recorded block
// applied gives exactly what the recorded calls gave, a whole-state block restores everything, and Capture
// takes the device's present values of what a block holds.
TEST_F(Resources, StateBlocksCoverEveryState) {
    Objects o{make_texture(d, 1, 1, {0xFF00FF00}), nullptr, nullptr};
    ASSERT_EQ(d->CreateVertexBuffer(64, 0, 0, D3DPOOL_MANAGED, &o.vertices, nullptr), D3D_OK);
    ASSERT_EQ(d->CreateIndexBuffer(12, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &o.indices, nullptr), D3D_OK);
    D3DLIGHT9 light = {};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Direction = {0.0f, -1.0f, 0.0f};
    ASSERT_EQ(d->SetLight(1, &light), D3D_OK);  // lights 0 and 1 exist before the changes, 4 and 9 do not

    IDirect3DStateBlock9* all = nullptr;
    ASSERT_EQ(d->CreateStateBlock(D3DSBT_ALL, &all), D3D_OK);
    const std::vector<uint32_t> before = read_all_states(d);

    ASSERT_EQ(d->BeginStateBlock(), D3D_OK);
    set_everything(d, o, 5);
    IDirect3DStateBlock9* recorded = nullptr;
    ASSERT_EQ(d->EndStateBlock(&recorded), D3D_OK);
    EXPECT_EQ(read_all_states(d), before);  // recording leaves the device alone

    set_everything(d, o, 5);
    const std::vector<uint32_t> direct = read_all_states(d);
    ASSERT_NE(direct, before);
    ASSERT_EQ(all->Apply(), D3D_OK);
    // Lights 4 and 9 came after the whole-state block, which does not know them: they stay, everything
    // else is as it was.
    std::vector<uint32_t> restored = read_all_states(d);
    ASSERT_EQ(restored.size(), before.size());
    size_t differing = 0;
    for (size_t i = 0; i < before.size(); ++i) differing += restored[i] != before[i];
    const size_t lightWords =
        2 * (1 + sizeof(D3DLIGHT9) / 4 + 1 + 1);  // lights 4 and 9: result, light, enable
    EXPECT_LE(differing, lightWords);
    EXPECT_GT(differing, 0u);
    EXPECT_EQ(recorded->Apply(), D3D_OK);
    EXPECT_EQ(read_all_states(d), direct);

    // Capture: the recorded block takes the whole-state block's values for what it holds; everything set by
    // set_everything is among them, so applying it after a second round of changes brings those back.
    ASSERT_EQ(all->Apply(), D3D_OK);
    restored = read_all_states(d);
    ASSERT_EQ(recorded->Capture(), D3D_OK);
    set_everything(d, o, 21);  // the texture goes to stage 5 again
    ASSERT_NE(read_all_states(d), restored);
    ASSERT_EQ(recorded->Apply(), D3D_OK);
    EXPECT_EQ(read_all_states(d), restored);

    EXPECT_EQ(all->Release(), 0u);
    EXPECT_EQ(recorded->Release(), 0u);
    plain_state(d);
    d->SetStreamSource(0, nullptr, 0, 0);
    d->SetIndices(nullptr);
    EXPECT_EQ(o.texture->Release(), 0u);
    EXPECT_EQ(o.vertices->Release(), 0u);
    EXPECT_EQ(o.indices->Release(), 0u);
}

TEST_F(Resources, GettersReturnWhatWasSet) {
    D3DMATRIX m = identity();
    m._42 = 3.0f;
    ASSERT_EQ(d->SetTransform(D3DTS_WORLD, &m), D3D_OK);
    D3DMATRIX got;
    ASSERT_EQ(d->GetTransform(D3DTS_WORLD, &got), D3D_OK);
    EXPECT_EQ(got._42, 3.0f);
    D3DMATRIX twice = identity();
    twice._11 = 2.0f;
    ASSERT_EQ(d->MultiplyTransform(D3DTS_WORLD, &twice), D3D_OK);  // twice applied first
    d->GetTransform(D3DTS_WORLD, &got);
    EXPECT_EQ(got._11, 2.0f);
    EXPECT_EQ(got._42, 3.0f);
    D3DLIGHT9 l = {};
    l.Type = D3DLIGHT_POINT;
    l.Range = 5.0f;
    ASSERT_EQ(d->SetLight(3, &l), D3D_OK);
    D3DLIGHT9 back;
    ASSERT_EQ(d->GetLight(3, &back), D3D_OK);
    EXPECT_EQ(back.Range, 5.0f);
    // Lights 0..2 exist now with Direct3D's default light.
    ASSERT_EQ(d->GetLight(1, &back), D3D_OK);
    EXPECT_EQ(back.Type, D3DLIGHT_DIRECTIONAL);
    DWORD fvf = 0;
    d->SetFVF(kLitFvf);
    d->GetFVF(&fvf);
    EXPECT_EQ(fvf, 0x152u);
    DWORD v = 0;
    EXPECT_EQ(d->SetRenderState(static_cast<D3DRENDERSTATETYPE>(10), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(d->GetRenderState(D3DRS_FOGEND, &v), D3D_OK);
    EXPECT_EQ(v, 0x3F800000u);  // 1.0f, Direct3D's default
    EXPECT_EQ(d->GetTextureStageState(3, D3DTSS_TEXCOORDINDEX, &v), D3D_OK);
    EXPECT_EQ(v, 3u);
    EXPECT_EQ(d->GetSamplerState(4, D3DSAMP_MAXANISOTROPY, &v), D3D_OK);
    EXPECT_EQ(v, 1u);
    EXPECT_EQ(d->SetSamplerState(16, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR), D3DERR_INVALIDCALL);
}

TEST_F(Resources, RenderTargetsKeepRowZeroAtTheTopWhenSampled) {
    IDirect3DSurface9* surface = nullptr;
    IDirect3DTexture9* rt = make_target(d, 64, 64, &surface);
    ASSERT_NE(rt, nullptr);
    IDirect3DSurface9* back = nullptr;
    d->GetRenderTarget(0, &back);
    // Top half red (clip y > 0), bottom half blue.
    d->SetRenderTarget(0, surface);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    ASSERT_EQ(draw_fan(d, quad(-1, 0, 1, 1, 0, 0xFFFF0000), kScreenFvf), D3D_OK);
    ASSERT_EQ(draw_fan(d, quad(-1, -1, 1, 0, 0, 0xFF0000FF), kScreenFvf), D3D_OK);
    std::vector<uint32_t> px = read_render_target(d);
    EXPECT_EQ(px[2 * 64 + 5], 0xFFFF0000u);
    EXPECT_EQ(px[60 * 64 + 5], 0xFF0000FFu);
    // Sampled with v = 0 at the top of a full-screen quad, the picture stays upright.
    d->SetRenderTarget(0, back);
    d->SetTexture(0, rt);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    ASSERT_EQ(draw_fan(d, full_quad(), kScreenFvf), D3D_OK);
    px = read_back_buffer(d);
    EXPECT_EQ(pixel(px, 640, 100, 20), 0xFFFF0000u);
    EXPECT_EQ(pixel(px, 640, 100, 460), 0xFF0000FFu);
    d->SetTexture(0, nullptr);
    back->Release();
    surface->Release();
    rt->Release();
}

TEST_F(Resources, TexturesWithoutAlphaSampleAsOpaque) {
    // X8R8G8B8 bytes B, G, R, 0 (as a video frame fills them): alpha samples as 1, so SRCALPHA blending shows
    // the colour at full strength.
    IDirect3DTexture9* t = make_texture(d, 1, 1, {0x00C08040}, 1, D3DFMT_X8R8G8B8);
    d->SetTexture(0, t);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    ASSERT_EQ(draw_fan(d, full_quad(), kScreenFvf), D3D_OK);
    EXPECT_EQ(pixel(read_back_buffer(d), 640, 320, 240), 0xFFC08040u);
    EXPECT_EQ(read_texture(t)[0], 0xFFC08040u);
    t->Release();
}

TEST(FullScreen, DeviceCoversTheDesktopPresentsAndGoesBack) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "qv_fullscreen_test";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, "qv_fullscreen_test", "full", WS_POPUP | WS_VISIBLE, 0, 0, 640, 480,
                                  nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    D3DPRESENT_PARAMETERS pp = {};
    pp.BackBufferWidth = 640;
    pp.BackBufferHeight = 480;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.Windowed = FALSE;
    pp.EnableAutoDepthStencil = TRUE;
    pp.AutoDepthStencilFormat = D3DFMT_D24S8;
    IDirect3DDevice9* d = nullptr;
    ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &d),
              D3D_OK);
    EXPECT_EQ(pp.BackBufferCount, 1u);  // completed as on the platform
    ASSERT_EQ(d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF204060, 1.0f, 0), D3D_OK);
    EXPECT_EQ(d->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(pixel(read_back_buffer(d), 640, 0, 0), 0xFF204060u);
    D3DDISPLAYMODE mode;
    ASSERT_EQ(d->GetDisplayMode(0, &mode), D3D_OK);
    EXPECT_EQ(mode.Width, 640u);
    EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(d->Release(), 0u);
    EXPECT_EQ(d3d->Release(), 0u);
    EXPECT_TRUE(DestroyWindow(window));
}

TEST_F(Resources, OneDrawMixingMagnifiedAndMinifiedTrianglesKeepsTheMipChain) {
    // 64 x 64 texture: level 0 red, every lower level green.
    IDirect3DTexture9* t = nullptr;
    ASSERT_EQ(d->CreateTexture(64, 64, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
    for (UINT level = 0; level < t->GetLevelCount(); ++level) {
        D3DLOCKED_RECT lr;
        ASSERT_EQ(t->LockRect(level, &lr, nullptr, 0), D3D_OK);
        const UINT n = 64 >> level;
        for (UINT y = 0; y < n; ++y)
            for (UINT x = 0; x < n; ++x)
                static_cast<DWORD*>(lr.pBits)[y * lr.Pitch / 4 + x] = level == 0 ? 0xFFFF0000 : 0xFF00FF00;
        ASSERT_EQ(t->UnlockRect(level), D3D_OK);
    }
    d->SetTexture(0, t);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
    // A large triangle showing the texture magnified, then a small one showing all of it on a few pixels.
    const std::vector<ScreenVertex> tris = {
        {-1, 1, 0, 0xFFFFFFFF, 0, 0},   {0, 1, 0, 0xFFFFFFFF, 1, 0},     {-1, 0, 0, 0xFFFFFFFF, 0, 1},
        {0.5f, 0, 0, 0xFFFFFFFF, 0, 0}, {0.53f, 0, 0, 0xFFFFFFFF, 1, 0}, {0.5f, -0.04f, 0, 0xFFFFFFFF, 0, 1}};
    IDirect3DVertexBuffer9* vb = make_vertex_buffer(d, tris, kScreenFvf);
    d->SetFVF(kScreenFvf);
    d->SetStreamSource(0, vb, 0, sizeof(ScreenVertex));
    ASSERT_EQ(d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3D_OK);
    std::vector<uint32_t> px = read_back_buffer(d);
    EXPECT_EQ(pixel(px, 640, 40, 40), 0xFFFF0000u);    // magnified: level 0
    EXPECT_EQ(pixel(px, 640, 481, 241), 0xFF00FF00u);  // minified: a lower level
    // The magnified triangle alone still reads level 0, and afterwards the minified one still finds its
    // levels.
    ASSERT_EQ(d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
    ASSERT_EQ(d->DrawPrimitive(D3DPT_TRIANGLELIST, 3, 1), D3D_OK);
    px = read_back_buffer(d);
    EXPECT_EQ(pixel(px, 640, 40, 40), 0xFFFF0000u);
    EXPECT_EQ(pixel(px, 640, 481, 241), 0xFF00FF00u);
    d->SetStreamSource(0, nullptr, 0, 0);
    d->SetTexture(0, nullptr);
    vb->Release();
    t->Release();
}

// A render target sampled at a bounded minification gets only the levels that minification reaches
// regenerated, and the picture equals the one drawn with its whole chain regenerated.
TEST_F(Resources, PartlyRegeneratedLevelsSampleAsTheWholeChain) {
    IDirect3DSurface9 *surface = nullptr, *back = nullptr;
    IDirect3DTexture9* rt = make_target(d, 64, 64, &surface, 0, D3DUSAGE_AUTOGENMIPMAP);
    ASSERT_NE(rt, nullptr);
    ASSERT_EQ(d->GetRenderTarget(0, &back), D3D_OK);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
    d->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
    // Level 0: stripes of four colours, 3 texels wide, so that every lower level differs from level 0.
    auto fill = [&] {
        ASSERT_EQ(d->SetRenderTarget(0, surface), D3D_OK);
        d->SetTexture(0, nullptr);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
        static const DWORD kColours[4] = {0xFFFF2000, 0xFF10E040, 0xFF3040FF, 0xFFF0F0F0};
        for (int i = 0; i < 22; ++i) {
            const float x0 = -1.0f + float(3 * i) / 32.0f;
            ASSERT_EQ(draw_fan(d, quad(x0, -1, x0 + 3.0f / 32.0f, 1, 0.0f, kColours[i % 4]), kScreenFvf),
                      D3D_OK);
        }
        ASSERT_EQ(d->SetRenderTarget(0, back), D3D_OK);
        d->SetTexture(0, rt);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    };
    // The whole target on 40 x 40 pixels: 1.6 texels a pixel, levels 0 and 1 sampled.
    const float px = 2.0f / 640.0f, py = 2.0f / 480.0f;
    const auto shown = quad(-1, 1 - 40 * py, -1 + 40 * px, 1, 0.0f);
    auto region = [&] {
        std::vector<uint32_t> all = read_back_buffer(d), out;
        for (UINT y = 0; y < 40; ++y)
            for (UINT x = 0; x < 40; ++x) out.push_back(pixel(all, 640, x, y));
        return out;
    };

    fill();
    d3d9_stats s0{}, s1{};
    d3d9_get_stats(d, &s0);
    ASSERT_EQ(draw_fan(d, shown, kScreenFvf), D3D_OK);
    d3d9_get_stats(d, &s1);
    const std::vector<uint32_t> partly = region();
    EXPECT_GE(s1.mipRegenerations - s0.mipRegenerations, 1u);
    EXPECT_LE(s1.mipRegenerations - s0.mipRegenerations, 3u);  // of the six lower levels

    fill();
    rt->GenerateMipSubLevels();  // every level
    d3d9_get_stats(d, &s0);
    EXPECT_EQ(s0.mipRegenerations - s1.mipRegenerations, 6u);
    ASSERT_EQ(draw_fan(d, shown, kScreenFvf), D3D_OK);
    const std::vector<uint32_t> whole = region();
    EXPECT_EQ(partly, whole);

    d->SetTexture(0, nullptr);
    back->Release();
    surface->Release();
    EXPECT_EQ(rt->Release(), 0u);
}

// Draws go without the depth buffer only where its test cannot fail: a flat quad at depth 0 with LESSEQUAL
// draws everywhere, one at depth 0.5 or one with LESS still sees the stored depths.
TEST_F(Resources, DepthTestsThatCannotFailAndThoseThatCan) {
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    d->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    ASSERT_EQ(draw_fan(d, quad(-1, -1, 0, 1, 0.0f, 0xFFFF0000), kScreenFvf), D3D_OK);  // left half: depth 0
    d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    ASSERT_EQ(draw_fan(d, full_quad(0xFF00FF00), kScreenFvf), D3D_OK);                 // passes everywhere
    ASSERT_EQ(draw_fan(d, quad(-1, -1, 1, 1, 0.5f, 0xFF0000FF), kScreenFvf), D3D_OK);  // right half only
    std::vector<uint32_t> px = read_back_buffer(d);
    EXPECT_EQ(pixel(px, 640, 100, 240), 0xFF00FF00u);
    EXPECT_EQ(pixel(px, 640, 540, 240), 0xFF0000FFu);
    d->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    ASSERT_EQ(draw_fan(d, full_quad(0xFFFFFFFF), kScreenFvf), D3D_OK);  // 0 < 0 fails on the left
    px = read_back_buffer(d);
    EXPECT_EQ(pixel(px, 640, 100, 240), 0xFF00FF00u);
    EXPECT_EQ(pixel(px, 640, 540, 240), 0xFFFFFFFFu);
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
}

namespace {

// Level `level` of a GL texture as bytes R, G, B, A, read through a framebuffer (which ES allows too).
std::vector<uint8_t> gl_level(GLuint texture, GLint level, int w, int h) {
    GLuint fbo = 0;
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, level);
    std::vector<uint8_t> out(size_t(w) * size_t(h) * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &fbo);
    return out;
}

}  // namespace

// The layer draws automatic levels itself; each must equal what the driver's own generator makes from the
// same level 0 (exactly on llvmpipe, where the frames of the production are recorded; within one step
// elsewhere), for odd sizes too, with and without alpha. A point filter, when asked for, picks texels.
TEST_F(Resources, AutomaticLevelsMatchTheDriversGeneratorAndHonourThePointFilter) {
    struct Case {
        UINT w, h;
        D3DFORMAT format;
        std::vector<uint8_t> rgba;
        IDirect3DTexture9* texture = nullptr;
    };
    std::vector<Case> cases = {{256, 128, D3DFMT_A8R8G8B8, {}},
                               {300, 77, D3DFMT_X8R8G8B8, {}},
                               {5, 3, D3DFMT_A8R8G8B8, {}},
                               {64, 64, D3DFMT_X8R8G8B8, {}}};
    uint32_t seed = 12345;
    auto fill = [this](Case& c) {
        ASSERT_EQ(d->CreateTexture(c.w, c.h, 0, D3DUSAGE_AUTOGENMIPMAP, c.format, D3DPOOL_MANAGED, &c.texture,
                                   nullptr),
                  D3D_OK);
        D3DLOCKED_RECT lr;
        ASSERT_EQ(c.texture->LockRect(0, &lr, nullptr, 0), D3D_OK);
        for (UINT y = 0; y < c.h; ++y)
            for (UINT x = 0; x < c.w; ++x) {
                const uint8_t* p = &c.rgba[(size_t(y) * c.w + x) * 4];
                static_cast<DWORD*>(lr.pBits)[y * lr.Pitch / 4 + x] =
                    DWORD(p[3]) << 24 | DWORD(p[0]) << 16 | DWORD(p[1]) << 8 | p[2];
            }
        ASSERT_EQ(c.texture->UnlockRect(0), D3D_OK);
    };
    for (Case& c : cases) {
        c.rgba.resize(size_t(c.w) * c.h * 4);
        for (uint8_t& b : c.rgba) b = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
        fill(c);
        c.texture->GenerateMipSubLevels();
    }
    // Four distinct texels, 2 x 2, generated with a point and with the default filter.
    const DWORD four[4] = {0xFF000000, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
    Case point{2, 2, D3DFMT_A8R8G8B8, {}}, linear{2, 2, D3DFMT_A8R8G8B8, {}};
    for (Case* c : {&point, &linear}) {
        for (DWORD texel : four)
            c->rgba.insert(c->rgba.end(), {uint8_t(texel >> 16), uint8_t(texel >> 8), uint8_t(texel), 255});
        fill(*c);
    }
    ASSERT_EQ(point.texture->SetAutoGenFilterType(D3DTEXF_POINT), D3D_OK);
    point.texture->GenerateMipSubLevels();
    linear.texture->GenerateMipSubLevels();

    // From here on GL is used directly (behind the device's back), so the device draws no more.
    const std::string renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    const int tolerance = renderer.find("llvmpipe") != std::string::npos ? 0 : 1;
    for (Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " format " << c.format);
        const bool alpha = c.format == D3DFMT_A8R8G8B8;
        GLuint oracle = 0;
        glGenTextures(1, &oracle);
        glBindTexture(GL_TEXTURE_2D, oracle);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        std::vector<uint8_t> texels = c.rgba;  // ES takes RGB8 only from RGB texels
        if (!alpha)
            for (size_t i = 0, n = texels.size() / 4; i < n; ++i)
                std::copy_n(&c.rgba[i * 4], 3, &texels[i * 3]);
        glTexImage2D(GL_TEXTURE_2D, 0, alpha ? GL_RGBA8 : GL_RGB8, GLsizei(c.w), GLsizei(c.h), 0,
                     alpha ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE, texels.data());
        glGenerateMipmap(GL_TEXTURE_2D);
        const GLuint name = static_cast<d3d9::Texture*>(c.texture)->name();
        int worst = 0;
        UINT w = c.w, h = c.h;
        for (GLint level = 1; w > 1 || h > 1; ++level) {
            w = std::max(w / 2, 1u), h = std::max(h / 2, 1u);
            const std::vector<uint8_t> ours = gl_level(name, level, int(w), int(h));
            const std::vector<uint8_t> theirs = gl_level(oracle, level, int(w), int(h));
            for (size_t i = 0; i < ours.size(); ++i) worst = std::max(worst, std::abs(ours[i] - theirs[i]));
        }
        EXPECT_LE(worst, tolerance) << renderer;
        glDeleteTextures(1, &oracle);
    }
    auto level1 = [](const Case& c) {
        const std::vector<uint8_t> px = gl_level(static_cast<d3d9::Texture*>(c.texture)->name(), 1, 1, 1);
        return DWORD(px[3]) << 24 | DWORD(px[0]) << 16 | DWORD(px[1]) << 8 | px[2];
    };
    const DWORD picked = level1(point);
    EXPECT_NE(std::find(std::begin(four), std::end(four), picked), std::end(four)) << std::hex << picked;
    EXPECT_LE(color_distance(level1(linear), 0xFF404040), 1) << std::hex << level1(linear);
    for (Case& c : cases) c.texture->Release();
    point.texture->Release();
    linear.texture->Release();
}
