#include "authoring/vpg_mux.h"

#include <string>

#include "video/bitreader.h"
#include "video/headers.h"

namespace {

struct Segment {
    uint32_t code;  // the start code's last byte with its 0x100 prefix: 0x1B6 for a VOP
    size_t begin;   // offset of 00 00 01
    size_t end;
};

// Splits at every byte-aligned 00 00 01 xx; bytes before the first start code are not a segment.
std::vector<Segment> segments(const unsigned char* d, size_t n) {
    std::vector<Segment> out;
    for (size_t i = 0; i + 3 < n; ++i) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            if (!out.empty()) out.back().end = i;
            out.push_back({0x100u | d[i + 3], i, n});
            i += 2;
        }
    }
    return out;
}

bool isVideoObject(uint32_t c) {
    return c >= vdec::kVideoObjectStartMin && c <= vdec::kVideoObjectStartMax;
}
bool isLayer(uint32_t c) {
    return c >= vdec::kVolStartMin && c <= vdec::kVolStartMax;
}

bool parseLayer(const unsigned char* d, size_t n, vdec::VideoObjectLayer& vol) {
    if (n < 4) return false;
    vdec::BitReader br(d + 4, n - 4);
    return vdec::parseVideoObjectLayer(br, vol) == vdec::ParseResult::Ok && !br.error();
}

}  // namespace

VpgRecordSummary vpgInspectRecord(const unsigned char* data, size_t size) {
    VpgRecordSummary s;
    for (const Segment& seg : segments(data, size)) {
        if (isLayer(seg.code) && !s.hasLayer) {
            vdec::VideoObjectLayer vol;
            if (parseLayer(data + seg.begin, seg.end - seg.begin, vol)) {
                s.hasLayer = true;
                s.width = vol.video_object_layer_width;
                s.height = vol.video_object_layer_height;
            }
        } else if (seg.code == vdec::kGroupOfVopStart) {
            s.hasGroup = true;
        } else if (seg.code == vdec::kVopStart && !s.hasVop) {
            s.hasVop = true;
            if (seg.end - seg.begin > 4) s.codingType = data[seg.begin + 4] >> 6;
        }
    }
    return s;
}

VpgMuxResult vpgMux(const unsigned char* data, size_t size, float fps) {
    VpgMuxResult out{};
    std::vector<Segment> segs = segments(data, size);
    out.droppedBytes = segs.empty() ? size : segs.front().begin;
    std::vector<unsigned char> pending, lastLayer;
    const unsigned char videoObject[4] = {0, 0, 1, 0};
    bool haveLayer = false;
    vdec::VideoObjectLayer first;
    for (size_t k = 0; k < segs.size(); ++k) {
        const Segment& s = segs[k];
        const unsigned char* p = data + s.begin;
        const size_t n = s.end - s.begin;
        if (isVideoObject(s.code)) {
            out.droppedBytes += n;  // written again together with its layer header
        } else if (isLayer(s.code)) {
            if (!haveLayer) {
                if (!parseLayer(p, n, first))
                    throw std::string("unreadable or unsupported video object layer header");
                haveLayer = true;
            }
            std::vector<unsigned char> layer(p, p + n);
            if (layer == lastLayer) {
                out.droppedBytes += n;
                continue;
            }
            // The decoder reads a layer header only behind a video object start code.
            if (k > 0 && isVideoObject(segs[k - 1].code)) {
                pending.insert(pending.end(), data + segs[k - 1].begin, data + segs[k - 1].end);
                out.droppedBytes -= segs[k - 1].end - segs[k - 1].begin;
            } else {
                pending.insert(pending.end(), videoObject, videoObject + 4);
            }
            pending.insert(pending.end(), layer.begin(), layer.end());
            lastLayer = std::move(layer);
        } else if (s.code == vdec::kGroupOfVopStart) {
            pending.insert(pending.end(), p, p + n);
        } else if (s.code == vdec::kVopStart) {
            if (!haveLayer) throw std::string("no video object layer header before the first VOP");
            if (pending.size() + n > kVpgMaxRecordBytes) throw std::string("a VOP larger than 1048576 bytes");
            pending.insert(pending.end(), p, p + n);
            out.records.push_back(std::move(pending));
            pending.clear();
        } else {
            out.droppedBytes += n;
        }
    }
    out.droppedBytes += pending.size();
    if (out.records.empty()) throw std::string("no VOP in the stream");
    out.header.width = first.video_object_layer_width;
    out.header.height = first.video_object_layer_height;
    out.header.frameCount = static_cast<uint32_t>(out.records.size());
    if (fps <= 0 && first.fixed_vop_rate && first.fixed_vop_time_increment)
        fps = static_cast<float>(first.vop_time_increment_resolution) / first.fixed_vop_time_increment;
    if (!(fps > 0)) throw std::string("the stream has no fixed frame rate: give one");
    out.header.frameRate = fps;
    return out;
}
