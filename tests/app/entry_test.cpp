// The entry with a scripted production on a real display and device: the frame loop's end conditions,
// the key lines, the device set-up, and error reporting after an orderly teardown.
#include "app/entry.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "direct3d_spy.h"
#include "resources/device.h"

namespace {

void pushKey(Uint32 type, SDL_Keycode sym, SDL_Scancode scancode, Uint16 mod = KMOD_NONE,
             bool repeat = false) {
    SDL_Event e{};
    e.type = type;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.repeat = repeat ? 1 : 0;
    e.key.keysym.sym = sym;
    e.key.keysym.scancode = scancode;
    e.key.keysym.mod = mod;
    SDL_PushEvent(&e);
}

void pushWindowEvent(HWND window, Uint8 event) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = event;
    e.window.windowID = SDL_GetWindowID(win32_sdl_window(window));
    SDL_PushEvent(&e);
}

void pushClose(HWND window) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    e.window.windowID = SDL_GetWindowID(win32_sdl_window(window));
    SDL_PushEvent(&e);
}

// What a scripted production does and what the entry did with it.
struct Script {
    std::vector<double> clock{0.0};  // the time of each frame; the last one repeats
    std::function<void(const Display&)> onLoad;
    std::function<void(int frame, const Display&)> onFrame;

    std::vector<std::string> log;
    std::vector<float> frameTimes;
    bool samplersLinear = false;
    bool displayAliveAtTeardown = false;
};

class ScriptedShow : public Show {
public:
    ScriptedShow(const Display& display, Script& script) : display_(display), script_(script) {
        script_.log.push_back("load");
        if (script_.onLoad) script_.onLoad(display_);
    }
    ~ScriptedShow() override {
        script_.log.push_back("teardown");
        script_.displayAliveAtTeardown = IsWindow(display_.window) && g_device == display_.device;
        std::fprintf(stderr, "show destroyed\n");
    }
    void start() override { script_.log.push_back("start"); }
    double time() override {
        size_t n = script_.frameTimes.size();
        return script_.clock[n < script_.clock.size() ? n : script_.clock.size() - 1];
    }
    void frame(float t) override {
        int n = static_cast<int>(script_.frameTimes.size());
        if (n == 0) script_.samplersLinear = samplersLinear();
        script_.frameTimes.push_back(t);
        if (n > 300) throw std::string("the run did not end");
        if (script_.onFrame) script_.onFrame(n, display_);
        g_device->BeginScene();
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
        g_device->EndScene();
    }

private:
    static bool samplersLinear() {
        for (DWORD s = 0; s < 8; ++s)
            for (D3DSAMPLERSTATETYPE type : {D3DSAMP_MAGFILTER, D3DSAMP_MINFILTER, D3DSAMP_MIPFILTER}) {
                DWORD value = 0;
                if (FAILED(g_device->GetSamplerState(s, type, &value)) || value != D3DTEXF_LINEAR)
                    return false;
            }
        return true;
    }
    const Display& display_;
    Script& script_;
};

class EntryTest : public ::testing::Test {
protected:
    void SetUp() override {
        spy.useRealDevice = true;
        g_spy = &spy;
        cursorBefore = cursorCounter();
    }
    void TearDown() override {
        pushKey(SDL_KEYUP, SDLK_ESCAPE, SDL_SCANCODE_ESCAPE);
        GetAsyncKeyState(VK_ESCAPE);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        g_spy = nullptr;
        // Everything is gone again: the device pointer, the Direct3D object, the window, the hidden cursor.
        EXPECT_EQ(g_device, nullptr);
        EXPECT_EQ(spy.refs, 0u);
        EXPECT_FALSE(IsWindow(spy.focusWindow));
        EXPECT_EQ(cursorCounter(), cursorBefore);
    }
    int run(bool fullScreen = true, double scale = 0) {
        EntryOptions options;
        options.direct3DCreate = createSpy;
        options.scale = scale;
        options.fullScreen = fullScreen;
        // Frames take no time on this clock: no presentation delay is predicted, and every frame's time is
        // the script's.
        options.monotonicSeconds = monotonicSeconds;
        return qv_main(
            [this](const Stagehand& stage) { return std::make_unique<ScriptedShow>(stage.display, script); },
            options);
    }
    Direct3DSpy spy;
    Script script;
    int cursorBefore = 0;
    double (*monotonicSeconds)() = [] { return 100.0; };
};

}  // namespace

TEST_F(EntryTest, RunsUntilTheFirstFrameAfterThirtyTwoSeconds) {
    script.clock = {0.0, 16.0, 31.9, 32.0, 32.0001, 40.0};
    testing::internal::CaptureStdout();
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    // 32.0 still draws a frame; the first frame above it is the last one.
    EXPECT_EQ(script.frameTimes, (std::vector<float>{0.0f, 16.0f, 31.9f, 32.0f, 32.0001f}));
    EXPECT_EQ(script.log, (std::vector<std::string>{"load", "start", "teardown"}));
    EXPECT_TRUE(script.samplersLinear);
    EXPECT_TRUE(script.displayAliveAtTeardown);
    // The production's display: full screen at the display's resolution (the stand-in's 1024 by 768) in
    // X8R8G8B8.
    EXPECT_EQ(spy.parameters.Windowed, FALSE);
    EXPECT_EQ(spy.parameters.BackBufferWidth, 1024u);
    EXPECT_EQ(spy.parameters.BackBufferHeight, 768u);
    EXPECT_EQ(spy.parameters.BackBufferFormat, D3DFMT_X8R8G8B8);
}

TEST_F(EntryTest, WindowedRunUsesA640By480Window) {
    script.clock = {33.0};
    EXPECT_EQ(run(false), 0);
    EXPECT_EQ(spy.parameters.Windowed, TRUE);
    EXPECT_EQ(spy.parameters.BackBufferWidth, 640u);
    EXPECT_EQ(spy.parameters.BackBufferHeight, 480u);
    EXPECT_EQ(script.frameTimes.size(), 1u);
    // The cursor was never hidden, yet the display shows it once more on the way out, as always.
    EXPECT_EQ(cursorCounter(), cursorBefore + 1);
    ShowCursor(FALSE);
}

TEST_F(EntryTest, AScaleSizesTheBackBufferInFullScreenAndInAWindow) {
    for (bool fullScreen : {true, false}) {
        script.clock = {33.0};
        EXPECT_EQ(run(fullScreen, 1.5), 0);
        EXPECT_EQ(spy.parameters.Windowed, fullScreen ? FALSE : TRUE);
        EXPECT_EQ(spy.parameters.BackBufferWidth, 960u);
        EXPECT_EQ(spy.parameters.BackBufferHeight, 720u);
    }
    ShowCursor(FALSE);  // the windowed run showed the cursor once more on the way out, as always
}

TEST_F(EntryTest, EveryKeyPressWritesTheFrameTime) {
    script.clock = {0.0, 1.5, 2.25, 33.0};
    script.onFrame = [](int frame, const Display&) {
        if (frame == 1) {
            pushKey(SDL_KEYDOWN, SDLK_a, SDL_SCANCODE_A);
            pushKey(SDL_KEYDOWN, SDLK_a, SDL_SCANCODE_A, KMOD_NONE, true);  // auto-repeat
            pushKey(SDL_KEYUP, SDLK_a, SDL_SCANCODE_A);
        }
        if (frame == 2) {
            pushKey(SDL_KEYDOWN, SDLK_SPACE, SDL_SCANCODE_SPACE);
            pushKey(SDL_KEYUP, SDLK_SPACE, SDL_SCANCODE_SPACE);
        }
    };
    testing::internal::CaptureStdout();
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "time 1.500000\ntime 1.500000\ntime 2.250000\n");
    EXPECT_EQ(script.frameTimes.size(), 4u);
}

TEST_F(EntryTest, EscapeEndsTheRunAfterThePresentedFrame) {
    script.clock = {7.125};  // a stalled clock: only the user can end the run
    script.onFrame = [](int frame, const Display&) {
        if (frame == 3) pushKey(SDL_KEYDOWN, SDLK_ESCAPE, SDL_SCANCODE_ESCAPE);
    };
    testing::internal::CaptureStdout();
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "time 7.125000\n");  // Escape is a key press too
    EXPECT_EQ(script.frameTimes.size(), 4u);
}

TEST_F(EntryTest, EscapeTappedBetweenTwoPollsStillEnds) {
    script.clock = {1.0};
    script.onFrame = [](int frame, const Display&) {
        if (frame == 2) {
            pushKey(SDL_KEYDOWN, SDLK_ESCAPE, SDL_SCANCODE_ESCAPE);
            pushKey(SDL_KEYUP, SDLK_ESCAPE, SDL_SCANCODE_ESCAPE);
        }
    };
    testing::internal::CaptureStdout();
    EXPECT_EQ(run(), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(script.frameTimes.size(), 3u);
}

TEST_F(EntryTest, CloseRequestsEndTheRun) {
    // Made during loading: it waits in the queue and ends the run after the first frame.
    script.clock = {3.0};
    script.onLoad = [](const Display& display) { pushClose(display.window); };
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(script.frameTimes.size(), 1u);

    // Alt+F4 during a frame: no key line (system keys), the run ends after that frame.
    script = Script{};
    script.clock = {3.0};
    script.onFrame = [](int frame, const Display&) {
        if (frame == 2) {
            pushKey(SDL_KEYDOWN, SDLK_LALT, SDL_SCANCODE_LALT, KMOD_LALT);
            pushKey(SDL_KEYDOWN, SDLK_F4, SDL_SCANCODE_F4, KMOD_LALT);
            pushKey(SDL_KEYUP, SDLK_F4, SDL_SCANCODE_F4, KMOD_LALT);
            pushKey(SDL_KEYUP, SDLK_LALT, SDL_SCANCODE_LALT);
        }
    };
    testing::internal::CaptureStdout();
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(script.frameTimes.size(), 3u);

    // The session asking the program to quit.
    script = Script{};
    script.clock = {3.0};
    script.onFrame = [](int frame, const Display&) {
        if (frame == 1) {
            SDL_Event e{};
            e.type = SDL_QUIT;
            SDL_PushEvent(&e);
        }
    };
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(script.frameTimes.size(), 2u);
}

TEST_F(EntryTest, ThrownTextIsShownAfterTeardownAndGivesExitCodeOne) {
    script.clock = {0.5};
    script.onFrame = [](int frame, const Display&) {
        if (frame == 2) throw std::string("Failed to load cubetex.png\nfile not found");
    };
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(), 1);
    // The production goes first, then the display, then the message box shows the text.
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "CreateDevice\nshow destroyed\ndirect3d released\nError: Failed to load cubetex.png\nfile not "
              "found\n");
    EXPECT_TRUE(script.displayAliveAtTeardown);
    EXPECT_EQ(script.frameTimes.size(), 3u);
}

TEST_F(EntryTest, FailuresBeforeTheFirstFrame) {
    // In the loading phase: the music never starts.
    script.onLoad = [](const Display&) { throw std::string("could not init bass"); };
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "CreateDevice\ndirect3d released\nError: could not init bass\n");
    EXPECT_EQ(script.log, (std::vector<std::string>{"load"}));

    // In the display: nothing is loaded.
    script = Script{};
    spy.useRealDevice = false;
    spy.createDeviceResult = E_FAIL;
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "CreateDevice\ndirect3d released\nError: CreateDevice() failed\n");
    EXPECT_TRUE(script.log.empty());
}

TEST_F(EntryTest, LostDeviceEndsTheRunWithItsText) {
    // A full-screen display that disappears (switched away from) can no longer be presented to.
    script.clock = {2.0};
    script.onFrame = [](int frame, const Display& display) {
        if (frame == 1) SDL_HideWindow(win32_sdl_window(display.window));
    };
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "CreateDevice\nshow destroyed\ndirect3d released\nError: Lost device.\n");
    EXPECT_EQ(script.frameTimes.size(), 2u);  // not reset, not retried
}

TEST_F(EntryTest, FullScreenRunThatLosesTheFocusEndsWithLostDevice) {
    // Switching away from the full-screen display minimises it; the next Present reports the device lost.
    // A windowed run plays on behind other windows.
    for (const bool fullScreen : {true, false}) {
        SCOPED_TRACE(fullScreen ? "full screen" : "windowed");
        script = Script{};
        script.clock = {1.0, 2.0, 3.0, 33.0};
        script.onFrame = [](int frame, const Display& display) {
            if (frame == 1) pushWindowEvent(display.window, SDL_WINDOWEVENT_FOCUS_LOST);
        };
        testing::internal::CaptureStderr();
        EXPECT_EQ(run(fullScreen), fullScreen ? 1 : 0);
        const std::string err = testing::internal::GetCapturedStderr();
        if (fullScreen) {
            EXPECT_NE(err.find("Error: Lost device.\n"), std::string::npos) << err;
            EXPECT_EQ(script.frameTimes.size(), 3u);  // the frame after the switch is the last one drawn
        } else {
            EXPECT_EQ(err.find("Lost device."), std::string::npos) << err;
            EXPECT_EQ(script.frameTimes.size(), 4u);
            ShowCursor(FALSE);  // a windowed display shows the cursor once more on the way out
        }
    }
}

// Played live, a frame shows the sound heard when it is presented: the music's position read plus the time
// the frames before took from that read to the return of Present. Here every frame takes 10 ms on the
// monotonic clock; the first two frames show the position itself: nothing is measured before the first
// frame, and the first frame's own time (every first use after loading) is no measure of the rest.
TEST_F(EntryTest, LiveFramesShowTheSoundHeardWhenTheyArePresented) {
    monotonicSeconds = [] {
        static double now = 0.0;
        return now += 0.010;  // read, then presented: 10 ms later
    };
    script.clock = {0.0, 1.0, 2.0, 3.0, 31.995, 33.0};
    script.onFrame = [](int frame, const Display&) {
        if (frame == 2) {
            pushKey(SDL_KEYDOWN, SDLK_a, SDL_SCANCODE_A);
            pushKey(SDL_KEYUP, SDLK_a, SDL_SCANCODE_A);
        }
    };
    testing::internal::CaptureStdout();
    EXPECT_EQ(run(), 0);
    // The key line gives the frame's time; 31.995 heard is 32.005 shown, past the end: the run ends there.
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "time 2.010000\n");
    EXPECT_EQ(script.frameTimes, (std::vector<float>{0.0f, 1.0f, 2.01f, 3.01f, 32.005f}));
}
