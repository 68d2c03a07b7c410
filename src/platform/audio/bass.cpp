// Output device, streams and their positions. Each stream is decoded whole when it is created and,
// when its format differs from the device's, converted once more for the device; the SDL callback
// then only copies and mixes. It takes no locks and allocates nothing: the main thread hands it
// streams through atomic slots and requests (play, seek) through atomics, and it publishes each
// stream's position under a sequence counter.
#include "platform/audio/bass.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>

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

struct Stream {
    HSTREAM handle = 0;
    AudioPcm pcm;                    // the file's own format: positions and spectra count in it
    std::vector<int16_t> converted;  // the sound at the device's rate in stereo, when pcm is not
    const int16_t* device_pcm = nullptr;
    uint64_t device_frames = 0;

    // Requests from the main thread, taken by the callback.
    std::atomic<bool> playing{false};
    std::atomic<int64_t> seek_request{kNoSeek};
    uint32_t seek_number = 0;  // main thread

    // Owned by the callback.
    uint64_t cursor = 0;    // next device frame to play
    uint64_t base_src = 0;  // the source frame that device frame base_dev stands for
    uint64_t base_dev = 0;

    // Published by the callback: the device frame at the start of its latest buffer, how many
    // frames of the stream that buffer holds, and when it was handed over.
    std::atomic<uint32_t> seq{0};
    std::atomic<uint64_t> pub_start{0};
    std::atomic<uint64_t> pub_count{0};
    std::atomic<uint64_t> pub_base_src{0};
    std::atomic<uint64_t> pub_base_dev{0};
    std::atomic<uint64_t> pub_ticks{0};
};

struct Output {
    // Main-thread state, under api_mutex.
    bool initialised = false;
    bool nosound = false;
    SDL_AudioDeviceID device = 0;
    int rate = 44100;
    std::map<HSTREAM, std::unique_ptr<Stream>> streams;
    HSTREAM next_handle = 1;

    // Shared with the callback.
    std::atomic<Stream*> slots[kMaxStreams] = {};
    std::atomic<int> in_callback{0};
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

void mix_stream(Stream& s, int16_t* out, uint64_t frames, uint64_t now, int dev_rate) {
    // playing first: a play request stores its seek before it sets playing.
    const bool playing = s.playing.load(std::memory_order_acquire);
    const int64_t seek = s.seek_request.load(std::memory_order_acquire);
    if (seek != kNoSeek) {
        s.base_src = static_cast<uint64_t>(seek & kSeekFrameMask);
        s.base_dev = std::min(source_to_device(s.base_src, s.pcm.rate, dev_rate), s.device_frames);
        s.cursor = s.base_dev;
    }
    const uint64_t start = s.cursor;
    uint64_t count = 0;
    if (playing && s.cursor < s.device_frames) {
        count = std::min(frames, s.device_frames - s.cursor);
        const int16_t* in = s.device_pcm + s.cursor * kDeviceChannels;
        for (uint64_t i = 0; i < count * kDeviceChannels; ++i) {
            const int v = out[i] + in[i];
            out[i] = static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
        }
        s.cursor += count;
    }

    const uint32_t seq = s.seq.load(std::memory_order_relaxed);
    s.seq.store(seq + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    s.pub_start.store(start, std::memory_order_relaxed);
    s.pub_count.store(count, std::memory_order_relaxed);
    s.pub_base_src.store(s.base_src, std::memory_order_relaxed);
    s.pub_base_dev.store(s.base_dev, std::memory_order_relaxed);
    s.pub_ticks.store(now, std::memory_order_relaxed);
    s.seq.store(seq + 2, std::memory_order_release);

    // Cleared only after publishing, so a reader that sees no request sees the seeked position;
    // a newer request stays for the next buffer.
    if (seek != kNoSeek) {
        int64_t expected = seek;
        s.seek_request.compare_exchange_strong(expected, kNoSeek, std::memory_order_acq_rel);
    }
}

void SDLCALL audio_callback(void* user, Uint8* bytes, int length) {
    Output* o = static_cast<Output*>(user);
    o->in_callback.store(1, std::memory_order_seq_cst);
    const uint64_t now = SDL_GetPerformanceCounter();
    memset(bytes, 0, static_cast<size_t>(length));
    int16_t* out = reinterpret_cast<int16_t*>(bytes);
    const uint64_t frames = static_cast<uint64_t>(length) / (kDeviceChannels * sizeof(int16_t));
    for (auto& slot : o->slots) {
        Stream* s = slot.load(std::memory_order_seq_cst);
        if (s) mix_stream(*s, out, frames, now, o->rate);
    }
    o->in_callback.store(0, std::memory_order_seq_cst);
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

// Source frame being heard.
uint64_t heard_frame(const Stream& s, int dev_rate) {
    const int64_t seek = s.seek_request.load(std::memory_order_acquire);
    if (seek != kNoSeek) return static_cast<uint64_t>(seek & kSeekFrameMask);
    uint64_t start, count, base_src, base_dev, ticks;
    for (;;) {
        const uint32_t seq1 = s.seq.load(std::memory_order_acquire);
        start = s.pub_start.load(std::memory_order_relaxed);
        count = s.pub_count.load(std::memory_order_relaxed);
        base_src = s.pub_base_src.load(std::memory_order_relaxed);
        base_dev = s.pub_base_dev.load(std::memory_order_relaxed);
        ticks = s.pub_ticks.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        const uint32_t seq2 = s.seq.load(std::memory_order_relaxed);
        if (seq1 == seq2 && !(seq1 & 1)) break;
    }
    // The latest buffer started playing when it was handed over and drains at the device's rate;
    // what it holds beyond the elapsed time is still queued.
    uint64_t played = 0;
    if (count > 0) {
        const uint64_t now = SDL_GetPerformanceCounter();
        const uint64_t freq = SDL_GetPerformanceFrequency();
        const uint64_t elapsed = now > ticks ? std::min(now - ticks, freq) : 0;  // capped at 1 s
        played =
            std::min(static_cast<uint64_t>(static_cast<unsigned __int128>(elapsed) * dev_rate / freq), count);
    }
    const uint64_t dev = start + played;
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

void close_output() {
    if (output.device) SDL_CloseAudioDevice(output.device);  // waits for the callback to finish
    output.device = 0;
    for (auto& slot : output.slots) slot.store(nullptr);
    output.streams.clear();
    if (output.initialised && !output.nosound) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    output.initialised = false;
    output.nosound = false;
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
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return fail(BASS_ERROR_DRIVER, FALSE);
    // Device n is the n-th output SDL lists; a backend that lists none still has its default one.
    const int listed = SDL_GetNumAudioDevices(0);
    const char* name = nullptr;
    if (device > 0 && listed > 0) {
        if (device > listed) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return fail(BASS_ERROR_DEVICE, FALSE);
        }
        name = SDL_GetAudioDeviceName(device - 1, 0);
    } else if (device > 1) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return fail(BASS_ERROR_DEVICE, FALSE);
    }
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = output.rate;
    want.format = AUDIO_S16SYS;
    want.channels = kDeviceChannels;
    want.samples = kBufferFrames;
    want.callback = audio_callback;
    want.userdata = &output;
    SDL_AudioSpec have;
    // No changes allowed: SDL converts to whatever the hardware takes.
    output.device = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
    if (!output.device && name) output.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (!output.device) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return fail(BASS_ERROR_DRIVER, FALSE);
    }
    output.initialised = true;
    SDL_PauseAudioDevice(output.device, 0);
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
    return heard_frame(*s, output.rate) * static_cast<QWORD>(s->pcm.channels) * sizeof(int16_t);
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
    const uint64_t frame = heard_frame(*s, output.rate);
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
