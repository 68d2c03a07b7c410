#pragma once
// Block headers of a RAR archive (block layout up to 2.0) and the walk over them: the one parser that
// the reader and the lister share. Headers are read through ByteReader, so a header cut short by the
// end of the archive reads as zeros where its bytes are missing, and the walk says so.
#include <cstdint>
#include <cstdio>
#include <string>

#include "data/rar.h"

namespace rar {

// The fixed part of a block header: the 7-byte base, then the fields a file header has at offsets 7 to
// 31, taken whatever the block's type (of the 13-byte main header, only the base counts).
struct BlockHeader {
    uint16_t headCrc;
    uint8_t type;
    uint16_t flags;
    uint16_t headSize;
    uint32_t packSize;  // the u32 at offset 7: the data area's size when kLongBlock is set
    uint32_t unpSize;
    uint8_t hostOs;
    uint32_t fileCrc;
    uint32_t fileTime;
    uint8_t unpVer;
    uint8_t method;
    uint16_t nameSize;
    uint32_t attr;

    uint32_t dataSize() const;  // packSize for a long block, else 0
};

BlockHeader parseBlockHeader(const uint8_t* p, size_t n);

// Whether a file header's HEAD_CRC matches its bytes (the first headSize bytes of the block): the low
// half of the CRC-32 from the type byte on, over the whole header or, in archives that keep comments
// inside it, over the fixed part and the name.
bool fileHeaderCrcMatches(const uint8_t* bytes, size_t n, const BlockHeader& h);

struct Block {
    BlockHeader head;
    int64_t start;     // file offset of the header
    int64_t end;       // start + HEAD_SIZE + the data area
    std::string name;  // file headers: NAME_SIZE bytes, or as many as asked for
    // For a file header that is its fixed part and its whole name, as most are: whether HEAD_CRC matches,
    // found from the bytes already read. Others need headerCrcOk().
    enum class Crc : uint8_t { kUnknown, kOk, kBad } crc;
};

// The blocks of an open archive file, from the first one after the main header. The walk only reads and
// seeks; the caller may move the file position between steps.
class BlockWalk {
public:
    explicit BlockWalk(FILE* file) : file_(file) {}

    // Sizes the file and reads the marker and the main header. kOk, or kUnreadable, kTruncated (the file
    // ends inside them), kNotArchive (neither marker) or kBadHeader (a main header shorter than 13 bytes).
    RarStatus start();
    const BlockHeader& main() const { return main_; }
    int64_t fileSize() const { return fileSize_; }
    // Back to the first block.
    void rewind() { pos_ = first_; }

    enum class Step {
        kBlock,  // a whole header (its data area may still run past the end: see Block::end)
        kEnd,    // the previous block ended exactly at the end of the file
        kCut,    // the previous block ended past the end, or this header is cut short
        kBad,    // HEAD_SIZE below 7
        kIoError,
    };
    // The next block; for a file header, at most nameCap bytes of its name.
    Step next(Block* block, size_t nameCap);

    // Whether a file header's HEAD_CRC matches, reading its bytes again when the walk could not tell (for
    // explaining a failure; the reader itself does not check header CRCs).
    bool headerCrcOk(const Block& block);

private:
    FILE* file_;
    int64_t fileSize_ = 0;
    int64_t first_ = 0;
    int64_t pos_ = 0;
    BlockHeader main_{};
};

}  // namespace rar
