// Scans (Figure 7-4), default quantisation matrices (Tables 7-3, 7-4) and the DC scaler (Table 7-2).
#pragma once

#include <cstdint>

namespace vdec {

// Raster index (v * 8 + u) of scan position n.
extern const uint8_t kZigzag[64];
extern const uint8_t kAlternateHorizontal[64];
extern const uint8_t kAlternateVertical[64];

// Default matrices in raster order.
extern const uint8_t kDefaultIntraMatrix[64];
extern const uint8_t kDefaultNonIntraMatrix[64];

// dc_scaler for quantiser_scale 1..31 (index 0 unused): luminance and chrominance.
extern const uint8_t kDcScalerLum[32];
extern const uint8_t kDcScalerChrom[32];

}  // namespace vdec
