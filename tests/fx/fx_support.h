#pragma once
// Helpers for the image-effect tests: files, and clips made with ffmpeg at test time.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "run_command.h"
#include "scratch_dir.h"

namespace fxtest {

using Bytes = std::vector<unsigned char>;

inline Bytes readBytes(const std::filesystem::path& p) {
    Bytes b;
    FILE* f = std::fopen(p.c_str(), "rb");
    if (!f) return b;
    unsigned char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
    std::fclose(f);
    return b;
}

inline void writeBytes(const std::filesystem::path& p, const Bytes& b) {
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
    FILE* f = std::fopen(p.c_str(), "wb");
    if (!f) return;
    std::fwrite(b.data(), 1, b.size(), f);
    std::fclose(f);
}

// A fresh working directory for the test's lifetime (files are found under its "data" folder).
using ScratchDir = qvtest::WorkDir;

// A process-wide folder for clips made once per test run; removed at exit.
inline const std::filesystem::path& clipDir() {
    static const qvtest::ScratchDir dir("qvfx-clips");
    return dir.path();
}

inline bool run(const std::string& command) {
    return qvtest::runCommand(command) == 0;
}

// An MPEG-4 Part 2 elementary stream of ffmpeg's test picture, as `ffmpeg -c:v mpeg4 -f m4v` writes it,
// flipped vertically as production clips are. Empty when ffmpeg is missing or fails.
inline Bytes makeClip(const std::string& name, int width, int height, int frames, int gop) {
    const std::filesystem::path out = clipDir() / (name + ".m4v");
    if (!std::filesystem::exists(out)) {
        const std::string cmd =
            "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" + std::to_string(width) + "x" +
            std::to_string(height) + ":rate=25 -frames:v " + std::to_string(frames) +
            " -vf vflip -pix_fmt yuv420p -c:v mpeg4 -threads 1 -g " + std::to_string(gop) + " -f m4v " +
            out.string();
        if (!run(cmd)) return {};
    }
    return readBytes(out);
}

// ffmpeg's own decode of a stream: planar 4:2:0 pictures, top row first, in display order.
inline Bytes referenceDecode(const std::string& name) {
    const std::filesystem::path in = clipDir() / (name + ".m4v"), out = clipDir() / (name + ".yuv");
    if (!std::filesystem::exists(out)) {
        const std::string cmd =
            "ffmpeg -nostdin -v error -y -threads 1 -flags +bitexact -idct simple -f m4v -c:v mpeg4 -i " +
            in.string() + " -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt yuv420p " + out.string();
        if (!run(cmd)) return {};
    }
    return readBytes(out);
}

}  // namespace fxtest
