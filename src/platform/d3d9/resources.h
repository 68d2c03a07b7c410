#pragma once
// Textures, their level surfaces, the back buffer surface, and vertex and index buffers.
#include <memory>
#include <vector>

#include "platform/d3d9/com_object.h"
#include "platform/d3d9/gl_dialect.h"

namespace d3d9 {

class Device;
class Texture;

// A surface is either a level of a texture (its counts are the texture's, as on the platform) or the device's
// back buffer (counted on its own, pinning the device while the program holds it).
class Surface final : public IDirect3DSurface9, public ComObject {
public:
    Surface(Device* device, Texture* container, UINT level, UINT width, UINT height, D3DFORMAT format,
            DWORD usage, D3DPOOL pool);
    ~Surface() override;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override;
    DWORD SetPriority(DWORD p) override;
    DWORD GetPriority() override;
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT GetContainer(REFIID riid, void** ppContainer) override;
    HRESULT GetDesc(D3DSURFACE_DESC* pDesc) override;
    HRESULT LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) override;
    HRESULT UnlockRect() override;

    // Device side.
    void addBinding();
    void releaseBinding();
    Texture* container() const { return container_; }
    Device* device() const { return device_; }
    UINT level() const { return level_; }
    UINT width() const { return width_; }
    UINT height() const { return height_; }
    bool isRenderTarget() const { return (usage_ & D3DUSAGE_RENDERTARGET) != 0; }
    // The framebuffer drawing into this surface, made on first use: with the device's depth-stencil buffer
    // attached, or without it for drawing that neither tests nor writes depth or stencil (a bound depth
    // buffer slows the software rasterizer down even when unused).
    GLuint framebuffer(bool withDepth = true);
    // Back buffer only: its colour storage (a texture of one level).
    void setBackBufferStorage(GLuint texture) { backBufferColor_ = texture; }
    GLuint backBufferColor() const { return backBufferColor_; }

protected:
    IDirect3DDevice9* pinnedDevice() override;

private:
    Device* device_;
    Texture* container_;
    UINT level_;
    UINT width_, height_;
    D3DFORMAT format_;
    DWORD usage_;
    D3DPOOL pool_;
    GLuint fbo_[2] = {0, 0};  // without, with depth-stencil
    GLuint backBufferColor_ = 0;
};

class Texture final : public IDirect3DTexture9, public ComObject {
public:
    // Validates the arguments as the platform does; null with *result set on failure.
    static Texture* create(Device* device, UINT width, UINT height, UINT levels, DWORD usage,
                           D3DFORMAT format, D3DPOOL pool, HRESULT* result);
    ~Texture() override;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return addPublic(); }
    ULONG Release() override { return releasePublic(); }
    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override;
    DWORD SetPriority(DWORD p) override;
    DWORD GetPriority() override { return priority_; }
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD SetLOD(DWORD lod) override;
    DWORD GetLOD() override { return lod_; }
    DWORD GetLevelCount() override;
    HRESULT SetAutoGenFilterType(D3DTEXTUREFILTERTYPE type) override;
    D3DTEXTUREFILTERTYPE GetAutoGenFilterType() override { return autoGenFilter_; }
    void GenerateMipSubLevels() override;
    HRESULT GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) override;
    HRESULT GetSurfaceLevel(UINT Level, IDirect3DSurface9** ppSurfaceLevel) override;
    HRESULT LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) override;
    HRESULT UnlockRect(UINT Level) override;
    HRESULT AddDirtyRect(const RECT*) override { return D3D_OK; }

    // Device side.
    GLuint name() const { return name_; }
    D3DFORMAT format() const { return format_; }
    DWORD usage() const { return usage_; }
    UINT width(UINT level = 0) const;
    UINT height(UINT level = 0) const;
    UINT glLevels() const { return glLevels_; }
    bool autoGenMipMap() const { return (usage_ & D3DUSAGE_AUTOGENMIPMAP) != 0; }
    // Level 0 changed (rendered into or unlocked): the generated levels are stale, and its contents are no
    // longer known.
    void markLevel0Written() {
        if (autoGenMipMap()) generated_ = 0;
        level0Known_ = uniform0_ = false;
    }
    // Every texel of level 0 is known to read the same value (for example a plain black image), so every
    // sample of level 0 that stays inside the texture is that value whatever the filter.
    bool uniformLevel0() const { return uniform0_; }
    // Regenerates stale automatic levels; called before the texture is sampled.
    void prepareForSampling() { useLevels(glLevels_ - 1); }
    // Makes levels 0 to `highest` visible to sampling (regenerating stale automatic ones up to there) and
    // hides the rest, for a draw that provably samples no lower level (0: one that only magnifies).
    // Automatic levels are regenerated only as far as they are sampled: level n is made from level n - 1
    // alone, so the visible ones equal those of a full regeneration.
    void useLevels(UINT highest);
    Surface* surface(UINT level) { return surfaces_[level].get(); }

protected:
    IDirect3DDevice9* pinnedDevice() override;

private:
    Texture(Device* device, UINT width, UINT height, UINT glLevels, DWORD usage, D3DFORMAT format,
            D3DPOOL pool);
    bool lockable() const;

    Device* device_;
    UINT width_, height_;
    UINT glLevels_;
    DWORD usage_;
    D3DFORMAT format_;
    D3DPOOL pool_;
    GLuint name_ = 0;
    DWORD priority_ = 0;
    DWORD lod_ = 0;
    D3DTEXTUREFILTERTYPE autoGenFilter_ = D3DTEXF_LINEAR;
    UINT generated_ = ~0u;      // automatic levels 1 to generated_ are up to date with level 0
    bool level0Known_ = false;  // GL's level 0 equals shadow_[0] (uploaded whole since it was last drawn)
    bool uniform0_ = false;
    GLint maxLevel_ = 0;  // GL_TEXTURE_MAX_LEVEL as set
    std::vector<std::unique_ptr<Surface>> surfaces_;
    // System-memory copies of lockable textures, one per level, top row first, 4 bytes per pixel.
    std::vector<std::vector<unsigned char>> shadow_;
    struct LockState {
        bool locked = false;
        bool readOnly = false;
        RECT rect = {0, 0, 0, 0};
    };
    std::vector<LockState> locks_;
};

// Vertex and index buffers keep a system-memory copy that Lock hands out; Unlock sends the written range
// to the GL buffer.
class Buffer {
public:
    // Index buffers live on the element-array target from the start: WebGL never lets a buffer change sides.
    Buffer(Device* device, UINT length, DWORD usage, bool indices = false);
    ~Buffer();
    bool valid() const { return name_ != 0; }
    HRESULT lock(UINT offset, UINT size, void** data, DWORD flags);
    HRESULT unlock();
    GLuint name() const { return name_; }
    UINT length() const { return static_cast<UINT>(data_.size()); }
    const unsigned char* data() const { return data_.data(); }
    // Generation counter, bumped by every unlock that may have changed the contents.
    unsigned generation() const { return generation_; }

private:
    Device* device_;
    GLuint name_ = 0;
    std::vector<unsigned char> data_;
    unsigned lockCount_ = 0;
    UINT dirtyBegin_ = 0, dirtyEnd_ = 0;
    unsigned generation_ = 0;
    GLenum glUsage_;
    GLenum target_;
    // Binds the buffer on its target for an update.
    void bindForUpdate();
};

// What vertex and index buffers share: the resource methods, Lock and Unlock over a Buffer, and the checks
// their creation has in common. Instantiated for the two kinds in resources.cpp.
template <typename Interface, D3DRESOURCETYPE kType, const IID* kIid>
class BufferResource : public Interface, public ComObject {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return addPublic(); }
    ULONG Release() override { return releasePublic(); }
    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override;
    DWORD SetPriority(DWORD p) override;
    DWORD GetPriority() override { return priority_; }
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return kType; }
    HRESULT Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) override {
        return buffer_.lock(OffsetToLock, SizeToLock, ppbData, Flags);
    }
    HRESULT Unlock() override { return buffer_.unlock(); }

    const Buffer& buffer() const { return buffer_; }

protected:
    BufferResource(Device* device, UINT length, DWORD usage, D3DPOOL pool);
    // A length up to 1 GiB, a known pool, and no dynamic buffer in the managed pool.
    static bool validRequest(UINT length, DWORD usage, D3DPOOL pool);
    // Hands out a new buffer with its first reference, or deletes it when its storage could not be made.
    template <typename Derived>
    static Derived* finish(Derived* created, HRESULT* result);
    IDirect3DDevice9* pinnedDevice() override;
    Device* device_;
    Buffer buffer_;
    DWORD usage_;
    D3DPOOL pool_;
    DWORD priority_ = 0;
};

class VertexBuffer final
    : public BufferResource<IDirect3DVertexBuffer9, D3DRTYPE_VERTEXBUFFER, &IID_IDirect3DVertexBuffer9> {
public:
    static VertexBuffer* create(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                HRESULT* result);
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* pDesc) override;

private:
    VertexBuffer(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool);
    DWORD fvf_;
};

class IndexBuffer final
    : public BufferResource<IDirect3DIndexBuffer9, D3DRTYPE_INDEXBUFFER, &IID_IDirect3DIndexBuffer9> {
public:
    static IndexBuffer* create(Device* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                               HRESULT* result);
    HRESULT GetDesc(D3DINDEXBUFFER_DESC* pDesc) override;

    UINT indexSize() const { return format_ == D3DFMT_INDEX32 ? 4 : 2; }
    // Largest index in [first, first + count): the draw path refuses draws that would read past the vertices.
    UINT maxIndex(UINT first, UINT count);

private:
    IndexBuffer(Device* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool);
    D3DFORMAT format_;
    // Cached maximum over the whole buffer, valid for generation maxGeneration_.
    unsigned maxGeneration_ = ~0u;
    UINT wholeMax_ = 0;
};

}  // namespace d3d9
