#pragma once
// The one frame loop of every way the production runs: played live, rendered to files, and the studio. They
// differ only in where a frame's time comes from (FrameClock) and where its picture goes (PictureSink); the
// loop draws the frame, hands the back buffer to the sink, presents it, drains the message queue and applies
// the end rules.
//
// Start reading here: runFrames() below, then the clocks (LiveClock, RenderClock) and the sinks in
// entry.cpp (the window) and capture.cpp (files and the video pipe).
#include <cstddef>
#include <cstdint>
#include <cstdio>
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
//
// With QV_FRAME_LOG naming a file, every frame adds a line to it, so that picture and sound can be compared
// against a recording of the output:
//   frame N heard H time T read R presented P
// H is the position read from the music (seconds of sound, no prediction added), T the frame's time, R the
// instant the position was read and P the instant Present returned, both in seconds of the monotonic clock
// (CLOCK_MONOTONIC). A file that cannot be created is reported once on standard error; the run goes on.
class LiveClock : public FrameClock {
public:
    // `monotonicSeconds` times a frame from reading the music to the return of Present.
    LiveClock(Show& show, double (*monotonicSeconds)());
    ~LiveClock() override;
    LiveClock(const LiveClock&) = delete;
    LiveClock& operator=(const LiveClock&) = delete;
    double frameTime(size_t frame) override;
    bool last(size_t frame, float t) const override;
    void presented() override;
    const PresentationDelay& delay() const { return delay_; }

private:
    Show& show_;
    double (*now_)();
    PresentationDelay delay_;
    double readAt_ = 0.0;
    double heard_ = 0.0;  // the position read for the frame being drawn
    double time_ = 0.0;   // that frame's time
    size_t frame_ = 0;
    std::FILE* log_ = nullptr;  // QV_FRAME_LOG
};

// A frame rate as a fraction: `num` frames in `den` seconds (60000/1001 for 59.94); a whole number of
// frames a second converts to it.
struct FrameRate {
    FrameRate(int framesPerSecond = 60, int seconds = 1) : num(framesPerSecond), den(seconds) {}
    int num, den;

    // The time of frame n, n * den / num seconds (rounded once: no error adds up over a run).
    double time(uint64_t n) const;
    // The first sample of frame n in sound at `rate` samples a second: n * den / num * rate, rounded to
    // the nearest (halves up), in whole numbers.
    uint64_t sample(uint64_t n, int rate) const;
    bool operator==(const FrameRate& other) const { return num == other.num && den == other.den; }
};

// A span of the run in seconds, ends included; the whole run by default.
struct TimeSpan {
    double from = 0.0;
    double to = 1e300;
    bool whole() const { return from == 0.0 && to == 1e300; }
};

// The frames of a run at `rate` whose times fall in `span`: the first one's number and how many (none,
// with a first past the run, when the span holds no frame of the run).
struct FrameRange {
    size_t first = 0;
    size_t count = 0;
};
FrameRange framesIn(FrameRate rate, const TimeSpan& span);

// Rendering: frame n at n / fps, or the n-th of a list of times (ascending); the decoded music follows the
// clock, so the spectrum of each frame is the one at its time. The run ends after the first frame past the
// production's length, or with the last time of the list. With a span (and no list) only the frames of the
// whole run whose times fall in it are drawn, keeping their numbers in the whole run.
//
// With sub-frames, every frame is drawn `subFrames` times, the loop's step i of frame n at the frame's
// time plus i / subFrames of half a frame interval (a shutter open for half of each frame), so that a
// sink can average them; the loop counts steps, the methods below turn a step into its frame.
class RenderClock : public FrameClock {
public:
    RenderClock(CaptureSoundtrack& soundtrack, FrameRate rate, const std::vector<double>& times,
                const TimeSpan& span = TimeSpan(), int subFrames = 1);
    double frameTime(size_t step) override;
    bool last(size_t step, float t) const override;
    // The frames to draw (not counting sub-frames).
    size_t frames() const { return range_.count; }
    // The frame of a step, counted from 0 for the first one drawn, and its number in the whole run (for a
    // list of times, its place in the list).
    size_t frameIndex(size_t step) const { return step / size_t(subFrames_); }
    size_t frameNumber(size_t step) const { return range_.first + frameIndex(step); }
    // The frame's own time (its first sub-frame's), and whether the step is the frame's first or last.
    double time(size_t step) const;
    bool firstSubFrame(size_t step) const { return step % size_t(subFrames_) == 0; }
    bool lastSubFrame(size_t step) const { return step % size_t(subFrames_) == size_t(subFrames_ - 1); }

private:
    CaptureSoundtrack& soundtrack_;
    FrameRate rate_;
    std::vector<double> times_;
    FrameRange range_;
    int subFrames_;
};
