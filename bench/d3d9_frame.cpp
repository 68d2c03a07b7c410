// Draws a production-like frame headless through the Direct3D 9 layer and prints frames per second and
// where the time goes: a lit, fogged, textured, environment-mapped mesh of about 20,000 triangles drawn into
// a 256 x 128 render target and again into the 640 x 480 back buffer, six 256 x 256 two-texture blur
// passes, two 81 x 61 distortion-grid draws refilled every frame, two full-screen quads and Present. The
// image effects are the production's own classes, so their state changes are what the frame pays for.
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fx/blur_pass.h"
#include "fx/effect_math.h"
#include "fx/grid.h"
#include "fx/render_texture.h"
#include "fx/screen_quad.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/readback.h"
#include "resources/device.h"
#include "test_device.h"

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

DWORD fbits(float f) {
    DWORD d;
    std::memcpy(&d, &f, 4);
    return d;
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

// The image effects are the production's own (fx): the scene target, the blur chain, the grid, the quads.
struct Frame {
    IDirect3DDevice9* d;
    IDirect3DVertexBuffer9* meshVb;
    IDirect3DIndexBuffer9* meshIb;
    UINT meshVertices, meshTriangles;
    IDirect3DStateBlock9* material;
    std::unique_ptr<RenderTexture> scene;
    std::unique_ptr<BlurPass> blur[6];
    std::unique_ptr<Grid> grid;
    std::unique_ptr<TextureSource> white;
    std::unique_ptr<ScreenQuad> quad;
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
    D3DMATRIX view = identityMatrix();
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
        D3DMATRIX world = identityMatrix();
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

// The lattice rebuilt and deformed on the processor every frame, refilled whole and drawn added.
void grid_draw(Frame& f, const TextureSource* source, float amount) {
    f.grid->reset(0.0f, 0.0f);
    f.grid->bulge(0.0f, 0.0f, 1.0f / 3.0f, amount);
    f.grid->upload();
    f.grid->draw(source, D3DBLEND_ONE, D3DBLEND_ONE, 1.0f);
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
    f.scene->binding.bind(0);
    draw_scene(f, t, true);
    f.scene->binding.unbind();
    phase(kSceneTarget);
    static const struct {
        bool h;
        float spread, strength;
    } passes[6] = {{true, 1.0f, 1.5f},  {false, 1.0f, 1.0f}, {true, 1.5f, 1.0f},
                   {false, 1.5f, 1.0f}, {true, 2.0f, 1.25f}, {false, 2.0f, 1.4f}};
    for (int p = 0; p < 6; ++p) f.blur[p]->apply(passes[p].h, passes[p].spread, passes[p].strength);
    phase(kBlur);
    draw_scene(f, t, true);
    phase(kSceneBack);
    grid_draw(f, f.blur[5].get(), 0.02f + 0.01f * std::sin(t));
    grid_draw(f, f.scene.get(), 0.03f);
    phase(kGrid);
    f.quad->draw(D3DBLEND_SRCALPHA, D3DBLEND_ONE, 0.3f, 0.0f);
    f.quad->draw(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 0.2f, 0.0f);
    phase(kQuads);
    d->EndScene();
    d->Present(nullptr, nullptr, nullptr, nullptr);
    phase(kPresent);
}

}  // namespace

int main() {
    // The tests' headless device: 640 x 480, D24S8, presentation never waits for a retrace.
    TestDevice device(640, 480);
    if (!device.ok()) {
        std::fprintf(stderr, "%s\n", device.error().c_str());
        return 1;
    }
    IDirect3DDevice9* d = device.device();
    for (DWORD s = 0; s < 8; ++s) {
        d->SetSamplerState(s, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        d->SetSamplerState(s, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        d->SetSamplerState(s, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
    }

    g_device = d;
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
    f.white = std::make_unique<TextureSource>(checker(d, 4, 0xFFFFFFFF, 0xFFFFFFFF));
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

    try {
        f.scene = std::make_unique<RenderTexture>(256, 128, D3DUSAGE_RENDERTARGET | D3DUSAGE_AUTOGENMIPMAP,
                                                  D3DPOOL_DEFAULT);
        for (int i = 0; i < 6; ++i)
            f.blur[i] = std::make_unique<BlurPass>(i == 0 ? f.scene.get() : f.blur[i - 1].get(), 256, 256);
        f.grid = std::make_unique<Grid>(80, 60);
        f.quad = std::make_unique<ScreenQuad>(f.white.get(), 1.0f);
    } catch (const std::string& e) {
        std::fprintf(stderr, "%s\n", e.c_str());
        return 1;
    }

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

    f.quad.reset();
    f.grid.reset();
    for (int i = 5; i >= 0; --i) f.blur[i].reset();
    f.scene.reset();
    f.white.reset();
    f.material->Release();
    f.meshVb->Release();
    f.meshIb->Release();
    base->Release();
    env->Release();
    d->SetTexture(0, nullptr);
    g_device = nullptr;
    return 0;
}
