#pragma once
// The soundtrack and the production's clock: the playing position of the music stream is the time,
// and a spectrum of the sound being heard is fetched once a frame.
#include <cstdint>
#include <string>
#include <vector>

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
    // Reads the named file and opens a new stream on it, and only then frees the old stream: a failing
    // file (the texts of load()) leaves the music as it was. The new stream is held at its start.
    void reload(const std::string& name);
    // Holds the stream where it is heard (a pause); playFrom() goes on from `seconds`.
    void hold();
    void playFrom(double seconds);
    // Starts the output and the stream from its start, then seeks to startOffset unless it is 0.
    // Throws "no music file loaded" without a stream.
    void play();
    // The playing position in seconds: the stream's byte position over its own byte rate (16-bit
    // samples at the file's rate and channel count; 176400 for 44.1 kHz stereo).
    virtual double time();
    // Seconds until the sound at the last time() read is first heard (the output still playing what it was
    // handed before the start or a seek), read with it; 0 while it is heard; negative when not known.
    double untilHeard() const { return untilHeard_; }
    // Fetches the 256-bin spectrum of the sound being heard into spectrum, at the frequencies of a
    // 44.1 kHz stream whatever the file's rate (see spectrumAtTunedRate).
    void updateSpectrum();

    MemoryFile* file;  // the whole music file; lives as long as the stream
    HSTREAM stream;    // 0 while no stream exists
    float spectrum[256];
    double startOffset;     // seconds
    int rate = kTunedRate;  // the stream's sample rate, set by load
    int channels = 2;       // the stream's channel count, set by load

private:
    double untilHeard_ = -1.0;
    // Opens the named file and a stream on it into the two, or throws load()'s texts with nothing left open.
    static void open(const std::string& name, MemoryFile*& newFile, HSTREAM& newStream);
    void takeFormat();  // rate and channels from the stream

    std::vector<int16_t> heard_;  // the sound being heard, for the spectrum at another rate
};

// Bytes a second of a stream's position: 16-bit samples at `rate` for each of `channels`.
inline double streamBytesPerSecond(int rate, int channels) {
    return 2.0 * rate * channels;
}

// The spectrum the production reads, from frame `position` of interleaved 16-bit sound at `rate`: the
// 256 magnitudes of a 512-point FFT at 44.1 kHz (audio_spectrum_at), so that bin k is k * 44100 / 512 Hz
// and the window lasts 512 / 44100 s whatever the file's rate. Sound at another rate is first resampled
// to 44.1 kHz (channels averaged, a Lanczos kernel); at 44.1 kHz it is audio_spectrum_at itself.
void spectrumAtTunedRate(const int16_t* pcm, uint64_t frames, int channels, int rate, uint64_t position,
                         float* out);
