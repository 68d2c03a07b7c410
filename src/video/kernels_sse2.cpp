// The SSE2 kernels (x86-64 always has SSE2); each gives exactly the reference's results.
#include "video/kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstring>

#define QV_LANES_TARGET
#include "video/kernels_internal.h"
#include "video/kernels_x86.h"

namespace vdec {

namespace {

using namespace kdetail;

// The reference's float inverse DCT with four lanes per operation: every lane performs exactly the scalar
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

// Sparse blocks (the usual case) skip the work on zeros: with rows 4..7 zero the second half of the row
// pass (its output is zero) and the columns' inputs 4..7; with columns 4..7 zero the rows' inputs 4..7.
void idctSse(int16_t* block) {
    __m128i v[8];
    for (int k = 0; k < 8; ++k) v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k));
    bool lowerZero, rightZero;
    zeroQuarters(v, &lowerZero, &rightZero);
    Quad r[8];
    for (int k = 0; k < 8; ++k) {
        __m128i sign = _mm_srai_epi16(v[k], 15);
        r[k].lo = _mm_cvtepi32_ps(_mm_unpacklo_epi16(v[k], sign));
        r[k].hi = _mm_cvtepi32_ps(_mm_unpackhi_epi16(v[k], sign));
    }
    // Rows: after the transpose r[k] holds coefficient k of rows 0..3 (lo) and 4..7 (hi).
    transpose8(r);
    __m128 in[8], out[8];
    for (int half = 0; half < (lowerZero ? 1 : 2); ++half) {
        for (int k = 0; k < 8; ++k) in[k] = half ? r[k].hi : r[k].lo;
        if (rightZero)
            idctPass<4>(in, out, false);
        else
            idctPass<8>(in, out, false);
        for (int k = 0; k < 8; ++k) (half ? r[k].hi : r[k].lo) = out[k];
    }
    // r[n] now holds output n of the rows; back to row-major for the columns.
    transpose8(r);
    const __m128 lo = _mm_set1_ps(-256.0f), hi = _mm_set1_ps(255.0f), bias = _mm_set1_ps(256.5f);
    const __m128i off = _mm_set1_epi32(256);
    for (int half = 0; half < 2; ++half) {
        for (int k = 0; k < 8; ++k) in[k] = half ? r[k].hi : r[k].lo;
        if (lowerZero)
            idctPass<4>(in, out, true);
        else
            idctPass<8>(in, out, true);
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

constexpr auto predictSse = &predictByWidth<predictSseFixed<16>, predictSseFixed<8>>;

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

// The horizontal stage of the quarter-sample prediction: rows of n (8 or 16) samples into hs, 16 bytes
// a row.
void quarterRowsSse(uint8_t* hs, const uint8_t* src, int ss, int n, int rows, int fx, int rounding) {
    const I16x8 bias = (I16x8)_mm_set1_epi16(int16_t(16 - rounding));
    const __m128i zero = _mm_setzero_si128();
    for (int y = 0; y < rows; ++y) {
        const uint8_t* row = src + y * ss;
        uint8_t* out = hs + y * 16;
        if (fx == 0) {
            if (n == 16)
                _mm_store_si128(reinterpret_cast<__m128i*>(out),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(row)));
            else  // the row's right half zero, so that every byte of hs is defined
                _mm_store_si128(reinterpret_cast<__m128i*>(out),
                                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row)));
            continue;
        }
        // The mirrored line e (e[k + 3] = sample k, e[2 - j] = sample j, e[n + 4 + j] = sample n - j) in
        // registers of eight 16-bit samples: e[0..7], e[8..15] and, for n = 16, e[16..23].
        __m128i a, b;
        if (n == 16) {
            __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
            a = _mm_unpacklo_epi8(r, zero);
            b = _mm_unpackhi_epi8(r, zero);
        } else {
            a = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row)), zero);
            b = zero;
        }
        const __m128i first3 = _mm_setr_epi16(-1, -1, -1, 0, 0, 0, 0, 0);
        __m128i e[3];
        e[0] = _mm_or_si128(_mm_slli_si128(a, 6),
                            _mm_and_si128(_mm_shufflelo_epi16(a, _MM_SHUFFLE(3, 0, 1, 2)), first3));
        const __m128i tail = n == 16 ? b : a;  // samples n - 8 .. n - 1
        __m128i end = _mm_srli_si128(tail, 10);
        end = _mm_insert_epi16(end, row[n], 3);
        end = _mm_insert_epi16(end, row[n], 4);
        end = _mm_insert_epi16(end, row[n - 1], 5);
        end = _mm_insert_epi16(end, row[n - 2], 6);
        if (n == 16) {
            e[1] = _mm_or_si128(_mm_srli_si128(a, 10), _mm_slli_si128(b, 6));
            e[2] = end;
        } else {
            e[1] = end;
        }
        __m128i res[2];
        for (int half = 0; half < n / 8; ++half) {
            const __m128i lo = e[half], hi = e[half + 1];
            I16x8 x[8];
            x[0] = (I16x8)lo;
            x[1] = (I16x8)_mm_or_si128(_mm_srli_si128(lo, 2), _mm_slli_si128(hi, 14));
            x[2] = (I16x8)_mm_or_si128(_mm_srli_si128(lo, 4), _mm_slli_si128(hi, 12));
            x[3] = (I16x8)_mm_or_si128(_mm_srli_si128(lo, 6), _mm_slli_si128(hi, 10));
            x[4] = (I16x8)_mm_or_si128(_mm_srli_si128(lo, 8), _mm_slli_si128(hi, 8));
            x[5] = (I16x8)_mm_or_si128(_mm_srli_si128(lo, 10), _mm_slli_si128(hi, 6));
            x[6] = (I16x8)_mm_or_si128(_mm_srli_si128(lo, 12), _mm_slli_si128(hi, 4));
            x[7] = (I16x8)_mm_or_si128(_mm_srli_si128(lo, 14), _mm_slli_si128(hi, 2));
            res[half] = (__m128i)tap8(x, bias);
        }
        __m128i v = _mm_packus_epi16(res[0], n == 16 ? res[1] : res[0]);
        if (fx != 2) {
            __m128i other = n == 16 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + (fx == 3)))
                                    : _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + (fx == 3)));
            v = average2(v, other, rounding);
        }
        _mm_store_si128(reinterpret_cast<__m128i*>(out), n == 16 ? v : _mm_move_epi64(v));
    }
}

void predictQuarterSse(uint8_t* dst, int ds, const uint8_t* src, int ss, int w, int h, int fx, int fy,
                       int rounding) {
    alignas(16) uint8_t hs[17 * 16];
    const int n = w;
    quarterRowsSse(hs, src, ss, n, fy ? h + 1 : h, fx, rounding);
    const I16x8 bias = (I16x8)_mm_set1_epi16(int16_t(16 - rounding));
    const __m128i zero = _mm_setzero_si128();
    if (fy == 0) {
        for (int y = 0; y < h; ++y) {
            __m128i r = _mm_load_si128(reinterpret_cast<const __m128i*>(hs + y * 16));
            if (n == 16)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + y * ds), r);
            else
                _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + y * ds), r);
        }
        return;
    }
    auto rowAt = [&](int k) { return hs + 16 * (k < 0 ? -k - 1 : k > h ? 2 * h + 1 - k : k); };
    // The mirrored column, rows -3 .. h + 3, widened to 16 bits once.
    I16x8 wlo[23], whi[23];
    for (int k = 0; k < h + 7; ++k) {
        __m128i r = _mm_load_si128(reinterpret_cast<const __m128i*>(rowAt(k - 3)));
        wlo[k] = (I16x8)_mm_unpacklo_epi8(r, zero);
        if (n == 16) whi[k] = (I16x8)_mm_unpackhi_epi8(r, zero);
    }
    for (int y = 0; y < h; ++y) {
        const __m128i lo = (__m128i)tap8(wlo + y, bias);
        __m128i v = _mm_packus_epi16(lo, n == 16 ? (__m128i)tap8(whi + y, bias) : lo);
        if (fy != 2)
            v = average2(v, _mm_load_si128(reinterpret_cast<const __m128i*>(rowAt(y + (fy == 3)))), rounding);
        if (n == 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + y * ds), v);
        else
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + y * ds), v);
    }
}

bool dequantIntraH263Sse(int16_t* blk, int qp) {
    return dequantIntraH263Lanes<I16x8>(blk, qp);
}

}  // namespace

const Kernels kSse2KernelSet = {idctDcFloat, idctSse,           putBlockSse,       addBlockSse,
                                predictSse,  predictQuarterSse, convertRowBgr0Sse, dequantIntraH263Sse,
                                "sse2"};
const Kernels* const kSse2Kernels = &kSse2KernelSet;

}  // namespace vdec
#else
namespace vdec {
const Kernels* const kSse2Kernels = nullptr;
}  // namespace vdec
#endif
