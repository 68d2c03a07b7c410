// Fuzzes the archive reader with whole archive files, written to a scratch file as they are. The last input
// byte (part of the archive too, where readers ignore it after the end block) picks the password and which
// member to ask for: one of the first few file headers found, or a name no member has (which walks, and in a
// solid archive unpacks, every member). Real archives are seeds as they stand.
//
// Caps, for throughput (the unit tests cover large archives): inputs of at most kMaxInput bytes (the
// options file gives libFuzzer the same -max_len), and no input whose file headers declare more than
// kMaxUnpacked bytes of members in all, so no run spends its time filling a huge output block.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "data/rar.h"
#include "data/rar_format.h"
#include "data/rar_header.h"

namespace {

constexpr size_t kMaxInput = 16384;
constexpr uint64_t kMaxUnpacked = 256 * 1024;

// A scratch file of this process, removed at exit; in memory when there is a tmpfs, since rewriting a file
// on a disk file system flushes it on every close.
struct Scratch {
    std::string path;
    Scratch() {
        char p[] = "/dev/shm/qv-rar-fuzz-XXXXXX";
        char fallback[] = "/tmp/qv-rar-fuzz-XXXXXX";
        int fd = mkstemp(p);
        path = p;
        if (fd < 0) {
            fd = mkstemp(fallback);
            path = fallback;
        }
        if (fd >= 0) close(fd);
    }
    ~Scratch() { std::remove(path.c_str()); }
};

// The names of the first few file headers, and the members' declared sizes in all, from a walk over the
// blocks as they are laid out with the shared header parser (the reader's walk over the file is what is
// under test; this one only steers).
struct Members {
    std::vector<std::string> names;
    uint64_t unpacked = 0;
};

Members members(const uint8_t* a, size_t n) {
    if (n < 20) return Members{{"a"}, 0};  // too short for a header: the name no member has, as below
    Members m;
    uint64_t pos = 7 + uint64_t(rar::parseBlockHeader(a + 7, 13).headSize);
    while (pos + 32 <= n) {
        const rar::BlockHeader h = rar::parseBlockHeader(a + pos, n - pos);
        if (h.headSize < 7) break;
        if (h.type == rar::kFileHead) {
            m.unpacked += h.unpSize;
            size_t len = h.nameSize;
            if (len > n - pos - 32) len = n - pos - 32;
            if (m.names.size() < 3) m.names.emplace_back(reinterpret_cast<const char*>(a + pos + 32), len);
        }
        pos += h.headSize + uint64_t(h.dataSize());
    }
    m.names.push_back("a");
    return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Scratch scratch;
    const std::string& path = scratch.path;
    if (size < 1 || size > kMaxInput) return 0;
    Members found = members(data, size);
    if (found.unpacked > kMaxUnpacked) return 0;
    const uint8_t pick = data[size - 1];
    static const char* const passwords[] = {nullptr, "pw", "Rb7qT", ""};
    const char* password = passwords[pick & 3];
    const std::string name = found.names[(pick >> 2) % found.names.size()];
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    unsigned char* out = nullptr;
    uint32_t outSize = 0;
    RarStatus status;
    int r = rar_get(&out, &outSize, std::string(name.c_str()).c_str(), path.c_str(), password, &status);
    if (!r && (out || outSize)) std::abort();                  // a failure hands out nothing
    if ((r == 1) != (status == RarStatus::kOk)) std::abort();  // and says why
    std::free(out);
    return 0;
}
