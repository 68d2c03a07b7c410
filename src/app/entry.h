#pragma once
// The program entry: opens the display, sets up the device, runs the loading phase, plays the production
// frame by frame until it ends or the user quits, tears everything down in reverse, and is the one place
// where a thrown text reaches the user.
#include <functional>
#include <memory>

#include "app/display.h"

// The production as the entry drives it.
class Show {
public:
    virtual ~Show() = default;
    virtual void start() = 0;         // starts the music, right before the first frame
    virtual double time() = 0;        // the production time: the music's playback position in seconds
    virtual void frame(float t) = 0;  // per-frame updates, then BeginScene, the frame's drawing, EndScene
};

// Runs the loading phase on the open display and returns the production it built.
using ShowLoader = std::function<std::unique_ptr<Show>(const Display& display)>;

struct EntryOptions {
    // Where the Direct3D object comes from; tests give a stand-in.
    IDirect3D9* (*direct3DCreate)(UINT sdkVersion) = Direct3DCreate9;
};

// Returns 0 after a normal end, 1 after a thrown text was shown in a message box.
int qv_main(const ShowLoader& load, const EntryOptions& options = EntryOptions());

// The production's own loading phase.
std::unique_ptr<Show> loadProduction(const Display& display);

// The production itself: qv_main(loadProduction).
int qv_main();
