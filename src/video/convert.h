// Conversion of a decoded 4:2:0 picture into the caller's output format.
#pragma once

#include <cstdint>

namespace vdec {

struct ConvertInput {
    const uint8_t* y;
    const uint8_t* u;
    const uint8_t* v;
    int lumaStride;
    int chromaStride;
    int width;
    int height;
};

// format: the output format code (1..11); direction: -1 bottom row first, +1 top row first. stride is the
// output row pitch for the formats that read it (0: rows packed).
//   4/8: BGR0, 32 bits, rows of width x 4 bytes, groups of 8 pixels (a row's last width mod 8 pixels are
//        left untouched; pictures narrower than 8 are converted whole)
//   5/9: BGR, 24 bits; 6/10: RGB565; 7/11: RGB555 (16 bits, little-endian)
//   1: YUY2, 2: UYVY (4:2:2 packed); 3: planar 4:2:0 (Y, then U, then V, rows packed)
void convertPicture(const ConvertInput& in, int format, int direction, uint8_t* out, uint32_t stride);

}  // namespace vdec
