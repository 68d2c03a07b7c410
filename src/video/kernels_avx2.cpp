// The AVX2 kernels, chosen at run time where the processor has AVX2: the inverse DCT with all eight rows
// (then columns) in one register per coefficient, the intra inverse quantisation sixteen coefficients at
// a time and the quarter-sample prediction of 16-wide blocks on whole 16-sample rows; the rest is the SSE2
// set (and the pass and filter the two sets share, kernels_x86.h). Each gives exactly the reference's
// results: the lanes perform the scalar operations in the same order, and nothing here may use fused
// multiply-add (the functions are built for AVX2 alone, which has none).
#include "video/kernels.h"

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <immintrin.h>

#include <cstddef>

#define QV_AVX2 __attribute__((target("avx2")))
#define QV_LANES_TARGET QV_AVX2
#include "video/kernels_internal.h"
#include "video/kernels_x86.h"

namespace vdec {

namespace {

using namespace kdetail;

QV_AVX2 inline void transpose8(__m256* r) {
    __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
    __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
    __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
    __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
    __m256 s0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
    __m256 s1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
    __m256 s2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
    __m256 s3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
    __m256 s4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0));
    __m256 s5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
    __m256 s6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0));
    __m256 s7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
    r[0] = _mm256_permute2f128_ps(s0, s4, 0x20);
    r[1] = _mm256_permute2f128_ps(s1, s5, 0x20);
    r[2] = _mm256_permute2f128_ps(s2, s6, 0x20);
    r[3] = _mm256_permute2f128_ps(s3, s7, 0x20);
    r[4] = _mm256_permute2f128_ps(s0, s4, 0x31);
    r[5] = _mm256_permute2f128_ps(s1, s5, 0x31);
    r[6] = _mm256_permute2f128_ps(s2, s6, 0x31);
    r[7] = _mm256_permute2f128_ps(s3, s7, 0x31);
}

QV_AVX2 void idctAvx2(int16_t* block) {
    __m128i v[8];
    for (int k = 0; k < 8; ++k) v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k));
    bool lowerZero, rightZero;
    zeroQuarters(v, &lowerZero, &rightZero);
    __m256 r[8], o[8];
    for (int k = 0; k < 8; ++k) r[k] = _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(v[k]));
    // Rows: after the transpose r[k] holds coefficient k of every row; the outputs o[n] output n.
    transpose8(r);
    if (rightZero)
        idctPass<4>(r, o, false);
    else
        idctPass<8>(r, o, false);
    // Back to one row per register for the columns.
    transpose8(o);
    if (lowerZero)
        idctPass<4>(o, r, true);
    else
        idctPass<8>(o, r, true);
    const __m256 lo = _mm256_set1_ps(-256.0f), hi = _mm256_set1_ps(255.0f), bias = _mm256_set1_ps(256.5f);
    const __m256i off = _mm256_set1_epi32(256);
    for (int k = 0; k < 8; ++k) {
        __m256 s = _mm256_add_ps(_mm256_min_ps(_mm256_max_ps(r[k], lo), hi), bias);
        __m256i i = _mm256_sub_epi32(_mm256_cvttps_epi32(s), off);
        __m128i p = _mm_packs_epi32(_mm256_castsi256_si128(i), _mm256_extracti128_si256(i, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * k), p);
    }
}

QV_AVX2 bool dequantIntraH263Avx2(int16_t* blk, int qp) {
    return dequantIntraH263Lanes<I16x16>(blk, qp);
}

// avg(a, b) = (a + b + 1) >> 1, less the bit the rounding added when rounding_control is 1.
QV_AVX2 inline __m128i average2(__m128i a, __m128i b, int rounding, __m128i lsb) {
    __m128i avg = _mm_avg_epu8(a, b);
    return rounding ? _mm_sub_epi8(avg, _mm_and_si128(_mm_xor_si128(a, b), lsb)) : avg;
}

// Quarter-sample prediction of 16-wide blocks; other widths are the SSE2 version's. Each row's mirrored
// line e (e[k + 3] = sample k, e[2 - j] = sample j, e[19 + j] = sample 16 - j) is built with byte
// shuffles, and the eight taps of all sixteen outputs are its byte windows widened to 16-bit lanes; the
// vertical filter then runs on whole rows. The arithmetic is the SSE2 version's, lane for lane.
QV_AVX2 void predictQuarterAvx2(uint8_t* dst, int ds, const uint8_t* src, int ss, int w, int h, int fx,
                                int fy, int rounding) {
    if (w != 16) return kSse2Kernels->predictQuarter(dst, ds, src, ss, w, h, fx, fy, rounding);
    alignas(16) uint8_t hs[17 * 16];
    const int rows = fy ? h + 1 : h;
    const I16x16 bias = (I16x16)_mm256_set1_epi16(int16_t(16 - rounding));
    const __m128i one = _mm_set1_epi8(1);
    const __m128i headOrder = _mm_setr_epi8(2, 1, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12);
    const __m128i tailOrder = _mm_setr_epi8(13, 14, 15, -1, -1, 15, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i lastTwo = _mm_setr_epi8(0, 0, 0, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    for (int y = 0; y < rows; ++y) {
        const uint8_t* row = src + ptrdiff_t(y) * ss;
        uint8_t* out = fy ? hs + 16 * y : dst + ptrdiff_t(y) * ds;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
        if (fx == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), a);
            continue;
        }
        const __m128i lo = _mm_shuffle_epi8(a, headOrder);  // e[0..15]
        const __m128i hi = _mm_or_si128(_mm_shuffle_epi8(a, tailOrder),
                                        _mm_and_si128(_mm_set1_epi8(char(row[16])), lastTwo));  // e[16..22]
        I16x16 x[8];
        x[0] = (I16x16)_mm256_cvtepu8_epi16(lo);
        x[1] = (I16x16)_mm256_cvtepu8_epi16(_mm_alignr_epi8(hi, lo, 1));
        x[2] = (I16x16)_mm256_cvtepu8_epi16(_mm_alignr_epi8(hi, lo, 2));
        x[3] = (I16x16)_mm256_cvtepu8_epi16(_mm_alignr_epi8(hi, lo, 3));
        x[4] = (I16x16)_mm256_cvtepu8_epi16(_mm_alignr_epi8(hi, lo, 4));
        x[5] = (I16x16)_mm256_cvtepu8_epi16(_mm_alignr_epi8(hi, lo, 5));
        x[6] = (I16x16)_mm256_cvtepu8_epi16(_mm_alignr_epi8(hi, lo, 6));
        x[7] = (I16x16)_mm256_cvtepu8_epi16(_mm_alignr_epi8(hi, lo, 7));
        const __m256i f = (__m256i)tap8(x, bias);
        __m128i v = _mm_packus_epi16(_mm256_castsi256_si128(f), _mm256_extracti128_si256(f, 1));
        if (fx != 2)
            v = average2(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + (fx == 3))), rounding,
                         one);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    }
    if (fy == 0) return;
    // Row k of the area mirrored at its top and bottom (rows 0 .. h are the area's).
    const uint8_t* mirrored[23];
    for (int k = -3; k < h + 4; ++k) mirrored[k + 3] = hs + 16 * (k < 0 ? -k - 1 : k > h ? 2 * h + 1 - k : k);
    I16x16 wide[23];
    for (int k = 0; k < h + 7; ++k)
        wide[k] = (I16x16)_mm256_cvtepu8_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(mirrored[k])));
    for (int y = 0; y < h; ++y) {
        const __m256i f = (__m256i)tap8(wide + y, bias);
        __m128i v = _mm_packus_epi16(_mm256_castsi256_si128(f), _mm256_extracti128_si256(f, 1));
        if (fy != 2)  // the average with the nearer full row
            v = average2(v, _mm_load_si128(reinterpret_cast<const __m128i*>(mirrored[y + 3 + (fy == 3)])),
                         rounding, one);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + ptrdiff_t(y) * ds), v);
    }
}

}  // namespace

const Kernels* avx2Kernels() {
    static const Kernels* const chosen = []() -> const Kernels* {
        if (!kSse2Kernels || !__builtin_cpu_supports("avx2")) return nullptr;
        static Kernels set = *kSse2Kernels;
        set.idct = idctAvx2;
        set.dequantIntraH263 = dequantIntraH263Avx2;
        set.predictQuarter = predictQuarterAvx2;
        set.name = "avx2";
        return &set;
    }();
    return chosen;
}

}  // namespace vdec
#else
namespace vdec {
const Kernels* avx2Kernels() {
    return nullptr;
}
}  // namespace vdec
#endif
