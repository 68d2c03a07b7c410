#pragma once
// Listing of the members of a RAR archive (block layout up to 2.0), for tools.
#include <cstdint>
#include <string>
#include <vector>

namespace rar {

struct ArchiveEntry {
    std::string name;  // as stored, up to its first zero byte
    uint16_t flags;
    uint32_t packSize;
    uint32_t unpSize;
    uint32_t crc;
    uint8_t hostOs;
    uint8_t unpVer;
    uint8_t method;
    bool headerOk;  // HEAD_CRC matches
};

struct ArchiveIndex {
    uint16_t mainFlags = 0;
    std::vector<ArchiveEntry> entries;
    bool truncated = false;  // the last block runs past the end of the file
};

// Walks every block header. Throws the message as a std::string when the file cannot be read or
// is not such an archive.
ArchiveIndex listArchive(const std::string& path);

}  // namespace rar
