#pragma once
// The VPG video container: a 24-byte header ("VOTRAMPG", width, height, frame count, frame rate, all
// little-endian) followed by records of a 32-bit length and one coded picture each, in decoding order.
#include <cstdint>
#include <string>
#include <vector>

#include "base/byte_reader.h"

struct MemoryFile;

constexpr uint32_t kVpgHeaderBytes = 24;
constexpr uint32_t kVpgMaxRecordBytes = 1048576;  // the size of the bitstream buffer
extern const char kVpgMagic[8];                   // "VOTRAMPG", no terminator

struct VpgHeader {
    uint32_t width;
    uint32_t height;
    uint32_t frameCount;
    float frameRate;
};

// Whether a header can be played: at least one frame, and no more than a file of fileLength bytes has
// room for (every record takes 4 bytes at least); a positive finite rate; a picture whose pixel buffer
// and decoder buffers stay within 32-bit signed sizes. Null when it can, else the reason.
const char* vpgHeaderProblem(const VpgHeader& header, uint64_t fileLength);

// How many whole records, each no longer than `capacity`, follow the header of the container in
// data[0, size), counting no further than `limit`.
uint32_t vpgRecordsPresent(const unsigned char* data, uint64_t size, uint32_t capacity, uint32_t limit);

// The picture index for a time: trunc(fmod(time, N / rate) * rate), in double precision. Negative
// and not-finite times count as 0. The header must have passed vpgHeaderProblem.
uint32_t vpgTarget(float time, uint32_t frameCount, float frameRate);

enum class VpgRecord {
    Read,     // the coded picture is in the buffer
    None,     // no record starts at the read position (the end of the file)
    Damaged,  // a length that runs past the buffer or the end of the file; nothing was copied
};

// The one walk over the records of a container held in memory, from a byte offset on (the first record
// starts at kVpgHeaderBytes): every reader of records goes through it.
class VpgRecordWalker {
public:
    VpgRecordWalker(const unsigned char* data, size_t size, size_t at);

    // The record at the position. Read: picture and length describe it and the position moves past it.
    // None: fewer than 4 bytes are left (left() says whether any). Damaged: its length exceeds capacity or
    // the bytes left; length holds it. Nothing is consumed on None and Damaged.
    VpgRecord next(uint32_t capacity, const unsigned char** picture, uint32_t* length);

    size_t pos() const { return reader_.pos(); }
    size_t left() const { return reader_.left(); }

private:
    ByteReader reader_;
};

// Reads the record at the file's position into buffer (capacity bytes). On Read the position moves
// past the record and length holds its size; on None and Damaged the picture bytes stay unread.
VpgRecord vpgReadRecord(MemoryFile* file, unsigned char* buffer, uint32_t capacity, uint32_t* length);

// A whole container: the header, then each record with its length in front.
std::vector<unsigned char> vpgBuild(const VpgHeader& header,
                                    const std::vector<std::vector<unsigned char>>& records);

// Reads the header and the record lengths from the bytes of a container, as a tool shows them. Throws a
// text when the magic is wrong or the header is cut short; records that run past the end stop the walk
// and set truncated.
struct VpgLayout {
    VpgHeader header;
    std::vector<uint32_t> recordOffsets;  // file offset of each record's picture bytes
    std::vector<uint32_t> recordLengths;
    bool truncated;
};
VpgLayout vpgLayout(const unsigned char* data, size_t size);
