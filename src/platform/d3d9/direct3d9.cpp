#include "platform/d3d9/direct3d9.h"

#include <cstring>

#include "platform/d3d9/device.h"
#include "platform/d3d9/gl_dialect.h"
#include "platform/d3d9/gl_window.h"

// Interface identifiers as the platform's headers define them.
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IDirect3D9 = {0x81bdcbca, 0x64d4, 0x426d, {0xae, 0x8d, 0xad, 0x01, 0x47, 0xf4, 0x27, 0x5c}};
const IID IID_IDirect3DDevice9 = {
    0xd0223b96, 0xbf7a, 0x43fd, {0x92, 0xbd, 0xa4, 0x3b, 0x0d, 0x82, 0xb9, 0xeb}};
const IID IID_IDirect3DResource9 = {
    0x05eec05d, 0x8f7d, 0x4362, {0xb9, 0x99, 0xd1, 0xba, 0xf3, 0x57, 0xc7, 0x04}};
const IID IID_IDirect3DBaseTexture9 = {
    0x580ca87e, 0x1d3c, 0x4d54, {0x99, 0x1d, 0xb7, 0xd3, 0xe3, 0xc2, 0x98, 0xce}};
const IID IID_IDirect3DTexture9 = {
    0x85c31227, 0x3de5, 0x4f00, {0x9b, 0x3a, 0xf1, 0x1a, 0xc3, 0x8c, 0x18, 0xb5}};
const IID IID_IDirect3DSurface9 = {
    0x0cfbaf3a, 0x9ff6, 0x429a, {0x99, 0xb3, 0xa2, 0x79, 0x6a, 0xf8, 0xb8, 0x9b}};
const IID IID_IDirect3DVertexBuffer9 = {
    0xb64bb1b5, 0xfd70, 0x4df6, {0xbf, 0x91, 0x19, 0xd0, 0xa1, 0x24, 0x55, 0xe3}};
const IID IID_IDirect3DIndexBuffer9 = {
    0x7c9dd65e, 0xd3f7, 0x4529, {0xac, 0xee, 0x78, 0x58, 0x30, 0xac, 0xde, 0x35}};
const IID IID_IDirect3DStateBlock9 = {
    0xb07c4fe5, 0x310d, 0x4ba8, {0xa2, 0x3c, 0x4f, 0x0f, 0x20, 0x6f, 0x21, 0x8b}};

IDirect3D9* Direct3DCreate9(UINT SDKVersion) {
    if (SDKVersion != D3D_SDK_VERSION) return nullptr;
    if (!d3d9::glwin_video_init()) return nullptr;
    auto* d3d = new d3d9::Direct3D9;
    d3d->AddRef();
    return d3d;
}

namespace d3d9 {

bool desktop_mode(D3DDISPLAYMODE* mode) {
    int w = 0, h = 0, refresh = 0, bits = 0;
    if (!glwin_desktop_mode(&w, &h, &refresh, &bits) || w <= 0 || h <= 0) return false;
    mode->Width = static_cast<UINT>(w);
    mode->Height = static_cast<UINT>(h);
    mode->RefreshRate = refresh > 0 ? static_cast<UINT>(refresh) : 60;
    switch (bits) {
        case 16:
            mode->Format = D3DFMT_R5G6B5;
            break;
        case 15:
            mode->Format = D3DFMT_X1R5G5B5;
            break;
        default:
            mode->Format = D3DFMT_X8R8G8B8;
            break;
    }
    return true;
}

void fill_caps(D3DCAPS9* c) {
    std::memset(c, 0, sizeof *c);
    c->DeviceType = D3DDEVTYPE_HAL;
    c->AdapterOrdinal = 0;
    c->Caps2 = D3DCAPS2_CANAUTOGENMIPMAP;
    c->PresentationIntervals = D3DPRESENT_INTERVAL_ONE | D3DPRESENT_INTERVAL_IMMEDIATE;
    c->DevCaps = D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY |
                 D3DDEVCAPS_TLVERTEXVIDEOMEMORY | D3DDEVCAPS_TEXTUREVIDEOMEMORY |
                 D3DDEVCAPS_DRAWPRIMTLVERTEX | D3DDEVCAPS_CANRENDERAFTERFLIP | D3DDEVCAPS_DRAWPRIMITIVES2 |
                 D3DDEVCAPS_DRAWPRIMITIVES2EX | D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_HWRASTERIZATION;
    c->PrimitiveMiscCaps =
        D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW | D3DPMISCCAPS_BLENDOP;
    // OpenGL ES (the browser's dialect) has neither a border colour nor a LOD bias.
    const bool es = gl_es_requested();
    c->RasterCaps = D3DPRASTERCAPS_ZTEST | D3DPRASTERCAPS_FOGTABLE | (es ? 0 : D3DPRASTERCAPS_MIPMAPLODBIAS) |
                    D3DPRASTERCAPS_WFOG | D3DPRASTERCAPS_ZFOG;
    c->ZCmpCaps = 0xFF;
    c->AlphaCmpCaps = 0xFF;
    c->SrcBlendCaps = 0x3FFF;
    c->DestBlendCaps = 0x3FFF;
    c->ShadeCaps = 0x00084208;  // Gouraud colour, specular, alpha and fog
    c->TextureCaps = D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_MIPMAP;
    c->TextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR |
                           D3DPTFILTERCAPS_MIPFPOINT | D3DPTFILTERCAPS_MIPFLINEAR |
                           D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
    c->TextureAddressCaps = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP |
                            (es ? 0 : D3DPTADDRESSCAPS_BORDER);
    c->MaxTextureWidth = 8192;
    c->MaxTextureHeight = 8192;
    c->MaxTextureRepeat = 8192;
    c->MaxTextureAspectRatio = 8192;
    c->MaxAnisotropy = 1;
    c->MaxVertexW = 1e10f;
    c->GuardBandLeft = -1e8f;
    c->GuardBandTop = -1e8f;
    c->GuardBandRight = 1e8f;
    c->GuardBandBottom = 1e8f;
    c->FVFCaps = D3DDP_MAXTEXCOORD;
    c->TextureOpCaps =
        0x03FFFFFF & ~(0x00200000u | 0x00400000u | 0x00010000u);  // no bump mapping, premodulate
    c->MaxTextureBlendStages = 8;
    c->MaxSimultaneousTextures = 8;
    c->VertexProcessingCaps = D3DVTXPCAPS_TEXGEN | D3DVTXPCAPS_DIRECTIONALLIGHTS |
                              D3DVTXPCAPS_POSITIONALLIGHTS | D3DVTXPCAPS_LOCALVIEWER;
    c->MaxActiveLights = kMaxActiveLights;
    c->MaxPointSize = 1.0f;
    c->MaxPrimitiveCount = 0x00FFFFFF;
    c->MaxVertexIndex = 0x00FFFFFF;
    c->MaxStreams = 1;
    c->MaxStreamStride = 255;
    c->MasterAdapterOrdinal = 0;
    c->AdapterOrdinalInGroup = 0;
    c->NumberOfAdaptersInGroup = 1;
    c->NumSimultaneousRTs = 1;
}

HRESULT Direct3D9::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirect3D9) {
        AddRef();
        *ppv = static_cast<IDirect3D9*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT Direct3D9::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) {
    if (adapter != D3DADAPTER_DEFAULT || !mode) return D3DERR_INVALIDCALL;
    return desktop_mode(mode) ? D3D_OK : D3DERR_NOTAVAILABLE;
}

HRESULT Direct3D9::GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) {
    if (adapter != D3DADAPTER_DEFAULT || !caps) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
    fill_caps(caps);
    return D3D_OK;
}

HRESULT Direct3D9::CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focus, DWORD flags,
                                D3DPRESENT_PARAMETERS* pp, IDirect3DDevice9** out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (adapter != D3DADAPTER_DEFAULT || !pp) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
    const DWORD vp = flags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                              D3DCREATE_MIXED_VERTEXPROCESSING);
    // Exactly one vertex-processing kind must be named.
    if (vp != D3DCREATE_SOFTWARE_VERTEXPROCESSING && vp != D3DCREATE_HARDWARE_VERTEXPROCESSING &&
        vp != D3DCREATE_MIXED_VERTEXPROCESSING)
        return D3DERR_INVALIDCALL;
    return Device::create(this, pp->hDeviceWindow ? pp->hDeviceWindow : focus, flags, pp, out);
}

}  // namespace d3d9
