#pragma once
// The fixed-function states of a full-screen draw in clip space, shared by the quad, the grid and the
// blur passes. Each drawer calls these before it draws, every time: a draw may follow any other drawing
// in the frame, so it sets every state it depends on.
#include <cstdint>

#include "resources/texture_source.h"

// Identity world, view and projection (the vertices are already in clip space), no culling, no lighting.
void setScreenSpace(IDirect3DDevice9* d);

// Stage 0 shows source's colour with its alpha scaled by the opacity alpha (through the texture factor),
// untransformed texture coordinates from set 0, addressed as given on both axes; stage 1 off, so stage 0
// ends the cascade.
void setScreenTexture(IDirect3DDevice9* d, const TextureSource* source, float alpha, uint32_t address);

// The blend of the draw over the target: ONE/ZERO turns blending off (an opaque copy), any other pair
// turns it on with that pair.
void setScreenBlend(IDirect3DDevice9* d, uint32_t srcBlend, uint32_t dstBlend);
