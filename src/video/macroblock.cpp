// Macroblock syntax and reconstruction of I- and P-VOPs: coefficients, intra prediction, inverse
// quantisation, motion vectors, video packets and data partitioning.
#include <cstring>

#include "video/decoder_state.h"
#include "video/scan_tables.h"

namespace vdec {

namespace {

// Inverse quantisation, MPEG method (7.4.4.1): F'' = ((2 QF + k) W qs) / 16 with k = 0 (intra) or
// Sign(QF), saturation to 12 bits and mismatch control on F[7][7]. (The committee draft divides by 32
// with a doubled quantiser scale; with vop_quant as the scale, as streams use it, the divisor is 16, so
// that a flat matrix of 16 gives the H.263 step 2 qs.) Inter blocks are dequantised as they are read
// (readBlock); this is the intra case, whose F[0][0] is already the dc_scaler product and whose first
// row and column may hold predicted values. Returns whether any coefficient besides the DC is non-zero.
bool dequantiseMpegIntra(int16_t* blk, const uint8_t* matrix, int qp) {
    int sum = blk[0];
    int nonZero = 0;
    for (int pos = 1; pos < 64; ++pos) {
        int q = blk[pos];
        if (!q) continue;
        int a = q < 0 ? -q : q;
        int f = (2 * a * matrix[pos] * qp) >> 4;  // truncating division, on the magnitude
        f = q < 0 ? (f > 2048 ? -2048 : -f) : (f > 2047 ? 2047 : f);
        blk[pos] = int16_t(f);
        sum += f;
        nonZero |= f;
    }
    if (!(sum & 1)) {
        blk[63] = int16_t((blk[63] & 1) ? blk[63] - 1 : blk[63] + 1);
        nonZero |= blk[63];
    }
    return nonZero != 0;
}

}  // namespace

EscapeTables::EscapeTables() {
    std::memset(this, 0, sizeof *this);
    for (int intra = 0; intra < 2; ++intra) {
        for (const VlcCode* c = intra ? kTcoefIntra : kTcoefInter; c->len; ++c) {
            if (c->value == kTcoefEscape) continue;
            int last = c->value >> 12, run = (c->value >> 5) & 63, level = c->value & 31;
            if (level > lmax[intra][last][run]) lmax[intra][last][run] = uint8_t(level);
            if (run > rmax[intra][last][level]) rmax[intra][last][level] = uint8_t(run);
        }
    }
}

const EscapeTables& escapeTables() {
    static const EscapeTables tables;
    return tables;
}

int VopDecoder::readDcDiff(bool luma) {
    int size = (luma ? vlc_.dcSizeLum : vlc_.dcSizeChrom).decode(br_);
    if (size <= 0) return 0;
    int code = int(br_.read(size));
    int diff = (code >> (size - 1)) ? code : code - ((1 << size) - 1);
    if (size > 8) br_.skip(1);  // marker_bit
    return diff;
}

// Coefficients of one block (7.4.1): run/level/last events of Table B-16 or B-17 with the three escape
// modes, or of the reversible Table B-23. Each level goes to blk[scan[i]], as it is (intra blocks, which
// are predicted before inverse quantisation) or inverse quantised by the H.263 method (7.4.4.2).
template <bool Reversible, int Dequantise>
bool VopDecoder::readBlock(int16_t* blk, bool intra, int start, const uint8_t* scan, int qp, int& last,
                           bool& acNonZero) {
    const Vlc& vlc =
        Reversible ? (intra ? vlc_.rvlcIntra : vlc_.rvlcInter) : (intra ? vlc_.tcoefIntra : vlc_.tcoefInter);
    const Vlc::Entry* const table = vlc.entries();
    const int rootBits = vlc.rootBits();
    const int qp2 = 2 * qp, add = (qp & 1) ? qp : qp - 1;
    int i = start;
    // The reading position stays in a register with a 64-bit window of the stream; the window is
    // refilled once it holds fewer bits than the longest code (sign included), and the reader is brought
    // back to the position for escapes and on leaving.
    uint64_t pos = br_.position();
    uint64_t bits = br_.windowAt(pos);
    int used = 0;
    for (;;) {
        if (used > 32) {
            pos += uint64_t(used);
            bits = br_.windowAt(pos);
            used = 0;
        }
        // One lookup for the codes within the root; longer codes, invalid codes and escapes leave the
        // common path together.
        const Vlc::Entry* en = &table[bits >> (64 - rootBits)];
        int e = en->value, len = en->len;
        bool escaped = false;
        if (__builtin_expect(len <= 0 || e == kTcoefEscape, 0)) {
            if (len < 0) e = vlc.decodeWindow(bits, len);
            if (len == 0) {
                br_.seek(pos + uint64_t(used));
                br_.setError();
                return false;
            }
            bits <<= len;
            used += len;
            if (e == kTcoefEscape) {
                // Through a copy of the position: the window and its count stay in registers.
                uint64_t at = pos + uint64_t(used);
                int lst, run, level;
                if (!readEscape<Reversible>(vlc, intra, at, lst, run, level)) return false;
                pos = at;
                bits = br_.windowAt(pos);
                used = 0;
                if (run > 63) {
                    br_.seek(pos);
                    return false;
                }
                e = level * 256 + lst * 128 + run;  // as an event (the level may exceed the tables')
                escaped = true;
            }
        } else {
            bits <<= len;
            used += len;
        }
        const int lst = eventLast(e), run = eventRun(e), level = eventLevel(e);
        i += run;
        if (i > 63) {
            br_.seek(pos + uint64_t(used));
            return false;
        }
        int at = scan[i];
        if (Dequantise == kDequantH263) {
            // |level| <= 27 from the tables keeps the product inside 12 bits; escapes are clipped.
            int sign = level >> 31;
            int f = qp2 * level + ((add ^ sign) - sign);
            if (escaped) f = level ? clip(f, -2048, 2047) : 0;
            blk[at] = int16_t(f);
        } else if (Dequantise == kDequantMpegInter) {
            // ((2 |QF| + 1) W qs) / 16, saturated; the sum feeds the mismatch control.
            int sign = level >> 31;
            int a = (level ^ sign) - sign;
            int f = ((2 * a + 1) * mpegMatrix_[at] * qp) >> 4;
            if (f > 2047 + (sign & 1)) f = 2047 + (sign & 1);
            if (!level) f = 0;
            f = (f ^ sign) - sign;
            blk[at] = int16_t(f);
            mpegSum_ += f;
        } else {
            blk[at] = int16_t(level);
        }
        ++i;
        if (lst) {
            br_.seek(pos + uint64_t(used));
            // Scan position 0 is the DC in every scan and positions only grow, so an AC coefficient was
            // coded exactly when the last one is past position 0.
            acNonZero |= i > 1;
            last = i - 1;
            return !br_.error();
        }
    }
}

// The rest of a coefficient escape whose code ends at bit position at: last, run and level, with at moved
// past them. The three escapes of Tables B-16 and B-17 are read from one window (57 bits hold the
// longest, 2 + 21 bits); reversible and short-header escapes through the reader. False on a bad escape
// (the reader then at its end).
template <bool Reversible>
bool VopDecoder::readEscape(const Vlc& vlc, bool intra, uint64_t& at, int& lst, int& run, int& level) {
    if (!Reversible && !shortHeader_) {
        const uint64_t bits = br_.windowAt(at);
        int len, e;
        if (!(bits >> 63)) {  // type 1: level offset (LMAX, Tables B-19, B-20)
            e = vlc.decodeWindow(bits << 1, len);
            len += 1;
        } else if (!((bits >> 62) & 1)) {  // type 2: run offset (RMAX, Tables B-21, B-22)
            e = vlc.decodeWindow(bits << 2, len);
            len += 2;
        } else {  // type 3: LAST, RUN(6), marker, LEVEL(12), marker
            const uint64_t b = bits << 2;
            lst = int(b >> 63);
            run = int((b >> 57) & 63);
            level = int((b >> 44) & 0xFFF);
            if (level & 0x800) level -= 0x1000;
            at += 23;
            return true;
        }
        at += uint64_t(len);
        if (e == kVlcInvalid || e == kTcoefEscape) {
            br_.seek(at);
            if (e == kVlcInvalid) br_.setError();
            return false;
        }
        lst = eventLast(e);
        run = eventRun(e);
        level = eventLevel(e);
        if (!(bits >> 63)) {
            int lmax = escape_.lmax[intra][lst][run];
            level += level < 0 ? -lmax : lmax;
        } else {
            run += escape_.rmax[intra][lst][std::abs(level)] + 1;
        }
        return true;
    }
    br_.seek(at);
    if (Reversible) {
        // ESCAPE (0000 plus 1), LAST, RUN(6), marker, LEVEL(11), marker, ESCAPE (0000) and sign.
        br_.skip(1);
        lst = int(br_.read(1));
        run = int(br_.read(6));
        br_.skip(1);
        level = int(br_.read(11));
        br_.skip(1);
        if (br_.read(4) != 0) return false;
        if (br_.readBit()) level = -level;
    } else {  // short header: LAST, RUN(6), LEVEL(8); levels 0 and -128 are forbidden
        lst = int(br_.read(1));
        run = int(br_.read(6));
        int l = int(br_.read(8));
        if (l == 0 || l == 128) return false;
        level = l < 128 ? l : l - 256;
    }
    at = br_.position();
    return true;
}

// Motion vector predictor (7.6.5): median of the left, above and above-right candidates of Figure 7-18.
Mv VopDecoder::mvPredict(int n, int mx, int my, int blk) {
    // Candidate (macroblock offset, block) per block 0..3.
    static const int8_t cand[4][3][3] = {
        {{-1, 0, 1}, {0, -1, 2}, {1, -1, 2}},
        {{0, 0, 0}, {0, -1, 3}, {1, -1, 2}},
        {{-1, 0, 3}, {0, 0, 0}, {0, 0, 1}},
        {{0, 0, 2}, {0, 0, 0}, {0, 0, 1}},
    };
    Mv val[3];
    int valid = 0, validCount = 0;  // valid: bit c for candidate c
    for (int c = 0; c < 3; ++c) {
        int dx = cand[blk][c][0], dy = cand[blk][c][1], b = cand[blk][c][2];
        int cx = mx + dx, cy = my + dy;
        val[c] = {0, 0};
        if (cx < 0 || cy < 0 || cx >= s_.mbw) continue;
        int cn = cy * s_.mbw + cx;
        if (cn != n && s_.mb[cn].packet != s_.packetId) continue;
        valid |= 1 << c;
        ++validCount;
        val[c] = s_.mv[cn * 4 + b];
    }
    if (validCount == 0) return {0, 0};
    if (validCount == 1) return val[valid == 1 ? 0 : valid == 2 ? 1 : 2];
    auto median = [](int a, int b, int c) {
        int mx3 = a > b ? a : b, mn3 = a < b ? a : b;
        return c > mx3 ? mx3 : c < mn3 ? mn3 : c;
    };
    return {int16_t(median(val[0].x, val[1].x, val[2].x)), int16_t(median(val[0].y, val[1].y, val[2].y))};
}

// Field vectors (7.6.2.1): both fields share the frame predictor; the vertical difference is added to
// half the predictor, in field lines.
bool VopDecoder::readFieldVectors(int n) {
    MbInfo& m = s_.mb[n];
    int mx = n % s_.mbw, my = n / s_.mbw;
    const Mv pred = mvPredict(n, mx, my, 0);
    int px = pred.x, py = pred.y;
    int fcode = s_.vop.vop_fcode_forward;
    for (int f = 0; f < 2; ++f) {
        m.fieldMv[f][0] = int16_t(readMvComponent(fcode, px));
        m.fieldMv[f][1] = int16_t(readMvComponent(fcode, py / 2));
    }
    Mv avg = {int16_t(div2Round(m.fieldMv[0][0] + m.fieldMv[1][0])),
              int16_t(div2Round(2 * m.fieldMv[0][1] + 2 * m.fieldMv[1][1]))};
    for (int b = 0; b < 4; ++b) s_.mv[n * 4 + b] = avg;
    return !br_.error();
}

// One motion vector component (7.6.3): motion_code and residual, added to the predictor and wrapped into
// the range of the f_code. fcode 0 reads the direct-mode delta: f_code 1, no predictor, no wrapping.
int VopDecoder::readMvComponent(int fcode, int pred) {
    bool direct = fcode == 0;
    if (direct) fcode = 1;
    int rsize = fcode - 1, f = 1 << rsize;
    int code = vlc_.mvd.decode(br_);
    if (code == kVlcInvalid) return 0;
    int diff = code;
    if (f != 1 && code != 0) {
        int r = int(br_.read(rsize));
        diff = ((std::abs(code) - 1) << rsize) + r + 1;
        if (code < 0) diff = -diff;
    }
    if (direct) return diff;
    int v = pred + diff;
    if (v < -32 * f) v += 64 * f;
    if (v > 32 * f - 1) v -= 64 * f;
    return v;
}

bool VopDecoder::readMotionVectors(int n, int kind) {
    int mx = n % s_.mbw, my = n / s_.mbw;
    int fcode = s_.vop.vop_fcode_forward;
    Mv* mv = &s_.mv[n * 4];
    int count = kind == kMbInter4v ? 4 : 1;
    for (int b = 0; b < count; ++b) {
        int comp[2];
        const Mv pred = mvPredict(n, mx, my, b);
        comp[0] = readMvComponent(fcode, pred.x);
        comp[1] = readMvComponent(fcode, pred.y);
        mv[b] = {int16_t(comp[0]), int16_t(comp[1])};
        if (count == 1) mv[1] = mv[2] = mv[3] = mv[0];
    }
    return !br_.error();
}

namespace {

// A square of N by N samples; the fixed row length lets the compiler copy each row in one move.
template <int N>
inline void copySquare(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss) {
    for (int y = 0; y < N; ++y, dst += ds, src += ss) std::memcpy(dst, src, N);
}

}  // namespace

void VopDecoder::copyMb(int n) {
    int mx = n % s_.mbw, my = n / s_.mbw;
    for (int p = 0; p < 3; ++p) {
        const int sz = p ? 8 : 16;
        const Plane& r = ref_.plane[p];
        Plane& c = cur_.plane[p];
        uint8_t* d = c.data + ptrdiff_t(my * sz) * c.stride + mx * sz;
        const uint8_t* s = r.data + ptrdiff_t(my * sz) * r.stride + mx * sz;
        if (p)
            copySquare<8>(d, c.stride, s, r.stride);
        else
            copySquare<16>(d, c.stride, s, r.stride);
    }
}

void VopDecoder::conceal(int from, int to) {
    if (future_) {  // B-VOP: the past reference, as a skipped macroblock would be
        static const Mv zero[4] = {};
        alignas(16) uint8_t y[256], u[64], v[64];
        for (int n = from; n < to; ++n) {
            predictB(n % s_.mbw, n / s_.mbw, 3, zero, zero, false, y, u, v);
            storeB(n % s_.mbw, n / s_.mbw, y, u, v);
        }
        return;
    }
    for (int n = from; n < to; ++n) {
        MbInfo& m = s_.mb[n];
        m.kind = kMbNotCoded;
        m.fieldPred = 0;
        m.packet = 0;
        zeroVectors(n);
        copyMb(n);
    }
}

// Intra block: DC and AC prediction (7.4.3), inverse quantisation (7.4.4), inverse DCT.
bool VopDecoder::intraBlock(int n, int mx, int my, int i, bool partitioned, uint8_t* dst, int stride) {
    const MbInfo& m = s_.mb[n];
    int qp = m.qp;
    int dcScaler = i < 4 ? kDcScalerLum[qp] : kDcScalerChrom[qp];
    // Neighbours A (left), B (above left), C (above): macroblock, block index and predictor slot (the
    // slots hold two macroblock rows).
    int an, ab = 0, as = 0, bn, bb = 0, bs = 0, cn, cb = 0, cs = 0;
    const int mbw = s_.mbw;
    if (i < 4) {
        int bx = mx * 2 + (i & 1), by = my * 2 + (i >> 1);
        auto locate = [&](int x, int y, int& mbn, int& blk, int& slotIndex) {
            if (x < 0 || y < 0) {
                mbn = -1;
                return;
            }
            mbn = (y >> 1) * mbw + (x >> 1);
            slotIndex = ((y >> 1) & 1) * mbw + (x >> 1);
            blk = ((y & 1) << 1) | (x & 1);
        };
        locate(bx - 1, by, an, ab, as);
        locate(bx - 1, by - 1, bn, bb, bs);
        locate(bx, by - 1, cn, cb, cs);
    } else {
        an = mx > 0 ? n - 1 : -1;
        bn = mx > 0 && my > 0 ? n - mbw - 1 : -1;
        cn = my > 0 ? n - mbw : -1;
        as = (my & 1) * mbw + mx - 1;
        bs = ((my - 1) & 1) * mbw + mx - 1;
        cs = ((my - 1) & 1) * mbw + mx;
        ab = bb = cb = i;
    }
    auto available = [&](int mbn) {
        if (mbn < 0) return false;
        if (mbn == n) return true;
        return s_.mb[mbn].packet == s_.packetId && s_.mb[mbn].kind == kMbIntra;
    };
    AcDc* slots = s_.acdc;
    bool haveA = available(an), haveB = available(bn), haveC = available(cn);
    int fa = haveA ? slots[as].dc[ab] : 1024;
    int fb = haveB ? slots[bs].dc[bb] : 1024;
    int fc = haveC ? slots[cs].dc[cb] : 1024;
    bool fromAbove = std::abs(fa - fb) < std::abs(fb - fc);

    const uint8_t* scan = scan_;
    if (m.acPred) scan = fromAbove ? kAlternateHorizontal : kAlternateVertical;

    int16_t* blk = block_;
    clearBlock(blk);
    int dcDiff = 0;
    bool dcVlc = m.useDcVlc;
    if (dcVlc) dcDiff = partitioned ? m.dcDiff[i] : readDcDiff(i < 4);
    int last = 0;
    const bool coded = (m.cbp >> (5 - i)) & 1;
    if (coded) {
        bool unused = false;
        bool ok = (partitioned && s_.vol.reversible_vlc)
                      ? readBlock<true, kDequantNone>(blk, true, dcVlc ? 1 : 0, scan, qp, last, unused)
                      : readBlock<false, kDequantNone>(blk, true, dcVlc ? 1 : 0, scan, qp, last, unused);
        if (!ok) return false;
    }
    if (dcVlc) blk[0] = int16_t(dcDiff);

    int qf0 = blk[0] + divRound(fromAbove ? fc : fa, dcScaler);
    AcDc& self = slots[(my & 1) * mbw + mx];
    if (m.acPred) {
        if (fromAbove) {
            if (haveC) {
                const AcDc& p = slots[cs];
                int pq = s_.mb[cn].qp;
                for (int u = 1; u < 8; ++u)
                    blk[u] = int16_t(clip(blk[u] + divRound(p.row[cb][u - 1] * pq, qp), -2048, 2047));
            }
        } else if (haveA) {
            const AcDc& p = slots[as];
            int pq = s_.mb[an].qp;
            for (int v = 1; v < 8; ++v)
                blk[v * 8] = int16_t(clip(blk[v * 8] + divRound(p.col[ab][v - 1] * pq, qp), -2048, 2047));
        }
    }
    int f0 = clip(qf0 * dcScaler, -2048, 2047);
    self.dc[i] = int16_t(f0);
    for (int k = 0; k < 7; ++k) {
        self.row[i][k] = blk[k + 1];
        self.col[i][k] = blk[(k + 1) * 8];
    }
    bool acNonZero;
    if (s_.vol.quant_type) {
        blk[0] = int16_t(f0);
        acNonZero = dequantiseMpegIntra(blk, s_.vol.intra_quant_mat, qp);
    } else {
        // Inverse quantisation, H.263 method (7.4.4.2); the DC is the dc_scaler product above. A block
        // without coefficients or AC prediction has no AC to dequantise.
        acNonZero = (coded || m.acPred) && k_.dequantIntraH263(blk, qp);
        blk[0] = int16_t(f0);
    }
    (void)last;
    if (!acNonZero) {  // a flat block: putBlock's clamp of the one value, row by row
        const int v = k_.idctDc(f0);
        const uint8_t sample = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
        for (int y = 0; y < 8; ++y) std::memset(dst + ptrdiff_t(y) * stride, sample, 8);
    } else {
        k_.idct(blk);
        k_.putBlock(dst, stride, blk);
    }
    return true;
}

bool VopDecoder::interBlock(int qp, uint8_t* dst, int stride) {
    int16_t* blk = block_;
    clearBlock(blk);
    int last = 0;
    bool acNonZero = false;
    bool ok;
    if (s_.vol.quant_type) {
        mpegMatrix_ = s_.vol.nonintra_quant_mat;
        mpegSum_ = 0;
        ok = (s_.vol.data_partitioned && s_.vol.reversible_vlc)
                 ? readBlock<true, kDequantMpegInter>(blk, false, 0, scan_, qp, last, acNonZero)
                 : readBlock<false, kDequantMpegInter>(blk, false, 0, scan_, qp, last, acNonZero);
        if (!(mpegSum_ & 1)) {  // mismatch control (7.4.4.1)
            blk[63] = int16_t((blk[63] & 1) ? blk[63] - 1 : blk[63] + 1);
            acNonZero = true;
        }
    } else {
        ok = (s_.vol.data_partitioned && s_.vol.reversible_vlc)
                 ? readBlock<true, kDequantH263>(blk, false, 0, scan_, qp, last, acNonZero)
                 : readBlock<false, kDequantH263>(blk, false, 0, scan_, qp, last, acNonZero);
    }
    if (!ok) return false;
    if (!acNonZero) {
        int v = k_.idctDc(blk[0]);
        int16_t flat[64];
        for (int k = 0; k < 64; ++k) flat[k] = int16_t(v);
        k_.addBlock(dst, stride, flat);
    } else {
        k_.idct(blk);
        k_.addBlock(dst, stride, blk);
    }
    return true;
}

bool VopDecoder::reconstruct(int n, bool partitioned) {
    const MbInfo& m = s_.mb[n];
    int mx = n % s_.mbw, my = n / s_.mbw;
    if (m.kind == kMbNotCoded) {
        copyMb(n);
        return true;
    }
    auto blockDst = [&](int i, uint8_t*& dst, int& stride) {
        const Plane& p = cur_.plane[i < 4 ? 0 : i - 3];
        int x = i < 4 ? mx * 16 + (i & 1) * 8 : mx * 8;
        int y = i < 4 ? my * 16 + (i >> 1) * 8 : my * 8;
        stride = p.stride;
        if (i < 4 && m.fieldDct) {  // field blocks: top field in blocks 0 and 1, bottom in 2 and 3
            y = my * 16 + (i >> 1);
            stride = 2 * p.stride;
        }
        dst = p.data + ptrdiff_t(y) * p.stride + x;
    };
    if (m.kind == kMbIntra) {
        for (int i = 0; i < 6; ++i) {
            uint8_t* dst;
            int stride;
            blockDst(i, dst, stride);
            if (!intraBlock(n, mx, my, i, partitioned, dst, stride)) return false;
        }
        return true;
    }
    motionCompensate(n, mx, my);
    for (int i = 0; i < 6; ++i) {
        if (!((m.cbp >> (5 - i)) & 1)) continue;
        uint8_t* dst;
        int stride;
        blockDst(i, dst, stride);
        if (!interBlock(m.qp, dst, stride)) return false;
    }
    return true;
}

namespace {

// dquant (Table 6-17)
constexpr int kDquant[4] = {-1, -2, 1, 2};

// The kind of a macroblock from its derived_mb_type: 3 and 4 intra, 2 four vectors, 0 and 1 one vector.
constexpr uint8_t kindOf(int type) {
    return type >= 3 ? kMbIntra : type == 2 ? kMbInter4v : kMbInter;
}

}  // namespace

int VopDecoder::readCbpyAndDquant(const MbInfo& m, bool intra, int& qp) {
    int cbpy = vlc_.cbpy.decode(br_);
    if (cbpy < 0) return -1;
    if (!intra) cbpy = 15 - cbpy;
    if (m.mbType == 1 || m.mbType == 4) readDquant(qp);
    return cbpy;
}

void VopDecoder::readDquant(int& qp) {
    qp = clip(qp + kDquant[br_.read(2)], 1, 31);
}

bool VopDecoder::readMbVectors(int n, const MbInfo& m) {
    if (m.kind == kMbIntra) {
        zeroVectors(n);
        return true;
    }
    return m.fieldPred ? readFieldVectors(n) : readMotionVectors(n, m.kind);
}

VopDecoder::MbHeader VopDecoder::readCodAndMcbpc(int n, int qp, int& v) {
    s_.mb[n].packet = s_.packetId;
    s_.mb[n].fieldPred = 0;
    const bool pVop = s_.vop.vop_coding_type == kVopP;
    for (;;) {
        if (pVop && br_.readBit()) {  // not_coded (COD in a short-header picture)
            MbInfo& m = s_.mb[n];
            m.kind = kMbNotCoded;
            m.qp = uint8_t(qp);
            m.cbp = 0;
            zeroVectors(n);
            copyMb(n);
            return kMbHeaderSkipped;
        }
        v = (pVop ? vlc_.mcbpcP : vlc_.mcbpcI).decode(br_);
        if (v == kVlcInvalid || br_.error()) return kMbHeaderError;
        if (v != kMcbpcStuffing) return kMbHeaderCoded;
    }
}

bool VopDecoder::decodeCombinedMb(int n, int& qp) {
    MbInfo& m = s_.mb[n];
    int v = 0;
    const MbHeader header = readCodAndMcbpc(n, qp, v);
    if (header != kMbHeaderCoded) return header == kMbHeaderSkipped && !br_.error();
    int type = v >> 2;
    bool intra = type >= 3;
    m.mbType = uint8_t(type);
    m.acPred = intra ? uint8_t(br_.read(1)) : 0;
    int cbpy = readCbpyAndDquant(m, intra, qp);
    if (cbpy < 0) return false;
    m.qp = uint8_t(qp);
    m.cbp = uint8_t((cbpy << 2) | (v & 3));
    m.kind = kindOf(type);
    m.useDcVlc = intra && useIntraDcVlc(qp);
    m.fieldDct = 0;
    m.fieldPred = 0;
    if (s_.vol.interlaced) {
        // interlaced_information(): dct_type, and field_prediction of 16x16 inter macroblocks.
        if (intra || m.cbp) m.fieldDct = uint8_t(br_.read(1));
        if ((type == 0 || type == 1) && br_.readBit()) {  // field_prediction
            m.fieldPred = 1;
            m.fieldRef[0] = uint8_t(br_.read(1));  // forward_top_field_reference
            m.fieldRef[1] = uint8_t(br_.read(1));  // forward_bottom_field_reference
        }
    }
    if (!readMbVectors(n, m) || br_.error()) return false;
    return reconstruct(n, false) && !br_.error();
}

// Data-partitioned video packet (6.2.6.2): headers and motion (or DC) first, then the second partition,
// then the texture of every macroblock of the packet.
bool VopDecoder::decodePartitionedPacket(int& mbIndex, int& qp) {
    bool pVop = s_.vop.vop_coding_type == kVopP;
    int first = mbIndex, count = 0;
    const uint32_t marker = pVop ? 0x1F001 : 0x6B001;
    const int markerBits = pVop ? 17 : 19;
    while (br_.peek(markerBits) != marker) {
        if (br_.error() || first + count >= s_.mbCount) return false;
        int n = first + count;
        MbInfo& m = s_.mb[n];
        m.packet = s_.packetId;
        m.fieldPred = 0;
        if (pVop && br_.readBit()) {
            m.kind = kMbNotCoded;
            m.cbp = 0;
            m.qp = uint8_t(qp);
            zeroVectors(n);
            ++count;
            continue;
        }
        int v = (pVop ? vlc_.mcbpcP : vlc_.mcbpcI).decode(br_);
        if (v == kVlcInvalid) return false;
        if (v == kMcbpcStuffing) continue;
        int type = v >> 2;
        m.mbType = uint8_t(type);
        m.kind = kindOf(type);
        m.cbp = uint8_t(v & 3);
        if (!pVop) {
            if (type == 4) readDquant(qp);
            m.qp = uint8_t(qp);
            m.useDcVlc = useIntraDcVlc(qp);
            if (m.useDcVlc)
                for (int i = 0; i < 6; ++i) m.dcDiff[i] = int16_t(readDcDiff(i < 4));
        }
        if (!readMbVectors(n, m)) return false;
        ++count;
    }
    br_.skip(markerBits);
    for (int k = 0; k < count; ++k) {
        MbInfo& m = s_.mb[first + k];
        if (!pVop) {
            m.acPred = uint8_t(br_.read(1));
            int cbpy = vlc_.cbpy.decode(br_);
            if (cbpy < 0) return false;
            m.cbp = uint8_t(m.cbp | (cbpy << 2));
            continue;
        }
        if (m.kind == kMbNotCoded) {
            m.qp = uint8_t(qp);
            continue;
        }
        bool intra = m.kind == kMbIntra;
        m.acPred = intra ? uint8_t(br_.read(1)) : 0;
        int cbpy = readCbpyAndDquant(m, intra, qp);
        if (cbpy < 0) return false;
        m.cbp = uint8_t(m.cbp | (cbpy << 2));
        m.qp = uint8_t(qp);
        m.useDcVlc = intra && useIntraDcVlc(qp);
        if (m.useDcVlc)
            for (int i = 0; i < 6; ++i) m.dcDiff[i] = int16_t(readDcDiff(i < 4));
    }
    if (br_.error()) return false;
    for (int k = 0; k < count; ++k) {
        if (!reconstruct(first + k, true) || br_.error()) return false;
    }
    mbIndex = first + count;
    return true;
}

// next_resync_marker() stuffing followed by a resync_marker at the reading position?
bool VopDecoder::resyncHere() {
    int n = br_.bitsToAlign();
    if (n == 0) n = 8;
    uint32_t stuffing = (1u << (n - 1)) - 1;
    int len = resyncLength();
    if (br_.peek(n) != stuffing) return false;
    return br_.peek(n + len) == ((stuffing << len) | 1u);
}

// video_packet_header() (6.2.5.2)
bool VopDecoder::readPacketHeader(int& mbIndex, int& qp) {
    int n = br_.bitsToAlign();
    br_.skip((n ? n : 8) + resyncLength());
    int number = int(br_.read(s_.mbNumberBits));
    int quant = int(br_.read(s_.vol.quant_precision));
    if (br_.readBit()) {  // header_extension_code
        int guard = 0;
        while (br_.readBit()) {
            if (++guard > 1024 || br_.error()) return false;
        }
        br_.skip(1);
        br_.skip(s_.vol.vop_time_increment_bits);
        br_.skip(1);
        int type = int(br_.read(2));
        br_.skip(3);  // intra_dc_vlc_thr
        if (type != kVopI) br_.skip(3);
        if (type == kVopB) br_.skip(3);
        if (type != s_.vop.vop_coding_type) return false;
    }
    if (br_.error() || number < mbIndex || number >= s_.mbCount || quant < 1 || quant > 31) return false;
    startPacket(mbIndex, number, qp, quant);
    return true;
}

void VopDecoder::startPacket(int& mbIndex, int number, int& qp, int quant) {
    conceal(mbIndex, number);
    mbIndex = number;
    qp = quant;
    ++s_.packetId;
}

bool VopDecoder::concealRest(int mbIndex) {
    conceal(mbIndex < s_.mbCount ? mbIndex : s_.mbCount, s_.mbCount);
    return false;
}

bool VopDecoder::run() {
    int qp = int(s_.vop.vop_quant);
    int mbIndex = 0;
    ++s_.packetId;
    const bool resync = !s_.vol.resync_marker_disable;
    while (mbIndex < s_.mbCount) {
        if (resync && mbIndex > 0 && resyncHere() && !readPacketHeader(mbIndex, qp))
            return concealRest(mbIndex);
        if (s_.vol.data_partitioned) {
            if (!decodePartitionedPacket(mbIndex, qp) || (mbIndex < s_.mbCount && !resyncHere()))
                return concealRest(mbIndex);
        } else {
            if (!decodeCombinedMb(mbIndex, qp)) return concealRest(mbIndex);
            ++mbIndex;
        }
    }
    return true;
}

}  // namespace vdec
