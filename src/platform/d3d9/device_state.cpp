#include "platform/d3d9/device_state.h"

#include <cstring>

namespace d3d9 {

int transform_slot(D3DTRANSFORMSTATETYPE type) {
    const int t = static_cast<int>(type);
    if (t == D3DTS_VIEW) return kSlotView;
    if (t == D3DTS_PROJECTION) return kSlotProjection;
    if (t >= D3DTS_TEXTURE0 && t <= D3DTS_TEXTURE7) return kSlotTexture0 + (t - D3DTS_TEXTURE0);
    if (t >= 256 && t < 256 + 4) return kSlotWorld0 + (t - 256);
    return -1;
}

D3DTRANSFORMSTATETYPE transform_type(int slot) {
    if (slot == kSlotView) return D3DTS_VIEW;
    if (slot == kSlotProjection) return D3DTS_PROJECTION;
    if (slot < kSlotWorld0)
        return static_cast<D3DTRANSFORMSTATETYPE>(D3DTS_TEXTURE0 + (slot - kSlotTexture0));
    return D3DTS_WORLDMATRIX(slot - kSlotWorld0);
}

const D3DMATRIX& identity_matrix() {
    static const D3DMATRIX m = {{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}};
    return m;
}

D3DLIGHT9 default_light() {
    D3DLIGHT9 l;
    std::memset(&l, 0, sizeof l);
    l.Type = D3DLIGHT_DIRECTIONAL;
    l.Diffuse = {1.0f, 1.0f, 1.0f, 0.0f};
    l.Direction = {0.0f, 0.0f, 1.0f};
    return l;
}

namespace {
const LightSlot& light_or_absent(const DeviceState& s, DWORD index) {
    static const LightSlot absent{default_light(), false};
    return index < s.lights.size() ? s.lights[index] : absent;
}
}  // namespace

const D3DLIGHT9& LightKey::in(const DeviceState& s) const {
    return light_or_absent(s, index).light;
}

const bool& LightEnableKey::in(const DeviceState& s) const {
    return light_or_absent(s, index).enabled;
}

void DeviceState::setDefaults(bool autoDepthStencil, UINT width, UINT height) {
    std::memset(rs, 0, sizeof rs);
    rs[D3DRS_ZENABLE] = autoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE;
    rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
    rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    rs[D3DRS_ZWRITEENABLE] = TRUE;
    rs[D3DRS_LASTPIXEL] = TRUE;
    rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    rs[D3DRS_CULLMODE] = D3DCULL_CCW;
    rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_FOGSTART] = float_bits(0.0f);
    rs[D3DRS_FOGEND] = float_bits(1.0f);
    rs[D3DRS_FOGDENSITY] = float_bits(1.0f);
    rs[D3DRS_STENCILFAIL] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILZFAIL] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_STENCILMASK] = 0xFFFFFFFF;
    rs[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFF;
    rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
    rs[D3DRS_CLIPPING] = TRUE;
    rs[D3DRS_LIGHTING] = TRUE;
    rs[D3DRS_COLORVERTEX] = TRUE;
    rs[D3DRS_LOCALVIEWER] = TRUE;
    rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    rs[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
    rs[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
    rs[D3DRS_POINTSIZE] = float_bits(1.0f);
    rs[D3DRS_POINTSIZE_MIN] = float_bits(1.0f);
    rs[D3DRS_POINTSCALE_A] = float_bits(1.0f);
    rs[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
    rs[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFF;
    rs[D3DRS_DEBUGMONITORTOKEN] = 0xBAADCAFE;
    rs[D3DRS_POINTSIZE_MAX] = float_bits(64.0f);
    rs[D3DRS_COLORWRITEENABLE] = 0xF;
    rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
    rs[D3DRS_POSITIONDEGREE] = 3;  // D3DDEGREE_CUBIC
    rs[D3DRS_NORMALDEGREE] = 1;    // D3DDEGREE_LINEAR
    rs[D3DRS_MINTESSELLATIONLEVEL] = float_bits(1.0f);
    rs[D3DRS_MAXTESSELLATIONLEVEL] = float_bits(1.0f);
    rs[D3DRS_ADAPTIVETESS_Z] = float_bits(1.0f);
    rs[D3DRS_CCW_STENCILFAIL] = D3DSTENCILOP_KEEP;
    rs[D3DRS_CCW_STENCILZFAIL] = D3DSTENCILOP_KEEP;
    rs[D3DRS_CCW_STENCILPASS] = D3DSTENCILOP_KEEP;
    rs[D3DRS_CCW_STENCILFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_COLORWRITEENABLE1] = 0xF;
    rs[D3DRS_COLORWRITEENABLE2] = 0xF;
    rs[D3DRS_COLORWRITEENABLE3] = 0xF;
    rs[D3DRS_BLENDFACTOR] = 0xFFFFFFFF;
    rs[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;
    rs[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;

    std::memset(tss, 0, sizeof tss);
    for (int s = 0; s < kStages; ++s) {
        DWORD* t = tss[s];
        t[D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        t[D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        t[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        t[D3DTSS_COLORARG2] = D3DTA_CURRENT;
        t[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        t[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        t[D3DTSS_COLORARG0] = D3DTA_CURRENT;
        t[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
        t[D3DTSS_RESULTARG] = D3DTA_CURRENT;
        t[D3DTSS_TEXCOORDINDEX] = static_cast<DWORD>(s);
        t[D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_DISABLE;
    }

    std::memset(samp, 0, sizeof samp);
    for (int s = 0; s < kSamplers; ++s) {
        DWORD* p = samp[s];
        p[D3DSAMP_ADDRESSU] = D3DTADDRESS_WRAP;
        p[D3DSAMP_ADDRESSV] = D3DTADDRESS_WRAP;
        p[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        p[D3DSAMP_MAGFILTER] = D3DTEXF_POINT;
        p[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        p[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
        p[D3DSAMP_MAXANISOTROPY] = 1;
    }

    for (auto& m : transforms) m = identity_matrix();
    lights.clear();
    std::memset(&material, 0, sizeof material);
    viewport = {0, 0, width, height, 0.0f, 1.0f};
    fvf = 0;
    for (auto& t : textures) t = nullptr;
    stream = StreamSource{};
    indices = nullptr;
}

}  // namespace d3d9
