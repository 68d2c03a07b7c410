// qvtool archive: list, extract and create data archives (RAR 2.0 block format).
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "authoring/rar_writer.h"
#include "base/message_name.h"
#include "data/memfile.h"
#include "data/rar.h"
#include "data/rar_format.h"
#include "data/rar_index.h"

extern const char* const qvtool_archive_summary = "list, extract or create a data archive";

namespace {

namespace fs = std::filesystem;

int usage() {
    std::fprintf(
        stderr,
        "usage: qvtool archive list ARCHIVE\n"
        "       qvtool archive extract ARCHIVE MEMBER [-p PASSWORD | --no-password] [-o FILE|-]\n"
        "       qvtool archive create ARCHIVE [-p PASSWORD | --no-password] [--store] [--solid] [--audio] "
        "FILE...\n"
        "The password is the production's unless -p gives another; --no-password makes a plain archive.\n"
        "Each file is stored under its name alone (data/stone.png as stone.png), as the production looks it\n"
        "up; a FILE that is a folder adds the files in it and in its subfolders.\n");
    return 2;
}

int list(const std::string& path) {
    rar::ArchiveIndex index = rar::listArchive(path);
    std::printf("%s%s\n", path.c_str(), (index.mainFlags & rar::kMainSolid) ? " (solid)" : "");
    std::printf("%10s %10s %4s %6s %-5s %-8s  %s\n", "unpacked", "packed", "ver", "method", "flags", "crc",
                "name");
    for (const rar::ArchiveEntry& e : index.entries) {
        char flags[6] = "-----";
        if (e.flags & rar::kFileEncrypted) flags[0] = 'E';
        if (e.flags & rar::kFileSolid) flags[1] = 'S';
        if ((e.flags & rar::kFileDirectory) == rar::kFileDirectory) flags[2] = 'D';
        if (e.flags & rar::kFileSplitBefore) flags[3] = '<';
        if (e.flags & rar::kFileSplitAfter) flags[4] = '>';
        std::printf("%10u %10u %4u   0x%02x %-5s %08x  %s%s\n", e.unpSize, e.packSize, e.unpVer, e.method,
                    flags, e.crc, e.name.c_str(), e.headerOk ? "" : "  (damaged header)");
    }
    std::printf("%zu member%s%s\n", index.entries.size(), index.entries.size() == 1 ? "" : "s",
                index.truncated ? ", archive truncated" : "");
    return 0;
}

int extract(const std::string& archive, const std::string& member, const char* password, std::string out) {
    unsigned char* data = nullptr;
    uint32_t size = 0;
    RarStatus status;
    if (!rar_get(&data, &size, member.c_str(), archive.c_str(), password, &status)) {
        const char* why = status == RarStatus::kWrongPassword && !password
                              ? "encrypted, and no password given"
                              : rar_status_text(status);
        std::fprintf(stderr, "qvtool archive: cannot extract '%s' from %s: %s\n", messageName(member).c_str(),
                     messageName(archive).c_str(), why);
        return 1;
    }
    if (out.empty()) {
        std::string base = member;
        size_t cut = base.find_last_of("/\\");
        if (cut != std::string::npos) base = base.substr(cut + 1);
        out = base.empty() ? "member.out" : base;
    }
    FILE* f = out == "-" ? stdout : std::fopen(out.c_str(), "wb");
    bool ok = f && std::fwrite(data, 1, size, f) == size;
    if (f && f != stdout) ok = (std::fclose(f) == 0) && ok;
    if (f == stdout) ok = (std::fflush(stdout) == 0) && ok;
    std::free(data);
    if (!ok) {
        std::fprintf(stderr, "qvtool archive: cannot write %s\n", messageName(out).c_str());
        return 1;
    }
    return 0;
}

uint32_t dosTime(const fs::path& p) {
    struct stat st;
    if (stat(p.c_str(), &st) != 0) return 0;
    struct tm t;
    if (!localtime_r(&st.st_mtime, &t) || t.tm_year < 80) return 0;
    return static_cast<uint32_t>((t.tm_year - 80) << 25 | (t.tm_mon + 1) << 21 | t.tm_mday << 16 |
                                 t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec / 2);
}

// The member name of a file: its name alone, as the production looks members up by name (data/stone.png
// is stored as stone.png).
std::string memberName(const fs::path& p) {
    return p.filename().string();
}

void addFile(const fs::path& p, std::vector<rar::ArchiveMember>& members) {
    rar::ArchiveMember m;
    m.name = memberName(p);
    if (m.name.empty() || m.name == "." || m.name == "..") throw "not a file: " + messageName(p.string());
    for (const rar::ArchiveMember& other : members)
        if (strcasecmp(other.name.c_str(), m.name.c_str()) == 0)
            throw "two files named " + messageName(m.name) +
                " (members are stored under their names alone, "
                "and the production finds them in any letter case)";
    FILE* f = std::fopen(p.c_str(), "rb");
    if (!f) throw "cannot open " + messageName(p.string());
    char buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) m.data.insert(m.data.end(), buf, buf + n);
    bool bad = std::ferror(f);
    std::fclose(f);
    if (bad) throw "cannot read " + messageName(p.string());
    m.dosTime = dosTime(p);
    members.push_back(std::move(m));
}

int create(int argc, char** argv) {
    if (argc < 1) return usage();
    std::string archive = argv[0];
    rar::ArchiveOptions options;
    options.password = kArchivePassword;
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-p" && i + 1 < argc) {
            options.password = argv[++i];
        } else if (a == "--no-password") {
            options.password.clear();
        } else if (a == "--store") {
            options.store = true;
        } else if (a == "--solid") {
            options.solid = true;
        } else if (a == "--audio") {
            options.audio = true;
        } else if (a == "--") {
            inputs.insert(inputs.end(), argv + i + 1, argv + argc);
            break;
        } else if (!a.empty() && a[0] == '-') {
            return usage();
        } else {
            inputs.push_back(a);
        }
    }
    if (inputs.empty()) return usage();

    std::vector<rar::ArchiveMember> members;
    for (const std::string& in : inputs) {
        std::error_code ec;
        if (fs::is_directory(in, ec)) {
            std::vector<fs::path> files;
            for (auto it = fs::recursive_directory_iterator(in, ec); !ec && it != fs::end(it);
                 it.increment(ec))
                if (it->is_regular_file()) files.push_back(it->path());
            if (ec) throw "cannot read directory " + messageName(in);
            std::sort(files.begin(), files.end());
            for (const fs::path& p : files) addFile(p, members);
        } else {
            addFile(in, members);
        }
    }
    std::vector<uint8_t> bytes = rar::buildArchive(members, options);
    std::string tmp = archive + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (f) ok = (std::fclose(f) == 0) && ok;
    if (!ok || std::rename(tmp.c_str(), archive.c_str()) != 0) {
        std::remove(tmp.c_str());
        throw "cannot write " + messageName(archive);
    }
    return 0;
}

}  // namespace

int qvtool_archive(int argc, char** argv) {
    if (argc < 3) return usage();
    std::string verb = argv[1];
    try {
        if (verb == "list" && argc == 3) return list(argv[2]);
        if (verb == "create") return create(argc - 2, argv + 2);
        if (verb == "extract" && argc >= 4) {
            const char* password = kArchivePassword;
            std::string out;
            for (int i = 4; i < argc; ++i) {
                std::string a = argv[i];
                if (a == "-p" && i + 1 < argc) {
                    password = argv[++i];
                } else if (a == "--no-password") {
                    password = nullptr;
                } else if (a == "-o" && i + 1 < argc) {
                    out = argv[++i];
                } else {
                    return usage();
                }
            }
            return extract(argv[2], argv[3], password, out);
        }
    } catch (const std::string& e) {
        std::fprintf(stderr, "qvtool archive: %s\n", e.c_str());
        return 1;
    }
    return usage();
}
