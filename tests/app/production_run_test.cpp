// The whole program live with the production's own loading phase and frame sequence on the default data
// set: the music plays on the (dummy) sound device, and a missing soundtrack ends in the message box.
#include <SDL.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/entry.h"
#include "platform/win32/sdl_window.h"
#include "resources/device.h"
#include "run_command.h"
#include "scratch_dir.h"

namespace {

// A working directory of its own for one test, removed afterwards.
using TempDir = qvtest::ScratchDir;

// The default data set as loose files under dir/data, without the named files; false when it is absent.
bool copyDefaultDataSet(const std::string& dir, const std::vector<std::string>& without = {}) {
    std::string source = std::string(QV_SOURCE_DIR) + "/assets/data";
    struct stat st;
    if (stat((source + "/plinthar.scene").c_str(), &st) != 0) return false;
    if (qvtest::runCommand("cp -r '" + source + "' '" + dir + "/data'") != 0) return false;
    for (const std::string& name : without) std::remove((dir + "/data/" + name).c_str());
    return true;
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
    if (!copyDefaultDataSet(dir.path())) GTEST_SKIP() << "the default data set (assets/data) is absent";
    ASSERT_TRUE(dir.enter());
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
    if (!copyDefaultDataSet(dir.path(), {"ferrowake.mp3"}))
        GTEST_SKIP() << "the default data set (assets/data) is absent";
    ASSERT_TRUE(dir.enter());
    testing::internal::CaptureStderr();
    int code = qv_main();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, 1);
    EXPECT_NE(err.find("Error: Failed to load ferrowake.mp3\nfile not found\n"), std::string::npos) << err;
    EXPECT_EQ(g_device, nullptr);
}
