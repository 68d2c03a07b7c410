// Fuzzes the archive reader with whole archive files. The first input byte picks the password;
// the rest is written to a scratch file, and the names of the first few file headers found in it
// are requested, so that mutated archives reach the unpacker.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "data/rar.h"

namespace {

// A scratch file of this process, removed at exit.
struct Scratch {
    std::string path;
    Scratch() {
        char p[] = "/tmp/qv-rar-fuzz-XXXXXX";
        int fd = mkstemp(p);
        if (fd >= 0) close(fd);
        path = p;
    }
    ~Scratch() { std::remove(path.c_str()); }
};

uint32_t le16(const uint8_t* p) {
    return p[0] | p[1] << 8;
}
uint32_t le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

std::vector<std::string> memberNames(const uint8_t* a, size_t n) {
    std::vector<std::string> names;
    if (n < 20) return names;
    uint64_t pos = 7 + le16(a + 12);
    for (int blocks = 0; blocks < 16 && names.size() < 3 && pos + 32 <= n; ++blocks) {
        const uint8_t* h = a + pos;
        uint32_t size = le16(h + 5);
        if (size < 7) break;
        if (h[2] == 0x74) {
            size_t len = le16(h + 26);
            if (len > n - pos - 32) len = n - pos - 32;
            names.emplace_back(reinterpret_cast<const char*>(h + 32), len);
        }
        pos += size + ((le16(h + 3) & 0x8000) ? le32(h + 7) : 0);
    }
    names.push_back("a");
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Scratch scratch;
    const std::string& path = scratch.path;
    if (size < 1) return 0;
    static const char* const passwords[] = {nullptr, "pw", "Rb7qT", ""};
    const char* password = passwords[data[0] & 3];
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);
    for (const std::string& name : memberNames(data + 1, size - 1)) {
        unsigned char* out = nullptr;
        uint32_t outSize = 0;
        int r = rar_get(&out, &outSize, std::string(name.c_str()).c_str(), path.c_str(), password);
        if (!r && (out || outSize)) std::abort();  // a failure hands out nothing
        std::free(out);
    }
    return 0;
}
