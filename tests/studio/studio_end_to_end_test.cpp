// The built program's studio on a private X server with the dummy sound driver, on a copy of the default
// data set, driven by key presses through the server's XTEST extension and read from its standard output
// (the "time" line of every key press, the reload lines) and from the screen: Space stops the picture, a
// picture written while paused shows with its reload line, a broken material keeps the show running and
// names the file, Right moves the time by one second, Escape ends it with 0.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "studio_support.h"
#include "xvfb.h"
// Last: Xlib's macros (None, Bool) would clash with the test framework's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace {

// Generous: the machine may be busy with other builds, and llvmpipe draws a frame in tens of milliseconds
// at best.
constexpr double kPatience = 60.0;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void sleepSeconds(double s) {
    std::this_thread::sleep_for(std::chrono::duration<double>(s));
}

// The keyboard and screen of the server, through libX11 and libXtst loaded at run time.
class XClient {
public:
    explicit XClient(const std::string& display) {
        xlib_ = dlopen("libX11.so.6", RTLD_NOW);
        xtst_ = dlopen("libXtst.so.6", RTLD_NOW);
        if (!xlib_ || !xtst_) return;
        open_ = reinterpret_cast<Display* (*)(const char*)>(dlsym(xlib_, "XOpenDisplay"));
        close_ = reinterpret_cast<int (*)(Display*)>(dlsym(xlib_, "XCloseDisplay"));
        sync_ = reinterpret_cast<int (*)(Display*, Bool)>(dlsym(xlib_, "XSync"));
        keycode_ = reinterpret_cast<KeyCode (*)(Display*, KeySym)>(dlsym(xlib_, "XKeysymToKeycode"));
        warp_ = reinterpret_cast<int (*)(Display*, Window, Window, int, int, unsigned, unsigned, int, int)>(
            dlsym(xlib_, "XWarpPointer"));
        image_ = reinterpret_cast<XImage* (*)(Display*, Drawable, int, int, unsigned, unsigned, unsigned long,
                                              int)>(dlsym(xlib_, "XGetImage"));
        fakeKey_ = reinterpret_cast<int (*)(Display*, unsigned, Bool, unsigned long)>(
            dlsym(xtst_, "XTestFakeKeyEvent"));
        if (open_ && close_ && sync_ && keycode_ && warp_ && image_ && fakeKey_)
            display_ = open_(display.c_str());
    }
    ~XClient() {
        if (display_) close_(display_);
    }
    bool ok() const { return display_ != nullptr; }

    // The pointer over the window (top-left, 640 by 480): without a window manager the keys go to the
    // window under the pointer.
    void pointAtWindow() {
        warp_(display_, 0, DefaultRootWindow(display_), 0, 0, 0, 0, 320, 240);
        sync_(display_, False);
    }
    void press(KeySym key) {
        const unsigned code = keycode_(display_, key);
        fakeKey_(display_, code, True, 0);
        sync_(display_, False);
        sleepSeconds(0.05);
        fakeKey_(display_, code, False, 0);
        sync_(display_, False);
    }
    // The screen's pixels.
    std::vector<char> screen() {
        XImage* image = image_(display_, DefaultRootWindow(display_), 0, 0, 640, 480, AllPlanes, ZPixmap);
        if (!image) return {};
        std::vector<char> pixels(image->data, image->data + size_t(image->bytes_per_line) * image->height);
        XDestroyImage(image);
        return pixels;
    }

private:
    void* xlib_ = nullptr;
    void* xtst_ = nullptr;
    Display* (*open_)(const char*) = nullptr;
    int (*close_)(Display*) = nullptr;
    int (*sync_)(Display*, Bool) = nullptr;
    KeyCode (*keycode_)(Display*, KeySym) = nullptr;
    int (*warp_)(Display*, Window, Window, int, int, unsigned, unsigned, int, int) = nullptr;
    XImage* (*image_)(Display*, Drawable, int, int, unsigned, unsigned, unsigned long, int) = nullptr;
    int (*fakeKey_)(Display*, unsigned, Bool, unsigned long) = nullptr;
    Display* display_ = nullptr;
};

// The program as a child process, its standard output into a file; killed if the test ends first.
class Studio {
public:
    Studio(const std::string& display, const std::string& folder, const std::string& output)
        : output_(output) {
        pid_ = fork();
        if (pid_ == 0) {
            if (!freopen(output.c_str(), "w", stdout) || !freopen((output + ".err").c_str(), "w", stderr))
                _exit(126);
            setenv("DISPLAY", display.c_str(), 1);
            setenv("SDL_VIDEODRIVER", "x11", 1);
            setenv("SDL_AUDIODRIVER", "dummy", 1);
            unsetenv("QV_HEADLESS_TEST");  // a real display, as a maker has
            const std::string program = std::string(QV_BINARY_DIR) + "/quorvane";
            execl(program.c_str(), program.c_str(), "--studio", folder.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Studio() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    std::string output() const { return qvtest::readFile(output_); }
    std::string errors() const { return qvtest::readFile(output_ + ".err"); }

    // Waits until the output holds `count` lines starting with `prefix`; returns the last of them, or an
    // empty text on giving up.
    std::string waitForLine(const std::string& prefix, size_t count = 1) const {
        const double end = now() + kPatience;
        while (now() < end) {
            std::vector<std::string> found = lines(prefix);
            if (found.size() >= count) return found[count - 1];
            sleepSeconds(0.05);
        }
        return {};
    }
    std::vector<std::string> lines(const std::string& prefix) const {
        std::vector<std::string> found;
        const std::string text = output();
        for (size_t at = 0; at < text.size();) {
            size_t end = text.find('\n', at);
            if (end == std::string::npos) break;  // a line still being written
            if (text.compare(at, prefix.size(), prefix) == 0) found.push_back(text.substr(at, end - at));
            at = end + 1;
        }
        return found;
    }
    // The exit code once it ended within the patience, else -1.
    int exitCode() {
        const double end = now() + kPatience;
        while (now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            sleepSeconds(0.05);
        }
        return -1;
    }

private:
    std::string output_;
    pid_t pid_ = -1;
    bool exited_ = false;
};

}  // namespace

TEST(StudioEndToEnd, PauseReloadWhilePausedBrokenMaterialSeekAndEscapeOnARealXServer) {
    if (!studiotest::haveDefaultData()) GTEST_SKIP() << "the default data set (assets/data) is absent";
    qvtest::Xvfb server;
    if (server.display.empty())
        GTEST_SKIP() << "Xvfb is not installed or did not start (Debian package xvfb)";
    XClient x(server.display);
    if (!x.ok()) GTEST_SKIP() << "libX11 or libXtst is not installed";
    studiotest::DataCopy data;
    ASSERT_TRUE(data.ok());
    Studio studio(server.display, data.data(), data.folder() + "/studio.out");
    ASSERT_NE(studio.waitForLine("studio: playing"), "") << studio.output() << studio.errors();
    x.pointAtWindow();

    // Every key prints the time of the frame it came with.
    size_t keys = 0;
    auto timeAfter = [&](KeySym key) {
        x.press(key);
        const std::string line = studio.waitForLine("time ", ++keys);
        return line.empty() ? -1.0 : std::atof(line.c_str() + 5);
    };
    const double first = timeAfter(XK_x);
    ASSERT_GE(first, 0.0) << "no time line for a key\n" << studio.output() << studio.errors();
    sleepSeconds(1.0);
    EXPECT_GT(timeAfter(XK_x), first) << "the time does not move while playing";

    // Overlay off (its frame rate would change the picture), then pause: the time and the picture stand.
    timeAfter(XK_o);
    const double paused = timeAfter(XK_space);
    sleepSeconds(1.0);
    EXPECT_DOUBLE_EQ(timeAfter(XK_x), paused);
    const std::vector<char> still = x.screen();
    sleepSeconds(0.5);
    ASSERT_FALSE(still.empty());
    EXPECT_TRUE(x.screen() == still) << "the picture moves while paused";

    // A picture written while paused: its reload line, then the picture changes with the time standing.
    const std::string grid = qvtest::readFile(data.file("grid.png"));
    ASSERT_TRUE(qvtest::writeFile(data.file("stone.png.part"), grid));
    ASSERT_EQ(::rename(data.file("stone.png.part").c_str(), data.file("stone.png").c_str()), 0);
    const std::string reloaded = studio.waitForLine("reloaded stone.png (texture) in ");
    ASSERT_NE(reloaded, "") << studio.output() << studio.errors();
    std::printf("studio said: %s\n", reloaded.c_str());
    sleepSeconds(0.5);
    EXPECT_FALSE(x.screen() == still) << "the reloaded picture does not show";
    EXPECT_DOUBLE_EQ(timeAfter(XK_x), paused);

    // A broken material: its error names the file and line, and the show goes on.
    const std::string material = qvtest::readFile(data.file("stone.mat"));
    const size_t cull = material.find("\"ccw\"");
    ASSERT_NE(cull, std::string::npos);
    ASSERT_TRUE(qvtest::writeFile(data.file("stone.mat"),
                                  material.substr(0, cull) + "\"xyz\"" + material.substr(cull + 5)));
    EXPECT_EQ(studio.waitForLine("reload failed: "),
              "reload failed: stone.mat:8: invalid cull mode \"xyz\" (valid: none, cw, ccw)")
        << studio.output();
    EXPECT_DOUBLE_EQ(timeAfter(XK_x), paused);

    // Right: one second on, still paused.
    timeAfter(XK_Right);
    EXPECT_NEAR(timeAfter(XK_x), paused + 1.0, 1e-4);

    x.press(XK_Escape);
    EXPECT_EQ(studio.exitCode(), 0) << studio.output() << studio.errors();
}
