// Texture updates between draws: whatever the draws before left bound or active, an upload, a mip
// regeneration or a render into a target acts on the texture it names and nothing else; targets without
// alpha blend with a destination alpha of 1.
#include <gtest/gtest.h>

#include "draw_util.h"
#include "test_device.h"

namespace {

class TextureUpdate : public PlainDeviceTest {
protected:
    // Fills level 0 of a managed texture with one colour through LockRect and UnlockRect.
    static void fill(IDirect3DTexture9* t, DWORD colour) {
        D3DSURFACE_DESC desc;
        ASSERT_EQ(t->GetLevelDesc(0, &desc), D3D_OK);
        D3DLOCKED_RECT lr;
        ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
        for (UINT y = 0; y < desc.Height; ++y)
            for (UINT x = 0; x < desc.Width; ++x)
                static_cast<DWORD*>(lr.pBits)[y * lr.Pitch / 4 + x] = colour;
        ASSERT_EQ(t->UnlockRect(0), D3D_OK);
    }
    // Draws the texture alone over the whole back buffer, point sampled, and reads the centre pixel.
    uint32_t shown(IDirect3DTexture9* t) {
        d->SetTexture(0, t);
        d->SetTexture(1, nullptr);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        EXPECT_EQ(draw_fan(d, full_quad(), kScreenFvf), D3D_OK);
        return pixel(read_back_buffer(d), 640, 320, 240);
    }
    // One draw sampling a on stage 0 and b on stage 1, which leaves the last sampling unit active.
    void drawBoth(IDirect3DTexture9* a, IDirect3DTexture9* b) {
        d->SetTexture(0, a);
        d->SetTexture(1, b);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
        d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
        ASSERT_EQ(draw_fan(d, full_quad(), kScreenFvf), D3D_OK);
    }
};

}  // namespace

TEST_F(TextureUpdate, RefillsAndMipRegenerationChangeOnlyTheNamedTexture) {
    IDirect3DTexture9* b = make_texture(d, 4, 4, std::vector<DWORD>(16, 0xFF0000FF));
    IDirect3DTexture9* a = make_texture(d, 4, 4, std::vector<DWORD>(16, 0xFFFF0000));
    ASSERT_TRUE(a && b);
    for (DWORD colour : {0xFF00FF00u, 0xFF808000u, 0xFF102030u}) {
        drawBoth(a, b);
        fill(a, colour);
        EXPECT_EQ(shown(a), colour);
        EXPECT_EQ(shown(b), 0xFF0000FFu) << "the other texture received the upload";
    }
    EXPECT_EQ(read_texture(b)[0], 0xFF0000FFu);

    // A texture with automatic mip-maps, refilled and regenerated after draws that sampled it and another
    // texture, then sampled at a sixteenth of its size: its lower levels follow the new content.
    IDirect3DTexture9* m = nullptr;
    ASSERT_EQ(
        d->CreateTexture(64, 64, 0, D3DUSAGE_AUTOGENMIPMAP, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &m, nullptr),
        D3D_OK);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
    const float px = 2.0f / 640.0f, py = 2.0f / 480.0f;
    const auto small = quad(-1, 1 - 4 * py, -1 + 4 * px, 1);
    for (DWORD colour : {0xFFC04020u, 0xFF2080E0u}) {
        drawBoth(m, b);
        fill(m, colour);
        m->GenerateMipSubLevels();
        drawBoth(b, a);
        d->SetTexture(0, m);
        d->SetTexture(1, nullptr);
        d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        ASSERT_EQ(draw_fan(d, small, kScreenFvf), D3D_OK);
        EXPECT_LE(color_distance(pixel(read_back_buffer(d), 640, 1, 1), colour), 1);
        EXPECT_EQ(shown(b), 0xFF0000FFu);
    }
    d->SetTexture(0, nullptr);
    m->Release();
    a->Release();
    b->Release();
}

TEST_F(TextureUpdate, RenderTargetLowerLevelsAverageTheLevelAbove) {
    // Columns alternating two colours drawn into a target with automatic mip-maps, between draws with other
    // textures; sampled at a quarter of its size, each pixel is the mean of the two colours of this round.
    IDirect3DSurface9* surface = nullptr;
    IDirect3DTexture9* rt = make_target(d, 256, 128, &surface, 0, D3DUSAGE_AUTOGENMIPMAP, D3DFMT_X8R8G8B8);
    ASSERT_NE(rt, nullptr);
    IDirect3DTexture9* other = make_texture(d, 2, 2, std::vector<DWORD>(4, 0xFF00FF00));
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(d->GetRenderTarget(0, &back), D3D_OK);
    const float px = 2.0f / 640.0f, py = 2.0f / 480.0f;
    const DWORD rounds[3][2] = {{0xFFFF0000, 0xFF0000FF}, {0xFF00FF00, 0xFF0000FF}, {0xFFFF0000, 0xFF00FF00}};
    IDirect3DTexture9* patterns[3];
    for (int r = 0; r < 3; ++r) {
        std::vector<DWORD> stripes(256);
        for (int x = 0; x < 256; ++x) stripes[x] = rounds[r][x % 2];
        patterns[r] = make_texture(d, 256, 1, stripes);
    }
    for (int r = 0; r < 3; ++r) {
        const DWORD* pair = rounds[r];
        IDirect3DTexture9* pattern = patterns[r];
        d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
        d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
        drawBoth(other, pattern);
        ASSERT_EQ(d->SetRenderTarget(0, surface), D3D_OK);
        shown(pattern);  // one texel per target column
        ASSERT_EQ(d->SetRenderTarget(0, back), D3D_OK);
        drawBoth(other, pattern);
        d->SetTexture(0, rt);
        d->SetTexture(1, nullptr);
        d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        ASSERT_EQ(draw_fan(d, quad(-1, 1 - 32 * py, -1 + 64 * px, 1), kScreenFvf), D3D_OK);
        const std::vector<uint32_t> out = read_back_buffer(d);
        for (int x : {5, 17, 40, 58}) {  // away from the edges, where filtering may reach past the pattern
            const uint32_t p = pixel(out, 640, x, 10);
            SCOPED_TRACE(testing::Message() << "x " << x << " reads " << std::hex << p);
            for (int shift : {0, 8, 16}) {
                const int mean = (int((pair[0] >> shift) & 0xFF) + int((pair[1] >> shift) & 0xFF)) / 2;
                EXPECT_NEAR(int((p >> shift) & 0xFF), mean, 2);
            }
        }
        pattern->Release();
    }
    d->SetTexture(0, nullptr);
    back->Release();
    surface->Release();
    other->Release();
    rt->Release();
}

TEST_F(TextureUpdate, TargetsWithoutAlphaBlendWithDestinationAlphaOne) {
    // The target is cleared with alpha 0 in the colour; without an alpha channel it holds 1 all the same.
    for (D3DFORMAT format : {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}) {
        IDirect3DSurface9* surface = nullptr;
        IDirect3DTexture9* rt = make_target(d, 16, 16, &surface, 1, 0, format);
        ASSERT_NE(rt, nullptr);
        IDirect3DSurface9* back = nullptr;
        d->GetRenderTarget(0, &back);
        d->SetRenderTarget(0, surface);
        d->Clear(0, nullptr, D3DCLEAR_TARGET, 0x00204060, 1.0f, 0);
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_DESTALPHA);
        d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVDESTALPHA);
        d->SetTexture(0, nullptr);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
        ASSERT_EQ(draw_fan(d, full_quad(0xFFE0C0A0), kScreenFvf), D3D_OK);
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        const uint32_t p = read_render_target(d)[8 * 16 + 8] & 0x00FFFFFF;
        // Alpha 1: the source replaces the target; alpha 0: the target stays.
        EXPECT_EQ(p, format == D3DFMT_X8R8G8B8 ? 0xE0C0A0u : 0x204060u) << std::hex << p;
        d->SetRenderTarget(0, back);
        back->Release();
        surface->Release();
        rt->Release();
    }
}
