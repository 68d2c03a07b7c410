// The audio library's calls, one front end for every target: streams (decoded whole when created and, when
// their format differs from the output's, converted once more for it), the mixer, and the clock of what is
// heard, over a backend that plays the mix (audio_backend.h). The mixer runs wherever the backend pulls
// sound (the output's own thread on the desktop), takes no locks and allocates nothing: the main thread
// hands it streams through atomic slots and requests (play, seek) through atomics, and it publishes, under
// a sequence counter, where each stream's time line changes course, counted in frames handed to the
// output. The position heard is then that time line read at the output frame the backend says is heard.
// When the output is lost, the front end plays on by itself: the output frame heard then runs on the
// monotonic clock from the last one heard, and the mixer is driven from here, silently.
#include "platform/audio/bass.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "platform/audio/pcm.h"

namespace {

using platform::AudioBackend;
using platform::AudioHeard;
constexpr int kDeviceChannels = platform::kAudioChannels;
constexpr int kMaxStreams = 32;
// A seek request is the source frame in the low 40 bits under a request number, so that a request
// repeated while the callback takes the previous one is not lost with it.
constexpr int64_t kNoSeek = -1;
constexpr int kSeekFrameBits = 40;
constexpr int64_t kSeekFrameMask = (int64_t(1) << kSeekFrameBits) - 1;
// Frames mixed at a time when the front end plays without an output.
constexpr uint64_t kSilentChunk = 1024;

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

struct Output {
    // Main-thread state, under api_mutex.
    bool initialised = false;
    bool nosound = false;
    std::unique_ptr<AudioBackend> backend;  // null once the output is lost
    bool lost = false;
    uint64_t last_heard = 0;     // the output frame last taken as heard: never goes back
    bool heard_known = false;    // the output has said what it plays (or it was lost: the clock says)
    uint64_t last_heard_ns = 0;  // when it was
    int rate = 44100;
    std::map<HSTREAM, std::unique_ptr<Stream>> streams;
    HSTREAM next_handle = 1;
    std::vector<int16_t> silent_mix;  // where the mixer writes once there is no output

    // Shared with the mixer.
    std::atomic<Stream*> slots[kMaxStreams] = {};
    std::atomic<int> in_callback{0};
    uint64_t mixed = 0;                // mixer: frames handed to the output so far
    std::atomic<uint64_t> written{0};  // the same, published
};

std::mutex api_mutex;
// Never destroyed: an output left open at exit keeps calling back into it.
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

uint64_t render(void* user, int16_t* out, uint64_t frames) {
    return mix(*static_cast<Output*>(user), out, frames);
}

// Takes a stream out of the callback's reach; afterwards it may be freed.
void detach(Stream* s) {
    for (auto& slot : output.slots) {
        Stream* expected = s;
        slot.compare_exchange_strong(expected, nullptr, std::memory_order_seq_cst);
    }
    // The callback marks itself busy before it reads a slot, so once it is seen idle after the slot
    // was cleared, no callback holds the stream.
    while (output.in_callback.load(std::memory_order_seq_cst))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// The output is gone: said once, and from here on the front end is the output. The frames heard run on
// from the last one heard at the output's rate.
void play_on_without_output(Output& o, uint64_t now) {
    o.backend.reset();  // no render call runs after this
    o.lost = true;
    o.heard_known = true;
    if (!o.last_heard_ns) o.last_heard_ns = now;  // lost before it was ever asked
    o.silent_mix.assign(kSilentChunk * kDeviceChannels, 0);
    std::fprintf(stderr, "sound output lost; playing on without sound\n");
    std::fflush(stderr);
}

// The output frame being heard: what the backend says, or, once it is lost, the monotonic clock's; never
// less than before.
uint64_t heard_output_frame(Output& o) {
    const uint64_t now = platform::audio_now_ns();
    uint64_t heard = o.last_heard;
    if (o.backend) {
        uint64_t frame = 0;
        switch (o.backend->heard(now, &frame)) {
            case AudioHeard::kFrame:
                heard = frame;
                o.heard_known = true;
                break;
            case AudioHeard::kNotYet:
                break;
            case AudioHeard::kLost:
                play_on_without_output(o, now);
                break;
        }
    }
    if (!o.lost) {
        o.last_heard = std::max(heard, o.last_heard);
        o.last_heard_ns = now;
        return o.last_heard;
    }
    // Counted from the last frame heard and when it was, so that it neither drifts nor repeats.
    const uint64_t elapsed = now - std::min(now, o.last_heard_ns);
    heard = o.last_heard + platform::audio_frames_in(elapsed, o.rate);
    // The streams' time lines move on as if the mix were played.
    while (o.mixed < heard) mix(o, o.silent_mix.data(), std::min(kSilentChunk, heard - o.mixed));
    return heard;
}

constexpr uint64_t kUnknown = ~uint64_t(0);

// Source frame being heard when the output plays output frame `heard`. With `until`: the output frames
// still to play before the sound of the stream's latest jump (a play from the start, a seek) is heard,
// while the position stands at the jump's target; 0 when no jump is waiting or the stream was sent there
// paused; kUnknown while the mixer has not placed a request yet.
uint64_t heard_frame(const Stream& s, uint64_t heard, int dev_rate, uint64_t* until = nullptr) {
    if (until) *until = 0;
    const int64_t seek = s.seek_request.load(std::memory_order_acquire);
    if (seek != kNoSeek) {
        if (until) *until = kUnknown;
        return static_cast<uint64_t>(seek & kSeekFrameMask);
    }
    uint64_t global, dev, base_src, base_dev;
    uint32_t flags;
    bool pending_jump;
    for (;;) {
        const uint32_t seq1 = s.seq.load(std::memory_order_acquire);
        const uint64_t count = s.segment_count.load(std::memory_order_relaxed);
        const uint64_t oldest = count > kSegments ? count - kSegments : 0;
        pending_jump = false;
        uint64_t jump_src = 0, jump_global = 0;
        bool jump_playing = false;
        for (uint64_t i = count; i-- > oldest;) {
            const Segment& g = s.segments[i % kSegments];
            global = g.global.load(std::memory_order_relaxed);
            dev = g.dev.load(std::memory_order_relaxed);
            base_src = g.base_src.load(std::memory_order_relaxed);
            base_dev = g.base_dev.load(std::memory_order_relaxed);
            flags = g.flags.load(std::memory_order_relaxed);
            if (global <= heard) break;
            // Not heard yet; the newest jump among these is where the stream was sent.
            if ((flags & kSegJump) && !pending_jump) {
                pending_jump = true, jump_src = base_src, jump_global = global;
                jump_playing = flags & kSegPlaying;
            }
        }
        std::atomic_thread_fence(std::memory_order_acquire);
        if (seq1 == s.seq.load(std::memory_order_relaxed) && !(seq1 & 1)) {
            if (pending_jump) {
                if (until && jump_playing) *until = jump_global - heard;
                return std::min(jump_src, s.pcm.frames());
            }
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

// The device's copy of the sound: stereo at the output's rate.
bool convert_for_device(Stream& s, int dev_rate) {
    if (s.pcm.rate == dev_rate && s.pcm.channels == kDeviceChannels) {
        s.device_pcm = s.pcm.samples.data();
        s.device_frames = s.pcm.frames();
        return true;
    }
    if (!platform::audio_convert(s.pcm.samples.data(), s.pcm.frames(), s.pcm.channels, s.pcm.rate, dev_rate,
                                 s.converted))
        return false;
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

void close_output() {
    output.backend.reset();  // waits for the render call to finish
    for (auto& slot : output.slots) slot.store(nullptr);
    output.streams.clear();
    output.initialised = false;
    output.nosound = false;
    output.lost = false;
    output.last_heard = 0;
    output.last_heard_ns = 0;
    output.heard_known = false;
    output.mixed = 0;
    output.written.store(0);
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
    // The first backend that opens plays; one that finds no output at all gives way to the next.
    int error = BASS_ERROR_DRIVER;
    for (auto& backend : platform::audio_backends()) {
        error = backend->open(device, output.rate, render, &output);
        if (error == BASS_OK) output.backend = std::move(backend);
        if (error != BASS_ERROR_DRIVER) break;
    }
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
    if (output.backend) output.backend->start();
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

BOOL BASS_ChannelPause(DWORD handle) {
    std::lock_guard<std::mutex> lock(api_mutex);
    if (!output.initialised) return fail(BASS_ERROR_INIT, FALSE);
    Stream* s = find(handle);
    if (!s) return fail(BASS_ERROR_HANDLE, FALSE);
    s->playing.store(false, std::memory_order_release);
    t_error = BASS_OK;
    return TRUE;
}

QWORD BASS_ChannelGetPosition(DWORD handle) {
    return audio_stream_position(handle, nullptr);
}

QWORD audio_stream_position(HSTREAM handle, double* until_heard) {
    std::lock_guard<std::mutex> lock(api_mutex);
    if (until_heard) *until_heard = -1.0;
    if (!output.initialised) return fail(BASS_ERROR_INIT, ~QWORD(0));
    Stream* s = find(handle);
    if (!s) return fail(BASS_ERROR_HANDLE, ~QWORD(0));
    t_error = BASS_OK;
    uint64_t until = 0;
    const uint64_t frame = heard_frame(*s, heard_output_frame(output), output.rate, &until);
    if (until_heard && output.heard_known && until != kUnknown)
        *until_heard = static_cast<double>(until) / output.rate;
    return frame * static_cast<QWORD>(s->pcm.channels) * sizeof(int16_t);
}

double audio_stream_seconds_until_heard(HSTREAM handle) {
    double until = -1.0;
    audio_stream_position(handle, &until);
    return until;
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

AudioOutputState audio_output_state() {
    std::lock_guard<std::mutex> lock(api_mutex);
    if (!output.initialised || output.nosound) return AUDIO_OUTPUT_NONE;
    if (output.backend) heard_output_frame(output);  // notices a loss
    return output.lost ? AUDIO_OUTPUT_LOST : AUDIO_OUTPUT_LIVE;
}

const AudioPcm* audio_stream_pcm(HSTREAM handle) {
    std::lock_guard<std::mutex> lock(api_mutex);
    Stream* s = find(handle);
    return s ? &s->pcm : nullptr;
}
