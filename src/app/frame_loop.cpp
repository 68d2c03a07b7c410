#include "app/frame_loop.h"

#include <chrono>
#include <cstdio>
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

double LiveClock::frameTime(size_t) {
    readAt_ = now_();
    return delay_.frameTime(show_.time());
}

bool LiveClock::last(size_t, float t) const {
    return pastTheEnd(t);
}

void LiveClock::presented() {
    delay_.measured(now_() - readAt_);
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
