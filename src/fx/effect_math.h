#pragma once
// The numbers the image effects send to the device, kept apart from the drawing so they can be checked
// without one: vertex tables, texture factors, tap offsets and matrices.
#include <cstdint>

#include "fx/screen_vertex.h"
#include "platform/d3d9/d3d9types.h"

// Opacity in the alpha byte of D3DRS_TEXTUREFACTOR: alpha clamped to 0..1, times 255, truncated.
uint32_t opacityFactor(float alpha);

// The screen quad's triangle fan: corners at +-halfSize, white with alpha 0, no half-texel offset.
void screenQuadVertices(float halfSize, ScreenVertex out[4]);

// A blur pass's full-target fan, its texture coordinates shifted by half a texel of a
// sourceWidth by sourceHeight source.
void blurVertices(uint32_t sourceWidth, uint32_t sourceHeight, ScreenVertex out[4]);

// Texture factors of a blur pass: the centre draw carries trunc(f * 128) in its alpha over white, the
// side draws trunc(f * 510) over 0x7F7F7F (the two stage samples averaged), f = strength * 2/9. Both
// alpha bytes are held to 0..255.
struct BlurFactors {
    uint32_t centre;
    uint32_t side;
};
BlurFactors blurFactors(float strength);

// Texture offset of side tap i (2 or 4): t * (i * spread - 0.5), as (i * spread + 0.5) * t - t.
float blurTapOffset(int i, float spread, float texel);

D3DMATRIX identityMatrix();
// a * b: applies a first (row vectors).
D3DMATRIX multiply(const D3DMATRIX& a, const D3DMATRIX& b);
// Rotation of two-component texture coordinates by angle about the texture centre (0.5, 0.5); the
// translation of such coordinates sits in _31 and _32.
D3DMATRIX textureRotation(float angle);
// The quad's world matrix: scale by (scaleX, scaleY), then move by (posX, -posY).
D3DMATRIX quadWorld(float posX, float posY, float scaleX, float scaleY);
