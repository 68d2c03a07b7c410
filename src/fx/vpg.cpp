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
    const size_t w = h.width, ht = h.height, limit = INT32_MAX;
    size_t pixels, picture, luma, chroma;
    if (!checkedMul(w, ht, &pixels) || !checkedMul(pixels, 4, &picture) || picture > limit)
        return "picture too large";
    if (!checkedMul(w + 64, ht + 64, &luma) || !checkedMul(w / 2 + 64, ht / 2 + 64, &chroma) ||
        luma > limit || chroma > (limit - luma) / 2)
        return "picture too large";
    return nullptr;
}

VpgRecordWalker::VpgRecordWalker(const unsigned char* data, size_t size, size_t at) : reader_(data, size) {
    reader_.skip(at < size ? at : size);
}

VpgRecord VpgRecordWalker::next(uint32_t capacity, const unsigned char** picture, uint32_t* length) {
    if (left() < 4) return VpgRecord::None;
    ByteReader r = reader_;
    const uint32_t len = r.u32();
    *length = len;
    if (len > capacity || !r.fits(len, 1)) return VpgRecord::Damaged;
    *picture = r.here();
    r.skip(len);
    reader_ = r;
    return VpgRecord::Read;
}

uint32_t vpgRecordsPresent(const unsigned char* data, uint64_t size, uint32_t capacity, uint32_t limit) {
    VpgRecordWalker walk(data, static_cast<size_t>(size), kVpgHeaderBytes);
    uint32_t count = 0;
    const unsigned char* picture;
    uint32_t length;
    while (count < limit && walk.next(capacity, &picture, &length) == VpgRecord::Read) ++count;
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
    if (!file || file->position > file->length) return VpgRecord::None;
    VpgRecordWalker walk(file->data, file->length, file->position);
    const unsigned char* picture = nullptr;
    const VpgRecord r = walk.next(capacity, &picture, length);
    if (r == VpgRecord::Read) {
        if (*length) std::memcpy(buffer, picture, *length);
        memfile_seek(file, static_cast<long>(walk.pos()), 0);
    } else if (r == VpgRecord::Damaged) {
        memfile_seek(file, 4, 1);  // the length was read; the picture stays unread
    }
    return r;
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
    ByteReader r(data, size);
    if (!r.magic(kVpgMagic, 8)) throw std::string("not a VPG-file.");
    VpgLayout layout{};
    layout.header.width = r.u32();
    layout.header.height = r.u32();
    layout.header.frameCount = r.u32();
    layout.header.frameRate = r.f32();
    if (!r.ok()) throw std::string("header cut short");
    VpgRecordWalker walk(data, size, kVpgHeaderBytes);
    const unsigned char* picture;
    uint32_t length;
    while (walk.next(UINT32_MAX, &picture, &length) == VpgRecord::Read) {
        layout.recordOffsets.push_back(static_cast<uint32_t>(picture - data));
        layout.recordLengths.push_back(length);
    }
    layout.truncated = walk.left() > 0;
    return layout;
}
