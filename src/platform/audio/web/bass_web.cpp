// The audio library's calls over Web Audio. Streams are decoded whole with libmpg123 (as on the desktop) and
// handed to the page's AudioContext as one AudioBuffer; playing starts a buffer source at a context time. The
// position is what the listener hears: the context's output timestamp (the context time now at the
// speakers), less the start time, in the stream's frames. The browser is single-threaded here, so no locks.
#include <emscripten.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "platform/audio/bass.h"
#include "platform/audio/pcm.h"

namespace {

struct Stream {
    AudioPcm pcm;
    bool playing = false;
    uint64_t pausedFrame = 0;  // where a stream that is not playing would start
};

struct Output {
    bool initialised = false;
    bool nosound = false;
    std::map<HSTREAM, std::unique_ptr<Stream>> streams;
    HSTREAM nextHandle = 1;
} output;

int lastError = BASS_OK;

template <typename T>
T fail(int code, T result) {
    lastError = code;
    return result;
}

Stream* find(DWORD handle) {
    auto it = output.streams.find(handle);
    return it == output.streams.end() ? nullptr : it->second.get();
}

// The page's side (src/platform/web/index.html resumes the context on the click that starts the music).
// clang-format off
EM_JS(int, web_audio_available, (), {
    try {
        if (!Module.audioContext) Module.audioContext = new AudioContext({latencyHint: 'playback'});
    } catch (e) {
        return 0;
    }
    return Module.audioContext.state !== 'closed' ? 1 : 0;
});
// Browsers start sound only after a gesture on the page: until then the context is suspended.
EM_JS(int, web_audio_running, (), {
    var ctx = Module.audioContext;
    if (ctx.state === 'running') return 1;
    if (!Module.askedForClick) {
        Module.askedForClick = true;
        ctx.resume();  // enough where autoplay is allowed
        if (Module.askForClick) Module.askForClick();
    }
    return 0;
});
EM_JS(void, web_audio_load, (int handle, const int16_t* samples, int frames, int channels, int rate), {
    var ctx = Module.audioContext;
    var buffer = ctx.createBuffer(channels, Math.max(frames, 1), rate);
    var pcm = HEAP16.subarray(samples >> 1, (samples >> 1) + frames * channels);
    for (var c = 0; c < channels; ++c) {
        var out = buffer.getChannelData(c);
        for (var i = 0; i < frames; ++i) out[i] = pcm[i * channels + c] / 32768;
    }
    Module.audioStreams = Module.audioStreams || {};
    Module.audioStreams[handle] = {buffer: buffer, source: null, start: 0};
});
EM_JS(void, web_audio_play, (int handle, double fromSeconds), {
    var ctx = Module.audioContext, s = Module.audioStreams[handle];
    if (s.source) { s.source.onended = null; s.source.stop(); }
    s.source = ctx.createBufferSource();
    s.source.buffer = s.buffer;
    s.source.connect(ctx.destination);
    // A little ahead, so the start is exact on the context's clock.
    var at = ctx.currentTime + 0.05;
    s.source.start(at, fromSeconds);
    s.start = at - fromSeconds;
    if (ctx.state === 'suspended') ctx.resume();
});
EM_JS(void, web_audio_stop, (int handle), {
    var s = Module.audioStreams && Module.audioStreams[handle];
    if (s && s.source) { s.source.stop(); s.source = null; }
});
EM_JS(void, web_audio_free, (int handle), {
    var s = Module.audioStreams && Module.audioStreams[handle];
    if (s && s.source) s.source.stop();
    if (Module.audioStreams) delete Module.audioStreams[handle];
});
// Seconds of the stream heard now: the context time at the output (getOutputTimestamp, or the current time
// less the output latency where that is missing), from the stream's start.
EM_JS(double, web_audio_heard_seconds, (int handle), {
    var ctx = Module.audioContext, s = Module.audioStreams[handle];
    var t;
    var ts = ctx.getOutputTimestamp ? ctx.getOutputTimestamp() : null;
    if (ts && ts.contextTime > 0) {
        // Advanced to now from when the timestamp was taken, so the clock moves smoothly between updates.
        t = ts.contextTime + Math.max(0, (performance.now() - ts.performanceTime) / 1000);
    } else {
        t = ctx.currentTime - (ctx.outputLatency || ctx.baseLatency || 0);
    }
    return Math.max(0, t - s.start);
});
// clang-format on

uint64_t heardFrame(HSTREAM handle, const Stream& s) {
    if (!s.playing) return s.pausedFrame;
    const double seconds = web_audio_heard_seconds(static_cast<int>(handle));
    const double frame = seconds * s.pcm.rate;
    return std::min<uint64_t>(static_cast<uint64_t>(frame), s.pcm.frames());
}

}  // namespace

BOOL BASS_Init(int device, DWORD freq, DWORD flags, HWND win, const GUID* dsguid) {
    (void)freq, (void)flags, (void)win, (void)dsguid;
    if (output.initialised) return fail(BASS_ERROR_ALREADY, FALSE);
    if (device != 0 && device != -1 && device != 1) return fail(BASS_ERROR_DEVICE, FALSE);
    if (device != 0 && !web_audio_available()) return fail(BASS_ERROR_DRIVER, FALSE);
    output.initialised = true;
    output.nosound = device == 0;
    lastError = BASS_OK;
    return TRUE;
}

BOOL BASS_Start(void) {
    if (!output.initialised) return fail(BASS_ERROR_INIT, FALSE);
    lastError = BASS_OK;
    return TRUE;
}

HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags) {
    (void)flags;
    if (!output.initialised) return fail(BASS_ERROR_INIT, HSTREAM(0));
    if (output.nosound) return fail(BASS_ERROR_NOTAVAIL, HSTREAM(0));
    // The browser has no files of its own: streams come from memory (the archive's bytes).
    if (!file || !mem) return fail(mem ? BASS_ERROR_ILLPARAM : BASS_ERROR_FILEOPEN, HSTREAM(0));
    auto stream = std::make_unique<Stream>();
    const int error = audio_decode_mp3(length ? static_cast<const unsigned char*>(file) + offset : nullptr,
                                       static_cast<size_t>(length), &stream->pcm);
    if (error != BASS_OK) return fail(error, HSTREAM(0));
    const HSTREAM handle = output.nextHandle++;
    web_audio_load(static_cast<int>(handle), stream->pcm.samples.data(),
                   static_cast<int>(stream->pcm.frames()), stream->pcm.channels, stream->pcm.rate);
    output.streams.emplace(handle, std::move(stream));
    lastError = BASS_OK;
    return handle;
}

BOOL BASS_StreamPlay(HSTREAM handle, BOOL flush, DWORD flags) {
    (void)flags;
    if (!output.initialised) return fail(BASS_ERROR_INIT, FALSE);
    Stream* s = find(handle);
    if (!s) return fail(BASS_ERROR_HANDLE, FALSE);
    const uint64_t from = flush ? 0 : heardFrame(handle, *s);
    // The production starts with its music: both wait here for the page's click where sound needs one.
    while (!web_audio_running()) emscripten_sleep(50);
    web_audio_play(static_cast<int>(handle), static_cast<double>(from) / s->pcm.rate);
    s->playing = true;
    lastError = BASS_OK;
    return TRUE;
}

QWORD BASS_ChannelGetPosition(DWORD handle) {
    if (!output.initialised) return fail(BASS_ERROR_INIT, ~QWORD(0));
    Stream* s = find(handle);
    if (!s) return fail(BASS_ERROR_HANDLE, ~QWORD(0));
    lastError = BASS_OK;
    return heardFrame(handle, *s) * static_cast<QWORD>(s->pcm.channels) * sizeof(int16_t);
}

BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos) {
    if (!output.initialised) return fail(BASS_ERROR_INIT, FALSE);
    Stream* s = find(handle);
    if (!s) return fail(BASS_ERROR_HANDLE, FALSE);
    const QWORD frame = pos / (static_cast<QWORD>(s->pcm.channels) * sizeof(int16_t));
    if (frame > s->pcm.frames()) return fail(BASS_ERROR_POSITION, FALSE);
    if (s->playing)
        web_audio_play(static_cast<int>(handle), static_cast<double>(frame) / s->pcm.rate);
    else
        s->pausedFrame = frame;
    lastError = BASS_OK;
    return TRUE;
}

DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length) {
    if (!output.initialised) return fail(BASS_ERROR_INIT, ~DWORD(0));
    Stream* s = find(handle);
    if (!s) return fail(BASS_ERROR_HANDLE, ~DWORD(0));
    if (!buffer) return fail(BASS_ERROR_ILLPARAM, ~DWORD(0));
    const uint64_t frame = heardFrame(handle, *s);
    const AudioPcm& pcm = s->pcm;
    const uint64_t frameBytes = static_cast<uint64_t>(pcm.channels) * sizeof(int16_t);
    if (length == BASS_DATA_FFT512) {
        audio_spectrum_at(pcm.samples.data(), pcm.frames(), pcm.channels, frame, static_cast<float*>(buffer));
        lastError = BASS_OK;
        return static_cast<DWORD>(AUDIO_FFT_SIZE * frameBytes);
    }
    if (length & 0x80000000u) return fail(BASS_ERROR_ILLPARAM, ~DWORD(0));
    const uint64_t count = std::min<uint64_t>(length, (pcm.frames() - frame) * frameBytes);
    std::memcpy(buffer, pcm.samples.data() + frame * pcm.channels, static_cast<size_t>(count));
    lastError = BASS_OK;
    return static_cast<DWORD>(count);
}

int BASS_ErrorGetCode(void) {
    return lastError;
}

BOOL BASS_StreamFree(HSTREAM handle) {
    if (!output.initialised) return fail(BASS_ERROR_INIT, FALSE);
    auto it = output.streams.find(handle);
    if (it == output.streams.end()) return fail(BASS_ERROR_HANDLE, FALSE);
    web_audio_free(static_cast<int>(handle));
    output.streams.erase(it);
    lastError = BASS_OK;
    return TRUE;
}

BOOL BASS_Free(void) {
    if (!output.initialised) return fail(BASS_ERROR_INIT, FALSE);
    for (auto& entry : output.streams) web_audio_free(static_cast<int>(entry.first));
    output.streams.clear();
    output.initialised = false;
    lastError = BASS_OK;
    return TRUE;
}

const AudioPcm* audio_stream_pcm(HSTREAM handle) {
    Stream* s = find(handle);
    return s ? &s->pcm : nullptr;
}
