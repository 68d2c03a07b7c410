#include "platform/d3d9/state_block.h"

#include "platform/d3d9/device.h"

namespace d3d9 {

namespace {

template <typename T>
void hold(T*& slot, T* value) {
    if (value) value->addInternal();
    if (slot) slot->releaseInternal();
    slot = value;
}

}  // namespace

StateBlock::StateBlock(Device* device) : device_(device) {}

StateBlock::~StateBlock() {
    detach();
}

void StateBlock::detach() {
    for (auto& t : textures_) hold<Texture>(t, nullptr);
    hold<VertexBuffer>(stream_, nullptr);
    hold<IndexBuffer>(indices_, nullptr);
    if (device_) device_->forgetStateBlock(this);
}

IDirect3DDevice9* StateBlock::pinnedDevice() {
    return device_;
}

HRESULT StateBlock::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirect3DStateBlock9) {
        AddRef();
        *ppv = static_cast<IDirect3DStateBlock9*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT StateBlock::GetDevice(IDirect3DDevice9** ppDevice) {
    if (!ppDevice) return D3DERR_INVALIDCALL;
    device_->AddRef();
    *ppDevice = device_;
    return D3D_OK;
}

void StateBlock::recordRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    rsMask_.set(state);
    rs_[state] = value;
}

void StateBlock::recordStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    tssMask_[stage].set(type);
    tss_[stage][type] = value;
}

void StateBlock::recordSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    sampMask_[sampler].set(type);
    samp_[sampler][type] = value;
}

void StateBlock::recordTransform(int slot, const D3DMATRIX& m) {
    transformMask_.set(static_cast<size_t>(slot));
    transforms_[slot] = m;
}

StateBlock::LightRecord& StateBlock::light(DWORD index) {
    for (auto& l : lights_)
        if (l.index == index) return l;
    lights_.push_back(LightRecord{index, false, {}, false, FALSE});
    return lights_.back();
}

void StateBlock::recordLight(DWORD index, const D3DLIGHT9& l) {
    LightRecord& r = light(index);
    r.hasLight = true;
    r.light = l;
}

void StateBlock::recordLightEnable(DWORD index, BOOL enable) {
    LightRecord& r = light(index);
    r.hasEnable = true;
    r.enable = enable;
}

void StateBlock::recordMaterial(const D3DMATERIAL9& m) {
    hasMaterial_ = true;
    material_ = m;
}

void StateBlock::recordViewport(const D3DVIEWPORT9& v) {
    hasViewport_ = true;
    viewport_ = v;
}

void StateBlock::recordFvf(DWORD fvf) {
    hasFvf_ = true;
    fvf_ = fvf;
}

void StateBlock::recordTexture(DWORD stage, Texture* texture) {
    textureMask_.set(stage);
    hold(textures_[stage], texture);
}

void StateBlock::recordStream(VertexBuffer* vb, UINT offset, UINT stride) {
    hasStream_ = true;
    hold(stream_, vb);
    streamOffset_ = offset;
    streamStride_ = stride;
}

void StateBlock::recordIndices(IndexBuffer* ib) {
    hasIndices_ = true;
    hold(indices_, ib);
}

void StateBlock::recordAll(const DeviceState& s) {
    for (int i = 0; i < kRenderStates; ++i) {
        // Only real render states: the gaps of the enumeration are not states.
        DWORD v;
        if (device_->GetRenderState(static_cast<D3DRENDERSTATETYPE>(i), &v) == D3D_OK)
            recordRenderState(static_cast<D3DRENDERSTATETYPE>(i), s.rs[i]);
    }
    for (DWORD st = 0; st < kStages; ++st)
        for (int t = 0; t < kStageStates; ++t) {
            DWORD v;
            if (device_->GetTextureStageState(st, static_cast<D3DTEXTURESTAGESTATETYPE>(t), &v) == D3D_OK)
                recordStageState(st, static_cast<D3DTEXTURESTAGESTATETYPE>(t), s.tss[st][t]);
        }
    for (DWORD sp = 0; sp < kSamplers; ++sp)
        for (int t = 0; t < kSamplerStates; ++t) {
            DWORD v;
            if (device_->GetSamplerState(sp, static_cast<D3DSAMPLERSTATETYPE>(t), &v) == D3D_OK)
                recordSamplerState(sp, static_cast<D3DSAMPLERSTATETYPE>(t), s.samp[sp][t]);
        }
    for (int slot = 0; slot < kTransformSlots; ++slot) recordTransform(slot, s.transforms[slot]);
    for (size_t i = 0; i < s.lights.size(); ++i) {
        recordLight(static_cast<DWORD>(i), s.lights[i].light);
        recordLightEnable(static_cast<DWORD>(i), s.lights[i].enabled);
    }
    recordMaterial(s.material);
    recordViewport(s.viewport);
    recordFvf(s.fvf);
    for (DWORD st = 0; st < kSamplers; ++st) recordTexture(st, s.textures[st]);
    recordStream(s.stream, s.streamOffset, s.streamStride);
    recordIndices(s.indices);
}

HRESULT StateBlock::Capture() {
    if (!device_) return D3DERR_INVALIDCALL;
    const DeviceState& s = device_->state();
    for (int i = 0; i < kRenderStates; ++i)
        if (rsMask_.test(i)) rs_[i] = s.rs[i];
    for (int st = 0; st < kStages; ++st)
        for (int t = 0; t < kStageStates; ++t)
            if (tssMask_[st].test(t)) tss_[st][t] = s.tss[st][t];
    for (int sp = 0; sp < kSamplers; ++sp)
        for (int t = 0; t < kSamplerStates; ++t)
            if (sampMask_[sp].test(t)) samp_[sp][t] = s.samp[sp][t];
    for (int slot = 0; slot < kTransformSlots; ++slot)
        if (transformMask_.test(slot)) transforms_[slot] = s.transforms[slot];
    for (auto& l : lights_) {
        const bool exists = l.index < s.lights.size();
        if (l.hasLight) l.light = exists ? s.lights[l.index].light : default_light();
        if (l.hasEnable) l.enable = exists && s.lights[l.index].enabled;
    }
    if (hasMaterial_) material_ = s.material;
    if (hasViewport_) viewport_ = s.viewport;
    if (hasFvf_) fvf_ = s.fvf;
    for (int st = 0; st < kSamplers; ++st)
        if (textureMask_.test(st)) hold(textures_[st], s.textures[st]);
    if (hasStream_) {
        hold(stream_, s.stream);
        streamOffset_ = s.streamOffset;
        streamStride_ = s.streamStride;
    }
    if (hasIndices_) hold(indices_, s.indices);
    return D3D_OK;
}

HRESULT StateBlock::Apply() {
    if (!device_) return D3DERR_INVALIDCALL;
    Device* d = device_;
    // Direct3D refuses Apply while a block is being recorded; the device's setters would record instead.
    if (d->isRecording()) return D3DERR_INVALIDCALL;
    // In ascending order, with standard bitset calls only (libc++ in the browser build has no _Find_first).
    for (size_t i = 0; i < rsMask_.size(); ++i)
        if (rsMask_.test(i)) d->SetRenderState(static_cast<D3DRENDERSTATETYPE>(i), rs_[i]);
    for (DWORD st = 0; st < kStages; ++st) {
        const auto& mask = tssMask_[st];
        for (size_t t = 0; t < mask.size(); ++t)
            if (mask.test(t))
                d->SetTextureStageState(st, static_cast<D3DTEXTURESTAGESTATETYPE>(t), tss_[st][t]);
    }
    for (DWORD sp = 0; sp < kSamplers; ++sp) {
        const auto& mask = sampMask_[sp];
        for (size_t t = 0; t < mask.size(); ++t)
            if (mask.test(t)) d->SetSamplerState(sp, static_cast<D3DSAMPLERSTATETYPE>(t), samp_[sp][t]);
    }
    for (size_t slot = 0; slot < transformMask_.size(); ++slot)
        if (transformMask_.test(slot))
            d->SetTransform(transform_type(static_cast<int>(slot)), &transforms_[slot]);
    for (const auto& l : lights_) {
        if (l.hasLight) d->SetLight(l.index, &l.light);
        if (l.hasEnable) d->LightEnable(l.index, l.enable);
    }
    if (hasMaterial_) d->SetMaterial(&material_);
    if (hasViewport_) d->SetViewport(&viewport_);
    if (hasFvf_) d->SetFVF(fvf_);
    for (DWORD st = 0; st < kSamplers; ++st)
        if (textureMask_.test(st)) d->SetTexture(st, textures_[st]);
    if (hasStream_) d->SetStreamSource(0, stream_, streamOffset_, streamStride_);
    if (hasIndices_) d->SetIndices(indices_);
    return D3D_OK;
}

}  // namespace d3d9
