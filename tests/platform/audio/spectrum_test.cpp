#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/audio/pcm.h"
#include "platform/audio/spectrum_fft.h"
#include "test_sound.h"

namespace {

using test_sound::sine;

std::vector<float> spectrum(const std::vector<int16_t>& pcm, int channels, uint64_t position) {
    std::vector<float> out(AUDIO_SPECTRUM_BINS, -1.0f);
    audio_spectrum_at(pcm.data(), pcm.size() / channels, channels, position, out.data());
    return out;
}

// The browser's KissFFT and the desktop's FFTW give the same spectrum magnitudes (as audio_spectrum_at scales
// them) within 1e-5 on every bin, over full-scale noise, sines off and on bins, and chirps.
TEST(Spectrum, KissFftAndFftwAgree) {
    uint32_t seed = 12345;
    auto noise = [&]() {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<int32_t>(seed) / 2147483648.0);
    };
    const double pi = 3.14159265358979323846;
    float worst = 0.0f;
    for (int run = 0; run < 300; ++run) {
        float in[AUDIO_FFT_SIZE];
        for (int i = 0; i < AUDIO_FFT_SIZE; ++i) {
            const double w = 0.5 - 0.5 * std::cos(2.0 * pi * i / AUDIO_FFT_SIZE);
            double x;
            if (run % 3 == 0)
                x = noise();
            else if (run % 3 == 1)
                x = std::sin(2.0 * pi * (1.0 + run * 0.83) * i / AUDIO_FFT_SIZE + run);
            else
                x = 0.5 * std::sin(pi * (0.001 * run) * i * i / AUDIO_FFT_SIZE) + 0.3 * noise();
            in[i] = static_cast<float>(x * w);
        }
        float a[AUDIO_FFT_SIZE / 2 + 1][2], b[AUDIO_FFT_SIZE / 2 + 1][2];
        ASSERT_TRUE(spectrum_fft_fftw(in, a));
        ASSERT_TRUE(spectrum_fft_kissfft(in, b));
        for (int k = 0; k < AUDIO_SPECTRUM_BINS; ++k) {
            const float norm = 2.0f / AUDIO_FFT_SIZE;
            const float ma = std::sqrt(a[k][0] * a[k][0] + a[k][1] * a[k][1]) * norm;
            const float mb = std::sqrt(b[k][0] * b[k][0] + b[k][1] * b[k][1]) * norm;
            worst = std::max(worst, std::abs(ma - mb));
            ASSERT_NEAR(ma, mb, 1e-5f) << "run " << run << ", bin " << k;
        }
    }
    std::printf("largest difference between the two transforms: %.3g\n", static_cast<double>(worst));
}

// A full-scale sine centred on bin k reads 0.5 there; the Hann window spreads a quarter into each
// neighbour and nothing further.
TEST(Spectrum, CentredSineReadsHalfWithHannNeighbours) {
    const float full = 32767.0f / 32768.0f;
    for (int channels : {1, 2}) {
        for (int k : {25, 51, 102, 200}) {
            const auto pcm = sine(44100, channels, 512, test_sound::bin_hz(k, 44100), 1.0);
            const auto s = spectrum(pcm, channels, 0);
            SCOPED_TRACE("bin " + std::to_string(k) + ", channels " + std::to_string(channels));
            EXPECT_NEAR(s[k], 0.5f * full, 2e-4);
            EXPECT_NEAR(s[k - 1], 0.25f * full, 2e-4);
            EXPECT_NEAR(s[k + 1], 0.25f * full, 2e-4);
            for (int i = 0; i < AUDIO_SPECTRUM_BINS; ++i) {
                if (std::abs(i - k) > 1) {
                    EXPECT_LT(s[i], 2e-4) << "bin " << i;
                }
            }
        }
    }
}

TEST(Spectrum, ChannelsAreAveraged) {
    auto pcm = sine(44100, 2, 512, test_sound::bin_hz(51, 44100), 1.0);
    auto left_only = pcm;
    auto opposed = pcm;
    for (size_t i = 1; i < pcm.size(); i += 2) {
        left_only[i] = 0;
        opposed[i] = static_cast<int16_t>(-opposed[i]);
    }
    EXPECT_NEAR(spectrum(left_only, 2, 0)[51], 0.25f, 2e-4);
    EXPECT_LT(spectrum(opposed, 2, 0)[51], 1e-5);
}

TEST(Spectrum, FullScaleDcReadsOneInBinZero) {
    const std::vector<int16_t> dc(512, -32768);
    const auto s = spectrum(dc, 1, 0);
    EXPECT_NEAR(s[0], 1.0f, 1e-5);
    EXPECT_NEAR(s[1], 0.5f, 1e-5);  // the window's own spectrum
    EXPECT_LT(*std::max_element(s.begin() + 2, s.end()), 1e-5);
}

// The window covers the 512 frames from the position; frames past the end are silence.
TEST(Spectrum, WindowStartsAtPositionAndEndsAsSilence) {
    std::vector<int16_t> pcm(1024, 0);
    const auto tone = sine(44100, 1, 512, test_sound::bin_hz(30, 44100), 1.0);
    std::copy(tone.begin(), tone.end(), pcm.begin() + 512);  // frames 512..1023

    const auto silent = spectrum(pcm, 1, 0);
    EXPECT_LT(*std::max_element(silent.begin(), silent.end()), 1e-6);
    EXPECT_NEAR(spectrum(pcm, 1, 512)[30], 0.5f, 2e-4);
    const float tail = spectrum(pcm, 1, 768)[30];  // 256 frames of tone, then past the end
    EXPECT_GT(tail, 0.1f);
    EXPECT_LT(tail, 0.4f);
    const auto past = spectrum(pcm, 1, 1024);
    EXPECT_EQ(*std::max_element(past.begin(), past.end()), 0.0f);
    const auto far = spectrum(pcm, 1, UINT64_MAX - 100);  // no wrap-around back into the data
    EXPECT_EQ(*std::max_element(far.begin(), far.end()), 0.0f);
}

}  // namespace
