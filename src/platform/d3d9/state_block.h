#pragma once
// A recorded set of states. Between BeginStateBlock and EndStateBlock the device's setters write here instead
// of into the device; Apply replays exactly what was recorded (the last value of each state) through the
// device's own setters, and Capture refreshes those values from the device.
#include <bitset>
#include <vector>

#include "platform/d3d9/com_object.h"
#include "platform/d3d9/device_state.h"

namespace d3d9 {

class Device;

class StateBlock final : public IDirect3DStateBlock9, public ComObject {
public:
    explicit StateBlock(Device* device);
    ~StateBlock() override;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return addPublic(); }
    ULONG Release() override { return releasePublic(); }
    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override;
    HRESULT Capture() override;
    HRESULT Apply() override;

    // Recording (called by the device's setters while this block records).
    void recordRenderState(D3DRENDERSTATETYPE state, DWORD value);
    void recordStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value);
    void recordSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value);
    void recordTransform(int slot, const D3DMATRIX& m);
    void recordLight(DWORD index, const D3DLIGHT9& light);
    void recordLightEnable(DWORD index, BOOL enable);
    void recordMaterial(const D3DMATERIAL9& m);
    void recordViewport(const D3DVIEWPORT9& v);
    void recordFvf(DWORD fvf);
    void recordTexture(DWORD stage, Texture* texture);
    void recordStream(VertexBuffer* vb, UINT offset, UINT stride);
    void recordIndices(IndexBuffer* ib);
    // Records every state the device keeps (CreateStateBlock with D3DSBT_ALL).
    void recordAll(const DeviceState& s);
    // The device is going away: drop the references to its objects.
    void detach();

protected:
    IDirect3DDevice9* pinnedDevice() override;

private:
    Device* device_;
    std::bitset<kRenderStates> rsMask_;
    DWORD rs_[kRenderStates] = {};
    std::bitset<kStageStates> tssMask_[kStages];
    DWORD tss_[kStages][kStageStates] = {};
    std::bitset<kSamplerStates> sampMask_[kSamplers];
    DWORD samp_[kSamplers][kSamplerStates] = {};
    std::bitset<kTransformSlots> transformMask_;
    D3DMATRIX transforms_[kTransformSlots];
    struct LightRecord {
        DWORD index;
        bool hasLight;
        D3DLIGHT9 light;
        bool hasEnable;
        BOOL enable;
    };
    std::vector<LightRecord> lights_;
    bool hasMaterial_ = false;
    D3DMATERIAL9 material_;
    bool hasViewport_ = false;
    D3DVIEWPORT9 viewport_;
    bool hasFvf_ = false;
    DWORD fvf_ = 0;
    std::bitset<kSamplers> textureMask_;
    Texture* textures_[kSamplers] = {};  // one internal reference each
    bool hasStream_ = false;
    VertexBuffer* stream_ = nullptr;  // one internal reference
    UINT streamOffset_ = 0, streamStride_ = 0;
    bool hasIndices_ = false;
    IndexBuffer* indices_ = nullptr;  // one internal reference

    LightRecord& light(DWORD index);
};

}  // namespace d3d9
