#include "video/m4v_split.h"

#include <cstring>

#include "video/bitreader.h"
#include "video/headers.h"

namespace {

// Offset of the next start code prefix (00 00 01) at or after pos, or size.
size_t findStartCode(const uint8_t* d, size_t size, size_t pos) {
    // Each 01 byte found by memchr is checked for the two zero bytes before it.
    for (size_t i = pos + 2; i < size;) {
        const void* one = std::memchr(d + i, 1, size - i);
        if (!one) break;
        i = size_t(static_cast<const uint8_t*>(one) - d);
        if (d[i - 1] == 0 && d[i - 2] == 0) return i - 2;
        ++i;
    }
    return size;
}

// Offset of the next byte-aligned H.263 picture start code (22 bits 0000 0000 0000 0000 1000 00) at or
// after pos, or size.
size_t findPictureStart(const uint8_t* d, size_t size, size_t pos) {
    for (size_t i = pos; i + 3 <= size; ++i)
        if (d[i] == 0 && d[i + 1] == 0 && (d[i + 2] & 0xFC) == 0x80) return i;
    return size;
}

// A raw H.263 stream: a picture start code comes before any MPEG-4 start code.
bool isShortHeaderStream(const uint8_t* d, size_t size) {
    // Only the bytes before the first MPEG-4 start code need searching.
    size_t sc = findStartCode(d, size, 0);
    size_t limit = sc < size ? sc + 2 : size;
    return findPictureStart(d, limit, 0) < limit;
}

}  // namespace

M4vSplitter::M4vSplitter(const uint8_t* data, size_t size)
    : data_(data), size_(size), shortHeader_(isShortHeaderStream(data, size)) {
    pos_ = shortHeader_ ? findPictureStart(data, size, 0) : findStartCode(data, size, 0);
}

bool M4vSplitter::next(std::vector<uint8_t>& out) {
    out.clear();
    const uint8_t* data = data_;
    const size_t size = size_;
    if (shortHeader_) {
        if (pos_ >= size) return false;
        size_t next = findPictureStart(data, size, pos_ + 3);
        out.assign(data + pos_, data + next);
        pos_ = next;
        return true;
    }
    while (pos_ + 4 <= size) {
        size_t next = findStartCode(data, size, pos_ + 3);
        uint8_t code = data[pos_ + 3];
        const uint8_t* unit = data + pos_;
        size_t len = next - pos_;
        pos_ = next;
        bool keep = false;
        if (code <= 0x1F) {
            keep = true;
        } else if (code >= 0x20 && code <= 0x2F) {
            if (!lastWasVideoObject_) {
                static const uint8_t vo[4] = {0, 0, 1, 0};
                out.insert(out.end(), vo, vo + 4);
            }
            keep = true;
        } else if (code == 0xB3 || code == 0xB6) {
            keep = true;
        }
        if (keep) out.insert(out.end(), unit, unit + len);
        lastWasVideoObject_ = keep && code <= 0x1F;
        if (code == 0xB6) return true;
    }
    // Headers after the last VOP make no record.
    out.clear();
    return false;
}

std::vector<std::vector<uint8_t>> m4v_split(const uint8_t* data, size_t size) {
    std::vector<std::vector<uint8_t>> records;
    M4vSplitter splitter(data, size);
    std::vector<uint8_t> record;
    while (splitter.next(record)) records.push_back(record);
    return records;
}

bool m4v_layer_size(const uint8_t* data, size_t size, int* width, int* height) {
    if (isShortHeaderStream(data, size)) {
        // source_format of the first picture header: 22 + 8 + 5 bits after the start code's first byte.
        static const int kSizes[6][2] = {{0, 0}, {128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}};
        size_t psc = findPictureStart(data, size, 0);
        vdec::BitReader br(data + psc, size - psc);
        br.skip(22 + 8 + 5);
        int format = int(br.read(3));
        if (br.error() || format < 1 || format > 5) return false;
        *width = kSizes[format][0];
        *height = kSizes[format][1];
        return true;
    }
    size_t pos = findStartCode(data, size, 0);
    while (pos + 4 <= size) {
        uint8_t code = data[pos + 3];
        if (code >= 0x20 && code <= 0x2F) {
            vdec::BitReader br(data + pos + 4, size - pos - 4);
            vdec::VideoObjectLayer vol;
            vdec::ParseResult r = vdec::parseVideoObjectLayer(br, vol);
            if (r == vdec::ParseResult::Error || vol.video_object_layer_width == 0 ||
                vol.video_object_layer_height == 0) {
                // Unsupported layers still carry their size when they are rectangular.
                if (r != vdec::ParseResult::Unsupported) return false;
            }
            if (vol.video_object_layer_width == 0 || vol.video_object_layer_height == 0) return false;
            *width = int(vol.video_object_layer_width);
            *height = int(vol.video_object_layer_height);
            return true;
        }
        pos = findStartCode(data, size, pos + 3);
    }
    return false;
}
