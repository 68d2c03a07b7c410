#pragma once
// The production: the constructor is the loading phase, which builds every production object in its fixed
// order; frame() is the frame sequence for one production time. The objects are members declared in
// construction order, so they are destroyed in reverse when the production ends or a load fails.
#include "music/music.h"
#include "platform/win32/win32.h"

class Production {
public:
    // The loading phase on the display's window.
    explicit Production(HWND window);
    Production(const Production&) = delete;
    Production& operator=(const Production&) = delete;

    // Starts the music; the entry calls it right before the first frame.
    void start();
    // The production time: the music's playback position in seconds.
    double time();
    // The frame sequence for production time t: per-frame updates, then BeginScene, the drawing, EndScene.
    void frame(float t);

private:
    Music music;
};
