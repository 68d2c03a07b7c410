// A back buffer rendered at a pixel scale: the picture drawn at twice the size with scale 2, box-filtered
// down by 2, is the picture drawn at the design size (an independent oracle: the same draw, smaller), and
// closer to it than the same draw with Direct3D's own half-pixel rule; other render targets keep that rule.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "draw_util.h"
#include "platform/d3d9/readback.h"
#include "test_device.h"

namespace {

// A textured quad turned in perspective over part of the picture, on a grey clear, read back.
std::vector<uint32_t> drawScene(UINT width, UINT height, float pixelScale) {
    TestDevice dev(width, height);
    if (!dev.ok()) return {};
    IDirect3DDevice9* d = dev.device();
    if (d3d9_set_pixel_scale(d, pixelScale) != D3D_OK) return {};
    std::vector<DWORD> texels(32 * 32);
    for (UINT y = 0; y < 32; ++y)
        for (UINT x = 0; x < 32; ++x)
            texels[y * 32 + x] = ((x / 4 + y / 4) % 2 ? 0xFFE0C040u : 0xFF203080u) + (x * 2 << 8);
    IDirect3DTexture9* texture = make_texture(d, 32, 32, texels);
    d->BeginScene();
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF404040u, 1.0f, 0);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetTexture(0, texture);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    D3DMATRIX world = identity();
    world._11 = std::cos(0.5f), world._13 = std::sin(0.5f);  // turned about y
    world._31 = -std::sin(0.5f), world._33 = std::cos(0.5f);
    world._43 = 3.0f;
    const D3DMATRIX projection = perspective_fov_lh(1.0f, 4.0f / 3.0f, 0.5f, 10.0f);
    d->SetTransform(D3DTS_WORLD, &world);
    d->SetTransform(D3DTS_PROJECTION, &projection);
    draw_fan(d, quad(-1.2f, -0.9f, 1.0f, 1.1f), kScreenFvf);
    d->EndScene();
    std::vector<uint32_t> px = read_back_buffer(d);
    texture->Release();
    return px;
}

// Mean absolute difference per channel between a picture box-filtered down by 2 and one of half its size.
double boxDifference(const std::vector<uint32_t>& large, const std::vector<uint32_t>& small, UINT w, UINT h) {
    double sum = 0;
    for (UINT y = 0; y < h; ++y)
        for (UINT x = 0; x < w; ++x)
            for (int shift : {0, 8, 16}) {
                int box = 0;
                for (UINT i = 0; i < 4; ++i)
                    box += int(pixel(large, 2 * w, 2 * x + i % 2, 2 * y + i / 2) >> shift & 0xFF);
                sum += std::fabs(box / 4.0 - double(pixel(small, w, x, y) >> shift & 0xFF));
            }
    return sum / (3.0 * w * h);
}

}  // namespace

TEST(PixelScale, TwiceTheSizeBoxFilteredIsTheDesignPicture) {
    const std::vector<uint32_t> design = drawScene(160, 120, 1.0f);
    const std::vector<uint32_t> scaled = drawScene(320, 240, 2.0f);
    const std::vector<uint32_t> ownRule = drawScene(320, 240, 1.0f);
    ASSERT_EQ(design.size(), 160u * 120u);
    ASSERT_EQ(scaled.size(), 320u * 240u);
    ASSERT_EQ(ownRule.size(), 320u * 240u);
    const double withScale = boxDifference(scaled, design, 160, 120);
    const double withoutScale = boxDifference(ownRule, design, 160, 120);
    std::printf("box-filtered difference from the design picture: %.3f with the scale, %.3f without\n",
                withScale, withoutScale);
    EXPECT_LT(withScale, 1.5);
    EXPECT_LT(withScale * 1.5, withoutScale) << "half a design pixel, not half a back-buffer pixel";
}

TEST(PixelScale, AppliesToTheBackBufferOnlyAndRefusesBadScales) {
    TestDevice dev(64, 48);
    ASSERT_TRUE(dev.ok()) << dev.error();
    IDirect3DDevice9* d = dev.device();
    EXPECT_EQ(d3d9_pixel_scale(d), 1.0f);
    EXPECT_EQ(d3d9_set_pixel_scale(d, 0.0f), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d9_set_pixel_scale(d, -2.0f), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d9_set_pixel_scale(d, NAN), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d9_set_pixel_scale(nullptr, 2.0f), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d9_pixel_scale(d), 1.0f);
    ASSERT_EQ(d3d9_set_pixel_scale(d, 2.5f), D3D_OK);
    EXPECT_EQ(d3d9_pixel_scale(d), 2.5f);

    IDirect3DTexture9* target = nullptr;
    ASSERT_EQ(d->CreateTexture(16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target,
                               nullptr),
              D3D_OK);
    IDirect3DSurface9 *surface = nullptr, *back = nullptr;
    target->GetSurfaceLevel(0, &surface);
    d->GetRenderTarget(0, &back);
    d->SetRenderTarget(0, surface);
    EXPECT_EQ(d3d9_pixel_scale(d), 1.0f);
    d->SetRenderTarget(0, back);
    EXPECT_EQ(d3d9_pixel_scale(d), 2.5f);
    back->Release();
    surface->Release();
    target->Release();
}
