#pragma once
// A recorded set of states. Between BeginStateBlock and EndStateBlock the device's setters write here instead
// of into the device; Apply replays exactly what was recorded (the last value of each state) through the
// device's own setters, and Capture refreshes those values from the device. What a block can hold is the
// device's own state declaration (device_state.h), each value with a flag saying whether the block holds it.
#include <vector>

#include "platform/d3d9/com_object.h"
#include "platform/d3d9/device_state.h"

namespace d3d9 {

class Device;

// One value of a state block, and whether the block holds it.
template <typename T>
struct Recorded {
    T value{};
    bool captured = false;
};
using RecordedState = StateSet<Recorded>;

// Stores a value into a block's or the device's slot; the objects a slot points to are held by one internal
// reference.
template <typename T>
void keep(T& slot, const T& value) {
    slot = value;
}
void keep(Texture*& slot, Texture* value);
void keep(IndexBuffer*& slot, IndexBuffer* value);
void keep(StreamSource& slot, const StreamSource& value);

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

    // Recording (called by the device's setters while this block records): the block now holds the state
    // `key` names, with this value.
    template <typename Key, typename T>
    void record(Key key, const T& value) {
        grow(key);
        auto& item = key.in(state_);
        item.captured = true;
        keep(item.value, value);
    }
    // Records every state the device keeps (CreateStateBlock with D3DSBT_ALL).
    void recordAll(const DeviceState& s);
    // The device is going away: drop the references to its objects.
    void detach();

protected:
    IDirect3DDevice9* pinnedDevice() override;

private:
    template <typename Key>
    void grow(Key) {}
    void grow(LightKey k) { growLights(k.index); }
    void grow(LightEnableKey k) { growLights(k.index); }
    void growLights(DWORD index) {
        if (index >= state_.lights.size()) state_.lights.resize(index + 1);
    }

    Device* device_;
    RecordedState state_;
};

}  // namespace d3d9
