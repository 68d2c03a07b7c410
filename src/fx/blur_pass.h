#pragma once
// One axis of a separable blur: five bilinear taps in three full-target draws, the weights carried in
// the texture factor. Passes chain, each reading the one before; a pass is itself a render texture.
#include <cstdint>

#include "fx/render_texture.h"

class BlurPass : public RenderTexture {
public:
    float texelU = 0;                                // 1 / source width
    float texelV = 0;                                // 1 / source height
    const TextureSource* source = nullptr;           // not owned
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;  // owned

    // A width by height pass reading source. Throws "blur with no texture? how useful is that, booy?"
    // for a null source, "failed to create vertex buffer", or the render texture's texts.
    BlurPass(const TextureSource* source, uint32_t width, uint32_t height);
    ~BlurPass() override;

    // Draws the source blurred along u (horizontal) or v into this pass, taps spread source texels
    // apart, weights scaled by strength. Between BeginScene and EndScene, with this pass not bound
    // ("RenderTarget already set" otherwise, before anything is drawn).
    void apply(bool horizontal, float spread, float strength);
};
