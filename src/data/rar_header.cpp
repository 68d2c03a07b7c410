#include "data/rar_header.h"

#include <sys/types.h>

#include <cstring>
#include <vector>

#include "base/byte_reader.h"
#include "data/rar_format.h"

namespace rar {

uint32_t BlockHeader::dataSize() const {
    return (flags & kLongBlock) ? packSize : 0;
}

BlockHeader parseBlockHeader(const uint8_t* p, size_t n) {
    ByteReader r(p, n);
    BlockHeader h;
    h.headCrc = r.u16();
    h.type = r.u8();
    h.flags = r.u16();
    h.headSize = r.u16();
    h.packSize = r.u32();
    h.unpSize = r.u32();
    h.hostOs = r.u8();
    h.fileCrc = r.u32();
    h.fileTime = r.u32();
    h.unpVer = r.u8();
    h.method = r.u8();
    h.nameSize = r.u16();
    h.attr = r.u32();
    return h;
}

bool fileHeaderCrcMatches(const uint8_t* bytes, size_t n, const BlockHeader& h) {
    if (h.headSize < kFileHeadSize || n < h.headSize) return false;
    if ((crc32(bytes + 2, h.headSize - 2) & 0xFFFF) == h.headCrc) return true;
    const size_t named = kFileHeadSize + size_t(h.nameSize);
    return named < h.headSize && (crc32(bytes + 2, named - 2) & 0xFFFF) == h.headCrc;
}

namespace {

bool seekTo(FILE* f, int64_t pos) {
    return fseeko(f, static_cast<off_t>(pos), SEEK_SET) == 0;
}

}  // namespace

RarStatus BlockWalk::start() {
    if (fseeko(file_, 0, SEEK_END) != 0) return RarStatus::kUnreadable;
    fileSize_ = ftello(file_);
    if (fileSize_ < 0 || !seekTo(file_, 0)) return RarStatus::kUnreadable;
    uint8_t head[7 + kMainHeadSize];
    const size_t n = std::fread(head, 1, sizeof head, file_);
    if (n < sizeof head && std::ferror(file_)) return RarStatus::kUnreadable;
    // A file that ends inside a marker is an archive cut short; one that starts otherwise is none.
    const size_t m = n < 7 ? n : 7;
    const bool marker = std::memcmp(head, kMarker, m) == 0 || std::memcmp(head, kAltMarker, m) == 0;
    if (!marker) return RarStatus::kNotArchive;
    if (n < sizeof head) return RarStatus::kTruncated;
    main_ = parseBlockHeader(head + 7, kMainHeadSize);
    if (main_.headSize < kMainHeadSize) return RarStatus::kBadHeader;
    first_ = pos_ = 7 + int64_t(main_.headSize);
    return RarStatus::kOk;
}

BlockWalk::Step BlockWalk::next(Block* block, size_t nameCap) {
    if (pos_ > fileSize_) return Step::kCut;
    if (pos_ == fileSize_) return Step::kEnd;
    block->start = pos_;
    if (!seekTo(file_, pos_)) return Step::kIoError;
    uint8_t h[kFileHeadSize];
    const size_t n = std::fread(h, 1, sizeof h, file_);
    if (n < sizeof h && std::ferror(file_)) return Step::kIoError;
    if (n < 7) return Step::kCut;
    block->head = parseBlockHeader(h, n);
    const BlockHeader& b = block->head;
    if (b.headSize < 7) return Step::kBad;
    if ((b.flags & kLongBlock) && n < 11) return Step::kCut;  // the data area's size is missing
    if (b.type == kFileHead && n < kFileHeadSize) return Step::kCut;
    block->end = pos_ + b.headSize + b.dataSize();
    block->name.clear();
    block->crc = Block::Crc::kUnknown;
    if (b.type == kFileHead) {
        const size_t want = b.nameSize < nameCap ? b.nameSize : nameCap;
        block->name.resize(want);
        block->name.resize(want ? std::fread(&block->name[0], 1, want, file_) : 0);
        if (block->name.size() == b.nameSize && b.headSize == kFileHeadSize + b.nameSize) {
            uint32_t crc = crc32Slices(0xFFFFFFFFu, h + 2, kFileHeadSize - 2);
            crc = ~crc32Slices(crc, reinterpret_cast<const uint8_t*>(block->name.data()), b.nameSize);
            block->crc = (crc & 0xFFFF) == b.headCrc ? Block::Crc::kOk : Block::Crc::kBad;
        }
    }
    pos_ = block->end;
    return Step::kBlock;
}

bool BlockWalk::headerCrcOk(const Block& block) {
    if (block.crc != Block::Crc::kUnknown) return block.crc == Block::Crc::kOk;
    const BlockHeader& b = block.head;
    std::vector<uint8_t> bytes(b.headSize);
    if (!seekTo(file_, block.start)) return false;
    const size_t n = std::fread(bytes.data(), 1, bytes.size(), file_);
    return fileHeaderCrcMatches(bytes.data(), n, b);
}

}  // namespace rar
