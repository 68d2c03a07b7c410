#include "video/headers.h"

#include <initializer_list>

#include "video/scan_tables.h"

namespace vdec {

namespace {

bool marker(BitReader& br) {
    return br.readBit();
}

// A field the decoder has no use for, and the marker bit after it.
void skipMarked(BitReader& br, int bits) {
    br.skip(bits);
    marker(br);
}

// The end of a header: one that ran past the data is an error; otherwise its fields are taken.
template <typename Header>
ParseResult finish(BitReader& br, const Header& parsed, Header& out) {
    if (br.error()) return ParseResult::Error;
    out = parsed;
    return ParseResult::Ok;
}

// intra_quant_mat / nonintra_quant_mat (6.3.3): up to 64 values in zigzag order; a 0 ends the list and
// the last value repeats.
void readQuantMatrix(BitReader& br, uint8_t* m) {
    uint8_t last = 0;
    int i = 0;
    for (; i < 64; ++i) {
        uint8_t v = uint8_t(br.read(8));
        if (v == 0) break;
        last = v;
        m[kZigzag[i]] = v;
    }
    for (; i < 64; ++i) m[kZigzag[i]] = last;
}

}  // namespace

int timeIncrementBits(uint32_t resolution) {
    int bits = 1;
    while (bits < 16 && (1u << bits) < resolution) ++bits;
    return bits;
}

// 6.2.3 video_object_layer()
ParseResult parseVideoObjectLayer(BitReader& br, VideoObjectLayer& vol) {
    VideoObjectLayer v;
    v.random_accessible_vol = uint8_t(br.read(1));
    v.video_object_type_indication = uint8_t(br.read(8));
    v.is_object_layer_identifier = uint8_t(br.read(1));
    if (v.is_object_layer_identifier) {
        v.video_object_layer_verid = uint8_t(br.read(4));
        v.video_object_layer_priority = uint8_t(br.read(3));
    }
    v.aspect_ratio_info = uint8_t(br.read(4));
    if (v.aspect_ratio_info == 0xF) {
        v.par_width = uint8_t(br.read(8));
        v.par_height = uint8_t(br.read(8));
    }
    v.vol_control_parameters = uint8_t(br.read(1));
    if (v.vol_control_parameters) {
        v.chroma_format = uint8_t(br.read(2));
        v.low_delay = uint8_t(br.read(1));
        v.vbv_parameters = uint8_t(br.read(1));
        if (v.vbv_parameters) {
            // first_half_bit_rate, latter_half_bit_rate, first_half_vbv_buffer_size
            for (int bits : {15, 15, 15}) skipMarked(br, bits);
            br.skip(3);  // latter_half_vbv_buffer_size
            // first_half_vbv_occupancy, latter_half_vbv_occupancy
            for (int bits : {11, 15}) skipMarked(br, bits);
        }
    }
    v.video_object_layer_shape = uint8_t(br.read(2));
    if (v.video_object_layer_shape != kShapeRectangular) return (vol = v, ParseResult::Unsupported);
    marker(br);
    v.vop_time_increment_resolution = br.read(16);
    if (v.vop_time_increment_resolution == 0) return ParseResult::Error;
    marker(br);
    v.vop_time_increment_bits = timeIncrementBits(v.vop_time_increment_resolution);
    v.fixed_vop_rate = uint8_t(br.read(1));
    if (v.fixed_vop_rate) v.fixed_vop_time_increment = br.read(v.vop_time_increment_bits);
    marker(br);
    v.video_object_layer_width = br.read(13);
    marker(br);
    v.video_object_layer_height = br.read(13);
    marker(br);
    v.interlaced = uint8_t(br.read(1));
    v.obmc_disable = uint8_t(br.read(1));
    v.sprite_enable = uint8_t(br.read(v.video_object_layer_verid == 1 ? 1 : 2));
    if (v.sprite_enable) return (vol = v, ParseResult::Unsupported);
    v.not_8_bit = uint8_t(br.read(1));
    if (v.not_8_bit) {
        v.quant_precision = uint8_t(br.read(4));
        v.bits_per_pixel = uint8_t(br.read(4));
    }
    v.quant_type = uint8_t(br.read(1));
    if (v.quant_type) {
        for (int i = 0; i < 64; ++i) {
            v.intra_quant_mat[i] = kDefaultIntraMatrix[i];
            v.nonintra_quant_mat[i] = kDefaultNonIntraMatrix[i];
        }
        v.load_intra_quant_mat = uint8_t(br.read(1));
        if (v.load_intra_quant_mat) readQuantMatrix(br, v.intra_quant_mat);
        v.load_nonintra_quant_mat = uint8_t(br.read(1));
        if (v.load_nonintra_quant_mat) readQuantMatrix(br, v.nonintra_quant_mat);
    }
    if (v.video_object_layer_verid != 1) v.quarter_sample = uint8_t(br.read(1));
    v.complexity_estimation_disable = uint8_t(br.read(1));
    if (!v.complexity_estimation_disable) return (vol = v, ParseResult::Unsupported);
    v.resync_marker_disable = uint8_t(br.read(1));
    v.data_partitioned = uint8_t(br.read(1));
    if (v.data_partitioned) v.reversible_vlc = uint8_t(br.read(1));
    if (v.video_object_layer_verid != 1) {
        v.newpred_enable = uint8_t(br.read(1));
        if (v.newpred_enable) return (vol = v, ParseResult::Unsupported);
        v.reduced_resolution_vop_enable = uint8_t(br.read(1));
    }
    v.scalability = uint8_t(br.read(1));
    if (v.scalability) return (vol = v, ParseResult::Unsupported);
    return finish(br, v, vol);
}

// 6.2.4 group_of_vop()
ParseResult parseGroupOfVop(BitReader& br, GroupOfVop& gov) {
    gov.time_code = br.read(18);
    gov.closed_gov = uint8_t(br.read(1));
    gov.broken_link = uint8_t(br.read(1));
    return br.error() ? ParseResult::Error : ParseResult::Ok;
}

// 6.2.5 video_object_plane(), rectangular shape only
ParseResult parseVop(BitReader& br, const VideoObjectLayer& vol, Vop& vop) {
    Vop v;
    v.vop_coding_type = uint8_t(br.read(2));
    uint32_t mtb = 0;
    while (br.readBit()) {
        if (br.error() || ++mtb > 1024) return ParseResult::Error;
    }
    v.modulo_time_base = mtb;
    if (!marker(br)) {
        // Tolerated: some writers get marker bits wrong; the field widths stay as the layer says.
    }
    v.vop_time_increment = br.read(vol.vop_time_increment_bits);
    marker(br);
    v.vop_coded = uint8_t(br.read(1));
    if (!v.vop_coded) return finish(br, v, vop);
    if (v.vop_coding_type == kVopP || (v.vop_coding_type == kVopS && vol.sprite_enable == 2))
        v.vop_rounding_type = uint8_t(br.read(1));
    if (vol.reduced_resolution_vop_enable && (v.vop_coding_type == kVopI || v.vop_coding_type == kVopP)) {
        if (br.read(1)) return ParseResult::Unsupported;  // vop_reduced_resolution
    }
    v.intra_dc_vlc_thr = uint8_t(br.read(3));
    if (vol.interlaced) {
        v.top_field_first = uint8_t(br.read(1));
        v.alternate_vertical_scan_flag = uint8_t(br.read(1));
    }
    v.vop_quant = br.read(vol.quant_precision);
    if (v.vop_coding_type != kVopI) v.vop_fcode_forward = uint8_t(br.read(3));
    if (v.vop_coding_type == kVopB) v.vop_fcode_backward = uint8_t(br.read(3));
    return finish(br, v, vop);
}

}  // namespace vdec
