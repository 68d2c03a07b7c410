#pragma once
// Reference counting shared by the device's objects.
//
// Every object has the public COM count (AddRef/Release) and a private count of the device's own references
// (bindings, state blocks, the current render target). Binding an object does not change its public count, as
// on the platform; the object lives until both counts are zero. While its public count is non-zero a resource
// holds one public reference on its device, so the device outlives every resource the program still holds.
#include <cstring>

#include "platform/d3d9/d3d9.h"

namespace d3d9 {

class Device;

class ComObject {
public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    ULONG addPublic();
    ULONG releasePublic();
    void addInternal() { ++internal_; }
    void releaseInternal();
    ULONG publicCount() const { return public_; }

protected:
    virtual ~ComObject() = default;
    // The device whose public count this object's public references pin; null for the device itself.
    virtual IDirect3DDevice9* pinnedDevice() { return nullptr; }
    void destroyIfUnused();

private:
    ULONG public_ = 0;
    ULONG internal_ = 0;
};

inline bool iid_is(REFIID riid, const IID& a) {
    return riid == a;
}

}  // namespace d3d9
