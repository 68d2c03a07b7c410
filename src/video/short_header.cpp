// Pictures with short header: the H.263 baseline GOB and macroblock layers carried in MPEG-4 Visual.
// Fixed settings: H.263 quantisation, no AC/DC prediction, an 8-bit intra DC, one vector per macroblock
// with f_code 1, rounding type 0.
#include <cstring>

#include "video/decoder_state.h"
#include "video/scan_tables.h"

namespace vdec {

// Intra block: the 8-bit DC (255 stands for 128; 0 and 128 are not used), then the AC coefficients with
// the inter table and H.263 inverse quantisation.
bool VopDecoder::shortIntraBlock(int qp, bool coded, uint8_t* dst, int stride) {
    int dc = int(br_.read(8));
    if (dc == 0 || dc == 128) return false;
    int16_t* blk = block_;
    clearBlock(blk);
    bool acNonZero = false;
    if (coded) {
        int last = 0;
        if (!readBlock<false, kDequantH263>(blk, false, 1, kZigzag, qp, last, acNonZero)) return false;
    }
    blk[0] = int16_t(dc == 255 ? 1024 : dc * 8);
    if (!acNonZero) {
        int v = k_.idctDc(blk[0]);
        int16_t flat[64];
        for (int k = 0; k < 64; ++k) flat[k] = int16_t(v);
        k_.putBlock(dst, stride, flat);
    } else {
        k_.idct(blk);
        k_.putBlock(dst, stride, blk);
    }
    return !br_.error();
}

bool VopDecoder::decodeShortMb(int n, int& qp) {
    MbInfo& m = s_.mb[n];
    m.fieldDct = 0;
    m.acPred = 0;
    m.useDcVlc = 0;
    int v = 0;
    const MbHeader header = readCodAndMcbpc(n, qp, v);
    if (header != kMbHeaderCoded) return header == kMbHeaderSkipped && !br_.error();
    int type = v >> 2;
    if (type == 2) return false;  // four vectors belong to an optional mode
    bool intra = type >= 3;
    m.mbType = uint8_t(type);
    int cbpy = readCbpyAndDquant(m, intra, qp);
    if (cbpy < 0) return false;
    m.qp = uint8_t(qp);
    m.cbp = uint8_t((cbpy << 2) | (v & 3));
    m.kind = intra ? kMbIntra : kMbInter;
    if (!readMbVectors(n, m) || br_.error()) return false;
    int mx = n % s_.mbw, my = n / s_.mbw;
    if (!intra) motionCompensate(n, mx, my);
    for (int i = 0; i < 6; ++i) {
        const Plane& p = cur_.plane[i < 4 ? 0 : i - 3];
        int x = i < 4 ? mx * 16 + (i & 1) * 8 : mx * 8;
        int y = i < 4 ? my * 16 + (i >> 1) * 8 : my * 8;
        uint8_t* dst = p.data + ptrdiff_t(y) * p.stride + x;
        bool coded = (m.cbp >> (5 - i)) & 1;
        if (intra) {
            if (!shortIntraBlock(qp, coded, dst, p.stride)) return false;
        } else if (coded && !interBlock(qp, dst, p.stride)) {
            return false;
        }
    }
    return !br_.error();
}

// GOB layer: the first group follows the picture header; each later one may start with a GOB header
// (after zero stuffing to a byte boundary), which sets the quantiser and, for the motion vector
// predictors, starts a new slice of the picture as a video packet does. Groups a header skips are
// concealed from the reference.
bool VopDecoder::runShortHeader(int gobs, int mbsPerGob) {
    shortHeader_ = true;
    int qp = int(s_.vop.vop_quant);
    int mbIndex = 0;
    ++s_.packetId;
    for (int g = 0; g < gobs; ++g) {
        if (g > 0) {
            if (br_.peek(17) != 1) {
                int n = br_.bitsToAlign();
                if (n && br_.peek(n) == 0 && br_.peek(n + 17) == 1) br_.skip(n);
            }
            if (br_.peek(17) == 1) {
                br_.skip(17);
                int number = int(br_.read(5));
                br_.skip(2);  // gob_frame_id
                int quant = int(br_.read(5));
                if (br_.error() || number < g || number >= gobs || quant == 0) return concealRest(mbIndex);
                startPacket(mbIndex, number * mbsPerGob, qp, quant);
                g = number;
            }
        }
        for (int k = 0; k < mbsPerGob; ++k, ++mbIndex)
            if (!decodeShortMb(mbIndex, qp)) return concealRest(mbIndex);
    }
    return true;
}

}  // namespace vdec
