// Motion-compensated prediction: half- and quarter-sample luma, chroma vectors, field prediction.
#include "video/decoder_state.h"

namespace vdec {

namespace {

// The (w + 1) by (h + 1) samples from column ix and line iy on, the edge samples repeated outside the
// plane, into a block of 17 columns: line k of the block is line lineStep * (iy + k) + lineOffset of
// the plane (every line of a frame, or every other line of one field).
void fetchClamped(const Plane& ref, int ix, int iy, int w, int h, int lineStep, int lineOffset,
                  uint8_t* tmp) {
    for (int y = 0; y <= h; ++y) {
        const int line = clip(lineStep * (iy + y) + lineOffset, 0, ref.edgeHeight - 1);
        const uint8_t* row = ref.data + ptrdiff_t(line) * ref.stride;
        for (int x = 0; x <= w; ++x) tmp[y * 17 + x] = row[clip(ix + x, 0, ref.edgeWidth - 1)];
    }
}

}  // namespace

// Half-sample prediction (quarter false), or quarter-sample prediction of luma.
void VopDecoder::predictBlock(const Plane& ref, int px, int py, int w, int h, int mvx, int mvy, uint8_t* out,
                              int stride, bool quarter) {
    const int shift = quarter ? 2 : 1, fraction = quarter ? 3 : 1;
    const int ix = px + (mvx >> shift), iy = py + (mvy >> shift);
    const int fx = mvx & fraction, fy = mvy & fraction;
    uint8_t tmp[17 * 17];
    const uint8_t* src = tmp;
    int srcStride = 17;
    if (ix >= -kMargin && iy >= -kMargin && ix + w + 1 <= ref.edgeWidth + ref.padRight &&
        iy + h + 1 <= ref.edgeHeight + ref.padBottom) {
        src = ref.data + ptrdiff_t(iy) * ref.stride + ix;
        srcStride = ref.stride;
    } else {
        // Far outside the margins: fetch with the edge samples repeated, as the extended reference would be.
        fetchClamped(ref, ix, iy, w, h, 1, 0, tmp);
    }
    if (quarter) {
        k_.predictQuarter(out, stride, src, srcStride, w, h, fx, fy, s_.vop.vop_rounding_type);
    } else {
        k_.predict(out, stride, src, srcStride, w, h, fx, fy, s_.vop.vop_rounding_type);
    }
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

// Prediction of a w by h block from one field of a reference plane. Lines outside the plane take the
// nearest edge line in frame coordinates, as clip_ref does in mc() (7.5.9.1), so that beyond the top and
// bottom a field reads the other field's edge line. Luma of quarter-sample layers is interpolated at
// quarter-sample accuracy within the field, each 8x8 half of the 16x8 field block being a reference area
// of its own that the 8-tap filter mirrors at (the rule the streams are coded with; the committee draft
// predates quarter-sample motion); chroma and half-sample layers at half-sample accuracy (field motion
// compensation, 7.6.2.1).
void VopDecoder::predictFieldBlock(const Plane& ref, int field, int px, int py, int w, int h, int mvx,
                                   int mvy, uint8_t* out, int stride, bool quarter) {
    const int shift = quarter ? 2 : 1;
    int ix = px + (mvx >> shift), iy = py + (mvy >> shift);
    uint8_t tmp[17 * 17];
    fetchClamped(ref, ix, iy, w, h, 2, field, tmp);
    if (quarter) {
        for (int x = 0; x < w; x += 8)
            k_.predictQuarter(out + x, stride, tmp + x, 17, 8, h, mvx & 3, mvy & 3, s_.vop.vop_rounding_type);
    } else
        k_.predict(out, stride, tmp, 17, w, h, mvx & 1, mvy & 1, s_.vop.vop_rounding_type);
}

// Chroma vector of a field vector (x, y: y in field lines). Half-sample layers: Table 7-10 on each
// component. Quarter-sample layers halve the luma vector first, as for frame vectors; the vertical
// component, 2 y in frame quarter-samples, halves to y frame half-samples, which the field's mc() call
// shifts to field half-samples (dy_halfpel >> 1, rounding down, 7.5.9.1).
void VopDecoder::fieldChromaMv(int x, int y, int& cx, int& cy) const {
    if (!s_.vol.quarter_sample) {
        cx = chromaMv1(x);
        cy = chromaMv1(y);
        return;
    }
    cx = chromaMv1(quarterToHalf(x));
    cy = chromaMv1(y >> 1);
}

// Field prediction of one direction: both 16x8 luma fields and the 8x4 chroma fields, into y (16 wide,
// line stride ys) and u, v (8 wide, line stride cs); a field's lines go to every other line.
void VopDecoder::predictFields(const Picture& r, int mx, int my, const int16_t (*mv)[2], const uint8_t* refs,
                               uint8_t* y, int ys, uint8_t* u, uint8_t* v, int cs) {
    for (int f = 0; f < 2; ++f) {
        predictFieldBlock(r.plane[0], refs[f], mx * 16, my * 8, 16, 8, mv[f][0], mv[f][1], y + f * ys, 2 * ys,
                          s_.vol.quarter_sample != 0);
        int cx, cy;
        fieldChromaMv(mv[f][0], mv[f][1], cx, cy);
        predictFieldBlock(r.plane[1], refs[f], mx * 8, my * 4, 8, 4, cx, cy, u + f * cs, 2 * cs, false);
        predictFieldBlock(r.plane[2], refs[f], mx * 8, my * 4, 8, 4, cx, cy, v + f * cs, 2 * cs, false);
    }
}

void VopDecoder::motionCompensate(int n, int mx, int my) {
    const Plane* p = cur_.plane;
    const MbInfo& m = s_.mb[n];
    uint8_t* y = p[0].data + ptrdiff_t(my) * 16 * p[0].stride + mx * 16;
    uint8_t* u = p[1].data + ptrdiff_t(my) * 8 * p[1].stride + mx * 8;
    uint8_t* v = p[2].data + ptrdiff_t(my) * 8 * p[2].stride + mx * 8;
    if (m.fieldPred) {
        predictFields(ref_, mx, my, m.fieldMv, m.fieldRef, y, p[0].stride, u, v, p[1].stride);
    } else {
        predictMb(ref_, mx, my, &s_.mv[n * 4], m.kind == kMbInter4v, y, p[0].stride, u, v, p[1].stride);
    }
}

}  // namespace vdec
