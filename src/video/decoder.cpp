// The decoder: record headers, VOP decoding (macroblocks, video packets, data partitioning), reference
// pictures with edge extension, and the hand-over to the output conversion.
#include "video/decoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "video/bitreader.h"
#include "video/convert.h"
#include "video/headers.h"
#include "video/kernels.h"
#include "video/scan_tables.h"
#include "video/vlc.h"

namespace vdec {

namespace {

constexpr int kMargin = 32;
constexpr int kMaxDimension = 8191;  // 13-bit layer width and height

struct Plane {
    uint8_t* data;  // sample (0, 0)
    int stride;
    int width, height;          // visible samples
    int padRight, padBottom;    // valid extended samples beyond the edge (32 on the left and top)
    int edgeWidth, edgeHeight;  // the decoded area the margins extend: whole macroblocks
};

struct Picture {
    Plane plane[3];
};

enum MbKind : uint8_t { kMbNotCoded = 0, kMbInter = 1, kMbInter4v = 2, kMbIntra = 3 };

struct MbInfo {
    uint32_t packet;  // video packet the macroblock was decoded in (unique over the decoder's life)
    uint8_t kind;
    uint8_t mbType;  // derived_mb_type (Table B-1)
    uint8_t qp;
    uint8_t cbp;  // bit 5 - i: pattern of block i
    uint8_t acPred;
    uint8_t useDcVlc;
    uint8_t fieldDct;   // dct_type: luma blocks hold one field each
    int16_t dcDiff[6];  // data partitioning: dct_dc_differential read ahead of the texture
    // Field prediction (interlaced P-VOPs): per field the vector (vertical in field lines) and the
    // reference field; the motion vector array holds their average for the neighbours' prediction.
    uint8_t fieldPred;
    uint8_t fieldRef[2];
    int16_t fieldMv[2][2];
};

struct Mv {
    int16_t x, y;
};

// Intra predictors of one macroblock: F[0][0] and the quantised first row and column of each block.
struct AcDc {
    int16_t dc[6];
    int16_t row[6][7];
    int16_t col[6][7];
};

struct State {
    int width, height;
    int mbw, mbh, mbCount;
    int mbNumberBits;
    VideoObjectLayer vol;
    bool volSupported;
    Vop vop;
    Picture pics[2];
    Picture bpic;  // B-VOPs: buffer 3, no margins
    uint8_t* picBuffer[2];
    size_t picBytes;
    int last;     // index of the most recent anchor (I- or P-VOP); the other one is the older anchor
    int anchors;  // anchors decoded since initialisation
    bool havePicture;
    // Picture order: with B-VOPs in the layer (low_delay 0) an anchor is output when the next anchor
    // arrives; the first anchor is output at once and shown again then.
    int pending;  // anchor decoded but not yet output, or -1
    bool pendingShown;
    const Picture* output;  // what the last successful call output
    bool outputNew;
    // Times (in ticks of vop_time_increment_resolution) and second bases of the two anchors.
    int64_t anchorTime[2];
    uint32_t anchorSeconds[2];
    uint32_t govSeconds;
    bool govPending;
    int64_t tframe;  // frame period for interlaced direct mode: first B-VOP of the layer to its past anchor
    uint32_t packetId;
    uint32_t pictureCount;
    MbInfo* mb;
    Mv* mv;      // 4 per macroblock
    AcDc* acdc;  // two macroblock rows
};

// Process-wide state: the decoder's own memory lives in the caller's buffers.
State* g_state = nullptr;
int g_format = 4;
int g_direction = -1;
int g_postproc = 0;
bool g_initialised = false;
uint32_t g_timeIncrementResolution = 15;

size_t align16(size_t v) {
    return (v + 15) & ~size_t(15);
}

struct Layout {
    size_t state, mb, mv, acdc, bpicV, total;
};

Layout layoutFor(int w, int h) {
    Layout l;
    size_t mbw = size_t((w + 15) / 16), mbh = size_t((h + 15) / 16);
    l.state = 0;
    l.mb = align16(sizeof(State));
    l.mv = l.mb + align16(mbw * mbh * sizeof(MbInfo));
    l.acdc = l.mv + align16(mbw * mbh * 4 * sizeof(Mv));
    l.bpicV = l.acdc + align16(2 * mbw * sizeof(AcDc));
    // B pictures live in buffer 3; for odd sizes its chroma room (w h / 4 per plane) is short of the
    // rounded-up planes, and the second chroma plane goes here instead.
    size_t cw = size_t((w + 1) / 2), ch = size_t((h + 1) / 2);
    size_t room = size_t(w) * h + 2 * ((size_t(w) * h) >> 2);
    bool fits = size_t(w) * h + 2 * cw * ch <= room;
    l.total = l.bpicV + (fits ? 0 : align16(cw * ch));
    return l;
}

inline int clip(int v, int lo, int hi) {
    return v < lo ? lo : v > hi ? hi : v;
}

// "//": integer division rounding to the nearest, half away from zero (b > 0).
inline int divRound(int a, int b) {
    return a >= 0 ? (a + (b >> 1)) / b : -((-a + (b >> 1)) / b);
}

// Div2Round (7.6.2.1): halves a sum of two vectors, any fraction going to the half-sample position.
inline int div2Round(int x) {
    static const int kRound[4] = {0, 1, 1, 1};
    return ((x >> 1) & ~1) + kRound[x & 3];
}

void setupPicture(Picture& p, uint8_t* buf, int w, int h) {
    int cw = (w + 1) >> 1, ch = (h + 1) >> 1;
    int ls = w + 2 * kMargin, cs = (w >> 1) + 2 * kMargin;
    int lrows = h + 2 * kMargin, crows = (h >> 1) + 2 * kMargin;
    // References extend from the edge of the decoded macroblocks, up to 15 samples beyond the picture's
    // own edge (inside the 32-sample margin).
    int ew = (w + 15) & ~15, eh = (h + 15) & ~15;
    p.plane[0] = {buf + kMargin * ls + kMargin, ls, w, h, ls - kMargin - ew, lrows - kMargin - eh, ew, eh};
    uint8_t* u = buf + size_t(ls) * lrows;
    uint8_t* v = u + size_t(cs) * crows;
    int padR = cs - kMargin - ew / 2, padB = crows - kMargin - eh / 2;
    p.plane[1] = {u + kMargin * cs + kMargin, cs, cw, ch, padR, padB, ew / 2, eh / 2};
    p.plane[2] = {v + kMargin * cs + kMargin, cs, cw, ch, padR, padB, ew / 2, eh / 2};
    std::memset(buf, 16, size_t(ls) * lrows);
    std::memset(u, 128, size_t(cs) * crows * 2);
}

// Repeats the edge samples into the margins (unrestricted motion vectors read there).
void extendEdges(Plane& p) {
    const int w = p.edgeWidth, h = p.edgeHeight;
    for (int y = 0; y < h; ++y) {
        uint8_t* row = p.data + ptrdiff_t(y) * p.stride;
        std::memset(row - kMargin, row[0], kMargin);
        std::memset(row + w, row[w - 1], size_t(p.padRight));
    }
    const uint8_t* first = p.data - kMargin;
    const uint8_t* lastRow = p.data + ptrdiff_t(h - 1) * p.stride - kMargin;
    size_t len = size_t(kMargin + w + p.padRight);
    for (int y = 1; y <= kMargin; ++y) std::memcpy(p.data - ptrdiff_t(y) * p.stride - kMargin, first, len);
    for (int y = 0; y < p.padBottom; ++y)
        std::memcpy(p.data + ptrdiff_t(h + y) * p.stride - kMargin, lastRow, len);
}

// Inverse quantisation, MPEG method (7.4.4.1): F'' = ((2 QF + k) W qs) / 16 with k = 0 (intra) or
// Sign(QF), saturation to 12 bits and mismatch control on F[7][7]. (The committee draft divides by 32
// with a doubled quantiser scale; with vop_quant as the scale, as streams use it, the divisor is 16, so
// that a flat matrix of 16 gives the H.263 step 2 qs.) An intra block's DC is already F[0][0].
// Returns whether any coefficient besides the DC is non-zero.
bool dequantiseMpeg(int16_t* blk, const uint8_t* matrix, int qp, bool intra) {
    int sum = intra ? blk[0] : 0;
    int nonZero = 0;
    for (int k = intra ? 1 : 0; k < 64; ++k) {
        int q = blk[k];
        if (!q) continue;
        int f = intra ? (2 * q * matrix[k] * qp) / 16 : ((2 * q + (q > 0 ? 1 : -1)) * matrix[k] * qp) / 16;
        f = clip(f, -2048, 2047);
        blk[k] = int16_t(f);
        sum += f;
        if (k) nonZero |= f;
    }
    if (!(sum & 1)) {
        blk[63] = int16_t((blk[63] & 1) ? blk[63] - 1 : blk[63] + 1);
        nonZero |= blk[63];
    }
    return nonZero != 0;
}

// LMAX and RMAX (Tables B-19 to B-22): the largest level per run and the largest run per level of the
// coefficient tables.
struct EscapeTables {
    uint8_t lmax[2][2][64];    // [intra][last][run]
    uint8_t rmax[2][2][2048];  // [intra][last][level]; 0 beyond the table's levels
    EscapeTables() {
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
};

const EscapeTables& escapeTables() {
    static const EscapeTables tables;
    return tables;
}

class VopDecoder {
public:
    // cur: the picture decoded; ref: the (past) reference; future: the future reference of a B-VOP.
    VopDecoder(State& s, BitReader& br, Picture& cur, const Picture& ref, const Picture* future = nullptr)
        : s_(s),
          br_(br),
          cur_(cur),
          ref_(ref),
          future_(future),
          vlc_(vlcTables()),
          k_(kernels()),
          scan_(s.vop.alternate_vertical_scan_flag ? kAlternateVertical : kZigzag) {}

    bool run();
    bool runB(int64_t trb, int64_t trd);

private:
    bool decodeCombinedMb(int n, int& qp);
    bool decodePartitionedPacket(int& mbIndex, int& qp);
    bool readMotionVectors(int n, int kind);
    bool reconstruct(int n, bool partitioned);
    bool intraBlock(int n, int mx, int my, int i, bool partitioned, uint8_t* dst, int stride);
    bool interBlock(int qp, uint8_t* dst, int stride);
    template <bool Reversible, bool Dequantise>
    bool readBlock(int16_t* blk, bool intra, int start, const uint8_t* scan, int qp, int& last,
                   bool& acNonZero);
    int readDcDiff(bool luma);
    void motionCompensate(int n, int mx, int my);
    void predictFieldBlock(const Plane& ref, int field, int px, int py, int w, int h, int mvx, int mvy,
                           uint8_t* out, int stride);
    bool readFieldVectors(int n);
    void predictMb(const Picture& r, int mx, int my, const Mv* mv, bool four, uint8_t* y, int ys, uint8_t* u,
                   uint8_t* v, int cs);
    void predictLuma(const Plane& ref, int px, int py, int n, int mvx, int mvy, uint8_t* out, int stride);
    void predictPlane(const Plane& ref, int px, int py, int w, int h, int mvx, int mvy, uint8_t* out,
                      int stride);
    void predictPlane(const Plane& ref, Plane& dst, int px, int py, int w, int h, int mvx, int mvy) {
        predictPlane(ref, px, py, w, h, mvx, mvy, dst.data + ptrdiff_t(py) * dst.stride + px, dst.stride);
    }
    int readMvComponent(int fcode, int pred);
    bool decodeBMb(int n, int& qp, Mv* pmv);
    void predictBField(int mx, int my, int mode, const Mv* fwd, const uint8_t* fwdRef, const Mv* bwd,
                       const uint8_t* bwdRef, uint8_t* y, uint8_t* u, uint8_t* v);
    void directField(const MbInfo& col, int dx, int dy, Mv* fwd, Mv* bwd);
    void predictB(int mx, int my, int mode, const Mv* fwd, const Mv* bwd, bool fourVectors, uint8_t* y,
                  uint8_t* u, uint8_t* v);
    void copyMb(int n);  // not coded: prediction from the same position
    int mvPredict(int n, int mx, int my, int blk, int comp);
    bool resyncHere();
    bool readPacketHeader(int& mbIndex, int& qp);
    void conceal(int from, int to);
    bool useIntraDcVlc(int qp) const {
        int thr = s_.vop.intra_dc_vlc_thr;
        return thr == 0 || (thr < 7 && qp < 11 + 2 * thr);
    }
    int resyncLength() const {
        const Vop& v = s_.vop;
        if (v.vop_coding_type == kVopI) return 17;
        int f = v.vop_fcode_forward;
        if (v.vop_coding_type == kVopB) {
            if (v.vop_fcode_backward > f) f = v.vop_fcode_backward;
            if (f < 2) f = 2;  // at least 18 bits in B-VOPs
        }
        return 16 + f;
    }
    void storeB(int mx, int my, const uint8_t* y, const uint8_t* u, const uint8_t* v);

    State& s_;
    BitReader& br_;
    Picture& cur_;
    const Picture& ref_;
    const Picture* future_;
    int64_t trb_ = 0, trd_ = 0;
    const VlcTables& vlc_;
    const Kernels& k_;
    const uint8_t* scan_;  // scan of blocks without AC prediction
    alignas(16) int16_t block_[64];
    const EscapeTables& escape_ = escapeTables();
};

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
template <bool Reversible, bool Dequantise>
bool VopDecoder::readBlock(int16_t* blk, bool intra, int start, const uint8_t* scan, int qp, int& last,
                           bool& acNonZero) {
    const Vlc& vlc =
        Reversible ? (intra ? vlc_.rvlcIntra : vlc_.rvlcInter) : (intra ? vlc_.tcoefIntra : vlc_.tcoefInter);
    const int qp2 = 2 * qp, add = (qp & 1) ? qp : qp - 1;
    int i = start;
    for (;;) {
        int e = vlc.decode(br_);
        int lst, run, level;
        const bool escaped = e == kTcoefEscape;
        if (escaped) {
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
            } else if (!br_.readBit()) {  // type 1: level offset (LMAX, Tables B-19, B-20)
                e = vlc.decode(br_);
                if (e == kVlcInvalid || e == kTcoefEscape) return false;
                lst = eventLast(e);
                run = eventRun(e);
                level = eventLevel(e);
                int lmax = escape_.lmax[intra][lst][run];
                level += level < 0 ? -lmax : lmax;
            } else if (!br_.readBit()) {  // type 2: run offset (RMAX, Tables B-21, B-22)
                e = vlc.decode(br_);
                if (e == kVlcInvalid || e == kTcoefEscape) return false;
                lst = eventLast(e);
                level = eventLevel(e);
                run = eventRun(e) + escape_.rmax[intra][lst][std::abs(level)] + 1;
            } else {  // type 3: fixed length
                lst = int(br_.read(1));
                run = int(br_.read(6));
                br_.skip(1);
                level = int(br_.read(12));
                br_.skip(1);
                if (level & 0x800) level -= 0x1000;
            }
        } else {
            if (e == kVlcInvalid) return false;
            lst = eventLast(e);
            run = eventRun(e);
            level = eventLevel(e);
        }
        i += run;
        if (i > 63) return false;
        int pos = scan[i];
        if (Dequantise) {
            // |level| <= 27 from the tables keeps the product inside 12 bits; escapes are clipped.
            int sign = level >> 31;
            int f = qp2 * level + ((add ^ sign) - sign);
            if (escaped) f = level ? clip(f, -2048, 2047) : 0;
            blk[pos] = int16_t(f);
        } else {
            blk[pos] = int16_t(level);
        }
        acNonZero |= pos != 0;
        last = i;
        ++i;
        if (lst) return !br_.error();
    }
}

// Motion vector predictor (7.6.5): median of the left, above and above-right candidates of Figure 7-18.
int VopDecoder::mvPredict(int n, int mx, int my, int blk, int comp) {
    // Candidate (macroblock offset, block) per block 0..3.
    static const int8_t cand[4][3][3] = {
        {{-1, 0, 1}, {0, -1, 2}, {1, -1, 2}},
        {{0, 0, 0}, {0, -1, 3}, {1, -1, 2}},
        {{-1, 0, 3}, {0, 0, 0}, {0, 0, 1}},
        {{0, 0, 2}, {0, 0, 0}, {0, 0, 1}},
    };
    int val[3];
    bool valid[3];
    int validCount = 0;
    for (int c = 0; c < 3; ++c) {
        int dx = cand[blk][c][0], dy = cand[blk][c][1], b = cand[blk][c][2];
        int cx = mx + dx, cy = my + dy;
        valid[c] = false;
        val[c] = 0;
        if (cx < 0 || cy < 0 || cx >= s_.mbw) continue;
        int cn = cy * s_.mbw + cx;
        if (cn != n && s_.mb[cn].packet != s_.packetId) continue;
        valid[c] = true;
        ++validCount;
        const Mv& m = s_.mv[cn * 4 + b];
        val[c] = comp ? m.y : m.x;
    }
    if (validCount == 0) return 0;
    if (validCount == 1) {
        for (int c = 0; c < 3; ++c)
            if (valid[c]) return val[c];
    }
    int a = val[0], b = val[1], c = val[2];
    int mx3 = a > b ? a : b, mn3 = a < b ? a : b;
    return c > mx3 ? mx3 : c < mn3 ? mn3 : c;
}

// Field vectors (7.6.2.1): both fields share the frame predictor; the vertical difference is added to
// half the predictor, in field lines.
bool VopDecoder::readFieldVectors(int n) {
    MbInfo& m = s_.mb[n];
    int mx = n % s_.mbw, my = n / s_.mbw;
    int px = mvPredict(n, mx, my, 0, 0), py = mvPredict(n, mx, my, 0, 1);
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
        for (int c = 0; c < 2; ++c) comp[c] = readMvComponent(fcode, mvPredict(n, mx, my, b, c));
        mv[b] = {int16_t(comp[0]), int16_t(comp[1])};
        if (count == 1) mv[1] = mv[2] = mv[3] = mv[0];
    }
    return !br_.error();
}

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

// Chroma vector of one luma vector: quarter positions go to the half position (Table 7-10).
inline int chromaMv1(int v) {
    int a = std::abs(v);
    int c = (a >> 1) | (a & 1);
    return v < 0 ? -c : c;
}

// Quarter-sample luma vectors (or their sum) in half-sample units before the chroma rounding.
inline int quarterToHalf(int v) {
    return v / 2;
}

// Chroma vector from the sum of four luma vectors (Table 7-7, sixteenth-sample rounding).
inline int chromaMv4(int sum) {
    static const int8_t kRound16[16] = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2};
    int a = std::abs(sum);
    int c = (a >> 4) * 2 + kRound16[a & 15];
    return sum < 0 ? -c : c;
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

void VopDecoder::copyMb(int n) {
    int mx = n % s_.mbw, my = n / s_.mbw;
    for (int p = 0; p < 3; ++p) {
        int sz = p ? 8 : 16;
        const Plane& r = ref_.plane[p];
        Plane& c = cur_.plane[p];
        for (int y = 0; y < sz; ++y)
            std::memcpy(c.data + ptrdiff_t(my * sz + y) * c.stride + mx * sz,
                        r.data + ptrdiff_t(my * sz + y) * r.stride + mx * sz, size_t(sz));
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
        std::memset(&s_.mv[n * 4], 0, 4 * sizeof(Mv));
        copyMb(n);
    }
}

// Intra block: DC and AC prediction (7.4.3), inverse quantisation (7.4.4), inverse DCT.
bool VopDecoder::intraBlock(int n, int mx, int my, int i, bool partitioned, uint8_t* dst, int stride) {
    const MbInfo& m = s_.mb[n];
    int qp = m.qp;
    int dcScaler = i < 4 ? kDcScalerLum[qp] : kDcScalerChrom[qp];
    // Neighbours A (left), B (above left), C (above): macroblock and block index.
    int an, ab = 0, bn, bb = 0, cn, cb = 0;
    int mbw = s_.mbw;
    if (i < 4) {
        int bx = mx * 2 + (i & 1), by = my * 2 + (i >> 1);
        auto locate = [&](int x, int y, int& mbn, int& blk) {
            if (x < 0 || y < 0) {
                mbn = -1;
                return;
            }
            mbn = (y >> 1) * mbw + (x >> 1);
            blk = ((y & 1) << 1) | (x & 1);
        };
        locate(bx - 1, by, an, ab);
        locate(bx - 1, by - 1, bn, bb);
        locate(bx, by - 1, cn, cb);
    } else {
        an = mx > 0 ? n - 1 : -1;
        bn = mx > 0 && my > 0 ? n - mbw - 1 : -1;
        cn = my > 0 ? n - mbw : -1;
        ab = bb = cb = i;
    }
    auto available = [&](int mbn) {
        if (mbn < 0) return false;
        if (mbn == n) return true;
        return s_.mb[mbn].packet == s_.packetId && s_.mb[mbn].kind == kMbIntra;
    };
    auto slot = [&](int mbn) -> AcDc& { return s_.acdc[((mbn / mbw) & 1) * mbw + mbn % mbw]; };
    bool haveA = available(an), haveB = available(bn), haveC = available(cn);
    int fa = haveA ? slot(an).dc[ab] : 1024;
    int fb = haveB ? slot(bn).dc[bb] : 1024;
    int fc = haveC ? slot(cn).dc[cb] : 1024;
    bool fromAbove = std::abs(fa - fb) < std::abs(fb - fc);

    const uint8_t* scan = scan_;
    if (m.acPred) scan = fromAbove ? kAlternateHorizontal : kAlternateVertical;

    int16_t* blk = block_;
    std::memset(blk, 0, sizeof block_);
    int dcDiff = 0;
    bool dcVlc = m.useDcVlc;
    if (dcVlc) dcDiff = partitioned ? m.dcDiff[i] : readDcDiff(i < 4);
    int last = 0;
    if ((m.cbp >> (5 - i)) & 1) {
        bool unused = false;
        bool ok = (partitioned && s_.vol.reversible_vlc)
                      ? readBlock<true, false>(blk, true, dcVlc ? 1 : 0, scan, qp, last, unused)
                      : readBlock<false, false>(blk, true, dcVlc ? 1 : 0, scan, qp, last, unused);
        if (!ok) return false;
    }
    if (dcVlc) blk[0] = int16_t(dcDiff);

    int qf0 = blk[0] + divRound(fromAbove ? fc : fa, dcScaler);
    AcDc& self = slot(n);
    if (m.acPred) {
        if (fromAbove) {
            if (haveC) {
                const AcDc& p = slot(cn);
                int pq = s_.mb[cn].qp;
                for (int u = 1; u < 8; ++u)
                    blk[u] = int16_t(clip(blk[u] + divRound(p.row[cb][u - 1] * pq, qp), -2048, 2047));
            }
        } else if (haveA) {
            const AcDc& p = slot(an);
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
        acNonZero = dequantiseMpeg(blk, s_.vol.intra_quant_mat, qp, true);
    } else {
        // Inverse quantisation, H.263 method (7.4.4.2); the DC is the dc_scaler product above.
        int add = (qp & 1) ? qp : qp - 1;
        int nonZero = 0;
        for (int k = 1; k < 64; ++k) {
            int q = blk[k];
            int sign = (q > 0) - (q < 0);
            nonZero |= q;
            blk[k] = int16_t(clip(2 * q * qp + sign * add, -2048, 2047));
        }
        acNonZero = nonZero != 0;
        blk[0] = int16_t(f0);
    }
    (void)last;
    if (!acNonZero) {
        int v = k_.idctDc(f0);
        int16_t flat[64];
        for (int k = 0; k < 64; ++k) flat[k] = int16_t(v);
        k_.putBlock(dst, stride, flat);
    } else {
        k_.idct(blk);
        k_.putBlock(dst, stride, blk);
    }
    return true;
}

bool VopDecoder::interBlock(int qp, uint8_t* dst, int stride) {
    int16_t* blk = block_;
    std::memset(blk, 0, sizeof block_);
    int last = 0;
    bool acNonZero = false;
    bool ok;
    if (s_.vol.quant_type) {
        ok = (s_.vol.data_partitioned && s_.vol.reversible_vlc)
                 ? readBlock<true, false>(blk, false, 0, scan_, qp, last, acNonZero)
                 : readBlock<false, false>(blk, false, 0, scan_, qp, last, acNonZero);
        if (ok) acNonZero = dequantiseMpeg(blk, s_.vol.nonintra_quant_mat, qp, false);
    } else {
        ok = (s_.vol.data_partitioned && s_.vol.reversible_vlc)
                 ? readBlock<true, true>(blk, false, 0, scan_, qp, last, acNonZero)
                 : readBlock<false, true>(blk, false, 0, scan_, qp, last, acNonZero);
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

// dquant (Table 6-17)
constexpr int kDquant[4] = {-1, -2, 1, 2};

bool VopDecoder::decodeCombinedMb(int n, int& qp) {
    MbInfo& m = s_.mb[n];
    m.packet = s_.packetId;
    m.fieldPred = 0;
    bool pVop = s_.vop.vop_coding_type == kVopP;
    int v;
    for (;;) {
        if (pVop && br_.readBit()) {  // not_coded
            m.kind = kMbNotCoded;
            m.qp = uint8_t(qp);
            m.cbp = 0;
            std::memset(&s_.mv[n * 4], 0, 4 * sizeof(Mv));
            copyMb(n);
            return !br_.error();
        }
        v = (pVop ? vlc_.mcbpcP : vlc_.mcbpcI).decode(br_);
        if (v == kVlcInvalid || br_.error()) return false;
        if (v != kMcbpcStuffing) break;
    }
    int type = v >> 2;
    bool intra = type >= 3;
    m.mbType = uint8_t(type);
    m.acPred = intra ? uint8_t(br_.read(1)) : 0;
    int cbpy = vlc_.cbpy.decode(br_);
    if (cbpy < 0) return false;
    if (!intra) cbpy = 15 - cbpy;
    if (type == 1 || type == 4) qp = clip(qp + kDquant[br_.read(2)], 1, 31);
    m.qp = uint8_t(qp);
    m.cbp = uint8_t((cbpy << 2) | (v & 3));
    m.kind = intra ? kMbIntra : type == 2 ? kMbInter4v : kMbInter;
    m.useDcVlc = intra && useIntraDcVlc(qp);
    m.fieldDct = 0;
    m.fieldPred = 0;
    if (s_.vol.interlaced) {
        // interlaced_information(): dct_type, and field_prediction of 16x16 inter macroblocks.
        if (intra || m.cbp) m.fieldDct = uint8_t(br_.read(1));
        if ((type == 0 || type == 1) && br_.readBit()) {  // field_prediction
            if (s_.vol.quarter_sample) return false;      // quarter-sample field motion: not built
            m.fieldPred = 1;
            m.fieldRef[0] = uint8_t(br_.read(1));  // forward_top_field_reference
            m.fieldRef[1] = uint8_t(br_.read(1));  // forward_bottom_field_reference
        }
    }
    if (intra) {
        std::memset(&s_.mv[n * 4], 0, 4 * sizeof(Mv));
    } else if (!(m.fieldPred ? readFieldVectors(n) : readMotionVectors(n, m.kind))) {
        return false;
    }
    if (br_.error()) return false;
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
            std::memset(&s_.mv[n * 4], 0, 4 * sizeof(Mv));
            ++count;
            continue;
        }
        int v = (pVop ? vlc_.mcbpcP : vlc_.mcbpcI).decode(br_);
        if (v == kVlcInvalid) return false;
        if (v == kMcbpcStuffing) continue;
        int type = v >> 2;
        bool intra = type >= 3;
        m.mbType = uint8_t(type);
        m.kind = intra ? kMbIntra : type == 2 ? kMbInter4v : kMbInter;
        m.cbp = uint8_t(v & 3);
        if (!pVop) {
            if (type == 4) qp = clip(qp + kDquant[br_.read(2)], 1, 31);
            m.qp = uint8_t(qp);
            m.useDcVlc = useIntraDcVlc(qp);
            if (m.useDcVlc)
                for (int i = 0; i < 6; ++i) m.dcDiff[i] = int16_t(readDcDiff(i < 4));
        }
        if (intra) {
            std::memset(&s_.mv[n * 4], 0, 4 * sizeof(Mv));
        } else if (!readMotionVectors(n, m.kind)) {
            return false;
        }
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
        int cbpy = vlc_.cbpy.decode(br_);
        if (cbpy < 0) return false;
        if (!intra) cbpy = 15 - cbpy;
        m.cbp = uint8_t(m.cbp | (cbpy << 2));
        if (m.mbType == 1 || m.mbType == 4) qp = clip(qp + kDquant[br_.read(2)], 1, 31);
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
    conceal(mbIndex, number);
    mbIndex = number;
    qp = quant;
    ++s_.packetId;
    return true;
}

bool VopDecoder::run() {
    int qp = int(s_.vop.vop_quant);
    int mbIndex = 0;
    ++s_.packetId;
    bool resync = !s_.vol.resync_marker_disable;
    bool ok = true;
    while (mbIndex < s_.mbCount) {
        if (resync && mbIndex > 0 && resyncHere()) {
            if (!readPacketHeader(mbIndex, qp)) {
                ok = false;
                break;
            }
        }
        if (s_.vol.data_partitioned) {
            if (!decodePartitionedPacket(mbIndex, qp)) {
                ok = false;
                break;
            }
            if (mbIndex < s_.mbCount && !resyncHere()) {
                ok = false;
                break;
            }
        } else {
            if (!decodeCombinedMb(mbIndex, qp)) {
                ok = false;
                break;
            }
            ++mbIndex;
        }
    }
    if (!ok) conceal(mbIndex < s_.mbCount ? mbIndex : s_.mbCount, s_.mbCount);
    return ok;
}

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
        for (int r = 0; r < h; ++r)
            std::memcpy(d.data + ptrdiff_t(y0 + r) * d.stride + x0, src[p] + r * size, size_t(w));
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
            if (mode != 0 && br_.readBit()) {             // field_prediction
                if (s_.vol.quarter_sample) return false;  // quarter-sample field motion: not built
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
        for (int f = 0; f < 2; ++f) {
            predictFieldBlock(r.plane[0], refs[f], mx * 16, my * 8, 16, 8, mv[f].x, mv[f].y, py + f * 16, 32);
            int cx = chromaMv1(mv[f].x), cy = chromaMv1(mv[f].y);
            predictFieldBlock(r.plane[1], refs[f], mx * 8, my * 4, 8, 4, cx, cy, pu + f * 8, 16);
            predictFieldBlock(r.plane[2], refs[f], mx * 8, my * 4, 8, 4, cx, cy, pv + f * 8, 16);
        }
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
        ++mbIndex;
    }
    if (mbIndex == s_.mbCount) return true;
    conceal(mbIndex, s_.mbCount);
    return false;
}

bool layerSupported(const VideoObjectLayer& vol) {
    return vol.video_object_layer_shape == kShapeRectangular && vol.chroma_format == 1 &&
           !(vol.interlaced && vol.data_partitioned) && vol.obmc_disable && !vol.sprite_enable &&
           vol.bits_per_pixel == 8 && vol.quant_precision == 5 && vol.complexity_estimation_disable &&
           !vol.newpred_enable && !vol.reduced_resolution_vop_enable && !vol.scalability;
}

// Moves to the next byte-aligned start code, skipping user data; false when none follows.
bool nextStartCode(BitReader& br) {
    br.skip(br.bitsToAlign());
    for (;;) {
        while (!br.error() && br.bitsLeft() >= 32 && (br.peek32() >> 8) != 1) br.skip(8);
        if (br.error() || br.bitsLeft() < 32) return false;
        if (br.peek32() != kUserDataStart) return true;
        br.skip(32);
    }
}

void render(const State& s, const Picture& pic, const VdecFrame& frame) {
    ConvertInput in;
    in.y = pic.plane[0].data;
    in.u = pic.plane[1].data;
    in.v = pic.plane[2].data;
    in.lumaStride = pic.plane[0].stride;
    in.chromaStride = pic.plane[1].stride;
    in.width = s.width;
    in.height = s.height;
    convertPicture(in, g_format, g_direction, static_cast<uint8_t*>(frame.output), frame.stride);
}

}  // namespace

uint32_t decoderStateBytes(int32_t width, int32_t height) {
    if (width < 1 || height < 1 || width > kMaxDimension || height > kMaxDimension) return 0;
    Layout l = layoutFor(width, height);
    return l.total <= VDEC_STATE_BYTES ? uint32_t(l.total) : 0;
}

int32_t decoderInit(const VdecParams& p) {
    if (!decoderStateBytes(p.width, p.height)) return VDEC_BAD_ARGUMENT;
    for (int i = 0; i < 4; ++i)
        if (!p.buffer[i]) return VDEC_BAD_ARGUMENT;
    if (!g_initialised) {
        g_timeIncrementResolution = 15;
        g_initialised = true;
    }
    Layout l = layoutFor(p.width, p.height);
    uint8_t* mem = static_cast<uint8_t*>(p.buffer[3]);
    std::memset(mem, 0, l.total);
    State* s = new (mem) State();
    s->width = p.width;
    s->height = p.height;
    s->mbw = (p.width + 15) / 16;
    s->mbh = (p.height + 15) / 16;
    s->mbCount = s->mbw * s->mbh;
    s->mbNumberBits = 1;
    while ((1 << s->mbNumberBits) < s->mbCount) ++s->mbNumberBits;
    s->mb = reinterpret_cast<MbInfo*>(mem + l.mb);
    s->mv = reinterpret_cast<Mv*>(mem + l.mv);
    s->acdc = reinterpret_cast<AcDc*>(mem + l.acdc);
    // Layer settings a clip without a layer header relies on.
    s->vol = VideoObjectLayer();
    s->vol.video_object_layer_width = uint32_t(p.width);
    s->vol.video_object_layer_height = uint32_t(p.height);
    s->vol.quant_precision = 5;
    s->vol.bits_per_pixel = 8;
    s->vol.quant_type = 0;
    s->vol.resync_marker_disable = 0;
    s->vol.vop_time_increment_resolution = g_timeIncrementResolution;
    s->vol.vop_time_increment_bits = timeIncrementBits(g_timeIncrementResolution);
    s->volSupported = true;
    setupPicture(s->pics[0], static_cast<uint8_t*>(p.buffer[0]), p.width, p.height);
    setupPicture(s->pics[1], static_cast<uint8_t*>(p.buffer[1]), p.width, p.height);
    s->picBuffer[0] = static_cast<uint8_t*>(p.buffer[0]);
    s->picBuffer[1] = static_cast<uint8_t*>(p.buffer[1]);
    s->picBytes = size_t(p.width + 2 * kMargin) * (p.height + 2 * kMargin) +
                  2 * size_t((p.width >> 1) + 2 * kMargin) * ((p.height >> 1) + 2 * kMargin);
    {
        // B pictures: buffer 3 without margins (see layoutFor for the second chroma plane).
        int cw = (p.width + 1) / 2, ch = (p.height + 1) / 2;
        uint8_t* y = static_cast<uint8_t*>(p.buffer[2]);
        uint8_t* u = y + size_t(p.width) * p.height;
        uint8_t* v = l.total > l.bpicV ? mem + l.bpicV : u + size_t(cw) * ch;
        s->bpic.plane[0] = {y, p.width, p.width, p.height, 0, 0, p.width, p.height};
        s->bpic.plane[1] = {u, cw, cw, ch, 0, 0, cw, ch};
        s->bpic.plane[2] = {v, cw, cw, ch, 0, 0, cw, ch};
    }
    s->last = 0;
    s->anchors = 0;
    s->pending = -1;
    s->output = nullptr;
    s->havePicture = false;
    g_state = s;
    decoderSetOutput(p.outputFormat);
    return VDEC_OK;
}

void decoderSetOutput(int32_t format) {
    if (format >= 1 && format <= 11) {
        g_format = format;
        g_direction = (format >= 4 && format <= 7) ? -1 : 1;
    } else {
        g_direction = 1;
    }
}

void decoderSetPostproc(int32_t level) {
    g_postproc = level;
}

int32_t decoderDecode(const VdecFrame& frame) {
    State* s = g_state;
    if (!s || !frame.bitstream || frame.length <= 0) return VDEC_FRAME_ERROR;
    if (frame.renderFlag && !frame.output) return VDEC_BAD_ARGUMENT;
    BitReader br(static_cast<const uint8_t*>(frame.bitstream), size_t(frame.length));

    // Video object and layer headers (optional).
    if (br.peek(27) == (kVideoObjectStartMin >> 5)) {
        br.skip(32);
        if (br.peek(28) != (kVolStartMin >> 4)) return VDEC_FRAME_ERROR;
        br.skip(32);
        VideoObjectLayer vol;
        ParseResult r = parseVideoObjectLayer(br, vol);
        if (r == ParseResult::Error) return VDEC_FRAME_ERROR;
        if (r == ParseResult::Unsupported) {
            s->volSupported = false;
            return VDEC_FRAME_ERROR;
        }
        g_timeIncrementResolution = vol.vop_time_increment_resolution;
        s->vol = vol;
        s->tframe = 0;
        s->volSupported = layerSupported(vol) && int(vol.video_object_layer_width) == s->width &&
                          int(vol.video_object_layer_height) == s->height;
        if (!nextStartCode(br)) return VDEC_FRAME_ERROR;
    }
    // Group of VOP (optional).
    if (br.peek32() == kGroupOfVopStart) {
        br.skip(32);
        GroupOfVop gov;
        if (parseGroupOfVop(br, gov) != ParseResult::Ok) return VDEC_FRAME_ERROR;
        if (!nextStartCode(br)) return VDEC_FRAME_ERROR;
        s->govSeconds =
            ((gov.time_code >> 13) & 31) * 3600 + ((gov.time_code >> 7) & 63) * 60 + (gov.time_code & 63);
        s->govPending = true;
    }
    if (br.peek32() != kVopStart) return VDEC_FRAME_ERROR;
    br.skip(32);
    Vop vop;
    if (parseVop(br, s->vol, vop) != ParseResult::Ok) return VDEC_FRAME_ERROR;
    if (!s->volSupported) return VDEC_FRAME_ERROR;
    if (vop.vop_coded && (vop.vop_coding_type > kVopB || vop.vop_quant < 1 || vop.vop_quant > 31 ||
                          vop.vop_fcode_forward < 1 || vop.vop_fcode_backward < 1))
        return VDEC_FRAME_ERROR;
    s->vop = vop;
    const int64_t resolution = s->vol.vop_time_increment_resolution;

    if (vop.vop_coding_type == kVopB) {
        if (s->anchors < 2) return VDEC_FRAME_ERROR;  // no pair of references yet
        int past = 1 - s->last;
        int64_t time =
            int64_t(s->anchorSeconds[past] + vop.modulo_time_base) * resolution + vop.vop_time_increment;
        const Picture* shown = &s->pics[past];  // not coded: the past reference
        if (!s->tframe) s->tframe = time - s->anchorTime[past];
        if (vop.vop_coded) {
            VopDecoder dec(*s, br, s->bpic, s->pics[past], &s->pics[s->last]);
            bool ok = dec.runB(time - s->anchorTime[past], s->anchorTime[s->last] - s->anchorTime[past]);
            if (!ok) return VDEC_FRAME_ERROR;
            shown = &s->bpic;
        }
        s->output = shown;
        s->outputNew = true;
        if (frame.renderFlag) render(*s, *shown, frame);
        ++s->pictureCount;
        return VDEC_OK;
    }

    // An anchor: decoded over the older anchor, which is no longer referenced.
    int curIndex = s->anchors ? 1 - s->last : 1;
    Picture& cur = s->pics[curIndex];
    bool ok = true;
    if (vop.vop_coded) {
        VopDecoder dec(*s, br, cur, s->pics[1 - curIndex]);
        ok = dec.run();
        for (auto& p : cur.plane) extendEdges(p);
    } else {
        // Not coded: a copy of the last anchor, every macroblock skipped.
        if (s->anchors) std::memcpy(s->picBuffer[curIndex], s->picBuffer[s->last], s->picBytes);
        for (int n = 0; n < s->mbCount; ++n) {
            s->mb[n].kind = kMbNotCoded;
            s->mb[n].fieldPred = 0;
            std::memset(&s->mv[n * 4], 0, 4 * sizeof(Mv));
        }
    }
    uint32_t base = (s->govPending ? s->govSeconds
                     : s->anchors  ? s->anchorSeconds[s->last]
                                   : 0) +
                    vop.modulo_time_base;
    s->govPending = false;
    s->anchorSeconds[curIndex] = base;
    s->anchorTime[curIndex] = int64_t(base) * resolution + vop.vop_time_increment;
    s->last = curIndex;
    ++s->anchors;
    s->havePicture = true;

    // Picture order: without B-VOPs (low_delay) the anchor is output at once.
    const Picture* shown = &cur;
    bool isNew = true;
    if (s->vol.vol_control_parameters && !s->vol.low_delay) {
        if (s->pending < 0) {
            s->pendingShown = true;
        } else {
            shown = &s->pics[s->pending];
            isNew = !s->pendingShown;
            s->pendingShown = false;
        }
        s->pending = curIndex;
    } else {
        s->pending = -1;
    }
    s->output = shown;
    s->outputNew = isNew;
    if (!ok) return VDEC_FRAME_ERROR;
    if (frame.renderFlag) render(*s, *shown, frame);
    ++s->pictureCount;
    return VDEC_OK;
}

namespace {

void view(const Picture& p, PlaneView planes[3]) {
    for (int i = 0; i < 3; ++i)
        planes[i] = {p.plane[i].data, p.plane[i].stride, p.plane[i].width, p.plane[i].height};
}

}  // namespace

bool decoderOutputPicture(PlaneView planes[3], bool* isNew) {
    if (!g_state || !g_state->output) return false;
    view(*g_state->output, planes);
    if (isNew) *isNew = g_state->outputNew;
    return true;
}

bool decoderPendingPicture(PlaneView planes[3]) {
    if (!g_state || g_state->pending < 0 || g_state->pendingShown) return false;
    view(g_state->pics[g_state->pending], planes);
    return true;
}

}  // namespace vdec
