// B-VOPs: forward, backward, interpolated and direct prediction, frame and field.
#include <algorithm>
#include <cstring>

#include "video/decoder_state.h"

namespace vdec {

// B-VOP prediction of one macroblock into 16x16 and 8x8 scratch blocks (7.6.9): mode 0 direct (four
// vectors each way), 1 interpolated, 2 backward, 3 forward; rounding_control is 0 in B-VOPs.
void VopDecoder::predictB(int mx, int my, int mode, const Mv* fwd, const Mv* bwd, bool fourVectors,
                          uint8_t* y, uint8_t* u, uint8_t* v) {
    auto predictFrom = [&](const Picture& r, const Mv* mv, uint8_t* py, uint8_t* pu, uint8_t* pv) {
        predictMb(r, mx, my, mv, fourVectors, py, 16, pu, pv, 8);
    };
    if (mode == 3) return predictFrom(ref_, fwd, y, u, v);
    if (mode == 2) return predictFrom(*future_, bwd, y, u, v);
    alignas(16) uint8_t y2[256], u2[64], v2[64];
    predictFrom(ref_, fwd, y, u, v);
    predictFrom(*future_, bwd, y2, u2, v2);
    for (int i = 0; i < 256; ++i) y[i] = uint8_t((y[i] + y2[i] + 1) >> 1);
    for (int i = 0; i < 64; ++i) {
        u[i] = uint8_t((u[i] + u2[i] + 1) >> 1);
        v[i] = uint8_t((v[i] + v2[i] + 1) >> 1);
    }
}

// Copies the visible part of a reconstructed B macroblock into the B picture.
void VopDecoder::storeB(int mx, int my, const uint8_t* y, const uint8_t* u, const uint8_t* v) {
    const uint8_t* src[3] = {y, u, v};
    for (int p = 0; p < 3; ++p) {
        Plane& d = cur_.plane[p];
        int size = p ? 8 : 16;
        int x0 = mx * size, y0 = my * size;
        int w = std::min(size, d.width - x0), h = std::min(size, d.height - y0);
        // The stride in a local: the copies could otherwise alias the plane and reload it every row.
        const ptrdiff_t stride = d.stride;
        uint8_t* out = d.data + ptrdiff_t(y0) * stride + x0;
        const uint8_t* in = src[p];
        if (w == 16) {  // whole rows: fixed-size copies the compiler turns into single moves
            for (int r = 0; r < h; ++r) std::memcpy(out + r * stride, in + r * 16, 16);
        } else if (w == 8 && size == 8) {
            for (int r = 0; r < h; ++r) std::memcpy(out + r * stride, in + r * 8, 8);
        } else {
            for (int r = 0; r < h; ++r) std::memcpy(out + r * stride, in + r * size, size_t(w));
        }
    }
}

// One macroblock of a B-VOP (6.2.6 with the final MODB codes: 1 direct without data, 01 mb_type, 00
// mb_type and cbpb).
bool VopDecoder::decodeBMb(int n, int& qp, Mv* pmv) {
    int mx = n % s_.mbw, my = n / s_.mbw;
    alignas(16) uint8_t y[256], u[64], v[64];
    const MbInfo& colocated = s_.mb[n];  // of the future anchor
    int mode = 3, cbp = 0;
    bool fieldDct = false, field = false;
    uint8_t fwdRef[2] = {0, 1}, bwdRef[2] = {0, 1};
    Mv fwd[4] = {}, bwd[4] = {};
    bool four = false;
    if (colocated.kind != kMbNotCoded) {
        int modb = br_.readBit() ? 0 : br_.readBit() ? 1 : 2;
        mode = 0;
        if (modb) {
            while (mode < 4 && !br_.readBit()) ++mode;
            if (mode == 4) return false;
        }
        if (modb == 2) cbp = int(br_.read(6));
        if (mode != 0 && cbp && br_.readBit()) qp = clip(qp + (br_.readBit() ? 2 : -2), 1, 31);  // dbquant
        if (s_.vol.interlaced) {
            if (cbp) fieldDct = br_.readBit();
            if (mode != 0 && br_.readBit()) {  // field_prediction
                field = true;
                if (mode != 2) {
                    fwdRef[0] = uint8_t(br_.read(1));
                    fwdRef[1] = uint8_t(br_.read(1));
                }
                if (mode != 3) {
                    bwdRef[0] = uint8_t(br_.read(1));
                    bwdRef[1] = uint8_t(br_.read(1));
                }
            }
        }
        // Predictors (Table 7-12): 0, 1 forward top and bottom field, 2, 3 backward; a frame vector sets
        // both of its direction.
        auto readDirection = [&](int fcode, Mv* p, Mv* out) {
            if (field) {
                for (int f = 0; f < 2; ++f) {
                    int x = readMvComponent(fcode, p[f].x);
                    int fy = readMvComponent(fcode, p[f].y / 2);
                    p[f] = {int16_t(x), int16_t(2 * fy)};
                    out[f] = {int16_t(x), int16_t(fy)};
                }
            } else {
                out[0].x = int16_t(readMvComponent(fcode, p[0].x));
                out[0].y = int16_t(readMvComponent(fcode, p[0].y));
                p[0] = p[1] = out[0];
            }
        };
        if (mode == 1 || mode == 3) readDirection(s_.vop.vop_fcode_forward, pmv, fwd);
        if (mode == 1 || mode == 2) readDirection(s_.vop.vop_fcode_backward, pmv + 2, bwd);
        if (mode == 0) {
            // Direct (7.6.9.5): the co-located vectors scaled by TRB / TRD, plus the delta vector (zero
            // when MODB leaves mb_type out).
            int dx = modb ? readMvComponent(0, 0) : 0, dy = modb ? readMvComponent(0, 0) : 0;
            if (colocated.fieldPred) {
                field = true;
                directField(colocated, dx, dy, fwd, bwd);
                fwdRef[0] = colocated.fieldRef[0];
                fwdRef[1] = colocated.fieldRef[1];
            } else {
                const Mv* col = &s_.mv[n * 4];
                bool zero = colocated.kind == kMbIntra;
                for (int b = 0; b < 4; ++b) {
                    int64_t cx = zero ? 0 : col[b].x, cy = zero ? 0 : col[b].y;
                    int64_t fx = trd_ ? (trb_ * cx) / trd_ + dx : dx,
                            fy = trd_ ? (trb_ * cy) / trd_ + dy : dy;
                    int64_t bx = dx ? fx - cx : trd_ ? ((trb_ - trd_) * cx) / trd_ : 0;
                    int64_t by = dy ? fy - cy : trd_ ? ((trb_ - trd_) * cy) / trd_ : 0;
                    fwd[b] = {int16_t(clip(int(fx), -4096, 4095)), int16_t(clip(int(fy), -4096, 4095))};
                    bwd[b] = {int16_t(clip(int(bx), -4096, 4095)), int16_t(clip(int(by), -4096, 4095))};
                }
                four = true;
            }
        }
        if (br_.error()) return false;
    }
    if (field) {
        predictBField(mx, my, mode, fwd, fwdRef, bwd, bwdRef, y, u, v);
    } else {
        predictB(mx, my, mode, fwd, bwd, four, y, u, v);
    }
    for (int i = 0; i < 6; ++i) {
        if (!((cbp >> (5 - i)) & 1)) continue;
        uint8_t* dst = i < 4 ? y + (i >> 1) * (fieldDct ? 16 : 128) + (i & 1) * 8 : i == 4 ? u : v;
        if (!interBlock(qp, dst, i < 4 ? (fieldDct ? 32 : 16) : 8)) return false;
    }
    storeB(mx, my, y, u, v);
    return !br_.error();
}

// Field prediction of a B macroblock: per direction a vector (vertical in field lines) and a reference
// field for each of the two fields; both directions are averaged in the interpolated and direct modes.
void VopDecoder::predictBField(int mx, int my, int mode, const Mv* fwd, const uint8_t* fwdRef, const Mv* bwd,
                               const uint8_t* bwdRef, uint8_t* y, uint8_t* u, uint8_t* v) {
    auto predictFrom = [&](const Picture& r, const Mv* mv, const uint8_t* refs, uint8_t* py, uint8_t* pu,
                           uint8_t* pv) {
        const int16_t fieldMv[2][2] = {{mv[0].x, mv[0].y}, {mv[1].x, mv[1].y}};
        predictFields(r, mx, my, fieldMv, refs, py, 16, pu, pv, 8);
    };
    if (mode == 3) return predictFrom(ref_, fwd, fwdRef, y, u, v);
    if (mode == 2) return predictFrom(*future_, bwd, bwdRef, y, u, v);
    alignas(16) uint8_t y2[256], u2[64], v2[64];
    predictFrom(ref_, fwd, fwdRef, y, u, v);
    predictFrom(*future_, bwd, bwdRef, y2, u2, v2);
    for (int i = 0; i < 256; ++i) y[i] = uint8_t((y[i] + y2[i] + 1) >> 1);
    for (int i = 0; i < 64; ++i) {
        u[i] = uint8_t((u[i] + u2[i] + 1) >> 1);
        v[i] = uint8_t((v[i] + v2[i] + 1) >> 1);
    }
}

// Interlaced direct mode (7.6.9.5 for fields): the co-located field vectors scaled by the temporal
// distances in field periods, TRB[i] and TRD[i], corrected by delta (Table 7-13).
void VopDecoder::directField(const MbInfo& col, int dx, int dy, Mv* fwd, Mv* bwd) {
    static const int8_t kDelta[2][4][2] = {
        {{0, -1}, {0, 0}, {1, -1}, {1, 0}},  // top_field_first 0; index top ref * 2 + bottom ref
        {{0, 1}, {0, 0}, {-1, 1}, {-1, 0}},  // top_field_first 1
    };
    int64_t tframe = s_.tframe > 0 ? s_.tframe : 1;
    int64_t frames_d = 2 * ((trd_ + tframe / 2) / tframe), frames_b = 2 * ((trb_ + tframe / 2) / tframe);
    const int8_t* delta = kDelta[s_.vop.top_field_first ? 1 : 0][col.fieldRef[0] * 2 + col.fieldRef[1]];
    for (int i = 0; i < 2; ++i) {
        int64_t trd = frames_d + delta[i], trb = frames_b + delta[i];
        int64_t cx = col.fieldMv[i][0], cy = col.fieldMv[i][1];
        int64_t fx = trd ? (trb * cx) / trd + dx : dx, fy = trd ? (trb * cy) / trd + dy : dy;
        int64_t bx = dx ? fx - cx : trd ? ((trb - trd) * cx) / trd : 0;
        int64_t by = dy ? fy - cy : trd ? ((trb - trd) * cy) / trd : 0;
        fwd[i] = {int16_t(clip(int(fx), -4096, 4095)), int16_t(clip(int(fy), -4096, 4095))};
        bwd[i] = {int16_t(clip(int(bx), -4096, 4095)), int16_t(clip(int(by), -4096, 4095))};
    }
}

bool VopDecoder::runB(int64_t trb, int64_t trd) {
    trb_ = trb;
    trd_ = trd;
    int qp = int(s_.vop.vop_quant);
    int mbIndex = 0;
    ++s_.packetId;
    bool resync = !s_.vol.resync_marker_disable;
    Mv pmv[4] = {};
    while (mbIndex < s_.mbCount) {
        if (resync && mbIndex > 0 && resyncHere()) {
            if (!readPacketHeader(mbIndex, qp)) break;
            std::fill(pmv, pmv + 4, Mv{});
        }
        if (mbIndex % s_.mbw == 0) std::fill(pmv, pmv + 4, Mv{});
        if (!decodeBMb(mbIndex, qp, pmv)) break;
        s_.qpMap[2][mbIndex] = uint8_t(qp);
        ++mbIndex;
    }
    if (mbIndex == s_.mbCount) return true;
    conceal(mbIndex, s_.mbCount);
    return false;
}

}  // namespace vdec
