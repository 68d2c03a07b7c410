// Entry point of the video decoder: argument checks and dispatch to the process-wide decoder.
#include "video/vdec.h"

#include "video/decoder.h"

namespace {

// Buffer sizes for a w by h picture (halving by arithmetic shift, as the callers compute them).
void memorySizes(int32_t w, int32_t h, VdecSizes* s) {
    int64_t ref = int64_t(w + 64) * (h + 64) + 2 * int64_t((w >> 1) + 64) * ((h >> 1) + 64);
    int64_t disp = int64_t(w) * h + 2 * ((int64_t(w) * h) >> 2);
    s->size1 = s->size2 = uint32_t(ref);
    s->size3 = uint32_t(disp);
    s->size4 = VDEC_STATE_BYTES;
    s->size5 = VDEC_TABLE_BYTES;
    s->size6 = VDEC_BITREADER_BYTES;
}

}  // namespace

int32_t vdec_call(uint32_t handle, uint32_t opcode, void* param1, void* param2) {
    if (handle == 0) return VDEC_BAD_ARGUMENT;
    switch (opcode) {
        case VDEC_MEMORY_SIZES: {
            auto* p = static_cast<const VdecParams*>(param1);
            auto* s = static_cast<VdecSizes*>(param2);
            if (!p || !s || p->width < 1 || p->height < 1 || p->width > 8191 || p->height > 8191)
                return VDEC_BAD_ARGUMENT;
            memorySizes(p->width, p->height, s);
            return VDEC_OK;
        }
        case VDEC_INIT:
            if (!param1) return VDEC_BAD_ARGUMENT;
            return vdec::decoderInit(*static_cast<const VdecParams*>(param1));
        case VDEC_RELEASE:
            vdec::decoderRelease();
            return VDEC_OK;
        case VDEC_SET_POSTPROC: {
            auto* pp = static_cast<const VdecPostproc*>(param1);
            if (!pp || pp->level < 0 || pp->level > 100) return VDEC_BAD_ARGUMENT;
            vdec::decoderSetPostproc(pp->level);
            return VDEC_OK;
        }
        case VDEC_SET_OUTPUT:
            if (!param1) return VDEC_BAD_ARGUMENT;
            vdec::decoderSetOutput(static_cast<const VdecParams*>(param1)->outputFormat);
            return VDEC_OK;
        default:
            if (!param1) return VDEC_BAD_ARGUMENT;
            return vdec::decoderDecode(*static_cast<const VdecFrame*>(param1));
    }
}
