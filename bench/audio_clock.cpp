// How far the audio layer's playing position (the production's clock) is from the sound a PulseAudio sink
// plays, at the server's default buffering and with PULSE_LATENCY_MSEC=60, 200 and 500. A private server with
// a sound card stand-in (a pipe sink read at a fixed pace), then with a null sink, is started; a noise
// soundtrack plays on output device 1 while the position is read once a video frame and what the sink plays
// is recorded and aligned with the decoded sound (see clock_probe.h).
//
//   bench_audio_clock [SECONDS] [card|monitor]   (monitor: both monitors)
//
// Per setting: the mean offset (positive: the clock is ahead of the sound), its standard deviation, the
// largest offset, the largest offset at the start (until half a second of sound has played, counting the
// reads before the sound starts, which must say 0), the share of frames whose clock did not advance, the
// longest time it stood still, and the largest advance between two frames. These are the offsets at the
// moment the position is read; what a frame shows is heard later by its rendering and presentation, which
// the frame loop predicts. Aim: mean within +-5 ms, no standstill longer than one frame (16.7 ms).
// The null sink's monitor is printed twice: with the times the server gives its record stream, and with the
// stream's hold-back counted (the queue the server keeps back from a record stream that cannot rewind, as
// much as the sink may rewind, which those times leave out: from about 200 ms of buffering on it is tens of
// milliseconds, and the monitor then lags the sound by that much).
//
//   bench_audio_clock production [SECONDS [RUNS [card|monitor [default,MS,...]]]]
//
// The production itself: `quorvane --windowed` (offscreen without a display) is run live from the
// repository's assets/ (QV_BENCH_PROGRAM and QV_BENCH_ASSETS name others) on a private server, RUNS times
// for each buffering (default: 12 s, 2 runs, the card stand-in, default,200,500), with its frame log
// (QV_FRAME_LOG). What the sink plays is recorded and aligned with the decoded soundtrack every 25 ms;
// each frame's position read is compared with the sound at the instant of the read ("reading", the
// heard-position estimate itself) and its time with the sound at the instant its Present returned
// ("presenting"), and the first 5 s of sound on their own (largest offset, largest ahead, frames within
// 25 ms). Also the frame rate, the mean delay predicted, the longest time a frame's time stood still once
// running, the dropouts the alignment stepped over, and the spread of the runs. QV_BENCH_DUMP=PREFIX writes
// every frame's figures to PREFIX-REFERENCE-BUFFERING-RUN.txt (read and present instants, position, time, and
// the sound at both instants, in seconds).
//
// Figures only; needs the pulseaudio and lame programs.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "clock_probe.h"
#include "data/memfile.h"
#include "platform/audio/bass.h"
#include "platform/audio/pcm.h"
#include "pulse_server.h"
#include "test_sound.h"

// ---- The production itself, played live ----

namespace {

// One line of the program's frame log (QV_FRAME_LOG): seconds, the instants on the monotonic clock.
struct LoggedFrame {
    double heard = 0, time = 0, read = 0, presented = 0;
};

std::vector<LoggedFrame> read_frame_log(const std::string& path) {
    std::vector<LoggedFrame> frames;
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return frames;
    LoggedFrame l;
    size_t n;
    while (std::fscanf(f, " frame %zu heard %lf time %lf read %lf presented %lf", &n, &l.heard, &l.time,
                       &l.read, &l.presented) == 5)
        frames.push_back(l);
    std::fclose(f);
    return frames;
}

// Which sound each recorded frame holds: the recording aligned with the decoded soundtrack every 25 ms
// (sound frame = recorded frame + shift), the shift found anew wherever the recording stops matching (a
// dropout: sound lost or repeated on the way).
class Alignment {
public:
    Alignment(const std::vector<int16_t>& pcm, const std::vector<int16_t>& rec) {
        constexpr size_t kHop = 1102, kWindow = 256;
        int64_t shift = INT64_MIN;
        int misses = 0;
        for (size_t k = 0; (k + kWindow) * 2 <= rec.size(); k += kHop) {
            if (shift != INT64_MIN && same(pcm, rec, k, shift)) {
                points_.push_back({k, shift});
                continue;
            }
            const int64_t at = pulse_test::find_in(pcm, rec, k, 2);
            if (at < 0) {
                // Sound that is nowhere in the soundtrack: not played unaltered. Give up early rather than
                // search the whole soundtrack for every window.
                if (shift == INT64_MIN && has_sound(rec, k) && ++misses > 40) break;
                continue;
            }
            if (shift != INT64_MIN && at - static_cast<int64_t>(k) != shift) ++dropouts_;
            shift = at - static_cast<int64_t>(k);
            points_.push_back({k, shift});
        }
    }
    bool ok() const { return !points_.empty(); }
    int dropouts() const { return dropouts_; }
    // The sound frame recorded at (fractional) recorded frame `k`, by the alignment nearest before it (the
    // first one for what was recorded before the sound could be aligned, such as the silence before it).
    double sound(double k) const {
        size_t lo = 0, hi = points_.size();
        while (hi - lo > 1) {
            const size_t mid = (lo + hi) / 2;
            (static_cast<double>(points_[mid].k) <= k ? lo : hi) = mid;
        }
        return k + static_cast<double>(points_[lo].shift);
    }

private:
    struct Point {
        size_t k;
        int64_t shift;
    };
    static bool same(const std::vector<int16_t>& pcm, const std::vector<int16_t>& rec, size_t k,
                     int64_t shift) {
        const int64_t f = static_cast<int64_t>(k) + shift;
        if (f < 0 || (static_cast<size_t>(f) + 256) * 2 > pcm.size()) return false;
        for (size_t i = 0; i < 512; ++i)
            if (std::abs(rec[k * 2 + i] - pcm[static_cast<size_t>(f) * 2 + i]) > 2) return false;
        return true;
    }
    static bool has_sound(const std::vector<int16_t>& rec, size_t k) {
        int loud = 0;
        for (size_t i = 0; i < 512; ++i) loud += std::abs(rec[k * 2 + i]) > 64;
        return loud >= 256;
    }
    std::vector<Point> points_;
    int dropouts_ = 0;
};

struct LiveFigures {
    std::string error;
    int frames = 0;
    double fps = 0;
    double read_mean = 0, read_sd = 0, read_worst = 0;     // heard position - sound at the read (ms)
    double shown_mean = 0, shown_sd = 0, shown_worst = 0;  // frame time - sound when presented (ms)
    double start_worst = 0, start_ahead = 0;               // first 5 s of sound: largest |offset|, ahead
    int start_frames = 0, start_within = 0;                // first 5 s: frames, within 25 ms
    double delay_ms = 0;                                   // mean prediction added
    double longest_still_ms = 0;                           // the frame time standing still, once running
    int dropouts = 0;
};

// Offsets of every logged frame against the recording; `sound_at(ns)` is the sound frame heard then.
template <typename SoundAt>
LiveFigures live_figures(const std::vector<LoggedFrame>& log, SoundAt sound_at, double end_seconds,
                         FILE* dump = nullptr) {
    LiveFigures f;
    const double rate = 44100;
    double rs = 0, rs2 = 0, ss = 0, ss2 = 0, delay = 0;
    int reads = 0, shown = 0;
    double still_since = -1;
    for (size_t i = 0; i < log.size(); ++i) {
        const LoggedFrame& l = log[i];
        const double at_read = sound_at(static_cast<uint64_t>(l.read * 1e9)) / rate;
        const double at_shown = sound_at(static_cast<uint64_t>(l.presented * 1e9)) / rate;
        if (std::isnan(at_read) || std::isnan(at_shown) || at_shown > end_seconds) break;
        ++f.frames;
        if (dump)
            std::fprintf(dump, "%.6f %.6f %.6f %.6f %.6f %.6f\n", l.read, l.presented, l.heard, l.time,
                         at_read, at_shown);
        // Before the sound starts, the sound heard is its start.
        const double read_ms = (l.heard - std::max(at_read, 0.0)) * 1000;
        const double shown_ms = (l.time - std::max(at_shown, 0.0)) * 1000;
        if (at_read > 0) {
            rs += read_ms, rs2 += read_ms * read_ms, ++reads;
            f.read_worst = std::max(f.read_worst, std::fabs(read_ms));
        }
        if (at_shown > 0) {
            ss += shown_ms, ss2 += shown_ms * shown_ms, ++shown;
            f.shown_worst = std::max(f.shown_worst, std::fabs(shown_ms));
            delay += (l.time - l.heard) * 1000;
        }
        if (at_shown < 5.0) {
            ++f.start_frames;
            f.start_within += std::fabs(shown_ms) <= 25.0;
            f.start_worst = std::max(f.start_worst, std::fabs(shown_ms));
            f.start_ahead = std::max(f.start_ahead, shown_ms);
        }
        if (i > 0 && l.time > 0 && l.time == log[i - 1].time) {
            if (still_since < 0) still_since = log[i - 1].presented;
            f.longest_still_ms = std::max(f.longest_still_ms, (l.presented - still_since) * 1000);
        } else {
            still_since = -1;
        }
    }
    if (reads < 10 || shown < 10) {
        f.error = "too few frames while the sound played";
        return f;
    }
    f.fps = (f.frames - 1) / (log[static_cast<size_t>(f.frames) - 1].presented - log[0].presented);
    f.read_mean = rs / reads;
    f.read_sd = std::sqrt(std::max(0.0, rs2 / reads - f.read_mean * f.read_mean));
    f.shown_mean = ss / shown;
    f.shown_sd = std::sqrt(std::max(0.0, ss2 / shown - f.shown_mean * f.shown_mean));
    f.delay_ms = delay / shown;
    return f;
}

// The figures of a run against a recording of its output (PacedPipe, MonitorRecorder).
template <typename Recorder>
LiveFigures figures_against(const Recorder& rec, const AudioPcm& pcm, const std::string& log,
                            double end_seconds, FILE* dump) {
    const Alignment align(pcm.samples, rec.samples());
    LiveFigures f;
    if (!align.ok()) {
        f.error = "the recording does not hold the soundtrack";
        return f;
    }
    f = live_figures(
        read_frame_log(log),
        [&](uint64_t ns) {
            const double k = rec.frame_at(ns);
            return k < 0 || k * 2 > static_cast<double>(rec.samples().size()) ? std::nan("") : align.sound(k);
        },
        end_seconds, dump);
    f.dropouts = align.dropouts();
    return f;
}

// Runs the program live in `assets` with its frame log, until `seconds` after its first frame; false when
// it could not be started or drew no frame.
bool run_program(const std::string& program, const std::string& assets, const std::string& log,
                 const std::string& out, double seconds, std::string* why) {
    std::fflush(stdout);  // nothing buffered goes out twice
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(assets.c_str()) != 0) _exit(126);
        setenv("QV_FRAME_LOG", log.c_str(), 1);
        setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
        if (!freopen(out.c_str(), "w", stdout) || !freopen(out.c_str(), "a", stderr)) _exit(126);
        execl(program.c_str(), program.c_str(), "--windowed", static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid < 0) {
        *why = "fork failed";
        return false;
    }
    // Loading first (up to two minutes on a slow machine), then the frames.
    int status = 0;
    bool exited = false;
    for (int i = 0; i < 1200 && !exited; ++i) {
        struct stat st;
        if (stat(log.c_str(), &st) == 0 && st.st_size > 0) break;
        exited = waitpid(pid, &status, WNOHANG) == pid;
        usleep(100000);
    }
    if (!exited) {
        for (int i = 0; i < static_cast<int>(seconds * 10) + 5 && !exited; ++i) {
            usleep(100000);
            exited = waitpid(pid, &status, WNOHANG) == pid;
        }
    }
    if (!exited) {
        kill(pid, SIGTERM);  // the program's quit message: it ends as when its window is closed
        for (int i = 0; i < 100 && !exited; ++i) {
            usleep(100000);
            exited = waitpid(pid, &status, WNOHANG) == pid;
        }
        if (!exited) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
    }
    if (read_frame_log(log).empty()) {
        std::ifstream in(out);
        *why = "no frame logged; the program said: " +
               std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return false;
    }
    return true;
}

int production_main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 12.0;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 2;
    const std::string ref = argc > 3 ? argv[3] : "card";
    std::vector<std::string> latencies;
    {
        std::string list = argc > 4 ? argv[4] : "default,200,500";
        for (size_t at = 0; at <= list.size();) {
            const size_t comma = std::min(list.find(',', at), list.size());
            const std::string item = list.substr(at, comma - at);
            latencies.push_back(item == "default" ? "" : item);
            if (item != "default" && !(std::atoi(item.c_str()) >= 1 && std::atoi(item.c_str()) <= 2000))
                latencies.clear(), list.clear();
            at = comma + 1;
        }
    }
    if (!(seconds >= 3 && seconds <= 31) || runs < 1 || runs > 20 || (ref != "card" && ref != "monitor") ||
        latencies.empty()) {
        std::fprintf(stderr,
                     "usage: bench_audio_clock production [SECONDS 3..31 [RUNS 1..20 [card|monitor "
                     "[default,MS,...]]]]\n");
        return 2;
    }
    const char* dump_env = getenv("QV_BENCH_DUMP");
    // Whole lines out at once: the server's and the program's processes start with a copy of the buffer.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    const char* program_env = getenv("QV_BENCH_PROGRAM");
    const char* assets_env = getenv("QV_BENCH_ASSETS");
    const std::string program = program_env ? program_env : QV_BINARY_DIR "/quorvane";
    const std::string assets = assets_env ? assets_env : QV_SOURCE_DIR "/assets";

    // The soundtrack as the program decodes it.
    AudioPcm pcm;
    {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd) || chdir(assets.c_str()) != 0) {
            std::fprintf(stderr, "bench_audio_clock: no data set in %s\n", assets.c_str());
            return 1;
        }
        MemoryFile* file = memfile_open("ferrowake.mp3");
        const int code = file ? audio_decode_mp3(file->data, file->length, &pcm) : -1;
        if (file) memfile_close(file);
        if (chdir(cwd) != 0 || code != 0 || pcm.rate != 44100 || pcm.channels != 2) {
            std::fprintf(stderr, "bench_audio_clock: cannot decode the soundtrack in %s\n", assets.c_str());
            return 1;
        }
    }
    const double end_seconds = std::min(seconds, static_cast<double>(pcm.frames()) / 44100 - 0.5);

    double load[3] = {};
    getloadavg(load, 3);
    std::printf(
        "the production live (%s), %.0f s of each run measured, %d runs a setting; load %.2f %.2f %.2f\n",
        ref == "card" ? "against a paced reader of a pipe sink" : "against a null sink's monitor", seconds,
        runs, load[0], load[1], load[2]);
    std::printf(
        "offsets in ms, + = picture (or position) ahead of the sound heard; reading: the position read "
        "for a frame\nagainst the sound at that instant; presenting: the frame's time against the "
        "sound when its Present returned\n");
    std::printf("%-22s %3s %6s | %-23s | %-23s | %-26s | %6s %6s %s\n", "buffering", "run", "fps",
                "reading mean sd worst", "presenting mean sd worst", "first 5 s worst ahead ok", "delay",
                "still", "dropouts");
    test_sound::TempDir dir;
    for (const std::string& latency : latencies) {
        if (!latency.empty())
            setenv("PULSE_LATENCY_MSEC", latency.c_str(), 1);
        else
            unsetenv("PULSE_LATENCY_MSEC");
        const std::string name = !latency.empty() ? "PULSE_LATENCY_MSEC=" + latency : "server default";
        std::vector<LiveFigures> all;
        for (int run = 1; run <= runs; ++run) {
            const double capacity = seconds + 150;  // the loading phase plays nothing
            const std::string log = dir.file("frames.log"), out = dir.file("quorvane.out");
            unlink(log.c_str());
            LiveFigures f;
            std::string why;
            FILE* dump = nullptr;
            if (dump_env)
                dump =
                    std::fopen((std::string(dump_env) + "-" + ref + "-" +
                                (latency.empty() ? "default" : latency) + "-" + std::to_string(run) + ".txt")
                                   .c_str(),
                               "w");
            if (ref == "card") {
                pulse_test::PacedPipe pipe(dir.file("card.fifo"), 44100, capacity);
                pulse_test::Server server({}, "card", 44100,
                                          "load-module module-pipe-sink sink_name=card file=" + pipe.path() +
                                              " format=s16le rate=44100 channels=2\n");
                if (!server.ok() || !pipe.ok()) {
                    std::fprintf(stderr, "bench_audio_clock: no PulseAudio server: %s\n",
                                 server.why().c_str());
                    return 1;
                }
                pipe.wait_until_flowing(0.2);
                if (!run_program(program, assets, log, out, seconds, &why)) f.error = why;
                pipe.stop();
                if (f.error.empty()) f = figures_against(pipe, pcm, log, end_seconds, dump);
            } else {
                pulse_test::Server server({"speakers"}, "speakers");
                if (!server.ok()) {
                    std::fprintf(stderr, "bench_audio_clock: no PulseAudio server: %s\n",
                                 server.why().c_str());
                    return 1;
                }
                pulse_test::MonitorRecorder rec("speakers", 44100, capacity);
                if (!rec.ok() || !rec.wait_until_flowing(0.5)) {
                    std::fprintf(stderr, "bench_audio_clock: cannot record the null sink's monitor\n");
                    return 1;
                }
                if (!run_program(program, assets, log, out, seconds, &why)) f.error = why;
                rec.stop();
                for (const bool hold_back : {false, true}) {
                    if (!f.error.empty()) break;
                    rec.count_hold_back(hold_back);
                    f = figures_against(rec, pcm, log, end_seconds, hold_back ? dump : nullptr);
                    if (!hold_back && f.error.empty())
                        std::printf(
                            "%-22s %3d %6.1f | %7.2f %6.2f %7.2f | (the monitor's times as the server "
                            "gives them; its hold-back %.1f ms)\n",
                            name.c_str(), run, f.fps, f.read_mean, f.read_sd, f.read_worst,
                            rec.mean_hold_back_ms());
                }
            }
            if (dump) std::fclose(dump);
            if (!f.error.empty()) {
                std::printf("%-22s %3d %s\n", name.c_str(), run, f.error.c_str());
                std::fflush(stdout);
                continue;
            }
            std::printf(
                "%-22s %3d %6.1f | %7.2f %6.2f %7.2f | %7.2f %6.2f %7.2f | %8.2f %7.2f %4d/%-4d | %6.1f "
                "%6.1f %d\n",
                name.c_str(), run, f.fps, f.read_mean, f.read_sd, f.read_worst, f.shown_mean, f.shown_sd,
                f.shown_worst, f.start_worst, f.start_ahead, f.start_within, f.start_frames, f.delay_ms,
                f.longest_still_ms, f.dropouts);
            std::fflush(stdout);
            all.push_back(f);
        }
        if (all.size() > 1) {
            auto range = [&](double LiveFigures::*m, double* lo, double* hi) {
                *lo = *hi = all[0].*m;
                for (const auto& f : all) *lo = std::min(*lo, f.*m), *hi = std::max(*hi, f.*m);
            };
            double rlo, rhi, slo, shi, wlo, whi, blo, bhi;
            range(&LiveFigures::read_mean, &rlo, &rhi);
            range(&LiveFigures::shown_mean, &slo, &shi);
            range(&LiveFigures::shown_worst, &wlo, &whi);
            range(&LiveFigures::start_worst, &blo, &bhi);
            std::printf(
                "%-22s     spread of the runs: reading mean %.2f..%.2f, presenting mean %.2f..%.2f, "
                "worst %.1f..%.1f, first 5 s worst %.1f..%.1f\n",
                name.c_str(), rlo, rhi, slo, shi, wlo, whi, blo, bhi);
        }
    }
    getloadavg(load, 3);
    std::printf("load after: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "production") return production_main(argc - 1, argv + 1);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 6.0;
    const std::string only = argc > 2 ? argv[2] : "";
    if (!(seconds >= 2 && seconds <= 60) || (only != "" && only != "card" && only != "monitor")) {
        std::fprintf(stderr,
                     "usage: bench_audio_clock [SECONDS 2..60] [card|monitor]\n       bench_audio_clock "
                     "production [SECONDS 3..31 [RUNS [card|monitor [default,MS,...]]]]\n");
        return 2;
    }
    if (!test_sound::have_lame()) {
        std::fprintf(stderr, "bench_audio_clock: the lame program is needed to make the soundtrack\n");
        return 1;
    }
    test_sound::TempDir dir;
    const std::string mp3 = dir.file("noise.mp3");
    {
        const int rate = 44100;
        std::vector<int16_t> pcm(static_cast<size_t>((seconds + 1.5) * rate) * 2);
        std::mt19937 random(14);
        std::uniform_int_distribution<int> value(-9000, 9000);
        for (auto& s : pcm) s = static_cast<int16_t>(value(random));
        if (!test_sound::write_wav(mp3 + ".wav", rate, 2, pcm) ||
            system(("lame --quiet -b 256 '" + mp3 + ".wav' '" + mp3 + "'").c_str()) != 0) {
            std::fprintf(stderr, "bench_audio_clock: could not make the soundtrack\n");
            return 1;
        }
    }
    const auto bytes = test_sound::read_file(mp3);

    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    // Two ways of knowing what is heard: a sound card stand-in (a pipe sink read at exactly 44100 frames a
    // second, the FIFO being the card's buffer), the monitor of that same pipe sink with the server's own
    // times, and the monitor of a null sink. The first two agree with each other at every buffering; the
    // null sink's monitor does not from about 200 ms on (its times then lag the play-out time that the
    // server reports to the playing stream by tens of milliseconds).
    enum Oracle { kCard, kCardMonitor, kNullMonitor, kNullMonitorHeldBack };
    for (const Oracle oracle : {kCard, kCardMonitor, kNullMonitor, kNullMonitorHeldBack}) {
        const bool card = oracle == kCard || oracle == kCardMonitor;
        if ((oracle == kCard && only == "monitor") || (oracle != kCard && only == "card")) continue;
        std::printf("\n%s\n",
                    oracle == kCard          ? "against a paced reader of a pipe sink (a sound card stand-in)"
                    : oracle == kCardMonitor ? "against the monitor of that pipe sink"
                    : oracle == kNullMonitor ? "against the monitor of a null sink"
                                             : "against the monitor of a null sink, its hold-back counted");
        std::printf(
            "offset of the clock from the sound played (ms; + = clock ahead), %.0f s a setting, 60 reads/s\n",
            seconds);
        std::printf("%-22s %8s %7s %7s %7s %8s %11s %9s %s\n", "buffering", "mean", "sd", "worst", "start",
                    "still", "longest still", "max jump", "sink latency, hold-back, dropouts, bit-exact");
        std::fflush(stdout);
        for (const char* latency : {"", "60", "200", "500"}) {
            if (*latency)
                setenv("PULSE_LATENCY_MSEC", latency, 1);
            else
                unsetenv("PULSE_LATENCY_MSEC");
            const std::string name =
                *latency ? std::string("PULSE_LATENCY_MSEC=") + latency : "server default";
            // A fresh server (and card) for every setting: the reader's recording ends with its measurement.
            pulse_test::PacedPipe pipe(dir.file("card.fifo"), 44100, seconds + 4);
            const std::string extra = "load-module module-pipe-sink sink_name=card file=" + pipe.path() +
                                      " format=s16le rate=44100 channels=2\n";
            pulse_test::Server server(
                card ? std::vector<std::string>{} : std::vector<std::string>{"speakers"},
                card ? "card" : "speakers", 44100, card ? extra : "");
            if (!server.ok()) {
                std::fprintf(stderr, "bench_audio_clock: no PulseAudio server: %s\n", server.why().c_str());
                return 1;
            }
            if (!BASS_Init(1, 44100, BASS_DEVICE_LATENCY, nullptr, nullptr)) {
                std::printf("%-22s BASS_Init failed (%d)\n", name.c_str(), BASS_ErrorGetCode());
                std::fflush(stdout);
                continue;
            }
            const HSTREAM s = BASS_StreamCreateFile(TRUE, bytes.data(), 0, bytes.size(), BASS_STREAM_PRESCAN);
            pulse_test::ClockFigures f;
            if (!s)
                f.error = "stream creation failed";
            else if (oracle == kCard)
                f = pulse_test::measure_clock(s, pipe, seconds);
            else
                f = pulse_test::measure_clock(s, card ? "card" : "speakers", seconds, 44100,
                                              oracle == kNullMonitorHeldBack);
            BASS_Free();
            if (!f.error.empty())
                std::printf("%-22s %s\n", name.c_str(), f.error.c_str());
            else
                std::printf(
                    "%-22s %8.2f %7.2f %7.2f %7.2f %7.1f%% %10.1f ms %6.1f ms %6.1f ms %5.1f ms %d %s\n",
                    name.c_str(), f.mean_ms, f.sd_ms, f.worst_ms, f.start_worst_ms, 100 * f.still_share,
                    f.longest_still_ms, f.largest_jump_ms, f.sink_latency_ms, f.hold_back_ms, f.dropouts,
                    f.bit_exact ? "yes" : "no");
            std::fflush(stdout);
        }
    }
    return 0;
}
