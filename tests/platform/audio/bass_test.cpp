#include "platform/audio/bass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <list>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/pcm.h"
#include "test_sound.h"

namespace {

using Clock = std::chrono::steady_clock;

void sleep_s(double s) {
    std::this_thread::sleep_for(std::chrono::duration<double>(s));
}

// Bytes per second of the playing position, measured over about `span` seconds after playback has
// settled.
double measure_rate(HSTREAM stream, double span) {
    sleep_s(0.2);
    const QWORD p0 = BASS_ChannelGetPosition(stream);
    const auto t0 = Clock::now();
    sleep_s(span);
    const QWORD p1 = BASS_ChannelGetPosition(stream);
    const auto t1 = Clock::now();
    return static_cast<double>(p1 - p0) / std::chrono::duration<double>(t1 - t0).count();
}

class Bass : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        ASSERT_FALSE(dir.path().empty());
    }
    void TearDown() override { BASS_Free(); }

    bool init() { return BASS_Init(1, 44100, BASS_DEVICE_LATENCY, nullptr, nullptr); }

    // A stream over the MP3 of a sine at FFT bin `bin` of the file's rate, played from bytes the fixture
    // keeps; 0 when it cannot be made (REQUIRE_STREAM skips the test where lame is missing).
    HSTREAM sineStream(int rate, int channels, double seconds, int bin = 40) {
        if (!test_sound::have_lame()) return 0;
        const std::string path = dir.file("t" + std::to_string(counter++) + ".mp3");
        if (!test_sound::make_sine_mp3(path, rate, channels, seconds, test_sound::bin_hz(bin, rate), 0.5))
            return 0;
        const std::vector<unsigned char>& bytes = files.emplace_back(test_sound::read_file(path));
        return BASS_StreamCreateFile(TRUE, bytes.data(), 0, bytes.size(), BASS_STREAM_PRESCAN);
    }

    test_sound::TempDir dir;
    int counter = 0;
    std::list<std::vector<unsigned char>> files;
};

#define REQUIRE_STREAM(s)                                                                                 \
    do {                                                                                                  \
        if (!(s) && !test_sound::have_lame()) GTEST_SKIP() << "lame is not installed: no MP3 test files"; \
        ASSERT_NE(s, 0u) << "BASS error " << BASS_ErrorGetCode();                                         \
    } while (0)

TEST_F(Bass, InitAndErrorCodes) {
    const char text[] = "not music";
    auto create = [&](DWORD length) {
        return BASS_StreamCreateFile(TRUE, text, 0, length, BASS_STREAM_PRESCAN);
    };
    EXPECT_EQ(create(sizeof text), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_FALSE(BASS_Init(5, 44100, 0, nullptr, nullptr));  // the dummy driver has one device
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DEVICE);

    ASSERT_TRUE(init());
    EXPECT_FALSE(init());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
    EXPECT_EQ(create(sizeof text), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
    EXPECT_EQ(create(0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    EXPECT_EQ(BASS_ChannelGetPosition(12345), ~QWORD(0));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);

    // Open again after a free; the no-sound device makes no playing streams.
    EXPECT_TRUE(BASS_Free());
    ASSERT_TRUE(init());
    EXPECT_TRUE(BASS_Free());
    ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(create(sizeof text), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
}

TEST_F(Bass, InitFailsWithoutAnOutputDevice) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    EXPECT_FALSE(init());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DRIVER);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    EXPECT_TRUE(init());
}

// The position counts the bytes of 16-bit sound heard, in the stream's own rate and channels: a
// 44.1 kHz stereo stream advances 176400 bytes a second, others in proportion to their byte rate.
TEST_F(Bass, PositionAdvancesAtTheStreamsByteRate) {
    struct Case {
        int rate, channels;
    };
    ASSERT_TRUE(init());
    for (Case c : {Case{44100, 2}, Case{22050, 1}}) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " channels");
        const HSTREAM s = sineStream(c.rate, c.channels, 3.0);
        REQUIRE_STREAM(s);
        EXPECT_EQ(BASS_ChannelGetPosition(s), 0u);
        ASSERT_TRUE(BASS_StreamPlay(s, TRUE, 0));
        const double expected = static_cast<double>(c.rate) * c.channels * 2;
        EXPECT_NEAR(measure_rate(s, 1.2), expected, expected * 0.15);
        EXPECT_EQ(BASS_ChannelGetPosition(s) % (c.channels * 2), 0u);
        EXPECT_TRUE(BASS_StreamFree(s));
        EXPECT_EQ(BASS_ChannelGetPosition(s), ~QWORD(0));
    }
}

// Streams of any format play for their own duration on the device, then stay at their end.
TEST_F(Bass, PositionNeverGoesBackAndStopsAtTheEnd) {
    struct Case {
        int rate, channels;
    };
    ASSERT_TRUE(init());
    for (Case c : {Case{44100, 2}, Case{48000, 2}, Case{22050, 1}}) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " channels");
        const HSTREAM s = sineStream(c.rate, c.channels, 0.3701);  // a length that does not convert evenly
        REQUIRE_STREAM(s);
        const QWORD per_second = static_cast<QWORD>(c.rate) * c.channels * 2;
        const uint64_t frames = audio_stream_pcm(s)->frames();
        EXPECT_EQ(frames, static_cast<uint64_t>(0.3701 * c.rate));
        const QWORD end = frames * c.channels * 2;
        sleep_s(0.1);
        EXPECT_EQ(BASS_ChannelGetPosition(s), 0u);  // not playing yet
        ASSERT_TRUE(BASS_StreamPlay(s, TRUE, 0));
        const auto started = Clock::now();
        QWORD last = 0, at_200ms = 0;
        while (Clock::now() < started + std::chrono::milliseconds(700)) {
            const QWORD p = BASS_ChannelGetPosition(s);
            ASSERT_GE(p, last);
            ASSERT_LE(p, end);
            if (Clock::now() < started + std::chrono::milliseconds(200)) at_200ms = p;
            last = p;
            sleep_s(0.002);
        }
        EXPECT_GT(at_200ms, per_second / 10);
        EXPECT_LT(at_200ms, end);
        EXPECT_EQ(BASS_ChannelGetPosition(s), end);

        // Playing again with a flush starts over.
        ASSERT_TRUE(BASS_StreamPlay(s, TRUE, 0));
        EXPECT_EQ(BASS_ChannelGetPosition(s), 0u);
        BASS_StreamFree(s);
    }
}

TEST_F(Bass, SetPositionSeeksThere) {
    ASSERT_TRUE(init());
    const HSTREAM s = sineStream(48000, 2, 4.0);
    REQUIRE_STREAM(s);
    ASSERT_TRUE(BASS_StreamPlay(s, TRUE, 0));
    ASSERT_TRUE(BASS_ChannelSetPosition(s, 2 * 192000 + 3));  // rounded down to a whole frame
    const QWORD at = BASS_ChannelGetPosition(s);
    EXPECT_GE(at, 2u * 192000);
    EXPECT_LT(at, 2u * 192000 + 192000 / 10);
    sleep_s(0.5);
    const QWORD later = BASS_ChannelGetPosition(s);
    EXPECT_GT(later, at + 192000 / 4);
    EXPECT_LT(later, at + 192000);

    EXPECT_FALSE(BASS_ChannelSetPosition(s, 5u * 192000));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_POSITION);
    EXPECT_GE(BASS_ChannelGetPosition(s), later);
}

// The live spectrum is the one of the sound at the position being heard.
TEST_F(Bass, SpectrumOfThePlayingSound) {
    ASSERT_TRUE(init());
    const HSTREAM s = sineStream(44100, 2, 3.0, 51);
    REQUIRE_STREAM(s);
    ASSERT_TRUE(BASS_StreamPlay(s, TRUE, 0));
    sleep_s(0.4);
    float spectrum[AUDIO_SPECTRUM_BINS];
    EXPECT_EQ(BASS_ChannelGetData(s, spectrum, BASS_DATA_FFT512), 512u * 4);
    EXPECT_EQ(std::max_element(spectrum, spectrum + AUDIO_SPECTRUM_BINS) - spectrum, 51);
    EXPECT_NEAR(spectrum[51], 0.25f, 0.03f);  // written at half of full scale

    // The same samples through the pure function give the same numbers.
    ASSERT_TRUE(BASS_ChannelSetPosition(s, 100000));
    BASS_ChannelGetData(s, spectrum, BASS_DATA_FFT512);
    const AudioPcm* pcm = audio_stream_pcm(s);
    ASSERT_NE(pcm, nullptr);
    float direct[AUDIO_SPECTRUM_BINS];
    audio_spectrum_at(pcm->samples.data(), pcm->frames(), pcm->channels, 100000 / 4, direct);
    for (int k = 0; k < AUDIO_SPECTRUM_BINS; ++k) EXPECT_EQ(spectrum[k], direct[k]) << "bin " << k;

    // Raw sample data at the same position.
    int16_t raw[8];
    EXPECT_EQ(BASS_ChannelGetData(s, raw, sizeof raw), sizeof raw);
    EXPECT_TRUE(std::equal(raw, raw + 8, pcm->samples.begin() + 100000 / 2));
}

// A driver that plays into nothing (the dummy driver) takes its buffers at a pace of its own, several percent
// slower than real time; the clock still runs at the sound's rate, evenly, with the processor busy too.
TEST_F(Bass, ClockKeepsRealTimeOnADriverWithoutADevice) {
    ASSERT_TRUE(init());
    const HSTREAM s = sineStream(44100, 2, 4.5);
    REQUIRE_STREAM(s);
    std::atomic<bool> stop{false};
    std::thread load([&stop] {
        volatile double x = 1;
        while (!stop) x = std::sqrt(x + 1);
    });
    ASSERT_TRUE(BASS_StreamPlay(s, TRUE, 0));
    sleep_s(0.3);
    std::vector<std::pair<double, double>> reads;  // seconds of real time, seconds of sound
    const auto start = Clock::now();
    for (auto next = start; next < start + std::chrono::seconds(3);
         next += std::chrono::microseconds(16667)) {
        std::this_thread::sleep_until(next);
        const QWORD pos = BASS_ChannelGetPosition(s);
        reads.emplace_back(std::chrono::duration<double>(Clock::now() - start).count(), pos / 176400.0);
    }
    stop = true;
    load.join();
    // A straight line through the reads: its slope is the clock's rate, the distances from it its jitter.
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const auto& r : reads)
        n += 1, sx += r.first, sy += r.second, sxx += r.first * r.first, sxy += r.first * r.second;
    const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    const double offset = (sy - slope * sx) / n;
    double worst = 0;
    for (size_t i = 0; i < reads.size(); ++i) {
        worst = std::max(worst, std::fabs(reads[i].second - (offset + slope * reads[i].first)));
        if (i) {
            ASSERT_GE(reads[i].second, reads[i - 1].second);
        }
    }
    EXPECT_NEAR(slope, 1.0, 0.005) << "seconds of sound a second";
    EXPECT_LT(worst * 1000, 10.0) << "ms from the straight line";
}

}  // namespace
