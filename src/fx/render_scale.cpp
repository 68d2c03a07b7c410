#include "fx/render_scale.h"

#include <algorithm>
#include <cmath>

#include "platform/d3d9/readback.h"

RenderScale RenderScale::forBackBuffer(uint32_t width, uint32_t height) {
    RenderScale s;
    s.backBufferWidth = std::max(width, 1u);
    s.backBufferHeight = std::max(height, 1u);
    uint32_t w, h;
    if (uint64_t(s.backBufferWidth) * kDesignHeight >= uint64_t(s.backBufferHeight) * kDesignWidth) {
        h = s.backBufferHeight;  // as wide as 4:3 or wider: bars left and right
        w = std::min(s.backBufferWidth,
                     uint32_t((uint64_t(h) * kDesignWidth + kDesignHeight / 2) / kDesignHeight));
        s.k = float(double(h) / kDesignHeight);
    } else {
        w = s.backBufferWidth;  // taller: bars above and below
        h = std::min(s.backBufferHeight,
                     uint32_t((uint64_t(w) * kDesignHeight + kDesignWidth / 2) / kDesignWidth));
        s.k = float(double(w) / kDesignWidth);
    }
    w = std::max(w, 1u);
    h = std::max(h, 1u);
    s.picture = D3DVIEWPORT9{(s.backBufferWidth - w) / 2, (s.backBufferHeight - h) / 2, w, h, 0.0f, 1.0f};
    return s;
}

RenderScale RenderScale::ofDevice(IDirect3DDevice9* device) {
    IDirect3DSurface9* back = nullptr;
    D3DSURFACE_DESC desc{};
    if (FAILED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back)) || !back) return RenderScale{};
    const HRESULT hr = back->GetDesc(&desc);
    back->Release();
    if (FAILED(hr)) return RenderScale{};
    const RenderScale s = forBackBuffer(desc.Width, desc.Height);
    d3d9_set_pixel_scale(device, s.k);
    return s;
}

uint32_t RenderScale::pixels(uint32_t designPixels) const {
    return std::max(1u, uint32_t(std::lround(double(designPixels) * double(k))));
}

void RenderScale::beginPicture(IDirect3DDevice9* device) const {
    if (bars()) {
        const D3DVIEWPORT9 whole{0, 0, backBufferWidth, backBufferHeight, 0.0f, 1.0f};
        device->SetViewport(&whole);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    }
    device->SetViewport(&picture);
}
