#include "data/memfile.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "base/message_name.h"
#include "data/rar.h"

const char kArchiveName[] = "gorvel.yo";
const char kArchivePassword[] = "Rb7qT";

namespace {

// "data/" + name, exactly as named, or with any letter case in each part of the path (as the archive
// matches its members). Exact names win; among several entries that differ only in case, the first
// in byte order. False when the path does not fit 256 bytes or nothing matches.
bool findDirectoryFile(const char* name, std::string* path) {
    char exact[256];
    int n = std::snprintf(exact, sizeof exact, "data/%s", name);
    if (n < 0 || static_cast<size_t>(n) >= sizeof exact) return false;
    struct stat st;
    if (::stat(exact, &st) == 0) {
        *path = exact;
        return true;
    }
    std::string dir = "data";
    const char* part = name;
    for (;;) {
        const char* slash = std::strchr(part, '/');
        const std::string want(part, slash ? static_cast<size_t>(slash - part) : std::strlen(part));
        std::string found;
        if (::stat((dir + "/" + want).c_str(), &st) == 0) {
            found = want;
        } else if (DIR* d = ::opendir(dir.c_str())) {
            while (const dirent* e = ::readdir(d))
                if (strcasecmp(e->d_name, want.c_str()) == 0 && (found.empty() || found > e->d_name))
                    found = e->d_name;
            ::closedir(d);
        }
        if (found.empty()) return false;
        dir += "/" + found;
        if (!slash) break;
        part = slash + 1;
    }
    *path = dir;
    return true;
}

// Reads a directory file whole into the record. False when it cannot be opened or sized, the block
// cannot be allocated or the read comes up short.
bool readDirectoryFile(MemoryFile* file, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    bool ok = false;
    unsigned char* block = nullptr;
    long end = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) end = std::ftell(f);
    if (end >= 0 && static_cast<unsigned long>(end) <= UINT32_MAX && std::fseek(f, 0, SEEK_SET) == 0) {
        size_t length = static_cast<size_t>(end);
        // One byte at least, so that an empty file still has a block to free.
        block = static_cast<unsigned char*>(std::malloc(length ? length : 1));
        if (block && std::fread(block, 1, length, f) == length) {
            file->data = block;
            file->length = static_cast<uint32_t>(length);
            ok = true;
        }
    }
    std::fclose(f);
    if (!ok) std::free(block);
    return ok;
}

std::string workingDirectory() {
    char cwd[4096];
    return ::getcwd(cwd, sizeof cwd) ? cwd : "the working directory";
}

// The archive wins over a loose copy of the same file; when the two differ, standard error says so, once
// per file, since a maker editing data/ would otherwise wonder why the edit does not show.
void noteDifferentLooseCopy(const char* name, const MemoryFile* file) {
    std::string path;
    if (!findDirectoryFile(name, &path)) return;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    bool same = static_cast<uint64_t>(st.st_size) == file->length;
    if (same) {
        MemoryFile loose{};
        same = readDirectoryFile(&loose, path) && loose.length == file->length &&
               std::memcmp(loose.data, file->data, file->length) == 0;
        std::free(loose.data);
    }
    if (same) return;
    static std::mutex mutex;
    static std::set<std::string> told;
    std::lock_guard<std::mutex> lock(mutex);
    if (!told.insert(workingDirectory() + "/" + path).second) return;
    std::fprintf(stderr, "%s differs from %s in %s; the archive's is used\n", messageName(path).c_str(),
                 messageName(name).c_str(), kArchiveName);
}

// The text for an archive that holds or may hold the file but cannot give it.
std::string archiveProblem(RarStatus status, const char* name) {
    const std::string archive = kArchiveName, member = messageName(name);
    switch (status) {
        case RarStatus::kWrongPassword:
            return "cannot decrypt " + archive + ": wrong password";
        case RarStatus::kTruncated:
            return archive + " is truncated: it ends before " + member + " could be read";
        case RarStatus::kBadHeader:
            return archive + " is damaged: a block header fails its check (looking for " + member + ")";
        case RarStatus::kBadData:
            return archive + " is damaged: " + member + " does not unpack";
        case RarStatus::kBadCrc:
            return archive + " is damaged: " + member + " fails its CRC check";
        case RarStatus::kNotArchive:
            return archive + " is not a RAR archive";
        case RarStatus::kUnsupported:
            return "cannot read " + member + " from " + archive + ": unsupported archive format";
        case RarStatus::kNoMemory:
            return "out of memory reading " + member + " from " + archive;
        default:
            return "cannot read " + archive;
    }
}

}  // namespace

namespace {

struct Kept {
    std::mutex mutex;
    std::string name;
    MemoryFile* file = nullptr;
    ~Kept() { memfile_close(file); }
};

Kept& kept() {
    static Kept k;
    return k;
}

MemoryFile* take_kept(const char* name) {
    Kept& k = kept();
    std::lock_guard<std::mutex> lock(k.mutex);
    if (!k.file || k.name != name) return nullptr;
    MemoryFile* file = k.file;
    k.file = nullptr;
    return file;
}

}  // namespace

void memfile_keep(const char* name, MemoryFile* file) {
    if (!name) {
        memfile_close(file);
        return;
    }
    Kept& k = kept();
    MemoryFile* previous = nullptr;
    {
        std::lock_guard<std::mutex> lock(k.mutex);
        previous = k.file;
        k.name = name;
        k.file = file;
    }
    memfile_close(previous);
}

void memfile_drop_kept(const char* name) {
    if (name) memfile_close(take_kept(name));
}

MemoryFile* memfile_open(const char* name) {
    if (!name) return nullptr;
    if (MemoryFile* file = take_kept(name)) {
        file->position = 0;
        return file;
    }
    std::unique_ptr<MemoryFile, void (*)(void*)> file(
        static_cast<MemoryFile*>(std::calloc(1, sizeof(MemoryFile))), std::free);
    if (!file) return nullptr;
    // The archive first. A file it does not hold is looked for under "data"; one it holds but cannot give
    // (a wrong password, damage) is an error naming the archive, never replaced by a loose copy.
    RarStatus status;
    if (rar_get(&file->data, &file->length, name, kArchiveName, kArchivePassword, &status)) {
        noteDifferentLooseCopy(name, file.get());
        return file.release();
    }
    if (status == RarStatus::kNoArchive) {
        struct stat st;
        if (::stat("data", &st) != 0 || !S_ISDIR(st.st_mode))
            throw "cannot find " + messageName(name) + ": there is neither " + kArchiveName +
                " nor a data folder in " + messageName(workingDirectory());
    } else if (status != RarStatus::kNoMember) {
        throw archiveProblem(status, name);
    }
    std::string path;
    if (!findDirectoryFile(name, &path) || !readDirectoryFile(file.get(), path)) return nullptr;
    file->position = 0;
    return file.release();
}

int memfile_close(MemoryFile* file) {
    if (!file) return 0;
    std::free(file->data);
    file->data = nullptr;
    file->length = 0;
    file->position = 0;
    std::free(file);
    return 0;
}

uint32_t memfile_tell(const MemoryFile* file) {
    return file ? file->position : 0;
}

size_t memfile_read(void* dest, size_t size, size_t count, MemoryFile* file) {
    if (!file || !dest) return 0;
    // Whole elements left, computed without forming position + size, which could wrap.
    if (file->position > file->length) return 0;
    size_t left = file->length - file->position;
    size_t n = size ? left / size : count;
    if (n > count) n = count;
    if (n && size) {
        std::memcpy(dest, file->data + file->position, n * size);
        file->position += static_cast<uint32_t>(n * size);
    }
    return n;
}

int memfile_seek(MemoryFile* file, long offset, int origin) {
    if (!file) return 0;
    // Positions are 32-bit and wrap like the record's field; reads check them against the length.
    uint32_t off = static_cast<uint32_t>(offset);
    switch (origin) {
        case 0:
            file->position = off;
            break;
        case 1:
            file->position += off;
            break;
        case 2:
            file->position = file->length - off;
            break;
        default:
            break;
    }
    return 0;
}

char* memfile_read_string(MemoryFile* file) {
    if (!file || file->position >= file->length) return nullptr;
    const unsigned char* start = file->data + file->position;
    size_t left = file->length - file->position;
    const void* end = std::memchr(start, 0, left);
    if (!end) return nullptr;
    size_t n = static_cast<const unsigned char*>(end) - start;
    char* copy = static_cast<char*>(std::malloc(n + 1));
    if (!copy) return nullptr;
    std::memcpy(copy, start, n + 1);
    file->position += static_cast<uint32_t>(n + 1);
    return copy;
}
