// The process-wide decoder behind vdec_call.
#pragma once

#include <cstdint>

#include "video/vdec.h"

namespace vdec {

int32_t decoderInit(const VdecParams& params);
void decoderSetOutput(int32_t format);
void decoderSetPostproc(int32_t level);
int32_t decoderDecode(const VdecFrame& frame);

// Bytes of buffer 4 the decoder needs for a picture size (0 when the size is not supported).
uint32_t decoderStateBytes(int32_t width, int32_t height);

// Read access to the last decoded picture's planes, for tools and tests that compare planes directly.
struct PlaneView {
    const uint8_t* data;
    int stride;
    int width;
    int height;
};
// Returns false when no picture has been decoded since VDEC_INIT.
bool decoderLastPicture(PlaneView planes[3]);

}  // namespace vdec
