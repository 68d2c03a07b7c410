#pragma once
// Running the built program on data sets made for a test, and reading what a capture wrote.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#include "run_command.h"
#include "scratch_dir.h"
#include "test_files.h"

namespace capture_test {

inline std::string assetsDir() {
    return std::string(QV_SOURCE_DIR) + "/assets";
}

inline bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

inline bool haveDefaultDataSet() {
    return exists(assetsDir() + "/gorvel.yo") && exists(assetsDir() + "/data/plinthar.scene");
}

using qvtest::haveCommand;

using qvtest::readFile;
using qvtest::writeFile;

// A working directory of its own, removed afterwards.
class TempDir : public qvtest::ScratchDir {
public:
    TempDir() : ScratchDir("qv_production") {}
    std::string path() const { return ScratchDir::path().string(); }

    // The default data set as the packed archive only.
    bool archiveOnly() const {
        return qvtest::runCommand("cp '" + assetsDir() + "/gorvel.yo' '" + path() + "/'") == 0;
    }
    // The default data set as loose files under data/, without the named files.
    bool looseFiles(const std::vector<std::string>& without = {}) const {
        if (qvtest::runCommand("cp -r '" + assetsDir() + "/data' '" + path() + "/data'") != 0) return false;
        for (const std::string& name : without) std::remove((path() + "/data/" + name).c_str());
        return true;
    }
};

struct Outcome {
    int exitCode = -1;
    std::string err;
};

// Runs the program in `dir` with the arguments (already quoted for the shell), after the environment
// settings `env` ("NAME=value ...", quoted likewise).
inline Outcome runQuorvane(const std::string& dir, const std::string& args, const std::string& env = "") {
    std::string errFile = dir + "/stderr.txt";
    std::string cmd = "cd '" + dir + "' && SDL_AUDIODRIVER=dummy " + env + " '" + std::string(QV_BINARY_DIR) +
                      "/quorvane' " + args + " 2>'" + errFile + "' >/dev/null";
    Outcome run;
    run.exitCode = qvtest::runCommand(cmd);
    run.err = readFile(errFile);
    return run;
}

// An RGB picture as written by a capture.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;

    bool ok() const { return width > 0; }
    const uint8_t* at(int x, int y) const { return &rgb[(size_t(y) * width + x) * 3]; }
    int maxChannel() const {
        int m = 0;
        for (uint8_t c : rgb) m = c > m ? c : m;
        return m;
    }
    double mean() const {
        double sum = 0;
        for (uint8_t c : rgb) sum += c;
        return rgb.empty() ? 0 : sum / double(rgb.size());
    }
    // Smallest value of channel c (0 red, 1 green, 2 blue) over the picture.
    int minOf(int c) const {
        int m = 255;
        for (size_t i = size_t(c); i < rgb.size(); i += 3) m = rgb[i] < m ? rgb[i] : m;
        return m;
    }
};

inline Picture readPicture(const std::string& path) {
    Picture p;
    int channels = 0;
    unsigned char* data = stbi_load(path.c_str(), &p.width, &p.height, &channels, 3);
    if (!data) {
        p.width = p.height = 0;
        return p;
    }
    p.rgb.assign(data, data + size_t(p.width) * p.height * 3);
    stbi_image_free(data);
    return p;
}

// A time as --times takes it, printed so that it reads back to the same double.
inline std::string timeText(double t) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", t);
    return text;
}

inline std::string frameName(int n) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%05d.png", n);
    return name;
}

// One line of frames.txt.
struct FrameLine {
    int number = -1;
    double t = 0;
    unsigned beat = 0;
    double x = 0, y = 0, z = 0, fov = 0;
};

inline std::vector<FrameLine> readFrameLog(const std::string& path) {
    std::vector<FrameLine> lines;
    std::istringstream in(readFile(path));
    FrameLine l;
    while (in >> l.number >> l.t >> l.beat >> l.x >> l.y >> l.z >> l.fov) lines.push_back(l);
    return lines;
}

}  // namespace capture_test
