#include "video/m4v_split.h"

#include "video/bitreader.h"
#include "video/headers.h"

namespace {

// Offset of the next start code prefix (00 00 01) at or after pos, or size.
size_t findStartCode(const uint8_t* d, size_t size, size_t pos) {
    for (size_t i = pos; i + 3 <= size; ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) return i;
    return size;
}

}  // namespace

std::vector<std::vector<uint8_t>> m4v_split(const uint8_t* data, size_t size) {
    std::vector<std::vector<uint8_t>> records;
    std::vector<uint8_t> pending;
    bool lastWasVideoObject = false;
    size_t pos = findStartCode(data, size, 0);
    while (pos + 4 <= size) {
        size_t next = findStartCode(data, size, pos + 3);
        uint8_t code = data[pos + 3];
        const uint8_t* unit = data + pos;
        size_t len = next - pos;
        bool keep = false;
        if (code <= 0x1F) {
            keep = true;
        } else if (code >= 0x20 && code <= 0x2F) {
            if (!lastWasVideoObject) {
                static const uint8_t vo[4] = {0, 0, 1, 0};
                pending.insert(pending.end(), vo, vo + 4);
            }
            keep = true;
        } else if (code == 0xB3 || code == 0xB6) {
            keep = true;
        }
        if (keep) pending.insert(pending.end(), unit, unit + len);
        lastWasVideoObject = keep && code <= 0x1F;
        if (code == 0xB6) {
            records.push_back(std::move(pending));
            pending.clear();
        }
        pos = next;
    }
    return records;
}

bool m4v_layer_size(const uint8_t* data, size_t size, int* width, int* height) {
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
