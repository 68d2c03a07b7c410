#pragma once
// The program entry: opens the display, sets up the device and the caches, runs the loading phase, plays
// the production frame by frame until it ends or the user quits, tears everything down in reverse, and is
// the one place where a thrown text reaches the user.
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "app/display.h"
#include "production/production.h"
#include "resources/texture_cache.h"
#include "scene/scene_cache.h"

// The steady clock in seconds.
double steadySeconds();

// The production as the entry drives it.
class Show {
public:
    virtual ~Show() = default;
    virtual void start() = 0;   // starts the music, right before the first frame
    virtual double time() = 0;  // the production time: the music's playback position in seconds
    // Seconds until the sound of the last time() read is first heard: at the start the output still plays
    // the silence it had before, while the time stands at 0. 0 while it is heard; negative when not known.
    virtual double untilHeard() { return -1.0; }
    virtual void frame(float t) = 0;  // per-frame updates, then BeginScene, the frame's drawing, EndScene
};

// What the loading phase is given: the open display and the entry's two caches.
struct Stagehand {
    const Display& display;
    SceneCache& scenes;
    TextureCache& textures;
};

// Runs the loading phase and returns the production it built.
using ShowLoader = std::function<std::unique_ptr<Show>(const Stagehand& stage)>;

// The production's own loading phase and frame sequence on a stage (live or rendering) that it owns.
class ProductionShow : public Show {
public:
    ProductionShow(const Stagehand& stagehand, std::unique_ptr<Stage> stage)
        : stage_(std::move(stage)),
          production_(stagehand.display.window, stagehand.scenes, stagehand.textures, *stage_) {}
    void start() override { production_.start(); }
    double time() override { return production_.time(); }
    double untilHeard() override { return production_.untilHeard(); }
    void frame(float t) override { production_.frame(t); }
    Production& production() { return production_; }

private:
    std::unique_ptr<Stage> stage_;  // outlives the production
    Production production_;
};

struct EntryOptions {
    // Where the Direct3D object comes from; tests give a stand-in.
    IDirect3D9* (*direct3DCreate)(UINT sdkVersion) = Direct3DCreate9;
    // Full screen as always, or a window.
    bool fullScreen = true;
    // The live picture's size: 0 renders full screen at the display's resolution and a window at 640 by
    // 480; K renders K times 640 by 480 (a window of that size; full screen scales it to the display).
    double scale = 0;
    // The monotonic clock, in seconds, that times a live frame from reading the music to the return of
    // Present (the delay its time is ahead of the position read); tests give one that stands still.
    double (*monotonicSeconds)() = steadySeconds;
};

// Returns 0 after a normal end, 1 after a thrown text was shown in a message box.
int qv_main(const ShowLoader& load, const EntryOptions& options = EntryOptions());

// The production's own loading phase.
std::unique_ptr<Show> loadProduction(const Stagehand& stage);

// The production itself: qv_main(loadProduction).
int qv_main();

// The program's command line. No arguments: the production full screen at the display's resolution.
// "--windowed": in a 640 by 480 window. "--scale K": rendered at K times 640 by 480. "--capture DIR" with its
// options (parseCommandLine): rendered to files (app/capture.h). "--studio [DIR]" runs `studio` on the
// folder, when the program has one. Any other argument is ignored with a one-line notice on standard error.
using StudioEntry = int (*)(const std::string& folder, const EntryOptions& options);
int qv_main(int argc, char** argv, StudioEntry studio = nullptr);
