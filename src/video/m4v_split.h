// Splitting a raw MPEG-4 Part 2 elementary stream into decoder records, one per VOP.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One record per VOP: the video object and layer headers that precede it (when present), its group-of-VOP
// header and the VOP itself. Visual-object-sequence and visual-object headers, user data and other start
// codes the decoder does not read are dropped; a layer header without a video object start code gets one.
// A raw H.263 stream (a picture start code before any MPEG-4 start code) is split into one record per
// picture instead, each from its byte-aligned picture start code to the next.
std::vector<std::vector<uint8_t>> m4v_split(const uint8_t* data, size_t size);

// The same records one at a time, for long streams: no copy of the whole stream is held.
class M4vSplitter {
public:
    M4vSplitter(const uint8_t* data, size_t size);
    // The next record into out (its previous contents replaced); false when no record is left.
    bool next(std::vector<uint8_t>& out);

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_;
    bool shortHeader_;
    bool lastWasVideoObject_ = false;
};

// Width and height from the first video object layer header of a stream or record (of a raw H.263
// stream: from the first picture header's source format); false when there is none or it cannot be read.
bool m4v_layer_size(const uint8_t* data, size_t size, int* width, int* height);
