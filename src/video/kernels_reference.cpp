// The reference kernels: plain C++ written for clarity, the yardstick of the faster sets.
#include <cmath>

#include "video/kernels.h"
#include "video/kernels_internal.h"

namespace vdec {
namespace kdetail {

// Separable float inverse DCT: even/odd decomposition of the 8-point transform, rows then columns. Each
// stage computes exactly what the full formula gives for zero inputs, so the DC-only shortcut below
// produces the same values as the general path.

inline int16_t roundSaturate(float v) {
    if (v < -256.0f) v = -256.0f;
    if (v > 255.0f) v = 255.0f;
    return int16_t(int(v + 256.5f) - 256);
}

// One 8-point pass: y = 2 x (1-D IDCT of x).
inline void pass8(float x0, float x1, float x2, float x3, float x4, float x5, float x6, float x7, float* y) {
    float a0 = (x0 + x4) * C4, a1 = (x0 - x4) * C4;
    float a2 = x2 * C2 + x6 * C6, a3 = x2 * C6 - x6 * C2;
    float e0 = a0 + a2, e3 = a0 - a2, e1 = a1 + a3, e2 = a1 - a3;
    float o0 = x1 * C1 + x3 * C3 + x5 * C5 + x7 * C7;
    float o1 = x1 * C3 - x3 * C7 - x5 * C1 - x7 * C5;
    float o2 = x1 * C5 - x3 * C1 + x5 * C7 + x7 * C3;
    float o3 = x1 * C7 - x3 * C5 + x5 * C3 - x7 * C1;
    y[0] = e0 + o0;
    y[7] = e0 - o0;
    y[1] = e1 + o1;
    y[6] = e1 - o1;
    y[2] = e2 + o2;
    y[5] = e2 - o2;
    y[3] = e3 + o3;
    y[4] = e3 - o3;
}

void idctFloat(int16_t* block) {
    float t[64];
    // Rows: t = 2 x (1-D IDCT of the row); the factors 1/2 of both passes are applied at the end.
    for (int r = 0; r < 8; ++r) {
        const int16_t* x = block + r * 8;
        float* o = t + r * 8;
        if (!(x[1] | x[2] | x[3] | x[4] | x[5] | x[6] | x[7])) {
            float d = float(x[0]) * C4;
            for (int i = 0; i < 8; ++i) o[i] = d;
            continue;
        }
        pass8(x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7], o);
    }
    // Columns.
    for (int c = 0; c < 8; ++c) {
        float y[8];
        pass8(t[c], t[8 + c], t[16 + c], t[24 + c], t[32 + c], t[40 + c], t[48 + c], t[56 + c], y);
        for (int k = 0; k < 8; ++k) block[8 * k + c] = roundSaturate(y[k] * 0.25f);
    }
}

int16_t idctDcFloat(int dc) {
    return roundSaturate(float(dc) * C4 * C4 * 0.25f);
}

void putBlockRef(uint8_t* dst, int stride, const int16_t* b) {
    for (int y = 0; y < 8; ++y, dst += stride, b += 8)
        for (int x = 0; x < 8; ++x) dst[x] = clamp255(b[x]);
}

void addBlockRef(uint8_t* dst, int stride, const int16_t* b) {
    for (int y = 0; y < 8; ++y, dst += stride, b += 8)
        for (int x = 0; x < 8; ++x) dst[x] = clamp255(dst[x] + b[x]);
}

void predictRef(uint8_t* dst, int ds, const uint8_t* src, int ss, int w, int h, int hx, int hy,
                int rounding) {
    for (int y = 0; y < h; ++y, dst += ds, src += ss) {
        for (int x = 0; x < w; ++x) {
            int a = src[x];
            if (!hx && !hy)
                dst[x] = uint8_t(a);
            else if (hx && !hy)
                dst[x] = uint8_t((a + src[x + 1] + 1 - rounding) >> 1);
            else if (!hx && hy)
                dst[x] = uint8_t((a + src[x + ss] + 1 - rounding) >> 1);
            else
                dst[x] = uint8_t((a + src[x + 1] + src[x + ss] + src[x + ss + 1] + 2 - rounding) >> 2);
        }
    }
}

namespace {

// 8-tap half-sample filter over a line of n + 1 samples (stride step), mirrored at both ends: sample -k
// reads k - 1, sample n + k reads n + 1 - k.
inline void halfLine(const uint8_t* s, int step, int n, int rounding, uint8_t* out) {
    static const int kTaps[8] = {-1, 3, -6, 20, 20, -6, 3, -1};
    for (int i = 0; i < n; ++i) {
        int sum = 0;
        for (int t = 0; t < 8; ++t) {
            int k = i - 3 + t;
            if (k < 0) k = -k - 1;
            if (k > n) k = 2 * n + 1 - k;
            sum += kTaps[t] * s[k * step];
        }
        out[i] = clamp255((sum + 16 - rounding) >> 5);
    }
}

void predictQuarterRef(uint8_t* dst, int ds, const uint8_t* src, int ss, int w, int h, int fx, int fy,
                       int rounding) {
    // Horizontal stage over h + 1 rows (the vertical filter reads them all).
    uint8_t hs[17 * 17], half[17];
    int rows = fy ? h + 1 : h;
    for (int y = 0; y < rows; ++y) {
        const uint8_t* row = src + y * ss;
        uint8_t* out = hs + y * 17;
        if (fx == 0) {
            for (int x = 0; x < w; ++x) out[x] = row[x];
            continue;
        }
        halfLine(row, 1, w, rounding, half);
        for (int x = 0; x < w; ++x) {
            if (fx == 2)
                out[x] = half[x];
            else
                out[x] = uint8_t((half[x] + row[x + (fx == 3)] + 1 - rounding) >> 1);
        }
    }
    // Vertical stage.
    for (int x = 0; x < w; ++x) {
        uint8_t col[17];
        if (fy) halfLine(hs + x, 17, h, rounding, col);
        for (int y = 0; y < h; ++y) {
            int v;
            if (fy == 0)
                v = hs[y * 17 + x];
            else if (fy == 2)
                v = col[y];
            else
                v = (col[y] + hs[(y + (fy == 3)) * 17 + x] + 1 - rounding) >> 1;
            dst[y * ds + x] = uint8_t(v);
        }
    }
}

}  // namespace

// Fixed-point BT.601 conversion of the output stage: each multiplier is applied as the high half of a
// 32-bit product with a value pre-scaled by 8; sums saturate to 16 bits, results clamp to 0..255.

void convertRowBgr0Ref(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int n) {
    for (int x = 0; x < n; ++x) {
        int yy = y[x] > 16 ? y[x] - 16 : 0;
        int l = (8 * yy * 9576) >> 16;
        int uu = 8 * (u[x >> 1] - 128), vv = 8 * (v[x >> 1] - 128);
        int r = (vv * 13123) >> 16;
        int g = sat16(((uu * -3218) >> 16) + ((vv * -6686) >> 16));
        int b = (uu * 16591) >> 16;
        out[4 * x + 0] = clamp255(sat16(l + b));
        out[4 * x + 1] = clamp255(sat16(l + g));
        out[4 * x + 2] = clamp255(sat16(l + r));
        out[4 * x + 3] = 0;
    }
}

bool dequantIntraH263Ref(int16_t* blk, int qp) {
    const int add = (qp & 1) ? qp : qp - 1;
    int nonZero = 0;
    for (int k = 1; k < 64; ++k) {
        int q = blk[k];
        int sign = (q > 0) - (q < 0);
        nonZero |= q;
        int f = 2 * q * qp + sign * add;
        blk[k] = int16_t(f < -2048 ? -2048 : f > 2047 ? 2047 : f);
    }
    return nonZero != 0;
}

}  // namespace kdetail

void idctDouble(int16_t* block) {
    static double cosTable[8][8];
    static bool ready = false;
    if (!ready) {
        for (int x = 0; x < 8; ++x)
            for (int u = 0; u < 8; ++u)
                cosTable[x][u] = (u == 0 ? std::sqrt(0.5) : 1.0) * std::cos((2 * x + 1) * u * M_PI / 16.0);
        ready = true;
    }
    // Separable: rows (u -> x), then columns (v -> y).
    double rows[64], tmp[64];
    for (int v = 0; v < 8; ++v)
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int u = 0; u < 8; ++u) s += cosTable[x][u] * block[v * 8 + u];
            rows[v * 8 + x] = s;
        }
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int v = 0; v < 8; ++v) s += cosTable[y][v] * rows[v * 8 + x];
            tmp[y * 8 + x] = s / 4.0;
        }
    for (int i = 0; i < 64; ++i) {
        double v = std::floor(tmp[i] + 0.5);
        block[i] = int16_t(v < -256 ? -256 : v > 255 ? 255 : v);
    }
}

using namespace kdetail;
const Kernels kReferenceKernels = {idctDcFloat,       idctFloat,           putBlockRef,
                                   addBlockRef,       predictRef,          predictQuarterRef,
                                   convertRowBgr0Ref, dequantIntraH263Ref, "reference"};

}  // namespace vdec
