// The device frame: creation, clear, present and read-back, reference counts, lost windows.
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "draw_util.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/readback.h"
#include "platform/d3d9/resources.h"
#include "test_device.h"

TEST(DeviceFrame, CreateReportsHardwareTransformAndTheDesktopMode) {
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    EXPECT_EQ(Direct3DCreate9(31), nullptr);
    D3DCAPS9 caps;
    ASSERT_EQ(d3d->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps), D3D_OK);
    EXPECT_TRUE(caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT);
    EXPECT_GE(caps.MaxActiveLights, 8u);
    EXPECT_GE(caps.MaxSimultaneousTextures, 2u);
    D3DDISPLAYMODE mode;
    ASSERT_EQ(d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode), D3D_OK);
    EXPECT_GT(mode.Width, 0u);
    EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(d3d->GetAdapterDisplayMode(1, &mode), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->Release(), 0u);
}

TEST(DeviceFrame, ClearAndPresentReadBackTopRowFirst) {
    TestDevice dev;
    ASSERT_TRUE(dev.ok()) << dev.error();
    IDirect3DDevice9* d = dev.device();
    ASSERT_EQ(d->BeginScene(), D3D_OK);
    EXPECT_EQ(d->BeginScene(), D3DERR_INVALIDCALL);
    ASSERT_EQ(d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, D3DCOLOR_XRGB(10, 20, 30), 1.0f, 0),
              D3D_OK);
    // A rectangle in the top-left corner: rows count from the top.
    D3DRECT r = {0, 0, 64, 32};
    ASSERT_EQ(d->Clear(1, &r, D3DCLEAR_TARGET, D3DCOLOR_XRGB(200, 100, 50), 1.0f, 0), D3D_OK);
    ASSERT_EQ(d->EndScene(), D3D_OK);
    ASSERT_EQ(d->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);

    std::vector<uint32_t> px = read_back_buffer(d);
    ASSERT_EQ(px.size(), 640u * 480u);
    EXPECT_EQ(pixel(px, 640, 0, 0), 0xFFC86432u);
    EXPECT_EQ(pixel(px, 640, 63, 31), 0xFFC86432u);
    EXPECT_EQ(pixel(px, 640, 64, 31), 0xFF0A141Eu);
    EXPECT_EQ(pixel(px, 640, 0, 32), 0xFF0A141Eu);
    EXPECT_EQ(pixel(px, 640, 639, 479), 0xFF0A141Eu);
}

TEST(DeviceFrame, ClearIsLimitedToTheViewport) {
    TestDevice dev;
    ASSERT_TRUE(dev.ok()) << dev.error();
    IDirect3DDevice9* d = dev.device();
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    D3DVIEWPORT9 vp = {100, 50, 20, 10, 0.0f, 1.0f};
    ASSERT_EQ(d->SetViewport(&vp), D3D_OK);
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0);
    std::vector<uint32_t> px = read_back_buffer(d);
    EXPECT_EQ(pixel(px, 640, 100, 50), 0xFFFFFFFFu);
    EXPECT_EQ(pixel(px, 640, 119, 59), 0xFFFFFFFFu);
    EXPECT_EQ(pixel(px, 640, 120, 59), 0xFF000000u);
    EXPECT_EQ(pixel(px, 640, 100, 60), 0xFF000000u);
    EXPECT_EQ(pixel(px, 640, 99, 50), 0xFF000000u);
    // Viewports outside the target are refused and leave the old one.
    D3DVIEWPORT9 bad = {600, 0, 100, 10, 0.0f, 1.0f};
    EXPECT_EQ(d->SetViewport(&bad), D3DERR_INVALIDCALL);
    D3DVIEWPORT9 now;
    d->GetViewport(&now);
    EXPECT_EQ(now.X, 100u);
}

TEST(DeviceFrame, ReferenceCountsFollowCom) {
    TestDevice dev;
    ASSERT_TRUE(dev.ok()) << dev.error();
    IDirect3DDevice9* d = dev.device();
    EXPECT_EQ(d->AddRef(), 2u);
    EXPECT_EQ(d->Release(), 1u);

    // A resource holds its device while the program holds it.
    IDirect3DTexture9* t = nullptr;
    ASSERT_EQ(d->CreateTexture(16, 16, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
    EXPECT_EQ(d->AddRef(), 3u);
    d->Release();
    // A level surface shares the texture's count.
    IDirect3DSurface9* s = nullptr;
    ASSERT_EQ(t->GetSurfaceLevel(0, &s), D3D_OK);
    EXPECT_EQ(t->AddRef(), 3u);
    t->Release();
    EXPECT_EQ(s->Release(), 1u);
    // Binding does not count; the texture stays alive while bound.
    ASSERT_EQ(d->SetTexture(0, t), D3D_OK);
    EXPECT_EQ(t->Release(), 0u);
    IDirect3DBaseTexture9* bound = nullptr;
    ASSERT_EQ(d->GetTexture(0, &bound), D3D_OK);
    ASSERT_EQ(bound, static_cast<IDirect3DBaseTexture9*>(t));
    EXPECT_EQ(bound->GetLevelCount(), 5u);  // 16, 8, 4, 2, 1
    EXPECT_EQ(bound->Release(), 0u);
    d->SetTexture(0, nullptr);
    EXPECT_EQ(d->AddRef(), 2u);
    d->Release();

    // GetRenderTarget takes a reference; giving it back restores the count.
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(d->GetRenderTarget(0, &back), D3D_OK);
    EXPECT_EQ(back->AddRef(), 2u);
    back->Release();
    EXPECT_EQ(back->Release(), 0u);
    IDirect3D9* d3d = nullptr;
    ASSERT_EQ(d->GetDirect3D(&d3d), D3D_OK);
    EXPECT_EQ(d3d, dev.direct3d());
    d3d->Release();
    IUnknown* unknown = nullptr;
    ASSERT_EQ(d->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    unknown->Release();
    void* none = nullptr;
    EXPECT_EQ(d->QueryInterface(IID_IDirect3DTexture9, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
}

TEST(DeviceFrame, PresentReportsALostDeviceWhenTheWindowIsGone) {
    auto dev = std::make_unique<TestDevice>();
    ASSERT_TRUE(dev->ok()) << dev->error();
    IDirect3DDevice9* d = dev->device();
    EXPECT_EQ(d->TestCooperativeLevel(), D3D_OK);
    ASSERT_TRUE(DestroyWindow(dev->window()));
    EXPECT_EQ(d->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(d->TestCooperativeLevel(), D3DERR_DEVICELOST);
    // Drawing on a lost device does nothing and fails nothing.
    EXPECT_EQ(d->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);
}

TEST(DeviceFrame, EvictManagedResourcesKeepsTheirContents) {
    TestDevice dev;
    ASSERT_TRUE(dev.ok()) << dev.error();
    IDirect3DDevice9* d = dev.device();
    IDirect3DTexture9* t = nullptr;
    ASSERT_EQ(d->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
    D3DLOCKED_RECT lr;
    ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            static_cast<DWORD*>(lr.pBits)[y * lr.Pitch / 4 + x] = 0x80000000u | (y << 8) | x;
    ASSERT_EQ(t->UnlockRect(0), D3D_OK);
    ASSERT_EQ(d->EvictManagedResources(), D3D_OK);
    std::vector<uint32_t> px = read_texture(t);
    ASSERT_EQ(px.size(), 16u);
    EXPECT_EQ(px[0], 0x80000000u);
    EXPECT_EQ(px[4 * 3 + 2], 0x80000302u);  // row 3 (from the top), column 2
    t->Release();
}

namespace {

// The window's framebuffer as 0xAARRGGBB, row 0 = top.
std::vector<uint32_t> read_window(int w, int h) {
    std::vector<uint8_t> rgba(size_t(w) * size_t(h) * 4);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    std::vector<uint32_t> out(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = &rgba[(size_t(h - 1 - y) * w + x) * 4];
            out[size_t(y) * w + x] = 0xFF000000u | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        }
    return out;
}

}  // namespace

// What the viewer sees: the back buffer upright in the window, whole when the sizes agree, scaled into the
// middle between black bars when they do not, as the driver's own scaled copy (glBlitFramebuffer) shows it.
TEST(DeviceFrame, PresentShowsTheBackBufferUprightInTheWindow) {
    for (int windowWidth : {320, 800}) {
        SCOPED_TRACE(testing::Message() << "window " << windowWidth << " wide");
        const int windowHeight = windowWidth == 320 ? 240 : 480;
        TestDevice dev(320, 240, UINT(windowWidth), UINT(windowHeight));
        ASSERT_TRUE(dev.ok()) << dev.error();
        IDirect3DDevice9* d = dev.device();
        // Noise, so that scaling and any offset show.
        std::vector<DWORD> noise(320 * 240);
        uint32_t seed = 99;
        for (DWORD& v : noise) v = 0xFF000000u | ((seed = seed * 1664525u + 1013904223u) >> 8);
        IDirect3DTexture9* t = make_texture(d, 320, 240, noise);
        ASSERT_NE(t, nullptr);
        plain_state(d);
        d->SetTexture(0, t);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        ASSERT_EQ(draw_fan(d, full_quad(), kScreenFvf), D3D_OK);
        const std::vector<uint32_t> back = read_back_buffer(d);
        ASSERT_EQ(back.size(), noise.size());
        ASSERT_EQ(d->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
        const std::vector<uint32_t> shown = read_window(windowWidth, windowHeight);
        if (windowWidth == 320) {
            size_t wrong = 0, first = shown.size();
            for (size_t i = 0; i < shown.size(); ++i)
                if (shown[i] != back[i]) ++wrong, first = std::min(first, i);
            EXPECT_EQ(wrong, 0u) << "first at x " << first % 320 << " y " << first / 320;
        } else {
            // The driver's scaled copy of the same back buffer, with the bars cleared black.
            IDirect3DSurface9* surface = nullptr;
            ASSERT_EQ(d->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &surface), D3D_OK);
            glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<d3d9::Surface*>(surface)->framebuffer(false));
            glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
            glDisable(GL_SCISSOR_TEST);
            glClearColor(0, 0, 0, 1);
            glClear(GL_COLOR_BUFFER_BIT);
            glBlitFramebuffer(0, 0, 320, 240, 80, 480, 720, 0, GL_COLOR_BUFFER_BIT, GL_LINEAR);
            const std::vector<uint32_t> expected = read_window(800, 480);
            surface->Release();
            int worst = 0;
            for (size_t i = 0; i < shown.size(); ++i)
                worst = std::max(worst, color_distance(shown[i], expected[i]));
            EXPECT_LE(worst, 1);
            EXPECT_EQ(pixel(shown, 800, 79, 240), 0xFF000000u);
            EXPECT_EQ(pixel(shown, 800, 720, 0), 0xFF000000u);
            EXPECT_EQ(pixel(shown, 800, 80, 0), pixel(back, 320, 0, 0));  // top left, upright
        }
        d->SetTexture(0, nullptr);
        t->Release();
    }
}
