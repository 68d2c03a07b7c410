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
// Figures only; needs the pulseaudio and lame programs.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "clock_probe.h"
#include "platform/audio/bass.h"
#include "pulse_server.h"
#include "test_sound.h"

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 6.0;
    const std::string only = argc > 2 ? argv[2] : "";
    if (!(seconds >= 2 && seconds <= 60) || (only != "" && only != "card" && only != "monitor")) {
        std::fprintf(stderr, "usage: bench_audio_clock [SECONDS 2..60] [card|monitor]\n");
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
    enum Oracle { kCard, kCardMonitor, kNullMonitor };
    for (const Oracle oracle : {kCard, kCardMonitor, kNullMonitor}) {
        const bool card = oracle != kNullMonitor;
        if ((oracle == kCard && only == "monitor") || (oracle != kCard && only == "card")) continue;
        std::printf("\n%s\n", oracle == kCard
                                  ? "against a paced reader of a pipe sink (a sound card stand-in)"
                              : oracle == kCardMonitor ? "against the monitor of that pipe sink"
                                                       : "against the monitor of a null sink");
        std::printf(
            "offset of the clock from the sound played (ms; + = clock ahead), %.0f s a setting, 60 reads/s\n",
            seconds);
        std::printf("%-22s %8s %7s %7s %7s %8s %11s %9s %s\n", "buffering", "mean", "sd", "worst", "start",
                    "still", "longest still", "max jump", "sink latency, dropouts, bit-exact");
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
                f = pulse_test::measure_clock(s, card ? "card" : "speakers", seconds);
            BASS_Free();
            if (!f.error.empty())
                std::printf("%-22s %s\n", name.c_str(), f.error.c_str());
            else
                std::printf("%-22s %8.2f %7.2f %7.2f %7.2f %7.1f%% %10.1f ms %6.1f ms %6.1f ms %d %s\n",
                            name.c_str(), f.mean_ms, f.sd_ms, f.worst_ms, f.start_worst_ms,
                            100 * f.still_share, f.longest_still_ms, f.largest_jump_ms, f.sink_latency_ms,
                            f.dropouts, f.bit_exact ? "yes" : "no");
            std::fflush(stdout);
        }
    }
    return 0;
}
