#include "resources/color.h"

namespace {

uint32_t channel(float v) {
    if (!(v < 1.0f)) return 255;  // also NaN
    if (v <= 0.0f) return 0;
    return static_cast<uint32_t>(v * 255.0f);
}

}  // namespace

uint32_t toD3DColor(const ColorRGBA& c) {
    return channel(c.a) << 24 | channel(c.r) << 16 | channel(c.g) << 8 | channel(c.b);
}
