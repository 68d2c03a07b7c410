#pragma once
// Helpers for the image-effect tests: files, and clips made with ffmpeg at test time.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "run_command.h"
#include "scratch_dir.h"
#include "test_files.h"

namespace fxtest {

using qvtest::Bytes;
using qvtest::readBytes;
using qvtest::writeBytes;

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
