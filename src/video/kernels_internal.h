// Shared pieces of the kernel sets: the reference versions the faster sets fall back on for odd sizes,
// and the constants every set must use identically.
#pragma once

#include <cstdint>

namespace vdec {
namespace kdetail {

inline uint8_t clamp255(int v) {
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

inline int sat16(int v) {
    return v < -32768 ? -32768 : v > 32767 ? 32767 : v;
}

// Cosines of the float inverse DCT.
constexpr float C1 = 0.98078528040323044913f;
constexpr float C2 = 0.92387953251128675613f;
constexpr float C3 = 0.83146961230254523708f;
constexpr float C4 = 0.70710678118654752440f;
constexpr float C5 = 0.55557023301960222474f;
constexpr float C6 = 0.38268343236508977173f;
constexpr float C7 = 0.19509032201612826785f;

void idctFloat(int16_t* block);
int16_t idctDcFloat(int dc);
void putBlockRef(uint8_t* dst, int stride, const int16_t* b);
void addBlockRef(uint8_t* dst, int stride, const int16_t* b);
void predictRef(uint8_t* dst, int ds, const uint8_t* src, int ss, int w, int h, int hx, int hy, int rounding);

// Half-sample prediction through a set's versions for the two widths the decoder predicts (16 and 8, fixed
// so that their rows unroll), the reference's for any other width.
using FixedWidthPredict = void (*)(uint8_t* dst, int ds, const uint8_t* src, int ss, int h, int hx, int hy,
                                   int rounding);
template <FixedWidthPredict Wide, FixedWidthPredict Narrow>
void predictByWidth(uint8_t* dst, int ds, const uint8_t* src, int ss, int w, int h, int hx, int hy,
                    int rounding) {
    if (w == 16)
        Wide(dst, ds, src, ss, h, hx, hy, rounding);
    else if (w == 8)
        Narrow(dst, ds, src, ss, h, hx, hy, rounding);
    else
        predictRef(dst, ds, src, ss, w, h, hx, hy, rounding);
}
bool dequantIntraH263Ref(int16_t* block, int qp);
void convertRowBgr0Ref(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int n);

}  // namespace kdetail
}  // namespace vdec
