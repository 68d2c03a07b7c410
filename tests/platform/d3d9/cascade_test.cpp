// The texture-stage cascade, blending and the pixel-centre convention, read back against Direct3D 9's
// documented formulas.
#include <gtest/gtest.h>

#include <cmath>

#include "draw_util.h"
#include "test_device.h"

namespace {

class Cascade : public PlainDeviceTest {
protected:
    uint32_t centre() { return pixel(read_back_buffer(d), 640, 320, 240); }
};

}  // namespace

TEST_F(Cascade, ModulateOfTextureAndDiffuse) {
    IDirect3DTexture9* t = make_texture(d, 1, 1, {0xFFC86432});  // 200, 100, 50
    d->SetTexture(0, t);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    ASSERT_EQ(draw_fan(d, full_quad(0xFF80FF40), kScreenFvf), D3D_OK);  // 128, 255, 64
    const uint32_t c = centre();
    EXPECT_NEAR(channel_r(c), mul255(200, 128), 1);
    EXPECT_NEAR(channel_g(c), 100, 1);
    EXPECT_NEAR(channel_b(c), mul255(50, 64), 1);
    t->Release();
}

TEST_F(Cascade, DefaultStagesModulateTextureWithDiffuseAndStopAtAMissingTexture) {
    // Direct3D's defaults: stage 0 MODULATE(TEXTURE, CURRENT = DIFFUSE), alpha SELECTARG1(TEXTURE).
    IDirect3DDevice9* fresh = d;
    fresh->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    fresh->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_CURRENT);
    // No texture: the stage is not processed and the diffuse colour shows.
    ASSERT_EQ(draw_fan(d, full_quad(0xFF336699), kScreenFvf), D3D_OK);
    EXPECT_LE(color_distance(centre(), 0xFF336699), 1);
    IDirect3DTexture9* t = make_texture(d, 1, 1, {0xFF808080});
    d->SetTexture(0, t);
    ASSERT_EQ(draw_fan(d, full_quad(0xFF336699), kScreenFvf), D3D_OK);
    const uint32_t c = centre();
    EXPECT_NEAR(channel_r(c), mul255(0x33, 0x80), 1);
    EXPECT_NEAR(channel_b(c), mul255(0x99, 0x80), 1);
    t->Release();
}

TEST_F(Cascade, TextureFactorAlphaBlendsWithSrcAlphaInvSrcAlpha) {
    d->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(20, 200, 100), 1.0f, 0);
    IDirect3DTexture9* t = make_texture(d, 1, 1, {0xFFF00A50});  // 240, 10, 80
    d->SetTexture(0, t);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, 0x40000000);  // alpha 64
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    ASSERT_EQ(draw_fan(d, full_quad(), kScreenFvf), D3D_OK);
    const uint32_t c = centre();
    const double a = 64 / 255.0;
    EXPECT_NEAR(channel_r(c), 240 * a + 20 * (1 - a), 1.0);
    EXPECT_NEAR(channel_g(c), 10 * a + 200 * (1 - a), 1.0);
    EXPECT_NEAR(channel_b(c), 80 * a + 100 * (1 - a), 1.0);
    t->Release();
}

TEST_F(Cascade, AddAndLerpAcrossTwoStages) {
    IDirect3DTexture9* t0 = make_texture(d, 1, 1, {0xFF402010});  // 64, 32, 16
    IDirect3DTexture9* t1 = make_texture(d, 1, 1, {0xFF30C0F0});  // 48, 192, 240
    d->SetTexture(0, t0);
    d->SetTexture(1, t1);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
    d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
    ASSERT_EQ(draw_fan(d, full_quad(), kScreenFvf), D3D_OK);
    uint32_t c = centre();
    EXPECT_NEAR(channel_r(c), 64 + 48, 1);
    EXPECT_NEAR(channel_g(c), 32 + 192, 1);
    EXPECT_EQ(channel_b(c), 255);  // saturated

    // LERP: COLORARG0 is the factor: arg0 * arg1 + (1 - arg0) * arg2, as the blur averages two taps.
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_LERP);
    d->SetTextureStageState(1, D3DTSS_COLORARG0, D3DTA_TFACTOR);
    d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
    d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TEXTURE);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFF7F7F7F);
    ASSERT_EQ(draw_fan(d, full_quad(), kScreenFvf), D3D_OK);
    c = centre();
    const double f = 127 / 255.0;
    EXPECT_NEAR(channel_r(c), f * 64 + (1 - f) * 48, 1.0);
    EXPECT_NEAR(channel_g(c), f * 32 + (1 - f) * 192, 1.0);
    EXPECT_NEAR(channel_b(c), f * 16 + (1 - f) * 240, 1.0);

    // A stage after DISABLE is not run, even if it is set up.
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_ADD);
    ASSERT_EQ(draw_fan(d, full_quad(), kScreenFvf), D3D_OK);
    EXPECT_LE(color_distance(centre(), 0xFF402010), 1);
    t0->Release();
    t1->Release();
}

TEST_F(Cascade, ArgumentModifiersAndTempRegister) {
    IDirect3DTexture9* t = make_texture(d, 1, 1, {0x40C08020});
    d->SetTexture(0, t);
    // Complement of the texture, then a second stage adding the alpha replicate of stage 0's temp result.
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE | D3DTA_COMPLEMENT);
    d->SetTextureStageState(0, D3DTSS_RESULTARG, D3DTA_TEMP);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEMP);
    d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
    d->SetTexture(1, t);
    ASSERT_EQ(draw_fan(d, full_quad(), kScreenFvf), D3D_OK);
    const uint32_t c = centre();
    EXPECT_NEAR(channel_r(c), mul255(255 - 0xC0, 0x40), 1);
    EXPECT_NEAR(channel_g(c), mul255(255 - 0x80, 0x40), 1);
    EXPECT_NEAR(channel_b(c), mul255(255 - 0x20, 0x40), 1);
    t->Release();
}

// Every blend factor a material may name, against dest = D, source = S with alpha As, blend factor F.
TEST_F(Cascade, EveryBlendFactor) {
    // A render texture with alpha, so that destination alpha is real.
    IDirect3DSurface9* surface = nullptr;
    IDirect3DTexture9* rt = make_target(d, 64, 64, &surface);
    ASSERT_NE(rt, nullptr);
    ASSERT_EQ(d->SetRenderTarget(0, surface), D3D_OK);
    const int S[4] = {200, 120, 40, 96};  // r, g, b, a
    const int D[4] = {30, 160, 220, 200};
    const int F[4] = {64, 128, 192, 32};
    IDirect3DTexture9* src = make_texture(d, 1, 1, {D3DCOLOR_ARGB(S[3], S[0], S[1], S[2])});
    d->SetTexture(0, src);
    d->SetRenderState(D3DRS_BLENDFACTOR, D3DCOLOR_ARGB(F[3], F[0], F[1], F[2]));
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);

    auto factor = [&](DWORD blend, int ch) -> double {
        const double s = S[ch] / 255.0, sa = S[3] / 255.0, dd = D[ch] / 255.0, da = D[3] / 255.0,
                     f = F[ch] / 255.0;
        switch (blend) {
            case D3DBLEND_ZERO:
                return 0;
            case D3DBLEND_ONE:
                return 1;
            case D3DBLEND_SRCCOLOR:
                return s;
            case D3DBLEND_INVSRCCOLOR:
                return 1 - s;
            case D3DBLEND_SRCALPHA:
                return sa;
            case D3DBLEND_INVSRCALPHA:
                return 1 - sa;
            case D3DBLEND_DESTALPHA:
                return da;
            case D3DBLEND_INVDESTALPHA:
                return 1 - da;
            case D3DBLEND_DESTCOLOR:
                return dd;
            case D3DBLEND_INVDESTCOLOR:
                return 1 - dd;
            case D3DBLEND_SRCALPHASAT:
                return ch == 3 ? 1 : std::min(sa, 1 - da);
            case D3DBLEND_BLENDFACTOR:
                return f;
            case D3DBLEND_INVBLENDFACTOR:
                return 1 - f;
        }
        return -1;
    };
    for (DWORD sb = D3DBLEND_ZERO; sb <= D3DBLEND_INVBLENDFACTOR; ++sb) {
        for (DWORD db : {DWORD(D3DBLEND_ZERO), DWORD(D3DBLEND_ONE), sb}) {
            if (sb == D3DBLEND_BOTHSRCALPHA || sb == D3DBLEND_BOTHINVSRCALPHA) continue;
            if (db == D3DBLEND_SRCALPHASAT) continue;  // a source-only factor
            d->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_ARGB(D[3], D[0], D[1], D[2]), 1.0f, 0);
            d->SetRenderState(D3DRS_SRCBLEND, sb);
            d->SetRenderState(D3DRS_DESTBLEND, db);
            ASSERT_EQ(draw_fan(d, full_quad(), kScreenFvf), D3D_OK);
            const uint32_t c = pixel(read_render_target(d), 64, 32, 32);
            const int got[4] = {channel_r(c), channel_g(c), channel_b(c), channel_a(c)};
            for (int ch = 0; ch < 4; ++ch) {
                double want = S[ch] * factor(sb, ch) + D[ch] * factor(db, ch);
                want = std::min(255.0, want);
                EXPECT_NEAR(got[ch], want, 1.01) << "src " << sb << " dst " << db << " channel " << ch;
            }
        }
    }
    // The obsolete BOTHSRCALPHA source sets both sides: S * As + D * (1 - As).
    d->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_ARGB(D[3], D[0], D[1], D[2]), 1.0f, 0);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_BOTHSRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
    ASSERT_EQ(draw_fan(d, full_quad(), kScreenFvf), D3D_OK);
    const uint32_t c = pixel(read_render_target(d), 64, 32, 32);
    EXPECT_NEAR(channel_r(c), S[0] * S[3] / 255.0 + D[0] * (1 - S[3] / 255.0), 1.01);

    IDirect3DSurface9* back = nullptr;
    d->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    d->SetRenderTarget(0, back);
    back->Release();
    surface->Release();
    rt->Release();
    src->Release();
}

TEST_F(Cascade, BackBufferWithoutAlphaBlendsWithDestinationAlphaOne) {
    IDirect3DTexture9* t = make_texture(d, 1, 1, {0xFF646464});
    d->SetTexture(0, t);
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0x00102030, 1.0f, 0);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_INVDESTALPHA);  // 1 - 1 = 0
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_DESTALPHA);    // 1
    ASSERT_EQ(draw_fan(d, full_quad(), kScreenFvf), D3D_OK);
    EXPECT_LE(color_distance(centre(), 0xFF102030), 1);
    t->Release();
}

// A full-target quad with the blur's half-texel offsets samples texel centres: a bilinear copy is exact.
TEST_F(Cascade, HalfPixelConventionCopiesTexelForTexel) {
    const UINT W = 64, H = 32;
    std::vector<DWORD> texels(W * H);
    for (UINT y = 0; y < H; ++y)
        for (UINT x = 0; x < W; ++x)
            texels[y * W + x] = D3DCOLOR_ARGB(255, (x * 37) & 0xFF, (y * 91) & 0xFF, (x ^ y) * 5);
    IDirect3DTexture9* src = make_texture(d, W, H, texels);
    IDirect3DSurface9* target = nullptr;
    IDirect3DTexture9* rt = make_target(d, W, H, &target);
    ASSERT_NE(rt, nullptr);
    IDirect3DSurface9* back = nullptr;
    d->GetRenderTarget(0, &back);
    ASSERT_EQ(d->SetRenderTarget(0, target), D3D_OK);
    D3DVIEWPORT9 vp;
    d->GetViewport(&vp);
    EXPECT_EQ(vp.Width, W);  // the viewport covers the new target
    EXPECT_EQ(vp.Height, H);
    d->SetTexture(0, src);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    const float hu = 0.5f / W, hv = 0.5f / H;
    ASSERT_EQ(draw_fan(d, quad(-1, -1, 1, 1, 0, 0x00FFFFFF, hu, hv, 1 + hu, 1 + hv), kScreenFvf), D3D_OK);
    std::vector<uint32_t> px = read_render_target(d);
    ASSERT_EQ(px.size(), texels.size());
    int worst = 0;
    for (size_t i = 0; i < px.size(); ++i) worst = std::max(worst, color_distance(px[i], texels[i]));
    EXPECT_LE(worst, 1);
    // Without the offsets each pixel falls on a texel corner and mixes four texels.
    ASSERT_EQ(draw_fan(d, quad(-1, -1, 1, 1, 0, 0x00FFFFFF), kScreenFvf), D3D_OK);
    px = read_render_target(d);
    worst = 0;
    for (size_t i = 0; i < px.size(); ++i) worst = std::max(worst, color_distance(px[i], texels[i]));
    EXPECT_GT(worst, 8);

    d->SetRenderTarget(0, back);
    d->GetViewport(&vp);
    EXPECT_EQ(vp.Width, 640u);
    back->Release();
    target->Release();
    rt->Release();
    src->Release();
}

TEST_F(Cascade, WrapRepeatsAndClampHoldsTheEdgeTexels) {
    // Two texels: black left, white right; the quad spans u = -1 .. 2 across the screen.
    IDirect3DTexture9* t = make_texture(d, 2, 1, {0xFF000000, 0xFFFFFFFF});
    d->SetTexture(0, t);
    const auto q = quad(-1, -1, 1, 1, 0, 0xFFFFFFFF, -1.0f, 0.0f, 2.0f, 1.0f);
    auto sample = [&](UINT x) { return channel_r(pixel(read_back_buffer(d), 640, x, 240)); };
    // u at pixel x is -1 + 3x/640: x = 40 -> u = -0.81 (texel 0 of the repeat), x = 150 -> -0.30 (texel 1),
    // x = 600 -> 1.81 (texel 1), x = 500 -> 1.34 (texel 0).
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    ASSERT_EQ(draw_fan(d, q, kScreenFvf), D3D_OK);
    EXPECT_EQ(sample(40), 0);
    EXPECT_EQ(sample(150), 255);
    EXPECT_EQ(sample(500), 0);
    EXPECT_EQ(sample(600), 255);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    ASSERT_EQ(draw_fan(d, q, kScreenFvf), D3D_OK);
    EXPECT_EQ(sample(40), 0);
    EXPECT_EQ(sample(150), 0);
    EXPECT_EQ(sample(500), 255);
    EXPECT_EQ(sample(600), 255);
    DWORD v = 0;
    d->GetSamplerState(0, D3DSAMP_ADDRESSU, &v);
    EXPECT_EQ(v, static_cast<DWORD>(D3DTADDRESS_CLAMP));
    t->Release();
}

TEST_F(Cascade, TextureOfOneColourSamplesAsItExceptAtTheBorderAndAfterAChange) {
    IDirect3DTexture9* t = make_texture(d, 2, 1, {0xFF808080, 0xFF808080});
    d->SetTexture(0, t);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    auto sample = [&](UINT x) { return pixel(read_back_buffer(d), 640, x, 240) & 0xFFFFFF; };
    // u = -1 .. 2 across the screen: x = 40 lies outside the texture, where the border colour shows.
    const auto wide = quad(-1, -1, 1, 1, 0, 0xFFFFFFFF, -1.0f, 0.0f, 2.0f, 1.0f);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_BORDER);
    d->SetSamplerState(0, D3DSAMP_BORDERCOLOR, 0xFFFF0000);
    ASSERT_EQ(draw_fan(d, wide, kScreenFvf), D3D_OK);
    // The border colour where the device lists border addressing (not on OpenGL ES, which clamps instead).
    D3DCAPS9 caps{};
    ASSERT_EQ(d->GetDeviceCaps(&caps), D3D_OK);
    EXPECT_EQ(sample(40), caps.TextureAddressCaps & D3DPTADDRESSCAPS_BORDER ? 0xFF0000u : 0x808080u);
    EXPECT_EQ(sample(320), 0x808080u);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    ASSERT_EQ(draw_fan(d, wide, kScreenFvf), D3D_OK);
    EXPECT_EQ(sample(40), 0x808080u);
    // The right texel turns white through a partial lock: the middle of the screen is filtered between the
    // two again (u = 0.5008, weight 0.5016 of the right texel).
    D3DLOCKED_RECT lr;
    RECT right = {1, 0, 2, 1};
    ASSERT_EQ(t->LockRect(0, &lr, &right, 0), D3D_OK);
    *static_cast<DWORD*>(lr.pBits) = 0xFFFFFFFF;
    t->UnlockRect(0);
    ASSERT_EQ(draw_fan(d, full_quad(), kScreenFvf), D3D_OK);
    EXPECT_NEAR(channel_r(sample(320)), 192, 1);
    t->Release();
}

TEST_F(Cascade, TextureTransformCount2TranslatesWithRowThree) {
    // Four texels in a row; a translation of a quarter in _31 moves every sample one texel right.
    IDirect3DTexture9* t = make_texture(d, 4, 1, {0xFF000000, 0xFF505050, 0xFFA0A0A0, 0xFFF0F0F0});
    d->SetTexture(0, t);
    D3DMATRIX m = identity();
    m._31 = 0.25f;
    d->SetTransform(D3DTS_TEXTURE0, &m);
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    ASSERT_EQ(draw_fan(d, full_quad(), kScreenFvf), D3D_OK);
    std::vector<uint32_t> px = read_back_buffer(d);
    EXPECT_EQ(channel_r(pixel(px, 640, 80, 240)), 0x50);
    EXPECT_EQ(channel_r(pixel(px, 640, 240, 240)), 0xA0);
    EXPECT_EQ(channel_r(pixel(px, 640, 400, 240)), 0xF0);
    EXPECT_EQ(channel_r(pixel(px, 640, 560, 240)), 0x00);  // wrapped round
    // _41 is not a translation for two-component coordinates.
    m = identity();
    m._41 = 0.25f;
    d->SetTransform(D3DTS_TEXTURE0, &m);
    ASSERT_EQ(draw_fan(d, full_quad(), kScreenFvf), D3D_OK);
    EXPECT_EQ(channel_r(pixel(read_back_buffer(d), 640, 80, 240)), 0x00);
    // Disabled flags ignore the matrix.
    m._31 = 0.5f;
    d->SetTransform(D3DTS_TEXTURE0, &m);
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    ASSERT_EQ(draw_fan(d, full_quad(), kScreenFvf), D3D_OK);
    EXPECT_EQ(channel_r(pixel(read_back_buffer(d), 640, 80, 240)), 0x00);
    t->Release();
}

TEST_F(Cascade, CullingFollowsTheWindingOnScreen) {
    // A triangle drawn clockwise on screen (top-left, top-right, bottom-left) and one counter-clockwise
    // (bottom-right, right, bottom).
    const std::vector<ScreenVertex> cw = {
        {-1, 1, 0, 0xFFFF0000, 0, 0}, {0, 1, 0, 0xFFFF0000, 0, 0}, {-1, 0, 0, 0xFFFF0000, 0, 0}};
    const std::vector<ScreenVertex> ccw = {
        {1, -1, 0, 0xFF00FF00, 0, 0}, {1, 0, 0, 0xFF00FF00, 0, 0}, {0, -1, 0, 0xFF00FF00, 0, 0}};
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    struct Case {
        DWORD mode;
        bool cwShown, ccwShown;
    } cases[] = {{D3DCULL_NONE, true, true}, {D3DCULL_CW, false, true}, {D3DCULL_CCW, true, false}};
    for (const Case& c : cases) {
        d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        d->SetRenderState(D3DRS_CULLMODE, c.mode);
        ASSERT_EQ(draw_fan(d, cw, kScreenFvf), D3D_OK);
        ASSERT_EQ(draw_fan(d, ccw, kScreenFvf), D3D_OK);
        std::vector<uint32_t> px = read_back_buffer(d);
        EXPECT_EQ(pixel(px, 640, 40, 30) == 0xFFFF0000u, c.cwShown) << "mode " << c.mode;
        EXPECT_EQ(pixel(px, 640, 600, 450) == 0xFF00FF00u, c.ccwShown) << "mode " << c.mode;
    }
}

TEST_F(Cascade, DepthTestLessEqualAndWriteSwitch) {
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(draw_fan(d, quad(-1, -1, 1, 1, 0.5f, 0xFFFF0000), kScreenFvf), D3D_OK);
    ASSERT_EQ(draw_fan(d, quad(-1, -1, 1, 1, 0.7f, 0xFF00FF00), kScreenFvf), D3D_OK);  // behind: hidden
    EXPECT_EQ(centre(), 0xFFFF0000u);
    ASSERT_EQ(draw_fan(d, quad(-1, -1, 1, 1, 0.5f, 0xFF0000FF), kScreenFvf), D3D_OK);  // equal depth passes
    EXPECT_EQ(centre(), 0xFF0000FFu);
    d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    ASSERT_EQ(draw_fan(d, quad(-1, -1, 1, 1, 0.2f, 0xFFFFFFFF), kScreenFvf), D3D_OK);  // drawn, depth kept
    ASSERT_EQ(draw_fan(d, quad(-1, -1, 1, 1, 0.4f, 0xFF00FFFF), kScreenFvf),
              D3D_OK);  // still in front of 0.5
    EXPECT_EQ(centre(), 0xFF00FFFFu);
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_USEW);  // a depth buffer all the same
    ASSERT_EQ(draw_fan(d, quad(-1, -1, 1, 1, 0.9f, 0xFFFF00FF), kScreenFvf), D3D_OK);
    EXPECT_EQ(centre(), 0xFF00FFFFu);
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    ASSERT_EQ(draw_fan(d, quad(-1, -1, 1, 1, 0.9f, 0xFFFF00FF), kScreenFvf), D3D_OK);
    EXPECT_EQ(centre(), 0xFFFF00FFu);
}
