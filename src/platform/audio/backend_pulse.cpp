// The output through a sound server (PulseAudio, or PipeWire's PulseAudio service), and the desktop's
// choice of backends. The server asks for sound on its main-loop thread and the mixer fills its buffers
// there. The frame heard is the server's play-out time of the stream: the frames the sink has taken less
// those still in its own buffer, as of the latest timing report, interpolated since then on the monotonic
// clock while the stream plays. Nothing is heard before the first report; a sink that is suspended holds
// it (a timing report is asked for at once when that changes, so the clock stops and starts with the
// sound). A stream the server moves to another sink plays on there. A stream that fails or is killed, and a
// server that goes away, are a lost output.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/audio/audio_backend.h"
#include "platform/audio/bass.h"

namespace platform {
namespace {

// A timing answer that arrives within this is taken as it stands.
constexpr uint64_t kSureTransportUsec = 2000;

// Waits, with the main loop locked, until the operation is done.
void pulse_wait(pa_threaded_mainloop* loop, pa_operation* op) {
    if (!op) return;
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop);
    pa_operation_unref(op);
}

class PulseBackend : public AudioBackend {
public:
    ~PulseBackend() override {
        if (loop_) pa_threaded_mainloop_stop(loop_);  // no callback runs after this
        if (stream_) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
        }
        if (context_) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        if (loop_) pa_threaded_mainloop_free(loop_);
    }

    // Device 1 is the server's default output and the stream is opened without naming one, so it follows
    // the default and the user can move it in the desktop's mixer; devices 2 and up name the server's
    // outputs in its order. BASS_ERROR_DRIVER when no server answers.
    int open(int device, int rate, AudioRender render, void* user) override {
        render_ = render;
        user_ = user;
        rate_ = rate;
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) return BASS_ERROR_DRIVER;
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Quorvane");
        if (!context_) return BASS_ERROR_DRIVER;
        pa_context_set_state_callback(context_, context_state, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            pa_threaded_mainloop_start(loop_) < 0)
            return BASS_ERROR_DRIVER;
        pa_threaded_mainloop_lock(loop_);
        const int error = connect(device);
        if (!error) ready_ = true;
        pa_threaded_mainloop_unlock(loop_);
        return error;
    }

    AudioHeard heard(uint64_t now_ns, uint64_t* frame) override {
        if (lost_.load(std::memory_order_acquire)) return AudioHeard::kLost;
        pa_threaded_mainloop_lock(loop_);
        AudioHeard result = AudioHeard::kNotYet;
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) ||
            !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) {
            result = AudioHeard::kLost;
        } else if (report_ns_) {
            *frame = std::min(frame_at(now_ns), handed_);
            result = AudioHeard::kFrame;
        }
        pa_threaded_mainloop_unlock(loop_);
        return result;
    }

private:
    int connect(int device) {
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context_);
            if (state == PA_CONTEXT_READY) break;
            if (!PA_CONTEXT_IS_GOOD(state)) return BASS_ERROR_DRIVER;
            pa_threaded_mainloop_wait(loop_);
        }
        std::string name;
        if (device > 1) {
            struct Listing {
                pa_threaded_mainloop* loop;
                std::vector<std::string> names;
            } listing{loop_, {}};
            pulse_wait(loop_, pa_context_get_sink_info_list(
                                  context_,
                                  [](pa_context*, const pa_sink_info* info, int, void* user) {
                                      auto* l = static_cast<Listing*>(user);
                                      if (info) l->names.emplace_back(info->name);
                                      pa_threaded_mainloop_signal(l->loop, 0);
                                  },
                                  &listing));
            if (static_cast<size_t>(device - 1) > listing.names.size()) return BASS_ERROR_DEVICE;
            name = listing.names[static_cast<size_t>(device - 2)];
        }
        const pa_sample_spec format{PA_SAMPLE_S16NE, static_cast<uint32_t>(rate_), kAudioChannels};
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
        stream_ = pa_stream_new_with_proplist(context_, "Quorvane", &format, nullptr, props);
        pa_proplist_free(props);
        if (!stream_) return BASS_ERROR_DRIVER;
        pa_stream_set_state_callback(stream_, stream_state, this);
        pa_stream_set_write_callback(stream_, write, this);
        pa_stream_set_latency_update_callback(stream_, timing_updated, this);
        pa_stream_set_suspended_callback(stream_, ask_timing, this);
        pa_stream_set_moved_callback(stream_, ask_timing, this);
        pa_stream_set_underflow_callback(stream_, ask_timing, this);
        pa_stream_set_started_callback(stream_, ask_timing, this);
        // A short queue by default (PULSE_LATENCY_MSEC overrides it); the position accounts for whatever
        // the server grants.
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(80000, &format));
        attr.prebuf = static_cast<uint32_t>(-1);
        attr.minreq = static_cast<uint32_t>(pa_usec_to_bytes(20000, &format));
        attr.fragsize = static_cast<uint32_t>(-1);
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
        if (pa_stream_connect_playback(stream_, name.empty() ? nullptr : name.c_str(), &attr, flags, nullptr,
                                       nullptr) < 0)
            return BASS_ERROR_DRIVER;
        for (;;) {
            const pa_stream_state_t state = pa_stream_get_state(stream_);
            if (state == PA_STREAM_READY) return BASS_OK;
            if (!PA_STREAM_IS_GOOD(state)) return BASS_ERROR_DRIVER;
            pa_threaded_mainloop_wait(loop_);
        }
    }

    static void context_state(pa_context* context, void* user) {
        auto* b = static_cast<PulseBackend*>(user);
        if (b->ready_ && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            b->lost_.store(true, std::memory_order_release);
        pa_threaded_mainloop_signal(b->loop_, 0);
    }

    static void stream_state(pa_stream* stream, void* user) {
        auto* b = static_cast<PulseBackend*>(user);
        if (b->ready_ && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            b->lost_.store(true, std::memory_order_release);
        pa_threaded_mainloop_signal(b->loop_, 0);
    }

    // The server asks for `bytes` more: mixed straight into its own buffers.
    static void write(pa_stream* stream, size_t bytes, void* user) {
        auto* b = static_cast<PulseBackend*>(user);
        constexpr size_t kFrameBytes = kAudioChannels * sizeof(int16_t);
        while (bytes >= kFrameBytes) {
            void* data = nullptr;
            size_t n = bytes;
            if (pa_stream_begin_write(stream, &data, &n) < 0 || !data) return;
            n = std::min(n, bytes) / kFrameBytes * kFrameBytes;
            if (n == 0) {
                pa_stream_cancel_write(stream);
                return;
            }
            const uint64_t start = b->render_(b->user_, static_cast<int16_t*>(data), n / kFrameBytes);
            if (pa_stream_write(stream, data, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
            b->handed_ = start + n / kFrameBytes;
            bytes -= n;
        }
    }

    // The frame heard at `now_ns` by the latest report (under the main loop's lock); negative while the
    // sink still plays what it held before the stream's first frame.
    int64_t signed_frame_at(uint64_t now_ns) const {
        if (!report_running_) return report_frame_;
        const auto since =
            static_cast<int64_t>(audio_frames_in(now_ns - std::min(now_ns, report_ns_), rate_));
        return std::min(report_frame_ + since, report_cap_);
    }
    uint64_t frame_at(uint64_t now_ns) const {
        return static_cast<uint64_t>(std::max<int64_t>(signed_frame_at(now_ns), 0));
    }

    // Something that changes the course of the sound (suspended or resumed, moved, ran dry, started): the
    // latest report no longer holds, so a new one is asked for at once. A suspended sink plays nothing from
    // the moment it says so until a report after it resumed.
    static void ask_timing(pa_stream* stream, void* user) {
        auto* b = static_cast<PulseBackend*>(user);
        const bool suspended = pa_stream_is_suspended(stream) > 0;
        if (suspended && !b->suspended_ && b->report_ns_) {
            const uint64_t now = audio_now_ns();
            b->report_frame_ = b->signed_frame_at(now);
            b->report_ns_ = now;
            b->report_running_ = false;
        }
        b->suspended_ = suspended;
        b->changed_ = true;
        pa_operation* op = pa_stream_update_timing_info(stream, nullptr, nullptr);
        if (op) pa_operation_unref(op);
    }

    // A timing report: the sink had taken `read_index` bytes of the stream when the server answered, of
    // which `sink_usec` were still to play; the answer took about `transport_usec` (half the round trip) to
    // arrive. The frame heard is negative while the sink still plays what it held before the stream's first
    // frame: it runs from there and is heard from 0 on, not from the report. While the stream does not play
    // (before the start, run dry), the sink plays out what it has and stops there. A slow answer (a busy
    // server or client) is uncertain by about its transport time: unless the course changed, it replaces the
    // running estimate only when it is further from it than that.
    static void timing_updated(pa_stream* stream, void* user) {
        auto* b = static_cast<PulseBackend*>(user);
        const pa_timing_info* info = pa_stream_get_timing_info(stream);
        if (!info || info->read_index_corrupt || b->suspended_) return;
        const uint64_t now = audio_now_ns();
        const int64_t taken = std::max<int64_t>(info->read_index, 0) / (kAudioChannels * sizeof(int16_t));
        const int64_t since =
            static_cast<int64_t>(info->transport_usec) - static_cast<int64_t>(info->sink_usec);
        const int64_t heard = taken + since * b->rate_ / 1000000;
        const int64_t cap = info->playing ? INT64_MAX : taken;
        const bool same_course = b->report_ns_ && b->report_running_ && cap == b->report_cap_ && !b->changed_;
        if (same_course && info->transport_usec > kSureTransportUsec) {
            const int64_t predicted = b->signed_frame_at(now);
            const int64_t uncertain = static_cast<int64_t>(info->transport_usec) * b->rate_ / 1000000;
            if (std::abs(heard - predicted) <= uncertain) return;
        }
        b->report_frame_ = heard;
        b->report_cap_ = cap;
        b->report_ns_ = now;
        b->report_running_ = true;
        b->changed_ = false;
    }

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    AudioRender render_ = nullptr;
    void* user_ = nullptr;
    int rate_ = 44100;
    bool ready_ = false;  // opened: a failure from here on is a loss
    std::atomic<bool> lost_{false};

    // Under the main loop's lock.
    uint64_t handed_ = 0;  // output frames written to the server
    bool suspended_ = false;
    bool changed_ = false;    // the course changed since the latest report
    uint64_t report_ns_ = 0;  // 0: no timing report yet
    int64_t report_frame_ = 0;
    int64_t report_cap_ = 0;  // the frame heard stops there
    bool report_running_ = false;
};

}  // namespace

std::unique_ptr<AudioBackend> audio_backend_pulse() {
    return std::make_unique<PulseBackend>();
}

// The sound server is tried unless SDL is told to use a driver of its own; without a server, SDL plays.
std::vector<std::unique_ptr<AudioBackend>> audio_backends() {
    std::vector<std::unique_ptr<AudioBackend>> backends;
    const char* driver = getenv("SDL_AUDIODRIVER");
    const std::string d = driver ? driver : "";
    if (d.empty() || d == "pulseaudio" || d == "pulse" || d == "pipewire")
        backends.push_back(audio_backend_pulse());
    backends.push_back(audio_backend_sdl());
    return backends;
}

}  // namespace platform
