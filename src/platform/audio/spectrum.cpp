// The 512-point spectrum of 16-bit sound through FFTW (single precision).
#include <fftw3.h>

#include <cmath>
#include <cstring>
#include <mutex>

#include "platform/audio/pcm.h"

namespace {

// One plan and its buffers for the process. FFTW's planner is not thread-safe and plans are
// cheap to reuse, so callers share this under a mutex; the audio thread never computes spectra.
struct Fft {
    float* in = nullptr;
    fftwf_complex* out = nullptr;
    fftwf_plan plan = nullptr;
    float window[AUDIO_FFT_SIZE];
    std::mutex mutex;

    Fft() {
        in = fftwf_alloc_real(AUDIO_FFT_SIZE);
        out = fftwf_alloc_complex(AUDIO_FFT_SIZE / 2 + 1);
        if (in && out) plan = fftwf_plan_dft_r2c_1d(AUDIO_FFT_SIZE, in, out, FFTW_ESTIMATE);
        // Periodic Hann window: its coherent gain is exactly 0.5.
        const double pi = 3.14159265358979323846;
        for (int i = 0; i < AUDIO_FFT_SIZE; ++i)
            window[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * pi * i / AUDIO_FFT_SIZE));
    }
    ~Fft() {
        if (plan) fftwf_destroy_plan(plan);
        fftwf_free(in);
        fftwf_free(out);
    }
};

Fft& fft() {
    static Fft instance;
    return instance;
}

}  // namespace

void audio_spectrum_at(const int16_t* pcm, uint64_t frames, int channels, uint64_t position,
                       float out[AUDIO_SPECTRUM_BINS]) {
    Fft& f = fft();
    std::lock_guard<std::mutex> lock(f.mutex);
    if (!f.plan) {
        memset(out, 0, sizeof(float) * AUDIO_SPECTRUM_BINS);
        return;
    }
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
        f.in[i] = sum * scale * f.window[i];
    }
    fftwf_execute(f.plan);
    // Amplitude scaling 2/N: a unit sine centred on bin k gives |X_k| = N/2 before the window,
    // so 0.5 after the Hann window's coherent gain.
    const float norm = 2.0f / AUDIO_FFT_SIZE;
    for (int k = 0; k < AUDIO_SPECTRUM_BINS; ++k) {
        const float re = f.out[k][0], im = f.out[k][1];
        out[k] = std::sqrt(re * re + im * im) * norm;
    }
}
