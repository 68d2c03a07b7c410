// Calling interface of the MPEG-4 Part 2 video decoder: one entry point, caller-owned memory.
//
// Typical use: VDEC_MEMORY_SIZES for the picture size, allocate the six buffers (4, 5 and 6 zero-filled),
// VDEC_INIT with them, VDEC_SET_OUTPUT, VDEC_SET_POSTPROC 0, then one VDEC_DECODE per coded picture in
// stream order. The decoder keeps one state for the whole process; any non-zero handle addresses it.
//
// Headers: a record holds one picture. An MPEG-4 record may open with the video object and layer headers
// and a group of VOP header, and must then hold a VOP start code. A record that starts with the 22-bit
// short_video_start_marker is a picture with short header (H.263 baseline): it carries its own picture
// header and takes no other header; its source format must give the size of VDEC_INIT, else the result is
// VDEC_FRAME_ERROR, as it is for the optional modes of that header. Such a picture leaves the layer
// settings of MPEG-4 records as they are and is output at once.
//
// Picture order: every successful VDEC_DECODE outputs one picture. In a layer without B-VOPs (low_delay)
// that is the picture just decoded. In a layer with B-VOPs (low_delay 0) a B-VOP is output at once and an
// I- or P-VOP when the next I- or P-VOP arrives, so that the pictures come out in display order; the first
// I-VOP of such a stream is output at once and shown again at the second I- or P-VOP, and the last one is
// never output through this interface (one record in, one picture out, one picture behind).
//
// Post-processing (VDEC_SET_POSTPROC, level 1 to 100) filters the output picture into buffer 3 and converts
// it from there; the reference pictures stay as decoded, so the filters never change later pictures. The
// filters follow the quantiser of each macroblock (qp), since the artefacts grow with it:
// - Deblocking, on every 8x8 block edge, per line of eight samples across it: where both sides are flat
//   (steps of at most 2) and the eight samples span less than 2 qp, a (1 2 2 2 1) / 8 low-pass spreads the
//   step over six samples; elsewhere the part of the step that the slopes on either side do not explain is
//   reduced by three quarters (the two samples at the edge, an eighth for the next ones), unless it is 2 qp
//   or more: a real edge.
// - Deringing, per 8x8 block spanning at least 16 levels: samples whose 3x3 neighbourhood lies all on one
//   side of the block's mid-level (no edge through it) are smoothed by the (1 2 1) x (1 2 1) / 16 kernel,
//   moving at most qp / 2; the block's outer samples are left to the deblocking.
// Sets by level: 1-9 deblocks the luma across vertical edges; 10-19 also across horizontal edges; 20-29
// also deblocks the chroma; 30-39 adds luma deringing; 40-49 chroma deringing; 50-100 does all of that
// with the strongest thresholds (real edges from 3 qp, a span of 3 qp for the low-pass, deringing from a
// span of 12 levels and moving up to qp). Level 0 outputs the decoded picture itself.
#pragma once

#include <cstdint>

// Written by VDEC_MEMORY_SIZES: the bytes of the six buffers the caller allocates.
struct VdecSizes {
    uint32_t size1;  // reference picture with 32-pixel margins
    uint32_t size2;  // second reference picture with 32-pixel margins
    uint32_t size3;  // display picture, no margins
    uint32_t size4;  // decoder state
    uint32_t size5;  // decoder tables
    uint32_t size6;  // bit-reader state
};

struct VdecParams {
    int32_t width;
    int32_t height;
    int32_t outputFormat;  // pixel format of the decoded pictures (4: BGR0 bottom-up, 8: BGR0 top-down)
    int32_t reserved;      // 0; not read
    void* buffer[6];       // the caller's buffers, sized as VdecSizes reported
};

struct VdecFrame {
    void* output;           // where the picture is written in the output format
    const void* bitstream;  // one coded picture
    int32_t length;         // bytes of the coded picture
    int32_t renderFlag;     // non-zero: write the picture to output; 0: decode only
    uint32_t stride;        // output row pitch; formats 4 and 8 do not read it
};

struct VdecPostproc {
    int32_t level;  // 0 (off) to 100
};

// Opcodes. Every value not listed is VDEC_DECODE.
constexpr uint32_t VDEC_DECODE = 0;             // param1: VdecFrame
constexpr uint32_t VDEC_MEMORY_SIZES = 0x4000;  // param1: VdecParams (width, height), param2: VdecSizes
constexpr uint32_t VDEC_INIT = 0x8000;          // param1: VdecParams
constexpr uint32_t VDEC_RELEASE = 0x10000;
constexpr uint32_t VDEC_SET_POSTPROC = 0x20000;  // param1: VdecPostproc
constexpr uint32_t VDEC_SET_OUTPUT = 0x40000;    // param1: VdecParams (output format)

// Results.
constexpr int32_t VDEC_OK = 0;
constexpr int32_t VDEC_BAD_ARGUMENT = 2;  // handle 0, a post-processing level outside 0..100, bad parameters
constexpr int32_t VDEC_FRAME_ERROR = 3;   // the coded picture fails to decode

// Fixed sizes of buffers 4, 5 and 6.
constexpr uint32_t VDEC_STATE_BYTES = 0xABC00;
constexpr uint32_t VDEC_TABLE_BYTES = 11332;
constexpr uint32_t VDEC_BITREADER_BYTES = 2216;

int32_t vdec_call(uint32_t handle, uint32_t opcode, void* param1, void* param2);
