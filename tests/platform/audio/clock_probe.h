#pragma once
// Measures how far the playing position of a stream is from the sound a sink plays: the stream is started,
// its position is read once a video frame (60 a second) with the monotonic time of each read, the sink's
// monitor is recorded meanwhile, and the recording is aligned sample by sample with the stream's decoded
// sound. The recorder knows which recorded frame the sink plays at any instant, the alignment which sound
// frame that recorded frame holds: the difference to the position read is the offset.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/bass.h"
#include "platform/audio/pcm.h"
#include "pulse_server.h"

namespace pulse_test {

struct ClockFigures {
    std::string error;   // empty when measured
    int reads = 0;       // frames measured (sound fully under way, not yet near its end)
    double mean_ms = 0;  // position read minus sound played; positive: the clock is ahead
    double sd_ms = 0;
    double worst_ms = 0;     // largest |offset|
    double still_share = 0;  // share of frames whose position did not advance
    double longest_still_ms = 0;
    double largest_jump_ms = 0;  // largest advance between two frames
    bool bit_exact = false;      // the sink played the decoded sound unaltered
    double sink_latency_ms = 0;  // the sink's own, mean over the recording
    double hold_back_ms = 0;     // the monitor's record stream: its queue held back in the server, mean
    int dropouts = 0;            // times the sound played jumped against the decoded sound (lost or repeated)
    double start_worst_ms = 0;   // largest |offset| until half a second of sound has played, counting from
                                 // before the sound starts (when the position must read 0)
    double start_ahead_ms = 0;   // the same, the clock ahead of the sound only
    // The start again, with the time until the stream's sound is heard taken off the position where the
    // output says it (audio_stream_seconds_until_heard): before the sound, how far off it is.
    int lead_reads = 0;        // reads before the sound that said how far off it was
    double lead_worst_ms = 0;  // largest |position - time until heard - sound played|, those reads included
};

// The measurement against any recorder of the sink: ok(), wait_until_flowing(seconds), stop(), samples()
// (stereo), frame_at(monotonic ns) (the recorded frame the sink plays then) and mean_sink_latency_ms().
// `settle`: seconds the recording runs before the stream starts.
template <typename Recorder>
ClockFigures measure_clock_with(Recorder& rec, HSTREAM stream, const std::string& sink, double seconds,
                                int rate = 44100, double settle = 1.0) {
    ClockFigures out;
    const AudioPcm* pcm = audio_stream_pcm(stream);
    if (!pcm || pcm->rate != rate || pcm->channels != 2) {
        out.error = "the stream must be 16-bit stereo at the sink's rate";
        return out;
    }
    struct Read {
        uint64_t ns;
        double frame;
        double until;  // seconds until the sound at the position is heard; negative: not known
    };
    std::vector<Read> reads;
    reads.reserve(static_cast<size_t>(seconds * 60) + 16);
    {
        if (!rec.ok()) {
            out.error = "cannot record " + sink;
            return out;
        }
        if (!rec.wait_until_flowing(settle)) {
            out.error = sink + " delivers nothing";
            return out;
        }
        if (!BASS_StreamPlay(stream, TRUE, 0)) {
            out.error = "BASS_StreamPlay failed";
            return out;
        }
        const uint64_t start = monotonic_ns();
        const uint64_t period = 1000000000ull / 60;
        for (uint64_t next = start; next < start + static_cast<uint64_t>(seconds * 1e9); next += period) {
            while (monotonic_ns() < next) std::this_thread::sleep_for(std::chrono::microseconds(200));
            const uint64_t ns = monotonic_ns();
            const QWORD pos = BASS_ChannelGetPosition(stream);
            reads.push_back({ns, static_cast<double>(pos / 4), audio_stream_seconds_until_heard(stream)});
        }
        rec.stop();
        out.sink_latency_ms = rec.mean_sink_latency_ms();
        out.hold_back_ms = rec.mean_hold_back_ms();

        // Alignment, read by read: the recorded frames the sink played at the read are found in the decoded
        // sound (at the previous read's shift first, else anywhere), so a dropout mid-run moves the shift
        // instead of spoiling the rest.
        const auto& samples = rec.samples();
        auto matches = [&](size_t k, int64_t shift) {
            const int64_t f = static_cast<int64_t>(k) + shift;
            if (f < 0 || static_cast<uint64_t>(f) + 256 > pcm->frames() || (k + 256) * 2 > samples.size())
                return false;
            for (size_t i = 0; i < 512; ++i)
                if (std::abs(samples[k * 2 + i] - pcm->samples[static_cast<size_t>(f) * 2 + i]) > 2)
                    return false;
            return true;
        };
        int64_t shift = INT64_MIN;  // sound frame = recorded frame + shift
        int64_t first_shift = INT64_MIN;
        int exact = 0, checked = 0;
        double sum = 0, sum2 = 0, prev = -1;
        uint64_t prev_ns = 0, still_since = 0;
        int still = 0;
        for (const Read& r : reads) {
            const double played_rec = rec.frame_at(r.ns);
            if (played_rec < 0) continue;
            const auto k = static_cast<size_t>(std::max(0.0, played_rec));
            if (shift == INT64_MIN || !matches(k, shift)) {
                const int64_t at = find_in(pcm->samples, samples, k, 2);
                if (at < 0) {
                    prev = -1;
                    continue;
                }
                if (shift != INT64_MIN) ++out.dropouts;
                shift = at - static_cast<int64_t>(k);
                if (first_shift == INT64_MIN) first_shift = shift;
            }
            const double played = played_rec + static_cast<double>(shift);
            if (played < 0.5 * rate || played > static_cast<double>(pcm->frames()) - rate / 3.0) {
                prev = -1;
                continue;
            }
            ++checked;
            exact += std::equal(samples.begin() + static_cast<long>(k * 2),
                                samples.begin() + static_cast<long>((k + 256) * 2),
                                pcm->samples.begin() + (static_cast<int64_t>(k) + shift) * 2);
            const double offset = (r.frame - played) * 1000.0 / rate;
            sum += offset, sum2 += offset * offset, ++out.reads;
            out.worst_ms = std::max(out.worst_ms, std::fabs(offset));
            if (prev >= 0) {
                if (r.frame == prev) {
                    ++still;
                    if (!still_since) still_since = prev_ns;
                    out.longest_still_ms = std::max(out.longest_still_ms, (r.ns - still_since) * 1e-6);
                } else {
                    still_since = 0;
                }
                out.largest_jump_ms = std::max(out.largest_jump_ms, (r.frame - prev) * 1000.0 / rate);
            }
            prev = r.frame;
            prev_ns = r.ns;
        }
        out.bit_exact = checked > 0 && exact == checked;
        // The start: until the sink has played half a second of the sound, before it starts too.
        for (const Read& r : reads) {
            const double played_rec = rec.frame_at(r.ns);
            if (played_rec < 0 || first_shift == INT64_MIN) continue;
            const double played = played_rec + static_cast<double>(first_shift);
            if (played > 0.5 * rate) break;
            const double offset = (r.frame - std::max(played, 0.0)) * 1000.0 / rate;
            out.start_worst_ms = std::max(out.start_worst_ms, std::fabs(offset));
            out.start_ahead_ms = std::max(out.start_ahead_ms, offset);
            if (r.until < 0) continue;
            // Before the sound the recording holds the silence the sink played; its frames count on.
            if (played < 0) ++out.lead_reads;
            const double lead = (r.frame - r.until * rate - played) * 1000.0 / rate;
            out.lead_worst_ms = std::max(out.lead_worst_ms, std::fabs(lead));
        }
        if (out.reads < 10) {
            out.error = "too few frames while the sound played";
            return out;
        }
        out.mean_ms = sum / out.reads;
        out.sd_ms = std::sqrt(std::max(0.0, sum2 / out.reads - out.mean_ms * out.mean_ms));
        out.still_share = static_cast<double>(still) / out.reads;
    }
    return out;
}

// Against the monitor of a null sink (see MonitorRecorder), with or without the monitor's hold-back counted.
inline ClockFigures measure_clock(HSTREAM stream, const std::string& sink, double seconds, int rate = 44100,
                                  bool count_hold_back = false) {
    MonitorRecorder rec(sink, rate, seconds + 2);
    rec.count_hold_back(count_hold_back);
    return measure_clock_with(rec, stream, sink + ".monitor", seconds, rate);
}

// Against a pipe sink read by a paced reader (see PacedPipe).
inline ClockFigures measure_clock(HSTREAM stream, PacedPipe& pipe, double seconds, int rate = 44100,
                                  double settle = 1.0) {
    return measure_clock_with(pipe, stream, "the pipe sink", seconds, rate, settle);
}

}  // namespace pulse_test
