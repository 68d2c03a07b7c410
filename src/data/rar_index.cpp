#include "data/rar_index.h"

#include <cstdio>
#include <memory>

#include "data/rar_format.h"

namespace rar {

ArchiveIndex listArchive(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) throw std::string("cannot open ") + path;
    if (fseeko(f.get(), 0, SEEK_END) != 0) throw std::string("cannot read ") + path;
    const int64_t size = ftello(f.get());

    uint8_t head[7 + kMainHeadSize];
    if (size < 0 || fseeko(f.get(), 0, SEEK_SET) != 0 ||
        std::fread(head, 1, sizeof head, f.get()) != sizeof head)
        throw std::string("not a RAR archive: ") + path;
    bool marker = true, alt = true;
    for (int i = 0; i < 7; ++i) {
        marker = marker && head[i] == kMarker[i];
        alt = alt && head[i] == kAltMarker[i];
    }
    if (!(marker || alt) || head[7 + 2] != kMainHead || getLe16(head + 7 + 5) < kMainHeadSize)
        throw std::string("not a RAR archive: ") + path;

    ArchiveIndex index;
    index.mainFlags = getLe16(head + 7 + 3);
    int64_t pos = 7 + getLe16(head + 7 + 5);
    while (pos + 7 <= size) {
        uint8_t h[kFileHeadSize] = {};
        if (fseeko(f.get(), pos, SEEK_SET) != 0) break;
        size_t n = std::fread(h, 1, sizeof h, f.get());
        uint16_t flags = getLe16(h + 3), headSize = getLe16(h + 5);
        if (headSize < 7) throw std::string("damaged block header at offset ") + std::to_string(pos);
        int64_t end = pos + headSize + ((flags & kLongBlock) ? getLe32(h + 7) : 0);
        if (h[2] == kFileHead && n == sizeof h) {
            ArchiveEntry e;
            e.flags = flags;
            e.packSize = getLe32(h + 7);
            e.unpSize = getLe32(h + 11);
            e.hostOs = h[15];
            e.crc = getLe32(h + 16);
            e.unpVer = h[24];
            e.method = h[25];
            uint16_t nameSize = getLe16(h + 26);
            std::string name(nameSize, '\0');
            name.resize(std::fread(&name[0], 1, nameSize, f.get()));
            e.name = name.substr(0, name.find('\0'));
            index.entries.push_back(e);
        }
        if (end > size) {
            index.truncated = true;
            break;
        }
        pos = end;
    }
    return index;
}

}  // namespace rar
