#include "video/kernels.h"

#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vdec {

namespace {

inline uint8_t clamp255(int v) {
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Separable float inverse DCT: even/odd decomposition of the 8-point transform, rows then columns. Each
// stage computes exactly what the full formula gives for zero inputs, so the DC-only shortcut below
// produces the same values as the general path.
constexpr float C1 = 0.98078528040323044913f;
constexpr float C2 = 0.92387953251128675613f;
constexpr float C3 = 0.83146961230254523708f;
constexpr float C4 = 0.70710678118654752440f;
constexpr float C5 = 0.55557023301960222474f;
constexpr float C6 = 0.38268343236508977173f;
constexpr float C7 = 0.19509032201612826785f;

inline int16_t roundSaturate(float v) {
    if (v < -256.0f) v = -256.0f;
    if (v > 255.0f) v = 255.0f;
    return int16_t(int(v + 256.5f) - 256);
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
        float x0 = x[0], x1 = x[1], x2 = x[2], x3 = x[3], x4 = x[4], x5 = x[5], x6 = x[6], x7 = x[7];
        float a0 = (x0 + x4) * C4, a1 = (x0 - x4) * C4;
        float a2 = x2 * C2 + x6 * C6, a3 = x2 * C6 - x6 * C2;
        float e0 = a0 + a2, e3 = a0 - a2, e1 = a1 + a3, e2 = a1 - a3;
        float o0 = x1 * C1 + x3 * C3 + x5 * C5 + x7 * C7;
        float o1 = x1 * C3 - x3 * C7 - x5 * C1 - x7 * C5;
        float o2 = x1 * C5 - x3 * C1 + x5 * C7 + x7 * C3;
        float o3 = x1 * C7 - x3 * C5 + x5 * C3 - x7 * C1;
        o[0] = e0 + o0;
        o[7] = e0 - o0;
        o[1] = e1 + o1;
        o[6] = e1 - o1;
        o[2] = e2 + o2;
        o[5] = e2 - o2;
        o[3] = e3 + o3;
        o[4] = e3 - o3;
    }
    // Columns, eight at a time.
    float out[64];
    for (int c = 0; c < 8; ++c) {
        float x0 = t[c], x1 = t[8 + c], x2 = t[16 + c], x3 = t[24 + c], x4 = t[32 + c], x5 = t[40 + c],
              x6 = t[48 + c], x7 = t[56 + c];
        float a0 = (x0 + x4) * C4, a1 = (x0 - x4) * C4;
        float a2 = x2 * C2 + x6 * C6, a3 = x2 * C6 - x6 * C2;
        float e0 = a0 + a2, e3 = a0 - a2, e1 = a1 + a3, e2 = a1 - a3;
        float o0 = x1 * C1 + x3 * C3 + x5 * C5 + x7 * C7;
        float o1 = x1 * C3 - x3 * C7 - x5 * C1 - x7 * C5;
        float o2 = x1 * C5 - x3 * C1 + x5 * C7 + x7 * C3;
        float o3 = x1 * C7 - x3 * C5 + x5 * C3 - x7 * C1;
        out[c] = (e0 + o0) * 0.25f;
        out[56 + c] = (e0 - o0) * 0.25f;
        out[8 + c] = (e1 + o1) * 0.25f;
        out[48 + c] = (e1 - o1) * 0.25f;
        out[16 + c] = (e2 + o2) * 0.25f;
        out[40 + c] = (e2 - o2) * 0.25f;
        out[24 + c] = (e3 + o3) * 0.25f;
        out[32 + c] = (e3 - o3) * 0.25f;
    }
    for (int i = 0; i < 64; ++i) block[i] = roundSaturate(out[i]);
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

// Fixed-point BT.601 conversion of the output stage: each multiplier is applied as the high half of a
// 32-bit product with a value pre-scaled by 8; sums saturate to 16 bits, results clamp to 0..255.
inline int sat16(int v) {
    return v < -32768 ? -32768 : v > 32767 ? 32767 : v;
}

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

#if !defined(__SSE2__)
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

void predictFast(uint8_t* dst, int ds, const uint8_t* src, int ss, int w, int h, int hx, int hy,
                 int rounding) {
    if (w == 16)
        predictFixed<16>(dst, ds, src, ss, h, hx, hy, rounding);
    else if (w == 8)
        predictFixed<8>(dst, ds, src, ss, h, hx, hy, rounding);
    else
        predictRef(dst, ds, src, ss, w, h, hx, hy, rounding);
}

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
#endif

#if defined(__SSE2__)
// The float inverse DCT above with four lanes per operation: every lane performs exactly the scalar
// operations in the same order (no fused multiply-add), so the results are identical.
struct Quad {
    __m128 lo, hi;  // lanes 0..3 and 4..7
};

inline void transpose8(Quad* r) {
    // 8x8 transpose as four 4x4 transposes: (0..3 x lo), (0..3 x hi), (4..7 x lo), (4..7 x hi).
    __m128 a0 = r[0].lo, a1 = r[1].lo, a2 = r[2].lo, a3 = r[3].lo;
    __m128 b0 = r[0].hi, b1 = r[1].hi, b2 = r[2].hi, b3 = r[3].hi;
    __m128 c0 = r[4].lo, c1 = r[5].lo, c2 = r[6].lo, c3 = r[7].lo;
    __m128 d0 = r[4].hi, d1 = r[5].hi, d2 = r[6].hi, d3 = r[7].hi;
    _MM_TRANSPOSE4_PS(a0, a1, a2, a3);
    _MM_TRANSPOSE4_PS(b0, b1, b2, b3);
    _MM_TRANSPOSE4_PS(c0, c1, c2, c3);
    _MM_TRANSPOSE4_PS(d0, d1, d2, d3);
    r[0] = {a0, c0};
    r[1] = {a1, c1};
    r[2] = {a2, c2};
    r[3] = {a3, c3};
    r[4] = {b0, d0};
    r[5] = {b1, d1};
    r[6] = {b2, d2};
    r[7] = {b3, d3};
}

// One 8-point pass, lane-parallel: x[k] holds input k for four transforms; scale applies the final 1/4.
inline void pass8(const __m128* x, __m128* o, bool scale) {
    const __m128 c1 = _mm_set1_ps(C1), c2 = _mm_set1_ps(C2), c3 = _mm_set1_ps(C3), c4 = _mm_set1_ps(C4),
                 c5 = _mm_set1_ps(C5), c6 = _mm_set1_ps(C6), c7 = _mm_set1_ps(C7);
    __m128 a0 = _mm_mul_ps(_mm_add_ps(x[0], x[4]), c4), a1 = _mm_mul_ps(_mm_sub_ps(x[0], x[4]), c4);
    __m128 a2 = _mm_add_ps(_mm_mul_ps(x[2], c2), _mm_mul_ps(x[6], c6));
    __m128 a3 = _mm_sub_ps(_mm_mul_ps(x[2], c6), _mm_mul_ps(x[6], c2));
    __m128 e0 = _mm_add_ps(a0, a2), e3 = _mm_sub_ps(a0, a2), e1 = _mm_add_ps(a1, a3), e2 = _mm_sub_ps(a1, a3);
    __m128 o0 =
        _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(x[1], c1), _mm_mul_ps(x[3], c3)), _mm_mul_ps(x[5], c5)),
                   _mm_mul_ps(x[7], c7));
    __m128 o1 =
        _mm_sub_ps(_mm_sub_ps(_mm_sub_ps(_mm_mul_ps(x[1], c3), _mm_mul_ps(x[3], c7)), _mm_mul_ps(x[5], c1)),
                   _mm_mul_ps(x[7], c5));
    __m128 o2 =
        _mm_add_ps(_mm_add_ps(_mm_sub_ps(_mm_mul_ps(x[1], c5), _mm_mul_ps(x[3], c1)), _mm_mul_ps(x[5], c7)),
                   _mm_mul_ps(x[7], c3));
    __m128 o3 =
        _mm_sub_ps(_mm_add_ps(_mm_sub_ps(_mm_mul_ps(x[1], c7), _mm_mul_ps(x[3], c5)), _mm_mul_ps(x[5], c3)),
                   _mm_mul_ps(x[7], c1));
    o[0] = _mm_add_ps(e0, o0);
    o[7] = _mm_sub_ps(e0, o0);
    o[1] = _mm_add_ps(e1, o1);
    o[6] = _mm_sub_ps(e1, o1);
    o[2] = _mm_add_ps(e2, o2);
    o[5] = _mm_sub_ps(e2, o2);
    o[3] = _mm_add_ps(e3, o3);
    o[4] = _mm_sub_ps(e3, o3);
    if (scale) {
        const __m128 q = _mm_set1_ps(0.25f);
        for (int k = 0; k < 8; ++k) o[k] = _mm_mul_ps(o[k], q);
    }
}

void idctSse(int16_t* block) {
    Quad r[8];
    for (int k = 0; k < 8; ++k) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k));
        __m128i sign = _mm_srai_epi16(v, 15);
        r[k].lo = _mm_cvtepi32_ps(_mm_unpacklo_epi16(v, sign));
        r[k].hi = _mm_cvtepi32_ps(_mm_unpackhi_epi16(v, sign));
    }
    // Rows: after the transpose r[k] holds coefficient k of rows 0..3 (lo) and 4..7 (hi).
    transpose8(r);
    __m128 in[8], out[8];
    for (int half = 0; half < 2; ++half) {
        for (int k = 0; k < 8; ++k) in[k] = half ? r[k].hi : r[k].lo;
        pass8(in, out, false);
        for (int k = 0; k < 8; ++k) (half ? r[k].hi : r[k].lo) = out[k];
    }
    // r[n] now holds output n of the rows; back to row-major for the columns.
    transpose8(r);
    const __m128 lo = _mm_set1_ps(-256.0f), hi = _mm_set1_ps(255.0f), bias = _mm_set1_ps(256.5f);
    const __m128i off = _mm_set1_epi32(256);
    for (int half = 0; half < 2; ++half) {
        for (int k = 0; k < 8; ++k) in[k] = half ? r[k].hi : r[k].lo;
        pass8(in, out, true);
        for (int k = 0; k < 8; ++k) {
            __m128 v = _mm_add_ps(_mm_min_ps(_mm_max_ps(out[k], lo), hi), bias);
            (half ? r[k].hi : r[k].lo) = _mm_castsi128_ps(_mm_sub_epi32(_mm_cvttps_epi32(v), off));
        }
    }
    for (int k = 0; k < 8; ++k) {
        __m128i v = _mm_packs_epi32(_mm_castps_si128(r[k].lo), _mm_castps_si128(r[k].hi));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * k), v);
    }
}

void putBlockSse(uint8_t* dst, int stride, const int16_t* b) {
    for (int y = 0; y < 8; ++y, dst += stride, b += 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(v, v));
    }
}

void addBlockSse(uint8_t* dst, int stride, const int16_t* b) {
    const __m128i zero = _mm_setzero_si128();
    for (int y = 0; y < 8; ++y, dst += stride, b += 8) {
        __m128i p = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst)), zero);
        __m128i v = _mm_adds_epi16(p, _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(v, v));
    }
}

// Half-sample prediction with byte averages: avg(a, b) is (a + b + 1) >> 1, and rounding_control 1
// subtracts the bit that rounding added back; the four-sample case sums in 16 bits.
template <int W>
inline __m128i loadPixels(const uint8_t* p) {
    if (W == 16) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

template <int W>
inline void storePixels(uint8_t* p, __m128i v) {
    if (W == 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    else
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}

inline __m128i average2(__m128i a, __m128i b, int rounding) {
    __m128i avg = _mm_avg_epu8(a, b);
    if (!rounding) return avg;
    return _mm_sub_epi8(avg, _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

template <int W>
void predictSseFixed(uint8_t* dst, int ds, const uint8_t* src, int ss, int h, int hx, int hy, int rounding) {
    if (!hx && !hy) {
        for (int y = 0; y < h; ++y, dst += ds, src += ss) storePixels<W>(dst, loadPixels<W>(src));
    } else if (hx && !hy) {
        for (int y = 0; y < h; ++y, dst += ds, src += ss)
            storePixels<W>(dst, average2(loadPixels<W>(src), loadPixels<W>(src + 1), rounding));
    } else if (!hx && hy) {
        __m128i prev = loadPixels<W>(src);
        for (int y = 0; y < h; ++y, dst += ds) {
            src += ss;
            __m128i next = loadPixels<W>(src);
            storePixels<W>(dst, average2(prev, next, rounding));
            prev = next;
        }
    } else {
        const __m128i zero = _mm_setzero_si128(), bias = _mm_set1_epi16(int16_t(2 - rounding));
        auto sums = [&](const uint8_t* p, __m128i& lo, __m128i& hi) {
            __m128i a = loadPixels<W>(p), b = loadPixels<W>(p + 1);
            lo = _mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
            hi = _mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
        };
        __m128i pl, ph;
        sums(src, pl, ph);
        for (int y = 0; y < h; ++y, dst += ds) {
            src += ss;
            __m128i nl, nh;
            sums(src, nl, nh);
            __m128i lo = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(pl, nl), bias), 2);
            __m128i hi = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(ph, nh), bias), 2);
            storePixels<W>(dst, _mm_packus_epi16(lo, hi));
            pl = nl;
            ph = nh;
        }
    }
}

void predictSse(uint8_t* dst, int ds, const uint8_t* src, int ss, int w, int h, int hx, int hy,
                int rounding) {
    if (w == 16)
        predictSseFixed<16>(dst, ds, src, ss, h, hx, hy, rounding);
    else if (w == 8)
        predictSseFixed<8>(dst, ds, src, ss, h, hx, hy, rounding);
    else
        predictRef(dst, ds, src, ss, w, h, hx, hy, rounding);
}

// The BGR0 conversion eight pixels at a time: the multipliers are applied with the 16-bit high-half
// multiply, the sums saturate to 16 bits and the packs clamp to 0..255, exactly as the plain version.
void convertRowBgr0Sse(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int n) {
    const __m128i zero = _mm_setzero_si128(), sixteen = _mm_set1_epi8(16), c128 = _mm_set1_epi16(128);
    const __m128i kY = _mm_set1_epi16(9576), kVR = _mm_set1_epi16(13123), kUG = _mm_set1_epi16(-3218),
                  kVG = _mm_set1_epi16(-6686), kUB = _mm_set1_epi16(16591);
    int x = 0;
    for (; x + 8 <= n; x += 8) {
        __m128i yy = _mm_unpacklo_epi8(
            _mm_subs_epu8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + x)), sixteen), zero);
        __m128i l = _mm_mulhi_epi16(_mm_slli_epi16(yy, 3), kY);
        int32_t u4, v4;
        std::memcpy(&u4, u + x / 2, 4);
        std::memcpy(&v4, v + x / 2, 4);
        __m128i uu = _mm_slli_epi16(_mm_sub_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(u4), zero), c128), 3);
        __m128i vv = _mm_slli_epi16(_mm_sub_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(v4), zero), c128), 3);
        __m128i r = _mm_mulhi_epi16(vv, kVR);
        __m128i g = _mm_adds_epi16(_mm_mulhi_epi16(uu, kUG), _mm_mulhi_epi16(vv, kVG));
        __m128i b = _mm_mulhi_epi16(uu, kUB);
        r = _mm_unpacklo_epi16(r, r);
        g = _mm_unpacklo_epi16(g, g);
        b = _mm_unpacklo_epi16(b, b);
        __m128i R = _mm_packus_epi16(_mm_adds_epi16(l, r), zero);
        __m128i G = _mm_packus_epi16(_mm_adds_epi16(l, g), zero);
        __m128i B = _mm_packus_epi16(_mm_adds_epi16(l, b), zero);
        __m128i bg = _mm_unpacklo_epi8(B, G), r0 = _mm_unpacklo_epi8(R, zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x), _mm_unpacklo_epi16(bg, r0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x + 16), _mm_unpackhi_epi16(bg, r0));
    }
    if (x < n) convertRowBgr0Ref(y + x, u + x / 2, v + x / 2, out + 4 * x, n - x);
}

// Quarter-sample prediction with 16-bit lanes: the 8-tap sums stay within +-15300, the packs clamp.
inline __m128i tap8(const __m128i* x, __m128i bias) {
    const __m128i k3 = _mm_set1_epi16(3), k6 = _mm_set1_epi16(6), k20 = _mm_set1_epi16(20);
    __m128i sum = _mm_mullo_epi16(_mm_add_epi16(x[3], x[4]), k20);
    sum = _mm_sub_epi16(sum, _mm_mullo_epi16(_mm_add_epi16(x[2], x[5]), k6));
    sum = _mm_add_epi16(sum, _mm_mullo_epi16(_mm_add_epi16(x[1], x[6]), k3));
    sum = _mm_sub_epi16(sum, _mm_add_epi16(x[0], x[7]));
    return _mm_srai_epi16(_mm_add_epi16(sum, bias), 5);
}

void predictQuarterSse(uint8_t* dst, int ds, const uint8_t* src, int ss, int w, int h, int fx, int fy,
                       int rounding) {
    alignas(16) uint8_t hs[17 * 16];
    const int n = w;
    if (n == 8) std::memset(hs, 0, sizeof hs);  // the unused right half of each row is filtered too
    const int rows = fy ? h + 1 : h;
    const __m128i bias = _mm_set1_epi16(int16_t(16 - rounding)), zero = _mm_setzero_si128();
    for (int y = 0; y < rows; ++y) {
        const uint8_t* row = src + y * ss;
        uint8_t* out = hs + y * 16;
        if (fx == 0) {
            std::memcpy(out, row, size_t(n));
            continue;
        }
        alignas(16) int16_t e[32];
        for (int k = 0; k <= n; ++k) e[k + 3] = row[k];
        for (int j = 0; j < 3; ++j) {
            e[2 - j] = row[j];
            e[n + 4 + j] = row[n - j];
        }
        __m128i res[2];
        for (int half = 0; half < n / 8; ++half) {
            __m128i x[8];
            for (int t = 0; t < 8; ++t)
                x[t] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(e + half * 8 + t));
            res[half] = tap8(x, bias);
        }
        __m128i v = _mm_packus_epi16(res[0], n == 16 ? res[1] : res[0]);
        if (fx != 2) {
            __m128i other = n == 16 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + (fx == 3)))
                                    : _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + (fx == 3)));
            v = average2(v, other, rounding);
        }
        if (n == 16)
            _mm_store_si128(reinterpret_cast<__m128i*>(out), v);
        else
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out), v);
    }
    if (fy == 0) {
        for (int y = 0; y < h; ++y) std::memcpy(dst + y * ds, hs + y * 16, size_t(w));
        return;
    }
    auto rowAt = [&](int k) { return hs + 16 * (k < 0 ? -k - 1 : k > h ? 2 * h + 1 - k : k); };
    for (int y = 0; y < h; ++y) {
        __m128i lo[8], hi[8];
        for (int t = 0; t < 8; ++t) {
            __m128i r = _mm_load_si128(reinterpret_cast<const __m128i*>(rowAt(y - 3 + t)));
            lo[t] = _mm_unpacklo_epi8(r, zero);
            hi[t] = _mm_unpackhi_epi8(r, zero);
        }
        __m128i v = _mm_packus_epi16(tap8(lo, bias), tap8(hi, bias));
        if (fy != 2)
            v = average2(v, _mm_load_si128(reinterpret_cast<const __m128i*>(rowAt(y + (fy == 3)))), rounding);
        if (n == 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + y * ds), v);
        else
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + y * ds), v);
    }
}
#endif

}  // namespace

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

const Kernels kReferenceKernels = {idctDcFloat, idctFloat,         putBlockRef,      addBlockRef,
                                   predictRef,  predictQuarterRef, convertRowBgr0Ref};
#if defined(__SSE2__)
const Kernels kFastKernels = {idctDcFloat, idctSse,           putBlockSse,      addBlockSse,
                              predictSse,  predictQuarterSse, convertRowBgr0Sse};
#else
const Kernels kFastKernels = {idctDcFloat, idctFloat,          putBlockRef,       addBlockRef,
                              predictFast, predictQuarterFast, convertRowBgr0Fast};
#endif

const Kernels& kernels() {
    return kFastKernels;
}

}  // namespace vdec
