// The portable kernels: plain C++ arranged for the compiler's vectoriser, built on every target.
#include <cstring>

#include "video/kernels.h"
#include "video/kernels_internal.h"

namespace vdec {

namespace {

using namespace kdetail;

// The same prediction arranged for the vectoriser: mirrored copies of each line remove the branches, and
// the vertical filter runs across whole rows.
void predictQuarterFast(uint8_t* dst, int ds, const uint8_t* src, int ss, int w, int h, int fx, int fy,
                        int rounding) {
    uint8_t hs[17 * 16];  // horizontal stage, h + 1 rows of w samples
    const int n = w;
    int rows = fy ? h + 1 : h;
    const int bias = 16 - rounding, avgBias = 1 - rounding;
    for (int y = 0; y < rows; ++y) {
        const uint8_t* row = src + y * ss;
        uint8_t* out = hs + y * 16;
        if (fx == 0) {
            std::memcpy(out, row, size_t(n));
            continue;
        }
        int16_t e[24];  // e[k + 3] = sample k, mirrored beyond 0..n
        for (int k = 0; k <= n; ++k) e[k + 3] = row[k];
        for (int j = 0; j < 3; ++j) {
            e[2 - j] = row[j];
            e[n + 4 + j] = row[n - j];
        }
        const uint8_t* other = row + (fx == 3);
        for (int i = 0; i < n; ++i) {
            int sum = -e[i] + 3 * e[i + 1] - 6 * e[i + 2] + 20 * e[i + 3] + 20 * e[i + 4] - 6 * e[i + 5] +
                      3 * e[i + 6] - e[i + 7];
            int v = (sum + bias) >> 5;
            v = v < 0 ? 0 : v > 255 ? 255 : v;
            out[i] = uint8_t(fx == 2 ? v : (v + other[i] + avgBias) >> 1);
        }
    }
    if (fy == 0) {
        for (int y = 0; y < h; ++y) std::memcpy(dst + y * ds, hs + y * 16, size_t(w));
        return;
    }
    // Row r of the mirrored column: -k reads k - 1, h + k reads h + 1 - k.
    auto rowAt = [&](int k) { return hs + 16 * (k < 0 ? -k - 1 : k > h ? 2 * h + 1 - k : k); };
    for (int y = 0; y < h; ++y) {
        const uint8_t* r0 = rowAt(y - 3);
        const uint8_t* r1 = rowAt(y - 2);
        const uint8_t* r2 = rowAt(y - 1);
        const uint8_t* r3 = rowAt(y);
        const uint8_t* r4 = rowAt(y + 1);
        const uint8_t* r5 = rowAt(y + 2);
        const uint8_t* r6 = rowAt(y + 3);
        const uint8_t* r7 = rowAt(y + 4);
        const uint8_t* other = fy == 3 ? r4 : r3;
        uint8_t* out = dst + y * ds;
        for (int x = 0; x < w; ++x) {
            int sum =
                -r0[x] + 3 * r1[x] - 6 * r2[x] + 20 * r3[x] + 20 * r4[x] - 6 * r5[x] + 3 * r6[x] - r7[x];
            int v = (sum + bias) >> 5;
            v = v < 0 ? 0 : v > 255 ? 255 : v;
            out[x] = uint8_t(fy == 2 ? v : (v + other[x] + avgBias) >> 1);
        }
    }
}

// Specialised half-sample prediction: fixed widths let the compiler vectorise the rows.
template <int W>
void predictFixed(uint8_t* dst, int ds, const uint8_t* src, int ss, int h, int hx, int hy, int rounding) {
    if (!hx && !hy) {
        for (int y = 0; y < h; ++y, dst += ds, src += ss) std::memcpy(dst, src, W);
    } else if (hx && !hy) {
        for (int y = 0; y < h; ++y, dst += ds, src += ss)
            for (int x = 0; x < W; ++x) dst[x] = uint8_t((src[x] + src[x + 1] + 1 - rounding) >> 1);
    } else if (!hx && hy) {
        for (int y = 0; y < h; ++y, dst += ds, src += ss)
            for (int x = 0; x < W; ++x) dst[x] = uint8_t((src[x] + src[x + ss] + 1 - rounding) >> 1);
    } else {
        for (int y = 0; y < h; ++y, dst += ds, src += ss)
            for (int x = 0; x < W; ++x)
                dst[x] = uint8_t((src[x] + src[x + 1] + src[x + ss] + src[x + ss + 1] + 2 - rounding) >> 2);
    }
}

constexpr auto predictFast = &predictByWidth<predictFixed<16>, predictFixed<8>>;

void convertRowBgr0Fast(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int n) {
    // Two pixels per chroma sample; the arithmetic is the reference's, arranged for vectorisation.
    int pairs = n >> 1;
    for (int i = 0; i < pairs; ++i) {
        int uu = 8 * (u[i] - 128), vv = 8 * (v[i] - 128);
        int r = (vv * 13123) >> 16;
        int g = ((uu * -3218) >> 16) + ((vv * -6686) >> 16);
        int b = (uu * 16591) >> 16;
        for (int k = 0; k < 2; ++k) {
            int yv = y[2 * i + k];
            int yy = yv > 16 ? yv - 16 : 0;
            int l = (8 * yy * 9576) >> 16;
            uint8_t* o = out + 8 * i + 4 * k;
            o[0] = clamp255(l + b);
            o[1] = clamp255(l + g);
            o[2] = clamp255(l + r);
            o[3] = 0;
        }
    }
    if (n & 1) convertRowBgr0Ref(y + 2 * pairs, u + pairs, v + pairs, out + 8 * pairs, 1);
}

}  // namespace

const Kernels kPortableKernels = {idctDcFloat,        idctFloat,           putBlockRef,
                                  addBlockRef,        predictFast,         predictQuarterFast,
                                  convertRowBgr0Fast, dequantIntraH263Ref, "portable"};

}  // namespace vdec
