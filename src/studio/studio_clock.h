#pragma once
// The studio's clock: the music's playing position while it plays, a time of its own while paused, moved
// by the transport keys (pause, seeks by a second and from cut to cut, the start, a loop between two cuts).
// The sound follows every move: held while paused, played on from the new time after a seek.
#include <functional>
#include <memory>
#include <vector>

#include "app/frame_loop.h"

// What the transport moves and reads: the sound, and the cut times of the production as it is now (a
// reload may change them, so they are asked for each time).
class Transport {
public:
    virtual ~Transport() = default;
    virtual void hold() = 0;                    // the sound stops where it is
    virtual void playFrom(double seconds) = 0;  // the sound plays on from there
    virtual std::vector<float> cuts() = 0;      // ascending, in seconds
};

class StudioClock : public FrameClock {
public:
    // A new clock of the playing music, made afresh after every move (a playing clock's times never go
    // back); `length` is the production's.
    using PlayingClock = std::function<std::unique_ptr<FrameClock>()>;
    StudioClock(PlayingClock playing, Transport& transport, double length);

    double frameTime(size_t frame) override;
    bool last(size_t, float) const override { return false; }  // the studio ends with Escape or the window
    void presented() override;
    // The transport keys: Space, Left, Right, Page Up, Page Down, Home, [, ] and L. True for one of them.
    bool transportKey(unsigned virtualKey);
    void key(unsigned virtualKey) override { transportKey(virtualKey); }

    void togglePause();
    void seek(double seconds);  // clamped to the production's length
    void previousCut();         // the last cut before the time, or the start
    void nextCut();             // the first cut after the time; none: the time stays
    void setLoopStart();        // at the cut nearest the time (the start and the end count as cuts)
    void setLoopEnd();
    // Turns the loop on (when its end comes after its start) or off; false when it cannot turn on.
    bool toggleLoop();

    double time() const { return shown_; }  // the time of the last frame given out, or where a move went
    bool paused() const { return paused_; }
    bool looping() const { return looping_; }
    double loopStart() const { return loopStart_; }
    double loopEnd() const { return loopEnd_; }
    double length() const { return length_; }
    // The cuts within the production's length, and the one nearest `seconds` among them and its two ends.
    std::vector<double> cuts() const;
    double snap(double seconds) const;

private:
    PlayingClock makePlaying_;
    std::unique_ptr<FrameClock> playing_;
    Transport& transport_;
    double length_;
    double shown_ = 0.0;
    bool moved_ = false;  // a move since the last frame: the next frame shows shown_ itself
    bool paused_ = false;
    bool looping_ = false;
    double loopStart_ = 0.0;
    double loopEnd_;
};
