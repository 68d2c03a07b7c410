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

void keep(Texture*& slot, Texture* value) {
    hold(slot, value);
}

void keep(IndexBuffer*& slot, IndexBuffer* value) {
    hold(slot, value);
}

void keep(StreamSource& slot, const StreamSource& value) {
    hold(slot.buffer, value.buffer);
    slot.offset = value.offset;
    slot.stride = value.stride;
}

// ---- How a block gives each state back to the device

void RenderStateKey::set(IDirect3DDevice9& d, DWORD v) const {
    d.SetRenderState(static_cast<D3DRENDERSTATETYPE>(state), v);
}
void StageStateKey::set(IDirect3DDevice9& d, DWORD v) const {
    d.SetTextureStageState(stage, static_cast<D3DTEXTURESTAGESTATETYPE>(type), v);
}
void SamplerStateKey::set(IDirect3DDevice9& d, DWORD v) const {
    d.SetSamplerState(sampler, static_cast<D3DSAMPLERSTATETYPE>(type), v);
}
void TransformKey::set(IDirect3DDevice9& d, const D3DMATRIX& v) const {
    d.SetTransform(transform_type(slot), &v);
}
void LightKey::set(IDirect3DDevice9& d, const D3DLIGHT9& v) const {
    d.SetLight(index, &v);
}
void LightEnableKey::set(IDirect3DDevice9& d, bool v) const {
    d.LightEnable(index, v ? TRUE : FALSE);
}
void MaterialKey::set(IDirect3DDevice9& d, const D3DMATERIAL9& v) const {
    d.SetMaterial(&v);
}
void ViewportKey::set(IDirect3DDevice9& d, const D3DVIEWPORT9& v) const {
    d.SetViewport(&v);
}
void FvfKey::set(IDirect3DDevice9& d, DWORD v) const {
    d.SetFVF(v);
}
void TextureKey::set(IDirect3DDevice9& d, Texture* v) const {
    d.SetTexture(stage, v);
}
void StreamKey::set(IDirect3DDevice9& d, const StreamSource& v) const {
    d.SetStreamSource(0, v.buffer, v.offset, v.stride);
}
void IndicesKey::set(IDirect3DDevice9& d, IndexBuffer* v) const {
    d.SetIndices(v);
}

// ---- The block

StateBlock::StateBlock(Device* device) : device_(device) {}

StateBlock::~StateBlock() {
    detach();
}

void StateBlock::detach() {
    for (auto& t : state_.textures) keep(t.value, static_cast<Texture*>(nullptr));
    keep(state_.stream.value, StreamSource{});
    keep(state_.indices.value, static_cast<IndexBuffer*>(nullptr));
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

void StateBlock::recordAll(const DeviceState& s) {
    for_each_state(s.lights.size(), [&](auto key) {
        if (names_state(key)) record(key, key.in(s));
    });
}

HRESULT StateBlock::Capture() {
    if (!device_) return D3DERR_INVALIDCALL;
    const DeviceState& s = device_->state();
    for_each_state(state_.lights.size(), [&](auto key) {
        auto& item = key.in(state_);
        if (item.captured) keep(item.value, key.in(s));
    });
    return D3D_OK;
}

HRESULT StateBlock::Apply() {
    if (!device_) return D3DERR_INVALIDCALL;
    Device* d = device_;
    // Direct3D refuses Apply while a block is being recorded; the device's setters would record instead.
    if (d->isRecording()) return D3DERR_INVALIDCALL;
    for_each_state(state_.lights.size(), [&](auto key) {
        const auto& item = key.in(state_);
        if (item.captured) key.set(*d, item.value);
    });
    return D3D_OK;
}

}  // namespace d3d9
