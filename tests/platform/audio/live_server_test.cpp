// The audio layer against a real sound server: a private PulseAudio daemon with null sinks, whose monitors
// are recorded and compared with the decoded sound. Skipped when no daemon can be started, unless
// QV_REQUIRE_PULSE=1 (CI) makes that a failure.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "clock_probe.h"
#include "platform/audio/bass.h"
#include "platform/audio/pcm.h"
#include "pulse_server.h"
#include "test_sound.h"

namespace {

using pulse_test::MonitorRecorder;
using pulse_test::Server;

// Noise, so that any 256 frames of it occur once in the whole sound.
std::vector<unsigned char> noise_mp3(const test_sound::TempDir& dir, double seconds) {
    if (!test_sound::have_lame()) return {};
    const int rate = 44100;
    std::vector<int16_t> pcm(static_cast<size_t>(seconds * rate) * 2);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> value(-9000, 9000);
    for (auto& s : pcm) s = static_cast<int16_t>(value(random));
    const std::string mp3 = dir.file("noise.mp3");
    if (!test_sound::write_wav(mp3 + ".wav", rate, 2, pcm) ||
        system(("lame --quiet -b 256 '" + mp3 + ".wav' '" + mp3 + "'").c_str()) != 0)
        return {};
    return test_sound::read_file(mp3);
}

// Whether a recording holds the stream's sound, and whether it is silent throughout.
struct Heard {
    bool sound = false;
    bool silent = true;
};

Heard listen(const MonitorRecorder& rec, const AudioPcm& pcm) {
    Heard h;
    const auto& s = rec.samples();
    for (int16_t v : s) h.silent = h.silent && std::abs(v) <= 2;
    for (size_t k = 0; !h.sound && (k + 256) * 2 <= s.size(); k += 2205)
        h.sound = pulse_test::find_in(pcm.samples, s, k) >= 0;
    return h;
}

class LiveServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
        unsetenv("PULSE_LATENCY_MSEC");
    }
    void TearDown() override {
        BASS_Free();
        setenv("SDL_AUDIODRIVER", "dummy", 1);
    }

    test_sound::TempDir dir;
};

#define REQUIRE_SERVER(server)                                                           \
    do {                                                                                 \
        if (!(server).ok()) {                                                            \
            const char* required = getenv("QV_REQUIRE_PULSE");                           \
            if (required && std::string(required) == "1") FAIL() << (server).why();      \
            GTEST_SKIP() << "no PulseAudio server could be started: " << (server).why(); \
        }                                                                                \
    } while (0)

#define REQUIRE_MP3(bytes) \
    if ((bytes).empty()) GTEST_SKIP() << "lame is not installed or failed: no MP3 test files"

// Device 1 is the desktop's default output even when another is listed first; the stream is not tied to
// it, so moving it in the mixer moves the sound, and the position runs on through the move. Seeking still
// reports the target at once.
TEST_F(LiveServer, PlaysOnTheDefaultOutputAndFollowsAMove) {
    const auto bytes = noise_mp3(dir, 8.0);
    REQUIRE_MP3(bytes);
    Server server({"hdmi", "headphones"}, "headphones");
    REQUIRE_SERVER(server);
    ASSERT_TRUE(BASS_Init(1, 44100, BASS_DEVICE_LATENCY, nullptr, nullptr)) << BASS_ErrorGetCode();
    const HSTREAM s = BASS_StreamCreateFile(TRUE, bytes.data(), 0, bytes.size(), BASS_STREAM_PRESCAN);
    ASSERT_NE(s, 0u) << BASS_ErrorGetCode();
    const AudioPcm& pcm = *audio_stream_pcm(s);

    auto record_both = [&](Heard& hdmi, Heard& phones) {
        MonitorRecorder a("hdmi", 44100, 3), b("headphones", 44100, 3);
        ASSERT_TRUE(a.ok() && b.ok());
        ASSERT_TRUE(a.wait_until_flowing(0.1) && b.wait_until_flowing(0.1));
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        a.stop(), b.stop();
        hdmi = listen(a, pcm), phones = listen(b, pcm);
    };

    ASSERT_TRUE(BASS_StreamPlay(s, TRUE, 0));
    Heard hdmi, phones;
    record_both(hdmi, phones);
    EXPECT_TRUE(phones.sound) << "the default output does not play the stream";
    EXPECT_TRUE(hdmi.silent) << "the first-listed output plays";

    const QWORD before_move = BASS_ChannelGetPosition(s);
    EXPECT_GT(before_move, 0u);
    const std::string inputs = server.pactl("list short sink-inputs");
    const std::string index = inputs.substr(0, inputs.find_first_of(" \t"));
    ASSERT_FALSE(index.empty()) << inputs;
    ASSERT_EQ(server.pactl("move-sink-input " + index + " hdmi"), "");
    record_both(hdmi, phones);
    EXPECT_TRUE(hdmi.sound) << "the stream did not follow the move";
    EXPECT_TRUE(phones.silent);
    const QWORD after_move = BASS_ChannelGetPosition(s);
    EXPECT_GT(after_move, before_move + 176400 / 2);  // about a second and a half later

    ASSERT_TRUE(BASS_ChannelSetPosition(s, 176400));
    EXPECT_EQ(BASS_ChannelGetPosition(s), 176400u);
    QWORD last = 176400;
    for (int i = 0; i < 50; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const QWORD p = BASS_ChannelGetPosition(s);
        ASSERT_GE(p, last);
        last = p;
    }
    EXPECT_GT(last, 176400u + 176400 / 10);
}

// The position a frame reads is the sound the sink plays then, measured on the sink's monitor (see
// clock_probe.h): within 5 ms on average, advancing at every frame and never back.
TEST_F(LiveServer, PositionIsTheSoundBeingPlayed) {
    const auto bytes = noise_mp3(dir, 5.5);
    REQUIRE_MP3(bytes);
    Server server({"hdmi", "speakers"}, "speakers");
    REQUIRE_SERVER(server);
    ASSERT_TRUE(BASS_Init(1, 44100, BASS_DEVICE_LATENCY, nullptr, nullptr)) << BASS_ErrorGetCode();
    const HSTREAM s = BASS_StreamCreateFile(TRUE, bytes.data(), 0, bytes.size(), BASS_STREAM_PRESCAN);
    ASSERT_NE(s, 0u) << BASS_ErrorGetCode();
    auto good = [](const pulse_test::ClockFigures& f) {
        return f.error.empty() && f.bit_exact && f.reads > 150 && std::fabs(f.mean_ms) <= 5.0 &&
               f.still_share < 0.05;
    };
    pulse_test::ClockFigures f = pulse_test::measure_clock(s, "speakers", 4.5);
    // A server starved of the processor drops sound now and then, which the recording then has to step over;
    // such a run is measured once more.
    if (!good(f) && f.dropouts > 0) f = pulse_test::measure_clock(s, "speakers", 4.5);
    ASSERT_TRUE(f.error.empty()) << f.error;
    const std::string figures = "mean " + std::to_string(f.mean_ms) + " ms, sd " + std::to_string(f.sd_ms) +
                                " ms, still " + std::to_string(f.still_share) + ", " +
                                std::to_string(f.dropouts) + " dropouts, " + std::to_string(f.reads) +
                                " frames";
    EXPECT_TRUE(f.bit_exact) << figures;
    EXPECT_GT(f.reads, 150) << figures;
    EXPECT_NEAR(f.mean_ms, 0.0, 5.0) << figures;
    EXPECT_LT(f.still_share, 0.05) << figures;
}

}  // namespace
