#pragma once
// A private PulseAudio server with null sinks, for tests and benchmarks that play through a real sound
// server, and a recorder of a sink's monitor whose samples carry the server's own play-out times. The server
// runs in a directory of its own (runtime, state and configuration), loads only the modules named here, and
// is stopped by its process id; clients reach it through PULSE_SERVER, which is set for the whole process.
#include <fcntl.h>
#include <pulse/pulseaudio.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace pulse_test {

inline uint64_t monotonic_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

inline int run(const std::string& command) {
    return system(command.c_str());
}

// Sinks are created in the order given; the one named `default_sink` is made the default.
class Server {
public:
    // `extra` holds further lines of the server's start-up script (other sinks), run before the default is
    // set.
    Server(const std::vector<std::string>& sinks, const std::string& default_sink, int rate = 44100,
           const std::string& extra = "") {
        if (run("command -v pulseaudio >/dev/null 2>&1") != 0) {
            why_ = "the pulseaudio program is not installed (Debian package pulseaudio)";
            return;
        }
        const char* base = getenv("TMPDIR");
        std::string templ = std::string(base && *base ? base : "/tmp") + "/qv_pulse_XXXXXX";
        if (!mkdtemp(templ.data())) {
            why_ = "no temporary directory";
            return;
        }
        dir_ = templ;
        socket_ = dir_ + "/native";
        std::ofstream script(dir_ + "/server.pa");
        script << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socket_ << "\n";
        for (const auto& s : sinks)
            script << "load-module module-null-sink sink_name=" << s << " rate=" << rate
                   << " format=s16le channels=2 sink_properties=device.description=" << s << "\n";
        script << extra << "set-default-sink " << default_sink << "\n";
        script.close();
        // Shared memory off on both sides: blocks handed over by reference stall the stream now and then in
        // containers (the server falls back to copying only after a while).
        // The server reads its settings from $XDG_CONFIG_HOME/pulse/daemon.conf in place of the system's.
        mkdir((dir_ + "/pulse").c_str(), 0700);
        std::ofstream(dir_ + "/pulse/daemon.conf") << "flat-volumes = no\n";
        std::ofstream(dir_ + "/client.conf") << "autospawn = no\nenable-shm = no\nenable-memfd = no\n";

        pid_ = fork();
        if (pid_ == 0) {
            // Nothing of the user's or the system's configuration: the script above is the whole set-up.
            const std::string home = dir_;
            setenv("HOME", home.c_str(), 1);
            setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
            setenv("XDG_CONFIG_HOME", home.c_str(), 1);
            setenv("PULSE_RUNTIME_PATH", (home + "/runtime").c_str(), 1);
            setenv("PULSE_STATE_PATH", (home + "/state").c_str(), 1);
            setenv("PULSE_CLIENTCONFIG", (home + "/client.conf").c_str(), 1);
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
            const std::string log = home + "/log";
            if (!freopen(log.c_str(), "w", stderr) || !freopen("/dev/null", "w", stdout)) _exit(126);
            const std::string file = "--file=" + home + "/server.pa";
            execlp("pulseaudio", "pulseaudio", "-n", file.c_str(), "--daemonize=no", "--system=false",
                   "--exit-idle-time=-1", "--use-pid-file=false", "--disallow-module-loading=false",
                   "--log-target=stderr", "--log-level=warning", "--realtime=false", "--high-priority=false",
                   "--disable-shm=true", static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid_ < 0) {
            why_ = "fork failed";
            return;
        }
        server_ = "unix:" + socket_;
        // Ready when a client gets through.
        for (int i = 0; i < 100; ++i) {
            int status;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                why_ = "pulseaudio exited at start: " + log_tail();
                return;
            }
            if (access(socket_.c_str(), F_OK) == 0 &&
                run("PULSE_SERVER=" + server_ + " pactl info >/dev/null 2>&1") == 0) {
                setenv("PULSE_SERVER", server_.c_str(), 1);
                setenv("PULSE_CLIENTCONFIG", (dir_ + "/client.conf").c_str(), 1);
                ok_ = true;
                return;
            }
            usleep(50000);
        }
        why_ = "pulseaudio did not answer within 5 s: " + log_tail();
        stop();
    }
    ~Server() {
        stop();
        if (!dir_.empty()) run("rm -rf '" + dir_ + "'");
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    bool ok() const { return ok_; }
    const std::string& why() const { return why_; }
    const std::string& address() const { return server_; }
    const std::string& dir() const { return dir_; }

    // Ends the server at once, as a crash would.
    void kill_now() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            int status;
            waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }

    // pactl against this server; its standard output.
    std::string pactl(const std::string& args) const {
        std::string out;
        FILE* p = popen(("PULSE_SERVER=" + server_ + " pactl " + args + " 2>&1").c_str(), "r");
        if (!p) return out;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
        return out;
    }

private:
    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status;
            for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i) usleep(20000);
            if (waitpid(pid_, &status, WNOHANG) == 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
            }
        }
        pid_ = -1;
        if (ok_) unsetenv("PULSE_SERVER");
        ok_ = false;
    }
    std::string log_tail() const {
        std::ifstream in(dir_ + "/log");
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return all.size() > 600 ? all.substr(all.size() - 600) : all;
    }

    std::string dir_, socket_, server_, why_;
    pid_t pid_ = -1;
    bool ok_ = false;
};

// Records a sink's monitor, 16-bit stereo at `rate`, unconverted. With every chunk it notes, against the
// monotonic clock, the server's time of the record stream: which recorded frame the source is at. A sink
// hands its monitor each block as it mixes it, ahead of playing it, and the server counts a monitor's
// latency as minus its sink's, so that time is the recorded frame the sink plays at that instant. (The
// sink's own latency is noted too, for the figures.)
class MonitorRecorder {
public:
    struct Mark {
        uint64_t ns;   // monotonic clock
        double frame;  // recorded frame being played by the sink at that instant, by the server's times
        double sink_latency_ms;
        double hold_back_frames;  // the recording's own queue in the server (see count_hold_back)
    };

    MonitorRecorder(const std::string& sink, int rate, double max_seconds) : rate_(rate), sink_(sink) {
        samples_.reserve(static_cast<size_t>(max_seconds * rate) * 2 + 65536);
        marks_.reserve(static_cast<size_t>(max_seconds * 1000) + 1024);
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) return;
        ctx_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "qv-monitor");
        pa_context_set_state_callback(
            ctx_,
            [](pa_context*, void* l) {
                pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(l), 0);
            },
            loop_);
        if (pa_context_connect(ctx_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return;
        pa_threaded_mainloop_lock(loop_);
        pa_threaded_mainloop_start(loop_);
        for (;;) {
            const pa_context_state_t st = pa_context_get_state(ctx_);
            if (st == PA_CONTEXT_READY) break;
            if (!PA_CONTEXT_IS_GOOD(st)) {
                pa_threaded_mainloop_unlock(loop_);
                return;
            }
            pa_threaded_mainloop_wait(loop_);
        }
        pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, static_cast<uint32_t>(rate), 2};
        stream_ = pa_stream_new(ctx_, "qv-monitor", &sampleFormat, nullptr);
        pa_stream_set_read_callback(
            stream_, [](pa_stream*, size_t, void* self) { static_cast<MonitorRecorder*>(self)->on_read(); },
            this);
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(rate / 200 * 4);  // 5 ms
        attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
        const auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                           PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_DONT_MOVE);
        pa_stream_set_state_callback(
            stream_,
            [](pa_stream*, void* l) {
                pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(l), 0);
            },
            loop_);
        const std::string monitor = sink + ".monitor";
        ok_ = pa_stream_connect_record(stream_, monitor.c_str(), &attr, flags) == 0;
        while (ok_) {
            const pa_stream_state_t st = pa_stream_get_state(stream_);
            if (st == PA_STREAM_READY) break;
            if (!PA_STREAM_IS_GOOD(st))
                ok_ = false;
            else
                pa_threaded_mainloop_wait(loop_);
        }
        pa_threaded_mainloop_unlock(loop_);
    }
    ~MonitorRecorder() {
        stop();
        if (ctx_) {
            pa_context_disconnect(ctx_);
            pa_context_unref(ctx_);
        }
        if (loop_) pa_threaded_mainloop_free(loop_);
    }
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;

    bool ok() const { return ok_; }

    // Waits until the monitor has delivered sound for `settle` seconds (a fresh server takes a moment before
    // its monitor flows, and its first times run ahead); false when nothing comes within 10 s.
    bool wait_until_flowing(double settle) {
        const uint64_t give_up = monotonic_ns() + 10000000000ull;
        uint64_t since = 0;
        while (monotonic_ns() < give_up) {
            pa_threaded_mainloop_lock(loop_);
            const size_t n = marks_.size();
            pa_threaded_mainloop_unlock(loop_);
            if (n > 0 && !since) since = monotonic_ns();
            if (since && monotonic_ns() > since + static_cast<uint64_t>(settle * 1e9)) {
                pa_threaded_mainloop_lock(loop_);
                first_good_ = marks_.size();
                pa_threaded_mainloop_unlock(loop_);
                return true;
            }
            usleep(10000);
        }
        return false;
    }

    // Ends the recording; the samples and marks are complete afterwards.
    void stop() {
        if (!loop_) return;
        pa_threaded_mainloop_stop(loop_);
        if (stream_) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
    }

    const std::vector<int16_t>& samples() const { return samples_; }
    const std::vector<Mark>& marks() const { return marks_; }
    double mean_sink_latency_ms() const {
        double sum = 0;
        for (const Mark& m : marks_) sum += m.sink_latency_ms;
        return marks_.empty() ? 0 : sum / static_cast<double>(marks_.size());
    }
    // The mean hold-back over the recording (see count_hold_back).
    double mean_hold_back_ms() const {
        double sum = 0;
        for (const Mark& m : marks_) sum += m.hold_back_frames;
        return marks_.empty() ? 0 : sum * 1000.0 / rate_ / static_cast<double>(marks_.size());
    }

    // A monitor's record stream that cannot rewind gets a queue in the server that holds back as much of
    // the sink's sound as the sink may rewind; the times the server reports for the record stream leave
    // that queue out, so they name a recorded frame that much earlier than the one playing. Counted, the
    // hold-back (the record stream's buffer latency) is added back.
    void count_hold_back(bool count) { count_hold_back_ = count; }

    // The recorded frame the sink played at monotonic time `ns`: a least-squares line through the marks
    // within half a second either side (the server's interpolated times jitter by a fraction of a
    // millisecond).
    double frame_at(uint64_t ns) const {
        double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (size_t i = first_good_; i < marks_.size(); ++i) {
            const Mark& m = marks_[i];
            const double x = (static_cast<double>(m.ns) - static_cast<double>(ns)) * 1e-9;
            if (std::fabs(x) > 0.5) continue;
            const double y = m.frame + (count_hold_back_ ? m.hold_back_frames : 0.0);
            n += 1, sx += x, sy += y, sxx += x * x, sxy += x * y;
        }
        if (n < 2) return -1;
        const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
        return (sy - slope * sx) / n;
    }

private:
    void on_read() {
        const void* data;
        size_t bytes;
        while (pa_stream_readable_size(stream_) > 0 && pa_stream_peek(stream_, &data, &bytes) == 0 &&
               bytes > 0) {
            const size_t count = bytes / 2;
            if (samples_.size() + count <= samples_.capacity()) {
                if (data) {
                    const auto* s = static_cast<const int16_t*>(data);
                    samples_.insert(samples_.end(), s, s + count);
                } else {
                    samples_.insert(samples_.end(), count, 0);  // a hole
                }
            }
            pa_stream_drop(stream_);
        }
        pa_usec_t usec;
        if (sink_latency_us_ >= 0 && pa_stream_get_time(stream_, &usec) == 0 &&
            marks_.size() < marks_.capacity())
            marks_.push_back({monotonic_ns(), static_cast<double>(usec) * rate_ / 1e6,
                              sink_latency_us_ / 1000, hold_back_us_ * rate_ / 1e6});
        // The sink's latency and the record stream's hold-back change with what plays; each is asked anew
        // whenever its last answer is in.
        ask_once(asking_, [this] {
            return pa_context_get_sink_info_by_name(
                ctx_, sink_.c_str(),
                [](pa_context*, const pa_sink_info* info, int eol, void* self) {
                    auto* r = static_cast<MonitorRecorder*>(self);
                    if (info) r->sink_latency_us_ = static_cast<double>(info->latency);
                    if (eol) r->asking_ = false;
                },
                this);
        });
        ask_once(asking_hold_back_, [this] {
            return pa_context_get_source_output_info(
                ctx_, pa_stream_get_index(stream_),
                [](pa_context*, const pa_source_output_info* info, int eol, void* self) {
                    auto* r = static_cast<MonitorRecorder*>(self);
                    if (info) r->hold_back_us_ = static_cast<double>(info->buffer_usec);
                    if (eol) r->asking_hold_back_ = false;
                },
                this);
        });
    }
    // Starts a query unless the one before is still out (`busy` until its answer's end).
    template <typename Ask>
    static void ask_once(bool& busy, Ask ask) {
        if (busy) return;
        busy = true;
        pa_operation* op = ask();
        if (op)
            pa_operation_unref(op);
        else
            busy = false;
    }

    int rate_;
    std::string sink_;
    double sink_latency_us_ = -1;  // mainloop thread
    bool asking_ = false;
    double hold_back_us_ = 0;  // mainloop thread
    bool asking_hold_back_ = false;
    bool count_hold_back_ = false;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* ctx_ = nullptr;
    pa_stream* stream_ = nullptr;
    bool ok_ = false;
    size_t first_good_ = 0;
    std::vector<int16_t> samples_;
    std::vector<Mark> marks_;
};

// A sound card stand-in: a FIFO that a pipe sink of the server writes into (module-pipe-sink file=path()),
// read by a thread that takes exactly `rate` frames a second, paced on the monotonic clock. Recorded frame k
// is thus played at start + k / rate, and the server knows only the FIFO's fill as the sink's latency, as it
// knows a card's buffer. Create it before the server, which opens the FIFO for writing.
class PacedPipe {
public:
    PacedPipe(const std::string& path, int rate, double max_seconds) : path_(path), rate_(rate) {
        unlink(path_.c_str());
        if (mkfifo(path_.c_str(), 0600) != 0) return;
        fd_ = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
        samples_.reserve(static_cast<size_t>(max_seconds * rate) * 2 + 65536);
        if (fd_ >= 0) thread_ = std::thread([this] { run(); });
    }
    ~PacedPipe() {
        stop();
        if (fd_ >= 0) close(fd_);
        unlink(path_.c_str());
    }
    PacedPipe(const PacedPipe&) = delete;
    PacedPipe& operator=(const PacedPipe&) = delete;

    const std::string& path() const { return path_; }
    bool ok() const { return fd_ >= 0; }
    bool wait_until_flowing(double settle) {
        const uint64_t give_up = monotonic_ns() + 10000000000ull;
        while (monotonic_ns() < give_up && !flowing_) usleep(10000);
        usleep(static_cast<useconds_t>(settle * 1e6));
        return flowing_;
    }
    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    const std::vector<int16_t>& samples() const { return samples_; }  // after stop()
    double frame_at(uint64_t ns) const {
        return ns < start_ns_ ? -1 : static_cast<double>(ns - start_ns_) * rate_ / 1e9;
    }
    double mean_sink_latency_ms() const { return 0; }
    double mean_hold_back_ms() const { return 0; }

private:
    void run() {
        std::vector<char> buf(1 << 16);
        start_ns_ = monotonic_ns();
        uint64_t taken = 0;
        size_t pending = 0;  // bytes of a partial frame
        while (!stop_ && samples_.size() + 4096 < samples_.capacity()) {
            const uint64_t due = (monotonic_ns() - start_ns_) * static_cast<uint64_t>(rate_) / 1000000000ull;
            while (taken < due) {
                const size_t want = std::min<uint64_t>((due - taken) * 4 - pending, buf.size() - 4);
                const ssize_t n = read(fd_, buf.data() + pending, want);
                if (n <= 0) {  // nothing there: the card plays silence
                    samples_.insert(samples_.end(), (due - taken) * 2, 0);
                    taken = due;
                    pending = 0;
                    break;
                }
                flowing_ = true;
                const size_t total = pending + static_cast<size_t>(n), frames = total / 4;
                const auto* s = reinterpret_cast<const int16_t*>(buf.data());
                samples_.insert(samples_.end(), s, s + frames * 2);
                taken += frames;
                pending = total - frames * 4;
                std::memmove(buf.data(), buf.data() + frames * 4, pending);
            }
            usleep(1000);
        }
    }

    std::string path_;
    int rate_;
    int fd_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false}, flowing_{false};
    uint64_t start_ns_ = 0;
    std::vector<int16_t> samples_;
};

// Where frames [k, k + 256) of `rec` (stereo) occur in `pcm` (stereo): the frame offset, or -1. Matches
// within `tolerance` per sample, so a server that dithers by a step still aligns; the window must not be
// silent.
inline int64_t find_in(const std::vector<int16_t>& pcm, const std::vector<int16_t>& rec, size_t k,
                       int tolerance = 2) {
    constexpr size_t kWindow = 256;
    if ((k + kWindow) * 2 > rec.size()) return -1;
    const int16_t* w = rec.data() + k * 2;
    int energy = 0;
    for (size_t i = 0; i < kWindow * 2; ++i) energy += std::abs(w[i]) > 64;
    if (energy < static_cast<int>(kWindow)) return -1;
    const size_t frames = pcm.size() / 2;
    for (size_t f = 0; f + kWindow <= frames; ++f) {
        size_t i = 0;
        for (; i < kWindow * 2; ++i)
            if (std::abs(pcm[f * 2 + i] - w[i]) > tolerance) break;
        if (i == kWindow * 2) return static_cast<int64_t>(f);
    }
    return -1;
}

}  // namespace pulse_test
