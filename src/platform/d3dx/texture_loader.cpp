#include <stb_image.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "platform/d3dx/d3dx9.h"

namespace {

// Larger images are refused rather than allocated (the largest texture size of common Direct3D 9
// hardware).
constexpr int kMaxSize = 8192;

struct StbFree {
    void operator()(unsigned char* p) const { stbi_image_free(p); }
};

// One level in memory order B, G, R, A (the byte order of a little-endian A8R8G8B8 word).
struct Level {
    unsigned width, height;
    const uint8_t* bgra;
};

// Next level into `out`: each texel averages the 2x2 block (1x2, 2x1 or 1x1 at a dimension of 1)
// below it, rounding to nearest.
Level halve(const Level& src, std::vector<uint8_t>& out) {
    Level dst{src.width > 1 ? src.width / 2 : 1, src.height > 1 ? src.height / 2 : 1, nullptr};
    std::vector<uint8_t> next(size_t(dst.width) * dst.height * 4);
    unsigned sx = src.width > 1 ? 2 : 1, sy = src.height > 1 ? 2 : 1, n = sx * sy;
    for (unsigned y = 0; y < dst.height; ++y)
        for (unsigned x = 0; x < dst.width; ++x)
            for (unsigned c = 0; c < 4; ++c) {
                unsigned sum = 0;
                for (unsigned j = 0; j < sy; ++j)
                    for (unsigned i = 0; i < sx; ++i)
                        sum += src.bgra[((size_t(y) * sy + j) * src.width + size_t(x) * sx + i) * 4 + c];
                next[(size_t(y) * dst.width + x) * 4 + c] = static_cast<uint8_t>((sum + n / 2) / n);
            }
    out.swap(next);
    dst.bgra = out.data();
    return dst;
}

}  // namespace

HRESULT D3DXCreateTextureFromFileInMemory(IDirect3DDevice9* pDevice, const void* pSrcData, UINT SrcDataSize,
                                          IDirect3DTexture9** ppTexture) {
    if (!ppTexture) return D3DERR_INVALIDCALL;
    *ppTexture = nullptr;
    if (!pDevice || !pSrcData || SrcDataSize == 0 || SrcDataSize > 0x7fffffffu) return D3DERR_INVALIDCALL;

    const auto* bytes = static_cast<const stbi_uc*>(pSrcData);
    int w = 0, h = 0, channels = 0;
    if (!stbi_info_from_memory(bytes, int(SrcDataSize), &w, &h, &channels)) return D3DXERR_INVALIDDATA;
    if (w <= 0 || h <= 0 || w > kMaxSize || h > kMaxSize) return D3DXERR_INVALIDDATA;
    std::unique_ptr<unsigned char, StbFree> rgba(
        stbi_load_from_memory(bytes, int(SrcDataSize), &w, &h, &channels, 4));
    if (!rgba) return D3DXERR_INVALIDDATA;
    // Grey + alpha and RGBA images keep their alpha; the others read as opaque.
    bool alpha = channels == 2 || channels == 4;

    // RGBA to BGRA in place; images without alpha read as opaque.
    uint8_t* top = rgba.get();
    for (size_t i = 0, n = size_t(w) * h; i < n; ++i) {
        uint8_t* p = top + i * 4;
        std::swap(p[0], p[2]);
        if (!alpha) p[3] = 0xFF;
    }
    Level level{unsigned(w), unsigned(h), top};
    std::vector<uint8_t> scratch;

    IDirect3DTexture9* texture = nullptr;
    HRESULT hr = pDevice->CreateTexture(UINT(w), UINT(h), 0, 0, alpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8,
                                        D3DPOOL_MANAGED, &texture, nullptr);
    if (hr < 0 || !texture) return hr < 0 ? hr : D3DERR_INVALIDCALL;

    DWORD levels = texture->GetLevelCount();
    for (DWORD l = 0; l < levels; ++l) {
        if (l > 0) {
            level = halve(level, scratch);
            rgba.reset();  // level 1 no longer needs the full-size picture
        }
        D3DLOCKED_RECT locked;
        hr = texture->LockRect(l, &locked, nullptr, 0);
        if (hr < 0) {
            texture->Release();
            return hr;
        }
        for (unsigned y = 0; y < level.height; ++y)
            std::memcpy(static_cast<uint8_t*>(locked.pBits) + size_t(y) * locked.Pitch,
                        level.bgra + size_t(y) * level.width * 4, size_t(level.width) * 4);
        texture->UnlockRect(l);
    }
    *ppTexture = texture;
    return D3D_OK;
}
