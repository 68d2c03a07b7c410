// Inverse DCT accuracy (the IEEE 1180 procedure) and the kernels against their reference versions.
#include "video/kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

// Every built set besides the reference.
std::vector<const vdec::Kernels*> fastSets() {
    std::vector<const vdec::Kernels*> sets{&vdec::kPortableKernels};
    if (vdec::kSse2Kernels) sets.push_back(vdec::kSse2Kernels);
    if (vdec::avx2Kernels()) sets.push_back(vdec::avx2Kernels());
    return sets;
}

// The procedure's random generator (32-bit arithmetic).
struct Ieee1180Random {
    uint32_t randx = 1;
    long next(long L, long H) {
        randx = randx * 1103515245u + 12345u;
        uint32_t i = randx & 0x7ffffffeu;
        double x = double(i) / double(0x7fffffff);
        x *= double(L + H + 1);
        return long(x) - L;
    }
};

void forwardDct(const double* f, double* F) {
    static double c[8][8];
    static bool ready = false;
    if (!ready) {
        for (int x = 0; x < 8; ++x)
            for (int u = 0; u < 8; ++u) c[x][u] = std::cos(M_PI * (2 * x + 1) * u / 16.0);
        ready = true;
    }
    double rows[64];
    for (int y = 0; y < 8; ++y)
        for (int u = 0; u < 8; ++u) {
            double s = 0;
            for (int x = 0; x < 8; ++x) s += f[y * 8 + x] * c[x][u];
            rows[y * 8 + u] = s;
        }
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
            double s = 0;
            for (int y = 0; y < 8; ++y) s += rows[y * 8 + u] * c[y][v];
            double cu = u ? 1.0 : std::sqrt(0.5), cv = v ? 1.0 : std::sqrt(0.5);
            F[v * 8 + u] = 0.25 * cu * cv * s;
        }
}

struct Stats {
    double peak = 0, worstPixelMse = 0, overallMse = 0, worstPixelMean = 0, overallMean = 0;
};

Stats measure(long L, long H, int sign) {
    Ieee1180Random rng;
    const int blocks = 10000;
    double sumErr[64] = {}, sumSq[64] = {};
    Stats st;
    for (int b = 0; b < blocks; ++b) {
        double f[64], F[64];
        for (double& s : f) s = double(sign * rng.next(L, H));
        forwardDct(f, F);
        int16_t ref[64], test[64];
        for (int i = 0; i < 64; ++i) {
            double c = std::floor(F[i] + 0.5);
            c = c < -2048 ? -2048 : c > 2047 ? 2047 : c;
            ref[i] = test[i] = int16_t(c);
        }
        vdec::idctDouble(ref);
        vdec::kernels().idct(test);
        for (int i = 0; i < 64; ++i) {
            double e = double(test[i]) - ref[i];
            st.peak = std::max(st.peak, std::fabs(e));
            sumErr[i] += e;
            sumSq[i] += e * e;
        }
    }
    double totErr = 0, totSq = 0;
    for (int i = 0; i < 64; ++i) {
        st.worstPixelMse = std::max(st.worstPixelMse, sumSq[i] / blocks);
        st.worstPixelMean = std::max(st.worstPixelMean, std::fabs(sumErr[i] / blocks));
        totErr += sumErr[i];
        totSq += sumSq[i];
    }
    st.overallMse = totSq / (64.0 * blocks);
    st.overallMean = std::fabs(totErr / (64.0 * blocks));
    return st;
}

TEST(VideoKernels, InverseDctMeetsIeee1180) {
    const long ranges[3][2] = {{256, 255}, {5, 5}, {300, 300}};
    for (const auto& r : ranges) {
        for (int sign : {1, -1}) {
            Stats s = measure(r[0], r[1], sign);
            SCOPED_TRACE(testing::Message() << "L=" << r[0] << " H=" << r[1] << " sign " << sign);
            EXPECT_LE(s.peak, 1.0);
            EXPECT_LE(s.worstPixelMse, 0.06);
            EXPECT_LE(s.overallMse, 0.02);
            EXPECT_LE(s.worstPixelMean, 0.015);
            EXPECT_LE(s.overallMean, 0.0015);
        }
    }
    int16_t zero[64] = {};
    vdec::kernels().idct(zero);
    for (int16_t v : zero) EXPECT_EQ(v, 0);
}

TEST(VideoKernels, DcShortcutEqualsFullTransform) {
    for (int dc = -2048; dc <= 2047; ++dc) {
        int16_t blk[64] = {};
        blk[0] = int16_t(dc);
        vdec::kernels().idct(blk);
        int16_t v = vdec::kernels().idctDc(dc);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(blk[i], v) << "dc " << dc;
    }
}

TEST(VideoKernels, FastPredictionMatchesReference) {
    for (const vdec::Kernels* k : fastSets()) {
        SCOPED_TRACE(k->name);
        std::mt19937 rng(11);
        std::vector<uint8_t> src(40 * 40);
        for (int iter = 0; iter < 3000; ++iter) {
            for (auto& s : src) s = uint8_t(rng());
            int w = (rng() & 1) ? 16 : 8;
            int h = (rng() & 1) ? 16 : 8;
            int hx = int(rng() & 1), hy = int(rng() & 1), rounding = int(rng() & 1);
            uint8_t a[16 * 16], b[16 * 16];
            vdec::kReferenceKernels.predict(a, 16, src.data() + 41, 40, w, h, hx, hy, rounding);
            k->predict(b, 16, src.data() + 41, 40, w, h, hx, hy, rounding);
            for (int y = 0; y < h; ++y)
                ASSERT_TRUE(std::equal(a + y * 16, a + y * 16 + w, b + y * 16))
                    << w << "x" << h << " " << hx << hy;
        }
    }
}

}  // namespace

namespace {

// The optimised inverse DCT, block stores and intra inverse quantisation give exactly the reference's values.
TEST(VideoKernels, FastTransformAndStoresMatchReference) {
    for (const vdec::Kernels* k : fastSets()) {
        SCOPED_TRACE(k->name);
        std::mt19937 rng(5);
        for (int iter = 0; iter < 20000; ++iter) {
            int16_t a[64] = {}, b[64];
            int count = 1 + int(rng() % 64);
            int range = (iter % 3 == 0) ? 2048 : (iter % 3 == 1) ? 300 : 20;
            // Every other block keeps to its first rows and columns, as most coded blocks do.
            const int rows = (iter & 1) ? 1 + int(rng() % 8) : 8, cols = (iter & 1) ? 1 + int(rng() % 8) : 8;
            for (int k = 0; k < count; ++k)
                a[(rng() % rows) * 8 + rng() % cols] = int16_t(int(rng() % (2 * range)) - range);
            std::copy(a, a + 64, b);
            vdec::kReferenceKernels.idct(a);
            k->idct(b);
            ASSERT_TRUE(std::equal(a, a + 64, b)) << "iteration " << iter;
            uint8_t p[8 * 12], q[8 * 12];
            for (auto& v : p) v = uint8_t(rng());
            std::copy(p, p + sizeof p, q);
            vdec::kReferenceKernels.addBlock(p, 12, a);
            k->addBlock(q, 12, b);
            ASSERT_TRUE(std::equal(p, p + sizeof p, q));
            vdec::kReferenceKernels.putBlock(p, 12, a);
            k->putBlock(q, 12, b);
            ASSERT_TRUE(std::equal(p, p + sizeof p, q));
            // Intra inverse quantisation: levels as read (up to the 12-bit escapes) at every quantiser.
            int16_t c[64] = {}, d[64];
            for (int n = 0; n < count; ++n) c[rng() % 64] = int16_t(int(rng() % (2 * range)) - range);
            std::copy(c, c + 64, d);
            const int qp = 1 + int(rng() % 31);
            ASSERT_EQ(vdec::kReferenceKernels.dequantIntraH263(c, qp), k->dequantIntraH263(d, qp));
            ASSERT_TRUE(std::equal(c, c + 64, d)) << "qp " << qp;
        }
    }
}

// Every level a block can hold, at every quantiser a stream can code (up to 9 bits), through the intra
// inverse quantisation: the fast sets stay in 16 bits, so the levels far beyond the clamp are the test.
TEST(VideoKernels, FastIntraInverseQuantisationMatchesReferenceForEveryLevel) {
    for (const vdec::Kernels* k : fastSets()) {
        SCOPED_TRACE(k->name);
        for (int qp = 1; qp < 512; ++qp) {
            for (int first = -32768; first < 32768; first += 63) {
                int16_t c[64], d[64];
                c[0] = 1234;  // the DC stays as it is
                for (int i = 1; i < 64; ++i) c[i] = int16_t(std::min(first + i - 1, 32767));
                std::copy(c, c + 64, d);
                ASSERT_EQ(vdec::kReferenceKernels.dequantIntraH263(c, qp), k->dequantIntraH263(d, qp));
                ASSERT_TRUE(std::equal(c, c + 64, d)) << "qp " << qp << ", levels from " << first;
            }
        }
    }
}

}  // namespace

namespace {

TEST(VideoKernels, FastQuarterSamplePredictionMatchesReference) {
    for (const vdec::Kernels* k : fastSets()) {
        SCOPED_TRACE(k->name);
        std::mt19937 rng(3);
        std::vector<uint8_t> src(24 * 24);
        for (int iter = 0; iter < 4000; ++iter) {
            // Smooth areas and noise, so that the filter's clipping is reached too.
            for (size_t i = 0; i < src.size(); ++i)
                src[i] = (iter & 1) ? uint8_t(rng()) : uint8_t((i * 7 + iter) & 255);
            // Square blocks and the 16 by 8 of a field.
            static const int kShapes[3][2] = {{16, 16}, {8, 8}, {16, 8}};
            const int* shape = kShapes[rng() % 3];
            int w = shape[0], h = shape[1];
            int fx = int(rng() & 3), fy = int(rng() & 3), rounding = int(rng() & 1);
            uint8_t a[16 * 16], b[16 * 16];
            vdec::kReferenceKernels.predictQuarter(a, 16, src.data() + 25, 24, w, h, fx, fy, rounding);
            k->predictQuarter(b, 16, src.data() + 25, 24, w, h, fx, fy, rounding);
            for (int y = 0; y < h; ++y)
                ASSERT_TRUE(std::equal(a + y * 16, a + y * 16 + w, b + y * 16))
                    << w << "x" << h << " " << fx << "," << fy << " r" << rounding << " row " << y;
        }
    }
}

}  // namespace

namespace {

// Every set, the reference first, writes exactly its destination area: the area sits inside a padded
// buffer filled with a guard byte, and the kernels run twice (guards 0x00 and 0xFF) so that any sample
// left unwritten shows too. Sources are allocated to their exact documented extent (stride = width), so
// the sanitizer build reports reads past them; the SSE2 and AVX2 sets, which may load whole vectors, read
// from padded copies instead.
TEST(VideoKernels, KernelsWriteOnlyTheirArea) {
    std::vector<const vdec::Kernels*> sets = fastSets();
    sets.insert(sets.begin(), &vdec::kReferenceKernels);
    constexpr int kPad = 24, kStride = 16 + 2 * kPad;
    std::mt19937 rng(17);
    for (const vdec::Kernels* k : sets) {
        SCOPED_TRACE(k->name);
        const bool exactSources = k != vdec::kSse2Kernels && k != vdec::avx2Kernels();
        // Runs op on a destination w by h at kPad, kPad of a kStride-wide padded buffer; checks the guards
        // and returns the area.
        auto guarded = [&](int w, int h, int bytesPerSample, auto op) {
            std::vector<uint8_t> result[2];
            for (int g = 0; g < 2; ++g) {
                const uint8_t guard = g ? 0xFF : 0x00;
                const int stride = kStride * bytesPerSample;
                std::vector<uint8_t> buf(size_t(stride) * (h + 2 * kPad), guard);
                uint8_t* area = buf.data() + kPad * stride + kPad * bytesPerSample;
                op(area, stride);
                for (int y = 0; y < h + 2 * kPad; ++y)
                    for (int x = 0; x < stride; ++x) {
                        bool inside = y >= kPad && y < kPad + h && x >= kPad * bytesPerSample &&
                                      x < (kPad + w) * bytesPerSample;
                        if (inside)
                            result[g].push_back(buf[size_t(y) * stride + x]);
                        else if (buf[size_t(y) * stride + x] != guard)
                            ADD_FAILURE() << "write outside the area at row " << y - kPad << " byte "
                                          << x - kPad * bytesPerSample;
                    }
            }
            EXPECT_TRUE(result[0] == result[1]) << "a sample of the area left unwritten";
        };
        // A source of the given extent: exact, or inside a padded copy.
        struct Source {
            std::vector<uint8_t> data;
            const uint8_t* origin;
            int stride;
        };
        auto source = [&](int w, int h) {
            Source s;
            if (exactSources) {
                s.data.resize(size_t(w) * h);
                for (auto& v : s.data) v = uint8_t(rng());
                s.origin = s.data.data();
                s.stride = w;
            } else {
                s.stride = w + 64;
                s.data.resize(size_t(s.stride) * (h + 64));
                for (auto& v : s.data) v = uint8_t(rng());
                s.origin = s.data.data() + 32 * s.stride + 32;
            }
            return s;
        };
        for (int iter = 0; iter < 40; ++iter) {
            int16_t block[64];
            for (auto& c : block) c = int16_t(int(rng() % 600) - 300);
            guarded(8, 8, 1, [&](uint8_t* d, int s) { k->putBlock(d, s, block); });
            guarded(8, 8, 1, [&](uint8_t* d, int s) {
                k->putBlock(d, s, block);
                k->addBlock(d, s, block);
            });
            static const int kShapes[3][2] = {{16, 16}, {8, 8}, {16, 8}};
            const int* shape = kShapes[iter % 3];
            const int w = shape[0], h = shape[1];
            Source src = source(w + 1, h + 1);
            const int hx = iter & 1, hy = (iter >> 1) & 1, r = (iter >> 2) & 1;
            guarded(w, h, 1,
                    [&](uint8_t* d, int s) { k->predict(d, s, src.origin, src.stride, w, h, hx, hy, r); });
            const int fx = iter & 3, fy = (iter >> 2) & 3;
            guarded(w, h, 1, [&](uint8_t* d, int s) {
                k->predictQuarter(d, s, src.origin, src.stride, w, h, fx, fy, r);
            });
            const int n = 1 + iter;
            Source y = source(n, 1), u = source((n + 1) / 2, 1), v = source((n + 1) / 2, 1);
            guarded(n, 1, 4, [&](uint8_t* d, int) { k->convertRowBgr0(y.origin, u.origin, v.origin, d, n); });
        }
    }
}

}  // namespace
