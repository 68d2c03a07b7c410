// The numbers the effects send: opacity and blur factors, tap offsets, vertex tables and matrices.
#include "fx/effect_math.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(EffectMath, OpacityFactorClampsAndTruncates) {
    EXPECT_EQ(opacityFactor(-0.5f), 0x00000000u);
    EXPECT_EQ(opacityFactor(0.5f), 0x7F000000u);  // 127.5 truncated
    EXPECT_EQ(opacityFactor(2.0f), 0xFF000000u);
    EXPECT_EQ(opacityFactor(1.0f), 0xFF000000u);
    EXPECT_EQ(opacityFactor(0.999f), 0xFE000000u);
    EXPECT_EQ(opacityFactor(std::nanf("")), 0x00000000u);
}

TEST(EffectMath, BlurFactorsForTheProductionStrengths) {
    EXPECT_EQ(blurFactors(1.0f).centre, 0x1CFFFFFFu);
    EXPECT_EQ(blurFactors(1.0f).side, 0x717F7F7Fu);
    EXPECT_EQ(blurFactors(1.5f).centre, 0x2AFFFFFFu);
    EXPECT_EQ(blurFactors(1.5f).side, 0xAA7F7F7Fu);
    // 1.25 and 1.4: f = 0.27777779, 0.31111112.
    EXPECT_EQ(blurFactors(1.25f).centre >> 24, 35u);
    EXPECT_EQ(blurFactors(1.25f).side >> 24, 141u);
    EXPECT_EQ(blurFactors(1.4f).side >> 24, 158u);
}

TEST(EffectMath, BlurSideAlphaHeldToAByteInsteadOfWrapping) {
    // Past 2.25 the side weight trunc(f * 510) no longer fits; it stays 255 and keeps the grey colour.
    EXPECT_EQ(blurFactors(2.25f).side, 0xFF7F7F7Fu);
    EXPECT_EQ(blurFactors(3.0f).side, 0xFF7F7F7Fu);
    EXPECT_EQ(blurFactors(100.0f).centre, 0xFFFFFFFFu);
    EXPECT_EQ(blurFactors(-1.0f).side, 0x007F7F7Fu);
    EXPECT_EQ(blurFactors(-1.0f).centre, 0x00FFFFFFu);
}

TEST(EffectMath, BlurTapOffsetsInSourceTexels) {
    const float t = 1.0f / 256;
    struct Case {
        float spread;
        int i;
        float texels;
    } cases[] = {{1.0f, 2, 1.5f}, {1.0f, 4, 3.5f}, {2.0f, 2, 3.5f},
                 {2.0f, 4, 7.5f}, {1.5f, 2, 2.5f}, {1.5f, 4, 5.5f}};
    for (const Case& c : cases)
        EXPECT_FLOAT_EQ(blurTapOffset(c.i, c.spread, t) / t, c.texels) << c.spread << " " << c.i;
    // A 128-high source: the same counts of its own texels.
    EXPECT_FLOAT_EQ(blurTapOffset(4, 2.0f, 1.0f / 128), 7.5f / 128);
}

TEST(EffectMath, VertexTables) {
    ScreenVertex q[4];
    screenQuadVertices(1.0f, q);
    const float expected[4][4] = {{-1, -1, 0, 1}, {-1, 1, 0, 0}, {1, 1, 1, 0}, {1, -1, 1, 1}};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(q[k].x, expected[k][0]);
        EXPECT_EQ(q[k].y, expected[k][1]);
        EXPECT_EQ(q[k].z, 0.0f);
        EXPECT_EQ(q[k].diffuse, 0x00FFFFFFu);  // alpha 0, not opaque white
        EXPECT_EQ(q[k].u, expected[k][2]);
        EXPECT_EQ(q[k].v, expected[k][3]);
    }
    screenQuadVertices(0.25f, q);
    EXPECT_EQ(q[2].x, 0.25f);
    EXPECT_EQ(q[0].y, -0.25f);

    // Blur fan: half a texel of the source (256 by 128), not of the target.
    ScreenVertex b[4];
    blurVertices(256, 128, b);
    const float hu = 0.5f / 256, hv = 0.5f / 128;
    EXPECT_EQ(b[0].u, hu);
    EXPECT_EQ(b[0].v, 1 + hv);
    EXPECT_EQ(b[1].v, hv);
    EXPECT_EQ(b[2].u, 1 + hu);
    EXPECT_EQ(b[3].x, 1.0f);
    EXPECT_EQ(b[3].y, -1.0f);
    EXPECT_EQ(b[3].v, 1 + hv);
}

namespace {
void apply(const D3DMATRIX& m, float u, float v, float* ou, float* ov) {
    *ou = u * m._11 + v * m._21 + m._31;
    *ov = u * m._12 + v * m._22 + m._32;
}
}  // namespace

TEST(EffectMath, TextureRotationTurnsAboutTheCentre) {
    float u, v;
    const D3DMATRIX none = textureRotation(0);
    apply(none, 0.2f, 0.7f, &u, &v);
    EXPECT_FLOAT_EQ(u, 0.2f);
    EXPECT_FLOAT_EQ(v, 0.7f);

    const D3DMATRIX quarter = textureRotation(static_cast<float>(M_PI / 2));
    apply(quarter, 0.5f, 0.5f, &u, &v);  // the centre stays
    EXPECT_NEAR(u, 0.5f, 1e-6);
    EXPECT_NEAR(v, 0.5f, 1e-6);
    // Row vectors: (u - .5, v - .5) * R + .5 = (.5 - (v - .5), .5 + (u - .5)) = (1 - v, u).
    apply(quarter, 0.0f, 0.0f, &u, &v);
    EXPECT_NEAR(u, 1.0f, 1e-6);
    EXPECT_NEAR(v, 0.0f, 1e-6);
    apply(quarter, 1.0f, 0.25f, &u, &v);
    EXPECT_NEAR(u, 0.75f, 1e-6);
    EXPECT_NEAR(v, 1.0f, 1e-6);
    EXPECT_EQ(quarter._33, 1.0f);
    EXPECT_EQ(quarter._41, 0.0f);  // two-component coordinates take their move from _31/_32 only
}

TEST(EffectMath, QuadWorldScalesThenMovesWithPosYDown) {
    const D3DMATRIX w = quadWorld(0.25f, 0.5f, 2.0f, 0.5f);
    // (1, 1, 0, 1) * W = (1 * 2 + 0.25, 1 * 0.5 - 0.5)
    EXPECT_FLOAT_EQ(1 * w._11 + 1 * w._21 + w._41, 2.25f);
    EXPECT_FLOAT_EQ(1 * w._12 + 1 * w._22 + w._42, 0.0f);
    EXPECT_EQ(w._44, 1.0f);
    const D3DMATRIX id = quadWorld(0, 0, 1, 1);
    const D3DMATRIX ref = identityMatrix();
    for (int i = 0; i < 16; ++i) EXPECT_EQ(id.m[i / 4][i % 4], ref.m[i / 4][i % 4]);
}
