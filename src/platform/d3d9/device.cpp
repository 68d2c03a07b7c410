// Device creation and destruction, COM, capabilities, resource creation.
#include "platform/d3d9/device.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/d3d9/direct3d9.h"
#include "platform/d3d9/state_block.h"

namespace d3d9 {

UINT fvf_stride(DWORD fvf) {
    UINT stride;
    switch (fvf & D3DFVF_POSITION_MASK) {
        case D3DFVF_XYZ:
            stride = 12;
            break;
        case D3DFVF_XYZRHW:
        case D3DFVF_XYZW:
            stride = 16;
            break;
        case D3DFVF_XYZB1:
        case D3DFVF_XYZB2:
        case D3DFVF_XYZB3:
        case D3DFVF_XYZB4:
        case D3DFVF_XYZB5:
            stride = 12 + 4 * (((fvf & D3DFVF_POSITION_MASK) - D3DFVF_XYZ) / 2);
            break;
        default:
            return 0;
    }
    if (fvf & D3DFVF_NORMAL) stride += 12;
    if (fvf & D3DFVF_PSIZE) stride += 4;
    if (fvf & D3DFVF_DIFFUSE) stride += 4;
    if (fvf & D3DFVF_SPECULAR) stride += 4;
    const DWORD sets = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (sets > 8) return 0;
    static const UINT kFloats[4] = {2, 3, 4, 1};
    for (DWORD i = 0; i < sets; ++i) stride += 4 * kFloats[(fvf >> (16 + 2 * i)) & 3];
    return stride;
}

namespace {

int swap_interval(UINT presentationInterval) {
    switch (presentationInterval) {
        case D3DPRESENT_INTERVAL_IMMEDIATE:
            return 0;
        case D3DPRESENT_INTERVAL_TWO:
            return 2;
        case D3DPRESENT_INTERVAL_THREE:
            return 3;
        case D3DPRESENT_INTERVAL_FOUR:
            return 4;
        default:
            return 1;  // DEFAULT and ONE wait for the vertical retrace
    }
}

}  // namespace

HRESULT Device::create(Direct3D9* d3d, HWND window, DWORD flags, D3DPRESENT_PARAMETERS* pp,
                       IDirect3DDevice9** out) {
    int windowWidth = 0, windowHeight = 0;
    if (!glwin_window_size(window, &windowWidth, &windowHeight)) return D3DERR_INVALIDCALL;
    if (pp->MultiSampleType != D3DMULTISAMPLE_NONE) return D3DERR_NOTAVAILABLE;
    if (pp->SwapEffect < D3DSWAPEFFECT_DISCARD || pp->SwapEffect > D3DSWAPEFFECT_COPY)
        return D3DERR_INVALIDCALL;
    if (pp->BackBufferCount > 3) return D3DERR_INVALIDCALL;
    if (pp->EnableAutoDepthStencil) {
        const D3DFORMAT z = pp->AutoDepthStencilFormat;
        if (z != D3DFMT_D24S8 && z != D3DFMT_D24X8 && z != D3DFMT_D16 && z != D3DFMT_D32 &&
            z != D3DFMT_D24X4S4 && z != D3DFMT_D15S1 && z != D3DFMT_D16_LOCKABLE)
            return D3DERR_NOTAVAILABLE;
    }
    D3DPRESENT_PARAMETERS p = *pp;
    if (p.Windowed) {
        // Windowed: zero sizes take the window's client size, an unknown format the desktop's.
        const int w = windowWidth, h = windowHeight;
        if (p.BackBufferWidth == 0) p.BackBufferWidth = static_cast<UINT>(w > 0 ? w : 1);
        if (p.BackBufferHeight == 0) p.BackBufferHeight = static_cast<UINT>(h > 0 ? h : 1);
        if (p.BackBufferFormat == D3DFMT_UNKNOWN) {
            D3DDISPLAYMODE mode;
            if (!desktop_mode(&mode)) return D3DERR_NOTAVAILABLE;
            p.BackBufferFormat = mode.Format;
        }
    } else if (p.BackBufferWidth == 0 || p.BackBufferHeight == 0 || p.BackBufferFormat == D3DFMT_UNKNOWN) {
        return D3DERR_INVALIDCALL;
    }
    const D3DFORMAT f = p.BackBufferFormat;
    if (f != D3DFMT_X8R8G8B8 && f != D3DFMT_A8R8G8B8 && f != D3DFMT_R5G6B5 && f != D3DFMT_X1R5G5B5)
        return D3DERR_NOTAVAILABLE;
    if (p.BackBufferWidth > 8192 || p.BackBufferHeight > 8192) return D3DERR_NOTAVAILABLE;
    if (p.BackBufferCount == 0) p.BackBufferCount = 1;

    auto* device = new Device(d3d, window, p, flags);
    device->AddRef();
    const HRESULT hr = device->initGl();
    if (FAILED(hr)) {
        device->Release();
        return hr;
    }
    *pp = p;  // as on the platform, the parameters come back completed
    *out = device;
    return D3D_OK;
}

Device::Device(Direct3D9* d3d, HWND window, const D3DPRESENT_PARAMETERS& pp, DWORD flags)
    : d3d_(d3d), window_(window), pp_(pp), behaviorFlags_(flags) {
    d3d_->AddRef();
    state_.setDefaults(pp_.EnableAutoDepthStencil != 0, pp_.BackBufferWidth, pp_.BackBufferHeight);
    for (int i = 0; i < kMaxActiveLights; ++i) activeLights_[i] = 0;
}

HRESULT Device::initGl() {
    if (!pp_.Windowed) {
        if (!glwin_set_fullscreen(window_, true)) return D3DERR_NOTAVAILABLE;
        fullScreen_ = true;
    }
    context_ = glwin_create_context(window_);
    if (!context_) return D3DERR_NOTAVAILABLE;
    gl_.invalidate();

    glwin_set_swap_interval(swap_interval(pp_.PresentationInterval));

    const GLsizei w = static_cast<GLsizei>(pp_.BackBufferWidth),
                  h = static_cast<GLsizei>(pp_.BackBufferHeight);
    // Depth-stencil storage is D24S8 whatever the requested depth format (at least as precise).
    glGenRenderbuffers(1, &depthStencil_);
    glBindRenderbuffer(GL_RENDERBUFFER, depthStencil_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, w, h);
    if (!pp_.EnableAutoDepthStencil) {
        glDeleteRenderbuffers(1, &depthStencil_);
        depthStencil_ = 0;
    }
    // Back buffer formats without alpha are stored without it, so destination alpha reads as 1. A texture,
    // so that presenting draws it (see TextureCopy).
    glGenTextures(1, &backBufferColor_);
    gl_.bindTextureForUpdate(backBufferColor_);
    gl_tex_alloc(0, w, h, pp_.BackBufferFormat == D3DFMT_A8R8G8B8);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);

    backBuffer_ = new Surface(this, nullptr, 0, pp_.BackBufferWidth, pp_.BackBufferHeight,
                              pp_.BackBufferFormat, D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT);
    backBuffer_->setBackBufferStorage(backBufferColor_);
    backBuffer_->addBinding();  // the device's own reference
    GLuint fbo = backBuffer_->framebuffer();
    if (glCheckFramebufferStatus(GL_READ_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return D3DERR_NOTAVAILABLE;
    renderTarget_ = backBuffer_;
    renderTarget_->addBinding();
    if (depthStencil_) {
        depthSurface_ = new Surface(this, nullptr, 0, pp_.BackBufferWidth, pp_.BackBufferHeight,
                                    pp_.AutoDepthStencilFormat, D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT);
        depthSurface_->addBinding();
    }
    gl_.bindDrawFramebuffer(fbo);

    glGenVertexArrays(1, &vao_);
    gl_.bindVertexArray(vao_);
    glGenBuffers(1, &upBuffer_);
    glGenSamplers(kSamplers, samplers_);
    for (int i = 0; i < kSamplers; ++i) applySampler(i);
    dirtySamplers_ = 0;
    glGenSamplers(1, &uniformSampler_);
    glSamplerParameteri(uniformSampler_, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glSamplerParameteri(uniformSampler_, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glSamplerParameteri(uniformSampler_, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glSamplerParameteri(uniformSampler_, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);

    std::string log;
    if (!ff_.init(&log)) {
        std::fprintf(stderr, "d3d9: the fixed-function shaders do not build:\n%s\n", log.c_str());
        return D3DERR_NOTAVAILABLE;
    }
    if (!copy_.init(&log)) {
        std::fprintf(stderr, "d3d9: the texture copy's shaders do not build:\n%s\n", log.c_str());
        return D3DERR_NOTAVAILABLE;
    }
    if (glGetError() != GL_NO_ERROR) return D3DERR_NOTAVAILABLE;

    // The new back buffer starts black, depth 1, stencil 0.
    gl_.setScissor(false);
    gl_.setColorMask(0xF);
    gl_.setDepthMask(true);
    gl_.setStencilWriteMask(~0u);
    glClearColor(0, 0, 0, 0);
    gl_clear_depth(1.0f);
    glClearStencil(0);
    glClear(GL_COLOR_BUFFER_BIT | (depthStencil_ ? GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT : 0));
    dirty_ = kDirtyAll;
    return D3D_OK;
}

Device::~Device() {
    const bool gl = context_ && makeCurrent();
    if (recording_) {
        StateBlock* block = recording_;
        recording_ = nullptr;
        block->Release();
    }
    // Drop the device's references to bound objects; unreferenced ones go now (their GL objects too, while
    // the context is current; if the window is gone the context takes them along).
    for (auto& t : state_.textures)
        if (t) t->releaseInternal(), t = nullptr;
    if (state_.stream.buffer) state_.stream.buffer->releaseInternal(), state_.stream.buffer = nullptr;
    if (state_.indices) state_.indices->releaseInternal(), state_.indices = nullptr;
    if (renderTarget_) renderTarget_->releaseBinding(), renderTarget_ = nullptr;
    if (backBuffer_) backBuffer_->releaseBinding(), backBuffer_ = nullptr;
    if (depthSurface_) depthSurface_->releaseBinding(), depthSurface_ = nullptr;
    if (gl) {
        ff_.destroy();
        copy_.destroy();
        glDeleteSamplers(kSamplers, samplers_);
        glDeleteSamplers(1, &uniformSampler_);
        glDeleteVertexArrays(1, &vao_);
        glDeleteBuffers(1, &upBuffer_);
        if (depthStencil_) glDeleteRenderbuffers(1, &depthStencil_);
        for (auto& entry : sizedDepthStencils_) glDeleteRenderbuffers(1, &entry.second);
        gl_.forgetTexture(backBufferColor_);
        glDeleteTextures(1, &backBufferColor_);
    } else {
        ff_.abandon();
        copy_.abandon();
    }
    if (context_) glwin_delete_context(window_, context_);
    if (fullScreen_ && IsWindow(window_)) glwin_set_fullscreen(window_, false);
    d3d_->Release();
}

void Device::fillLevels(Texture* texture, GLint first, GLint last) {
    copy_.fillLevels(gl_, texture->name(), texture->width(), texture->height(), first, last,
                     texture->GetAutoGenFilterType() != D3DTEXF_POINT);
    dirty_ |= kDirtyBlend | kDirtyRaster | kDirtyViewport;
}

GLuint Device::depthStencilBufferFor(UINT width, UINT height) {
    if (!gl_same_size_attachments() || (width == pp_.BackBufferWidth && height == pp_.BackBufferHeight))
        return depthStencil_;
    GLuint& rb = sizedDepthStencils_[{width, height}];
    if (!rb) {
        glGenRenderbuffers(1, &rb);
        glBindRenderbuffer(GL_RENDERBUFFER, rb);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, static_cast<GLsizei>(width),
                              static_cast<GLsizei>(height));
        glBindRenderbuffer(GL_RENDERBUFFER, 0);
    }
    return rb;
}

bool Device::makeCurrent() {
    return glwin_make_current(window_, context_);
}

bool Device::windowUsable() const {
    return glwin_usable(window_, fullScreen_);
}

void Device::forgetStateBlock(StateBlock* block) {
    if (recording_ == block) recording_ = nullptr;
}

HRESULT Device::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirect3DDevice9) {
        AddRef();
        *ppv = static_cast<IDirect3DDevice9*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT Device::TestCooperativeLevel() {
    return windowUsable() ? D3D_OK : D3DERR_DEVICELOST;
}

UINT Device::GetAvailableTextureMem() {
    return 256u << 20;
}

// Managed resources keep their system-memory copies; the GL objects stay valid, so there is nothing to evict.
HRESULT Device::EvictManagedResources() {
    return D3D_OK;
}

HRESULT Device::GetDirect3D(IDirect3D9** pp) {
    if (!pp) return D3DERR_INVALIDCALL;
    d3d_->AddRef();
    *pp = d3d_;
    return D3D_OK;
}

HRESULT Device::GetDeviceCaps(D3DCAPS9* caps) {
    if (!caps) return D3DERR_INVALIDCALL;
    fill_caps(caps);
    return D3D_OK;
}

HRESULT Device::GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) {
    if (swapChain != 0 || !mode) return D3DERR_INVALIDCALL;
    if (!pp_.Windowed) {
        mode->Width = pp_.BackBufferWidth;
        mode->Height = pp_.BackBufferHeight;
        mode->RefreshRate = 60;
        mode->Format = pp_.BackBufferFormat;
        return D3D_OK;
    }
    return desktop_mode(mode) ? D3D_OK : D3DERR_NOTAVAILABLE;
}

HRESULT Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                              D3DPOOL pool, IDirect3DTexture9** out, void** shared) {
    if (!out || shared) return D3DERR_INVALIDCALL;
    *out = nullptr;
    HRESULT hr;
    Texture* t = Texture::create(this, width, height, levels, usage, format, pool, &hr);
    *out = t;
    return hr;
}

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                   IDirect3DVertexBuffer9** out, void** shared) {
    if (!out || shared) return D3DERR_INVALIDCALL;
    *out = nullptr;
    HRESULT hr;
    *out = VertexBuffer::create(this, length, usage, fvf, pool, &hr);
    return hr;
}

HRESULT Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DIndexBuffer9** out, void** shared) {
    if (!out || shared) return D3DERR_INVALIDCALL;
    *out = nullptr;
    HRESULT hr;
    *out = IndexBuffer::create(this, length, usage, format, pool, &hr);
    return hr;
}

}  // namespace d3d9
