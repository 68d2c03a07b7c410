#pragma once
// The vertex every image effect draws with: position in clip space (identity transforms), a colour no
// texture stage reads, and texture coordinates with v = 0 at the top row of the texture.
#include <cstdint>

struct ScreenVertex {
    float x, y, z;
    uint32_t diffuse;  // D3DCOLOR, A in bits 24-31
    float u, v;
};
static_assert(sizeof(ScreenVertex) == 24, "ScreenVertex is the 24-byte XYZ | DIFFUSE | TEX1 vertex");

// D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1.
constexpr uint32_t kScreenVertexFvf = 0x142;
