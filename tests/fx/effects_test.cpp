// Screen quad, render targets, blur passes and the grid on a real device: the states each draw sets and
// leaves, and pictures read back against the numbers the formulas give.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "fx/blur_pass.h"
#include "fx/effect_math.h"
#include "fx/grid.h"
#include "fx/render_texture.h"
#include "fx/screen_quad.h"
#include "fx_device.h"

namespace {

class EffectsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { device_ = new fxtest::Device(640, 480); }
    static void TearDownTestSuite() {
        delete device_;
        device_ = nullptr;
    }
    void SetUp() override {
        if (!device_->ok()) GTEST_SKIP() << "no Direct3D device";
        fxtest::linearFilters();
        g_device->BeginScene();
    }
    void TearDown() override {
        if (device_->ok()) g_device->EndScene();
    }
    static DWORD renderState(D3DRENDERSTATETYPE s) {
        DWORD v = 0;
        g_device->GetRenderState(s, &v);
        return v;
    }
    static DWORD stageState(DWORD stage, D3DTEXTURESTAGESTATETYPE s) {
        DWORD v = 0;
        g_device->GetTextureStageState(stage, s, &v);
        return v;
    }
    static ULONG refs(IUnknown* o) {
        o->AddRef();
        return o->Release();
    }
    static fxtest::Device* device_;
};
fxtest::Device* EffectsTest::device_ = nullptr;

std::unique_ptr<TextureSource> solid(uint32_t argb) {
    return std::unique_ptr<TextureSource>(
        fxtest::makeTexture(4, 4, [=](uint32_t, uint32_t) { return argb; }));
}

template <typename F>
std::string thrown(F f) {
    try {
        f();
    } catch (const std::string& s) {
        return s;
    }
    return "";
}

}  // namespace

TEST_F(EffectsTest, RenderTargetBindingRestoresTheTargetAndItsCount) {
    RenderTexture rt(256, 128, D3DUSAGE_RENDERTARGET | D3DUSAGE_AUTOGENMIPMAP, D3DPOOL_DEFAULT);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(rt.texture->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(desc.Width, 256u);
    EXPECT_EQ(desc.Height, 128u);

    IDirect3DSurface9* back = nullptr;
    g_device->GetRenderTarget(0, &back);
    ASSERT_NE(back, nullptr);
    const ULONG before = refs(back);

    rt.binding.unbind();  // not bound: nothing happens
    EXPECT_EQ(rt.binding.saved, nullptr);

    rt.binding.bind(0);
    EXPECT_EQ(rt.binding.saved, back);
    D3DVIEWPORT9 vp{};
    g_device->GetViewport(&vp);
    EXPECT_EQ(vp.Width, 256u);
    EXPECT_EQ(vp.Height, 128u);
    IDirect3DSurface9* current = nullptr;
    g_device->GetRenderTarget(0, &current);
    EXPECT_EQ(current, rt.binding.surface);
    current->Release();

    // A second bind throws and leaves the first in force.
    EXPECT_EQ(thrown([&] { rt.binding.bind(0); }), "RenderTarget already set");
    g_device->GetRenderTarget(0, &current);
    EXPECT_EQ(current, rt.binding.surface);
    current->Release();

    rt.binding.unbind();
    EXPECT_EQ(rt.binding.saved, nullptr);
    g_device->GetRenderTarget(0, &current);
    EXPECT_EQ(current, back);
    current->Release();
    g_device->GetViewport(&vp);
    EXPECT_EQ(vp.Width, 640u);
    EXPECT_EQ(vp.Height, 480u);
    EXPECT_EQ(refs(back), before);

    // Destroyed while bound: the previous target comes back and is let go.
    {
        RenderTexture other(64, 64, D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT);
        other.binding.bind(0);
        EXPECT_GT(refs(back), before);
    }
    g_device->GetRenderTarget(0, &current);
    EXPECT_EQ(current, back);
    current->Release();
    EXPECT_EQ(refs(back), before);
    back->Release();

    EXPECT_EQ(thrown([] { RenderTexture huge(1u << 20, 16, D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT); }),
              "failed to create render-texture");
}

TEST_F(EffectsTest, QuadStatesAndBlendPairs) {
    auto white = solid(0xFFFFFFFF);
    ScreenQuad quad(white.get(), 1.0f);

    g_device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_DESTCOLOR);
    g_device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_SRCCOLOR);
    quad.draw(D3DBLEND_ONE, D3DBLEND_ZERO, 0.5f, 0);
    EXPECT_EQ(renderState(D3DRS_TEXTUREFACTOR), 0x7F000000u);
    EXPECT_EQ(renderState(D3DRS_ALPHABLENDENABLE), DWORD(FALSE));
    EXPECT_EQ(renderState(D3DRS_SRCBLEND), DWORD(D3DBLEND_DESTCOLOR));  // opaque draws leave the factors
    EXPECT_EQ(renderState(D3DRS_DESTBLEND), DWORD(D3DBLEND_SRCCOLOR));
    EXPECT_EQ(stageState(0, D3DTSS_TEXTURETRANSFORMFLAGS), DWORD(D3DTTFF_DISABLE));
    EXPECT_EQ(stageState(0, D3DTSS_ALPHAOP), DWORD(D3DTOP_MODULATE));
    EXPECT_EQ(stageState(0, D3DTSS_ALPHAARG2), DWORD(D3DTA_TFACTOR));
    EXPECT_EQ(stageState(1, D3DTSS_COLOROP), DWORD(D3DTOP_DISABLE));
    DWORD address = 0;
    g_device->GetSamplerState(0, D3DSAMP_ADDRESSU, &address);
    EXPECT_EQ(address, DWORD(D3DTADDRESS_CLAMP));

    quad.draw(D3DBLEND_ZERO, D3DBLEND_ONE, -0.5f, 0);
    EXPECT_EQ(renderState(D3DRS_TEXTUREFACTOR), 0u);
    EXPECT_EQ(renderState(D3DRS_SRCBLEND), DWORD(D3DBLEND_ZERO));
    EXPECT_EQ(renderState(D3DRS_DESTBLEND), DWORD(D3DBLEND_ONE));
    EXPECT_EQ(renderState(D3DRS_ALPHABLENDENABLE), DWORD(FALSE));  // off again after every draw

    quad.posX = 0.25f;
    quad.posY = 0.5f;
    quad.scaleX = 0.5f;
    const float angle = float(M_PI / 2);
    quad.draw(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 2.0f, angle);
    EXPECT_EQ(renderState(D3DRS_TEXTUREFACTOR), 0xFF000000u);
    EXPECT_EQ(stageState(0, D3DTSS_TEXTURETRANSFORMFLAGS), DWORD(D3DTTFF_COUNT2));  // stays on
    D3DMATRIX m{}, world{};
    g_device->GetTransform(D3DTS_TEXTURE0, &m);
    const D3DMATRIX expected = textureRotation(angle);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(m.m[i / 4][i % 4], expected.m[i / 4][i % 4]) << i;
    g_device->GetTransform(D3DTS_WORLD, &world);
    EXPECT_FLOAT_EQ(world._11, 0.5f);
    EXPECT_FLOAT_EQ(world._41, 0.25f);
    EXPECT_FLOAT_EQ(world._42, -0.5f);
}

TEST_F(EffectsTest, QuadPictures) {
    // Four colours, one per quadrant of a 2 by 2 texture: red top left, green top right, blue bottom
    // left, white bottom right. Point sampling keeps the quadrants crisp.
    const uint32_t colours[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};
    std::unique_ptr<TextureSource> four(
        fxtest::makeTexture(2, 2, [&](uint32_t x, uint32_t y) { return colours[y * 2 + x]; }));
    g_device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    g_device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    ScreenQuad quad(four.get(), 1.0f);

    quad.draw(D3DBLEND_ONE, D3DBLEND_ZERO, 1.0f, 0);
    fxtest::Picture p = fxtest::readTarget();
    ASSERT_EQ(p.width, 640u);
    EXPECT_EQ(p.at(160, 120) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(p.at(480, 120) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(p.at(160, 360) & 0xFFFFFF, 0x0000FFu);

    // A quarter turn: the screen shows texture (1 - v, u), the right column along the top.
    quad.draw(D3DBLEND_ONE, D3DBLEND_ZERO, 1.0f, float(M_PI / 2));
    p = fxtest::readTarget();
    EXPECT_EQ(p.at(160, 120) & 0xFFFFFF, 0x00FF00u);  // top left shows the top right
    EXPECT_EQ(p.at(480, 120) & 0xFFFFFF, 0xFFFFFFu);  // top right shows the bottom right
    EXPECT_EQ(p.at(160, 360) & 0xFFFFFF, 0xFF0000u);  // bottom left shows the top left
    EXPECT_EQ(p.at(480, 360) & 0xFFFFFF, 0x0000FFu);  // bottom right shows the bottom left

    // posY 0.5 moves the quad half a clip unit down: the top quarter keeps the previous picture.
    g_device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF203040, 1.0f, 0);
    auto white = solid(0xFFFFFFFF);
    ScreenQuad lower(white.get(), 1.0f);
    lower.posY = 0.5f;
    lower.draw(D3DBLEND_ONE, D3DBLEND_ZERO, 1.0f, 0);
    p = fxtest::readTarget();
    for (uint32_t y : {0u, 60u, 115u}) EXPECT_EQ(p.at(320, y) & 0xFFFFFF, 0x203040u) << y;
    for (uint32_t y : {125u, 300u, 479u}) EXPECT_EQ(p.at(320, y) & 0xFFFFFF, 0xFFFFFFu) << y;

    // Half opacity through the texture factor: white over black is 127/255 grey.
    g_device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    lower.posY = 0;
    lower.draw(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 0.5f, 0);
    p = fxtest::readTarget();
    EXPECT_NEAR(p.red(320, 240), 127, 1);
    EXPECT_NEAR(p.blue(10, 470), 127, 1);
}

namespace {
// The value a horizontal pass puts at column p for a source whose only bright texel (255) is at column c,
// in a width-w source: the centre tap at p, side taps between texels at p +- (i * spread - 0.5).
double blurredAt(int p, int c, int w, float spread, float strength) {
    const BlurFactors f = blurFactors(strength);
    const double centre = (f.centre >> 24) / 255.0, side = (f.side >> 24) / 255.0;
    auto texel = [&](double pos) {  // linear filtering with wrap
        const double lo = std::floor(pos), frac = pos - lo;
        const int a = ((int(lo) % w) + w) % w, b = (a + 1) % w;
        return (a == c ? 1 - frac : 0) + (b == c ? frac : 0);
    };
    double v = centre * (p == c);
    for (int i = 2; i <= 4; i += 2) {
        const double d = i * spread - 0.5;
        v += side * (127 / 255.0 * texel(p + d) + 128 / 255.0 * texel(p - d));
    }
    return v * 255;
}
}  // namespace

TEST_F(EffectsTest, BlurSpreadsABrightTexelIntoTheKernel) {
    const uint32_t row = 100;
    for (uint32_t column : {120u, 1u}) {  // the second spreads across the wrap edge
        std::unique_ptr<TextureSource> dot(fxtest::makeTexture(256, 256, [&](uint32_t x, uint32_t y) {
            return x == column && y == row ? 0xFFFFFFFFu : 0xFF000000u;
        }));
        BlurPass pass(dot.get(), 256, 256);
        EXPECT_FLOAT_EQ(pass.texelU, 1.0f / 256);
        pass.apply(true, 1.0f, 1.0f);
        const fxtest::Picture p = fxtest::readSurface(pass.binding.surface);
        ASSERT_EQ(p.width, 256u);
        int lit = 0;
        for (int x = 0; x < 256; ++x) {
            const double expected = blurredAt(x, int(column), 256, 1.0f, 1.0f);
            EXPECT_NEAR(p.green(x, row), expected, 2.0) << "column " << x << " around " << column;
            lit += p.green(x, row) > 10;
            EXPECT_LE(p.green(x, row + 3), 2) << x;  // a horizontal pass stays in its row
        }
        EXPECT_EQ(lit, 9);  // centre and four taps each side, each between two texels
        if (column == 1) {
            EXPECT_NEAR(p.red(255, row), 28, 2);
            EXPECT_NEAR(p.red(253, row), 28, 2);
        } else {
            EXPECT_NEAR(p.red(120, row), 28, 2);  // centre: trunc(2/9 * 128) = 28
            EXPECT_NEAR(p.red(124, row), 28, 2);
        }
    }

    // Spread 2 and a stronger pass: taps at 3.5 and 7.5 texels.
    std::unique_ptr<TextureSource> dot(fxtest::makeTexture(
        256, 256, [&](uint32_t x, uint32_t y) { return x == 60 && y == row ? 0xFFFFFFFFu : 0xFF000000u; }));
    BlurPass pass(dot.get(), 256, 256);
    pass.apply(true, 2.0f, 1.5f);
    const fxtest::Picture p = fxtest::readSurface(pass.binding.surface);
    for (int x = 40; x < 80; ++x) EXPECT_NEAR(p.green(x, row), blurredAt(x, 60, 256, 2.0f, 1.5f), 2.0) << x;
    EXPECT_EQ(renderState(D3DRS_TEXTUREFACTOR), 0xAA7F7F7Fu);  // the side draws' factor
    EXPECT_EQ(renderState(D3DRS_ALPHABLENDENABLE), DWORD(FALSE));
    EXPECT_EQ(renderState(D3DRS_DESTBLEND), DWORD(D3DBLEND_ONE));
    EXPECT_EQ(stageState(1, D3DTSS_COLOROP), DWORD(D3DTOP_LERP));
    EXPECT_EQ(stageState(0, D3DTSS_TEXTURETRANSFORMFLAGS), DWORD(D3DTTFF_DISABLE));
    EXPECT_EQ(stageState(1, D3DTSS_TEXTURETRANSFORMFLAGS), DWORD(D3DTTFF_DISABLE));
    D3DMATRIX m{};
    g_device->GetTransform(D3DTS_TEXTURE1, &m);
    EXPECT_FLOAT_EQ(m._31, -7.5f / 256);
}

TEST_F(EffectsTest, BlurStretchesAShortSourceOverItsTarget) {
    // Red top half, blue bottom half, even along u so the horizontal blur keeps it (weights 254/255).
    std::unique_ptr<TextureSource> halves(fxtest::makeTexture(
        256, 128, [](uint32_t, uint32_t y) { return y < 64 ? 0xFFFF0000u : 0xFF0000FFu; }));
    BlurPass pass(halves.get(), 256, 256);
    EXPECT_FLOAT_EQ(pass.texelV, 1.0f / 128);
    pass.apply(true, 1.0f, 1.0f);
    const fxtest::Picture p = fxtest::readSurface(pass.binding.surface);
    ASSERT_EQ(p.height, 256u);
    for (uint32_t y : {4u, 60u, 120u}) {
        EXPECT_NEAR(p.red(128, y), 254, 2) << y;
        EXPECT_LE(p.blue(128, y), 2) << y;
    }
    for (uint32_t y : {134u, 200u, 250u}) {
        EXPECT_NEAR(p.blue(30, y), 254, 2) << y;
        EXPECT_LE(p.red(30, y), 2) << y;
    }
}

TEST_F(EffectsTest, BlurRefusesABoundTargetAndNoSource) {
    auto grey = solid(0xFF808080);
    BlurPass pass(grey.get(), 64, 64);
    pass.binding.bind(0);
    d3d9_stats before{}, after{};
    d3d9_get_stats(g_device, &before);
    EXPECT_EQ(thrown([&] { pass.apply(true, 1.0f, 1.0f); }), "RenderTarget already set");
    d3d9_get_stats(g_device, &after);
    EXPECT_EQ(after.draws, before.draws);
    pass.binding.unbind();
    EXPECT_EQ(thrown([] { BlurPass none(nullptr, 64, 64); }),
              "blur with no texture? how useful is that, booy?");
}

TEST_F(EffectsTest, GridIndicesAndShiftedPicture) {
    Grid small(2, 2);
    void* data = nullptr;
    ASSERT_EQ(small.indexBuffer->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
    const uint16_t expected[24] = {0, 1, 3, 1, 4, 3, 1, 2, 4, 2, 5, 4, 3, 4, 6, 4, 7, 6, 4, 5, 7, 5, 8, 7};
    for (int k = 0; k < 24; ++k) EXPECT_EQ(static_cast<uint16_t*>(data)[k], expected[k]) << k;
    small.indexBuffer->Unlock();
    EXPECT_EQ(thrown([] { Grid big(256, 256); }), "grid size out of range");

    // Four vertical stripes; u shifted by a quarter shows the picture moved left by a quarter, its left
    // quarter re-entering on the right.
    const uint32_t stripes[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00};
    std::unique_ptr<TextureSource> bands(
        fxtest::makeTexture(64, 64, [&](uint32_t x, uint32_t) { return stripes[x / 16]; }));
    Grid grid(80, 60);
    grid.reset(0.25f, 0);
    grid.upload();
    g_device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    g_device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    grid.draw(bands.get(), D3DBLEND_ONE, D3DBLEND_ZERO, 1.0f);
    const fxtest::Picture p = fxtest::readTarget();
    for (int q = 0; q < 4; ++q)
        for (uint32_t y : {20u, 240u, 460u})
            EXPECT_EQ(p.at(80 + 160 * q, y), stripes[(q + 1) % 4] | 0xFF000000u) << q << " " << y;

    grid.draw(bands.get(), D3DBLEND_ONE, D3DBLEND_ONE, 1.0f);
    EXPECT_EQ(renderState(D3DRS_ALPHABLENDENABLE), DWORD(TRUE));  // the grid leaves blending as it set it
    DWORD address = 0;
    g_device->GetSamplerState(0, D3DSAMP_ADDRESSV, &address);
    EXPECT_EQ(address, DWORD(D3DTADDRESS_WRAP));
}
