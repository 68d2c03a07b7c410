#include "studio/studio_clock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/win32/win32.h"

namespace {
// A cut this close to the time counts as the time itself: Page Up right after a cut goes to the one before.
constexpr double kAtCut = 0.001;
}  // namespace

StudioClock::StudioClock(PlayingClock playing, Transport& transport, double length)
    : makePlaying_(std::move(playing)),
      playing_(makePlaying_()),
      transport_(transport),
      length_(length),
      loopEnd_(length) {}

double StudioClock::frameTime(size_t frame) {
    if (paused_ || moved_) {
        moved_ = false;
        return shown_;
    }
    double t = playing_->frameTime(frame);
    if (looping_ && t >= loopEnd_) {
        seek(loopStart_);
        moved_ = false;
        return shown_;
    }
    if (t > length_) {
        // Held at the end rather than ended: the maker looks at the last frame until a key moves on.
        shown_ = length_;
        paused_ = true;
        transport_.hold();
        return shown_;
    }
    shown_ = t;
    return t;
}

void StudioClock::presented() {
    if (playing_) playing_->presented();
}

void StudioClock::togglePause() {
    if (paused_) {
        paused_ = false;
        seek(shown_ >= length_ ? 0.0 : shown_);  // at the end, Space plays again from the start
    } else {
        paused_ = true;
        transport_.hold();
    }
}

void StudioClock::seek(double seconds) {
    shown_ = std::clamp(seconds, 0.0, length_);
    moved_ = true;
    if (!paused_) {
        transport_.playFrom(shown_);
        playing_ = makePlaying_();
    }
}

std::vector<double> StudioClock::cuts() const {
    std::vector<double> within;
    for (float c : transport_.cuts())
        if (c >= 0.0f && double(c) <= length_) within.push_back(double(c));
    return within;
}

void StudioClock::previousCut() {
    double target = 0.0;
    for (double c : cuts())
        if (c < shown_ - kAtCut) target = std::max(target, c);
    seek(target);
}

void StudioClock::nextCut() {
    for (double c : cuts())
        if (c > shown_ + kAtCut) {
            seek(c);
            return;
        }
}

double StudioClock::snap(double seconds) const {
    std::vector<double> points = cuts();
    points.push_back(0.0);
    points.push_back(length_);
    double best = 0.0;
    for (double p : points)
        if (std::fabs(p - seconds) < std::fabs(best - seconds)) best = p;
    return best;
}

void StudioClock::setLoopStart() {
    loopStart_ = snap(shown_);
}

void StudioClock::setLoopEnd() {
    loopEnd_ = snap(shown_);
}

bool StudioClock::toggleLoop() {
    if (looping_) {
        looping_ = false;
        return true;
    }
    if (loopEnd_ <= loopStart_) return false;
    looping_ = true;
    return true;
}

bool StudioClock::transportKey(unsigned virtualKey) {
    switch (virtualKey) {
        case VK_SPACE:
            togglePause();
            return true;
        case VK_LEFT:
            seek(shown_ - 1.0);
            return true;
        case VK_RIGHT:
            seek(shown_ + 1.0);
            return true;
        case VK_PRIOR:
            previousCut();
            return true;
        case VK_NEXT:
            nextCut();
            return true;
        case VK_HOME:
            seek(0.0);
            return true;
        case VK_OEM_4:
            setLoopStart();
            return true;
        case VK_OEM_6:
            setLoopEnd();
            return true;
        case 'L':
            if (!toggleLoop())
                std::printf("loop: its end (%.3f) must come after its start (%.3f)\n", loopEnd_, loopStart_);
            return true;
        default:
            return false;
    }
}
