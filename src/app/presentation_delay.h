#pragma once
// A live frame's time is the sound that will be heard when the frame is presented: the position read from
// the music plus the time the frame takes from that read until Present returns, predicted from the last
// frames. A frame is presented one rendering later than its clock was read; without the prediction every
// picture would show sound already heard that long ago.
#include <cstddef>

class PresentationDelay {
public:
    // The longest delay predicted; a longer measurement (a stall, a debugger) counts as this long.
    static constexpr double kMaxSeconds = 0.25;
    // How fast the picture goes on, against the sound, while a fallen prediction catches up with it.
    static constexpr double kCatchUpSpeed = 0.25;

    // The time to show for a frame whose clock read `heard` seconds: `heard` plus the predicted delay, never
    // before the time of the frame before; where that would go back, the time goes on at kCatchUpSpeed of the
    // sound's pace instead of standing still, until the prediction is ahead again.
    // `untilHeard` is how long until the sound of `heard` is first heard (the output still playing what it
    // had before the start): the frame shows `heard` plus what of the delay is left after it, and `heard`
    // itself while that sound will not yet be heard when the frame is presented. Where that is not known
    // (negative) and the sound has not begun (`heard` at or below 0) the frame shows `heard`; the first
    // frames show `heard` as long as no delay has been measured: a frame is never ahead of the sound at the
    // start.
    double frameTime(double heard, double untilHeard = -1.0);

    // The time from reading the clock to the return of Present for the frame just presented.
    void measured(double seconds);

    // The delay predicted now: the median of the last measurements (robust against a single slow frame; of
    // an even count the lower middle one), within 0 to kMaxSeconds; 0 before any.
    double delay() const { return delay_; }

private:
    static constexpr size_t kWindow = 9;  // measurements the median is taken over
    double window_[kWindow] = {};
    size_t count_ = 0;  // measurements so far (the window holds the last kWindow)
    double delay_ = 0.0;
    double last_ = 0.0;       // the time of the frame before
    double lastHeard_ = 0.0;  // the position it was given
    bool any_ = false;        // a frame time was given out
};
