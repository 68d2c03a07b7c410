// The 512-point real FFT through FFTW (single precision), as the desktop computes the spectrum.
#include <fftw3.h>

#include <mutex>

#include "platform/audio/spectrum_fft.h"

namespace {

// One plan and its buffers for the process. FFTW's planner is not thread-safe and plans are cheap to reuse,
// so callers share this under a mutex; the audio thread never computes spectra.
struct Fft {
    float* in = nullptr;
    fftwf_complex* out = nullptr;
    fftwf_plan plan = nullptr;
    std::mutex mutex;

    Fft() {
        in = fftwf_alloc_real(AUDIO_FFT_SIZE);
        out = fftwf_alloc_complex(AUDIO_FFT_SIZE / 2 + 1);
        if (in && out) plan = fftwf_plan_dft_r2c_1d(AUDIO_FFT_SIZE, in, out, FFTW_ESTIMATE);
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

bool spectrum_fft_fftw(const float* in, float (*out)[2]) {
    Fft& f = fft();
    std::lock_guard<std::mutex> lock(f.mutex);
    if (!f.plan) return false;
    for (int i = 0; i < AUDIO_FFT_SIZE; ++i) f.in[i] = in[i];
    fftwf_execute(f.plan);
    for (int k = 0; k <= AUDIO_FFT_SIZE / 2; ++k) {
        out[k][0] = f.out[k][0];
        out[k][1] = f.out[k][1];
    }
    return true;
}
