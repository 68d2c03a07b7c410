#pragma once
// The production: the constructor is the loading phase, which builds every production object in its fixed
// order; frame() is the frame sequence for one production time. The objects are members declared in
// construction order, so they are destroyed in reverse when the production ends or a load fails. The
// scene and the video belong to the caches, which outlive the production.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fx/blur_pass.h"
#include "fx/grid.h"
#include "fx/render_scale.h"
#include "fx/render_texture.h"
#include "fx/screen_quad.h"
#include "fx/video_texture.h"
#include "platform/win32/win32.h"
#include "production/soundtrack.h"
#include "production/timeline.h"
#include "resources/texture_cache.h"
#include "scene/scene.h"
#include "scene/scene_cache.h"
#include "scene/track.h"

class Material;

// Presents the back buffer; throws "Lost device." when the device is lost (the device is never reset).
void presentFrame();

// What differs between playing live and rendering to files: where the clock and spectrum come from, and
// what presenting the loading picture does.
class Stage {
public:
    virtual ~Stage() = default;
    // The production's soundtrack, loaded from the named file.
    virtual std::unique_ptr<Soundtrack> openSoundtrack(HWND window, const std::string& name) = 0;
    // Presents the back buffer; throws "Lost device." when the device is lost.
    virtual void present() = 0;
};

// Playing live: the music on the sound device, pictures presented to the window.
class LiveStage : public Stage {
public:
    std::unique_ptr<Soundtrack> openSoundtrack(HWND window, const std::string& name) override;
    void present() override;
};

// Rendering: the decoded music on a clock the renderer sets (no sound device), the loading picture presented.
class RenderStage : public Stage {
public:
    std::unique_ptr<Soundtrack> openSoundtrack(HWND window, const std::string& name) override;
    void present() override;
    // The production's soundtrack once the loading phase has opened it.
    CaptureSoundtrack* soundtrack() const { return soundtrack_; }

private:
    CaptureSoundtrack* soundtrack_ = nullptr;  // the production's
};

// The production's length in seconds: a frame at exactly this time is still drawn, the first one past it is
// the last of the run (it fades to black from 31 s).
constexpr float kRunLength = 32.0f;
inline bool pastTheEnd(float t) {
    return t > kRunLength;
}
// The time of frame n of a run at num / den frames a second: n * den / num seconds, exact in whole numbers
// and rounded once, so that no error adds up over a run.
inline double runFrameTime(uint64_t n, int64_t num, int64_t den = 1) {
    return double(n * uint64_t(den)) / double(num);
}
// How many frames a run at num / den frames a second draws, the first one past the end included.
size_t runFrameCount(int num, int den = 1);

// Throws what the loading phase would when the data set is not in the working directory (neither the
// archive nor data/ holds the loading picture), without opening a display.
void checkDataSet();

// The soundtrack's file. The loading phase may read and decode it ahead (MusicAhead) from the start,
// while the display opens and the rest loads.
extern const char* const kProductionMusic;

class Production {
public:
    // The loading phase on the display's window with the entry's caches; `stage` outlives the production.
    Production(HWND window, SceneCache& scenes, TextureCache& textures, Stage& stage);
    Production(const Production&) = delete;
    Production& operator=(const Production&) = delete;

    // Starts the music; the entry calls it right before the first frame.
    void start();
    // The production time: the music's playback position in seconds.
    double time();
    // Seconds until the sound of the last time() read is first heard (see Soundtrack::untilHeard).
    double untilHeard() { return music->untilHeard(); }
    // The frame sequence for production time t: per-frame updates, then BeginScene, the drawing, EndScene.
    // What it draws depends on t and the timeline alone, never on the frames drawn before.
    void frame(float t);

    // For the renderer's frame log and tests: the camera as the last frame set it, and whether the scene
    // has the object whose material pulses.
    const Camera& sceneCamera() const { return camera; }
    bool pulses() const { return pulseMaterial != nullptr; }
    // The timings the frames follow: the data set's timeline.txt, or the built-in ones without it.
    const Timeline& timeline() const { return timeline_; }
    // The frames from the next one on follow these timings.
    void setTimeline(const Timeline& timeline);
    // The cuts passed at the last frame's time (the parity picks the camera's orbit).
    unsigned beatIndex() const { return beatIndex_; }

    // The studio's reloads and transport. A scene reloaded in place gets the production's camera, light and
    // fog again; after a scene or mesh reload the pulsing material is looked up again.
    void sceneReloaded();
    void meshesReloaded();
    // The clip read again and shown wherever the old one was (its three picture names, the materials that
    // name them, the flash); throws "Failed to load test.vpg" and the reason, the old clip staying.
    void reloadClip(TextureCache& textures);
    Soundtrack& soundtrack() { return *music; }

    // The frame's passes, in the order frame() runs them between BeginScene and EndScene; public so that
    // the benchmark times each on the production's own objects.
    void drawSceneIntoTarget();                       // the scene into the 256 by 128 target (at scale 1)
    void blurChain();                                 // the six blur passes over it
    void drawScene();                                 // the scene into the back buffer
    void addGlow(float radius, float amount);         // the blurred scene added through a bulge
    void addWarpedScene(float radius, float amount);  // the unblurred scene added through bulge and twirl
    void flash(float alpha);                          // the video added over the picture
    void black(float alpha);                          // black over the picture (beat blackouts, final fade)
    // Every lower level of the scene target and of the last blur pass regenerated (the grids regenerate them
    // as far as they sample them); for the benchmark only.
    void regenerateTargetLevels();

    // The size the frames are rendered at (the back buffer's).
    const RenderScale& renderScale() const { return scale; }

private:
    RenderScale scale;
    ScreenQuad loadingQuad;
    VideoTexture* video;  // the texture cache owns it once registered
    Timeline timeline_;   // read last of all
    Track pulseTrack;     // built from the timeline's pulse keys
    std::unique_ptr<Soundtrack> music;
    ScreenQuad flashQuad;
    ScreenQuad blackQuad;
    ScreenQuad textQuad;  // never drawn; its picture must load all the same
    Light sceneLight;
    RenderTexture sceneTarget;
    BlurPass blur1, blur2, blur3, blur4, blur5, blur6;
    SceneNode cameraTarget;
    Camera camera;
    Scene* scene;  // the scene cache's
    Grid grid;

    // The first material of scene object 27's mesh; none when the scene has no such object, mesh or group.
    Material* pulseMaterial = nullptr;
    unsigned beatIndex_ = 0;
};
