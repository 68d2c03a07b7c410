#include "fx/screen_states.h"

#include "fx/effect_math.h"

void setScreenSpace(IDirect3DDevice9* d) {
    const D3DMATRIX identity = identityMatrix();
    d->SetTransform(D3DTS_PROJECTION, &identity);
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
