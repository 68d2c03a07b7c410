// Scenes, clears, render targets, presentation and read-back.
#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/d3d9/device.h"

namespace d3d9 {

void Device::forgetBuffer(GLuint buffer) {
    gl_.forgetBuffer(buffer);
    if (inputBuffer_ == buffer) inputBuffer_ = 0;
}

void Device::bindTarget(bool withDepth) {
    gl_.bindDrawFramebuffer(renderTarget_->framebuffer(withDepth));
}

HRESULT Device::BeginScene() {
    if (inScene_) return D3DERR_INVALIDCALL;
    inScene_ = true;
    return D3D_OK;
}

HRESULT Device::EndScene() {
    if (!inScene_) return D3DERR_INVALIDCALL;
    inScene_ = false;
    return D3D_OK;
}

HRESULT Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                      DWORD stencil) {
    if ((count == 0) != (rects == nullptr)) return D3DERR_INVALIDCALL;
    if (flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) return D3DERR_INVALIDCALL;
    if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && !depthStencil_) return D3DERR_INVALIDCALL;
    if (flags == 0) return D3D_OK;
    if (!makeCurrent()) return D3D_OK;
    bindTarget((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) != 0);
    // Clear writes every channel and the whole depth and stencil values, whatever the write masks.
    GLbitfield mask = 0;
    if (flags & D3DCLEAR_TARGET) {
        gl_.setColorMask(0xF);
        glClearColor(((color >> 16) & 0xFF) / 255.0f, ((color >> 8) & 0xFF) / 255.0f, (color & 0xFF) / 255.0f,
                     (color >> 24) / 255.0f);
        mask |= GL_COLOR_BUFFER_BIT;
    }
    if (flags & D3DCLEAR_ZBUFFER) {
        gl_.setDepthMask(true);
        gl_clear_depth(std::min(1.0f, std::max(0.0f, z)));
        mask |= GL_DEPTH_BUFFER_BIT;
    }
    if (flags & D3DCLEAR_STENCIL) {
        gl_.setStencilWriteMask(~0u);
        glClearStencil(static_cast<GLint>(stencil & 0xFF));
        mask |= GL_STENCIL_BUFFER_BIT;
    }
    dirty_ |= kDirtyBlend | kDirtyDepthStencil;
    // Only the viewport is cleared, or the given rectangles within it. Rows count from the top in both.
    const D3DVIEWPORT9& v = state_.viewport;
    const LONG vx1 = static_cast<LONG>(v.X), vy1 = static_cast<LONG>(v.Y);
    const LONG vx2 = vx1 + static_cast<LONG>(v.Width), vy2 = vy1 + static_cast<LONG>(v.Height);
    if (count == 0) {
        gl_.setScissor(true, vx1, vy1, vx2 - vx1, vy2 - vy1);
        glClear(mask);
    } else {
        for (DWORD i = 0; i < count; ++i) {
            const LONG x1 = std::max(rects[i].x1, vx1), y1 = std::max(rects[i].y1, vy1);
            const LONG x2 = std::min(rects[i].x2, vx2), y2 = std::min(rects[i].y2, vy2);
            if (x1 >= x2 || y1 >= y2) continue;
            gl_.setScissor(true, x1, y1, x2 - x1, y2 - y1);
            glClear(mask);
        }
    }
    gl_.setScissor(false);
    if ((flags & D3DCLEAR_TARGET) && renderTarget_->container())
        renderTarget_->container()->markLevel0Written();
    return D3D_OK;
}

HRESULT Device::SetRenderTarget(DWORD index, IDirect3DSurface9* target) {
    if (index != 0 || !target) return D3DERR_INVALIDCALL;
    auto* s = static_cast<Surface*>(target);
    if (!s->isRenderTarget() || s->device() != this) return D3DERR_INVALIDCALL;
    if (s != renderTarget_) {
        s->addBinding();
        renderTarget_->releaseBinding();
        renderTarget_ = s;
    }
    // A new target gets a viewport covering it whole.
    const D3DVIEWPORT9 full = {0, 0, s->width(), s->height(), 0.0f, 1.0f};
    state_.viewport = full;
    dirty_ |= kDirtyViewport;
    if (makeCurrent()) bindTarget(false);
    return D3D_OK;
}

HRESULT Device::GetRenderTarget(DWORD index, IDirect3DSurface9** out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (index != 0) return D3DERR_NOTFOUND;
    renderTarget_->AddRef();
    *out = renderTarget_;
    return D3D_OK;
}

HRESULT Device::GetDepthStencilSurface(IDirect3DSurface9** out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (!depthSurface_) return D3DERR_NOTFOUND;
    depthSurface_->AddRef();
    *out = depthSurface_;
    return D3D_OK;
}

HRESULT Device::GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (swapChain != 0 || index != 0 || type != D3DBACKBUFFER_TYPE_MONO) return D3DERR_INVALIDCALL;
    backBuffer_->AddRef();
    *out = backBuffer_;
    return D3D_OK;
}

HRESULT Device::Present(const RECT* sourceRect, const RECT* destRect, HWND overrideWindow,
                        const void* dirtyRegion) {
    // The discard swap effect presents the whole back buffer to the device window only.
    if (sourceRect || destRect || dirtyRegion || (overrideWindow && overrideWindow != window_))
        return D3DERR_INVALIDCALL;
    if (!windowUsable() || !makeCurrent()) return D3DERR_DEVICELOST;
    int ww = 0, wh = 0;
    if (!glwin_drawable_size(window_, &ww, &wh) || ww <= 0 || wh <= 0) return D3DERR_DEVICELOST;

    // Scale into the window keeping the aspect, centred, with black bars.
    const double bw = pp_.BackBufferWidth, bh = pp_.BackBufferHeight;
    const double scale = std::min(ww / bw, wh / bh);
    const GLint dw = static_cast<GLint>(bw * scale + 0.5), dh = static_cast<GLint>(bh * scale + 0.5);
    const GLint dx = (ww - dw) / 2, dy = (wh - dh) / 2;
    gl_.bindDrawFramebuffer(0);
    gl_.setScissor(false);
    gl_.setColorMask(0xF);
    if (dw != ww || dh != wh) {
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    // The back buffer is stored top row first; the window's row 0 is its bottom.
    const bool same = dw == static_cast<GLint>(bw) && dh == static_cast<GLint>(bh);
    copy_.present(gl_, backBufferColor_, dx, dy, dw, dh, !same);
    dirty_ |= kDirtyBlend | kDirtyRaster | kDirtyViewport;
    glwin_swap(window_);
    bindTarget(false);
    ++stats_.presents;
    return D3D_OK;
}

HRESULT Device::readSurface(Surface* s, void* pixels, UINT pitch) {
    const UINT w = s->width(), h = s->height();
    if (!pixels || pitch < w * 4 || pitch % 4 != 0) return D3DERR_INVALIDCALL;
    if (s == depthSurface_) return D3DERR_INVALIDCALL;
    if (!makeCurrent()) return D3DERR_DEVICELOST;
    if (s->container() && s->level() > 0) s->container()->prepareForSampling();
    gl_.bindReadFramebuffer(s->framebuffer(false));
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    // GL row 0 is the top row of every target of this layer.
    gl_read_bgra(static_cast<GLsizei>(w), static_cast<GLsizei>(h), pixels, pitch);
    D3DSURFACE_DESC desc;
    s->GetDesc(&desc);
    if (desc.Format != D3DFMT_A8R8G8B8) {
        // Formats without alpha read as opaque.
        for (UINT y = 0; y < h; ++y) {
            auto* row = reinterpret_cast<DWORD*>(static_cast<unsigned char*>(pixels) +
                                                 static_cast<size_t>(y) * pitch);
            for (UINT x = 0; x < w; ++x) row[x] |= 0xFF000000u;
        }
    }
    return D3D_OK;
}

void Device::finish() {
    if (makeCurrent()) glFinish();
}

}  // namespace d3d9

HRESULT d3d9_read_surface(IDirect3DSurface9* surface, void* pixels, UINT pitch) {
    auto* s = dynamic_cast<d3d9::Surface*>(surface);
    if (!s) return D3DERR_INVALIDCALL;
    return s->device()->readSurface(s, pixels, pitch);
}

void d3d9_finish(IDirect3DDevice9* device) {
    if (auto* d = dynamic_cast<d3d9::Device*>(device)) d->finish();
}

HRESULT d3d9_set_pixel_scale(IDirect3DDevice9* device, float scale) {
    auto* d = dynamic_cast<d3d9::Device*>(device);
    if (!d || !(scale > 0.0f) || !std::isfinite(scale)) return D3DERR_INVALIDCALL;
    d->setPixelScale(scale);
    return D3D_OK;
}

float d3d9_pixel_scale(IDirect3DDevice9* device) {
    auto* d = dynamic_cast<d3d9::Device*>(device);
    return d ? d->targetPixelScale() : 1.0f;
}

void d3d9_get_stats(IDirect3DDevice9* device, d3d9_stats* stats) {
    auto* d = dynamic_cast<d3d9::Device*>(device);
    if (!d || !stats) return;
    *stats = d->stats();
}
