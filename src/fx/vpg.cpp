#include "fx/vpg.h"

#include <cmath>
#include <cstring>

#include "base/byte_reader.h"
#include "data/memfile.h"

const char kVpgMagic[8] = {'V', 'O', 'T', 'R', 'A', 'M', 'P', 'G'};

const char* vpgHeaderProblem(const VpgHeader& h, uint64_t fileLength) {
    if (h.frameCount == 0) return "frame count is 0";
    uint64_t room = fileLength > kVpgHeaderBytes ? (fileLength - kVpgHeaderBytes) / 4 : 0;
    if (h.frameCount > room) return "frame count exceeds the records the file has room for";
    if (!std::isfinite(h.frameRate) || !(h.frameRate > 0)) return "frame rate is not a positive number";
    if (h.width == 0 || h.height == 0) return "empty picture";
    // The decoder's buffer sizes are 32-bit signed: (w + 64)(h + 64) + 2 (w/2 + 64)(h/2 + 64) for a
    // reference picture, and the output picture is w * h * 4 bytes.
    const uint64_t w = h.width, ht = h.height, limit = INT32_MAX;
    if (w > limit || ht > limit) return "picture too large";
    if (w * ht * 4 > limit) return "picture too large";
    if ((w + 64) * (ht + 64) + 2 * (w / 2 + 64) * (ht / 2 + 64) > limit) return "picture too large";
    return nullptr;
}

uint32_t vpgRecordsPresent(const unsigned char* data, uint64_t size, uint32_t capacity, uint32_t limit) {
    uint32_t count = 0;
    uint64_t pos = kVpgHeaderBytes;
    while (count < limit && pos <= size && size - pos >= 4) {
        const uint32_t len = getLe32(data + pos);
        if (len > capacity || len > size - pos - 4) break;
        pos += 4 + uint64_t(len);
        ++count;
    }
    return count;
}

uint32_t vpgTarget(float time, uint32_t frameCount, float frameRate) {
    double t = time > 0 && std::isfinite(time) ? time : 0.0;  // negative, NaN and infinity count as 0
    double loop = static_cast<double>(frameCount) / frameRate;
    double target = std::fmod(t, loop) * frameRate;
    // fmod stays below one loop, but the product may round up to N itself, which is still reachable.
    if (!(target < static_cast<double>(frameCount))) return frameCount;
    return static_cast<uint32_t>(target);
}

VpgRecord vpgReadRecord(MemoryFile* file, unsigned char* buffer, uint32_t capacity, uint32_t* length) {
    unsigned char raw[4];
    if (memfile_read(raw, 4, 1, file) != 1) return VpgRecord::None;
    uint32_t len = getLe32(raw);
    *length = len;
    if (len > capacity) return VpgRecord::Damaged;
    if (len > file->length - memfile_tell(file)) return VpgRecord::Damaged;
    if (len > 0 && memfile_read(buffer, len, 1, file) != 1) return VpgRecord::Damaged;
    return VpgRecord::Read;
}

std::vector<unsigned char> vpgBuild(const VpgHeader& header,
                                    const std::vector<std::vector<unsigned char>>& records) {
    std::vector<unsigned char> out(kVpgMagic, kVpgMagic + 8);
    ByteWriter w(out);
    w.u32(header.width);
    w.u32(header.height);
    w.u32(header.frameCount);
    w.f32(header.frameRate);
    for (const auto& r : records) {
        w.u32(static_cast<uint32_t>(r.size()));
        w.bytes(r.data(), r.size());
    }
    return out;
}

VpgLayout vpgLayout(const unsigned char* data, size_t size) {
    if (size < 8 || std::memcmp(data, kVpgMagic, 8) != 0) throw std::string("not a VPG-file.");
    if (size < kVpgHeaderBytes) throw std::string("header cut short");
    VpgLayout layout{};
    layout.header.width = getLe32(data + 8);
    layout.header.height = getLe32(data + 12);
    layout.header.frameCount = getLe32(data + 16);
    uint32_t rate = getLe32(data + 20);
    std::memcpy(&layout.header.frameRate, &rate, 4);
    size_t pos = kVpgHeaderBytes;
    while (pos < size) {
        if (size - pos < 4) {
            layout.truncated = true;
            break;
        }
        uint32_t len = getLe32(data + pos);
        if (len > size - pos - 4) {
            layout.truncated = true;
            break;
        }
        layout.recordOffsets.push_back(static_cast<uint32_t>(pos + 4));
        layout.recordLengths.push_back(len);
        pos += 4 + size_t(len);
    }
    return layout;
}
