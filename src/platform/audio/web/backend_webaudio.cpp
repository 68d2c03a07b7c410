// The browser's output: the page's AudioContext, at the output's rate where the browser allows. The program
// runs on the page's one thread, so the mix is pushed rather than pulled: whenever the clock is read, the
// mixer fills the next chunks and they are scheduled back to back on the context's clock, a little ahead
// of what is heard (further when the page is slow). Output frame F of a run of chunks started at context time
// T plays at T + F / rate; the frame heard is read at the context time being heard now (its output timestamp,
// advanced to now), from the latest run that started by then. If the chunks ran dry (the page was busy), the
// next run starts a little ahead of the context's present time and the frames heard wait for it.
//
// Browsers start sound only after a gesture on the page, and may suspend it later. Starting waits for the
// page's click (it asks for one) and then at most kStartWait for the context to run; a context that does not
// run, or stops running for kStallWait, is a lost output: the page is told once (Module.qvAudioNotice) and
// the front end plays on without sound.
#include <emscripten.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "platform/audio/bass.h"

namespace platform {
namespace {

constexpr double kChunkSeconds = 0.05;
// Scheduled ahead of the context's present time: at least kLeadSeconds, and more while the page reads the
// clock seldom (slow frames), so that the sound does not run dry between two reads; at most kMaxLead.
constexpr double kLeadSeconds = 0.25;
constexpr double kMaxLeadSeconds = 3.0;
constexpr double kStartWait = 1.5;  // seconds after the gesture (or without one) for the context to run
constexpr double kStallWait = 1.5;  // seconds a running context may stop before it counts as lost

// clang-format off
// 1 when a context exists (made here at `rate` where the browser takes that rate, else at its own).
EM_JS(int, webaudio_open, (int rate), {
    try {
        if (!Module.audioContext) {
            try {
                Module.audioContext = new AudioContext({latencyHint: 'playback', sampleRate: rate});
            } catch (e) {
                Module.audioContext = new AudioContext({latencyHint: 'playback'});
            }
        }
    } catch (e) {
        return 0;
    }
    if (Module.audioContext.state === 'closed') return 0;
    // The page's gesture, noted for the wait at the start.
    if (!Module.qvAudioGestureSeen) {
        Module.qvAudioGestureSeen = true;
        var note = function () { if (!Module.qvAudioGesture) Module.qvAudioGesture = performance.now(); };
        document.addEventListener('click', note, true);
        document.addEventListener('keydown', note, true);
        document.addEventListener('touchend', note, true);
    }
    return 1;
});
// 1 while the context plays; asks it to, once, and asks the page for a click where it does not.
EM_JS(int, webaudio_running, (), {
    var ctx = Module.audioContext;
    if (!ctx) return 0;
    if (ctx.state === 'running') return 1;
    if (!Module.qvAudioAsked) {
        Module.qvAudioAsked = true;
        ctx.resume();  // enough where autoplay is allowed
        if (Module.askForClick) Module.askForClick();
    }
    return 0;
});
// Milliseconds since the page's gesture: -1 before one, -2 when the page has no way to ask for one.
EM_JS(double, webaudio_since_gesture, (), {
    if (!Module.askForClick) return -2;
    return Module.qvAudioGesture ? performance.now() - Module.qvAudioGesture : -1;
});
EM_JS(double, webaudio_now_ms, (), { return performance.now(); });
// The context's present time, and the context time being heard now (-1 while it does not play).
EM_JS(double, webaudio_current_time, (), { return Module.audioContext.currentTime; });
EM_JS(double, webaudio_heard_time, (), {
    var ctx = Module.audioContext;
    if (ctx.state !== 'running') return -1;
    var ts = ctx.getOutputTimestamp ? ctx.getOutputTimestamp() : null;
    if (ts && ts.contextTime > 0) return ts.contextTime + Math.max(0, (performance.now() - ts.performanceTime) / 1000);
    return Math.max(0, ctx.currentTime - (ctx.outputLatency || ctx.baseLatency || 0));
});
EM_JS(void, webaudio_schedule, (const int16_t* samples, int frames, int rate, double at), {
    var ctx = Module.audioContext;
    var buffer = ctx.createBuffer(2, frames, rate);
    var pcm = HEAP16.subarray(samples >> 1, (samples >> 1) + frames * 2);
    var left = buffer.getChannelData(0), right = buffer.getChannelData(1);
    for (var i = 0; i < frames; ++i) {
        left[i] = pcm[i * 2] / 32768;
        right[i] = pcm[i * 2 + 1] / 32768;
    }
    var source = ctx.createBufferSource();
    source.buffer = buffer;
    source.connect(ctx.destination);
    source.start(at);
});
EM_JS(void, webaudio_notice, (const char* text), {
    var t = UTF8ToString(text);
    if (Module.qvAudioNotice) Module.qvAudioNotice(t);
});
// clang-format on

class WebAudioBackend : public AudioBackend {
public:
    int open(int device, int rate, AudioRender render, void* user) override {
        if (device != -1 && device != 1) return BASS_ERROR_DEVICE;
        if (!webaudio_open(rate)) return BASS_ERROR_DRIVER;
        render_ = render;
        user_ = user;
        rate_ = rate;
        chunk_.assign(static_cast<size_t>(kChunkSeconds * rate) * kAudioChannels, 0);
        return BASS_OK;
    }

    // The production starts with its music: this waits for the page's click where sound needs one, and then
    // a little for the context to run.
    void start() override {
        const double asked_ms = webaudio_now_ms();
        while (!webaudio_running()) {
            const double since = webaudio_since_gesture();
            const double waited = since == -2 ? webaudio_now_ms() - asked_ms : since;
            if (waited > kStartWait * 1000) break;
            emscripten_sleep(50);
        }
        running_since_ms_ = webaudio_now_ms();
    }

    AudioHeard heard(uint64_t, uint64_t* frame) override {
        if (lost_) return AudioHeard::kLost;
        const double now_ms = webaudio_now_ms();
        if (!webaudio_running()) {
            // Not started yet, or stopped by the browser: the sound heard holds, for a while.
            if (!stopped_since_ms_) stopped_since_ms_ = now_ms;
            const double waited = (now_ms - std::max(stopped_since_ms_, running_since_ms_)) / 1000;
            if (running_since_ms_ && waited >= (heard_any_ ? kStallWait : kStartWait)) {
                lost_ = true;
                webaudio_notice(heard_any_ ? "Sound stopped; playing on without sound."
                                           : "Sound could not start; playing on without sound.");
                return AudioHeard::kLost;
            }
            if (!heard_any_) return AudioHeard::kNotYet;
            *frame = last_;
            return AudioHeard::kFrame;
        }
        stopped_since_ms_ = 0;
        pump();
        const double t = webaudio_heard_time();
        // The latest run started by then; frames heard do not pass its end (the next run, or what was made).
        const Run* run = nullptr;
        for (const Run& r : runs_)
            if (r.start_time <= t) run = &r;
        if (!run) return heard_any_ ? (*frame = last_, AudioHeard::kFrame) : AudioHeard::kNotYet;
        const uint64_t end = &*run == &runs_.back() ? handed_ : (run + 1)->first_frame;
        const double into = (t - run->start_time) * rate_;
        last_ = std::min(run->first_frame + static_cast<uint64_t>(into), end);
        heard_any_ = true;
        *frame = last_;
        return AudioHeard::kFrame;
    }

private:
    struct Run {
        uint64_t first_frame;  // the output frame that plays at start_time
        double start_time;     // context seconds
    };

    // Mixes and schedules chunks up to the lead ahead of the context's present time. The lead follows the
    // longest time between two reads lately (it halves every four seconds).
    void pump() {
        const double now = webaudio_current_time();
        if (last_pump_ > 0) {
            const double gap = std::max(0.0, now - last_pump_);
            slowest_ = std::max(gap, slowest_ * std::exp2(-gap / 4));
        }
        last_pump_ = now;
        const double lead = std::min(kMaxLeadSeconds, std::max(kLeadSeconds, 1.5 * slowest_ + 0.1));
        if (next_time_ < now + 0.02) {
            // Ran dry (or the first run): a new run, a little ahead so that its start is exact.
            next_time_ = now + 0.05;
            runs_.push_back(Run{handed_, next_time_});
            if (runs_.size() > 8) runs_.erase(runs_.begin());
        }
        const uint64_t chunk_frames = chunk_.size() / kAudioChannels;
        while (next_time_ < now + lead) {
            render_(user_, chunk_.data(), chunk_frames);
            webaudio_schedule(chunk_.data(), static_cast<int>(chunk_frames), rate_, next_time_);
            handed_ += chunk_frames;
            next_time_ += static_cast<double>(chunk_frames) / rate_;
        }
    }

    AudioRender render_ = nullptr;
    void* user_ = nullptr;
    int rate_ = 44100;
    std::vector<int16_t> chunk_;
    std::vector<Run> runs_;
    uint64_t handed_ = 0;
    double next_time_ = 0;  // context time where the next chunk starts
    double last_pump_ = 0;  // context time of the latest pump
    double slowest_ = 0;    // the longest time between two pumps lately, seconds
    bool heard_any_ = false;
    uint64_t last_ = 0;
    bool lost_ = false;
    double running_since_ms_ = 0;  // when start() returned
    double stopped_since_ms_ = 0;  // when the context was last seen not running
};

}  // namespace

std::vector<std::unique_ptr<AudioBackend>> audio_backends() {
    std::vector<std::unique_ptr<AudioBackend>> backends;
    backends.push_back(std::make_unique<WebAudioBackend>());
    return backends;
}

// Linear interpolation, each channel of the source to both outputs (mono) or in order (first two).
bool audio_convert(const int16_t* pcm, uint64_t frames, int channels, int rate, int out_rate,
                   std::vector<int16_t>& out) {
    if (channels < 1 || rate <= 0 || out_rate <= 0) return false;
    const auto count = static_cast<uint64_t>(static_cast<unsigned __int128>(frames) *
                                             static_cast<uint64_t>(out_rate) / static_cast<uint64_t>(rate));
    out.assign(static_cast<size_t>(count) * kAudioChannels, 0);
    const double step = static_cast<double>(rate) / out_rate;
    for (uint64_t i = 0; i < count; ++i) {
        const double at = static_cast<double>(i) * step;
        const auto f = static_cast<uint64_t>(at);
        const double w = at - static_cast<double>(f);
        const uint64_t g = std::min(f + 1, frames - 1);
        for (int c = 0; c < kAudioChannels; ++c) {
            const int from = std::min(c, channels - 1);
            const double a = pcm[f * static_cast<uint64_t>(channels) + static_cast<uint64_t>(from)];
            const double b = pcm[g * static_cast<uint64_t>(channels) + static_cast<uint64_t>(from)];
            out[static_cast<size_t>(i) * kAudioChannels + static_cast<size_t>(c)] =
                static_cast<int16_t>(a + (b - a) * w);
        }
    }
    return true;
}

}  // namespace platform
