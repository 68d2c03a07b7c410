// The 512-point real FFT through KissFFT (single precision), as the browser build computes the spectrum.
#include <kiss_fftr.h>

#include <mutex>

#include "platform/audio/spectrum_fft.h"

namespace {

struct KissPlan {
    kiss_fftr_cfg cfg = kiss_fftr_alloc(AUDIO_FFT_SIZE, 0, nullptr, nullptr);
    kiss_fft_cpx out[AUDIO_FFT_SIZE / 2 + 1];
    std::mutex mutex;
    ~KissPlan() { kiss_fftr_free(cfg); }
};

KissPlan& plan() {
    static KissPlan instance;
    return instance;
}

}  // namespace

bool spectrum_fft_kissfft(const float* in, float (*out)[2]) {
    KissPlan& p = plan();
    if (!p.cfg) return false;
    std::lock_guard<std::mutex> lock(p.mutex);
    kiss_fftr(p.cfg, in, p.out);
    for (int k = 0; k <= AUDIO_FFT_SIZE / 2; ++k) {
        out[k][0] = p.out[k].r;
        out[k][1] = p.out[k].i;
    }
    return true;
}
