// What the SSE2 and AVX2 kernel sets share but for the width of their registers: the 8-point pass of the
// float inverse DCT, the 8-tap filter of the quarter-sample prediction, the H.263 intra inverse
// quantisation and the test for zero quarters of a coefficient block. The first three are written with the
// compilers' vector operators, which work lane by lane exactly as the scalar operations in the order
// written (as the intrinsics do; neither set has fused multiply-add). Each set's file includes this once,
// with QV_LANES_TARGET defined as the attribute of its functions (empty for SSE2); everything here has
// internal linkage, so each set gets its own copy built for its instructions.
#pragma once

#ifndef QV_LANES_TARGET
#error "define QV_LANES_TARGET before including video/kernels_x86.h"
#endif

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "video/kernels_internal.h"

namespace vdec {
namespace {

// Signed 16-bit lanes in a 128-bit (SSE2) or 256-bit (AVX2) register, for the operators.
typedef int16_t I16x8 __attribute__((vector_size(16)));
typedef int16_t I16x16 __attribute__((vector_size(32)));

// One 8-point pass over as many transforms as V (float lanes) has lanes: x[k] holds input k of each, o[n]
// gets output n. Inputs = 4 when inputs 4..7 are zero: every dropped term is a product with zero, whose
// addition leaves the other operand exactly as it was, so the results are the full pass's. Scale applies
// the final 1/4.
template <int Inputs, typename V>
QV_LANES_TARGET inline void idctPass(const V* x, V* o, bool scale) {
    using namespace kdetail;
    V a0, a1, a2, a3, o0, o1, o2, o3;
    if (Inputs == 8) {
        a0 = (x[0] + x[4]) * C4;
        a1 = (x[0] - x[4]) * C4;
        a2 = x[2] * C2 + x[6] * C6;
        a3 = x[2] * C6 - x[6] * C2;
        o0 = x[1] * C1 + x[3] * C3 + x[5] * C5 + x[7] * C7;
        o1 = x[1] * C3 - x[3] * C7 - x[5] * C1 - x[7] * C5;
        o2 = x[1] * C5 - x[3] * C1 + x[5] * C7 + x[7] * C3;
        o3 = x[1] * C7 - x[3] * C5 + x[5] * C3 - x[7] * C1;
    } else {
        a0 = a1 = x[0] * C4;
        a2 = x[2] * C2;
        a3 = x[2] * C6;
        o0 = x[1] * C1 + x[3] * C3;
        o1 = x[1] * C3 - x[3] * C7;
        o2 = x[1] * C5 - x[3] * C1;
        o3 = x[1] * C7 - x[3] * C5;
    }
    const V e0 = a0 + a2, e3 = a0 - a2, e1 = a1 + a3, e2 = a1 - a3;
    o[0] = e0 + o0;
    o[7] = e0 - o0;
    o[1] = e1 + o1;
    o[6] = e1 - o1;
    o[2] = e2 + o2;
    o[5] = e2 - o2;
    o[3] = e3 + o3;
    o[4] = e3 - o3;
    if (scale)
        for (int k = 0; k < 8; ++k) o[k] = o[k] * 0.25f;
}

// The 8-tap filter (-1, 3, -6, 20, 20, -6, 3, -1) of the quarter-sample prediction on 16-bit lanes (x[k]:
// tap k of each output), rounded by `bias` and shifted: the sums stay within +-15300, so the lanes never
// overflow, and the packs that follow clamp.
template <typename V>
QV_LANES_TARGET inline V tap8(const V* x, V bias) {
    return ((x[3] + x[4]) * 20 - (x[2] + x[5]) * 6 + (x[1] + x[6]) * 3 - (x[0] + x[7]) + bias) >> 5;
}

// The H.263 intra inverse quantisation (kernels.h) on as many coefficients at a time as V has 16-bit
// lanes, in 16 bits throughout. A coefficient is first held within +-2^(10 - k) for a quantiser of 2^k to
// 2^(k+1) - 1 (+-1 from 1024 on): beyond that bound 2 |QF| qp passes 2048 whatever the rounding term, and
// so does the bound itself, both clamping to the same end; within it 2 |QF| qp + qp stays below 4096 (or
// 3 qp), which fits 16 bits for every quantiser up to 10922.
template <typename V>
QV_LANES_TARGET inline bool dequantIntraH263Lanes(int16_t* blk, int qp) {
    const int16_t dc = blk[0];
    const int k = qp > 0 ? 31 - __builtin_clz(unsigned(qp)) : 0;
    const int16_t bound = int16_t(qp > 0 ? (k < 10 ? 1024 >> k : 1) : 32767);
    const int16_t qp2 = int16_t(2 * qp), add = int16_t((qp & 1) ? qp : qp - 1);
    const V lowest = V{} - bound, highest = V{} + bound, floor = V{} - 2048, ceiling = V{} + 2047;
    V any = {};
    for (int k = 0; k < 64; k += int(sizeof(V) / sizeof(int16_t))) {
        V q;
        std::memcpy(&q, blk + k, sizeof q);
        if (k == 0) q[0] = 0;  // the DC is not an AC coefficient
        any |= q;
        const V sign = (q < 0) - (q > 0);  // comparisons give -1 where true
        q = q > highest ? highest : q;
        q = q < lowest ? lowest : q;
        V f = q * qp2 + sign * add;
        f = f > ceiling ? ceiling : f;
        f = f < floor ? floor : f;
        std::memcpy(blk + k, &f, sizeof f);
    }
    blk[0] = dc;
    const V none = {};
    return std::memcmp(&any, &none, sizeof any) != 0;
}

// Whether rows 4..7 and whether columns 4..7 of a coefficient block (v[k]: row k) are all zero: the
// inverse DCT then skips the work on them.
QV_LANES_TARGET inline void zeroQuarters(const __m128i* v, bool* lowerZero, bool* rightZero) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bottom = _mm_or_si128(_mm_or_si128(v[4], v[5]), _mm_or_si128(v[6], v[7]));
    const __m128i all =
        _mm_or_si128(_mm_or_si128(_mm_or_si128(v[0], v[1]), _mm_or_si128(v[2], v[3])), bottom);
    *lowerZero = _mm_movemask_epi8(_mm_cmpeq_epi16(bottom, zero)) == 0xFFFF;
    *rightZero = (_mm_movemask_epi8(_mm_cmpeq_epi16(all, zero)) & 0xFF00) == 0xFF00;
}

}  // namespace
}  // namespace vdec
