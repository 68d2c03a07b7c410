#include "platform/d3d9/resources.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/d3d9/device.h"

namespace d3d9 {

namespace {

constexpr UINT kMaxTextureSize = 8192;

bool rect_inside(const RECT& r, UINT width, UINT height) {
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom &&
           static_cast<UINT>(r.right) <= width && static_cast<UINT>(r.bottom) <= height;
}

UINT full_chain(UINT width, UINT height) {
    UINT levels = 1;
    for (UINT size = std::max(width, height); size > 1; size >>= 1) ++levels;
    return levels;
}

}  // namespace

// ---- Surface
// ------------------------------------------------------------------------------------------------

Surface::Surface(Device* device, Texture* container, UINT level, UINT width, UINT height, D3DFORMAT format,
                 DWORD usage, D3DPOOL pool)
    : device_(device),
      container_(container),
      level_(level),
      width_(width),
      height_(height),
      format_(format),
      usage_(usage),
      pool_(pool) {}

Surface::~Surface() {
    for (GLuint& fbo : fbo_) {
        if (fbo && device_->makeCurrent()) {
            device_->gl().forgetFramebuffer(fbo);
            glDeleteFramebuffers(1, &fbo);
        }
    }
}

HRESULT Surface::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirect3DResource9 || riid == IID_IDirect3DSurface9) {
        AddRef();
        *ppv = static_cast<IDirect3DSurface9*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG Surface::AddRef() {
    return container_ ? container_->AddRef() : addPublic();
}
ULONG Surface::Release() {
    return container_ ? container_->Release() : releasePublic();
}

void Surface::addBinding() {
    if (container_)
        container_->addInternal();
    else
        addInternal();
}

void Surface::releaseBinding() {
    if (container_)
        container_->releaseInternal();
    else
        releaseInternal();
}

IDirect3DDevice9* Surface::pinnedDevice() {
    return container_ ? nullptr : device_;
}

HRESULT Surface::GetDevice(IDirect3DDevice9** ppDevice) {
    if (!ppDevice) return D3DERR_INVALIDCALL;
    device_->AddRef();
    *ppDevice = device_;
    return D3D_OK;
}

DWORD Surface::SetPriority(DWORD p) {
    return container_ ? container_->SetPriority(p) : 0;
}
DWORD Surface::GetPriority() {
    return container_ ? container_->GetPriority() : 0;
}

HRESULT Surface::GetContainer(REFIID riid, void** ppContainer) {
    if (!ppContainer) return D3DERR_INVALIDCALL;
    if (container_) return container_->QueryInterface(riid, ppContainer);
    return device_->QueryInterface(riid, ppContainer);
}

HRESULT Surface::GetDesc(D3DSURFACE_DESC* d) {
    if (!d) return D3DERR_INVALIDCALL;
    d->Format = format_;
    d->Type = D3DRTYPE_SURFACE;
    d->Usage = usage_;
    d->Pool = pool_;
    d->MultiSampleType = D3DMULTISAMPLE_NONE;
    d->MultiSampleQuality = 0;
    d->Width = width_;
    d->Height = height_;
    return D3D_OK;
}

HRESULT Surface::LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) {
    if (!container_) return D3DERR_INVALIDCALL;  // the back buffer is not lockable
    return container_->LockRect(level_, pLockedRect, pRect, Flags);
}

HRESULT Surface::UnlockRect() {
    if (!container_) return D3DERR_INVALIDCALL;
    return container_->UnlockRect(level_);
}

GLuint Surface::framebuffer(bool withDepth) {
    if (!device_->depthStencilBuffer()) withDepth = false;
    GLuint& fbo = fbo_[withDepth ? 1 : 0];
    if (fbo) return fbo;
    GlState& gl = device_->gl();
    glGenFramebuffers(1, &fbo);
    gl.bindReadFramebuffer(fbo);
    if (container_)
        glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, container_->name(),
                               static_cast<GLint>(level_));
    else
        glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, backBufferColor_, 0);
    // Every target draws with the device's one depth-stencil buffer, as the platform's auto depth-stencil.
    if (withDepth)
        glFramebufferRenderbuffer(GL_READ_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                                  device_->depthStencilBufferFor(width_, height_));
    return fbo;
}

// ---- Texture
// ------------------------------------------------------------------------------------------------

Texture* Texture::create(Device* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                         D3DPOOL pool, HRESULT* result) {
    *result = D3DERR_INVALIDCALL;
    if (width == 0 || height == 0 || width > kMaxTextureSize || height > kMaxTextureSize) return nullptr;
    if (format != D3DFMT_A8R8G8B8 && format != D3DFMT_X8R8G8B8) return nullptr;
    if (pool != D3DPOOL_DEFAULT && pool != D3DPOOL_MANAGED && pool != D3DPOOL_SYSTEMMEM &&
        pool != D3DPOOL_SCRATCH)
        return nullptr;
    const DWORD known = D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC | D3DUSAGE_AUTOGENMIPMAP;
    if (usage & ~known) return nullptr;
    if ((usage & D3DUSAGE_RENDERTARGET) && pool != D3DPOOL_DEFAULT) return nullptr;
    if ((usage & D3DUSAGE_DYNAMIC) && (pool == D3DPOOL_MANAGED || (usage & D3DUSAGE_RENDERTARGET)))
        return nullptr;
    const UINT chain = full_chain(width, height);
    if (levels > chain) return nullptr;
    if ((usage & D3DUSAGE_AUTOGENMIPMAP) && levels > 1) return nullptr;
    const UINT glLevels = (levels == 0 || (usage & D3DUSAGE_AUTOGENMIPMAP)) ? chain : levels;
    auto* texture = new Texture(device, width, height, glLevels, usage, format, pool);
    if (!texture->name_) {
        delete texture;
        *result = D3DERR_OUTOFVIDEOMEMORY;
        return nullptr;
    }
    *result = D3D_OK;
    texture->AddRef();
    return texture;
}

Texture::Texture(Device* device, UINT width, UINT height, UINT glLevels, DWORD usage, D3DFORMAT format,
                 D3DPOOL pool)
    : device_(device),
      width_(width),
      height_(height),
      glLevels_(glLevels),
      usage_(usage),
      format_(format),
      pool_(pool) {
    if (!device_->makeCurrent()) return;
    GlState& gl = device_->gl();
    // The error check below must see this texture's errors only, not one left by an earlier call.
    while (glGetError() != GL_NO_ERROR) {
    }
    glGenTextures(1, &name_);
    gl.bindTextureForUpdate(name_);
    // X8R8G8B8 has no alpha: stored without one, it samples as 1 and blending reads destination alpha 1,
    // as for the back buffer.
    for (UINT level = 0; level < glLevels_; ++level)
        gl_tex_alloc(static_cast<GLint>(level), static_cast<GLsizei>(this->width(level)),
                     static_cast<GLsizei>(this->height(level)), format_ != D3DFMT_X8R8G8B8);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    maxLevel_ = static_cast<GLint>(glLevels_) - 1;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, maxLevel_);
    if (glGetError() != GL_NO_ERROR) {
        gl.forgetTexture(name_);
        glDeleteTextures(1, &name_);
        name_ = 0;
        return;
    }
    const UINT visible = GetLevelCount();
    for (UINT level = 0; level < visible; ++level)
        surfaces_.emplace_back(new Surface(device_, this, level, this->width(level), this->height(level),
                                           format_, usage_, pool_));
    if (lockable()) {
        shadow_.resize(visible);
        for (UINT level = 0; level < visible; ++level)
            shadow_[level].assign(static_cast<size_t>(this->width(level)) * this->height(level) * 4, 0);
    }
    locks_.resize(visible);
}

Texture::~Texture() {
    surfaces_.clear();
    if (name_ && device_->makeCurrent()) {
        device_->gl().forgetTexture(name_);
        glDeleteTextures(1, &name_);
    }
}

IDirect3DDevice9* Texture::pinnedDevice() {
    return device_;
}

bool Texture::lockable() const {
    return pool_ == D3DPOOL_MANAGED || pool_ == D3DPOOL_SYSTEMMEM || pool_ == D3DPOOL_SCRATCH ||
           (usage_ & D3DUSAGE_DYNAMIC) != 0;
}

UINT Texture::width(UINT level) const {
    return std::max(1u, width_ >> level);
}
UINT Texture::height(UINT level) const {
    return std::max(1u, height_ >> level);
}

HRESULT Texture::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirect3DResource9 || riid == IID_IDirect3DBaseTexture9 ||
        riid == IID_IDirect3DTexture9) {
        AddRef();
        *ppv = static_cast<IDirect3DTexture9*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT Texture::GetDevice(IDirect3DDevice9** ppDevice) {
    if (!ppDevice) return D3DERR_INVALIDCALL;
    device_->AddRef();
    *ppDevice = device_;
    return D3D_OK;
}

DWORD Texture::SetPriority(DWORD p) {
    DWORD old = priority_;
    if (pool_ == D3DPOOL_MANAGED) priority_ = p;
    return old;
}

DWORD Texture::SetLOD(DWORD lod) {
    DWORD old = lod_;
    if (pool_ == D3DPOOL_MANAGED) lod_ = std::min<DWORD>(lod, GetLevelCount() - 1);
    return old;
}

// Automatic mip-maps show only the top level to the program.
DWORD Texture::GetLevelCount() {
    return autoGenMipMap() ? 1 : glLevels_;
}

HRESULT Texture::SetAutoGenFilterType(D3DTEXTUREFILTERTYPE type) {
    if (type != D3DTEXF_POINT && type != D3DTEXF_LINEAR) return D3DERR_INVALIDCALL;
    if (!autoGenMipMap()) return D3DERR_INVALIDCALL;
    if (autoGenFilter_ != type) {
        autoGenFilter_ = type;
        markLevel0Written();
    }
    return D3D_OK;
}

void Texture::GenerateMipSubLevels() {
    if (!autoGenMipMap()) return;
    generated_ = 0;
    prepareForSampling();
}

void Texture::useLevels(UINT highest) {
    const GLint max = static_cast<GLint>(std::min(highest, glLevels_ - 1));
    const bool regenerate = autoGenMipMap() && generated_ < static_cast<UINT>(max);
    if (max == maxLevel_ && !regenerate) return;
    if (!device_->makeCurrent()) return;
    device_->gl().bindTextureForUpdate(name_);
    if (max != maxLevel_) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, max);
        maxLevel_ = max;
    }
    if (regenerate) {
        // Levels up to `generated_` are still current.
        device_->fillLevels(this, static_cast<GLint>(generated_) + 1, max);
        device_->countMipRegeneration(static_cast<unsigned>(max) - generated_);
        generated_ = static_cast<UINT>(max);
    }
}

HRESULT Texture::GetLevelDesc(UINT level, D3DSURFACE_DESC* d) {
    if (!d || level >= GetLevelCount()) return D3DERR_INVALIDCALL;
    return surfaces_[level]->GetDesc(d);
}

HRESULT Texture::GetSurfaceLevel(UINT level, IDirect3DSurface9** pp) {
    if (!pp) return D3DERR_INVALIDCALL;
    if (level >= GetLevelCount()) {
        *pp = nullptr;
        return D3DERR_INVALIDCALL;
    }
    surfaces_[level]->AddRef();
    *pp = surfaces_[level].get();
    return D3D_OK;
}

HRESULT Texture::LockRect(UINT level, D3DLOCKED_RECT* out, const RECT* pRect, DWORD flags) {
    if (!out || level >= GetLevelCount() || !lockable()) return D3DERR_INVALIDCALL;
    LockState& lock = locks_[level];
    if (lock.locked) return D3DERR_INVALIDCALL;
    const UINT w = width(level), h = height(level);
    RECT r = {0, 0, static_cast<LONG>(w), static_cast<LONG>(h)};
    if (pRect) {
        if (!rect_inside(*pRect, w, h)) return D3DERR_INVALIDCALL;
        r = *pRect;
    }
    lock.locked = true;
    lock.readOnly = (flags & D3DLOCK_READONLY) != 0;
    lock.rect = r;
    out->Pitch = static_cast<int>(w * 4);
    out->pBits = shadow_[level].data() + (static_cast<size_t>(r.top) * w + static_cast<size_t>(r.left)) * 4;
    return D3D_OK;
}

namespace {

// Whether every texel of a level (4 bytes each) has the same value in the bits of `mask`; stops at the
// first difference, so a real picture costs next to nothing.
bool uniform_texels(const std::vector<unsigned char>& level, uint32_t mask) {
    const size_t n = level.size() / 4;
    if (n == 0) return false;
    uint32_t first;
    std::memcpy(&first, level.data(), 4);
    first &= mask;
    for (size_t i = 1; i < n; ++i) {
        uint32_t v;
        std::memcpy(&v, level.data() + i * 4, 4);
        if ((v & mask) != first) return false;
    }
    return true;
}

}  // namespace

HRESULT Texture::UnlockRect(UINT level) {
    if (level >= GetLevelCount() || !locks_[level].locked) return D3DERR_INVALIDCALL;
    LockState& lock = locks_[level];
    lock.locked = false;
    if (lock.readOnly) return D3D_OK;
    const RECT& r = lock.rect;
    const UINT w = width(level);
    if (!device_->makeCurrent()) return D3D_OK;  // the window is gone; the copy stays in memory
    device_->gl().bindTextureForUpdate(name_);
    // Memory row 0 is the top row and becomes GL row 0; drawing and sampling keep that orientation.
    gl_tex_upload_bgra(
        static_cast<GLint>(level), r.left, r.top, r.right - r.left, r.bottom - r.top,
        shadow_[level].data() + (static_cast<size_t>(r.top) * w + static_cast<size_t>(r.left)) * 4,
        static_cast<GLint>(w), format_ != D3DFMT_X8R8G8B8);
    if (level == 0) {
        const bool whole = r.left == 0 && r.top == 0 && static_cast<UINT>(r.right) == w &&
                           static_cast<UINT>(r.bottom) == height(0);
        const bool known = level0Known_ || whole;
        markLevel0Written();
        level0Known_ = known;
        uniform0_ = known && uniform_texels(shadow_[0], format_ == D3DFMT_X8R8G8B8 ? 0x00FFFFFFu : ~0u);
    }
    return D3D_OK;
}

// ---- Buffers
// ------------------------------------------------------------------------------------------------

Buffer::Buffer(Device* device, UINT length, DWORD usage, bool indices)
    : device_(device), target_(indices ? GL_ELEMENT_ARRAY_BUFFER : GL_ARRAY_BUFFER) {
    glUsage_ = (usage & D3DUSAGE_DYNAMIC) ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW;
    if (!device_->makeCurrent()) return;
    while (glGetError() != GL_NO_ERROR) {  // only this buffer's errors count below
    }
    glGenBuffers(1, &name_);
    bindForUpdate();
    glBufferData(target_, length, nullptr, glUsage_);
    if (glGetError() != GL_NO_ERROR) {
        device_->gl().forgetBuffer(name_);
        glDeleteBuffers(1, &name_);
        name_ = 0;
        return;
    }
    data_.assign(length, 0);
}

Buffer::~Buffer() {
    if (!name_ || !device_->makeCurrent()) return;
    device_->forgetBuffer(name_);
    glDeleteBuffers(1, &name_);
}

HRESULT Buffer::lock(UINT offset, UINT size, void** out, DWORD flags) {
    if (!out) return D3DERR_INVALIDCALL;
    const UINT length = this->length();
    if (offset > length) return D3DERR_INVALIDCALL;
    if (size == 0) size = length - offset;  // zero locks the rest of the buffer
    if (size > length - offset) return D3DERR_INVALIDCALL;
    if (!(flags & D3DLOCK_READONLY)) {
        if (dirtyBegin_ == dirtyEnd_) {
            dirtyBegin_ = offset;
            dirtyEnd_ = offset + size;
        } else {
            dirtyBegin_ = std::min(dirtyBegin_, offset);
            dirtyEnd_ = std::max(dirtyEnd_, offset + size);
        }
    }
    ++lockCount_;
    *out = data_.data() + offset;
    return D3D_OK;
}

HRESULT Buffer::unlock() {
    if (lockCount_ == 0) return D3DERR_INVALIDCALL;
    if (--lockCount_ > 0) return D3D_OK;
    if (dirtyBegin_ == dirtyEnd_) return D3D_OK;
    if (!device_->makeCurrent()) return D3D_OK;  // the window is gone; the copy stays in memory
    bindForUpdate();
    if (dirtyBegin_ == 0 && dirtyEnd_ == length())
        glBufferData(target_, length(), data_.data(), glUsage_);  // whole refill: let GL orphan
    else
        glBufferSubData(target_, dirtyBegin_, dirtyEnd_ - dirtyBegin_, data_.data() + dirtyBegin_);
    dirtyBegin_ = dirtyEnd_ = 0;
    ++generation_;
    return D3D_OK;
}

void Buffer::bindForUpdate() {
    if (target_ == GL_ARRAY_BUFFER) {
        device_->gl().bindArrayBuffer(name_);
    } else {
        // The element-array binding belongs to the vertex array: the next draw binds its own indices again.
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, name_);
        device_->indicesRebound();
    }
}

template <typename I, D3DRESOURCETYPE kType, const IID* kIid>
BufferResource<I, kType, kIid>::BufferResource(Device* device, UINT length, DWORD usage, D3DPOOL pool)
    : device_(device),
      buffer_(device, length, usage, kType == D3DRTYPE_INDEXBUFFER),
      usage_(usage),
      pool_(pool) {}

template <typename I, D3DRESOURCETYPE kType, const IID* kIid>
bool BufferResource<I, kType, kIid>::validRequest(UINT length, DWORD usage, D3DPOOL pool) {
    if (length == 0 || length > (1u << 30)) return false;
    if (pool != D3DPOOL_DEFAULT && pool != D3DPOOL_MANAGED && pool != D3DPOOL_SYSTEMMEM &&
        pool != D3DPOOL_SCRATCH)
        return false;
    return !((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED);
}

template <typename I, D3DRESOURCETYPE kType, const IID* kIid>
template <typename Derived>
Derived* BufferResource<I, kType, kIid>::finish(Derived* created, HRESULT* result) {
    if (!created->buffer_.valid()) {
        delete created;
        *result = D3DERR_OUTOFVIDEOMEMORY;
        return nullptr;
    }
    *result = D3D_OK;
    created->AddRef();
    return created;
}

template <typename I, D3DRESOURCETYPE kType, const IID* kIid>
IDirect3DDevice9* BufferResource<I, kType, kIid>::pinnedDevice() {
    return device_;
}

template <typename I, D3DRESOURCETYPE kType, const IID* kIid>
HRESULT BufferResource<I, kType, kIid>::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirect3DResource9 || riid == *kIid) {
        AddRef();
        *ppv = static_cast<I*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

template <typename I, D3DRESOURCETYPE kType, const IID* kIid>
HRESULT BufferResource<I, kType, kIid>::GetDevice(IDirect3DDevice9** ppDevice) {
    if (!ppDevice) return D3DERR_INVALIDCALL;
    device_->AddRef();
    *ppDevice = device_;
    return D3D_OK;
}

template <typename I, D3DRESOURCETYPE kType, const IID* kIid>
DWORD BufferResource<I, kType, kIid>::SetPriority(DWORD p) {
    DWORD old = priority_;
    if (pool_ == D3DPOOL_MANAGED) priority_ = p;
    return old;
}

template class BufferResource<IDirect3DVertexBuffer9, D3DRTYPE_VERTEXBUFFER, &IID_IDirect3DVertexBuffer9>;
template class BufferResource<IDirect3DIndexBuffer9, D3DRTYPE_INDEXBUFFER, &IID_IDirect3DIndexBuffer9>;

VertexBuffer* VertexBuffer::create(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                   HRESULT* result) {
    *result = D3DERR_INVALIDCALL;
    if (!validRequest(length, usage, pool)) return nullptr;
    if (fvf != 0) {
        const UINT stride = fvf_stride(fvf);
        if (stride == 0 || length < stride) return nullptr;
    }
    return finish(new VertexBuffer(device, length, usage, fvf, pool), result);
}

VertexBuffer::VertexBuffer(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool)
    : BufferResource(device, length, usage, pool), fvf_(fvf) {}

HRESULT VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* d) {
    if (!d) return D3DERR_INVALIDCALL;
    d->Format = D3DFMT_VERTEXDATA;
    d->Type = D3DRTYPE_VERTEXBUFFER;
    d->Usage = usage_;
    d->Pool = pool_;
    d->Size = buffer_.length();
    d->FVF = fvf_;
    return D3D_OK;
}

IndexBuffer* IndexBuffer::create(Device* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                 HRESULT* result) {
    *result = D3DERR_INVALIDCALL;
    if (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32) return nullptr;
    if (!validRequest(length, usage, pool)) return nullptr;
    return finish(new IndexBuffer(device, length, usage, format, pool), result);
}

IndexBuffer::IndexBuffer(Device* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool)
    : BufferResource(device, length, usage, pool), format_(format) {}

HRESULT IndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* d) {
    if (!d) return D3DERR_INVALIDCALL;
    d->Format = format_;
    d->Type = D3DRTYPE_INDEXBUFFER;
    d->Usage = usage_;
    d->Pool = pool_;
    d->Size = buffer_.length();
    return D3D_OK;
}

namespace {

template <typename T>
UINT max_of(const unsigned char* bytes, UINT first, UINT count) {
    UINT m = 0;
    for (UINT i = 0; i < count; ++i) {
        T v;
        std::memcpy(&v, bytes + (static_cast<size_t>(first) + i) * sizeof(T), sizeof v);
        if (v > m) m = v;
    }
    return m;
}

}  // namespace

UINT IndexBuffer::maxIndex(UINT first, UINT count) {
    const UINT size = indexSize();
    const UINT total = buffer_.length() / size;
    if (maxGeneration_ != buffer_.generation()) {
        maxGeneration_ = buffer_.generation();
        wholeMax_ = size == 2 ? max_of<uint16_t>(buffer_.data(), 0, total)
                              : max_of<uint32_t>(buffer_.data(), 0, total);
    }
    if (first == 0 && count >= total) return wholeMax_;
    return size == 2 ? max_of<uint16_t>(buffer_.data(), first, count)
                     : max_of<uint32_t>(buffer_.data(), first, count);
}

}  // namespace d3d9
