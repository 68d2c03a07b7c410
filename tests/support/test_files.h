#pragma once
// Whole files for tests: read as bytes or text, written from them (parent folders made as needed).
//
//     qvtest::writeFile(dir / "a.bin", bytes);          // false when it cannot be written whole
//     qvtest::Bytes b = qvtest::readBytes(dir / "a.bin"); // empty when missing
//     std::string s = qvtest::readFile(dir / "a.txt");
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace qvtest {

using Bytes = std::vector<unsigned char>;

// Appends the file's bytes to out; false when it cannot be opened or read.
template <typename Container>
bool appendFile(const std::filesystem::path& p, Container& out) {
    FILE* f = std::fopen(p.c_str(), "rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// The file as text ("" when it cannot be read).
inline std::string readFile(const std::filesystem::path& p) {
    std::string s;
    appendFile(p, s);
    return s;
}

// The file into out (replacing what it held); false when it cannot be read.
inline bool readFile(const std::filesystem::path& p, Bytes& out) {
    out.clear();
    return appendFile(p, out);
}

inline Bytes readBytes(const std::filesystem::path& p) {
    Bytes b;
    appendFile(p, b);
    return b;
}

inline bool writeFile(const std::filesystem::path& p, const void* data, size_t size) {
    std::error_code ec;
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path(), ec);
    FILE* f = std::fopen(p.c_str(), "wb");
    if (!f) return false;
    const bool written =
        size == 0 || std::fwrite(data, 1, size, f) == size;  // an empty vector has no data pointer
    return std::fclose(f) == 0 && written;
}
inline bool writeFile(const std::filesystem::path& p, const std::string& bytes) {
    return writeFile(p, bytes.data(), bytes.size());
}
inline bool writeFile(const std::filesystem::path& p, const Bytes& bytes) {
    return writeFile(p, bytes.data(), bytes.size());
}
inline bool writeBytes(const std::filesystem::path& p, const Bytes& bytes) {
    return writeFile(p, bytes);
}

}  // namespace qvtest
