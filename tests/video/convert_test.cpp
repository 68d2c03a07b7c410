// The output conversion into 32-bit BGR0, bit for bit.
#include "video/convert.h"

#include <gtest/gtest.h>

#include <random>

#include "video/kernels.h"

namespace {

struct Pic {
    int w, h;
    std::vector<uint8_t> y, u, v;
    Pic(int w_, int h_, uint8_t Y, uint8_t U, uint8_t V)
        : w(w_), h(h_), y(size_t(w_) * h_, Y), u(size_t((w_ + 1) / 2) * ((h_ + 1) / 2), U), v(u.size(), V) {}
    vdec::ConvertInput input() const { return {y.data(), u.data(), v.data(), w, (w + 1) / 2, w, h}; }
};

std::vector<uint8_t> convert(const Pic& p, int format, int direction) {
    std::vector<uint8_t> out(size_t(p.w) * p.h * 4, 0xEE);
    vdec::convertPicture(p.input(), format, direction, out.data(), 12345);
    return out;
}

void expectPixel(const std::vector<uint8_t>& out, size_t i, int b, int g, int r) {
    EXPECT_EQ(out[4 * i], b) << "pixel " << i;
    EXPECT_EQ(out[4 * i + 1], g) << "pixel " << i;
    EXPECT_EQ(out[4 * i + 2], r) << "pixel " << i;
    EXPECT_EQ(out[4 * i + 3], 0) << "pixel " << i;
}

TEST(VideoConvert, ColourValues) {
    struct Case {
        uint8_t y, u, v;
        int b, g, r;
    } cases[] = {
        {16, 128, 128, 0, 0, 0},          // black
        {235, 128, 128, 255, 255, 255},   // white: (8 * 219 * 9576) >> 16 = 255
        {0, 128, 128, 0, 0, 0},           // below 16 counts as 16
        {128, 128, 255, 130, 26, 255},    // saturated red: R = 130 + 203 clamped, G = 130 - 104
        {128, 0, 128, 0, 130 + 50, 130},  // (-1024 * -3218) >> 16 = 50; blue 130 - 260 clamps to 0
    };
    for (const Case& c : cases) {
        Pic p(8, 2, c.y, c.u, c.v);
        std::vector<uint8_t> out = convert(p, 4, -1);
        for (size_t i = 0; i < 16; ++i) expectPixel(out, i, c.b, c.g, c.r);
    }
}

TEST(VideoConvert, BottomUpRowsAndChromaPairing) {
    // Height 4: output rows 0..3 come from picture rows 3, 2, 1, 0 with chroma rows 1, 1, 0, 0.
    Pic p(8, 4, 0, 128, 128);
    for (int r = 0; r < 4; ++r)
        for (int x = 0; x < 8; ++x) p.y[r * 8 + x] = uint8_t(40 + 50 * r);
    for (int x = 0; x < 4; ++x) p.v[4 + x] = 255;  // chroma row 1 red
    std::vector<uint8_t> out = convert(p, 4, -1);
    for (int row = 0; row < 4; ++row) {
        int pictureRow = 3 - row;
        int yy = 40 + 50 * pictureRow - 16;
        int l = (8 * yy * 9576) >> 16;
        bool red = pictureRow >= 2;
        int r = red ? std::min(255, l + ((1016 * 13123) >> 16)) : l;
        int g = red ? std::max(0, l + ((1016 * -6686) >> 16)) : l;
        expectPixel(out, size_t(row) * 8, l, g, r);
    }
    // Format 8: the same rows top-down.
    std::vector<uint8_t> top = convert(p, 8, 1);
    for (int row = 0; row < 4; ++row)
        EXPECT_TRUE(
            std::equal(top.begin() + row * 32, top.begin() + row * 32 + 32, out.begin() + (3 - row) * 32));
}

TEST(VideoConvert, WidthsAndOddHeights) {
    // Width 20: whole groups of 8 only; the last 4 pixels of each row stay untouched.
    Pic p(20, 2, 235, 128, 128);
    std::vector<uint8_t> out = convert(p, 4, -1);
    for (int row = 0; row < 2; ++row) {
        for (int x = 0; x < 16; ++x) expectPixel(out, size_t(row) * 20 + x, 255, 255, 255);
        for (int x = 16; x < 20; ++x)
            for (int c = 0; c < 4; ++c) EXPECT_EQ(out[(row * 20 + x) * 4 + c], 0xEE);
    }
    // Narrower than one group: converted whole.
    Pic n(3, 3, 235, 128, 128);
    out = convert(n, 4, -1);
    for (size_t i = 0; i < 9; ++i) expectPixel(out, i, 255, 255, 255);
    // Odd height: the last picture row uses its own chroma row (row 2 of a 5-row picture).
    Pic o(8, 5, 128, 128, 128);
    for (int x = 0; x < 4; ++x) o.v[2 * 4 + x] = 255;
    out = convert(o, 4, -1);
    expectPixel(out, 0, 130, 26, 255);  // output row 0 is picture row 4
    expectPixel(out, 8, 130, 130, 130);
}

TEST(VideoConvert, FastRowConverterMatchesReference) {
    std::mt19937 rng(7);
    uint8_t y[64], u[32], v[32], a[256], b[256];
    for (int iter = 0; iter < 2000; ++iter) {
        for (auto& s : y) s = uint8_t(rng());
        for (auto& s : u) s = uint8_t(rng());
        for (auto& s : v) s = uint8_t(rng());
        int n = 1 + int(rng() % 64);
        vdec::kReferenceKernels.convertRowBgr0(y, u, v, a, n);
        for (const vdec::Kernels* k : {&vdec::kPortableKernels, vdec::kSse2Kernels}) {
            if (!k) continue;
            k->convertRowBgr0(y, u, v, b, n);
            ASSERT_TRUE(std::equal(a, a + 4 * n, b)) << k->name << " width " << n;
        }
    }
}

}  // namespace

namespace {

// The other converters: 24-bit BGR with the same colour arithmetic, planar copy, packed 4:2:2.
TEST(VideoConvert, OtherFormats) {
    Pic p(10, 4, 0, 0, 0);
    std::mt19937 rng(9);
    for (auto& s : p.y) s = uint8_t(rng());
    for (auto& s : p.u) s = uint8_t(rng());
    for (auto& s : p.v) s = uint8_t(rng());
    std::vector<uint8_t> bgr0(10 * 4 * 4), bgr(10 * 4 * 3);
    vdec::convertPicture(p.input(), 8, 1, bgr0.data(), 0);  // whole groups of 8: the first 8 columns
    vdec::convertPicture(p.input(), 9, 1, bgr.data(), 0);
    for (int r = 0; r < 4; ++r)
        for (int x = 0; x < 8; ++x)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(bgr[(r * 10 + x) * 3 + c], bgr0[(r * 10 + x) * 4 + c]);
    std::vector<uint8_t> planar(10 * 4 + 2 * 5 * 2);
    vdec::convertPicture(p.input(), 3, 1, planar.data(), 0);
    EXPECT_TRUE(std::equal(p.y.begin(), p.y.end(), planar.begin()));
    EXPECT_TRUE(std::equal(p.u.begin(), p.u.end(), planar.begin() + 40));
    EXPECT_TRUE(std::equal(p.v.begin(), p.v.end(), planar.begin() + 50));
    std::vector<uint8_t> yuy2(10 * 4 * 2);
    vdec::convertPicture(p.input(), 1, 1, yuy2.data(), 0);
    EXPECT_EQ(yuy2[0], p.y[0]);
    EXPECT_EQ(yuy2[1], p.u[0]);
    EXPECT_EQ(yuy2[3], p.v[0]);
    EXPECT_EQ(yuy2[2 * 10 + 2], p.y[11]);  // row 1, pixel 1
}

}  // namespace
