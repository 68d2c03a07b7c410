#include "fx/effect_math.h"

#include <cmath>

uint32_t opacityFactor(float alpha) {
    if (alpha < 0) alpha = 0;
    if (alpha > 1) alpha = 1;
    if (!(alpha >= 0)) alpha = 0;  // NaN
    return static_cast<uint32_t>(static_cast<int32_t>(alpha * 255.0f)) << 24;
}

void screenQuadVertices(float a, ScreenVertex out[4]) {
    out[0] = {-a, -a, 0, 0x00FFFFFF, 0, 1};
    out[1] = {-a, a, 0, 0x00FFFFFF, 0, 0};
    out[2] = {a, a, 0, 0x00FFFFFF, 1, 0};
    out[3] = {a, -a, 0, 0x00FFFFFF, 1, 1};
}

void blurVertices(uint32_t sourceWidth, uint32_t sourceHeight, ScreenVertex out[4]) {
    const float hu = 0.5f / static_cast<float>(sourceWidth), hv = 0.5f / static_cast<float>(sourceHeight);
    out[0] = {-1, -1, 0, 0x00FFFFFF, hu, 1 + hv};
    out[1] = {-1, 1, 0, 0x00FFFFFF, hu, hv};
    out[2] = {1, 1, 0, 0x00FFFFFF, 1 + hu, hv};
    out[3] = {1, -1, 0, 0x00FFFFFF, 1 + hu, 1 + hv};
}

namespace {
// trunc(x) held to a byte; a strength past 2.25 would otherwise carry into the colour bytes or wrap.
uint32_t alphaByte(float x) {
    if (!(x > 0)) return 0;
    if (x >= 255.0f) return 255;
    return static_cast<uint32_t>(x);
}
}  // namespace

BlurFactors blurFactors(float strength) {
    const float f = strength * 0.22222222f;  // 2/9 as the single-precision 0x3E638E39
    return {alphaByte(f * 128.0f) << 24 | 0x00FFFFFF, alphaByte(f * 510.0f) << 24 | 0x007F7F7F};
}

float blurTapOffset(int i, float spread, float texel) {
    const float scaled = static_cast<float>(i) * spread + 0.5f;
    const float o = scaled * texel;
    return o - texel;
}

D3DMATRIX identityMatrix() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

D3DMATRIX multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float s = 0;
            for (int k = 0; k < 4; ++k) s += a.m[i][k] * b.m[k][j];
            r.m[i][j] = s;
        }
    return r;
}

D3DMATRIX textureRotation(float angle) {
    D3DMATRIX toCentre = identityMatrix(), rotation = identityMatrix(), back = identityMatrix();
    toCentre._31 = toCentre._32 = -0.5f;
    back._31 = back._32 = 0.5f;
    const float c = std::cos(angle), s = std::sin(angle);
    rotation._11 = c;
    rotation._12 = s;
    rotation._21 = -s;
    rotation._22 = c;
    return multiply(multiply(toCentre, rotation), back);
}

D3DMATRIX quadWorld(float posX, float posY, float scaleX, float scaleY) {
    D3DMATRIX scale = identityMatrix(), move = identityMatrix();
    scale._11 = scaleX;
    scale._22 = scaleY;
    move._41 = posX;
    move._42 = -posY;
    return multiply(scale, move);
}
