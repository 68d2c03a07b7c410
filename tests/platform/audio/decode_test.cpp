#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/pcm.h"
#include "test_sound.h"

namespace {

class Decode : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test_sound::have_lame()) GTEST_SKIP() << "lame is not installed: no MP3 test files";
        ASSERT_FALSE(dir.path().empty());
    }
    std::vector<unsigned char> sine_mp3(int rate, int channels, double seconds, int bin) {
        const std::string path =
            dir.file("s" + std::to_string(rate) + "_" + std::to_string(channels) + ".mp3");
        EXPECT_TRUE(
            test_sound::make_sine_mp3(path, rate, channels, seconds, test_sound::bin_hz(bin, rate), 0.5));
        return test_sound::read_file(path);
    }
    test_sound::TempDir dir;
};

// The file's own rate and channels are kept; the encoder's delay and padding are removed, so the
// sound starts at frame 0 and has the length of the original.
TEST_F(Decode, KeepsFormatAndLength) {
    struct Case {
        int rate, channels;
    };
    for (Case c : {Case{44100, 2}, Case{48000, 2}, Case{22050, 1}}) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " channels");
        const auto mp3 = sine_mp3(c.rate, c.channels, 1.0, 40);
        AudioPcm pcm;
        ASSERT_EQ(audio_decode_mp3(mp3.data(), mp3.size(), &pcm), 0);
        EXPECT_EQ(pcm.rate, c.rate);
        EXPECT_EQ(pcm.channels, c.channels);
        EXPECT_EQ(pcm.frames(), static_cast<uint64_t>(c.rate));
        // The tone is there, at its bin, about the level it was written at (0.5 of full scale).
        float s[AUDIO_SPECTRUM_BINS];
        audio_spectrum_at(pcm.samples.data(), pcm.frames(), pcm.channels, pcm.frames() / 2, s);
        EXPECT_EQ(std::max_element(s, s + AUDIO_SPECTRUM_BINS) - s, 40);
        EXPECT_NEAR(s[40], 0.25f, 0.02f);
    }
}

TEST_F(Decode, RefusesDataThatIsNotMpegAudio) {
    AudioPcm pcm;
    EXPECT_EQ(audio_decode_mp3("", 0, &pcm), 20);

    const char text[] = "This is a text file, not a piece of music.\n";
    EXPECT_EQ(audio_decode_mp3(text, strlen(text), &pcm), 41);

    const std::string wav = dir.file("tone.wav");
    ASSERT_TRUE(test_sound::write_wav(wav, 44100, 2, test_sound::sine(44100, 2, 44100, 1000.0, 0.5)));
    const auto wav_bytes = test_sound::read_file(wav);
    EXPECT_EQ(audio_decode_mp3(wav_bytes.data(), wav_bytes.size(), &pcm), 41);

    std::mt19937 rng(7);
    std::vector<unsigned char> noise(100000);
    for (auto& b : noise) b = static_cast<unsigned char>(rng());
    EXPECT_EQ(audio_decode_mp3(noise.data(), noise.size(), &pcm), 41);
    EXPECT_EQ(pcm.frames(), 0u);
    EXPECT_EQ(pcm.channels, 0);
}

// A file cut short or damaged in the middle keeps what can be decoded.
TEST_F(Decode, DamagedFileKeepsWhatDecodes) {
    const auto mp3 = sine_mp3(44100, 2, 2.0, 60);
    AudioPcm whole, cut, damaged;
    ASSERT_EQ(audio_decode_mp3(mp3.data(), mp3.size(), &whole), 0);

    ASSERT_EQ(audio_decode_mp3(mp3.data(), mp3.size() / 2, &cut), 0);
    EXPECT_GT(cut.frames(), whole.frames() / 3);
    EXPECT_LT(cut.frames(), whole.frames() * 2 / 3);

    auto broken = mp3;
    std::mt19937 rng(3);
    for (size_t i = broken.size() / 2; i < broken.size() / 2 + 2000; ++i)
        broken[i] = static_cast<unsigned char>(rng());
    ASSERT_EQ(audio_decode_mp3(broken.data(), broken.size(), &damaged), 0);
    EXPECT_GT(damaged.frames(), whole.frames() / 2);
    EXPECT_EQ(damaged.channels, 2);
}

// Decoding ahead on another thread: the same bytes later decode to exactly what a direct decode gives
// (sound and error code alike), other bytes are decoded as themselves, and a decode ahead that is never
// used, or whose loading gave nothing, changes nothing.
TEST_F(Decode, DecodingAheadGivesWhatADirectDecodeGives) {
    const auto a = sine_mp3(44100, 2, 2.0, 60);
    const auto b = sine_mp3(22050, 1, 1.0, 30);
    AudioPcm direct;
    ASSERT_EQ(audio_decode_mp3(a.data(), a.size(), &direct), 0);

    std::thread::id loader;
    audio_decode_ahead([&] {
        loader = std::this_thread::get_id();
        return a;
    });
    AudioPcm other, ahead, again;
    ASSERT_EQ(audio_decode_mp3(b.data(), b.size(), &other), 0);
    EXPECT_EQ(other.rate, 22050);
    EXPECT_EQ(other.channels, 1);
    ASSERT_EQ(audio_decode_mp3(a.data(), a.size(), &ahead), 0);
    EXPECT_NE(loader, std::this_thread::get_id());
    EXPECT_EQ(ahead.rate, direct.rate);
    EXPECT_EQ(ahead.channels, direct.channels);
    EXPECT_TRUE(ahead.samples == direct.samples);
    ASSERT_EQ(audio_decode_mp3(a.data(), a.size(), &again), 0);  // used once; then decoded as usual
    EXPECT_TRUE(again.samples == direct.samples);

    const char text[] = "this is not mpeg audio at all, only text";
    const std::vector<unsigned char> notMpeg(text, text + sizeof text - 1);
    audio_decode_ahead([&] { return notMpeg; });
    AudioPcm refused;
    EXPECT_EQ(audio_decode_mp3(notMpeg.data(), notMpeg.size(), &refused), 41);
    EXPECT_TRUE(refused.samples.empty());

    audio_decode_ahead([] { return std::vector<unsigned char>(); });
    AudioPcm afterEmpty;
    ASSERT_EQ(audio_decode_mp3(a.data(), a.size(), &afterEmpty), 0);
    EXPECT_TRUE(afterEmpty.samples == direct.samples);

    audio_decode_ahead([&] { return a; });
    audio_decode_ahead_drop();
    AudioPcm afterDrop;
    ASSERT_EQ(audio_decode_mp3(a.data(), a.size(), &afterDrop), 0);
    EXPECT_TRUE(afterDrop.samples == direct.samples);
}

}  // namespace
