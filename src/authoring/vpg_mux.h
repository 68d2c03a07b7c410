#pragma once
// Turning a raw MPEG-4 Part 2 elementary stream into VPG records, and looking into records: what the
// video tools need on top of the container itself.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fx/vpg.h"

struct VpgRecordSummary {
    bool hasLayer = false;  // a video object and layer header in front
    uint32_t width = 0;     // from that layer header
    uint32_t height = 0;
    bool hasGroup = false;  // a group-of-VOP header
    bool hasVop = false;
    int codingType = -1;  // vop_coding_type: 0 I, 1 P, 2 B, 3 S
};

// Start codes and coding type of one record, as the decoder will meet them.
VpgRecordSummary vpgInspectRecord(const unsigned char* data, size_t size);

struct VpgMuxResult {
    VpgHeader header;
    std::vector<std::vector<unsigned char>> records;
    size_t droppedBytes = 0;  // headers the decoder does not read, and anything outside them
};

// One record per VOP: its group-of-VOP header in front, and the video object and layer headers in
// front of the first VOP (and of a later one where the layer changes). Visual-object-sequence,
// visual-object and user-data headers are dropped. A layer header without a video object start code
// gets one. Width and height come from the first layer header; fps <= 0 takes the layer's fixed VOP
// rate. Throws a text for a stream that cannot be played.
VpgMuxResult vpgMux(const unsigned char* data, size_t size, float fps);
