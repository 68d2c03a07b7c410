#include "production/soundtrack.h"

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "data/memfile.h"
#include "production/data_set.h"
#include "resources/diagnostics.h"

namespace {

// The live stream's texts for the decoder's error codes.
const char* decode_error_text(int code) {
    switch (code) {
        case 1:
            return "Insufficent memory.";
        case 20:
            return "Zero-length music file. File is proabelby corrupted.";
        case 41:
            return "The file's format is not recognised/supported.";
        default:
            return "Unknown or undocumented BASS-error code";
    }
}

// Music shorter than the show plays out and the show goes on in silence; the maker hears of it.
void warnIfShort(const std::string& name, const AudioPcm* pcm, Diagnostics& out) {
    if (!pcm) return;
    const std::string problem = musicLengthProblem(*pcm);
    if (!problem.empty()) out.warning(name, 0, problem);
}

struct FileCloser {
    void operator()(MemoryFile* f) const { memfile_close(f); }
};

}  // namespace

MusicAhead::MusicAhead(const std::string& name) : name_(name) {
    audio_decode_ahead([name] {
        std::vector<unsigned char> bytes;
        MemoryFile* file = nullptr;
        try {
            file = memfile_open(name.c_str());
        } catch (const std::string&) {
            return bytes;  // the load's own open meets the same failure and reports it
        }
        if (!file) return bytes;
        bytes.assign(file->data, file->data + file->length);
        memfile_keep(name.c_str(), file);  // the load's own open takes it
        return bytes;
    });
}

MusicAhead::~MusicAhead() {
    audio_decode_ahead_drop();
    memfile_drop_kept(name_.c_str());
}

LiveSoundtrack::LiveSoundtrack(HWND window, const std::string& name) : music_(window) {
    music_.load(name, 0.0);
    warnIfShort(name, audio_stream_pcm(music_.stream), loadWarnings());
}

double LiveSoundtrack::time() {
    const auto now = std::chrono::steady_clock::now();
    if (playedOut_) return endTime_ + std::chrono::duration<double>(now - playedOutAt_).count();
    const double t = music_.time();
    // The time of the stream's last byte position (its 16-bit samples), converted as the position is.
    const AudioPcm* pcm = audio_stream_pcm(music_.stream);
    if (pcm && !pcm->samples.empty() &&
        t >= static_cast<double>(pcm->samples.size() * 2) *
                 (1.0 / streamBytesPerSecond(music_.rate, music_.channels))) {
        playedOut_ = true;
        endTime_ = t;
        playedOutAt_ = now;
    }
    return t;
}

void LiveSoundtrack::playFrom(double seconds) {
    playedOut_ = false;
    music_.playFrom(seconds);
}

CaptureSoundtrack::CaptureSoundtrack(const std::string& name, Diagnostics& out) {
    try {
        std::unique_ptr<MemoryFile, FileCloser> file(memfile_open(name.c_str()));
        if (!file) throw std::string("file not found");
        int code = audio_decode_mp3(file->data, file->length, &pcm_);
        if (code != 0) throw std::string(decode_error_text(code));
        if (pcm_.rate <= 0 || pcm_.channels <= 0) throw std::string(decode_error_text(41));
    } catch (const std::string& e) {
        throw std::string("Failed to load " + name + "\n" + e);
    } catch (...) {
        throw std::string("Failed to load " + name + "\nUnknown error");
    }
    warnIfShort(name, &pcm_, out);
}

void CaptureSoundtrack::updateSpectrum() {
    // The live clock counts bytes of the file's own 16-bit frames at its own byte rate, so the frame
    // heard at time t is t * bytes a second / (2 * channels), that is t * rate.
    const double bytesPerSecond = streamBytesPerSecond(pcm_.rate, pcm_.channels);
    double frame = now_ > 0.0 ? std::floor(now_ * bytesPerSecond / (2.0 * pcm_.channels)) : 0.0;
    const uint64_t frames = pcm_.frames();
    uint64_t position = frame < static_cast<double>(frames) ? static_cast<uint64_t>(frame) : frames;
    spectrumAtTunedRate(pcm_.samples.data(), frames, pcm_.channels, pcm_.rate, position, spectrum_);
}
