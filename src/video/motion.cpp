// Motion-compensated prediction: half- and quarter-sample luma, chroma vectors, field prediction.
#include "video/decoder_state.h"

namespace vdec {

void VopDecoder::predictPlane(const Plane& ref, int px, int py, int w, int h, int mvx, int mvy, uint8_t* out,
                              int stride) {
    int ix = px + (mvx >> 1), iy = py + (mvy >> 1);
    int hx = mvx & 1, hy = mvy & 1;
    int rounding = s_.vop.vop_rounding_type;
    if (ix >= -kMargin && iy >= -kMargin && ix + w + 1 <= ref.edgeWidth + ref.padRight &&
        iy + h + 1 <= ref.edgeHeight + ref.padBottom) {
        k_.predict(out, stride, ref.data + ptrdiff_t(iy) * ref.stride + ix, ref.stride, w, h, hx, hy,
                   rounding);
        return;
    }
    // Far outside the margins: fetch with the edge samples repeated, as the extended reference would be.
    uint8_t tmp[17 * 17];
    for (int y = 0; y <= h; ++y) {
        int sy = clip(iy + y, 0, ref.edgeHeight - 1);
        const uint8_t* row = ref.data + ptrdiff_t(sy) * ref.stride;
        for (int x = 0; x <= w; ++x) tmp[y * 17 + x] = row[clip(ix + x, 0, ref.edgeWidth - 1)];
    }
    k_.predict(out, stride, tmp, 17, w, h, hx, hy, rounding);
}

// Motion-compensated prediction of one macroblock from r (one vector, or four for the 8x8 blocks) into
// y (16x16) and u, v (8x8).
void VopDecoder::predictMb(const Picture& r, int mx, int my, const Mv* mv, bool four, uint8_t* y, int ys,
                           uint8_t* u, uint8_t* v, int cs) {
    int cx, cy;
    if (four) {
        for (int b = 0; b < 4; ++b)
            predictLuma(r.plane[0], mx * 16 + (b & 1) * 8, my * 16 + (b >> 1) * 8, 8, mv[b].x, mv[b].y,
                        y + (b >> 1) * 8 * ys + (b & 1) * 8, ys);
        int sx = 0, sy = 0;
        for (int b = 0; b < 4; ++b) {
            sx += s_.vol.quarter_sample ? quarterToHalf(mv[b].x) : mv[b].x;
            sy += s_.vol.quarter_sample ? quarterToHalf(mv[b].y) : mv[b].y;
        }
        cx = chromaMv4(sx);
        cy = chromaMv4(sy);
    } else {
        predictLuma(r.plane[0], mx * 16, my * 16, 16, mv[0].x, mv[0].y, y, ys);
        int vx = mv[0].x, vy = mv[0].y;
        if (s_.vol.quarter_sample) {
            vx = quarterToHalf(vx);
            vy = quarterToHalf(vy);
        }
        cx = chromaMv1(vx);
        cy = chromaMv1(vy);
    }
    predictPlane(r.plane[1], mx * 8, my * 8, 8, 8, cx, cy, u, cs);
    predictPlane(r.plane[2], mx * 8, my * 8, 8, 8, cx, cy, v, cs);
}

void VopDecoder::predictLuma(const Plane& ref, int px, int py, int n, int mvx, int mvy, uint8_t* out,
                             int stride) {
    if (!s_.vol.quarter_sample) return predictPlane(ref, px, py, n, n, mvx, mvy, out, stride);
    int ix = px + (mvx >> 2), iy = py + (mvy >> 2);
    int fx = mvx & 3, fy = mvy & 3;
    int rounding = s_.vop.vop_rounding_type;
    if (ix >= -kMargin && iy >= -kMargin && ix + n + 1 <= ref.edgeWidth + ref.padRight &&
        iy + n + 1 <= ref.edgeHeight + ref.padBottom) {
        k_.predictQuarter(out, stride, ref.data + ptrdiff_t(iy) * ref.stride + ix, ref.stride, n, fx, fy,
                          rounding);
        return;
    }
    uint8_t tmp[17 * 17];
    for (int y = 0; y <= n; ++y) {
        const uint8_t* row = ref.data + ptrdiff_t(clip(iy + y, 0, ref.edgeHeight - 1)) * ref.stride;
        for (int x = 0; x <= n; ++x) tmp[y * 17 + x] = row[clip(ix + x, 0, ref.edgeWidth - 1)];
    }
    k_.predictQuarter(out, stride, tmp, 17, n, fx, fy, rounding);
}

// Half-sample prediction of a w by h block from one field of a reference plane, its lines clamped to the
// field (the frame margins mix the two fields).
void VopDecoder::predictFieldBlock(const Plane& ref, int field, int px, int py, int w, int h, int mvx,
                                   int mvy, uint8_t* out, int stride) {
    int ix = px + (mvx >> 1), iy = py + (mvy >> 1);
    int lines = (ref.edgeHeight - field + 1) / 2;
    uint8_t tmp[17 * 17];
    for (int y = 0; y <= h; ++y) {
        int fy = clip(iy + y, 0, lines - 1);
        const uint8_t* row = ref.data + ptrdiff_t(2 * fy + field) * ref.stride;
        for (int x = 0; x <= w; ++x) tmp[y * 17 + x] = row[clip(ix + x, 0, ref.edgeWidth - 1)];
    }
    k_.predict(out, stride, tmp, 17, w, h, mvx & 1, mvy & 1, s_.vop.vop_rounding_type);
}

void VopDecoder::motionCompensate(int n, int mx, int my) {
    const Plane* p = cur_.plane;
    const MbInfo& m = s_.mb[n];
    if (m.fieldPred) {
        for (int f = 0; f < 2; ++f) {
            int mvx = m.fieldMv[f][0], mvy = m.fieldMv[f][1];
            predictFieldBlock(ref_.plane[0], m.fieldRef[f], mx * 16, my * 8, 16, 8, mvx, mvy,
                              p[0].data + ptrdiff_t(my * 16 + f) * p[0].stride + mx * 16, 2 * p[0].stride);
            int cx = chromaMv1(mvx), cy = chromaMv1(mvy);
            for (int c = 1; c < 3; ++c)
                predictFieldBlock(ref_.plane[c], m.fieldRef[f], mx * 8, my * 4, 8, 4, cx, cy,
                                  p[c].data + ptrdiff_t(my * 8 + f) * p[c].stride + mx * 8, 2 * p[c].stride);
        }
        return;
    }
    predictMb(ref_, mx, my, &s_.mv[n * 4], s_.mb[n].kind == kMbInter4v,
              p[0].data + ptrdiff_t(my) * 16 * p[0].stride + mx * 16, p[0].stride,
              p[1].data + ptrdiff_t(my) * 8 * p[1].stride + mx * 8,
              p[2].data + ptrdiff_t(my) * 8 * p[2].stride + mx * 8, p[1].stride);
}

}  // namespace vdec
