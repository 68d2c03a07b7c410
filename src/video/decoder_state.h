// Internal state of the video decoder and the VOP decoder's interface, shared by its stages: macroblock
// syntax and reconstruction (macroblock.cpp), motion compensation (motion.cpp), B-VOPs (bvop.cpp) and
// the record-level flow (decoder.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "video/bitreader.h"
#include "video/headers.h"
#include "video/kernels.h"
#include "video/scan_tables.h"
#include "video/vlc.h"

namespace vdec {

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
    // Quantiser of every macroblock of pics[0], pics[1] and bpic, for the post-processing filters.
    uint8_t* qpMap[3];
};

// Zeroes a 16-byte aligned block of 64 coefficients (inline: the library call costs more than the stores).
inline void clearBlock(int16_t* b) {
#if defined(__SSE2__)
    const __m128i z = _mm_setzero_si128();
    for (int k = 0; k < 64; k += 8) _mm_store_si128(reinterpret_cast<__m128i*>(b + k), z);
#else
    std::memset(b, 0, 64 * sizeof *b);
#endif
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

// LMAX and RMAX (Tables B-19 to B-22): the largest level per run and the largest run per level of the
// coefficient tables.
struct EscapeTables {
    uint8_t lmax[2][2][64];    // [intra][last][run]
    uint8_t rmax[2][2][2048];  // [intra][last][level]; 0 beyond the table's levels
    EscapeTables();
};
const EscapeTables& escapeTables();

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
    // A picture with short header (H.263 baseline): its GOB layer after the picture header.
    bool runShortHeader(int gobs, int mbsPerGob);

private:
    // The start of macroblock n in both macroblock layers: its packet, no field prediction yet, then
    // not_coded/COD and mcbpc (stuffing skipped): kMbHeaderSkipped after
    // copying a not-coded macroblock, kMbHeaderCoded with the mcbpc value in v, kMbHeaderError on a bad or
    // short code.
    enum MbHeader { kMbHeaderError, kMbHeaderSkipped, kMbHeaderCoded };
    MbHeader readCodAndMcbpc(int n, int qp, int& v);
    // cbpy (inverted for inter macroblocks) and, for the types that carry it (1 and 4), dquant into qp,
    // read alike by every macroblock layer; -1 on a bad code.
    int readCbpyAndDquant(const MbInfo& m, bool intra, int& qp);
    void readDquant(int& qp);
    // The vectors of a coded macroblock: zero for intra ones (their neighbours predict from them), else
    // one, four or two field vectors by m.kind and m.fieldPred.
    bool readMbVectors(int n, const MbInfo& m);
    void zeroVectors(int n) { std::memset(&s_.mv[n * 4], 0, 4 * sizeof(Mv)); }
    bool decodeCombinedMb(int n, int& qp);
    bool decodeShortMb(int n, int& qp);
    bool shortIntraBlock(int qp, bool coded, uint8_t* dst, int stride);
    bool decodePartitionedPacket(int& mbIndex, int& qp);
    bool readMotionVectors(int n, int kind);
    bool reconstruct(int n, bool partitioned);
    bool intraBlock(int n, int mx, int my, int i, bool partitioned, uint8_t* dst, int stride);
    bool interBlock(int qp, uint8_t* dst, int stride);
    enum { kDequantNone, kDequantH263, kDequantMpegInter };
    template <bool Reversible, int Dequantise>
    bool readBlock(int16_t* blk, bool intra, int start, const uint8_t* scan, int qp, int& last,
                   bool& acNonZero);
    template <bool Reversible>
    bool readEscape(const Vlc& vlc, bool intra, uint64_t& at, int& lst, int& run, int& level);
    int readDcDiff(bool luma);
    void motionCompensate(int n, int mx, int my);
    void predictFieldBlock(const Plane& ref, int field, int px, int py, int w, int h, int mvx, int mvy,
                           uint8_t* out, int stride, bool quarter);
    void fieldChromaMv(int x, int y, int& cx, int& cy) const;
    void predictFields(const Picture& r, int mx, int my, const int16_t (*mv)[2], const uint8_t* refs,
                       uint8_t* y, int ys, uint8_t* u, uint8_t* v, int cs);
    bool readFieldVectors(int n);
    void predictMb(const Picture& r, int mx, int my, const Mv* mv, bool four, uint8_t* y, int ys, uint8_t* u,
                   uint8_t* v, int cs);
    void predictBlock(const Plane& ref, int px, int py, int w, int h, int mvx, int mvy, uint8_t* out,
                      int stride, bool quarter);
    // An n by n luma block at the layer's accuracy.
    void predictLuma(const Plane& ref, int px, int py, int n, int mvx, int mvy, uint8_t* out, int stride) {
        predictBlock(ref, px, py, n, n, mvx, mvy, out, stride, s_.vol.quarter_sample != 0);
    }
    // A block at half-sample accuracy (chroma, and luma of half-sample layers).
    void predictPlane(const Plane& ref, int px, int py, int w, int h, int mvx, int mvy, uint8_t* out,
                      int stride) {
        predictBlock(ref, px, py, w, h, mvx, mvy, out, stride, false);
    }
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
    void copyMb(int n);                            // not coded: prediction from the same position
    Mv mvPredict(int n, int mx, int my, int blk);  // both components
    bool resyncHere();
    bool readPacketHeader(int& mbIndex, int& qp);
    // A video packet or GOB that starts at macroblock number with quantiser quant: the macroblocks its
    // header skipped are concealed.
    void startPacket(int& mbIndex, int number, int& qp, int quant);
    void conceal(int from, int to);
    // A picture that fails at mbIndex: the rest is concealed; returns false.
    bool concealRest(int mbIndex);
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
    const uint8_t* scan_;                  // scan of blocks without AC prediction
    const uint8_t* mpegMatrix_ = nullptr;  // inter blocks with MPEG quantisation: matrix and coefficient sum
    int mpegSum_ = 0;
    alignas(16) int16_t block_[64];
    const EscapeTables& escape_ = escapeTables();
    bool shortHeader_ = false;  // coefficient escapes are H.263's fixed-length ones
};

}  // namespace vdec
