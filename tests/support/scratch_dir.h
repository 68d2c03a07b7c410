#pragma once
// Scratch folders for tests: a fresh folder under the system's temporary folder, removed with its
// contents when the object goes. WorkDir also makes it the working directory for its lifetime.
//
//     qvtest::ScratchDir dir("qv_audio");     // dir.path(), dir.file("a.mp3"), dir / "a.mp3"
//     qvtest::WorkDir work("qvdata");          // the same, entered; the old directory comes back at the end
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace qvtest {

class ScratchDir {
public:
    explicit ScratchDir(const std::string& stem = "qv") {
        std::error_code ec;
        std::filesystem::path base = std::filesystem::temp_directory_path(ec);
        if (ec) base = "/tmp";
        std::string templ = (base / (stem + "-XXXXXX")).string();
        std::vector<char> buf(templ.begin(), templ.end());
        buf.push_back(0);
        if (mkdtemp(buf.data())) path_ = buf.data();
    }
    ~ScratchDir() {
        std::error_code ec;
        if (!previous_.empty()) std::filesystem::current_path(previous_, ec);
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::string operator/(const std::string& name) const { return file(name); }

    // Makes the folder the working directory until the object goes; false when it cannot.
    bool enter() {
        std::error_code ec;
        if (path_.empty()) return false;
        if (previous_.empty()) previous_ = std::filesystem::current_path(ec);
        std::filesystem::current_path(path_, ec);
        return !ec;
    }

private:
    std::filesystem::path path_, previous_;
};

class WorkDir : public ScratchDir {
public:
    explicit WorkDir(const std::string& stem = "qv") : ScratchDir(stem) { enter(); }
};

}  // namespace qvtest
