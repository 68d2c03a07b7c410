#pragma once
// Making archives in the RAR 2.0 block format: members stored, or packed with the 2.0 method by
// our own compressor (LZ77 over the 1 MiB window with Huffman tables rebuilt per block, and the
// multimedia mode for audio-like data), optionally solid and encrypted with the 2.0 cipher.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rar {

// The 2.0 compressor. Members of a solid archive go through one packer in order, so that later
// members refer back to earlier ones; a packer used for one member alone starts afresh.
class Packer {
public:
    explicit Packer(bool tryAudio);
    ~Packer();
    Packer(const Packer&) = delete;
    Packer& operator=(const Packer&) = delete;

    // Packs buf[begin, end). buf holds every member packed so far in this packer before begin
    // (the window of a solid archive). continues: the member carries on the decoder's state from
    // the previous one (solid flag); otherwise it starts afresh with its own tables.
    std::vector<uint8_t> pack(const uint8_t* buf, size_t begin, size_t end, bool continues);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

struct ArchiveMember {
    std::string name;  // stored with "\" as the separator
    std::vector<uint8_t> data;
    uint32_t dosTime = 0;
};

struct ArchiveOptions {
    std::string password;  // empty: not encrypted
    bool store = false;    // every member stored
    bool solid = false;
    bool audio = false;  // multimedia mode where it packs better
};

// The whole archive. Throws the message as a std::string for members it cannot hold.
std::vector<uint8_t> buildArchive(const std::vector<ArchiveMember>& members, const ArchiveOptions& options);

}  // namespace rar
