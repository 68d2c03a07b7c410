#include "data/memfile.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "data/rar.h"

namespace {

const char kArchive[] = "gorvel.yo";
const char kArchivePassword[] = "Rb7qT";

// Reads "data/" + name whole into the record. False when the path does not fit, the file cannot be
// opened or sized, the block cannot be allocated or the read comes up short.
bool readDirectoryFile(MemoryFile* file, const char* name) {
    char path[256];
    int n = std::snprintf(path, sizeof path, "data/%s", name);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path) return false;

    FILE* f = std::fopen(path, "rb");
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
    MemoryFile* file = static_cast<MemoryFile*>(std::calloc(1, sizeof(MemoryFile)));
    if (!file) return nullptr;
    // The archive first; any failure there is silent and falls back to the directory.
    if (rar_get(&file->data, &file->length, name, kArchive, kArchivePassword)) {
        file->position = 0;
        return file;
    }
    if (!readDirectoryFile(file, name)) {
        std::free(file);
        return nullptr;
    }
    file->position = 0;
    return file;
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
