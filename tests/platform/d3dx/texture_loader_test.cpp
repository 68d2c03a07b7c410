// Decoding images from memory into textures: formats, sizes, mip chains, pools and bad data.
#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <cstring>
#include <string>
#include <vector>

#include "device_scope.h"
#include "platform/d3dx/d3dx9.h"

namespace {

enum class Encoding { Png, Jpeg, Bmp, Tga };

std::vector<unsigned char> encode(Encoding e, int w, int h, int channels,
                                  const std::vector<unsigned char>& pixels) {
    std::vector<unsigned char> out;
    auto sink = [](void* ctx, void* data, int size) {
        auto* v = static_cast<std::vector<unsigned char>*>(ctx);
        v->insert(v->end(), static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + size);
    };
    switch (e) {
        case Encoding::Png:
            stbi_write_png_to_func(sink, &out, w, h, channels, pixels.data(), w * channels);
            break;
        case Encoding::Jpeg:
            stbi_write_jpg_to_func(sink, &out, w, h, channels, pixels.data(), 100);
            break;
        case Encoding::Bmp:
            stbi_write_bmp_to_func(sink, &out, w, h, channels, pixels.data());
            break;
        case Encoding::Tga:
            stbi_write_tga_to_func(sink, &out, w, h, channels, pixels.data());
            break;
    }
    return out;
}

// A w x h RGBA picture: red rises along x, green along y, blue 40, alpha 200 (or opaque).
std::vector<unsigned char> gradient(int w, int h, int channels) {
    std::vector<unsigned char> p;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char c[4] = {static_cast<unsigned char>(x * 255 / (w > 1 ? w - 1 : 1)),
                                  static_cast<unsigned char>(y * 255 / (h > 1 ? h - 1 : 1)), 40, 200};
            p.insert(p.end(), c, c + channels);
        }
    return p;
}

// Level l of a texture as 0xAARRGGBB words.
std::vector<uint32_t> readLevel(IDirect3DTexture9* t, UINT level, UINT& w, UINT& h) {
    D3DSURFACE_DESC desc;
    t->GetLevelDesc(level, &desc);
    w = desc.Width, h = desc.Height;
    std::vector<uint32_t> out(size_t(w) * h);
    D3DLOCKED_RECT r;
    if (t->LockRect(level, &r, nullptr, D3DLOCK_READONLY) < 0) return {};
    for (UINT y = 0; y < h; ++y)
        std::memcpy(&out[size_t(y) * w], static_cast<char*>(r.pBits) + y * r.Pitch, w * 4);
    t->UnlockRect(level);
    return out;
}

class TextureLoaderTest : public ::testing::Test {
protected:
    void SetUp() override { REQUIRE_DEVICE(device_); }
    IDirect3DTexture9* load(const std::vector<unsigned char>& bytes, HRESULT* result = nullptr) {
        IDirect3DTexture9* t = reinterpret_cast<IDirect3DTexture9*>(1);
        HRESULT hr = D3DXCreateTextureFromFileInMemory(device_.get(), bytes.data(), UINT(bytes.size()), &t);
        if (result) *result = hr;
        if (hr < 0) {
            EXPECT_EQ(t, nullptr);
        }
        return hr < 0 ? nullptr : t;
    }
    DeviceScope device_;
};

TEST_F(TextureLoaderTest, FormatsSizesAndPool) {
    const struct {
        Encoding encoding;
        int channels;
        D3DFORMAT format;
        const char* what;
    } cases[] = {
        {Encoding::Png, 4, D3DFMT_A8R8G8B8, "RGBA PNG"},
        {Encoding::Png, 3, D3DFMT_X8R8G8B8, "RGB PNG"},
        {Encoding::Png, 2, D3DFMT_A8R8G8B8, "grey+alpha PNG"},
        {Encoding::Png, 1, D3DFMT_X8R8G8B8, "grey PNG"},
        {Encoding::Jpeg, 3, D3DFMT_X8R8G8B8, "JPEG"},
        {Encoding::Bmp, 3, D3DFMT_X8R8G8B8, "BMP"},
        {Encoding::Tga, 4, D3DFMT_A8R8G8B8, "RGBA TGA"},
        {Encoding::Tga, 3, D3DFMT_X8R8G8B8, "RGB TGA"},
    };
    for (const auto& c : cases) {
        IDirect3DTexture9* t = load(encode(c.encoding, 24, 10, c.channels, gradient(24, 10, c.channels)));
        ASSERT_NE(t, nullptr) << c.what;
        D3DSURFACE_DESC desc;
        ASSERT_GE(t->GetLevelDesc(0, &desc), 0);
        EXPECT_EQ(desc.Width, 24u) << c.what;  // the image's own size, no rounding to powers of two
        EXPECT_EQ(desc.Height, 10u) << c.what;
        EXPECT_EQ(desc.Format, c.format) << c.what;
        EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED) << c.what;
        EXPECT_EQ(t->GetLevelCount(), 5u) << c.what;  // 24x10, 12x5, 6x2, 3x1, 1x1

        UINT w, h;
        std::vector<uint32_t> top = readLevel(t, 0, w, h);
        ASSERT_EQ(top.size(), 240u);
        uint32_t corner = top[9 * 24 + 23];  // bottom right: red 255, green 255, blue 40
        int tolerance = c.encoding == Encoding::Jpeg ? 12 : 0;
        EXPECT_NEAR(red(corner), c.channels >= 3 ? 255 : green(corner), tolerance) << c.what;
        EXPECT_NEAR(green(corner), 255, tolerance) << c.what;
        if (c.channels >= 3) {
            EXPECT_NEAR(blue(corner), 40, tolerance) << c.what;
        }
        EXPECT_EQ(alpha(corner), c.channels == 4 ? 200 : 255) << c.what;  // grey+alpha: alpha is the y ramp
        EXPECT_NEAR(red(top[0]), 0, tolerance) << c.what;                 // top row first
        t->Release();
    }
}

TEST_F(TextureLoaderTest, MipChainIsABoxFilter) {
    // 4x2 RGBA: the left 2x2 block is black/white checker, the right 2x2 all (100, 50, 0, 0).
    std::vector<unsigned char> px = {0,   0,   0,   255, 255, 255, 255, 255, 100, 50, 0, 0, 100, 50, 0, 0,
                                     255, 255, 255, 255, 0,   0,   0,   255, 100, 50, 0, 0, 100, 50, 0, 0};
    IDirect3DTexture9* t = load(encode(Encoding::Png, 4, 2, 4, px));
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->GetLevelCount(), 3u);
    UINT w, h;
    std::vector<uint32_t> l1 = readLevel(t, 1, w, h);
    ASSERT_EQ(w, 2u);
    ASSERT_EQ(h, 1u);
    EXPECT_NEAR(red(l1[0]), 128, 1);
    EXPECT_EQ(alpha(l1[0]), 255);
    EXPECT_EQ(l1[1], 0x00643200u);
    std::vector<uint32_t> l2 = readLevel(t, 2, w, h);
    ASSERT_EQ(w, 1u);
    EXPECT_NEAR(red(l2[0]), (128 + 100) / 2, 1);
    EXPECT_NEAR(alpha(l2[0]), 128, 1);
    t->Release();
}

TEST_F(TextureLoaderTest, UndecodableDataFails) {
    HRESULT hr;
    std::string junk = "this is not an image at all";
    EXPECT_EQ(load(std::vector<unsigned char>(junk.begin(), junk.end()), &hr), nullptr);
    EXPECT_EQ(hr, D3DXERR_INVALIDDATA);
    std::vector<unsigned char> png = encode(Encoding::Png, 8, 8, 3, gradient(8, 8, 3));
    png.resize(png.size() / 2);
    EXPECT_EQ(load(png, &hr), nullptr);
    EXPECT_LT(hr, 0);

    IDirect3DTexture9* t = nullptr;
    EXPECT_EQ(D3DXCreateTextureFromFileInMemory(nullptr, png.data(), UINT(png.size()), &t),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateTextureFromFileInMemory(device_.get(), png.data(), 0, &t), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateTextureFromFileInMemory(device_.get(), png.data(), UINT(png.size()), nullptr),
              D3DERR_INVALIDCALL);
}

}  // namespace
