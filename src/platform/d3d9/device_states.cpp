// Set*/Get* of the device's state, and state blocks. Setters store what they are given (so Get* returns it),
// mark what the draw path must redo, and while a state block records, write into the block instead.
#include <cstring>

#include "platform/d3d9/device.h"
#include "platform/d3d9/state_block.h"

namespace d3d9 {

namespace {

// Every render state Direct3D 9 defines (its numbers have gaps).
const D3DRENDERSTATETYPE kValidStates[] = {
    D3DRS_ZENABLE,
    D3DRS_FILLMODE,
    D3DRS_SHADEMODE,
    D3DRS_ZWRITEENABLE,
    D3DRS_ALPHATESTENABLE,
    D3DRS_LASTPIXEL,
    D3DRS_SRCBLEND,
    D3DRS_DESTBLEND,
    D3DRS_CULLMODE,
    D3DRS_ZFUNC,
    D3DRS_ALPHAREF,
    D3DRS_ALPHAFUNC,
    D3DRS_DITHERENABLE,
    D3DRS_ALPHABLENDENABLE,
    D3DRS_FOGENABLE,
    D3DRS_SPECULARENABLE,
    D3DRS_FOGCOLOR,
    D3DRS_FOGTABLEMODE,
    D3DRS_FOGSTART,
    D3DRS_FOGEND,
    D3DRS_FOGDENSITY,
    D3DRS_RANGEFOGENABLE,
    D3DRS_STENCILENABLE,
    D3DRS_STENCILFAIL,
    D3DRS_STENCILZFAIL,
    D3DRS_STENCILPASS,
    D3DRS_STENCILFUNC,
    D3DRS_STENCILREF,
    D3DRS_STENCILMASK,
    D3DRS_STENCILWRITEMASK,
    D3DRS_TEXTUREFACTOR,
    D3DRS_WRAP0,
    D3DRS_WRAP1,
    D3DRS_WRAP2,
    D3DRS_WRAP3,
    D3DRS_WRAP4,
    D3DRS_WRAP5,
    D3DRS_WRAP6,
    D3DRS_WRAP7,
    D3DRS_CLIPPING,
    D3DRS_LIGHTING,
    D3DRS_AMBIENT,
    D3DRS_FOGVERTEXMODE,
    D3DRS_COLORVERTEX,
    D3DRS_LOCALVIEWER,
    D3DRS_NORMALIZENORMALS,
    D3DRS_DIFFUSEMATERIALSOURCE,
    D3DRS_SPECULARMATERIALSOURCE,
    D3DRS_AMBIENTMATERIALSOURCE,
    D3DRS_EMISSIVEMATERIALSOURCE,
    D3DRS_VERTEXBLEND,
    D3DRS_CLIPPLANEENABLE,
    D3DRS_POINTSIZE,
    D3DRS_POINTSIZE_MIN,
    D3DRS_POINTSPRITEENABLE,
    D3DRS_POINTSCALEENABLE,
    D3DRS_POINTSCALE_A,
    D3DRS_POINTSCALE_B,
    D3DRS_POINTSCALE_C,
    D3DRS_MULTISAMPLEANTIALIAS,
    D3DRS_MULTISAMPLEMASK,
    D3DRS_PATCHEDGESTYLE,
    D3DRS_DEBUGMONITORTOKEN,
    D3DRS_POINTSIZE_MAX,
    D3DRS_INDEXEDVERTEXBLENDENABLE,
    D3DRS_COLORWRITEENABLE,
    D3DRS_TWEENFACTOR,
    D3DRS_BLENDOP,
    D3DRS_POSITIONDEGREE,
    D3DRS_NORMALDEGREE,
    D3DRS_SCISSORTESTENABLE,
    D3DRS_SLOPESCALEDEPTHBIAS,
    D3DRS_ANTIALIASEDLINEENABLE,
    D3DRS_MINTESSELLATIONLEVEL,
    D3DRS_MAXTESSELLATIONLEVEL,
    D3DRS_ADAPTIVETESS_X,
    D3DRS_ADAPTIVETESS_Y,
    D3DRS_ADAPTIVETESS_Z,
    D3DRS_ADAPTIVETESS_W,
    D3DRS_ENABLEADAPTIVETESSELLATION,
    D3DRS_TWOSIDEDSTENCILMODE,
    D3DRS_CCW_STENCILFAIL,
    D3DRS_CCW_STENCILZFAIL,
    D3DRS_CCW_STENCILPASS,
    D3DRS_CCW_STENCILFUNC,
    D3DRS_COLORWRITEENABLE1,
    D3DRS_COLORWRITEENABLE2,
    D3DRS_COLORWRITEENABLE3,
    D3DRS_BLENDFACTOR,
    D3DRS_SRGBWRITEENABLE,
    D3DRS_DEPTHBIAS,
    D3DRS_WRAP8,
    D3DRS_WRAP9,
    D3DRS_WRAP10,
    D3DRS_WRAP11,
    D3DRS_WRAP12,
    D3DRS_WRAP13,
    D3DRS_WRAP14,
    D3DRS_WRAP15,
    D3DRS_SEPARATEALPHABLENDENABLE,
    D3DRS_SRCBLENDALPHA,
    D3DRS_DESTBLENDALPHA,
    D3DRS_BLENDOPALPHA,
};

// What a change of each render state makes the draw path redo; 0 for states that are only stored.
struct RenderStateTable {
    uint32_t dirty[kRenderStates] = {};
    bool valid[kRenderStates] = {};
    RenderStateTable() {
        for (D3DRENDERSTATETYPE s : kValidStates) valid[s] = true;
        for (int s : {D3DRS_LIGHTING, D3DRS_SPECULARENABLE, D3DRS_NORMALIZENORMALS, D3DRS_LOCALVIEWER,
                      D3DRS_COLORVERTEX, D3DRS_DIFFUSEMATERIALSOURCE, D3DRS_SPECULARMATERIALSOURCE,
                      D3DRS_AMBIENTMATERIALSOURCE, D3DRS_EMISSIVEMATERIALSOURCE, D3DRS_FOGENABLE,
                      D3DRS_FOGTABLEMODE, D3DRS_FOGVERTEXMODE, D3DRS_RANGEFOGENABLE, D3DRS_ALPHATESTENABLE,
                      D3DRS_ALPHAFUNC, D3DRS_SHADEMODE})
            dirty[s] |= kDirtyProgram;
        for (int s : {D3DRS_FOGCOLOR, D3DRS_FOGSTART, D3DRS_FOGEND, D3DRS_FOGDENSITY}) dirty[s] |= kDirtyFog;
        dirty[D3DRS_AMBIENT] |= kDirtyMaterial;
        dirty[D3DRS_TEXTUREFACTOR] |= kDirtyFactors;
        dirty[D3DRS_ALPHAREF] |= kDirtyFactors;
        for (int s : {D3DRS_ALPHABLENDENABLE, D3DRS_SRCBLEND, D3DRS_DESTBLEND, D3DRS_BLENDOP,
                      D3DRS_BLENDFACTOR, D3DRS_SEPARATEALPHABLENDENABLE, D3DRS_SRCBLENDALPHA,
                      D3DRS_DESTBLENDALPHA, D3DRS_BLENDOPALPHA, D3DRS_COLORWRITEENABLE})
            dirty[s] |= kDirtyBlend;
        for (int s : {D3DRS_ZENABLE, D3DRS_ZWRITEENABLE, D3DRS_ZFUNC, D3DRS_STENCILENABLE, D3DRS_STENCILFAIL,
                      D3DRS_STENCILZFAIL, D3DRS_STENCILPASS, D3DRS_STENCILFUNC, D3DRS_STENCILREF,
                      D3DRS_STENCILMASK, D3DRS_STENCILWRITEMASK})
            dirty[s] |= kDirtyDepthStencil;
        for (int s : {D3DRS_CULLMODE, D3DRS_FILLMODE}) dirty[s] |= kDirtyRaster;
    }
};

const RenderStateTable& render_state_table() {
    static const RenderStateTable table;
    return table;
}

}  // namespace

bool valid_render_state(DWORD state) {
    return state < kRenderStates && render_state_table().valid[state];
}

bool valid_stage_state(DWORD type) {
    return (type >= D3DTSS_COLOROP && type <= D3DTSS_TEXCOORDINDEX) || type == D3DTSS_BUMPENVLSCALE ||
           type == D3DTSS_BUMPENVLOFFSET || type == D3DTSS_TEXTURETRANSFORMFLAGS ||
           (type >= D3DTSS_COLORARG0 && type <= D3DTSS_RESULTARG) || type == D3DTSS_CONSTANT;
}

bool valid_sampler_state(DWORD type) {
    return type >= D3DSAMP_ADDRESSU && type <= D3DSAMP_DMAPOFFSET;
}

// ---- Render, texture-stage and sampler states
// --------------------------------------------------------------

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (!valid_render_state(state)) return D3DERR_INVALIDCALL;
    if (recording_) {
        recording_->record(RenderStateKey{state}, value);
        return D3D_OK;
    }
    if (state_.rs[state] == value) return D3D_OK;
    state_.rs[state] = value;
    dirty_ |= render_state_table().dirty[state];
    return D3D_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (!value || !valid_render_state(state)) return D3DERR_INVALIDCALL;
    *value = state_.rs[state];
    return D3D_OK;
}

HRESULT Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    if (stage >= kStages || !valid_stage_state(type)) return D3DERR_INVALIDCALL;
    if (recording_) {
        recording_->record(StageStateKey{stage, type}, value);
        return D3D_OK;
    }
    DWORD& slot = state_.tss[stage][type];
    if (slot == value) return D3D_OK;
    slot = value;
    if (type == D3DTSS_CONSTANT)
        dirty_ |= kDirtyFactors;
    else if (type < D3DTSS_BUMPENVMAT00 || type > D3DTSS_BUMPENVMAT11)
        dirty_ |= kDirtyProgram | kDirtyTextures;
    return D3D_OK;
}

HRESULT Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
    if (!value || stage >= kStages || !valid_stage_state(type)) return D3DERR_INVALIDCALL;
    *value = state_.tss[stage][type];
    return D3D_OK;
}

HRESULT Device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    if (sampler >= kSamplers || !valid_sampler_state(type)) return D3DERR_INVALIDCALL;
    if (recording_) {
        recording_->record(SamplerStateKey{sampler, type}, value);
        return D3D_OK;
    }
    DWORD& slot = state_.samp[sampler][type];
    if (slot == value) return D3D_OK;
    slot = value;
    dirtySamplers_ |= 1u << sampler;
    return D3D_OK;
}

HRESULT Device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
    if (!value || sampler >= kSamplers || !valid_sampler_state(type)) return D3DERR_INVALIDCALL;
    *value = state_.samp[sampler][type];
    return D3D_OK;
}

// ---- Transforms
// ---------------------------------------------------------------------------------------------

HRESULT Device::SetTransform(D3DTRANSFORMSTATETYPE type, const D3DMATRIX* m) {
    const int slot = transform_slot(type);
    if (!m || slot < 0) return D3DERR_INVALIDCALL;
    if (recording_) {
        recording_->record(TransformKey{slot}, *m);
        return D3D_OK;
    }
    D3DMATRIX& t = state_.transforms[slot];
    if (std::memcmp(&t, m, sizeof t) == 0) return D3D_OK;
    t = *m;
    if (slot == kSlotView)
        dirty_ |= kDirtyMatrices | kDirtyLights;
    else if (slot == kSlotProjection || slot == kSlotWorld0)
        dirty_ |= kDirtyMatrices;
    else if (slot >= kSlotTexture0 && slot < kSlotWorld0)
        dirty_ |= kDirtyTexMatrices;
    if (slot == kSlotProjection) {
        // Perspective projections fog on eye depth; affine ones (fourth column 0, 0, 0, 1) on device depth.
        const bool w = !(m->_14 == 0.0f && m->_24 == 0.0f && m->_34 == 0.0f && m->_44 == 1.0f);
        if (w != wFog_) {
            wFog_ = w;
            dirty_ |= kDirtyProgram;
        }
    }
    return D3D_OK;
}

HRESULT Device::GetTransform(D3DTRANSFORMSTATETYPE type, D3DMATRIX* m) {
    const int slot = transform_slot(type);
    if (!m || slot < 0) return D3DERR_INVALIDCALL;
    *m = state_.transforms[slot];
    return D3D_OK;
}

HRESULT Device::MultiplyTransform(D3DTRANSFORMSTATETYPE type, const D3DMATRIX* m) {
    const int slot = transform_slot(type);
    if (!m || slot < 0) return D3DERR_INVALIDCALL;
    // The new transform is m * current (m applied first, as the platform documents).
    const D3DMATRIX& a = *m;
    const D3DMATRIX& b = state_.transforms[slot];
    D3DMATRIX r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r.m[i][j] =
                a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] + a.m[i][3] * b.m[3][j];
    return SetTransform(type, &r);
}

// ---- Viewport, material, lights
// -----------------------------------------------------------------------------

HRESULT Device::SetViewport(const D3DVIEWPORT9* v) {
    if (!v) return D3DERR_INVALIDCALL;
    // The viewport must lie inside the render target and have a size.
    const UINT tw = renderTarget_ ? renderTarget_->width() : pp_.BackBufferWidth;
    const UINT th = renderTarget_ ? renderTarget_->height() : pp_.BackBufferHeight;
    if (v->Width == 0 || v->Height == 0 || v->X >= tw || v->Y >= th || v->Width > tw - v->X ||
        v->Height > th - v->Y || !(v->MinZ >= 0.0f && v->MinZ <= 1.0f) ||
        !(v->MaxZ >= 0.0f && v->MaxZ <= 1.0f))
        return D3DERR_INVALIDCALL;
    if (recording_) {
        recording_->record(ViewportKey{}, *v);
        return D3D_OK;
    }
    if (std::memcmp(&state_.viewport, v, sizeof *v) == 0) return D3D_OK;
    state_.viewport = *v;
    dirty_ |= kDirtyViewport;
    return D3D_OK;
}

HRESULT Device::GetViewport(D3DVIEWPORT9* v) {
    if (!v) return D3DERR_INVALIDCALL;
    *v = state_.viewport;
    return D3D_OK;
}

HRESULT Device::SetMaterial(const D3DMATERIAL9* m) {
    if (!m) return D3DERR_INVALIDCALL;
    if (recording_) {
        recording_->record(MaterialKey{}, *m);
        return D3D_OK;
    }
    if (std::memcmp(&state_.material, m, sizeof *m) == 0) return D3D_OK;
    state_.material = *m;
    dirty_ |= kDirtyMaterial;
    return D3D_OK;
}

HRESULT Device::GetMaterial(D3DMATERIAL9* m) {
    if (!m) return D3DERR_INVALIDCALL;
    *m = state_.material;
    return D3D_OK;
}

namespace {
// Light indices are any DWORD on the platform; the layer keeps them in a table and caps it to stay bounded.
constexpr DWORD kMaxLightIndex = 4096;
}  // namespace

HRESULT Device::SetLight(DWORD index, const D3DLIGHT9* light) {
    if (!light || index >= kMaxLightIndex) return D3DERR_INVALIDCALL;
    if (light->Type < D3DLIGHT_POINT || light->Type > D3DLIGHT_DIRECTIONAL) return D3DERR_INVALIDCALL;
    if (light->Type != D3DLIGHT_DIRECTIONAL && !(light->Range >= 0.0f)) return D3DERR_INVALIDCALL;
    if (recording_) {
        recording_->record(LightKey{index}, *light);
        return D3D_OK;
    }
    if (index >= state_.lights.size()) state_.lights.resize(index + 1, LightSlot{default_light(), false});
    LightSlot& slot = state_.lights[index];
    if (std::memcmp(&slot.light, light, sizeof *light) == 0) return D3D_OK;
    const bool typeChanged = slot.light.Type != light->Type;
    slot.light = *light;
    if (slot.enabled) dirty_ |= kDirtyLights | (typeChanged ? kDirtyActiveLights : 0u);
    return D3D_OK;
}

HRESULT Device::GetLight(DWORD index, D3DLIGHT9* light) {
    if (!light || index >= state_.lights.size()) return D3DERR_INVALIDCALL;
    *light = state_.lights[index].light;
    return D3D_OK;
}

HRESULT Device::LightEnable(DWORD index, BOOL enable) {
    if (index >= kMaxLightIndex) return D3DERR_INVALIDCALL;
    if (recording_) {
        recording_->record(LightEnableKey{index}, enable != FALSE);
        return D3D_OK;
    }
    // Enabling an index that was never set creates the default light there.
    if (index >= state_.lights.size()) state_.lights.resize(index + 1, LightSlot{default_light(), false});
    LightSlot& slot = state_.lights[index];
    const bool on = enable != FALSE;
    if (slot.enabled == on) return D3D_OK;
    slot.enabled = on;
    dirty_ |= kDirtyActiveLights | kDirtyLights;
    return D3D_OK;
}

HRESULT Device::GetLightEnable(DWORD index, BOOL* enable) {
    if (!enable || index >= state_.lights.size()) return D3DERR_INVALIDCALL;
    *enable = state_.lights[index].enabled ? TRUE : FALSE;
    return D3D_OK;
}

// ---- Textures and vertex input
// ------------------------------------------------------------------------------

HRESULT Device::SetTexture(DWORD stage, IDirect3DBaseTexture9* base) {
    if (stage >= kSamplers) return D3DERR_INVALIDCALL;
    // Every texture of this layer is a Texture; anything else is not ours.
    Texture* texture = static_cast<Texture*>(static_cast<IDirect3DTexture9*>(base));
    if (base && base->GetType() != D3DRTYPE_TEXTURE) return D3DERR_INVALIDCALL;
    if (recording_) {
        recording_->record(TextureKey{stage}, texture);
        return D3D_OK;
    }
    Texture*& slot = state_.textures[stage];
    if (slot == texture) return D3D_OK;
    // Only a change between "no texture" and "a texture" changes the shader variant.
    if ((slot == nullptr) != (texture == nullptr)) dirty_ |= kDirtyProgram;
    keep(slot, texture);
    dirty_ |= kDirtyTextures;
    return D3D_OK;
}

HRESULT Device::GetTexture(DWORD stage, IDirect3DBaseTexture9** out) {
    if (!out || stage >= kSamplers) return D3DERR_INVALIDCALL;
    Texture* t = state_.textures[stage];
    if (t) t->AddRef();
    *out = t;
    return D3D_OK;
}

HRESULT Device::SetFVF(DWORD fvf) {
    if (recording_) {
        recording_->record(FvfKey{}, fvf);
        return D3D_OK;
    }
    if (state_.fvf == fvf) return D3D_OK;
    state_.fvf = fvf;
    dirty_ |= kDirtyProgram | kDirtyVertexInput;
    return D3D_OK;
}

HRESULT Device::GetFVF(DWORD* fvf) {
    if (!fvf) return D3DERR_INVALIDCALL;
    *fvf = state_.fvf;
    return D3D_OK;
}

HRESULT Device::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* data, UINT offset, UINT stride) {
    if (stream != 0) return D3DERR_INVALIDCALL;  // one stream: what fixed-function formats use
    if (offset % 4 != 0) return D3DERR_INVALIDCALL;
    auto* vb = static_cast<VertexBuffer*>(data);
    if (recording_) {
        recording_->record(StreamKey{}, StreamSource{vb, offset, stride});
        return D3D_OK;
    }
    StreamSource& s = state_.stream;
    if (s.buffer == vb && s.offset == offset && s.stride == stride) return D3D_OK;
    keep(s, StreamSource{vb, offset, stride});
    dirty_ |= kDirtyVertexInput;
    return D3D_OK;
}

HRESULT Device::GetStreamSource(UINT stream, IDirect3DVertexBuffer9** data, UINT* offset, UINT* stride) {
    if (stream != 0 || !data || !offset || !stride) return D3DERR_INVALIDCALL;
    const StreamSource& s = state_.stream;
    if (s.buffer) s.buffer->AddRef();
    *data = s.buffer;
    *offset = s.offset;
    *stride = s.stride;
    return D3D_OK;
}

HRESULT Device::SetIndices(IDirect3DIndexBuffer9* data) {
    auto* ib = static_cast<IndexBuffer*>(data);
    if (recording_) {
        recording_->record(IndicesKey{}, ib);
        return D3D_OK;
    }
    if (state_.indices == ib) return D3D_OK;
    keep(state_.indices, ib);
    dirty_ |= kDirtyIndices;
    return D3D_OK;
}

HRESULT Device::GetIndices(IDirect3DIndexBuffer9** data) {
    if (!data) return D3DERR_INVALIDCALL;
    if (state_.indices) state_.indices->AddRef();
    *data = state_.indices;
    return D3D_OK;
}

// ---- State blocks
// -------------------------------------------------------------------------------------------

HRESULT Device::BeginStateBlock() {
    if (recording_) return D3DERR_INVALIDCALL;
    recording_ = new StateBlock(this);
    recording_->AddRef();
    return D3D_OK;
}

HRESULT Device::EndStateBlock(IDirect3DStateBlock9** out) {
    if (!out || !recording_) return D3DERR_INVALIDCALL;
    *out = recording_;  // the reference taken at BeginStateBlock goes to the caller
    recording_ = nullptr;
    return D3D_OK;
}

HRESULT Device::CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    // Only the whole-state snapshot is provided; the pixel and vertex subsets are not.
    if (type != D3DSBT_ALL || recording_) return D3DERR_INVALIDCALL;
    auto* block = new StateBlock(this);
    block->AddRef();
    block->recordAll(state_);
    *out = block;
    return D3D_OK;
}

}  // namespace d3d9
