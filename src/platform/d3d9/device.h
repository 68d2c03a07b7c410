#pragma once
// The Direct3D 9 device over an OpenGL 3.3 core or ES 3.0 context on the window (gl_window.h).
//
// State lives in plain arrays (device_state.h). Setters compare, store and mark what changed; the draw path
// turns the marked groups into GL state and shader uniforms once per draw. Every render target, the back
// buffer included, is stored top row first: drawing flips y, so texture row 0 is the top everywhere.
//
// Source files: device.cpp (creation, COM, resources), device_states.cpp (Set*/Get*, state blocks),
// device_draw.cpp (draw calls), device_present.cpp (scene, clear, targets, present, read-back),
// fixed_function.cpp (the shader program and its uniforms).
#include <map>
#include <memory>
#include <utility>

#include "platform/d3d9/com_object.h"
#include "platform/d3d9/device_state.h"
#include "platform/d3d9/fixed_function.h"
#include "platform/d3d9/gl_state.h"
#include "platform/d3d9/gl_window.h"
#include "platform/d3d9/readback.h"
#include "platform/d3d9/resources.h"
#include "platform/d3d9/texture_copy.h"

namespace d3d9 {

class Direct3D9;
class StateBlock;

// The vertices a draw reads: `primitives` primitives from index `first` of the index buffer (plus
// baseVertex), or from vertex `first` without one.
struct DrawRange {
    D3DPRIMITIVETYPE type;
    UINT primitives;
    const IndexBuffer* indices;
    UINT first;
    int baseVertex;
};

// What a setter changes; the draw path redoes only the marked work.
enum DirtyBits : uint32_t {
    kDirtyProgram = 1u << 0,        // anything that selects the shader variant
    kDirtyVertexInput = 1u << 1,    // FVF, stream source
    kDirtyIndices = 1u << 2,        // index buffer binding
    kDirtyBlend = 1u << 3,          // blending and colour write mask
    kDirtyDepthStencil = 1u << 4,   // depth and stencil tests
    kDirtyRaster = 1u << 5,         // culling, fill mode
    kDirtyViewport = 1u << 6,       // viewport and depth range
    kDirtyTextures = 1u << 7,       // texture bindings
    kDirtyMatrices = 1u << 8,       // world, view, projection
    kDirtyTexMatrices = 1u << 9,    // texture transforms
    kDirtyLights = 1u << 10,        // light parameters (camera space, so also the view)
    kDirtyMaterial = 1u << 11,      // material, global ambient
    kDirtyFog = 1u << 12,           // fog colour, start, end, density
    kDirtyFactors = 1u << 13,       // texture factor, stage constants, alpha reference
    kDirtyActiveLights = 1u << 14,  // which lights are enabled
    kDirtyAll = 0xFFFFFFFFu
};

class Device final : public IDirect3DDevice9, public ComObject {
public:
    static HRESULT create(Direct3D9* d3d, HWND window, DWORD behaviorFlags, D3DPRESENT_PARAMETERS* pp,
                          IDirect3DDevice9** out);
    ~Device() override;

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return addPublic(); }
    ULONG Release() override { return releasePublic(); }

    // Device
    HRESULT TestCooperativeLevel() override;
    UINT GetAvailableTextureMem() override;
    HRESULT EvictManagedResources() override;
    HRESULT GetDirect3D(IDirect3D9** ppD3D9) override;
    HRESULT GetDeviceCaps(D3DCAPS9* pCaps) override;
    HRESULT GetDisplayMode(UINT iSwapChain, D3DDISPLAYMODE* pMode) override;
    HRESULT Present(const RECT* pSourceRect, const RECT* pDestRect, HWND hDestWindowOverride,
                    const void* pDirtyRegion) override;
    HRESULT GetBackBuffer(UINT iSwapChain, UINT iBackBuffer, D3DBACKBUFFER_TYPE Type,
                          IDirect3DSurface9** ppBackBuffer) override;
    HRESULT CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                          IDirect3DTexture9** ppTexture, void** pSharedHandle) override;
    HRESULT CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                               IDirect3DVertexBuffer9** ppVertexBuffer, void** pSharedHandle) override;
    HRESULT CreateIndexBuffer(UINT Length, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                              IDirect3DIndexBuffer9** ppIndexBuffer, void** pSharedHandle) override;
    HRESULT SetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9* pRenderTarget) override;
    HRESULT GetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9** ppRenderTarget) override;
    HRESULT GetDepthStencilSurface(IDirect3DSurface9** ppZStencilSurface) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z,
                  DWORD Stencil) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix) override;
    HRESULT MultiplyTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) override;
    HRESULT SetViewport(const D3DVIEWPORT9* pViewport) override;
    HRESULT GetViewport(D3DVIEWPORT9* pViewport) override;
    HRESULT SetMaterial(const D3DMATERIAL9* pMaterial) override;
    HRESULT GetMaterial(D3DMATERIAL9* pMaterial) override;
    HRESULT SetLight(DWORD Index, const D3DLIGHT9* pLight) override;
    HRESULT GetLight(DWORD Index, D3DLIGHT9* pLight) override;
    HRESULT LightEnable(DWORD Index, BOOL Enable) override;
    HRESULT GetLightEnable(DWORD Index, BOOL* pEnable) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue) override;
    HRESULT CreateStateBlock(D3DSTATEBLOCKTYPE Type, IDirect3DStateBlock9** ppSB) override;
    HRESULT BeginStateBlock() override;
    HRESULT EndStateBlock(IDirect3DStateBlock9** ppSB) override;
    HRESULT GetTexture(DWORD Stage, IDirect3DBaseTexture9** ppTexture) override;
    HRESULT SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture) override;
    HRESULT GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD* pValue) override;
    HRESULT SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value) override;
    HRESULT GetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD* pValue) override;
    HRESULT SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE PrimitiveType, int BaseVertexIndex, UINT MinVertexIndex,
                                 UINT NumVertices, UINT startIndex, UINT primCount) override;
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT PrimitiveCount,
                            const void* pVertexStreamZeroData, UINT VertexStreamZeroStride) override;
    HRESULT SetFVF(DWORD FVF) override;
    HRESULT GetFVF(DWORD* pFVF) override;
    HRESULT SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData, UINT OffsetInBytes,
                            UINT Stride) override;
    HRESULT GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9** ppStreamData, UINT* pOffsetInBytes,
                            UINT* pStride) override;
    HRESULT SetIndices(IDirect3DIndexBuffer9* pIndexData) override;
    HRESULT GetIndices(IDirect3DIndexBuffer9** ppIndexData) override;

    // Layer side.
    GlState& gl() { return gl_; }
    // Makes the device's context current (one compare when it already is). False when the window is gone:
    // then no GL call may be made.
    bool makeCurrent();
    GLuint depthStencilBuffer() const { return depthStencil_; }
    // An index buffer was bound for an update: the draw path binds the device's indices again.
    void indicesRebound() { dirty_ |= kDirtyIndices; }
    // The depth-stencil buffer a target of this size draws with: the device's one, or where the dialect
    // wants attachments of one size (WebGL), a buffer of the target's size kept per size.
    GLuint depthStencilBufferFor(UINT width, UINT height);
    UINT depthStencilWidth() const { return pp_.BackBufferWidth; }
    UINT depthStencilHeight() const { return pp_.BackBufferHeight; }
    const DeviceState& state() const { return state_; }
    void forgetStateBlock(StateBlock* block);
    // A GL buffer is being deleted: the vertex input must be set up again even if the name is reused.
    void forgetBuffer(GLuint buffer);
    bool isRecording() const { return recording_ != nullptr; }
    HRESULT readSurface(Surface* surface, void* pixels, UINT pitch);
    void finish();
    const d3d9_stats& stats() const { return stats_; }
    void countMipRegeneration(unsigned levels) { stats_.mipRegenerations += levels; }
    // Makes automatic levels first..last of a texture from level 0 (see TextureCopy); the GL state it
    // changes is marked for the next draw.
    void fillLevels(Texture* texture, GLint first, GLint last);
    // How many pixels of the targets one pixel of the drawing's design spans (see d3d9_set_pixel_scale).
    // The pixel scale of the current render target: the back buffer's; other targets are drawn as designed.
    float targetPixelScale() const { return renderTarget_ == backBuffer_ ? pixelScale_ : 1.0f; }
    void setPixelScale(float scale) {
        pixelScale_ = scale;
        dirty_ |= kDirtyViewport;
    }

private:
    Device(Direct3D9* d3d, HWND window, const D3DPRESENT_PARAMETERS& pp, DWORD flags);
    HRESULT initGl();
    void markRenderState(D3DRENDERSTATETYPE state);
    bool windowUsable() const;

    // Draw path (device_draw.cpp).
    HRESULT prepareDraw(const DrawRange& range);
    // The lowest level (highest number) a draw can sample through a stage; 0 when it only magnifies
    // (magnification.cpp).
    UINT highestLevelSampled(int stage, const DrawRange& range) const;
    bool depthTestPassesEverywhere() const;
    void applyVertexInput(GLuint buffer, UINT offset, UINT stride);
    void updateActiveLights();
    void updateUniforms(uint32_t dirty);
    void applyFixedState(uint32_t dirty);
    void applySampler(int sampler);
    bool validStreamSource(uint64_t vertexEnd) const;
    void afterDraw();
    // Binds the current render target, with the depth-stencil buffer when the drawing uses it.
    void bindTarget(bool withDepth);

    Direct3D9* d3d_;
    HWND window_;
    GlContext context_ = nullptr;
    std::map<std::pair<UINT, UINT>, GLuint> sizedDepthStencils_;
    D3DPRESENT_PARAMETERS pp_;
    DWORD behaviorFlags_;
    bool fullScreen_ = false;
    bool inScene_ = false;

    GlState gl_;
    DeviceState state_;
    StateBlock* recording_ = nullptr;  // between BeginStateBlock and EndStateBlock
    uint32_t dirty_ = kDirtyAll;
    uint32_t dirtySamplers_ = 0xFFFF;
    bool wFog_ = true;         // projection is perspective: fog on eye depth
    float pixelScale_ = 1.0f;  // target pixels per design pixel: scales the half-pixel rasterisation offset

    Surface* backBuffer_ = nullptr;    // device-owned; one internal reference
    Surface* renderTarget_ = nullptr;  // one internal reference
    Surface* depthSurface_ = nullptr;  // describes the depth-stencil buffer; device-owned
    GLuint depthStencil_ = 0;          // D24S8 renderbuffer of the back buffer's size
    GLuint backBufferColor_ = 0;
    GLuint vao_ = 0;
    GLuint upBuffer_ = 0;  // stream for DrawPrimitiveUP
    GLuint samplers_[kSamplers] = {};
    // Point sampling for textures whose level 0 is one value throughout (see Texture::uniformLevel0).
    GLuint uniformSampler_ = 0;

    FixedFunction ff_;
    TextureCopy copy_;
    FFUniforms uniforms_{};
    FFProgram* program_ = nullptr;
    int activeLights_[kMaxActiveLights];
    int activeLightCount_ = 0;
    // What the vertex input was last set up from.
    GLuint inputBuffer_ = 0;
    UINT inputOffset_ = ~0u, inputStride_ = 0;
    DWORD inputFvf_ = ~0u;
    unsigned enabledAttribs_ = 0;
    d3d9_stats stats_ = {};
};

// Stride of a flexible vertex format, 0 for a format the layer cannot draw.
UINT fvf_stride(DWORD fvf);

}  // namespace d3d9
