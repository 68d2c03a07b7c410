// Draws a production-like frame headless through the Direct3D 9 layer and prints frames per second and
// where the time goes: a lit, fogged, textured, environment-mapped mesh of about 20,000 triangles drawn into
// a 256 x 128 render target and again into the 640 x 480 back buffer, six 256 x 256 two-texture blur
// passes, two 81 x 61 distortion-grid draws refilled every frame, two full-screen quads and Present.
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/readback.h"
#include "platform/win32/win32.h"

namespace {

using Clock = std::chrono::steady_clock;

// Processor time of all threads (the rasterizer's included), in milliseconds: on a loaded machine this
// shows the cost better than wall time.
double cpu_ms() {
    rusage r;
    getrusage(RUSAGE_SELF, &r);
    return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e3 + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e3;
}

struct MeshVertex {
    float x, y, z, nx, ny, nz;
    DWORD diffuse;
    float u, v;
};
struct ScreenVertex {
    float x, y, z;
    DWORD diffuse;
    float u, v;
};

DWORD fbits(float f) {
    DWORD d;
    std::memcpy(&d, &f, 4);
    return d;
}

D3DMATRIX identity() {
    D3DMATRIX m;
    std::memset(&m, 0, sizeof m);
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

std::string load_average() {
    char buffer[64] = "?";
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (!std::fgets(buffer, sizeof buffer, f)) buffer[0] = 0;
        std::fclose(f);
    }
    std::string s(buffer);
    return s.substr(0, s.find(' '));
}

LRESULT CALLBACK window_proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return DefWindowProcA(h, m, w, l);
}

IDirect3DTexture9* checker(IDirect3DDevice9* d, UINT size, DWORD a, DWORD b) {
    IDirect3DTexture9* t = nullptr;
    if (FAILED(d->CreateTexture(size, size, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &t, nullptr)))
        return nullptr;
    for (UINT level = 0; level < t->GetLevelCount(); ++level) {
        D3DLOCKED_RECT lr;
        t->LockRect(level, &lr, nullptr, 0);
        const UINT n = std::max(1u, size >> level);
        for (UINT y = 0; y < n; ++y)
            for (UINT x = 0; x < n; ++x)
                static_cast<DWORD*>(lr.pBits)[y * lr.Pitch / 4 + x] =
                    (((x << level) / 16 + (y << level) / 16) & 1) ? a : b;
        t->UnlockRect(level);
    }
    return t;
}

struct Frame {
    IDirect3DDevice9* d;
    IDirect3DVertexBuffer9* meshVb;
    IDirect3DIndexBuffer9* meshIb;
    UINT meshVertices, meshTriangles;
    IDirect3DStateBlock9* material;
    IDirect3DTexture9* sceneTex;
    IDirect3DSurface9* sceneSurface;
    IDirect3DTexture9* blurTex[6];
    IDirect3DSurface9* blurSurface[6];
    IDirect3DVertexBuffer9* quadVb;
    IDirect3DVertexBuffer9* gridVb;
    IDirect3DIndexBuffer9* gridIb;
    std::vector<ScreenVertex> grid;
    IDirect3DTexture9* white;
};

void draw_scene(Frame& f, float t, bool clear) {
    IDirect3DDevice9* d = f.d;
    if (clear) d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 1.0f, 0);
    d->SetRenderState(D3DRS_AMBIENT, 0xFF191919);
    d->SetRenderState(D3DRS_LIGHTING, TRUE);
    d->SetRenderState(D3DRS_FOGENABLE, TRUE);
    d->SetRenderState(D3DRS_FOGCOLOR, 0xFF0C0202);
    d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
    d->SetRenderState(D3DRS_FOGSTART, fbits(60.0f));
    d->SetRenderState(D3DRS_FOGEND, fbits(400.0f));
    // Camera: perspective 60 degrees, 4:3, 1..2000, looking at the origin from a moving eye.
    D3DMATRIX proj;
    std::memset(&proj, 0, sizeof proj);
    const float fy = 1.0f / std::tan(0.5f * 60.0f * 3.14159265f / 180.0f);
    proj._11 = fy / 1.3333334f, proj._22 = fy, proj._33 = 2000.0f / 1999.0f, proj._34 = 1.0f;
    proj._43 = -2000.0f / 1999.0f;
    d->SetTransform(D3DTS_PROJECTION, &proj);
    D3DMATRIX view = identity();
    const float c = std::cos(t * 0.3f), s = std::sin(t * 0.3f);
    view._11 = c, view._13 = -s, view._31 = s, view._33 = c, view._43 = 150.0f;
    d->SetTransform(D3DTS_VIEW, &view);
    for (DWORD i = 0; i < 2; ++i) {
        D3DLIGHT9 l = {};
        l.Type = D3DLIGHT_POINT;
        l.Diffuse = {1.0f, 0.9f, 0.8f, 0.0f};
        l.Ambient = {0.05f, 0.05f, 0.05f, 0.0f};
        l.Position = {i ? -80.0f : 80.0f, 60.0f, -60.0f};
        l.Range = std::sqrt(3.4028235e38f);
        l.Attenuation0 = 1.0f;
        d->SetLight(i, &l);
        d->LightEnable(i, TRUE);
    }
    for (DWORD i = 2; i < 8; ++i) d->LightEnable(i, FALSE);
    // The mesh twice (two objects), each group: SetMaterial + state block + one indexed draw.
    for (int object = 0; object < 2; ++object) {
        D3DMATRIX world = identity();
        world._41 = object ? 40.0f : -40.0f;
        d->SetTransform(D3DTS_WORLD, &world);
        d->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1);
        d->SetStreamSource(0, f.meshVb, 0, sizeof(MeshVertex));
        D3DMATERIAL9 m = {};
        m.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
        m.Ambient = {0.1f, 0.1f, 0.1f, 0.0f};
        m.Power = 1.0f;
        d->SetMaterial(&m);
        f.material->Apply();
        d->SetIndices(f.meshIb);
        d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, f.meshVertices, 0, f.meshTriangles / 2);
        d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, f.meshVertices, f.meshTriangles / 2 * 3,
                                f.meshTriangles - f.meshTriangles / 2);
    }
    d->SetRenderState(D3DRS_FOGENABLE, FALSE);
}

void screen_states(IDirect3DDevice9* d) {
    const D3DMATRIX id = identity();
    d->SetTransform(D3DTS_PROJECTION, &id);
    d->SetTransform(D3DTS_VIEW, &id);
    d->SetTransform(D3DTS_WORLD, &id);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
}

void blur(Frame& f, int pass, IDirect3DTexture9* source, bool horizontal, float spread, float strength) {
    IDirect3DDevice9* d = f.d;
    IDirect3DSurface9* saved = nullptr;
    d->GetRenderTarget(0, &saved);
    d->SetRenderTarget(0, f.blurSurface[pass]);
    for (DWORD s = 0; s < 2; ++s) {
        d->SetTexture(s, source);
        d->SetTextureStageState(s, D3DTSS_TEXCOORDINDEX, 0);
        d->SetTextureStageState(s, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        d->SetSamplerState(s, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
        d->SetSamplerState(s, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    }
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    screen_states(d);
    const float fac = strength * 0.22222222f;
    d->SetRenderState(D3DRS_TEXTUREFACTOR, (static_cast<DWORD>(fac * 128) << 24) | 0x00FFFFFF);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    d->SetStreamSource(0, f.quadVb, 0, sizeof(ScreenVertex));
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    d->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_LERP);
    d->SetTextureStageState(1, D3DTSS_COLORARG0, D3DTA_TFACTOR);
    d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
    d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TEXTURE);
    d->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, (static_cast<DWORD>(fac * 510) << 24) | 0x007F7F7F);
    const float texel = 1.0f / 256.0f;
    for (int i = 2; i <= 4; i += 2) {
        const float o = texel * (i * spread - 0.5f);
        D3DMATRIX m = identity();
        (horizontal ? m._31 : m._32) = o;
        d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
        d->SetTransform(D3DTS_TEXTURE0, &m);
        (horizontal ? m._31 : m._32) = -o;
        d->SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
        d->SetTransform(D3DTS_TEXTURE1, &m);
        d->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2);
    }
    d->SetRenderTarget(0, saved);
    saved->Release();
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    d->SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
}

void grid_draw(Frame& f, IDirect3DTexture9* source, float amount) {
    IDirect3DDevice9* d = f.d;
    // Rebuild and deform the lattice on the processor, then refill the dynamic buffer whole.
    for (int i = 0; i <= 60; ++i)
        for (int j = 0; j <= 80; ++j) {
            ScreenVertex& v = f.grid[i * 81 + j];
            const float dx = (j - 40) / 40.0f, dy = (i - 30) / 30.0f;
            const float w = amount * (1.0f + std::cos(std::sqrt(dx * dx + dy * dy) * 3.0f));
            v = {j / 40.0f - 1.0f, i / 30.0f - 1.0f,   0.0f,
                 0xFFFFFFFF,       j / 80.0f + w * dx, 1.0f - i / 60.0f + w * dy};
        }
    void* p = nullptr;
    f.gridVb->Lock(0, 0, &p, 0);
    std::memcpy(p, f.grid.data(), f.grid.size() * sizeof(ScreenVertex));
    f.gridVb->Unlock();
    d->SetTexture(0, source);
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFF000000);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    screen_states(d);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    d->SetStreamSource(0, f.gridVb, 0, sizeof(ScreenVertex));
    d->SetIndices(f.gridIb);
    d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 81 * 61, 0, 80 * 60 * 2);
}

void quad_draw(Frame& f, IDirect3DTexture9* source, DWORD src, DWORD dst, float alpha) {
    IDirect3DDevice9* d = f.d;
    d->SetTexture(0, source);
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, static_cast<DWORD>(alpha * 255) << 24);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    screen_states(d);
    d->SetRenderState(D3DRS_SRCBLEND, src);
    d->SetRenderState(D3DRS_DESTBLEND, dst);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    d->SetStreamSource(0, f.quadVb, 0, sizeof(ScreenVertex));
    d->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
}

enum Phase { kSceneTarget, kBlur, kSceneBack, kGrid, kQuads, kPresent, kPhases };
const char* const kPhaseNames[kPhases] = {"scene into 256x128 target", "six blur passes",
                                          "scene into back buffer",    "two grid draws",
                                          "two full-screen quads",     "present"};

// One frame; with `timed`, the GL work of each phase is finished before the next starts.
void frame(Frame& f, float t, bool timed, double* phaseMs, double* phaseCpu) {
    IDirect3DDevice9* d = f.d;
    auto mark = Clock::now();
    double cpuMark = cpu_ms();
    auto phase = [&](Phase p) {
        if (!timed) return;
        d3d9_finish(d);
        const auto now = Clock::now();
        const double cpu = cpu_ms();
        phaseMs[p] += std::chrono::duration<double, std::milli>(now - mark).count();
        phaseCpu[p] += cpu - cpuMark;
        mark = now;
        cpuMark = cpu;
    };
    d->BeginScene();
    IDirect3DSurface9* saved = nullptr;
    d->GetRenderTarget(0, &saved);
    d->SetRenderTarget(0, f.sceneSurface);
    draw_scene(f, t, true);
    d->SetRenderTarget(0, saved);
    saved->Release();
    phase(kSceneTarget);
    static const struct {
        bool h;
        float spread, strength;
    } passes[6] = {{true, 1.0f, 1.5f},  {false, 1.0f, 1.0f}, {true, 1.5f, 1.0f},
                   {false, 1.5f, 1.0f}, {true, 2.0f, 1.25f}, {false, 2.0f, 1.4f}};
    for (int p = 0; p < 6; ++p)
        blur(f, p, p == 0 ? f.sceneTex : f.blurTex[p - 1], passes[p].h, passes[p].spread, passes[p].strength);
    phase(kBlur);
    draw_scene(f, t, true);
    phase(kSceneBack);
    grid_draw(f, f.blurTex[5], 0.02f + 0.01f * std::sin(t));
    grid_draw(f, f.sceneTex, 0.03f);
    phase(kGrid);
    quad_draw(f, f.white, D3DBLEND_SRCALPHA, D3DBLEND_ONE, 0.3f);
    quad_draw(f, f.white, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 0.2f);
    phase(kQuads);
    d->EndScene();
    d->Present(nullptr, nullptr, nullptr, nullptr);
    phase(kPresent);
}

}  // namespace

int main() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = window_proc;
    wc.hInstance = instance;
    wc.lpszClassName = "d3d9_frame";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, "d3d9_frame", "d3d9_frame", WS_POPUP | WS_VISIBLE, 0, 0, 640, 480,
                                  nullptr, nullptr, instance, nullptr);
    IDirect3D9* d3d = window ? Direct3DCreate9(D3D_SDK_VERSION) : nullptr;
    if (!d3d) {
        std::fprintf(stderr, "no window or Direct3D object\n");
        return 1;
    }
    D3DPRESENT_PARAMETERS pp = {};
    pp.BackBufferWidth = 640;
    pp.BackBufferHeight = 480;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.Windowed = TRUE;
    pp.EnableAutoDepthStencil = TRUE;
    pp.AutoDepthStencilFormat = D3DFMT_D24S8;
    pp.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    IDirect3DDevice9* d = nullptr;
    if (FAILED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                 D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &d))) {
        std::fprintf(stderr, "CreateDevice failed\n");
        return 1;
    }
    for (DWORD s = 0; s < 8; ++s) {
        d->SetSamplerState(s, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        d->SetSamplerState(s, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        d->SetSamplerState(s, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
    }

    Frame f = {};
    f.d = d;
    // A torus of 100 x 100 quads: 10,000 vertices... 20,000 triangles.
    const int rings = 100, sides = 100;
    std::vector<MeshVertex> verts;
    for (int i = 0; i < rings; ++i)
        for (int j = 0; j < sides; ++j) {
            const float a = 6.2831853f * i / rings, b = 6.2831853f * j / sides;
            const float nx = std::cos(a) * std::cos(b), ny = std::sin(b), nz = std::sin(a) * std::cos(b);
            verts.push_back({std::cos(a) * 40.0f + nx * 12.0f, ny * 12.0f, std::sin(a) * 40.0f + nz * 12.0f,
                             nx, ny, nz, 0xFFFFFFFF, 4.0f * i / rings, 2.0f * j / sides});
        }
    std::vector<uint16_t> idx;
    for (int i = 0; i < rings; ++i)
        for (int j = 0; j < sides; ++j) {
            const uint16_t a = static_cast<uint16_t>(i * sides + j);
            const uint16_t b = static_cast<uint16_t>(((i + 1) % rings) * sides + j);
            const uint16_t c = static_cast<uint16_t>(((i + 1) % rings) * sides + (j + 1) % sides);
            const uint16_t e = static_cast<uint16_t>(i * sides + (j + 1) % sides);
            idx.insert(idx.end(), {a, b, c, a, c, e});
        }
    f.meshVertices = static_cast<UINT>(verts.size());
    f.meshTriangles = static_cast<UINT>(idx.size() / 3);
    void* p = nullptr;
    d->CreateVertexBuffer(static_cast<UINT>(verts.size() * sizeof(MeshVertex)), 0, 0x152, D3DPOOL_MANAGED,
                          &f.meshVb, nullptr);
    f.meshVb->Lock(0, 0, &p, 0);
    std::memcpy(p, verts.data(), verts.size() * sizeof(MeshVertex));
    f.meshVb->Unlock();
    d->CreateIndexBuffer(static_cast<UINT>(idx.size() * 2), 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &f.meshIb,
                         nullptr);
    f.meshIb->Lock(0, 0, &p, 0);
    std::memcpy(p, idx.data(), idx.size() * 2);
    f.meshIb->Unlock();

    IDirect3DTexture9* base = checker(d, 256, 0xFFC08040, 0xFF406080);
    IDirect3DTexture9* env = checker(d, 128, 0xFF202020, 0xFF604020);
    f.white = checker(d, 4, 0xFFFFFFFF, 0xFFFFFFFF);
    // The material's states, recorded once as the scene's materials do.
    d->BeginStateBlock();
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    d->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    d->SetRenderState(D3DRS_NORMALIZENORMALS, FALSE);
    d->SetRenderState(D3DRS_COLORVERTEX, TRUE);
    d->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFFFFFFFF);
    d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_CURRENT);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    d->SetTexture(0, base);
    d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
    d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_CURRENT);
    d->SetSamplerState(1, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    d->SetSamplerState(1, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    d->SetTexture(1, env);
    d->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTextureStageState(2, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    d->SetTexture(2, nullptr);
    d->EndStateBlock(&f.material);

    d->CreateTexture(256, 128, 0, D3DUSAGE_RENDERTARGET | D3DUSAGE_AUTOGENMIPMAP, D3DFMT_A8R8G8B8,
                     D3DPOOL_DEFAULT, &f.sceneTex, nullptr);
    f.sceneTex->GetSurfaceLevel(0, &f.sceneSurface);
    for (int i = 0; i < 6; ++i) {
        d->CreateTexture(256, 256, 0, D3DUSAGE_RENDERTARGET | D3DUSAGE_AUTOGENMIPMAP, D3DFMT_A8R8G8B8,
                         D3DPOOL_DEFAULT, &f.blurTex[i], nullptr);
        f.blurTex[i]->GetSurfaceLevel(0, &f.blurSurface[i]);
    }
    const float h = 0.5f / 256.0f;
    const ScreenVertex q[4] = {{-1, -1, 0, 0x00FFFFFF, h, 1 + h},
                               {-1, 1, 0, 0x00FFFFFF, h, h},
                               {1, 1, 0, 0x00FFFFFF, 1 + h, h},
                               {1, -1, 0, 0x00FFFFFF, 1 + h, 1 + h}};
    d->CreateVertexBuffer(sizeof q, 0, 0x142, D3DPOOL_MANAGED, &f.quadVb, nullptr);
    f.quadVb->Lock(0, 0, &p, 0);
    std::memcpy(p, q, sizeof q);
    f.quadVb->Unlock();
    f.grid.resize(81 * 61);
    d->CreateVertexBuffer(81 * 61 * sizeof(ScreenVertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0x142,
                          D3DPOOL_DEFAULT, &f.gridVb, nullptr);
    d->CreateIndexBuffer(80 * 60 * 12, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &f.gridIb, nullptr);
    f.gridIb->Lock(0, 0, &p, 0);
    auto* gi = static_cast<uint16_t*>(p);
    for (int i = 0; i < 60; ++i)
        for (int j = 0; j < 80; ++j) {
            const uint16_t a = static_cast<uint16_t>(i * 81 + j), b = static_cast<uint16_t>(a + 81);
            const uint16_t cell[6] = {a,
                                      static_cast<uint16_t>(a + 1),
                                      b,
                                      static_cast<uint16_t>(a + 1),
                                      static_cast<uint16_t>(b + 1),
                                      b};
            std::memcpy(gi, cell, sizeof cell);
            gi += 6;
        }
    f.gridIb->Unlock();

    // Warm-up: the first frames build the shader variants the frame uses.
    const auto warmStart = Clock::now();
    frame(f, 0.0f, false, nullptr, nullptr);
    d3d9_finish(d);
    const double warmMs = std::chrono::duration<double, std::milli>(Clock::now() - warmStart).count();
    for (int i = 1; i < 5; ++i) frame(f, i * 0.02f, false, nullptr, nullptr);
    d3d9_finish(d);
    d3d9_stats before;
    d3d9_get_stats(d, &before);

    const int frames = 150;
    const auto start = Clock::now();
    const double cpuStart = cpu_ms();
    for (int i = 0; i < frames; ++i) frame(f, 0.1f + i * 0.016f, false, nullptr, nullptr);
    d3d9_finish(d);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpuPerFrame = (cpu_ms() - cpuStart) / frames;
    d3d9_stats after;
    d3d9_get_stats(d, &after);

    double phaseMs[kPhases] = {}, phaseCpu[kPhases] = {};
    const int timedFrames = 40;
    for (int i = 0; i < timedFrames; ++i) frame(f, 3.0f + i * 0.016f, true, phaseMs, phaseCpu);

    std::printf("d3d9_frame: %d frames of 640x480 in %.3f s: %.1f frames per second (%.2f ms per frame)\n",
                frames, seconds, frames / seconds, 1000.0 * seconds / frames);
    std::printf("  processor time of all threads: %.2f ms per frame (load average of the machine: %s)\n",
                cpuPerFrame, load_average().c_str());
    std::printf("  mesh: %u vertices, %u triangles, drawn twice per scene pass; first frame %.1f ms\n",
                f.meshVertices, f.meshTriangles, warmMs);
    std::printf("  per frame: %.1f draws, %.1f shader switches, %.1f uniform group uploads\n",
                double(after.draws - before.draws) / frames,
                double(after.programBinds - before.programBinds) / frames,
                double(after.uniformUploads - before.uniformUploads) / frames);
    std::printf("  shader variants built: %llu, of them after the first frames: %llu\n", after.programsBuilt,
                after.programsBuilt - before.programsBuilt);
    std::printf("  where the time goes (%d frames, each phase finished before the next):\n", timedFrames);
    std::printf("    %-28s %10s %10s %7s\n", "phase", "wall", "processor", "share");
    double total = 0;
    for (double ms : phaseCpu) total += ms;
    for (int i = 0; i < kPhases; ++i)
        std::printf("    %-28s %7.2f ms %7.2f ms %6.1f%%\n", kPhaseNames[i], phaseMs[i] / timedFrames,
                    phaseCpu[i] / timedFrames, 100.0 * phaseCpu[i] / total);

    for (int i = 0; i < 6; ++i) {
        f.blurSurface[i]->Release();
        f.blurTex[i]->Release();
    }
    f.sceneSurface->Release();
    f.sceneTex->Release();
    f.material->Release();
    f.quadVb->Release();
    f.gridVb->Release();
    f.gridIb->Release();
    f.meshVb->Release();
    f.meshIb->Release();
    base->Release();
    env->Release();
    f.white->Release();
    d->SetTexture(0, nullptr);
    d->Release();
    d3d->Release();
    DestroyWindow(window);
    return 0;
}
