#include "fx/screen_states.h"

#include "fx/effect_math.h"
#include "platform/d3d9/readback.h"

void setScreenSpace(IDirect3DDevice9* d) {
    const D3DMATRIX identity = identityMatrix();
    D3DMATRIX projection = identity;
    // Drawn larger than designed, the device moves geometry by half a design pixel; a draw over the whole
    // target would then leave a strip at its edge unfilled. Screen-space draws move by half a target pixel
    // only (their texture coordinates are placed for it), so they cover the target to its edges.
    const float scale = d3d9_pixel_scale(d);
    D3DVIEWPORT9 v{};
    if (scale != 1.0f && SUCCEEDED(d->GetViewport(&v)) && v.Width > 0 && v.Height > 0) {
        projection._41 = -(scale - 1.0f) / static_cast<float>(v.Width);
        projection._42 = (scale - 1.0f) / static_cast<float>(v.Height);
    }
    d->SetTransform(D3DTS_PROJECTION, &projection);
    d->SetTransform(D3DTS_VIEW, &identity);
    d->SetTransform(D3DTS_WORLD, &identity);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
}

void setScreenTexture(IDirect3DDevice9* d, const TextureSource* source, float alpha, uint32_t address) {
    d->SetTexture(0, source ? source->texture : nullptr);
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, opacityFactor(alpha));
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, address);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, address);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
}

void setScreenBlend(IDirect3DDevice9* d, uint32_t srcBlend, uint32_t dstBlend) {
    if (srcBlend == D3DBLEND_ONE && dstBlend == D3DBLEND_ZERO) {
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    } else {
        d->SetRenderState(D3DRS_SRCBLEND, srcBlend);
        d->SetRenderState(D3DRS_DESTBLEND, dstBlend);
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    }
}
