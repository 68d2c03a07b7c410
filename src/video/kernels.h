// Pixel kernels behind a table of function pointers, one set per file: the reference versions are plain
// C++ written for clarity; the portable set (plain C++ for the vectoriser, built everywhere) and the SSE2
// set must match them exactly (tests compare every built set on random input).
#pragma once

#include <cstdint>

namespace vdec {

struct Kernels {
    // The value every sample of the inverse DCT takes when only the DC coefficient is non-zero; equal to
    // what idct gives for such a block.
    int16_t (*idctDc)(int dc);
    // In-place 8x8 inverse DCT of dequantised coefficients (raster order); the result is rounded and
    // saturated to -256..255.
    void (*idct)(int16_t* block);
    // dst = clamp(block) (intra) and dst = clamp(dst + block) (inter), 8x8.
    void (*putBlock)(uint8_t* dst, int stride, const int16_t* block);
    void (*addBlock)(uint8_t* dst, int stride, const int16_t* block);
    // Half-sample prediction of a w by h block (7.6.2): src points at the integer position; hx, hy are the
    // half-sample flags; rounding is rounding_control (0 or 1).
    void (*predict)(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int w, int h, int hx,
                    int hy, int rounding);
    // Quarter-sample prediction of a w by h block (w = 8 or 16, h = 8 or 16): src
    // points at the integer position of a (w + 1) by (h + 1) reference area, fx and fy are the
    // quarter-sample fractions 0..3. Half positions use the 8-tap filter (-1, 3, -6, 20, 20, -6, 3, -1) / 32
    // with the area mirrored at its border, quarter positions the average of their neighbours; horizontal
    // first, then vertical.
    void (*predictQuarter)(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int w, int h,
                           int fx, int fy, int rounding);
    // One row of the BGR0 output conversion: n pixels from n luma and (n + 1) / 2 chroma samples.
    void (*convertRowBgr0)(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int n);
    // Inverse quantisation of an intra block's AC coefficients by the H.263 method (7.4.4.2):
    // F = clamp(2 QF qp + sign(QF) (qp odd ? qp : qp - 1), -2048, 2047), for coefficients 1..63 (the DC
    // is left as it is), for quantisers up to 10922. Returns whether any AC coefficient was non-zero.
    bool (*dequantIntraH263)(int16_t* block, int qp);
    const char* name;
};

// The kernels in use: the AVX2 set where the processor has AVX2, else the SSE2 set where it is built,
// else the portable one.
const Kernels& kernels();
// Plain reference versions.
extern const Kernels kReferenceKernels;
extern const Kernels kPortableKernels;
// The SSE2 set, or null on targets without SSE2.
extern const Kernels* const kSse2Kernels;
// The AVX2 set (the inverse DCT and intra inverse quantisation in AVX2, the rest SSE2), or null where it
// is not built or the processor lacks AVX2.
const Kernels* avx2Kernels();

// Double-precision 8x8 inverse DCT by definition (Annex A), rounded and saturated like the kernels.
void idctDouble(int16_t* block);

}  // namespace vdec
