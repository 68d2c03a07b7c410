#include "app/presentation_delay.h"

#include <algorithm>
#include <cmath>

double PresentationDelay::frameTime(double heard, double untilHeard) {
    double t = heard;
    if (untilHeard >= 0.0)
        t += std::max(0.0, delay_ - untilHeard);
    else if (heard > 0.0)
        t += delay_;
    if (std::isnan(t)) {
        t = any_ ? last_ : 0.0;  // a clock that cannot tell keeps the time where it was
    } else if (any_ && t < last_) {
        // The prediction fell by more than the sound went on (frames got faster): never backwards, and not
        // standing still either; the picture goes on slowly until the prediction catches up.
        t = last_ + std::max(0.0, heard - lastHeard_) * kCatchUpSpeed;
    }
    if (!std::isnan(heard)) lastHeard_ = heard;
    any_ = true;
    last_ = t;
    return t;
}

void PresentationDelay::measured(double seconds) {
    if (!std::isfinite(seconds)) return;
    window_[count_ % kWindow] = std::clamp(seconds, 0.0, kMaxSeconds);
    ++count_;
    const size_t n = std::min(count_, kWindow);
    double sorted[kWindow];
    std::copy(window_, window_ + n, sorted);
    // The lower middle when the count is even: of two, the shorter (a slow frame is the likelier outlier).
    std::nth_element(sorted, sorted + (n - 1) / 2, sorted + n);
    delay_ = sorted[(n - 1) / 2];
}
