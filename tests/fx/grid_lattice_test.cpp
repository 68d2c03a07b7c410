// The grid's lattice, indices and deformations, without a device.
#include "fx/grid_lattice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {
const ScreenVertex& at(const GridLattice& g, uint32_t i, uint32_t j) {
    return g.vertices[i * (g.cols + 1) + j];
}

std::string thrown(uint32_t c, uint32_t r) {
    try {
        GridLattice g(c, r);
    } catch (const std::string& s) {
        return s;
    }
    return "";
}
}  // namespace

TEST(GridLattice, TwoByTwoIndices) {
    GridLattice g(2, 2);
    EXPECT_EQ(g.vertices.size(), 9u);
    ASSERT_EQ(g.indexCount(), 24u);
    uint16_t idx[24];
    g.writeIndices(idx);
    const uint16_t expected[24] = {0, 1, 3, 1, 4, 3, 1, 2, 4, 2, 5, 4, 3, 4, 6, 4, 7, 6, 4, 5, 7, 5, 8, 7};
    for (int k = 0; k < 24; ++k) EXPECT_EQ(idx[k], expected[k]) << k;
}

TEST(GridLattice, IndicesOfAnUnevenLatticeStayInside) {
    GridLattice g(3, 1);
    uint16_t idx[18];
    g.writeIndices(idx);
    // Cell (0, 2): a = 2, b = 6.
    const uint16_t last[6] = {2, 3, 6, 3, 7, 6};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(idx[12 + k], last[k]);
    for (uint16_t n : idx) EXPECT_LT(n, g.vertexCount());
}

TEST(GridLattice, ResetOfTheProductionGrid) {
    GridLattice g(80, 60);
    EXPECT_EQ(g.vertices.size(), 4941u);
    EXPECT_EQ(g.vertices[0].diffuse, 0x00FFFFFFu);  // before any reset
    g.reset(0, 0);
    const ScreenVertex& bottomLeft = at(g, 0, 0);
    EXPECT_FLOAT_EQ(bottomLeft.x, -1);
    EXPECT_FLOAT_EQ(bottomLeft.y, -1);
    EXPECT_FLOAT_EQ(bottomLeft.u, 0);
    EXPECT_FLOAT_EQ(bottomLeft.v, 1);
    EXPECT_EQ(bottomLeft.diffuse, 0xFFFFFFFFu);
    const ScreenVertex& topRight = at(g, 60, 80);
    EXPECT_FLOAT_EQ(topRight.x, 1);
    EXPECT_FLOAT_EQ(topRight.y, 1);
    EXPECT_FLOAT_EQ(topRight.u, 1);
    EXPECT_NEAR(topRight.v, 0, 1e-6);
    const ScreenVertex& centre = at(g, 30, 40);
    EXPECT_NEAR(centre.x, 0, 1e-6);
    EXPECT_NEAR(centre.y, 0, 1e-6);
    EXPECT_FLOAT_EQ(centre.u, 0.5f);
    EXPECT_FLOAT_EQ(centre.v, 0.5f);
    EXPECT_EQ(centre.z, 0.0f);

    g.reset(0.25f, -0.125f);
    EXPECT_FLOAT_EQ(at(g, 0, 0).u, 0.25f);
    EXPECT_FLOAT_EQ(at(g, 0, 0).v, 0.875f);
    EXPECT_FLOAT_EQ(at(g, 60, 80).u, 1.25f);
    EXPECT_FLOAT_EQ(at(g, 0, 0).x, -1);  // positions never move
}

TEST(GridLattice, BulgeStaysInsidePiTimesRadius) {
    GridLattice g(80, 60), ref(80, 60);
    g.reset(0, 0);
    ref.reset(0, 0);
    const float radius = 0.3f, amount = 0.05f;
    g.bulge(0, 0, radius, amount);
    int moved = 0;
    for (uint32_t i = 0; i <= 60; ++i)
        for (uint32_t j = 0; j <= 80; ++j) {
            const ScreenVertex &a = at(g, i, j), &b = at(ref, i, j);
            const float dx = (int(j) - 40) * g.cellW, dy = (int(i) - 30) * g.cellH;
            const float d = std::sqrt(dx * dx + dy * dy);
            if (d >= radius * float(M_PI) + 1e-4f) {
                EXPECT_EQ(a.u, b.u) << i << "," << j;
                EXPECT_EQ(a.v, b.v) << i << "," << j;
            } else if (d > 0 && d < radius * float(M_PI) - 1e-4f) {
                const float w = amount * (1 + std::cos(d / radius));
                EXPECT_NEAR(a.u - b.u, w * dx, 1e-6) << i << "," << j;
                EXPECT_NEAR(a.v - b.v, w * dy, 1e-6) << i << "," << j;
                // u moves away from the centre like x, v the same way as y (towards the centre on screen).
                if (std::fabs(w * dx) > 1e-4f) {
                    EXPECT_EQ(a.u > b.u, dx > 0);
                }
                if (std::fabs(w * dy) > 1e-4f) {
                    EXPECT_EQ(a.v > b.v, dy > 0);
                }
                ++moved;
            }
        }
    EXPECT_GT(moved, 100);
    EXPECT_EQ(at(g, 30, 40).u, 0.5f);  // the centre stays
    EXPECT_EQ(at(g, 30, 40).v, 0.5f);
}

TEST(GridLattice, BulgeAboutAnOffCentre) {
    GridLattice g(4, 4);
    g.reset(0, 0);
    // Centre at vertex (3, 3): clip (0.5, 0.5). That vertex stays; (2, 2) moves by w * (-0.5, -0.5).
    g.bulge(0.5f, 0.5f, 1.0f, 0.1f);
    EXPECT_FLOAT_EQ(at(g, 3, 3).u, 0.75f);
    EXPECT_FLOAT_EQ(at(g, 3, 3).v, 0.25f);
    const float d = std::sqrt(0.5f), w = 0.1f * (1 + std::cos(d));
    EXPECT_NEAR(at(g, 2, 2).u, 0.5f - 0.5f * w, 1e-6);
    EXPECT_NEAR(at(g, 2, 2).v, 0.5f - 0.5f * w, 1e-6);
}

TEST(GridLattice, TwirlAddsTheRotatedOffset) {
    GridLattice g(80, 60);
    g.reset(0, 0);
    g.twirl(0, 0, 1.0f, 0);
    EXPECT_FLOAT_EQ(at(g, 30, 40).u, 0.5f);
    EXPECT_FLOAT_EQ(at(g, 30, 40).v, 0.5f);
    EXPECT_FLOAT_EQ(at(g, 60, 80).u, 2.0f);  // x = 1, y = 1
    EXPECT_FLOAT_EQ(at(g, 60, 80).v, 1.0f);
    EXPECT_FLOAT_EQ(at(g, 0, 0).u, -1.0f);
    EXPECT_FLOAT_EQ(at(g, 0, 0).v, 0.0f);  // upside down: v runs 0 at the bottom to 1 at the top

    // A non-zero strength turns the offset by a = s (1 - cos(pi (1/r - d))).
    GridLattice t(2, 2);
    t.reset(0, 0);
    t.twirl(0, 0, 1.0f, 0.5f);
    const float a = 0.5f * static_cast<float>(1 - std::cos(M_PI * (1.0 - 1.0)));  // vertex (1, 2): d = 1
    EXPECT_NEAR(at(t, 1, 2).u, 1.0f + std::cos(a), 1e-6);
    EXPECT_NEAR(at(t, 1, 2).v, 0.5f - std::sin(a), 1e-6);
    const float a2 = 0.5f * static_cast<float>(1 - std::cos(M_PI * (1.0 - std::sqrt(2.0))));  // vertex (2, 2)
    EXPECT_NEAR(at(t, 2, 2).u, 1.0f + std::cos(a2) + std::sin(a2), 1e-6);
    EXPECT_NEAR(at(t, 2, 2).v, 0.0f + std::cos(a2) - std::sin(a2), 1e-6);
}

TEST(GridLattice, DeformationsAccumulateUntilReset) {
    GridLattice g(8, 6), once(8, 6);
    g.reset(0, 0);
    once.reset(0, 0);
    once.bulge(0, 0, 0.5f, 0.1f);
    g.bulge(0, 0, 0.5f, 0.1f);
    g.bulge(0, 0, 0.5f, 0.1f);
    const ScreenVertex& v = at(g, 2, 3);
    const ScreenVertex& o = at(once, 2, 3);
    GridLattice clean(8, 6);
    clean.reset(0, 0);
    const ScreenVertex& c = at(clean, 2, 3);
    EXPECT_NEAR(v.u - c.u, 2 * (o.u - c.u), 1e-6);
    EXPECT_NE(o.u, c.u);
    g.reset(0, 0);
    EXPECT_EQ(at(g, 2, 3).u, c.u);
    EXPECT_EQ(at(g, 2, 3).v, c.v);
}

TEST(GridLattice, SizesOutsideSixteenBitIndicesAreRefused) {
    EXPECT_EQ(thrown(0, 10), "grid size out of range");
    EXPECT_EQ(thrown(10, 0), "grid size out of range");
    EXPECT_EQ(thrown(256, 256), "grid size out of range");  // 257 * 257 vertices
    EXPECT_EQ(thrown(0xFFFFFFFFu, 1), "grid size out of range");
    EXPECT_EQ(thrown(255, 255), "");  // 65536 exactly
    EXPECT_EQ(thrown(1, 32767), "");  // 2 * 32768
    EXPECT_EQ(thrown(1, 32768), "grid size out of range");
}
