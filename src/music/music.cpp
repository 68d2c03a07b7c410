#include "music/music.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/audio/pcm.h"

namespace {

const char* stream_error_text(int code) {
    switch (code) {
        case 1:
            return "Insufficent memory.";
        case 6:
            return "The sample format is not supported by the device/drivers. If the stream is more than "
                   "stereo "
                   "or the BASS_SAMPLE_FLOAT flag is used, it could be that they are not supported (ie. no "
                   "WDM "
                   "drivers).";
        case 8:
            return "BASS_Init has not been successfully called. This should not happen at all.";
        case 20:
            return "Zero-length music file. File is proabelby corrupted.";
        case 21:
            return "Couldn't initialize 3D support for the stream.";
        case 37:
            return "Only decoding streams (BASS_STREAM_DECODE) are allowed when using the \"no sound\" "
                   "device.";
        case 41:
            return "The file's format is not recognised/supported.";
        case 42:
            return "The device/drivers do not support the requested speaker(s), or you're attempting to "
                   "assign a "
                   "stereo stream to a mono speaker.";
        default:
            return "Unknown or undocumented BASS-error code";
    }
}

// Seconds to a stream byte position through an unsigned 32-bit count, truncated toward zero;
// negative or unrepresentable offsets are clamped instead of overflowing.
QWORD offset_to_position(double seconds, double bytesPerSecond) {
    const double bytes = seconds * bytesPerSecond;
    if (!(bytes > 0.0)) return 0;
    if (bytes >= 4294967295.0) return UINT32_MAX;
    return static_cast<QWORD>(static_cast<uint32_t>(bytes));
}

}  // namespace

Music::Music(HWND window) : file(nullptr), stream(0), startOffset(0.0) {
    memset(spectrum, 0, sizeof spectrum);
    if (!BASS_Init(1, 44100, BASS_DEVICE_LATENCY, window, nullptr)) throw std::string("could not init bass");
}

Music::~Music() {
    if (stream) BASS_StreamFree(stream);
    if (file) memfile_close(file);
    BASS_Free();
}

void Music::load(std::string name, double offset) {
    if (stream) BASS_StreamFree(stream);
    stream = 0;
    if (file) memfile_close(file);
    file = nullptr;
    rate = kTunedRate, channels = 2;
    open(name, file, stream);
    startOffset = offset;
    takeFormat();
}

void Music::reload(const std::string& name) {
    MemoryFile* newFile = nullptr;
    HSTREAM newStream = 0;
    open(name, newFile, newStream);
    if (stream) BASS_StreamFree(stream);
    if (file) memfile_close(file);
    file = newFile;
    stream = newStream;
    rate = kTunedRate, channels = 2;
    takeFormat();
}

void Music::open(const std::string& name, MemoryFile*& newFile, HSTREAM& newStream) {
    try {
        newFile = memfile_open(name.c_str());
        if (!newFile) throw std::string("file not found");
        newStream = BASS_StreamCreateFile(TRUE, newFile->data, 0, newFile->length, BASS_STREAM_PRESCAN);
        if (!newStream) throw std::string(stream_error_text(BASS_ErrorGetCode()));
    } catch (const std::string& e) {
        memfile_close(newFile);
        newFile = nullptr;
        throw std::string("Failed to load " + name + "\n" + e);
    } catch (...) {
        memfile_close(newFile);
        newFile = nullptr;
        throw std::string("Failed to load " + name + "\nUnknown error");
    }
}

void Music::takeFormat() {
    // The position counts the stream's own frames, so its rate and channels make the clock.
    if (const AudioPcm* pcm = audio_stream_pcm(stream))
        if (pcm->rate > 0 && pcm->channels > 0) rate = pcm->rate, channels = pcm->channels;
}

void Music::hold() {
    if (stream) BASS_ChannelPause(stream);
}

void Music::playFrom(double seconds) {
    if (!stream) return;
    BASS_Start();
    // Past the end the position stays where it was: the stream has played out either way.
    BASS_ChannelSetPosition(stream, offset_to_position(seconds, streamBytesPerSecond(rate, channels)));
    BASS_StreamPlay(stream, FALSE, 0);
}

void Music::play() {
    if (!stream) throw std::string("no music file loaded");
    BASS_Start();
    BASS_StreamPlay(stream, TRUE, 0);
    if (startOffset != 0.0)
        BASS_ChannelSetPosition(stream,
                                offset_to_position(startOffset, streamBytesPerSecond(rate, channels)));
}

double Music::time() {
    const QWORD position = audio_stream_position(stream, &untilHeard_);
    if (position == ~QWORD(0)) return 0.0;  // no stream: the clock stands at the start
    return static_cast<double>(position) * (1.0 / streamBytesPerSecond(rate, channels));
}

void Music::updateSpectrum() {
    if (rate == kTunedRate) {
        BASS_ChannelGetData(stream, spectrum, BASS_DATA_FFT512);
        return;
    }
    // The stream's frames that the 512 frames at 44.1 kHz span, and the kernel's reach past them.
    const size_t frames = static_cast<size_t>(std::ceil(AUDIO_FFT_SIZE * double(rate) / kTunedRate)) + 8;
    heard_.assign(frames * size_t(channels), 0);
    const DWORD got = BASS_ChannelGetData(stream, heard_.data(), DWORD(heard_.size() * 2));
    const uint64_t have = got == DWORD(-1) ? 0 : got / (2u * unsigned(channels));
    spectrumAtTunedRate(heard_.data(), have, channels, rate, 0, spectrum);
}

namespace {

constexpr int kLanczosLobes = 4;

double lanczos(double x) {
    if (x == 0.0) return 1.0;
    if (x <= -kLanczosLobes || x >= kLanczosLobes) return 0.0;
    const double px = 3.14159265358979323846 * x;
    return kLanczosLobes * std::sin(px) * std::sin(px / kLanczosLobes) / (px * px);
}

}  // namespace

void spectrumAtTunedRate(const int16_t* pcm, uint64_t frames, int channels, int rate, uint64_t position,
                         float* out) {
    if (rate == kTunedRate || rate <= 0 || channels <= 0) {
        audio_spectrum_at(pcm, frames, channels, position, out);
        return;
    }
    // Frame i of the stream, channels averaged; silence outside the sound and before the position, so the
    // live stream (which hands out the sound from the position on) and a capture agree.
    auto mono = [&](int64_t i) {
        if (i < int64_t(position) || uint64_t(i) >= frames) return 0.0;
        double sum = 0.0;
        for (int c = 0; c < channels; ++c) sum += pcm[uint64_t(i) * uint64_t(channels) + uint64_t(c)];
        return sum / channels;
    };
    int16_t tuned[AUDIO_FFT_SIZE];
    const double step = double(rate) / kTunedRate;
    for (int j = 0; j < AUDIO_FFT_SIZE; ++j) {
        const double at = double(position) + j * step;
        const int64_t base = static_cast<int64_t>(std::floor(at));
        double v = 0.0;
        for (int k = 1 - kLanczosLobes; k <= kLanczosLobes; ++k)
            v += mono(base + k) * lanczos(at - double(base + k));
        tuned[j] = static_cast<int16_t>(std::lround(std::min(32767.0, std::max(-32768.0, v))));
    }
    audio_spectrum_at(tuned, AUDIO_FFT_SIZE, 1, 0, out);
}
