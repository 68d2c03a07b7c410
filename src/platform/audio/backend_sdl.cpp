// The output through SDL, where no sound server runs (or SDL_AUDIODRIVER names a driver of SDL's own), and
// SDL's resampler for streams of another format than the output's.
//
// The clock: SDL says only when it asks for the next buffer, and drivers ask unevenly. So the frame heard
// runs on the monotonic clock at the output's rate from an anchor, the first buffer the device takes. A
// driver that plays into a device keeps it honest: the clock never passes the end of what the device was
// handed (a stalled device holds it, and it goes on from there when the device does), and a device that
// has taken more than the clock says moves it forward. A driver that plays into nothing (dummy, disk) takes
// its buffers at a pace of its own, several percent slower than real time; nothing is heard there, so the
// monotonic clock alone is the time, and the callback mixes (and drops) whatever the clock has passed, so
// that the streams' time lines keep up with it.
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "platform/audio/audio_backend.h"
#include "platform/audio/bass.h"

namespace platform {
namespace {

constexpr int kBufferFrames = 1024;

class SdlBackend : public AudioBackend {
public:
    ~SdlBackend() override {
        if (device_) SDL_CloseAudioDevice(device_);  // waits for the callback to finish
        if (subsystem_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

    // Device 1 is SDL's default output; devices 2 and up are the outputs it lists, in order.
    int open(int device, int rate, AudioRender render, void* user) override {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return BASS_ERROR_DRIVER;
        subsystem_ = true;
        const int listed = SDL_GetNumAudioDevices(0);
        const char* name = nullptr;
        if (device > 1) {
            if (device - 1 > listed) return BASS_ERROR_DEVICE;
            name = SDL_GetAudioDeviceName(device - 2, 0);
        }
        render_ = render;
        user_ = user;
        rate_ = rate;
        SDL_AudioSpec want;
        SDL_zero(want);
        want.freq = rate;
        want.format = AUDIO_S16SYS;
        want.channels = kAudioChannels;
        want.samples = kBufferFrames;
        want.callback = callback;
        want.userdata = this;
        SDL_AudioSpec have;
        // No changes allowed: SDL converts to whatever the hardware takes.
        device_ = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
        if (!device_) return BASS_ERROR_DRIVER;
        // A driver that plays into memory consumes each buffer as it is handed over; a real one holds about
        // one more buffer ahead of the one playing.
        const char* driver = SDL_GetCurrentAudioDriver();
        const std::string d = driver ? driver : "";
        into_nothing_ = d == "dummy" || d == "disk";
        queued_ = into_nothing_ ? 0 : have.samples;
        SDL_PauseAudioDevice(device_, 0);
        return BASS_OK;
    }

    void start() override { SDL_PauseAudioDevice(device_, 0); }

    AudioHeard heard(uint64_t now_ns, uint64_t* frame) override {
        // A device that went away (unplugged, its driver failed) is stopped by SDL for good.
        if (SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED) return AudioHeard::kLost;
        uint64_t start, frames, ns;
        for (;;) {
            const uint32_t seq1 = seq_.load(std::memory_order_acquire);
            start = buffer_start_.load(std::memory_order_relaxed);
            frames = buffer_frames_.load(std::memory_order_relaxed);
            ns = buffer_ns_.load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (seq1 == seq_.load(std::memory_order_relaxed) && !(seq1 & 1)) break;
        }
        if (frames == 0) return AudioHeard::kNotYet;
        if (into_nothing_) {
            *frame =
                audio_frames_in(now_ns - std::min(now_ns, first_ns_.load(std::memory_order_acquire)), rate_);
            return AudioHeard::kFrame;
        }
        // The device plays the latest buffer once the driver's queue ahead of it has played.
        const uint64_t taken = start > queued_ ? start - queued_ : 0;
        if (!anchored_) {
            anchored_ = true;
            anchor_frame_ = taken;
            anchor_ns_ = ns;
        }
        uint64_t clock = anchor_frame_ + audio_frames_in(now_ns - std::min(now_ns, anchor_ns_), rate_);
        const uint64_t most = taken + frames;
        if (clock > most || clock < taken) {
            clock = std::min(std::max(clock, taken), most);
            anchor_frame_ = clock;
            anchor_ns_ = now_ns;
        }
        *frame = clock;
        return AudioHeard::kFrame;
    }

private:
    static void SDLCALL callback(void* user, Uint8* bytes, int length) {
        auto* b = static_cast<SdlBackend*>(user);
        const uint64_t now = audio_now_ns();
        const uint64_t frames = static_cast<uint64_t>(length) / (kAudioChannels * sizeof(int16_t));
        if (b->into_nothing_) {
            // Mixed up to where the clock is, so that this buffer is the one after the frame heard.
            uint64_t first = b->first_ns_.load(std::memory_order_relaxed);
            if (!first) b->first_ns_.store(first = now, std::memory_order_release);
            const uint64_t due = audio_frames_in(now - first, b->rate_);
            while (b->handed_ < due) {
                const uint64_t n = std::min<uint64_t>(due - b->handed_, kBufferFrames);
                b->handed_ = b->render_(b->user_, b->scratch_, n) + n;
            }
        }
        const uint64_t start = b->render_(b->user_, reinterpret_cast<int16_t*>(bytes), frames);
        b->handed_ = start + frames;
        const uint32_t seq = b->seq_.load(std::memory_order_relaxed);
        b->seq_.store(seq + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        b->buffer_start_.store(start, std::memory_order_relaxed);
        b->buffer_frames_.store(frames, std::memory_order_relaxed);
        b->buffer_ns_.store(now, std::memory_order_relaxed);
        b->seq_.store(seq + 2, std::memory_order_release);
    }

    SDL_AudioDeviceID device_ = 0;
    bool subsystem_ = false;
    AudioRender render_ = nullptr;
    void* user_ = nullptr;
    int rate_ = 44100;
    bool into_nothing_ = false;
    uint64_t queued_ = 0;  // frames a driver holds beyond the buffer being played

    // The latest buffer: its first output frame, its length and when it was asked for, under seq_.
    std::atomic<uint32_t> seq_{0};
    std::atomic<uint64_t> buffer_start_{0};
    std::atomic<uint64_t> buffer_frames_{0};
    std::atomic<uint64_t> buffer_ns_{0};

    // Callback thread: the frames handed over so far, and where the frames the clock passed are mixed.
    uint64_t handed_ = 0;
    int16_t scratch_[kBufferFrames * kAudioChannels];
    std::atomic<uint64_t> first_ns_{0};  // when a driver that plays into nothing took its first buffer

    // The clock (main thread): anchor_frame_ is heard at anchor_ns_ and the frames run on from there.
    bool anchored_ = false;
    uint64_t anchor_frame_ = 0;
    uint64_t anchor_ns_ = 0;
};

}  // namespace

std::unique_ptr<AudioBackend> audio_backend_sdl() {
    return std::make_unique<SdlBackend>();
}

bool audio_convert(const int16_t* pcm, uint64_t frames, int channels, int rate, int out_rate,
                   std::vector<int16_t>& out) {
    SDL_AudioStream* conv = SDL_NewAudioStream(AUDIO_S16SYS, static_cast<Uint8>(channels), rate, AUDIO_S16SYS,
                                               kAudioChannels, out_rate);
    if (!conv) return false;
    // Converted piecewise so that SDL holds little beyond the output. SDL's resampler keeps back
    // the last few hundred frames even when flushed, so silence follows the sound and the result is
    // cut to the exact length (its start is aligned).
    const size_t total = static_cast<size_t>(frames) * static_cast<size_t>(channels) * sizeof(int16_t);
    const auto* bytes = reinterpret_cast<const unsigned char*>(pcm);
    const auto expected = static_cast<size_t>(static_cast<unsigned __int128>(frames) *
                                              static_cast<uint64_t>(out_rate) / static_cast<uint64_t>(rate));
    out.clear();
    out.reserve((expected + 8192) * kAudioChannels);
    constexpr size_t kChunk = 1 << 18;
    std::vector<int16_t> piece(kChunk / sizeof(int16_t));
    auto drain = [&]() {
        for (;;) {
            const int got = SDL_AudioStreamGet(conv, piece.data(), static_cast<int>(kChunk));
            if (got < 0) return false;
            if (got == 0) return true;
            out.insert(out.end(), piece.begin(), piece.begin() + got / 2);
        }
    };
    bool ok = true;
    for (size_t at = 0; ok && at < total; at += kChunk)
        ok = SDL_AudioStreamPut(conv, bytes + at, static_cast<int>(std::min(kChunk, total - at))) == 0 &&
             drain();
    const std::vector<int16_t> silence(4096 * static_cast<size_t>(channels), 0);
    ok = ok &&
         SDL_AudioStreamPut(conv, silence.data(), static_cast<int>(silence.size() * sizeof(int16_t))) == 0;
    ok = ok && SDL_AudioStreamFlush(conv) == 0 && drain();
    out.resize(expected * kAudioChannels, 0);
    SDL_FreeAudioStream(conv);
    return ok;
}

}  // namespace platform
