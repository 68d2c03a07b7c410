#include "app/frame_loop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "production/production.h"

size_t runFrames(Show& show, FrameClock& clock, PictureSink& sink, const LoopKeys& keys) {
    show.start();
    bool quit = false;
    size_t n = 0;
    for (; !quit; ++n) {
        const float t = static_cast<float>(clock.frameTime(n));
        show.frame(t);
        sink.take(n, t);
        presentFrame();
        clock.presented();

        // Drained completely, also after WM_QUIT.
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            if (msg.message == WM_QUIT) {
                quit = true;
            } else if (msg.message == WM_KEYDOWN) {
                if (keys.timeLines) {
                    std::printf("time %f\n", static_cast<double>(t));
                    std::fflush(stdout);
                }
                clock.key(static_cast<unsigned>(msg.wParam));
            }
        }
        // Polled, so Escape ends the run even without the focus.
        if (keys.escapeEnds && GetAsyncKeyState(VK_ESCAPE)) quit = true;
        if (clock.last(n, t)) quit = true;
        sink.shown(n, t, quit);
    }
    return n;
}

LiveClock::LiveClock(Show& show, double (*monotonicSeconds)()) : show_(show), now_(monotonicSeconds) {
    const char* path = std::getenv("QV_FRAME_LOG");
    if (!path || !*path) return;
    log_ = std::fopen(path, "w");
    if (!log_) {
        std::fprintf(stderr, "quorvane: cannot write the frame log %s\n", path);
        return;
    }
    setvbuf(log_, nullptr, _IOLBF, 256);  // whole lines, also when the run is cut short
}

LiveClock::~LiveClock() {
    if (log_) std::fclose(log_);
}

double LiveClock::frameTime(size_t frame) {
    readAt_ = now_();
    heard_ = show_.time();
    time_ = delay_.frameTime(heard_, show_.untilHeard());
    frame_ = frame;
    return time_;
}

bool LiveClock::last(size_t, float t) const {
    return pastTheEnd(t);
}

void LiveClock::presented() {
    const double at = now_();
    // The first frame after loading pays for every first use (shaders, textures): not a delay to predict.
    if (frame_ > 0) delay_.measured(at - readAt_);
    if (log_)
        std::fprintf(log_, "frame %zu heard %.6f time %.6f read %.9f presented %.9f\n", frame_, heard_, time_,
                     readAt_, at);
}

double FrameRate::time(uint64_t n) const {
    return runFrameTime(n, num, den);
}

uint64_t FrameRate::sample(uint64_t n, int rate) const {
    // n * den stays far below 2^53; the remainder's part is taken apart so that nothing overflows.
    const uint64_t q = n * uint64_t(den), whole = q / uint64_t(num), part = q % uint64_t(num);
    return whole * uint64_t(rate) + (2 * part * uint64_t(rate) + uint64_t(num)) / (2 * uint64_t(num));
}

FrameRange framesIn(FrameRate rate, const TimeSpan& span) {
    FrameRange range;
    const size_t run = runFrameCount(rate.num, rate.den);
    if (span.to < span.from || span.from > rate.time(run - 1)) {
        range.first = run;
        return range;
    }
    // Near the answer by the rate, then to it by the frames' own times.
    size_t first = size_t(std::max(0.0, std::floor(span.from * rate.num / rate.den)));
    while (first > 0 && rate.time(first - 1) >= span.from) --first;
    while (rate.time(first) < span.from) ++first;
    size_t end = first;
    if (span.to >= rate.time(run - 1)) {
        end = run;
    } else {
        end = std::max(first, size_t(std::floor(span.to * rate.num / rate.den)));
        while (end > first && rate.time(end - 1) > span.to) --end;
        while (rate.time(end) <= span.to) ++end;
    }
    range.first = first;
    range.count = end - first;
    return range;
}

RenderClock::RenderClock(CaptureSoundtrack& soundtrack, FrameRate rate, const std::vector<double>& times,
                         const TimeSpan& span, int subFrames)
    : soundtrack_(soundtrack), rate_(rate), times_(times), subFrames_(subFrames) {
    if (times_.empty())
        range_ = framesIn(rate_, span);
    else
        range_.count = times_.size();
}

double RenderClock::time(size_t step) const {
    return times_.empty() ? rate_.time(frameNumber(step)) : times_[frameIndex(step)];
}

double RenderClock::frameTime(size_t step) {
    double t = time(step);
    if (subFrames_ > 1) {
        // Sub-frame i at i / (2 * subFrames) of a frame interval after the frame's time; a frame of the
        // rate is a whole number of sub-frame intervals, so its sub-frames are timed as frames of a run at
        // 2 * subFrames times the rate.
        const int64_t perFrame = 2 * int64_t(subFrames_);
        const uint64_t i = step % size_t(subFrames_);
        t = times_.empty()
                ? runFrameTime(uint64_t(perFrame) * frameNumber(step) + i, perFrame * rate_.num, rate_.den)
                : t + runFrameTime(i, perFrame * rate_.num, rate_.den);
    }
    soundtrack_.setTime(t);
    return t;
}

bool RenderClock::last(size_t step, float) const {
    return lastSubFrame(step) && frameIndex(step) + 1 >= range_.count;
}

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
