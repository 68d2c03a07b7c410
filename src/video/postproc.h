// Post-processing of decoded pictures for display: deblocking and deringing driven by the quantiser of
// each macroblock. The reference pictures are never filtered; the result goes to a separate picture.
#pragma once

#include <cstdint>

#include "video/decoder_state.h"

namespace vdec {

// The filter set of a post-processing level: 0 (off) for level 0, then 1 to 6 for the level ranges 1-9,
// 10-19, 20-29, 30-39, 40-49 and 50-100.
int postprocSet(int level);

// Filters src into dst with filter set 1..6 (vdec.h describes each set). qp holds the
// quantiser of every macroblock (mbw per row). dst must have src's visible size; it may be src itself.
void postprocess(const Picture& src, Picture& dst, const uint8_t* qp, int mbw, int set);

}  // namespace vdec
