#include "app/frame_loop.h"

#include <chrono>
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
            } else if (msg.message == WM_KEYDOWN && keys.timeLines) {
                std::printf("time %f\n", static_cast<double>(t));
                std::fflush(stdout);
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
    time_ = delay_.frameTime(heard_);
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

double RenderClock::frameTime(size_t frame) {
    const double t = times_.empty() ? double(frame) / fps_ : times_[frame];
    soundtrack_.setTime(t);
    return t;
}

bool RenderClock::last(size_t frame, float t) const {
    return times_.empty() ? pastTheEnd(t) : frame + 1 >= times_.size();
}

size_t RenderClock::frames() const {
    return times_.empty() ? runFrameCount(fps_) : times_.size();
}

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
