// The process-wide decoder behind vdec_call.
#pragma once

#include <cstdint>

#include "video/vdec.h"

namespace vdec {

int32_t decoderInit(const VdecParams& params);
void decoderSetOutput(int32_t format);
void decoderSetPostproc(int32_t level);
int32_t decoderDecode(const VdecFrame& frame);
// Forgets the caller's buffers: later decodes are refused until the next initialisation.
void decoderRelease();

// Bytes of buffer 4 the decoder needs for a picture size (0 when the size is not supported).
uint32_t decoderStateBytes(int32_t width, int32_t height);

// Read access to the last decoded picture's planes, for tools and tests that compare planes directly.
struct PlaneView {
    const uint8_t* data;
    int stride;
    int width;
    int height;
};
// The picture the last successful VDEC_DECODE output, in display order. *isNew is false when that call
// showed a picture again: in a layer with B-VOPs (low_delay 0) an I- or P-VOP is output when the next one
// arrives, so the first one is output at once and again at the second. Returns false before any picture.
bool decoderOutputPicture(PlaneView planes[3], bool* isNew);
// The last I- or P-VOP of a layer with B-VOPs while it has not been output yet (the end of a stream).
bool decoderPendingPicture(PlaneView planes[3]);

}  // namespace vdec
