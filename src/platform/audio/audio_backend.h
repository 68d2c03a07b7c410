#pragma once
// What the audio front end (bass.cpp: the API, the mixer and the heard clock) needs of a sound output. A
// backend plays interleaved 16-bit stereo at one rate, pulling the sound from the mixer wherever it needs
// more, and says which of the frames it was handed is being heard. Each target builds its own: the desktop
// a sound server (backend_pulse.cpp) with SDL (backend_sdl.cpp) as the fallback, the browser Web Audio
// (web/backend_webaudio.cpp).
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

constexpr int kAudioChannels = 2;

// The monotonic clock that every heard position is measured on, in nanoseconds.
inline uint64_t audio_now_ns() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// Frames at `rate` in `ns` nanoseconds, rounded down.
inline uint64_t audio_frames_in(uint64_t ns, int rate) {
    return static_cast<uint64_t>(static_cast<unsigned __int128>(ns) * static_cast<uint64_t>(rate) /
                                 1000000000u);
}

// Fills `frames` frames of the output (stereo, 16-bit) and returns the output frame of the first one: the
// output frames count every frame handed over since the output was opened. Called from wherever the backend
// produces sound (its own thread on the desktop); it takes no locks and allocates nothing. Only one caller
// at a time.
using AudioRender = uint64_t (*)(void* user, int16_t* out, uint64_t frames);

enum class AudioHeard {
    kFrame,   // *frame is the output frame being heard now
    kNotYet,  // the output has not said yet: nothing is heard before the first frame
    kLost,    // the output is gone (failed, killed, its server went away) and says no more
};

class AudioBackend {
public:
    virtual ~AudioBackend() = default;  // closes the output: no render call runs afterwards

    // Opens output `device` (1 = the default, 2 and up = the outputs as listed) at `rate` Hz, stereo,
    // and starts pulling sound. Returns 0 or the audio library's error code: 3 when the output cannot be
    // opened (the next backend is then tried), 23 when the device does not exist.
    virtual int open(int device, int rate, AudioRender render, void* user) = 0;

    // Resumes an output that was paused (nothing where the output always plays).
    virtual void start() {}

    // The output frame heard now, at the monotonic time `now_ns` (audio_now_ns).
    virtual AudioHeard heard(uint64_t now_ns, uint64_t* frame) = 0;
};

// The backends of this target, in the order they are tried for BASS_Init.
std::vector<std::unique_ptr<AudioBackend>> audio_backends();
std::unique_ptr<AudioBackend> audio_backend_pulse();
std::unique_ptr<AudioBackend> audio_backend_sdl();

// Converts interleaved 16-bit sound of `channels` channels at `rate` to stereo at `out_rate`, exactly
// `frames * out_rate / rate` frames (rounded down) with the start aligned; false when that fails.
bool audio_convert(const int16_t* pcm, uint64_t frames, int channels, int rate, int out_rate,
                   std::vector<int16_t>& out);

}  // namespace platform
