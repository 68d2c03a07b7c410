#pragma once
// The soundtrack and the production's clock: the playing position of the music stream is the time,
// and a spectrum of the sound being heard is fetched once a frame.
#include <string>

#include "data/memfile.h"
#include "platform/audio/bass.h"

// The rate the production's spectrum bins were chosen at: bin k of a 512-point FFT is k * 44100 / 512 Hz.
constexpr int kTunedRate = 44100;

class Music {
public:
    // Opens the audio output; throws "could not init bass" when it cannot.
    explicit Music(HWND window);
    // Frees the stream, the file and the output.
    virtual ~Music();
    Music(const Music&) = delete;
    Music& operator=(const Music&) = delete;

    // Reads the named data file and opens a stream on it; throws "Failed to load " + name + "\n" +
    // the reason. A stream already loaded is freed first.
    void load(std::string name, double startOffset);
    // Starts the output and the stream from its start, then seeks to startOffset unless it is 0.
    // Throws "no music file loaded" without a stream.
    void play();
    // The playing position in seconds: the stream's byte position over its own byte rate (16-bit
    // samples at the file's rate and channel count; 176400 for 44.1 kHz stereo).
    virtual double time();
    // Fetches the 256-bin spectrum of the sound being heard into spectrum, read at the frequencies of a
    // 44.1 kHz stream whatever the file's rate (see spectrumAtTunedFrequencies).
    void updateSpectrum();

    MemoryFile* file;  // the whole music file; lives as long as the stream
    HSTREAM stream;    // 0 while no stream exists
    float spectrum[256];
    double startOffset;     // seconds
    int rate = kTunedRate;  // the stream's sample rate, set by load
    int channels = 2;       // the stream's channel count, set by load
};

// Bytes a second of a stream's position: 16-bit samples at `rate` for each of `channels`.
inline double streamBytesPerSecond(int rate, int channels) {
    return 2.0 * rate * channels;
}

// Maps a 256-bin spectrum of a stream at `rate` onto the bins of a 44.1 kHz one, so a bin means the same
// frequency whatever the file's rate: out[k] is the magnitude at k * 44100 / 512 Hz, interpolated
// linearly between the two nearest bins of `bins`, and 0 above the last bin. At 44.1 kHz it is a copy.
void spectrumAtTunedFrequencies(const float* bins, int rate, float* out);
