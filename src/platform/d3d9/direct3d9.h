#pragma once
// The IDirect3D9 object: the one adapter (the SDL display), its mode and capabilities, device creation.
#include "platform/d3d9/com_object.h"

namespace d3d9 {

class Direct3D9 final : public IDirect3D9, public ComObject {
public:
    Direct3D9() = default;
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return addPublic(); }
    ULONG Release() override { return releasePublic(); }
    UINT GetAdapterCount() override { return 1; }
    HRESULT GetAdapterDisplayMode(UINT Adapter, D3DDISPLAYMODE* pMode) override;
    HRESULT GetDeviceCaps(UINT Adapter, D3DDEVTYPE DeviceType, D3DCAPS9* pCaps) override;
    HRESULT CreateDevice(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow, DWORD BehaviorFlags,
                         D3DPRESENT_PARAMETERS* pPresentationParameters,
                         IDirect3DDevice9** ppReturnedDeviceInterface) override;
};

// The capabilities of the layer's device.
void fill_caps(D3DCAPS9* caps);
// The desktop's current mode; false when SDL cannot tell.
bool desktop_mode(D3DDISPLAYMODE* mode);

}  // namespace d3d9
