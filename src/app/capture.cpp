#include "app/capture.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/frame_setup.h"
#include "base/byte_reader.h"
#include "platform/d3d9/readback.h"
#include "production/production.h"

// zlib's fastest level deflates a frame about four times faster than the writer's own compressor, and
// smaller; PNG writing is most of a capture's time otherwise.
#include <zlib.h>
static unsigned char* deflateFast(unsigned char* data, int length, int* outLength, int) {
    uLongf size = compressBound(uLong(length));
    unsigned char* out = static_cast<unsigned char*>(std::malloc(size));
    if (out && compress2(out, &size, data, uLong(length), 1) != Z_OK) {
        std::free(out);
        out = nullptr;
    }
    *outLength = out ? int(size) : 0;
    return out;
}
#define STBIW_ZLIB_COMPRESS deflateFast
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
#define STB_IMAGE_RESIZE_STATIC
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb/stb_image_resize.h>

extern char** environ;

namespace {

constexpr int kBackBufferWidth = 640;
constexpr int kBackBufferHeight = 480;
constexpr double kRunLength = 32.0;  // the run ends after the first frame past this time

bool parseInt(const std::string& text, int low, int high, int& out) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    long v = std::strtol(text.c_str(), nullptr, 10);
    if (v < low || v > high) return false;
    out = int(v);
    return true;
}

bool parseTimes(const std::string& text, std::vector<double>& out) {
    out.clear();
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        char* end = nullptr;
        errno = 0;
        double v = std::strtod(item.c_str(), &end);
        if (item.empty() || *end != 0 || errno != 0 || !(v >= 0.0) || v > 1e6) return false;
        out.push_back(v);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    std::sort(out.begin(), out.end());  // the beat index only moves forward
    return !out.empty();
}

std::string joinPath(const std::string& dir, const std::string& name) {
    return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

// Creates the directory and its parents; true when it exists afterwards.
bool makeDirectories(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            std::string part = path.substr(0, i);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The back buffer as RGB bytes at the asked size.
class PictureWriter {
public:
    PictureWriter(int width, int height)
        : width_(width),
          height_(height),
          argb_(size_t(kBackBufferWidth) * kBackBufferHeight),
          rgb_(size_t(kBackBufferWidth) * kBackBufferHeight * 3),
          scaled_(size_t(width) * height * 3) {}

    // Reads the back buffer and writes it as a PNG; false when either step fails.
    bool write(const std::string& path) {
        IDirect3DSurface9* back = nullptr;
        if (FAILED(g_device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back)) || !back) return false;
        HRESULT hr = d3d9_read_surface(back, argb_.data(), kBackBufferWidth * 4);
        back->Release();
        if (FAILED(hr)) return false;
        for (size_t i = 0; i < argb_.size(); ++i) {
            rgb_[3 * i + 0] = uint8_t(argb_[i] >> 16);
            rgb_[3 * i + 1] = uint8_t(argb_[i] >> 8);
            rgb_[3 * i + 2] = uint8_t(argb_[i]);
        }
        const unsigned char* out = rgb_.data();
        if (width_ != kBackBufferWidth || height_ != kBackBufferHeight) {
            if (!stbir_resize_uint8(rgb_.data(), kBackBufferWidth, kBackBufferHeight, 0, scaled_.data(),
                                    width_, height_, 0, 3))
                return false;
            out = scaled_.data();
        }
        stbi_write_force_png_filter = 2;  // "up": the cheapest filter that keeps the files small
        return stbi_write_png(path.c_str(), width_, height_, 3, out, width_ * 3) != 0;
    }

private:
    int width_, height_;
    std::vector<uint32_t> argb_;
    std::vector<uint8_t> rgb_, scaled_;
};

// Little-endian 16-bit PCM in a RIFF WAVE file.
bool writeWav(const std::string& path, const AudioPcm& pcm) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const uint64_t dataBytes64 = uint64_t(pcm.samples.size()) * 2;
    const uint32_t dataBytes = dataBytes64 > 0xFFFFFFF0u ? 0xFFFFFFF0u : uint32_t(dataBytes64);
    const uint32_t channels = uint32_t(pcm.channels), rate = uint32_t(pcm.rate);
    unsigned char h[44];
    auto put32 = [&](int at, uint32_t v) { putLe32(h + at, v); };
    auto put16 = [&](int at, uint32_t v) { putLe16(h + at, uint16_t(v)); };
    std::memcpy(h, "RIFF", 4);
    put32(4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);  // PCM
    put16(22, channels);
    put32(24, rate);
    put32(28, rate * channels * 2);
    put16(32, channels * 2);
    put16(34, 16);
    std::memcpy(h + 36, "data", 4);
    put32(40, dataBytes);
    bool ok = std::fwrite(h, 1, sizeof h, f) == sizeof h;
    for (size_t i = 0; ok && i < dataBytes / 2; i += 65536) {
        size_t n = std::min<size_t>(65536, dataBytes / 2 - i);
        unsigned char buf[2 * 65536];
        for (size_t j = 0; j < n; ++j) putLe16(buf + 2 * j, uint16_t(pcm.samples[i + j]));
        ok = std::fwrite(buf, 1, 2 * n, f) == 2 * n;
    }
    return std::fclose(f) == 0 && ok;
}

// Runs ffmpeg on the pictures and the soundtrack; a message on failure, empty on success.
std::string muxVideo(const CaptureOptions& capture) {
    std::string fps = std::to_string(capture.fps);
    std::string pictures = joinPath(capture.directory, "frame_%05d.png");
    std::string sound = joinPath(capture.directory, "soundtrack.wav");
    // ffmpeg's own MPEG-4 Part 2 and AAC encoders; bit-exact flags keep repeated captures identical.
    // A key picture once a second rather than every twelfth picture keeps the file small.
    // clang-format off
    std::vector<std::string> args = {
        "ffmpeg", "-nostdin", "-v", "error", "-y",
        "-framerate", fps, "-i", pictures, "-i", sound, "-map", "0:v", "-map", "1:a",
        "-c:v", "mpeg4", "-q:v", "4", "-g", fps, "-pix_fmt", "yuv420p",
        "-c:a", "aac", "-b:a", "192k", "-shortest", "-threads", "1",
        "-fflags", "+bitexact", "-flags:v", "+bitexact", "-flags:a", "+bitexact", "-map_metadata", "-1",
        capture.video};
    // clang-format on
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    int err = posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, argv.data(), environ);
    if (err != 0) return "ffmpeg could not be started (is it installed?); no video was made";
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
            return "ffmpeg could not be started (is it installed?); no video was made";
        return "ffmpeg failed; no video was made";
    }
    return "";
}

class Progress {
public:
    Progress(bool on, size_t total) : on_(on), total_(total), tty_(isatty(fileno(stderr)) != 0) {
        start_ = last_ = std::chrono::steady_clock::now();
    }
    void update(size_t done, double t, bool final = false) {
        if (!on_) return;
        auto now = std::chrono::steady_clock::now();
        int percent = total_ ? int(100 * std::min(done, total_) / total_) : 100;
        if (tty_) {
            if (!final && now - last_ < std::chrono::milliseconds(100)) return;
        } else if (!final && percent / 10 == shownTenth_) {
            return;  // a log, not a terminal: a line per tenth
        }
        last_ = now;
        shownTenth_ = percent / 10;
        double seconds = std::chrono::duration<double>(now - start_).count();
        char bar[41];
        int filled = percent * 40 / 100;
        for (int i = 0; i < 40; ++i) bar[i] = i < filled ? '#' : '-';
        bar[40] = 0;
        std::fprintf(stderr, "%s[%s] %3d%%  frame %zu/%zu  t %6.2f s  %5.1f frames/s%s", tty_ ? "\r" : "",
                     bar, percent, done, total_, t, seconds > 0 ? double(done) / seconds : 0.0,
                     tty_ && !final ? "" : "\n");
        std::fflush(stderr);
    }

private:
    bool on_;
    size_t total_;
    bool tty_;
    int shownTenth_ = -1;
    std::chrono::steady_clock::time_point start_, last_;
};

// The renderer's stage: the decoded music as the clock, and the loading picture kept as a file.
class CaptureStage : public Stage {
public:
    CaptureStage(const CaptureOptions& capture, PictureWriter& writer) : capture_(capture), writer_(writer) {}

    std::unique_ptr<Soundtrack> openSoundtrack(HWND, const std::string& name) override {
        auto soundtrack = std::make_unique<CaptureSoundtrack>(name);
        soundtrack_ = soundtrack.get();
        return soundtrack;
    }
    void present() override {
        std::string path = joinPath(capture_.directory, "loading.png");
        if (!writer_.write(path)) throw std::string("could not write " + path);
        if (g_device->Present(nullptr, nullptr, nullptr, nullptr) == D3DERR_DEVICELOST)
            throw std::string("Lost device.");
    }
    CaptureSoundtrack* soundtrack() const { return soundtrack_; }

private:
    const CaptureOptions& capture_;
    PictureWriter& writer_;
    CaptureSoundtrack* soundtrack_ = nullptr;  // the production's
};

// The live entry's run with the clock and the output swapped; everything is an automatic object, so a
// thrown text unwinds it in reverse order before the handler shows it.
void render(const CaptureOptions& capture, const EntryOptions& options) {
    Display display("Quorvane", kBackBufferWidth, kBackBufferHeight, D3DFMT_X8R8G8B8, false,
                    options.direct3DCreate, D3DPRESENT_INTERVAL_IMMEDIATE);
    DevicePublication publication(display.device);
    SceneCache scenes;
    TextureCache textures;
    setLinearSamplers();

    PictureWriter writer(capture.width, capture.height);
    CaptureStage stage(capture, writer);
    Production production(display.window, scenes, textures, stage);
    CaptureSoundtrack& soundtrack = *stage.soundtrack();

    std::string wav = joinPath(capture.directory, "soundtrack.wav");
    if (!writeWav(wav, soundtrack.pcm())) throw std::string("could not write " + wav);
    std::string logPath = joinPath(capture.directory, "frames.txt");
    std::unique_ptr<FILE, int (*)(FILE*)> log(std::fopen(logPath.c_str(), "w"), std::fclose);
    if (!log) throw std::string("could not write " + logPath);

    const bool chosen = !capture.times.empty();
    const size_t total = chosen ? capture.times.size() : size_t(std::floor(kRunLength * capture.fps)) + 2;
    Progress progress(capture.progress, total);
    production.start();

    bool quit = false;
    for (size_t n = 0; !quit; ++n) {
        soundtrack.setTime(chosen ? capture.times[n] : double(n) / capture.fps);
        float t = static_cast<float>(production.time());
        production.frame(t);

        char name[32];
        std::snprintf(name, sizeof name, "frame_%05zu.png", n);
        std::string path = joinPath(capture.directory, name);
        if (!writer.write(path)) throw std::string("could not write " + path);
        const Camera& camera = production.sceneCamera();
        std::fprintf(log.get(), "%zu %.6f %u %.4f %.4f %.4f %.4f\n", n, double(t), beatIndex,
                     double(camera.transform.position.x), double(camera.transform.position.y),
                     double(camera.transform.position.z), double(camera.fov));

        if (g_device->Present(nullptr, nullptr, nullptr, nullptr) == D3DERR_DEVICELOST)
            throw std::string("Lost device.");
        // The window stays responsive; closing it ends the capture early.
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            if (msg.message == WM_QUIT) quit = true;
        }
        if (chosen ? n + 1 >= capture.times.size() : t > float(kRunLength)) quit = true;
        progress.update(n + 1, double(t), quit);
    }
    if (std::fflush(log.get()) != 0) throw std::string("could not write " + logPath);
}

}  // namespace

const char* const kCaptureUsage =
    "usage: quorvane --capture DIR [--fps N] [--size WxH] [--video FILE.mp4] [--times T,T,...]\n";

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    CaptureOptions& options = line.captureOptions;
    std::vector<std::string> captureOnly;  // ignored unless --capture comes too
    auto fail = [&](const char* problem) {
        line.problem = problem;
        return line;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--windowed") {
            line.entry.fullScreen = false;
        } else if (a == "--capture") {
            if (!hasValue || args[i + 1].empty() || args[i + 1].compare(0, 2, "--") == 0)
                return fail("--capture needs a directory");
            line.capture = true;
            options.directory = args[++i];
        } else if (a == "--fps") {
            if (!hasValue || !parseInt(args[++i], 1, 1000, options.fps))
                return fail("--fps needs a whole number of frames per second from 1 to 1000");
            captureOnly.insert(captureOnly.end(), {a, args[i]});
        } else if (a == "--size") {
            const std::string v = hasValue ? args[++i] : "";
            size_t x = v.find('x');
            if (x == std::string::npos || !parseInt(v.substr(0, x), 16, 7680, options.width) ||
                !parseInt(v.substr(x + 1), 16, 4320, options.height))
                return fail("--size needs WIDTHxHEIGHT, from 16x16 to 7680x4320");
            captureOnly.insert(captureOnly.end(), {a, v});
        } else if (a == "--video") {
            if (!hasValue || args[i + 1].empty()) return fail("--video needs a file name");
            options.video = args[++i];
            captureOnly.insert(captureOnly.end(), {a, options.video});
        } else if (a == "--times") {
            if (!hasValue || !parseTimes(args[++i], options.times))
                return fail("--times needs a comma-separated list of times in seconds");
            captureOnly.insert(captureOnly.end(), {a, args[i]});
        } else {
            line.ignored.push_back(a);
        }
    }
    if (!line.capture) line.ignored.insert(line.ignored.end(), captureOnly.begin(), captureOnly.end());
    return line;
}

int qv_capture(const CaptureOptions& capture, const EntryOptions& options) {
    if (!makeDirectories(capture.directory)) {
        std::fprintf(stderr, "quorvane: cannot create the directory %s\n", capture.directory.c_str());
        return 1;
    }
    // Pictures of an earlier capture would otherwise run on after this one's in the video.
    for (int n = 0;; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "frame_%05d.png", n);
        if (unlink(joinPath(capture.directory, name).c_str()) != 0) break;
    }
    try {
        render(capture, options);
    } catch (std::string text) {
        MessageBoxA(nullptr, text.c_str(), nullptr, MB_OK);
        return 1;
    }
    if (!capture.video.empty()) {
        std::string problem = muxVideo(capture);
        if (!problem.empty()) {
            std::fprintf(stderr, "quorvane: %s\n", problem.c_str());
            return 1;
        }
    }
    return 0;
}
