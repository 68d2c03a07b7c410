#include "video/convert.h"

#include <cstring>

#include "video/kernels.h"

namespace vdec {

namespace {

inline uint8_t clamp255(int v) {
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

// The BGR0 converter's colour arithmetic for one pixel (used by the other RGB formats too).
inline void pixelRgb(int Y, int U, int V, int& r, int& g, int& b) {
    int yy = Y > 16 ? Y - 16 : 0;
    int l = (8 * yy * 9576) >> 16;
    int uu = 8 * (U - 128), vv = 8 * (V - 128);
    r = clamp255(l + ((vv * 13123) >> 16));
    g = clamp255(l + ((uu * -3218) >> 16) + ((vv * -6686) >> 16));
    b = clamp255(l + ((uu * 16591) >> 16));
}

}  // namespace

void convertPicture(const ConvertInput& in, int format, int direction, uint8_t* out, uint32_t stride) {
    const int w = in.width, h = in.height;
    // Picture row y uses chroma row y / 2 in either direction (for even heights this is the pairing of
    // the bottom-up walk; odd heights keep their last row's own chroma row).
    auto rowOf = [&](int outRow) { return direction < 0 ? h - 1 - outRow : outRow; };
    if (format == 3) {
        int cw = (w + 1) / 2, ch = (h + 1) / 2;
        uint8_t* o = out;
        for (int r = 0; r < h; ++r, o += w) std::memcpy(o, in.y + r * in.lumaStride, size_t(w));
        for (int r = 0; r < ch; ++r, o += cw) std::memcpy(o, in.u + r * in.chromaStride, size_t(cw));
        for (int r = 0; r < ch; ++r, o += cw) std::memcpy(o, in.v + r * in.chromaStride, size_t(cw));
        return;
    }
    int bpp = (format == 4 || format == 8) ? 4 : (format == 5 || format == 9) ? 3 : 2;
    size_t pitch = (format == 4 || format == 8 || stride == 0) ? size_t(w) * bpp : stride;
    const Kernels& k = kernels();
    for (int r = 0; r < h; ++r) {
        int py = rowOf(r);
        const uint8_t* y = in.y + py * in.lumaStride;
        const uint8_t* u = in.u + (py >> 1) * in.chromaStride;
        const uint8_t* v = in.v + (py >> 1) * in.chromaStride;
        uint8_t* o = out + size_t(r) * pitch;
        if (bpp == 4) {
            int n = w >= 8 ? w & ~7 : w;
            k.convertRowBgr0(y, u, v, o, n);
            continue;
        }
        for (int x = 0; x < w; ++x) {
            int Y = y[x], U = u[x >> 1], V = v[x >> 1];
            if (format == 1 || format == 2) {
                // 4:2:2 packed: two bytes per pixel, chroma shared by pixel pairs.
                uint8_t c = (x & 1) ? uint8_t(V) : uint8_t(U);
                o[2 * x + (format == 1 ? 0 : 1)] = uint8_t(Y);
                o[2 * x + (format == 1 ? 1 : 0)] = c;
                continue;
            }
            int R, G, B;
            pixelRgb(Y, U, V, R, G, B);
            if (bpp == 3) {
                o[3 * x] = uint8_t(B);
                o[3 * x + 1] = uint8_t(G);
                o[3 * x + 2] = uint8_t(R);
            } else {
                unsigned p = (format == 6 || format == 10) ? ((R >> 3) << 11) | ((G >> 2) << 5) | (B >> 3)
                                                           : ((R >> 3) << 10) | ((G >> 3) << 5) | (B >> 3);
                o[2 * x] = uint8_t(p);
                o[2 * x + 1] = uint8_t(p >> 8);
            }
        }
    }
}

}  // namespace vdec
