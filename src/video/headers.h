// Headers of the video object layer, group of VOP and VOP, with the standard's syntax-element names
// (ISO/IEC 14496-2, 6.2.3 to 6.2.5), and their parsers.
#pragma once

#include <cstdint>

#include "video/bitreader.h"

namespace vdec {

// Start codes (Table 6-3), as 32-bit big-endian values.
constexpr uint32_t kVideoObjectStartMin = 0x100, kVideoObjectStartMax = 0x11F;
constexpr uint32_t kVolStartMin = 0x120, kVolStartMax = 0x12F;
constexpr uint32_t kVisualObjectSequenceStart = 0x1B0;
constexpr uint32_t kVisualObjectSequenceEnd = 0x1B1;
constexpr uint32_t kUserDataStart = 0x1B2;
constexpr uint32_t kGroupOfVopStart = 0x1B3;
constexpr uint32_t kVisualObjectStart = 0x1B5;
constexpr uint32_t kVopStart = 0x1B6;

enum class ParseResult { Ok, Error, Unsupported };

enum VopCodingType { kVopI = 0, kVopP = 1, kVopB = 2, kVopS = 3 };

// video_object_layer_shape
enum { kShapeRectangular = 0, kShapeBinary = 1, kShapeBinaryOnly = 2, kShapeGrayscale = 3 };

struct VideoObjectLayer {
    uint8_t random_accessible_vol = 0;
    uint8_t video_object_type_indication = 0;
    uint8_t is_object_layer_identifier = 0;
    uint8_t video_object_layer_verid = 1;
    uint8_t video_object_layer_priority = 0;
    uint8_t aspect_ratio_info = 0;
    uint8_t par_width = 0, par_height = 0;
    uint8_t vol_control_parameters = 0;
    uint8_t chroma_format = 1;
    uint8_t low_delay = 0;
    uint8_t vbv_parameters = 0;
    uint8_t video_object_layer_shape = kShapeRectangular;
    uint32_t vop_time_increment_resolution = 15;
    uint8_t fixed_vop_rate = 0;
    uint32_t fixed_vop_time_increment = 0;
    uint32_t video_object_layer_width = 0;
    uint32_t video_object_layer_height = 0;
    uint8_t interlaced = 0;
    uint8_t obmc_disable = 1;
    uint8_t sprite_enable = 0;
    uint8_t not_8_bit = 0;
    uint8_t quant_precision = 5;
    uint8_t bits_per_pixel = 8;
    uint8_t quant_type = 0;
    uint8_t load_intra_quant_mat = 0;
    uint8_t load_nonintra_quant_mat = 0;
    uint8_t intra_quant_mat[64] = {};     // raster order (v * 8 + u)
    uint8_t nonintra_quant_mat[64] = {};  // raster order
    uint8_t quarter_sample = 0;
    uint8_t complexity_estimation_disable = 1;
    uint8_t resync_marker_disable = 1;
    uint8_t data_partitioned = 0;
    uint8_t reversible_vlc = 0;
    uint8_t newpred_enable = 0;
    uint8_t reduced_resolution_vop_enable = 0;
    uint8_t scalability = 0;

    int vop_time_increment_bits = 4;  // bits of vop_time_increment: enough for resolution - 1, at least 1
};

struct GroupOfVop {
    uint32_t time_code = 0;
    uint8_t closed_gov = 0;
    uint8_t broken_link = 0;
};

struct Vop {
    uint8_t vop_coding_type = kVopI;
    uint32_t modulo_time_base = 0;  // count of 1 bits
    uint32_t vop_time_increment = 0;
    uint8_t vop_coded = 1;
    uint8_t vop_rounding_type = 0;
    uint8_t intra_dc_vlc_thr = 0;
    uint8_t top_field_first = 0;
    uint8_t alternate_vertical_scan_flag = 0;
    uint32_t vop_quant = 1;
    uint8_t vop_fcode_forward = 1;
    uint8_t vop_fcode_backward = 1;
};

// Parses the video object layer header after its start code. Returns Unsupported for layers that ask for
// tools this decoder does not build (shape, sprites, scalability, more than 8 bits, ...).
ParseResult parseVideoObjectLayer(BitReader& br, VideoObjectLayer& vol);

// Parses the group-of-VOP header after its start code.
ParseResult parseGroupOfVop(BitReader& br, GroupOfVop& gov);

// Parses the VOP header after its start code, up to the first macroblock.
ParseResult parseVop(BitReader& br, const VideoObjectLayer& vol, Vop& vop);

// Bits of vop_time_increment for a resolution.
int timeIncrementBits(uint32_t resolution);

}  // namespace vdec
