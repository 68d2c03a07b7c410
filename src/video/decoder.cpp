// The decoder's record-level flow: layer, group and VOP headers, the reference pictures and their edge
// extension, picture order with B-VOPs, and the hand-over to the output conversion.
#include "video/decoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "video/convert.h"
#include "video/decoder_state.h"
#include "video/postproc.h"

namespace vdec {

namespace {

// Process-wide state: the decoder's own memory lives in the caller's buffers.
State* g_state = nullptr;
int g_format = 4;
int g_direction = -1;
int g_postproc = 0;
bool g_initialised = false;
uint32_t g_timeIncrementResolution = 15;

constexpr uint32_t kShortVideoStartMarker = 0x20;  // 22 bits: 0000 0000 0000 0000 1000 00

size_t align16(size_t v) {
    return (v + 15) & ~size_t(15);
}

struct Layout {
    size_t state, mb, mv, acdc, qp, bpicV, total;
    int chromaInBuffer3;  // B picture chroma planes that fit after the luma in buffer 3: 2, 1 or 0
};

Layout layoutFor(int w, int h) {
    Layout l;
    size_t mbw = size_t((w + 15) / 16), mbh = size_t((h + 15) / 16);
    l.state = 0;
    l.mb = align16(sizeof(State));
    l.mv = l.mb + align16(mbw * mbh * sizeof(MbInfo));
    l.acdc = l.mv + align16(mbw * mbh * 4 * sizeof(Mv));
    l.qp = l.acdc + align16(2 * mbw * sizeof(AcDc));
    l.bpicV = l.qp + align16(3 * mbw * mbh);
    // B pictures live in buffer 3; for odd sizes its chroma room (w h / 4 per plane) is short of the
    // rounded-up planes, and the chroma planes that do not fit (the second one, or for the smallest
    // pictures both) go here instead.
    size_t cw = size_t((w + 1) / 2), ch = size_t((h + 1) / 2);
    size_t luma = size_t(w) * h, room = luma + 2 * (luma >> 2);
    l.chromaInBuffer3 = luma + 2 * cw * ch <= room ? 2 : luma + cw * ch <= room ? 1 : 0;
    l.total = l.bpicV + size_t(2 - l.chromaInBuffer3) * align16(cw * ch);
    return l;
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

// Interlaced layers with data partitioning are refused: the partitioned I- and P-VOP syntax (6.2.6.2)
// has no place for dct_type or the field motion of interlaced_information().
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

// The quantisers of an anchor just decoded, kept for post-processing it when it is output.
void keepQuantisers(State* s, int index) {
    for (int n = 0; n < s->mbCount; ++n) s->qpMap[index][n] = s->mb[n].qp;
}

// The picture shown for pic: itself, or with post-processing on, its filtered copy in buffer 3 (a B-VOP
// decoded there is filtered in place; it is no reference).
const Picture* displayed(State* s, const Picture* pic) {
    int set = postprocSet(g_postproc);
    if (!set) return pic;
    int index = pic == &s->pics[0] ? 0 : pic == &s->pics[1] ? 1 : 2;
    postprocess(*pic, s->bpic, s->qpMap[index], s->mbw, set);
    return &s->bpic;
}

// A picture with short header: the picture header after short_video_start_marker, then its GOBs. The
// layer settings MPEG-4 records use are kept; the picture is decoded with the fixed ones and output at
// once (no B pictures).
int32_t decodeShortHeader(State* s, BitReader& br, const VdecFrame& frame) {
    // source_format: width, height, GOBs and macroblocks per GOB.
    static const int kFormats[6][4] = {
        {0, 0, 0, 0},       {128, 96, 6, 8},    {176, 144, 9, 11},
        {352, 288, 18, 22}, {704, 576, 18, 88}, {1408, 1152, 18, 352},
    };
    br.skip(22);
    br.skip(8);                                  // temporal_reference
    if (!br.readBit()) return VDEC_FRAME_ERROR;  // marker_bit
    if (br.readBit()) return VDEC_FRAME_ERROR;   // zero_bit
    br.skip(3);                                  // split screen, document camera, freeze release
    int format = int(br.read(3));
    if (format < 1 || format > 5) return VDEC_FRAME_ERROR;  // reserved, or the extended picture type
    if (kFormats[format][0] != s->width || kFormats[format][1] != s->height) return VDEC_FRAME_ERROR;
    int type = int(br.read(1));
    if (br.read(4)) return VDEC_FRAME_ERROR;  // optional modes (unrestricted vectors, SAC, AP, PB)
    int quant = int(br.read(5));
    if (quant == 0 || br.readBit()) return VDEC_FRAME_ERROR;  // continuous presence multipoint
    while (br.readBit()) br.skip(8);                          // pei, psupp
    if (br.error()) return VDEC_FRAME_ERROR;

    Vop vop;
    vop.vop_coding_type = type ? kVopP : kVopI;
    vop.vop_quant = uint32_t(quant);
    const VideoObjectLayer layer = s->vol;
    s->vol = VideoObjectLayer();
    s->vol.video_object_layer_width = uint32_t(s->width);
    s->vol.video_object_layer_height = uint32_t(s->height);
    s->vop = vop;

    int curIndex = s->anchors ? 1 - s->last : 1;
    Picture& cur = s->pics[curIndex];
    bool ok;
    {
        VopDecoder dec(*s, br, cur, s->pics[1 - curIndex]);
        ok = dec.runShortHeader(kFormats[format][2], kFormats[format][3]);
    }
    for (auto& p : cur.plane) extendEdges(p);
    keepQuantisers(s, curIndex);
    s->vol = layer;
    if (s->anchors) {
        s->anchorSeconds[curIndex] = s->anchorSeconds[s->last];
        s->anchorTime[curIndex] = s->anchorTime[s->last];
    }
    s->last = curIndex;
    ++s->anchors;
    s->havePicture = true;
    s->pending = -1;
    s->output = &cur;
    s->outputNew = true;
    if (!ok) return VDEC_FRAME_ERROR;
    s->output = displayed(s, &cur);
    if (frame.renderFlag) render(*s, *s->output, frame);
    ++s->pictureCount;
    return VDEC_OK;
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
    for (int i = 0; i < 3; ++i) s->qpMap[i] = mem + l.qp + size_t(i) * s->mbCount;
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
        uint8_t* extra = mem + l.bpicV;
        uint8_t* u = l.chromaInBuffer3 >= 1 ? y + size_t(p.width) * p.height : extra;
        uint8_t* v = l.chromaInBuffer3 == 2   ? u + size_t(cw) * ch
                     : l.chromaInBuffer3 == 1 ? extra
                                              : extra + align16(size_t(cw) * ch);
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

void decoderRelease() {
    // The buffers belong to the caller, who may free them now.
    g_state = nullptr;
}

void decoderSetPostproc(int32_t level) {
    g_postproc = level;
}

int32_t decoderDecode(const VdecFrame& frame) {
    State* s = g_state;
    if (!s || !frame.bitstream || frame.length <= 0) return VDEC_FRAME_ERROR;
    if (frame.renderFlag && !frame.output) return VDEC_BAD_ARGUMENT;
    BitReader br(static_cast<const uint8_t*>(frame.bitstream), size_t(frame.length));
    if (br.peek(22) == kShortVideoStartMarker) return decodeShortHeader(s, br, frame);

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
        s->output = displayed(s, shown);
        s->outputNew = true;
        if (frame.renderFlag) render(*s, *s->output, frame);
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
        keepQuantisers(s, curIndex);
    } else {
        // Not coded: a copy of the last anchor, every macroblock skipped.
        if (s->anchors) {
            std::memcpy(s->picBuffer[curIndex], s->picBuffer[s->last], s->picBytes);
            std::memcpy(s->qpMap[curIndex], s->qpMap[s->last], size_t(s->mbCount));
        }
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
    s->outputNew = isNew;
    if (!ok) {
        s->output = shown;
        return VDEC_FRAME_ERROR;
    }
    s->output = displayed(s, shown);
    if (frame.renderFlag) render(*s, *s->output, frame);
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
    view(*displayed(g_state, &g_state->pics[g_state->pending]), planes);
    return true;
}

}  // namespace vdec
