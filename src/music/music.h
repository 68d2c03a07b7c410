#pragma once
// The soundtrack and the production's clock: the playing position of the music stream is the time,
// and a spectrum of the sound being heard is fetched once a frame.
#include <string>

#include "data/memfile.h"
#include "platform/audio/bass.h"

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
    // The playing position in seconds at 176400 bytes a second, whatever the stream's format.
    virtual double time();
    // Fetches the 256-bin spectrum of the sound being heard into spectrum.
    void updateSpectrum();

    MemoryFile* file;  // the whole music file; lives as long as the stream
    HSTREAM stream;    // 0 while no stream exists
    float spectrum[256];
    double startOffset;  // seconds
};
