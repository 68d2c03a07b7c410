#include "data/rar_index.h"

#include <cstdio>
#include <memory>

#include "base/message_name.h"
#include "data/rar_format.h"
#include "data/rar_header.h"

namespace rar {

ArchiveIndex listArchive(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) throw "cannot open " + messageName(path);
    BlockWalk walk(f.get());
    switch (walk.start()) {
        case RarStatus::kOk:
            break;
        case RarStatus::kUnreadable:
            throw "cannot read " + messageName(path);
        default:
            throw "not a RAR archive: " + messageName(path);
    }
    if (walk.main().type != kMainHead) throw "not a RAR archive: " + messageName(path);

    ArchiveIndex index;
    index.mainFlags = walk.main().flags;
    Block b;
    for (;;) {
        const BlockWalk::Step step = walk.next(&b, 0xFFFF);
        if (step == BlockWalk::Step::kEnd) break;
        if (step == BlockWalk::Step::kCut) {
            index.truncated = true;
            break;
        }
        if (step == BlockWalk::Step::kBad)
            throw std::string("damaged block header at offset ") + std::to_string(b.start);
        if (step == BlockWalk::Step::kIoError) throw "cannot read " + messageName(path);
        if (b.head.type != kFileHead) continue;
        const BlockHeader& h = b.head;
        ArchiveEntry e;
        e.flags = h.flags;
        e.packSize = h.packSize;
        e.unpSize = h.unpSize;
        e.hostOs = h.hostOs;
        e.crc = h.fileCrc;
        e.unpVer = h.unpVer;
        e.method = h.method;
        e.name = b.name.substr(0, b.name.find('\0'));
        e.headerOk = walk.headerCrcOk(b);
        index.entries.push_back(e);
    }
    return index;
}

}  // namespace rar
