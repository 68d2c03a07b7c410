#pragma once
// The real 512-point FFTs behind audio_spectrum_at (private to the audio layer). The desktop computes the
// spectrum with FFTW, the browser with KissFFT; both are built on the desktop so that a test holds them to
// the same results.
#include "platform/audio/pcm.h"

// Transforms AUDIO_FFT_SIZE real samples into bins 0 .. AUDIO_FFT_SIZE / 2 as (re, im) pairs. False when
// the library could not set up its plan.
bool spectrum_fft_fftw(const float* in, float (*out)[2]);
bool spectrum_fft_kissfft(const float* in, float (*out)[2]);
