#pragma once
// Colours as four floats (the layout of D3DCOLORVALUE), no clamping until they become a D3DCOLOR.
#include <cstdint>

struct ColorRGBA {
    float r, g, b, a;
};

// Each channel clamped to 0..1 (NaN counts as 1), times 255, truncated; packed as ARGB.
uint32_t toD3DColor(const ColorRGBA& c);
