#include "platform/d3d9/com_object.h"

namespace d3d9 {

ULONG ComObject::addPublic() {
    if (public_++ == 0) {
        if (IDirect3DDevice9* device = pinnedDevice()) device->AddRef();
    }
    return public_;
}

ULONG ComObject::releasePublic() {
    if (public_ == 0) return 0;  // over-release: ignore rather than corrupt the count
    ULONG left = --public_;
    if (left == 0) {
        // The device reference goes last: destroying the object may still need the device's GL context.
        IDirect3DDevice9* device = pinnedDevice();
        destroyIfUnused();
        if (device) device->Release();
    }
    return left;
}

void ComObject::releaseInternal() {
    if (internal_ == 0) return;
    if (--internal_ == 0) destroyIfUnused();
}

void ComObject::destroyIfUnused() {
    if (public_ == 0 && internal_ == 0) delete this;
}

}  // namespace d3d9
