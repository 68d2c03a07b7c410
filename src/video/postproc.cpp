// Display post-processing: deblocking across the 8x8 block edges, then deringing inside blocks, each
// scaled by the quantiser of the macroblock the samples belong to (coarser quantisation, larger
// artefacts, stronger filtering). Filters run in place on the destination after a copy of the source.
#include "video/postproc.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace vdec {

namespace {

struct Strength {
    int flatStep;   // a step of at most this many levels counts as flat
    int rangeMul;   // smooth mode: the eight samples span less than rangeMul * qp
    int edgeMul;    // default mode: steps beyond edgeMul * qp are real edges and kept
    int ringRange;  // deringing: blocks spanning fewer levels hold no ringing worth filtering
    int ringMul;    // deringing: a sample moves by at most ringMul * qp / 2
};

const Strength kNormal = {2, 2, 2, 16, 1};
const Strength kStrong = {2, 3, 3, 12, 2};

// One line of eight samples across a block edge; p points at the first sample after the edge, step is
// the distance between samples along the line.
inline void deblockLine(uint8_t* p, ptrdiff_t step, int qp, const Strength& st) {
    int v[8];
    for (int i = 0; i < 8; ++i) v[i] = p[(i - 4) * step];
    int flat = 0;
    for (int i = 0; i < 7; ++i)
        if (i != 3 && std::abs(v[i + 1] - v[i]) <= st.flatStep) ++flat;
    if (flat >= 5) {
        // Smooth on both sides: the step is the quantiser's doing when it is small against qp; spread it
        // over six samples with a (1 2 2 2 1) / 8 low-pass.
        int lo = *std::min_element(v, v + 8), hi = *std::max_element(v, v + 8);
        if (hi - lo >= st.rangeMul * qp) return;
        for (int i = 1; i < 7; ++i) {
            int a = v[std::max(i - 2, 0)], e = v[std::min(i + 2, 7)];
            p[(i - 4) * step] = uint8_t((a + 2 * (v[i - 1] + v[i] + v[i + 1]) + e + 4) >> 3);
        }
        return;
    }
    // Textured: only the part of the step that the slopes on either side do not explain is an artefact;
    // take three quarters of it off the two samples at the edge and an eighth off the next ones.
    int d = v[4] - v[3];
    int expected = ((v[3] - v[2]) + (v[5] - v[4])) / 2;
    if ((expected > 0) != (d > 0) || std::abs(expected) > std::abs(d)) expected = 0;
    int e = d - expected;
    if (e == 0 || std::abs(e) >= st.edgeMul * qp) return;
    int c3 = (3 * e) / 8, c2 = e / 8;
    p[-step] = uint8_t(std::clamp(v[3] + c3, 0, 255));
    p[0] = uint8_t(std::clamp(v[4] - c3, 0, 255));
    p[-2 * step] = uint8_t(std::clamp(v[2] + c2, 0, 255));
    p[step] = uint8_t(std::clamp(v[5] - c2, 0, 255));
}

// qpShift: log2 of a macroblock's width in this plane's samples.
inline int qpAt(const uint8_t* qp, int mbw, int x, int y, int qpShift) {
    return qp[(y >> qpShift) * mbw + (x >> qpShift)];
}

// Filters the vertical block edges (horizontal filtering) and, with vertical set, the horizontal ones.
// Edges with fewer than four samples on the far side (the picture's last partial block) are left alone.
void deblockPlane(Plane& pl, const uint8_t* qp, int mbw, int qpShift, bool horizontal, bool vertical,
                  const Strength& st) {
    const int w = pl.width, h = pl.height;
    const ptrdiff_t stride = pl.stride;
    if (horizontal) {
        for (int y = 0; y < h; ++y) {
            uint8_t* row = pl.data + y * stride;
            for (int x = 8; x + 4 <= w; x += 8) {
                int q = (qpAt(qp, mbw, x - 1, y, qpShift) + qpAt(qp, mbw, x, y, qpShift) + 1) >> 1;
                deblockLine(row + x, 1, q, st);
            }
        }
    }
    if (vertical) {
        for (int y = 8; y + 4 <= h; y += 8) {
            uint8_t* row = pl.data + y * stride;
            for (int x = 0; x < w; ++x) {
                int q = (qpAt(qp, mbw, x, y - 1, qpShift) + qpAt(qp, mbw, x, y, qpShift) + 1) >> 1;
                deblockLine(row + x, stride, q, st);
            }
        }
    }
}

// Deringing of whole 8x8 blocks: the block's mid-level splits its samples into two sides of the edges
// it holds; a sample whose 3x3 neighbourhood lies all on one side is smoothed with the (1 2 1) x (1 2 1)
// / 16 kernel, moving at most ringMul * qp / 2. Neighbours outside the picture repeat the edge sample.
void deringPlane(Plane& pl, const uint8_t* qp, int mbw, int qpShift, const Strength& st) {
    const int w = pl.width, h = pl.height;
    const ptrdiff_t stride = pl.stride;
    for (int by = 0; by + 8 <= h; by += 8) {
        for (int bx = 0; bx + 8 <= w; bx += 8) {
            int win[10][10];
            for (int j = 0; j < 10; ++j) {
                const uint8_t* row = pl.data + std::clamp(by + j - 1, 0, h - 1) * stride;
                for (int i = 0; i < 10; ++i) win[j][i] = row[std::clamp(bx + i - 1, 0, w - 1)];
            }
            int lo = 255, hi = 0;
            for (int j = 1; j < 9; ++j)
                for (int i = 1; i < 9; ++i) lo = std::min(lo, win[j][i]), hi = std::max(hi, win[j][i]);
            if (hi - lo < st.ringRange) continue;
            const int thr = (hi + lo + 1) >> 1;
            const int maxMove = std::max(1, st.ringMul * qpAt(qp, mbw, bx, by, qpShift) / 2);
            // side[j][i]: 1 at or above the mid-level; a 3x3 sum of 0 or 9 is one side.
            int side[10][10];
            for (int j = 0; j < 10; ++j)
                for (int i = 0; i < 10; ++i) side[j][i] = win[j][i] >= thr;
            for (int j = 2; j < 8; ++j) {
                uint8_t* out = pl.data + (by + j - 1) * stride + bx;
                for (int i = 2; i < 8; ++i) {
                    int n = 0;
                    for (int dj = -1; dj <= 1; ++dj)
                        n += side[j + dj][i - 1] + side[j + dj][i] + side[j + dj][i + 1];
                    if (n != 0 && n != 9) continue;
                    int f = (win[j - 1][i - 1] + 2 * win[j - 1][i] + win[j - 1][i + 1] + 2 * win[j][i - 1] +
                             4 * win[j][i] + 2 * win[j][i + 1] + win[j + 1][i - 1] + 2 * win[j + 1][i] +
                             win[j + 1][i + 1] + 8) >>
                            4;
                    out[i - 1] = uint8_t(std::clamp(f, win[j][i] - maxMove, win[j][i] + maxMove));
                }
            }
        }
    }
}

}  // namespace

int postprocSet(int level) {
    if (level <= 0) return 0;
    if (level >= 50) return 6;
    return 1 + level / 10;
}

void postprocess(const Picture& src, Picture& dst, const uint8_t* qp, int mbw, int set) {
    if (&src != &dst) {
        for (int c = 0; c < 3; ++c) {
            const Plane& s = src.plane[c];
            Plane& d = dst.plane[c];
            for (int y = 0; y < s.height; ++y)
                std::memcpy(d.data + ptrdiff_t(y) * d.stride, s.data + ptrdiff_t(y) * s.stride,
                            size_t(s.width));
        }
    }
    if (set < 1) return;
    const Strength& st = set >= 6 ? kStrong : kNormal;
    deblockPlane(dst.plane[0], qp, mbw, 4, true, set >= 2, st);
    if (set >= 3)
        for (int c = 1; c < 3; ++c) deblockPlane(dst.plane[c], qp, mbw, 3, true, true, st);
    if (set >= 4) deringPlane(dst.plane[0], qp, mbw, 4, st);
    if (set >= 5)
        for (int c = 1; c < 3; ++c) deringPlane(dst.plane[c], qp, mbw, 3, st);
}

}  // namespace vdec
