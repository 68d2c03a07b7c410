// Output device, streams and their positions. Each stream is decoded whole when it is created and,
// when its format differs from the device's, converted once more for the device; the mixer then only
// copies and mixes. It runs on the output's own thread (a PulseAudio stream where a sound server runs,
// else an SDL device), takes no locks and allocates nothing: the main thread hands it streams through
// atomic slots and requests (play, seek) through atomics, and it publishes, under a sequence counter,
// where each stream's time line changes course, counted in frames handed to the output. The position
// heard is then that time line read at the output frame being played, which the sound server reports
// (the frames it has played out, interpolated between its timing reports) or, on SDL, the latest buffer's
// start plus the time since it was handed over.
#include "platform/audio/bass.h"

#include <SDL.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/audio/pcm.h"

namespace {

constexpr int kDeviceChannels = 2;
constexpr int kBufferFrames = 1024;
constexpr int kMaxStreams = 32;
// A seek request is the source frame in the low 40 bits under a request number, so that a request
// repeated while the callback takes the previous one is not lost with it.
constexpr int64_t kNoSeek = -1;
constexpr int kSeekFrameBits = 40;
constexpr int64_t kSeekFrameMask = (int64_t(1) << kSeekFrameBits) - 1;

thread_local int t_error = BASS_OK;

template <typename T>
T fail(int code, T result) {
    t_error = code;
    return result;
}

// Where a stream's time line changes course: from output frame `global` on, the stream is at device
// frame `dev` and advances with the output while `playing`. A jump is a seek (or a play from the start);
// until the output plays past it, the position heard is the jump's target.
struct Segment {
    std::atomic<uint64_t> global{0};
    std::atomic<uint64_t> dev{0};
    std::atomic<uint64_t> base_src{0};  // the source frame that device frame base_dev stands for
    std::atomic<uint64_t> base_dev{0};
    std::atomic<uint32_t> flags{0};
};
constexpr uint32_t kSegPlaying = 1;
constexpr uint32_t kSegJump = 2;
// More than enough for the changes of course still queued in the output at any time.
constexpr uint64_t kSegments = 64;

struct Stream {
    HSTREAM handle = 0;
    AudioPcm pcm;                    // the file's own format: positions and spectra count in it
    std::vector<int16_t> converted;  // the sound at the device's rate in stereo, when pcm is not
    const int16_t* device_pcm = nullptr;
    uint64_t device_frames = 0;

    // Requests from the main thread, taken by the mixer.
    std::atomic<bool> playing{false};
    std::atomic<int64_t> seek_request{kNoSeek};
    uint32_t seek_number = 0;  // main thread

    // Owned by the mixer.
    uint64_t cursor = 0;  // next device frame to play
    uint64_t base_src = 0;
    uint64_t base_dev = 0;
    bool was_playing = false;

    // Published by the mixer: the latest kSegments changes of course, under seq.
    std::atomic<uint32_t> seq{0};
    std::atomic<uint64_t> segment_count{1};  // the first one: not playing, at frame 0
    Segment segments[kSegments];
};

struct Pulse {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
};

struct Output {
    // Main-thread state, under api_mutex.
    bool initialised = false;
    bool nosound = false;
    bool sdl_audio = false;  // the SDL audio subsystem is held
    SDL_AudioDeviceID device = 0;
    Pulse pulse;
    uint64_t sdl_queued = 0;  // frames an SDL driver holds beyond the buffer being played
    uint64_t last_heard = 0;  // the output frame last reported as playing: never goes back
    int rate = 44100;
    std::map<HSTREAM, std::unique_ptr<Stream>> streams;
    HSTREAM next_handle = 1;

    // Shared with the mixer.
    std::atomic<Stream*> slots[kMaxStreams] = {};
    std::atomic<int> in_callback{0};
    uint64_t mixed = 0;                // mixer: frames handed to the output so far
    std::atomic<uint64_t> written{0};  // the same, published
    // SDL: the latest buffer's first output frame, its length and when it was handed over, under seq.
    std::atomic<uint32_t> seq{0};
    std::atomic<uint64_t> buffer_start{0};
    std::atomic<uint64_t> buffer_frames{0};
    std::atomic<uint64_t> buffer_ticks{0};
};

std::mutex api_mutex;
// Never destroyed: a device left open at exit keeps calling back into it.
Output& output = *new Output;

uint64_t device_to_source(uint64_t dev_frames, int src_rate, int dev_rate) {
    if (src_rate == dev_rate) return dev_frames;
    return static_cast<uint64_t>(static_cast<unsigned __int128>(dev_frames) * src_rate / dev_rate);
}

uint64_t source_to_device(uint64_t src_frames, int src_rate, int dev_rate) {
    if (src_rate == dev_rate) return src_frames;
    return static_cast<uint64_t>(static_cast<unsigned __int128>(src_frames) * dev_rate / src_rate);
}

void push_segment(Stream& s, uint64_t global, bool playing, bool jump) {
    const uint64_t n = s.segment_count.load(std::memory_order_relaxed);
    Segment& g = s.segments[n % kSegments];
    const uint32_t seq = s.seq.load(std::memory_order_relaxed);
    s.seq.store(seq + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    g.global.store(global, std::memory_order_relaxed);
    g.dev.store(s.cursor, std::memory_order_relaxed);
    g.base_src.store(s.base_src, std::memory_order_relaxed);
    g.base_dev.store(s.base_dev, std::memory_order_relaxed);
    g.flags.store((playing ? kSegPlaying : 0) | (jump ? kSegJump : 0), std::memory_order_relaxed);
    s.segment_count.store(n + 1, std::memory_order_relaxed);
    s.seq.store(seq + 2, std::memory_order_release);
}

void mix_stream(Stream& s, int16_t* out, uint64_t frames, uint64_t global, int dev_rate) {
    // playing first: a play request stores its seek before it sets playing.
    const bool playing = s.playing.load(std::memory_order_acquire);
    const int64_t seek = s.seek_request.load(std::memory_order_acquire);
    if (seek != kNoSeek) {
        s.base_src = static_cast<uint64_t>(seek & kSeekFrameMask);
        s.base_dev = std::min(source_to_device(s.base_src, s.pcm.rate, dev_rate), s.device_frames);
        s.cursor = s.base_dev;
    }
    if (seek != kNoSeek || playing != s.was_playing) push_segment(s, global, playing, seek != kNoSeek);
    s.was_playing = playing;
    if (playing && s.cursor < s.device_frames) {
        const uint64_t count = std::min(frames, s.device_frames - s.cursor);
        const int16_t* in = s.device_pcm + s.cursor * kDeviceChannels;
        for (uint64_t i = 0; i < count * kDeviceChannels; ++i) {
            const int v = out[i] + in[i];
            out[i] = static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
        }
        s.cursor += count;
    }
    // Cleared only after publishing, so a reader that sees no request sees the jump; a newer request
    // stays for the next buffer.
    if (seek != kNoSeek) {
        int64_t expected = seek;
        s.seek_request.compare_exchange_strong(expected, kNoSeek, std::memory_order_acq_rel);
    }
}

// Mixes the next `frames` output frames of every stream; returns the first one's output frame.
uint64_t mix(Output& o, int16_t* out, uint64_t frames) {
    o.in_callback.store(1, std::memory_order_seq_cst);
    memset(out, 0, frames * kDeviceChannels * sizeof(int16_t));
    const uint64_t start = o.mixed;
    for (auto& slot : o.slots) {
        Stream* s = slot.load(std::memory_order_seq_cst);
        if (s) mix_stream(*s, out, frames, start, o.rate);
    }
    o.mixed = start + frames;
    o.written.store(o.mixed, std::memory_order_release);
    o.in_callback.store(0, std::memory_order_seq_cst);
    return start;
}

void SDLCALL audio_callback(void* user, Uint8* bytes, int length) {
    Output* o = static_cast<Output*>(user);
    const uint64_t now = SDL_GetPerformanceCounter();
    const uint64_t frames = static_cast<uint64_t>(length) / (kDeviceChannels * sizeof(int16_t));
    const uint64_t start = mix(*o, reinterpret_cast<int16_t*>(bytes), frames);
    const uint32_t seq = o->seq.load(std::memory_order_relaxed);
    o->seq.store(seq + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    o->buffer_start.store(start, std::memory_order_relaxed);
    o->buffer_frames.store(frames, std::memory_order_relaxed);
    o->buffer_ticks.store(now, std::memory_order_relaxed);
    o->seq.store(seq + 2, std::memory_order_release);
}

// The sound server asks for `bytes` more: mixed straight into its own buffers.
void pulse_write(pa_stream* stream, size_t bytes, void* user) {
    Output* o = static_cast<Output*>(user);
    constexpr size_t kFrameBytes = kDeviceChannels * sizeof(int16_t);
    while (bytes >= kFrameBytes) {
        void* data = nullptr;
        size_t n = bytes;
        if (pa_stream_begin_write(stream, &data, &n) < 0 || !data) return;
        n = std::min(n, bytes) / kFrameBytes * kFrameBytes;
        if (n == 0) {
            pa_stream_cancel_write(stream);
            return;
        }
        mix(*o, static_cast<int16_t*>(data), n / kFrameBytes);
        if (pa_stream_write(stream, data, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
        bytes -= n;
    }
}

// Takes a stream out of the callback's reach; afterwards it may be freed.
void detach(Stream* s) {
    for (auto& slot : output.slots) {
        Stream* expected = s;
        slot.compare_exchange_strong(expected, nullptr, std::memory_order_seq_cst);
    }
    // The callback marks itself busy before it reads a slot, so once it is seen idle after the slot
    // was cleared, no callback holds the stream.
    while (output.in_callback.load(std::memory_order_seq_cst)) SDL_Delay(1);
}

// The output frame being heard: frames handed over less those still queued, never less than before.
uint64_t heard_output_frame(Output& o) {
    const uint64_t written = o.written.load(std::memory_order_acquire);
    uint64_t heard = 0;
    if (o.pulse.stream) {
        // The server's play-out position, interpolated between its timing reports.
        pa_threaded_mainloop_lock(o.pulse.loop);
        pa_usec_t usec = 0;
        if (pa_stream_get_time(o.pulse.stream, &usec) == 0)
            heard = static_cast<uint64_t>(static_cast<unsigned __int128>(usec) * o.rate / 1000000);
        pa_threaded_mainloop_unlock(o.pulse.loop);
    } else if (o.device) {
        uint64_t start, frames, ticks;
        for (;;) {
            const uint32_t seq1 = o.seq.load(std::memory_order_acquire);
            start = o.buffer_start.load(std::memory_order_relaxed);
            frames = o.buffer_frames.load(std::memory_order_relaxed);
            ticks = o.buffer_ticks.load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (seq1 == o.seq.load(std::memory_order_relaxed) && !(seq1 & 1)) break;
        }
        // The latest buffer plays once the driver's queue ahead of it has, then drains at the output rate.
        if (frames > 0) {
            const uint64_t now = SDL_GetPerformanceCounter();
            const uint64_t freq = SDL_GetPerformanceFrequency();
            const uint64_t elapsed = now > ticks ? std::min(now - ticks, freq) : 0;  // capped at 1 s
            const uint64_t played =
                static_cast<uint64_t>(static_cast<unsigned __int128>(elapsed) * o.rate / freq);
            heard = start + std::min(played, frames);
            heard = heard > o.sdl_queued ? heard - o.sdl_queued : 0;
        }
    }
    heard = std::max(std::min(heard, written), o.last_heard);
    o.last_heard = heard;
    return heard;
}

// Source frame being heard when the output plays output frame `heard`.
uint64_t heard_frame(const Stream& s, uint64_t heard, int dev_rate) {
    const int64_t seek = s.seek_request.load(std::memory_order_acquire);
    if (seek != kNoSeek) return static_cast<uint64_t>(seek & kSeekFrameMask);
    uint64_t global, dev, base_src, base_dev;
    uint32_t flags;
    bool pending_jump;
    for (;;) {
        const uint32_t seq1 = s.seq.load(std::memory_order_acquire);
        const uint64_t count = s.segment_count.load(std::memory_order_relaxed);
        const uint64_t oldest = count > kSegments ? count - kSegments : 0;
        pending_jump = false;
        uint64_t jump_src = 0;
        for (uint64_t i = count; i-- > oldest;) {
            const Segment& g = s.segments[i % kSegments];
            global = g.global.load(std::memory_order_relaxed);
            dev = g.dev.load(std::memory_order_relaxed);
            base_src = g.base_src.load(std::memory_order_relaxed);
            base_dev = g.base_dev.load(std::memory_order_relaxed);
            flags = g.flags.load(std::memory_order_relaxed);
            if (global <= heard) break;
            // Not heard yet; the newest jump among these is where the stream was sent.
            if ((flags & kSegJump) && !pending_jump) pending_jump = true, jump_src = base_src;
        }
        std::atomic_thread_fence(std::memory_order_acquire);
        if (seq1 == s.seq.load(std::memory_order_relaxed) && !(seq1 & 1)) {
            if (pending_jump) return std::min(jump_src, s.pcm.frames());
            break;
        }
    }
    if (flags & kSegPlaying) dev += heard - std::min(heard, global);
    if (dev >= s.device_frames) return s.pcm.frames();  // played out, whatever the rounding
    const uint64_t src = base_src + device_to_source(dev - std::min(dev, base_dev), s.pcm.rate, dev_rate);
    return std::min(src, s.pcm.frames());
}

void request_seek(Stream& s, uint64_t frame) {
    s.seek_number = (s.seek_number + 1) & 0x7FFFFF;  // keeps the request non-negative
    s.seek_request.store(static_cast<int64_t>(s.seek_number) << kSeekFrameBits | static_cast<int64_t>(frame),
                         std::memory_order_release);
}

Stream* find(DWORD handle) {
    auto it = output.streams.find(handle);
    return it == output.streams.end() ? nullptr : it->second.get();
}

// The device's copy of the sound: the rate converted and the channels mixed to stereo by SDL.
bool convert_for_device(Stream& s, int dev_rate) {
    if (s.pcm.rate == dev_rate && s.pcm.channels == kDeviceChannels) {
        s.device_pcm = s.pcm.samples.data();
        s.device_frames = s.pcm.frames();
        return true;
    }
    SDL_AudioStream* conv = SDL_NewAudioStream(AUDIO_S16SYS, static_cast<Uint8>(s.pcm.channels), s.pcm.rate,
                                               AUDIO_S16SYS, kDeviceChannels, dev_rate);
    if (!conv) return false;
    // Converted piecewise so that SDL holds little beyond the output. SDL's resampler keeps back
    // the last few hundred frames even when flushed, so silence follows the sound and the result is
    // cut to the exact length (its start is aligned).
    const size_t total = s.pcm.samples.size() * sizeof(int16_t);
    const auto* bytes = reinterpret_cast<const unsigned char*>(s.pcm.samples.data());
    const size_t expected = static_cast<size_t>(source_to_device(s.pcm.frames(), s.pcm.rate, dev_rate));
    s.converted.clear();
    s.converted.reserve((expected + 8192) * kDeviceChannels);
    constexpr size_t kChunk = 1 << 18;
    std::vector<int16_t> piece(kChunk / sizeof(int16_t));
    auto drain = [&]() {
        for (;;) {
            const int got = SDL_AudioStreamGet(conv, piece.data(), static_cast<int>(kChunk));
            if (got < 0) return false;
            if (got == 0) return true;
            s.converted.insert(s.converted.end(), piece.begin(), piece.begin() + got / 2);
        }
    };
    bool ok = true;
    for (size_t at = 0; ok && at < total; at += kChunk)
        ok = SDL_AudioStreamPut(conv, bytes + at, static_cast<int>(std::min(kChunk, total - at))) == 0 &&
             drain();
    const std::vector<int16_t> silence(4096 * static_cast<size_t>(s.pcm.channels), 0);
    ok = ok &&
         SDL_AudioStreamPut(conv, silence.data(), static_cast<int>(silence.size() * sizeof(int16_t))) == 0;
    ok = ok && SDL_AudioStreamFlush(conv) == 0 && drain();
    s.converted.resize(expected * kDeviceChannels, 0);
    SDL_FreeAudioStream(conv);
    if (!ok) return false;
    s.device_pcm = s.converted.data();
    s.device_frames = s.converted.size() / kDeviceChannels;
    return true;
}

bool read_whole_file(const char* name, QWORD offset, QWORD length, std::vector<unsigned char>& out,
                     int& error) {
    FILE* f = fopen(name, "rb");
    if (!f) {
        error = BASS_ERROR_FILEOPEN;
        return false;
    }
    bool ok = fseek(f, 0, SEEK_END) == 0;
    const long size = ok ? ftell(f) : -1;
    ok = ok && size >= 0;
    if (ok && offset > static_cast<QWORD>(size)) {
        fclose(f);
        error = BASS_ERROR_ILLPARAM;
        return false;
    }
    QWORD count = ok ? static_cast<QWORD>(size) - offset : 0;
    if (length != 0) count = std::min(count, length);
    if (ok) {
        out.resize(static_cast<size_t>(count));
        ok = fseek(f, static_cast<long>(offset), SEEK_SET) == 0 &&
             fread(out.data(), 1, out.size(), f) == out.size();
    }
    fclose(f);
    if (!ok) error = BASS_ERROR_FILEOPEN;
    return ok;
}

void close_pulse(Pulse& p) {
    if (p.loop) pa_threaded_mainloop_stop(p.loop);  // no callback runs after this
    if (p.stream) {
        pa_stream_disconnect(p.stream);
        pa_stream_unref(p.stream);
    }
    if (p.context) {
        pa_context_disconnect(p.context);
        pa_context_unref(p.context);
    }
    if (p.loop) pa_threaded_mainloop_free(p.loop);
    p = Pulse{};
}

void pulse_signal_context(pa_context*, void* loop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

void pulse_signal_stream(pa_stream*, void* loop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

// Waits, with the main loop locked, until the operation is done.
void pulse_wait(pa_threaded_mainloop* loop, pa_operation* op) {
    if (!op) return;
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop);
    pa_operation_unref(op);
}

// Plays through the sound server (PulseAudio, or PipeWire's PulseAudio service). Device 1 is the server's
// default output and the stream is opened without naming one, so it follows the default and the user can
// move it in the desktop's mixer; devices 2 and up name the server's outputs in its order. Returns a
// BASS error code; BASS_ERROR_DRIVER when no server answers.
int open_pulse(Output& o, int device) {
    Pulse& p = o.pulse;
    p.loop = pa_threaded_mainloop_new();
    if (!p.loop) return BASS_ERROR_DRIVER;
    p.context = pa_context_new(pa_threaded_mainloop_get_api(p.loop), "Quorvane");
    if (!p.context) {
        close_pulse(p);
        return BASS_ERROR_DRIVER;
    }
    pa_context_set_state_callback(p.context, pulse_signal_context, p.loop);
    if (pa_context_connect(p.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(p.loop) < 0) {
        close_pulse(p);
        return BASS_ERROR_DRIVER;
    }
    pa_threaded_mainloop_lock(p.loop);
    int error = BASS_OK;
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(p.context);
        if (state == PA_CONTEXT_READY) break;
        if (!PA_CONTEXT_IS_GOOD(state)) {
            error = BASS_ERROR_DRIVER;
            break;
        }
        pa_threaded_mainloop_wait(p.loop);
    }
    std::string name;
    if (!error && device > 1) {
        struct Listing {
            pa_threaded_mainloop* loop;
            std::vector<std::string> names;
        } listing{p.loop, {}};
        pulse_wait(p.loop, pa_context_get_sink_info_list(
                               p.context,
                               [](pa_context*, const pa_sink_info* info, int, void* user) {
                                   auto* l = static_cast<Listing*>(user);
                                   if (info) l->names.emplace_back(info->name);
                                   pa_threaded_mainloop_signal(l->loop, 0);
                               },
                               &listing));
        if (static_cast<size_t>(device - 1) > listing.names.size())
            error = BASS_ERROR_DEVICE;
        else
            name = listing.names[static_cast<size_t>(device - 2)];
    }
    const pa_sample_spec sampleFormat{PA_SAMPLE_S16NE, static_cast<uint32_t>(o.rate), kDeviceChannels};
    if (!error) {
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
        p.stream = pa_stream_new_with_proplist(p.context, "Quorvane", &sampleFormat, nullptr, props);
        pa_proplist_free(props);
        if (!p.stream) error = BASS_ERROR_DRIVER;
    }
    if (!error) {
        pa_stream_set_state_callback(p.stream, pulse_signal_stream, p.loop);
        pa_stream_set_write_callback(p.stream, pulse_write, &o);
        // A short queue by default (PULSE_LATENCY_MSEC overrides it); the position accounts for whatever
        // the server grants.
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(80000, &sampleFormat));
        attr.prebuf = static_cast<uint32_t>(-1);
        attr.minreq = static_cast<uint32_t>(pa_usec_to_bytes(20000, &sampleFormat));
        attr.fragsize = static_cast<uint32_t>(-1);
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
        if (pa_stream_connect_playback(p.stream, name.empty() ? nullptr : name.c_str(), &attr, flags, nullptr,
                                       nullptr) < 0)
            error = BASS_ERROR_DRIVER;
        while (!error) {
            const pa_stream_state_t state = pa_stream_get_state(p.stream);
            if (state == PA_STREAM_READY) break;
            if (!PA_STREAM_IS_GOOD(state))
                error = BASS_ERROR_DRIVER;
            else
                pa_threaded_mainloop_wait(p.loop);
        }
    }
    pa_threaded_mainloop_unlock(p.loop);
    if (error) close_pulse(p);
    return error;
}

// The sound server is tried unless SDL is told to use a driver of its own.
bool try_pulse() {
    const char* driver = getenv("SDL_AUDIODRIVER");
    if (!driver || !*driver) return true;
    const std::string d = driver;
    return d == "pulseaudio" || d == "pulse" || d == "pipewire";
}

// Plays through SDL. Device 1 is SDL's default output; devices 2 and up are the outputs it lists, in order.
int open_sdl(Output& o, int device) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return BASS_ERROR_DRIVER;
    o.sdl_audio = true;
    const int listed = SDL_GetNumAudioDevices(0);
    const char* name = nullptr;
    if (device > 1) {
        if (device - 1 > listed) return BASS_ERROR_DEVICE;
        name = SDL_GetAudioDeviceName(device - 2, 0);
    }
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = o.rate;
    want.format = AUDIO_S16SYS;
    want.channels = kDeviceChannels;
    want.samples = kBufferFrames;
    want.callback = audio_callback;
    want.userdata = &o;
    SDL_AudioSpec have;
    // No changes allowed: SDL converts to whatever the hardware takes.
    o.device = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
    if (!o.device) return BASS_ERROR_DRIVER;
    // A driver that plays into memory consumes each buffer as it is handed over; a real one holds about
    // one more buffer ahead of the one playing.
    const char* driver = SDL_GetCurrentAudioDriver();
    const std::string d = driver ? driver : "";
    o.sdl_queued = d == "dummy" || d == "disk" ? 0 : have.samples;
    SDL_PauseAudioDevice(o.device, 0);
    return BASS_OK;
}

void close_output() {
    if (output.device) SDL_CloseAudioDevice(output.device);  // waits for the callback to finish
    output.device = 0;
    close_pulse(output.pulse);
    for (auto& slot : output.slots) slot.store(nullptr);
    output.streams.clear();
    if (output.sdl_audio) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    output.sdl_audio = false;
    output.initialised = false;
    output.nosound = false;
    output.sdl_queued = 0;
    output.last_heard = 0;
    output.mixed = 0;
    output.written.store(0);
    output.buffer_start.store(0);
    output.buffer_frames.store(0);
}

}  // namespace

BOOL BASS_Init(int device, DWORD freq, DWORD flags, HWND win, const GUID* dsguid) {
    (void)flags;
    (void)win;
    (void)dsguid;
    std::lock_guard<std::mutex> lock(api_mutex);
    if (output.initialised) return fail(BASS_ERROR_ALREADY, FALSE);
    if (device < -1) return fail(BASS_ERROR_DEVICE, FALSE);
    if (freq < 8000 || freq > 192000) return fail(BASS_ERROR_ILLPARAM, FALSE);
    output.rate = static_cast<int>(freq);
    if (device == 0) {
        output.initialised = true;
        output.nosound = true;
        t_error = BASS_OK;
        return TRUE;
    }
    int error = try_pulse() ? open_pulse(output, device) : BASS_ERROR_DRIVER;
    if (error == BASS_ERROR_DRIVER) error = open_sdl(output, device);
    if (error != BASS_OK) {
        close_output();
        return fail(error, FALSE);
    }
    output.initialised = true;
    t_error = BASS_OK;
    return TRUE;
}

BOOL BASS_Start(void) {
    std::lock_guard<std::mutex> lock(api_mutex);
    if (!output.initialised) return fail(BASS_ERROR_INIT, FALSE);
    if (output.device) SDL_PauseAudioDevice(output.device, 0);
    t_error = BASS_OK;
    return TRUE;
}

HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags) {
    (void)flags;  // decoding is always whole and exact
    std::lock_guard<std::mutex> lock(api_mutex);
    if (!output.initialised) return fail(BASS_ERROR_INIT, HSTREAM(0));
    if (output.nosound) return fail(BASS_ERROR_NOTAVAIL, HSTREAM(0));
    if (!file) return fail(mem ? BASS_ERROR_ILLPARAM : BASS_ERROR_FILEOPEN, HSTREAM(0));

    try {
        auto stream = std::make_unique<Stream>();
        int error = BASS_OK;
        if (mem) {
            error = audio_decode_mp3(length ? static_cast<const unsigned char*>(file) + offset : nullptr,
                                     static_cast<size_t>(length), &stream->pcm);
        } else {
            std::vector<unsigned char> bytes;
            if (!read_whole_file(static_cast<const char*>(file), offset, length, bytes, error))
                return fail(error, HSTREAM(0));
            error = audio_decode_mp3(bytes.data(), bytes.size(), &stream->pcm);
        }
        if (error != BASS_OK) return fail(error, HSTREAM(0));
        if (!convert_for_device(*stream, output.rate)) return fail(BASS_ERROR_FORMAT, HSTREAM(0));

        std::atomic<Stream*>* free_slot = nullptr;
        for (auto& slot : output.slots)
            if (!slot.load()) {
                free_slot = &slot;
                break;
            }
        if (!free_slot) return fail(BASS_ERROR_MEM, HSTREAM(0));
        HSTREAM handle = output.next_handle++;
        if (output.next_handle == 0) output.next_handle = 1;
        stream->handle = handle;
        Stream* raw = stream.get();
        output.streams.emplace(handle, std::move(stream));
        free_slot->store(raw, std::memory_order_seq_cst);
        t_error = BASS_OK;
        return handle;
    } catch (const std::bad_alloc&) {
        return fail(BASS_ERROR_MEM, HSTREAM(0));
    }
}

BOOL BASS_StreamPlay(HSTREAM handle, BOOL flush, DWORD flags) {
    (void)flags;
    std::lock_guard<std::mutex> lock(api_mutex);
    if (!output.initialised) return fail(BASS_ERROR_INIT, FALSE);
    Stream* s = find(handle);
    if (!s) return fail(BASS_ERROR_HANDLE, FALSE);
    if (flush) request_seek(*s, 0);
    s->playing.store(true, std::memory_order_release);
    t_error = BASS_OK;
    return TRUE;
}

QWORD BASS_ChannelGetPosition(DWORD handle) {
    std::lock_guard<std::mutex> lock(api_mutex);
    if (!output.initialised) return fail(BASS_ERROR_INIT, ~QWORD(0));
    Stream* s = find(handle);
    if (!s) return fail(BASS_ERROR_HANDLE, ~QWORD(0));
    t_error = BASS_OK;
    return heard_frame(*s, heard_output_frame(output), output.rate) * static_cast<QWORD>(s->pcm.channels) *
           sizeof(int16_t);
}

BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos) {
    std::lock_guard<std::mutex> lock(api_mutex);
    if (!output.initialised) return fail(BASS_ERROR_INIT, FALSE);
    Stream* s = find(handle);
    if (!s) return fail(BASS_ERROR_HANDLE, FALSE);
    const QWORD frame = pos / (static_cast<QWORD>(s->pcm.channels) * sizeof(int16_t));
    if (frame > s->pcm.frames()) return fail(BASS_ERROR_POSITION, FALSE);
    request_seek(*s, frame);
    t_error = BASS_OK;
    return TRUE;
}

DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length) {
    std::lock_guard<std::mutex> lock(api_mutex);
    if (!output.initialised) return fail(BASS_ERROR_INIT, ~DWORD(0));
    Stream* s = find(handle);
    if (!s) return fail(BASS_ERROR_HANDLE, ~DWORD(0));
    if (!buffer) return fail(BASS_ERROR_ILLPARAM, ~DWORD(0));
    const uint64_t frame = heard_frame(*s, heard_output_frame(output), output.rate);
    const AudioPcm& pcm = s->pcm;
    const uint64_t frame_bytes = static_cast<uint64_t>(pcm.channels) * sizeof(int16_t);
    if (length == BASS_DATA_FFT512) {
        audio_spectrum_at(pcm.samples.data(), pcm.frames(), pcm.channels, frame, static_cast<float*>(buffer));
        t_error = BASS_OK;
        return static_cast<DWORD>(AUDIO_FFT_SIZE * frame_bytes);
    }
    if (length & 0x80000000u) return fail(BASS_ERROR_ILLPARAM, ~DWORD(0));
    const uint64_t available = (pcm.frames() - frame) * frame_bytes;
    const uint64_t count = std::min<uint64_t>(length, available);
    memcpy(buffer, pcm.samples.data() + frame * pcm.channels, static_cast<size_t>(count));
    t_error = BASS_OK;
    return static_cast<DWORD>(count);
}

int BASS_ErrorGetCode(void) {
    return t_error;
}

BOOL BASS_StreamFree(HSTREAM handle) {
    std::lock_guard<std::mutex> lock(api_mutex);
    if (!output.initialised) return fail(BASS_ERROR_INIT, FALSE);
    auto it = output.streams.find(handle);
    if (it == output.streams.end()) return fail(BASS_ERROR_HANDLE, FALSE);
    detach(it->second.get());
    output.streams.erase(it);
    t_error = BASS_OK;
    return TRUE;
}

BOOL BASS_Free(void) {
    std::lock_guard<std::mutex> lock(api_mutex);
    if (!output.initialised) return fail(BASS_ERROR_INIT, FALSE);
    close_output();
    t_error = BASS_OK;
    return TRUE;
}

const AudioPcm* audio_stream_pcm(HSTREAM handle) {
    std::lock_guard<std::mutex> lock(api_mutex);
    Stream* s = find(handle);
    return s ? &s->pcm : nullptr;
}
