#pragma once
// The one frame loop of every way the production runs: played live, rendered to files, and the studio. They
// differ only in where a frame's time comes from (FrameClock) and where its picture goes (PictureSink); the
// loop draws the frame, hands the back buffer to the sink, presents it, drains the message queue and applies
// the end rules.
//
// Start reading here: runFrames() below, then the clocks (LiveClock, RenderClock) and the sinks in
// entry.cpp (the window) and capture.cpp (files and the video pipe).
#include <cstddef>
#include <vector>

#include "app/entry.h"
#include "app/presentation_delay.h"
#include "production/soundtrack.h"

// Where a frame's time comes from. A clock may hold a position of its own that can be paused or moved
// (the studio's); the loop only asks it frame by frame.
class FrameClock {
public:
    virtual ~FrameClock() = default;
    // The time of frame `frame` (0 for the first of the run), in seconds; asked once, right before the frame
    // is drawn.
    virtual double frameTime(size_t frame) = 0;
    // Whether frame `frame`, drawn at `t`, is the last of the run.
    virtual bool last(size_t frame, float t) const = 0;
    // Present has returned for the frame whose time was asked last.
    virtual void presented() {}
    // A key went down (its virtual-key code); a clock with a transport of its own (the studio's) moves.
    virtual void key(unsigned /*virtualKey*/) {}
};

// Where the pictures go besides the window every frame is presented to.
class PictureSink {
public:
    virtual ~PictureSink() = default;
    // The back buffer holds frame `frame`, drawn at `t`, before it is presented.
    virtual void take(size_t /*frame*/, float /*t*/) {}
    // The frame is presented and the message queue drained; `last` when the run ends with it.
    virtual void shown(size_t /*frame*/, float /*t*/, bool /*last*/) {}
};

// What the person in front of the window can do besides closing it.
struct LoopKeys {
    bool timeLines = false;   // every key press prints "time %f" with the frame's time on standard output
    bool escapeEnds = false;  // Escape, polled each frame, ends the run (seen even without the focus)
};

// The live viewer's keys.
constexpr LoopKeys kViewerKeys{true, true};

// Starts the show, then draws frames until the clock's last, a WM_QUIT or (with the keys) Escape. Each
// frame: its time from the clock, the show's frame, the sink takes the back buffer, Present (a lost device
// throws "Lost device."; no frame is drawn after it), the clock hears of the presentation, the message
// queue is drained completely (also after WM_QUIT), the end rules. The frame that ends the run has been
// presented. Returns the number of frames drawn.
size_t runFrames(Show& show, FrameClock& clock, PictureSink& sink, const LoopKeys& keys);

// Live play: the time is the music's playing position plus the predicted presentation delay (the sound
// heard when the frame shows); the run ends after the first frame past the production's length.
class LiveClock : public FrameClock {
public:
    // `monotonicSeconds` times a frame from reading the music to the return of Present.
    LiveClock(Show& show, double (*monotonicSeconds)()) : show_(show), now_(monotonicSeconds) {}
    double frameTime(size_t frame) override;
    bool last(size_t frame, float t) const override;
    void presented() override;
    const PresentationDelay& delay() const { return delay_; }

private:
    Show& show_;
    double (*now_)();
    PresentationDelay delay_;
    double readAt_ = 0.0;
};

// Rendering: frame n at n / fps, or the n-th of a list of times (ascending); the decoded music follows the
// clock, so the spectrum of each frame is the one at its time. The run ends after the first frame past the
// production's length, or with the last time of the list.
class RenderClock : public FrameClock {
public:
    RenderClock(CaptureSoundtrack& soundtrack, int fps, const std::vector<double>& times)
        : soundtrack_(soundtrack), fps_(fps), times_(times) {}
    double frameTime(size_t frame) override;
    bool last(size_t frame, float t) const override;
    // The frames of the whole run.
    size_t frames() const;

private:
    CaptureSoundtrack& soundtrack_;
    int fps_;
    std::vector<double> times_;
};
