#pragma once
// Helpers for the data tests: a scratch directory that becomes the working directory, and files.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace qvtest {

// Makes a fresh directory under the system's temporary folder and changes into it; changes back
// and removes it on destruction.
class ScratchDir {
public:
    ScratchDir() {
        old_ = std::filesystem::current_path();
        std::string templ = (std::filesystem::temp_directory_path() / "qvdata-XXXXXX").string();
        std::vector<char> buf(templ.begin(), templ.end());
        buf.push_back(0);
        path_ = mkdtemp(buf.data());
        std::filesystem::current_path(path_);
    }
    ~ScratchDir() {
        std::filesystem::current_path(old_);
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path old_, path_;
};

inline void writeFile(const std::filesystem::path& p, const std::string& bytes) {
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
    FILE* f = std::fopen(p.c_str(), "wb");
    if (!f) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

inline std::string readFile(const std::filesystem::path& p) {
    std::string s;
    FILE* f = std::fopen(p.c_str(), "rb");
    if (!f) return s;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    std::fclose(f);
    return s;
}

}  // namespace qvtest
