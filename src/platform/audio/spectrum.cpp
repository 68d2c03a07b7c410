// The 512-point spectrum of 16-bit sound: mono mix, Hann window, magnitudes. The transform is FFTW's on the
// desktop and KissFFT's in the browser (spectrum_fft.h).
#include <cmath>
#include <cstring>

#include "platform/audio/pcm.h"
#include "platform/audio/spectrum_fft.h"

namespace {

struct Window {
    float w[AUDIO_FFT_SIZE];
    Window() {
        // Periodic Hann window: its coherent gain is exactly 0.5.
        const double pi = 3.14159265358979323846;
        for (int i = 0; i < AUDIO_FFT_SIZE; ++i)
            w[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * pi * i / AUDIO_FFT_SIZE));
    }
};

const Window& window() {
    static const Window instance;
    return instance;
}

}  // namespace

void audio_spectrum_at(const int16_t* pcm, uint64_t frames, int channels, uint64_t position,
                       float out[AUDIO_SPECTRUM_BINS]) {
    const float* win = window().w;
    float in[AUDIO_FFT_SIZE];
    float bins[AUDIO_FFT_SIZE / 2 + 1][2];
    // Mono mix in -1..1, averaged over the channels.
    const float scale = channels > 0 ? 1.0f / (32768.0f * static_cast<float>(channels)) : 0.0f;
    for (int i = 0; i < AUDIO_FFT_SIZE; ++i) {
        float sum = 0.0f;
        const uint64_t frame = position + static_cast<uint64_t>(i);
        if (pcm && channels > 0 && frame >= position && frame < frames) {
            const int16_t* s = pcm + frame * static_cast<uint64_t>(channels);
            int total = 0;
            for (int c = 0; c < channels; ++c) total += s[c];
            sum = static_cast<float>(total);
        }
        in[i] = sum * scale * win[i];
    }
#ifdef QV_SPECTRUM_KISSFFT
    const bool done = spectrum_fft_kissfft(in, bins);
#else
    const bool done = spectrum_fft_fftw(in, bins);
#endif
    if (!done) {
        memset(out, 0, sizeof(float) * AUDIO_SPECTRUM_BINS);
        return;
    }
    // Amplitude scaling 2/N: a unit sine centred on bin k gives |X_k| = N/2 before the window,
    // so 0.5 after the Hann window's coherent gain.
    const float norm = 2.0f / AUDIO_FFT_SIZE;
    for (int k = 0; k < AUDIO_SPECTRUM_BINS; ++k) {
        const float re = bins[k][0], im = bins[k][1];
        out[k] = std::sqrt(re * re + im * im) * norm;
    }
}
