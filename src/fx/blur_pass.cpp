#include "fx/blur_pass.h"

#include <string>

#include "fx/effect_math.h"
#include "fx/screen_quad.h"
#include "fx/screen_states.h"
#include "resources/device.h"

BlurPass::BlurPass(const TextureSource* src, uint32_t width, uint32_t height)
    : RenderTexture(width, height, D3DUSAGE_RENDERTARGET | D3DUSAGE_AUTOGENMIPMAP, D3DPOOL_DEFAULT),
      source(src) {
    if (!source || !source->texture) throw std::string("blur with no texture? how useful is that, booy?");
    D3DSURFACE_DESC desc{};
    source->texture->GetLevelDesc(0, &desc);
    ScreenVertex corners[4];
    blurVertices(desc.Width, desc.Height, corners);
    texelU = 2 * corners[0].u;
    texelV = 2 * (corners[1].v);
    vertexBuffer = createScreenVertices(corners, 4);
    if (!vertexBuffer) throw std::string("failed to create vertex buffer");
}

BlurPass::~BlurPass() {
    if (vertexBuffer) vertexBuffer->Release();
}

void BlurPass::apply(bool horizontal, float spread, float strength) {
    binding.bind(0);
    IDirect3DDevice9* d = g_device;
    for (DWORD s = 0; s < 2; ++s) {
        d->SetTexture(s, source->texture);
        d->SetTextureStageState(s, D3DTSS_TEXCOORDINDEX, 0);
        d->SetTextureStageState(s, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        d->SetSamplerState(s, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
        d->SetSamplerState(s, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    }
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    setScreenSpace(d);

    const BlurFactors factors = blurFactors(strength);

    // Centre tap: overwrites every pixel with source * alpha, so nothing needs clearing.
    d->SetRenderState(D3DRS_TEXTUREFACTOR, factors.centre);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    setScreenBlend(d, D3DBLEND_SRCALPHA, D3DBLEND_ZERO);
    d->SetFVF(kScreenVertexFvf);
    d->SetStreamSource(0, vertexBuffer, 0, sizeof(ScreenVertex));
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    d->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2);

    // Side taps: stage 1 averages the samples at +o (stage 0) and -o (stage 1); the draws add.
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_LERP);
    d->SetTextureStageState(1, D3DTSS_COLORARG0, D3DTA_TFACTOR);
    d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
    d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TEXTURE);
    d->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, factors.side);
    const float texel = horizontal ? texelU : texelV;
    for (int i = 2; i <= 4; i += 2) {
        const float o = blurTapOffset(i, spread, texel);
        D3DMATRIX m = identityMatrix();
        float& slot = horizontal ? m._31 : m._32;
        slot = o;
        d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
        d->SetTransform(D3DTS_TEXTURE0, &m);
        slot = -o;
        d->SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
        d->SetTransform(D3DTS_TEXTURE1, &m);
        d->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2);
    }
    binding.unbind();
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    d->SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
}
