#include "app/capture.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/frame_loop.h"
#include "app/frame_setup.h"
#include "base/byte_reader.h"
#include "platform/d3d9/readback.h"
#include "production/production.h"
#include "resources/diagnostics.h"

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

extern char** environ;

namespace {

const char* const kNoFfmpeg = "ffmpeg could not be started (is it installed?); no video was made";

bool parseInt(const std::string& text, int low, int high, int& out) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    long v = std::strtol(text.c_str(), nullptr, 10);
    if (v < low || v > high) return false;
    out = int(v);
    return true;
}

// A frame rate: a whole number of frames a second, or a fraction of two whole numbers ("60000/1001"); from
// 1 / 1000000 to 1000 frames a second.
bool parseRate(const std::string& text, FrameRate& out) {
    const size_t slash = text.find('/');
    int num = 0, den = 1;
    if (!parseInt(text.substr(0, slash), 1, 1000000, num)) return false;
    if (slash != std::string::npos && !parseInt(text.substr(slash + 1), 1, 1000000, den)) return false;
    if (int64_t(num) > 1000 * int64_t(den)) return false;
    out = FrameRate(num, den);
    return true;
}

// A time in seconds from 0 to 1000000, as a decimal number.
bool parseSeconds(const std::string& text, double& out) {
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != 0 || errno != 0 || !(v >= 0.0) || v > 1e6) return false;
    out = v;
    return true;
}

// "A:B", two times in seconds, A not after B.
bool parseSpan(const std::string& text, TimeSpan& out) {
    const size_t colon = text.find(':');
    return colon != std::string::npos && parseSeconds(text.substr(0, colon), out.from) &&
           parseSeconds(text.substr(colon + 1), out.to) && out.from <= out.to;
}

bool parseTimes(const std::string& text, std::vector<double>& out) {
    out.clear();
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        double v = 0;
        if (!parseSeconds(item, v)) return false;
        out.push_back(v);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    std::sort(out.begin(), out.end());  // frames are numbered in the order of their times
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

// Whether files can be made in the directory: one is made and removed again.
bool writableDirectory(const std::string& dir) {
    std::string probe = joinPath(dir, ".quorvane-" + std::to_string(getpid()));
    int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    close(fd);
    unlink(probe.c_str());
    return true;
}

// Whether `program` is an executable file in a folder of PATH, as posix_spawnp would find it.
bool onPath(const char* program) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        size_t colon = folders.find(':', start);
        std::string folder =
            folders.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        std::string file = joinPath(folder.empty() ? "." : folder, program);
        struct stat st;
        if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(file.c_str(), X_OK) == 0)
            return true;
        if (colon == std::string::npos) return false;
        start = colon + 1;
    }
}

// Removes every frame_NNNNN.png and the frames.txt of an earlier capture in the directory.
void removeEarlierCapture(const std::string& dir) {
    std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(dir.c_str()), closedir);
    std::vector<std::string> names;
    while (folder) {
        const dirent* entry = readdir(folder.get());
        if (!entry) break;
        const std::string name = entry->d_name;
        bool frame =
            name.size() == 15 && name.compare(0, 6, "frame_") == 0 && name.compare(11, 4, ".png") == 0;
        for (size_t i = 6; frame && i < 11; ++i) frame = name[i] >= '0' && name[i] <= '9';
        if (frame) names.push_back(name);
    }
    names.push_back("frames.txt");
    for (const std::string& name : names) unlink(joinPath(dir, name).c_str());
}

// Reads the width by height back buffer into `bgra` (bytes B, G, R, A); false when it fails.
bool readBackBuffer(std::vector<uint32_t>& bgra, int width, int height) {
    bgra.resize(size_t(width) * height);
    IDirect3DSurface9* back = nullptr;
    if (FAILED(g_device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back)) || !back) return false;
    D3DSURFACE_DESC desc{};
    if (FAILED(back->GetDesc(&desc)) || desc.Width != UINT(width) || desc.Height != UINT(height)) {
        back->Release();
        return false;
    }
    HRESULT hr = d3d9_read_surface(back, bgra.data(), UINT(width) * 4);
    back->Release();
    return SUCCEEDED(hr);
}

// A back buffer's pictures (rendered at the asked size): BGRA for the video, RGB for the PNG files.
class PictureFiles {
public:
    PictureFiles(int width, int height) : width_(width), height_(height) {}

    // The picture as BGRA bytes.
    const uint8_t* bgra(const std::vector<uint32_t>& backBuffer) {
        return reinterpret_cast<const uint8_t*>(backBuffer.data());
    }

    // Writes a BGRA picture of the asked size as an RGB PNG; false when it fails.
    bool writePng(const uint8_t* bgra, const std::string& path) {
        rgb_.resize(size_t(width_) * height_ * 3);
        for (size_t i = 0, n = size_t(width_) * height_; i < n; ++i) {
            rgb_[3 * i + 0] = bgra[4 * i + 2];
            rgb_[3 * i + 1] = bgra[4 * i + 1];
            rgb_[3 * i + 2] = bgra[4 * i + 0];
        }
        stbi_write_force_png_filter = 2;  // "up": the cheapest filter that keeps the files small
        return stbi_write_png(path.c_str(), width_, height_, 3, rgb_.data(), width_ * 3) != 0;
    }

    size_t frameBytes() const { return size_t(width_) * height_ * 4; }

private:
    int width_, height_;
    std::vector<uint8_t> rgb_;
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

// The sound of frames [first, end) of a run at `rate`: from the first frame's time to the end of the last
// frame's interval, each end at the nearest sample, silent past the end of the music.
AudioPcm soundOfFrames(const AudioPcm& music, FrameRate rate, size_t first, size_t end) {
    AudioPcm cut;
    cut.rate = music.rate;
    cut.channels = music.channels;
    if (music.rate <= 0 || music.channels <= 0) return cut;
    const uint64_t from = rate.sample(first, music.rate), to = rate.sample(end, music.rate);
    const size_t channels = size_t(music.channels);
    cut.samples.assign(size_t(to - from) * channels, 0);
    const uint64_t have = music.frames();
    if (from < have) {
        const size_t frames = size_t(std::min(to, have) - from);
        std::copy_n(music.samples.begin() + std::ptrdiff_t(from * channels), frames * channels,
                    cut.samples.begin());
    }
    return cut;
}

// Pictures averaged in linear light: each sub-frame's sRGB channels decoded to linear values and summed;
// the mean is encoded to sRGB again and rounded to the nearest level (halves up).
class LinearLightAverage {
public:
    LinearLightAverage() {
        for (int level = 0; level < 256; ++level) linear_[level] = decode(level / 255.0);
        // The mean rounds up to level k + 1 from the linear value of the encoded k + 1/2 on.
        for (int k = 0; k < 255; ++k) roundsUp_[k] = decode((k + 0.5) / 255.0);
    }

    // Adds a picture of the same size as the ones before it (bytes B, G, R, A).
    void add(const std::vector<uint32_t>& bgra) {
        sum_.resize(bgra.size() * 3, 0.0);
        for (size_t i = 0; i < bgra.size(); ++i)
            for (size_t c = 0; c < 3; ++c) sum_[3 * i + c] += linear_[(bgra[i] >> (8 * c)) & 0xFF];
        ++count_;
    }

    // The mean of the pictures added since the last call, opaque, into `bgra`; starts the next mean.
    void take(std::vector<uint32_t>& bgra) {
        bgra.resize(sum_.size() / 3);
        const double scale = count_ > 0 ? 1.0 / count_ : 0.0;
        for (size_t i = 0; i < bgra.size(); ++i) {
            uint32_t pixel = 0xFF000000u;
            for (size_t c = 0; c < 3; ++c) {
                const double mean = sum_[3 * i + c] * scale;
                const uint32_t level =
                    uint32_t(std::upper_bound(roundsUp_, roundsUp_ + 255, mean) - roundsUp_);
                pixel |= level << (8 * c);
            }
            bgra[i] = pixel;
        }
        std::fill(sum_.begin(), sum_.end(), 0.0);
        count_ = 0;
    }

private:
    // The sRGB transfer function's inverse (IEC 61966-2-1), from 0..1 to linear 0..1.
    static double decode(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }

    double linear_[256];
    double roundsUp_[255];
    std::vector<double> sum_;
    int count_ = 0;
};

// A failure of the video (ffmpeg missing, failing or no longer reading); the capture ends with its text.
struct VideoFailure {
    std::string text;
};

// ffmpeg making the video from raw BGRA frames written into a pipe and the soundtrack WAV: H.264 (x264,
// constant quality) in yuv420p with AAC sound, the index at the front of the MP4 so that a browser can play
// it while it loads; or, for a ".mkv", FFV1 in the frames' own 8-bit RGB (no conversion at all: the fourth
// byte is ignored) with FLAC sound, every picture a key frame with checksums on its slices, as archives
// keep video. One encoder thread, the bit-exact flags and no metadata keep repeated captures identical
// byte for byte.
class VideoEncoder {
public:
    VideoEncoder(const CaptureOptions& capture, const std::string& soundtrack) : path_(capture.video) {
        std::string size = std::to_string(capture.width) + "x" + std::to_string(capture.height);
        std::string fps = std::to_string(capture.fps.num);
        if (capture.fps.den != 1) fps += "/" + std::to_string(capture.fps.den);
        const bool lossless = losslessVideo(path_);
        // clang-format off
        std::vector<std::string> args = {
            "ffmpeg", "-nostdin", "-v", "error", "-y",
            "-f", "rawvideo", "-pixel_format", lossless ? "bgr0" : "bgra", "-video_size", size,
            "-framerate", fps, "-i", "pipe:0",
            "-i", soundtrack, "-map", "0:v", "-map", "1:a"};
        const std::vector<std::string> codecs = lossless ? std::vector<std::string>{
            "-c:v", "ffv1", "-level", "3", "-g", "1", "-slicecrc", "1", "-pix_fmt", "bgr0", "-threads", "1",
            "-c:a", "flac"} : std::vector<std::string>{
            "-c:v", "libx264", "-preset", "medium", "-crf", "18", "-pix_fmt", "yuv420p", "-threads", "1",
            "-c:a", "aac", "-b:a", "192k"};
        args.insert(args.end(), codecs.begin(), codecs.end());
        args.insert(args.end(), {"-shortest",
            "-fflags", "+bitexact", "-flags:v", "+bitexact", "-flags:a", "+bitexact", "-map_metadata", "-1"});
        if (!lossless) args.insert(args.end(), {"-movflags", "+faststart"});
        args.push_back(path_);
        // clang-format on
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);

        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            throw VideoFailure{"could not make a pipe to ffmpeg; no video was made"};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
        // The capture ignores SIGPIPE (a closed pipe is an error it reports); ffmpeg gets the default back.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        int err = posix_spawnp(&pid_, "ffmpeg", &actions, &attributes, argv.data(), environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[0]);
        if (err != 0) {
            close(fds[1]);
            pid_ = -1;
            throw VideoFailure{kNoFfmpeg};
        }
        pipe_ = fds[1];
    }

    // Without finish(), as when rendering failed: ffmpeg is stopped and its unfinished file removed.
    ~VideoEncoder() {
        if (pid_ < 0) return;
        kill(pid_, SIGKILL);
        closePipe();
        wait();
        removeUnfinished();
    }
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // Hands ffmpeg one frame; false when it no longer reads (it ended or failed).
    bool write(const uint8_t* data, size_t length) {
        while (length > 0) {
            ssize_t n = ::write(pipe_, data, length);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data += n;
            length -= size_t(n);
        }
        return true;
    }

    // Ends the input and waits for ffmpeg to finish the file; throws when it did not.
    void finish(bool complete) {
        closePipe();
        int status = wait();
        pid_ = -1;
        if (complete && WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
        removeUnfinished();
        if (WIFEXITED(status) && WEXITSTATUS(status) == 127) throw VideoFailure{kNoFfmpeg};
        if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
            throw VideoFailure{"ffmpeg failed with exit status " + std::to_string(WEXITSTATUS(status)) +
                               "; no video was made"};
        if (WIFSIGNALED(status))
            throw VideoFailure{"ffmpeg was ended by signal " + std::to_string(WTERMSIG(status)) +
                               "; no video was made"};
        throw VideoFailure{"ffmpeg stopped reading frames before the end; no video was made"};
    }

private:
    // Only a regular file is removed: a video asked for at /dev/null or a named pipe stays as it was.
    void removeUnfinished() const {
        struct stat st;
        if (stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) std::remove(path_.c_str());
    }
    void closePipe() {
        if (pipe_ >= 0) close(pipe_);
        pipe_ = -1;
    }
    int wait() {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        return status;
    }

    std::string path_;
    pid_t pid_ = -1;
    int pipe_ = -1;
};

// The frames' way to the files on a thread of its own, so that rendering the next frame overlaps with
// converting, writing the PNG and handing the last one to ffmpeg. A few frames wait at most; push() blocks
// while they do. Where no thread can be started (a browser page has none) each frame is written as it comes.
class FrameWriter {
public:
    FrameWriter(const CaptureOptions& capture, VideoEncoder* video)
        : pictures_(capture.width, capture.height), video_(video) {
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
        }
    }
    ~FrameWriter() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    // An empty buffer to read the next back buffer into.
    std::vector<uint32_t> buffer() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (spare_.empty()) return {};
        std::vector<uint32_t> b = std::move(spare_.back());
        spare_.pop_back();
        return b;
    }

    // Queues a back buffer for the PNG at `png` (none when empty) and the video. Throws the writer's text
    // once a frame could not be written, VideoFailure when ffmpeg no longer reads.
    void push(std::vector<uint32_t> backBuffer, std::string png) {
        if (!thread_.joinable()) {
            rethrow();
            Item item{std::move(backBuffer), std::move(png)};
            write(item);
            rethrow();
            return;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return queue_.size() < kDepth || failed(); });
        rethrow();
        queue_.push_back(Item{std::move(backBuffer), std::move(png)});
        changed_.notify_all();
    }

    // Waits until every queued frame is written; throws as push() does.
    void drain() {
        if (!thread_.joinable()) return rethrow();
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return (queue_.empty() && !busy_) || failed(); });
        rethrow();
    }

private:
    static constexpr size_t kDepth = 3;
    struct Item {
        std::vector<uint32_t> pixels;
        std::string png;
    };

    bool failed() const { return !error_.empty() || videoStopped_; }
    void rethrow() {
        if (!error_.empty()) throw std::string(error_);
        if (videoStopped_) throw VideoFailure{"ffmpeg stopped reading frames"};
    }

    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return !queue_.empty() || closing_; });
            if (queue_.empty()) return;
            Item item = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
            lock.unlock();
            write(item);
            lock.lock();
            busy_ = false;
            if (failed()) queue_.clear();
            changed_.notify_all();
        }
    }

    // Converts one frame, writes its PNG and hands it to the video; the outcome and the emptied buffer are
    // kept under the lock.
    void write(Item& item) {
        std::string error;
        bool videoStopped = false;
        const uint8_t* bgra = pictures_.bgra(item.pixels);
        if (!item.png.empty() && !pictures_.writePng(bgra, item.png)) error = "could not write " + item.png;
        if (error.empty() && video_ && !video_->write(bgra, pictures_.frameBytes())) videoStopped = true;
        std::lock_guard<std::mutex> lock(mutex_);
        spare_.push_back(std::move(item.pixels));
        if (!error.empty() && error_.empty()) error_ = error;
        if (videoStopped) videoStopped_ = true;
    }

    PictureFiles pictures_;
    VideoEncoder* video_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item> queue_;
    std::vector<std::vector<uint32_t>> spare_;
    bool busy_ = false;
    bool closing_ = false;
    std::string error_;
    bool videoStopped_ = false;
    std::thread thread_;  // started once everything it uses is built; not joinable where there are no threads
};

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

// The renderer's stage: the decoded music as the clock, and the loading picture kept as a file before it is
// presented.
class CaptureStage : public RenderStage {
public:
    explicit CaptureStage(const CaptureOptions& capture) : capture_(capture) {}
    void present() override {
        std::string path = joinPath(capture_.directory, "loading.png");
        std::vector<uint32_t> backBuffer;
        PictureFiles pictures(capture_.width, capture_.height);
        if (!readBackBuffer(backBuffer, capture_.width, capture_.height) ||
            !pictures.writePng(pictures.bgra(backBuffer), path))
            throw std::string("could not write " + path);
        RenderStage::present();
    }

private:
    const CaptureOptions& capture_;
};

// The pictures into files and the video: each frame's back buffer read back and queued for its PNG and
// ffmpeg, its line in the frame log, and the progress bar. With sub-frames the clock's steps are averaged
// into each frame, whose log line is that of its first sub-frame (the frame's own time).
class FileSink : public PictureSink {
public:
    FileSink(const CaptureOptions& capture, const RenderClock& clock, const Production& production,
             FrameWriter& writer, FILE* log, Progress& progress)
        : capture_(capture),
          clock_(clock),
          production_(production),
          writer_(writer),
          log_(log),
          progress_(progress) {}

    void take(size_t step, float t) override {
        const size_t n = clock_.frameNumber(step);
        const bool blur = capture_.motionBlur > 1;
        std::vector<uint32_t> backBuffer;
        if (!blur) backBuffer = writer_.buffer();
        if (!readBackBuffer(blur ? subFrame_ : backBuffer, capture_.width, capture_.height))
            throw std::string("could not read frame " + std::to_string(n));
        if (clock_.firstSubFrame(step)) {
            const Camera& camera = production_.sceneCamera();
            std::fprintf(log_, "%zu %.6f %u %.4f %.4f %.4f %.4f\n", n, double(t), production_.beatIndex(),
                         double(camera.transform.position.x), double(camera.transform.position.y),
                         double(camera.transform.position.z), double(camera.fov));
        }
        if (blur) {
            average_.add(subFrame_);
            if (!clock_.lastSubFrame(step)) return;
            backBuffer = writer_.buffer();
            average_.take(backBuffer);
        }
        std::string png;
        if (capture_.frames) {
            char name[32];
            std::snprintf(name, sizeof name, "frame_%05zu.png", n);
            png = joinPath(capture_.directory, name);
        }
        writer_.push(std::move(backBuffer), std::move(png));
    }
    void shown(size_t step, float, bool last) override {
        if (!clock_.lastSubFrame(step)) return;
        frames = clock_.frameIndex(step) + 1;
        progress_.update(frames, clock_.time(step), last);
    }

    size_t frames = 0;

private:
    const CaptureOptions& capture_;
    const RenderClock& clock_;
    const Production& production_;
    FrameWriter& writer_;
    FILE* log_;
    Progress& progress_;
    std::vector<uint32_t> subFrame_;
    LinearLightAverage average_;
};

struct CaptureSummary {
    size_t frames = 0;
    double seconds = 0;  // from the first frame until every file was complete
};

// The live entry's run with the clock and the output swapped; everything is an automatic object, so a
// thrown text unwinds it in reverse order before the handler shows it.
CaptureSummary render(const CaptureOptions& capture, const EntryOptions& options) {
    FrameSetup setup(kProductionMusic, false, options.direct3DCreate, D3DPRESENT_INTERVAL_IMMEDIATE,
                     capture.width, capture.height);
    auto captureStage = std::make_unique<CaptureStage>(capture);
    CaptureStage& stage = *captureStage;
    ProductionShow show(Stagehand{setup.display, setup.scenes, setup.textures}, std::move(captureStage));
    CaptureSoundtrack& soundtrack = *stage.soundtrack();

    RenderClock clock(soundtrack, capture.fps, capture.times, capture.range, capture.motionBlur);
    std::string wav = joinPath(capture.directory, "soundtrack.wav");
    const size_t first = clock.frameNumber(0);
    if (!writeWav(wav, capture.range.whole()
                           ? soundtrack.pcm()
                           : soundOfFrames(soundtrack.pcm(), capture.fps, first, first + clock.frames())))
        throw std::string("could not write " + wav);
    std::string logPath = joinPath(capture.directory, "frames.txt");
    std::unique_ptr<FILE, int (*)(FILE*)> log(std::fopen(logPath.c_str(), "w"), std::fclose);
    if (!log) throw std::string("could not write " + logPath);

    std::unique_ptr<VideoEncoder> video;
    if (!capture.video.empty()) video = std::make_unique<VideoEncoder>(capture, wav);
    FrameWriter writer(capture, video.get());  // finishes its frames before the encoder goes

    Progress progress(capture.progress, clock.frames());
    FileSink files(capture, clock, show.production(), writer, log.get(), progress);
    const auto started = std::chrono::steady_clock::now();

    CaptureSummary summary;
    try {
        // The window stays responsive: closing it ends the capture early. Keys do nothing.
        runFrames(show, clock, files, LoopKeys{});
        summary.frames = files.frames;
        writer.drain();
    } catch (const VideoFailure&) {
        if (video) video->finish(false);  // throws with what became of ffmpeg
        throw;
    }
    if (std::fflush(log.get()) != 0) throw std::string("could not write " + logPath);
    if (video) video->finish(true);
    summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return summary;
}

}  // namespace

bool losslessVideo(const std::string& path) {
    if (path.size() < 4) return false;
    std::string end = path.substr(path.size() - 4);
    for (char& c : end) c = char(std::tolower(static_cast<unsigned char>(c)));
    return end == ".mkv";
}

const char* const kCaptureUsage =
    "usage: quorvane --capture DIR [--fps N|N/D] [--size WxH | --scale K]\n"
    "                [--video FILE.mp4|FILE.mkv [--frames]] [--times T,T,... | --range A:B] [--motion-blur "
    "N]\n"
    "       quorvane [--windowed] [--scale K]\n"
    "       quorvane --studio [DIR]\n";

namespace {
const char* const kOptions[] = {"--windowed", "--scale",  "--studio", "--capture", "--fps",         "--size",
                                "--video",    "--frames", "--times",  "--range",   "--motion-blur", nullptr};
}  // namespace

std::string ignoredArguments(const std::vector<std::string>& ignored) {
    std::string list;
    for (const std::string& a : ignored) {
        list += (list.empty() ? "" : " ") + a;
        if (a.size() < 2 || a[0] != '-') continue;  // a value, or a word
        const char* near = nearestName(a, kOptions);
        if (near && a != near) list += std::string(" (did you mean ") + near + "?)";
    }
    return list;
}

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    CaptureOptions& options = line.captureOptions;
    std::vector<std::string> captureOnly;  // ignored unless --capture comes too
    bool framesAsked = false, sizeAsked = false;
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
            if (!hasValue || !parseRate(args[++i], options.fps))
                return fail(
                    "--fps needs frames per second as a whole number or a fraction N/D (60000/1001), "
                    "above 0 and at most 1000");
            captureOnly.insert(captureOnly.end(), {a, args[i]});
        } else if (a == "--range") {
            if (!hasValue || !parseSpan(args[++i], options.range))
                return fail("--range needs START:END in seconds (16:18), START not after END");
            captureOnly.insert(captureOnly.end(), {a, args[i]});
        } else if (a == "--motion-blur") {
            if (!hasValue || !parseInt(args[++i], 1, 64, options.motionBlur))
                return fail("--motion-blur needs a whole number of sub-frames from 1 to 64");
            captureOnly.insert(captureOnly.end(), {a, args[i]});
        } else if (a == "--size") {
            const std::string v = hasValue ? args[++i] : "";
            size_t x = v.find('x');
            if (x == std::string::npos || !parseInt(v.substr(0, x), 16, 7680, options.width) ||
                !parseInt(v.substr(x + 1), 16, 4320, options.height))
                return fail("--size needs WIDTHxHEIGHT, from 16x16 to 7680x4320");
            captureOnly.insert(captureOnly.end(), {a, v});
            sizeAsked = true;
        } else if (a == "--scale") {
            char* end = nullptr;
            const std::string v = hasValue ? args[++i] : "";
            line.entry.scale = std::strtod(v.c_str(), &end);
            if (v.empty() || *end != 0 || !(line.entry.scale >= 0.25 && line.entry.scale <= 12.0))
                return fail("--scale needs a factor from 0.25 to 12");
        } else if (a == "--video") {
            if (!hasValue || args[i + 1].empty()) return fail("--video needs a file name");
            options.video = args[++i];
            captureOnly.insert(captureOnly.end(), {a, options.video});
        } else if (a == "--frames") {
            framesAsked = true;
            captureOnly.push_back(a);
        } else if (a == "--times") {
            if (!hasValue || !parseTimes(args[++i], options.times))
                return fail("--times needs a comma-separated list of times in seconds");
            captureOnly.insert(captureOnly.end(), {a, args[i]});
        } else if (a == "--studio") {
            line.studio = true;
            const bool folder = hasValue && !args[i + 1].empty() && args[i + 1].compare(0, 2, "--") != 0;
            line.studioFolder = folder ? args[++i] : "data";
        } else {
            line.ignored.push_back(a);
        }
    }
    if (line.studio && line.capture) return fail("--studio and --capture do not go together");
    if (!line.capture) {
        line.ignored.insert(line.ignored.end(), captureOnly.begin(), captureOnly.end());
        return line;
    }
    // A scale sizes the pictures as --size would.
    if (line.entry.scale > 0) {
        if (sizeAsked) return fail("--size and --scale both set the pictures' size; give one");
        options.width = int(std::lround(640.0 * line.entry.scale));
        options.height = int(std::lround(480.0 * line.entry.scale));
    }
    // PNG frames are what a capture is without a video; with one, only when asked for.
    options.frames = options.video.empty() || framesAsked;
    if (!options.video.empty() && !losslessVideo(options.video) &&
        (options.width % 2 != 0 || options.height % 2 != 0))
        return fail("--video needs an even width and height (--size) for an MP4; an .mkv takes any");
    if (!options.range.whole()) {
        if (!options.times.empty()) return fail("--range and --times do not go together");
        if (framesIn(options.fps, options.range).count == 0)
            return fail("--range holds no frame of the run at this rate (the run ends after 32 seconds)");
    }
    return line;
}

int qv_capture(const CaptureOptions& capture, const EntryOptions& options) {
    // What can fail before the first frame is found out before anything of an earlier capture is removed.
    try {
        checkDataSet();
    } catch (std::string text) {
        MessageBoxA(nullptr, text.c_str(), nullptr, MB_OK);
        return 1;
    }
    if (!makeDirectories(capture.directory)) {
        std::fprintf(stderr, "quorvane: cannot create the directory %s\n", capture.directory.c_str());
        return 1;
    }
    if (!writableDirectory(capture.directory)) {
        std::fprintf(stderr, "quorvane: cannot write into the directory %s\n", capture.directory.c_str());
        return 1;
    }
    if (!capture.video.empty() && !onPath("ffmpeg")) {
        std::fprintf(stderr, "quorvane: %s\n", kNoFfmpeg);
        return 1;
    }
    // The pictures and frame log of an earlier capture would otherwise mix with this one's.
    removeEarlierCapture(capture.directory);

    // A closed pipe to ffmpeg shows as a failed write, which the capture reports, not as a signal.
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &previous);
    struct Restore {
        const struct sigaction& previous;
        ~Restore() { sigaction(SIGPIPE, &previous, nullptr); }
    } restore{previous};

    CaptureSummary summary;
    try {
        summary = render(capture, options);
    } catch (std::string text) {
        MessageBoxA(nullptr, text.c_str(), nullptr, MB_OK);
        return 1;
    } catch (const VideoFailure& failure) {
        std::fprintf(stderr, "quorvane: %s\n", failure.text.c_str());
        return 1;
    }
    if (capture.progress) {
        std::fprintf(stderr, "quorvane: %zu frames in %.1f s, %.1f frames per second%s%s\n", summary.frames,
                     summary.seconds, summary.seconds > 0 ? double(summary.frames) / summary.seconds : 0.0,
                     capture.video.empty() ? "" : "; the video is ", capture.video.c_str());
    }
    return 0;
}
