// The whole program with the production's own loading phase and frame: the music is loaded from data/,
// the frames are cleared and presented on the real device, and a missing soundtrack ends in the message box.
#include <SDL.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/entry.h"
#include "platform/win32/sdl_window.h"
#include "resources/device.h"

namespace {

// A working directory of its own for one test, removed afterwards.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/qv_app_XXXXXX";
        path_ = mkdtemp(pattern) ? pattern : "";
        if (getcwd(previous_, sizeof previous_) == nullptr) previous_[0] = 0;
    }
    ~TempDir() {
        if (previous_[0] && chdir(previous_) != 0) std::perror("chdir");
        std::system(("rm -rf '" + path_ + "'").c_str());
    }
    bool enter() { return !path_.empty() && chdir(path_.c_str()) == 0; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    char previous_[4096];
};

// Two seconds of a 440 Hz tone as data/ferrowake.mp3; false without lame.
bool makeSoundtrack(const std::string& dir) {
    if (std::system("command -v lame >/dev/null 2>&1") != 0) return false;
    std::string raw = dir + "/tone.raw";
    FILE* f = std::fopen(raw.c_str(), "wb");
    if (!f) return false;
    for (int i = 0; i < 2 * 44100; ++i) {
        int16_t s = int16_t(8000 * std::sin(2 * M_PI * 440.0 * i / 44100.0));
        int16_t frame[2] = {s, s};
        std::fwrite(frame, sizeof frame, 1, f);
    }
    std::fclose(f);
    mkdir((dir + "/data").c_str(), 0755);
    std::string cmd = "lame --silent -r -s 44.1 --bitwidth 16 --signed --little-endian '" + raw + "' '" +
                      dir + "/data/ferrowake.mp3'";
    return std::system(cmd.c_str()) == 0;
}

void pushEscape(Uint32 type) {
    SDL_Event e{};
    e.type = type;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.sym = SDLK_ESCAPE;
    e.key.keysym.scancode = SDL_SCANCODE_ESCAPE;
    SDL_PushEvent(&e);
}

}  // namespace

TEST(ProductionRun, PlaysTheMusicAndEndsOnEscapePressedDuringLoading) {
    TempDir dir;
    ASSERT_TRUE(dir.enter());
    if (!makeSoundtrack(dir.path())) GTEST_SKIP() << "lame is not installed or failed: no soundtrack";
    ASSERT_TRUE(win32_sdl_video_init());
    pushEscape(SDL_KEYDOWN);  // waits in the queue until the first drain of the loop

    testing::internal::CaptureStdout();
    int code = qv_main();
    std::string out = testing::internal::GetCapturedStdout();
    pushEscape(SDL_KEYUP);
    GetAsyncKeyState(VK_ESCAPE);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }

    EXPECT_EQ(code, 0);
    // One line for the one key press, with the first frame's time: the music has only just started.
    double t = -1;
    ASSERT_EQ(std::sscanf(out.c_str(), "time %lf\n", &t), 1) << out;
    EXPECT_GE(t, 0.0);
    EXPECT_LT(t, 1.0);
    EXPECT_EQ(out.find('\n'), out.size() - 1);
    EXPECT_EQ(g_device, nullptr);
}

TEST(ProductionRun, MissingSoundtrackIsReportedAndGivesExitCodeOne) {
    TempDir dir;
    ASSERT_TRUE(dir.enter());
    testing::internal::CaptureStderr();
    int code = qv_main();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, 1);
    EXPECT_NE(err.find("Error: Failed to load ferrowake.mp3\nfile not found\n"), std::string::npos) << err;
    EXPECT_EQ(g_device, nullptr);
}
