#pragma once
// The production's clock and spectrum source. Played live it is the music stream: its playing position is
// the time and the spectrum is that of the sound being heard. Rendered to files it is the decoded music
// at the time of the frame being rendered, with no sound device at all.
#include <chrono>
#include <memory>
#include <string>

#include "music/music.h"
#include "platform/audio/pcm.h"
#include "platform/win32/win32.h"
#include "resources/diagnostics.h"

class Soundtrack {
public:
    virtual ~Soundtrack() = default;
    // Starts the sound; right before the first frame.
    virtual void play() = 0;
    // The production time in seconds.
    virtual double time() = 0;
    // Seconds until the sound of the last time() read is first heard: after the start (or a seek) the output
    // still plays what it had before while the time stands there. 0 while it is heard; negative when not
    // known.
    virtual double untilHeard() { return -1.0; }
    // Fetches the 256-bin spectrum of this moment into spectrum().
    virtual void updateSpectrum() = 0;
    virtual const float* spectrum() const = 0;
    // The studio's transport on the sound: held where it is heard, played on from `seconds`, the named
    // file read again (throws the music's "Failed to load " texts, the old sound staying). Nothing where
    // there is no sound device.
    virtual void hold() {}
    virtual void playFrom(double /*seconds*/) {}
    virtual void reload(const std::string& /*name*/) {}
};

// Reads and decodes the named music file on a thread of its own from construction on, so that loading it
// later (live or for capture) finds it read and decoded; dropped, if never used, when this ends. Failures
// are left for the later load to report as it always does.
class MusicAhead {
public:
    explicit MusicAhead(const std::string& name);
    ~MusicAhead();
    MusicAhead(const MusicAhead&) = delete;
    MusicAhead& operator=(const MusicAhead&) = delete;

private:
    std::string name_;
};

// The music stream on the first sound device.
class LiveSoundtrack : public Soundtrack {
public:
    // Opens the sound output on the window ("could not init bass") and loads the named file at offset 0
    // (the music's "Failed to load " texts).
    LiveSoundtrack(HWND window, const std::string& name);
    void play() override { music_.play(); }
    // The music's playing position; once the stream has played out (its position stands at the end of
    // the sound), the time goes on at real time from there, so music shorter than the production still
    // lets it reach its end, as a capture does.
    double time() override;
    double untilHeard() override { return playedOut_ ? 0.0 : music_.untilHeard(); }
    void updateSpectrum() override { music_.updateSpectrum(); }
    const float* spectrum() const override { return music_.spectrum; }
    void hold() override { music_.hold(); }
    void playFrom(double seconds) override;
    void reload(const std::string& name) override { music_.reload(name); }

private:
    Music music_;
    bool playedOut_ = false;
    double endTime_ = 0.0;                               // the music's time at its end
    std::chrono::steady_clock::time_point playedOutAt_;  // when the position was first seen there
};

// The decoded music on a clock that the renderer sets frame by frame.
class CaptureSoundtrack : public Soundtrack {
public:
    // Reads and decodes the named file; throws "Failed to load " + name + "\n" + the reason, with the
    // music's texts ("file not found", the decoder's error texts). Music shorter than the show is a
    // warning to `out`.
    explicit CaptureSoundtrack(const std::string& name, Diagnostics& out = loadWarnings());
    void play() override {}
    double time() override { return now_; }
    // The spectrum at the current time, as the live stream would hand it out at that playing position.
    void updateSpectrum() override;
    const float* spectrum() const override { return spectrum_; }

    void setTime(double seconds) { now_ = seconds; }
    const AudioPcm& pcm() const { return pcm_; }

private:
    AudioPcm pcm_;
    double now_ = 0.0;
    float spectrum_[AUDIO_SPECTRUM_BINS] = {};
};
