#include "authoring/rar_writer.h"

#include <cstring>

#include "base/message_name.h"
#include "data/rar_format.h"

namespace rar {

namespace {

constexpr uint8_t kUnpackVersion = 20;
constexpr uint8_t kMethodPacked = 0x33;
constexpr uint8_t kHostWin32 = 2;
constexpr uint32_t kAttrArchive = 0x20;
constexpr uint16_t kDictionary1M = 0x0080;  // dictionary size bits of a file header
constexpr size_t kMaxPassword = 254;
constexpr size_t kMaxName = 0xFFFF - kFileHeadSize;

// Header CRC: the low half of the CRC-32 of the header from its type byte on.
void sealHeader(uint8_t* h, size_t size) {
    putLe16(h, static_cast<uint16_t>(crc32(h + 2, size - 2)));
}

void append(std::vector<uint8_t>& out, const uint8_t* p, size_t n) {
    out.insert(out.end(), p, p + n);
}

}  // namespace

std::vector<uint8_t> buildArchive(const std::vector<ArchiveMember>& members, const ArchiveOptions& options) {
    if (options.password.size() > kMaxPassword) throw std::string("password too long");
    for (const ArchiveMember& m : members) {
        if (m.name.empty()) throw std::string("empty member name");
        if (m.name.size() > kMaxName) throw "member name too long: " + messageName(m.name);
        if (m.data.size() > 0xFFFFFFF0u) throw "member too large: " + messageName(m.name);
    }
    const bool encrypt = !options.password.empty();
    const bool solid = options.solid && !options.store;

    std::vector<uint8_t> out(kMarker, kMarker + 7);
    uint8_t mh[kMainHeadSize] = {};
    mh[2] = kMainHead;
    putLe16(mh + 3, solid ? kMainSolid : 0);
    putLe16(mh + 5, kMainHeadSize);
    sealHeader(mh, sizeof mh);
    append(out, mh, sizeof mh);

    // A solid archive packs every member through one window; the buffer holds them in order.
    std::vector<uint8_t> window;
    std::unique_ptr<Packer> solidPacker;
    bool packedBefore = false;
    if (solid) {
        size_t total = 0;
        for (const ArchiveMember& m : members) total += m.data.size();
        window.reserve(total);
        solidPacker = std::make_unique<Packer>(options.audio);
    }

    for (const ArchiveMember& m : members) {
        const uint8_t* data = m.data.data();
        const size_t size = m.data.size();
        std::vector<uint8_t> packed;
        uint8_t method = kMethodStore;
        bool continues = false;
        if (solid) {
            // Empty members are stored: they neither read nor change the unpacking state.
            if (size > 0) {
                size_t begin = window.size();
                window.insert(window.end(), data, data + size);
                continues = packedBefore;
                packed = solidPacker->pack(window.data(), begin, window.size(), continues);
                method = kMethodPacked;
                packedBefore = true;
            }
        } else if (!options.store && size > 0) {
            Packer packer(options.audio);
            packed = packer.pack(data, 0, size, false);
            method = kMethodPacked;
            if (packed.size() >= size) {  // incompressible: store instead
                packed.clear();
                method = kMethodStore;
            }
        }
        if (method == kMethodStore) packed.assign(data, data + size);
        if (encrypt) {
            packed.resize((packed.size() + 15) & ~size_t(15), 0);
            Cipher20 cipher;
            cipher.setup(crcTable(), options.password.c_str());
            cipher.encrypt(packed.data(), packed.size());
            cipher.wipe();
        }
        if (packed.size() > 0xFFFFFFFFu) throw "member too large: " + messageName(m.name);

        std::vector<uint8_t> h(kFileHeadSize + m.name.size());
        uint16_t flags = kLongBlock | kDictionary1M;
        if (encrypt) flags |= kFileEncrypted;
        if (continues) flags |= kFileSolid;
        h[2] = kFileHead;
        putLe16(&h[3], flags);
        putLe16(&h[5], static_cast<uint16_t>(h.size()));
        putLe32(&h[7], static_cast<uint32_t>(packed.size()));
        putLe32(&h[11], static_cast<uint32_t>(size));
        h[15] = kHostWin32;
        putLe32(&h[16], crc32(data, size));
        putLe32(&h[20], m.dosTime);
        h[24] = kUnpackVersion;
        h[25] = method;
        putLe16(&h[26], static_cast<uint16_t>(m.name.size()));
        putLe32(&h[28], kAttrArchive);
        std::memcpy(&h[32], m.name.data(), m.name.size());
        sealHeader(h.data(), h.size());
        append(out, h.data(), h.size());
        append(out, packed.data(), packed.size());
    }
    return out;
}

}  // namespace rar
