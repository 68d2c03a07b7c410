#include "production/production.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <iterator>

#include "data/memfile.h"
#include "mesh/mesh.h"
#include "production/data_set.h"
#include "resources/device.h"
#include "resources/material.h"
#include "resources/material_cache.h"

namespace {

const char* const kVideoNames[] = {"bg.jpg", "cubetex.png", "white.png"};
const char* const kLoadingPicture = "load.png";

// An opacity for a quad, which clamps it to [0, 1] anyway: clamped before it becomes a float, since the
// timeline's extremes (a huge blackout factor, a tiny fade length) give values no float holds.
float opacity(double alpha) {
    return float(std::min(1.0, std::max(0.0, alpha)));
}

Track pulseTrackOf(const Timeline& timeline) {
    Track track;
    for (const PulseKey& key : timeline.pulse) track.addKey(TrackKey{key.time, key.value, 0, 0, 0, 0, 0});
    track.computeTangents();
    return track;
}

// The data set's timeline file when it has one (a bad one fails the load as any other file), else the
// production's own.
Timeline loadTimeline() {
    try {
        if (std::optional<Timeline> own = readTimelineFile(kTimelineFile)) return *own;
    } catch (const std::string& reason) {
        throw std::string("Failed to load ") + kTimelineFile + "\n" + reason;
    }
    return builtInTimeline();
}

// Named like every other asset that fails to load; the video texture's own text follows.
std::unique_ptr<VideoTexture> openClip() {
    try {
        return std::make_unique<VideoTexture>("test.vpg");
    } catch (const std::string& text) {
        throw "Failed to load test.vpg\n" + text;
    }
}

// The loading picture, drawn opaque over the whole back buffer and presented once; then the video, handed
// to the texture cache under the three picture names it stands in for.
VideoTexture* showLoadingAndLoadVideo(const RenderScale& scale, ScreenQuad& loadingQuad, Stage& stage,
                                      TextureCache& textures) {
    g_device->BeginScene();
    scale.beginPicture(g_device);
    loadingQuad.draw(D3DBLEND_ONE, D3DBLEND_ZERO, 1.0f, 0.0f);
    g_device->EndScene();
    stage.present();

    std::unique_ptr<VideoTexture> video = openClip();
    VideoTexture* registered = video.get();
    textures.add(kVideoNames[0], video.release());  // the cache owns it from the first name on
    textures.add(kVideoNames[1], registered);
    textures.add(kVideoNames[2], registered);
    return registered;
}

std::unique_ptr<Soundtrack> openMusic(Stage& stage, HWND window) {
    return stage.openSoundtrack(window, kProductionMusic);
}

Camera& aimCamera(Camera& camera, SceneNode& target) {
    camera.fov = 60.0f;
    camera.nearPlane = 1.0f;
    camera.farPlane = 2000.0f;
    camera.target = &target;
    camera.roll = 0.0f;
    return camera;
}

// Adds the production's camera (camera 0: scene files define none) and light (after the file's own) and
// turns the fog on.
Scene* wireScene(Scene* scene, Camera& camera, Light& light) {
    scene->addCamera(&camera);
    scene->addLight(&light);
    scene->fogEnabled = true;
    scene->fogColor = ColorRGBA{0.05f, 0.01f, 0.01f, 1.0f};
    scene->fogStart = 60.0f;
    scene->fogEnd = 400.0f;
    return scene;
}

// The material whose diffuse alpha follows the pulse track: the first group's of object 27's mesh.
Material* findPulseMaterial(const Scene& scene) {
    if (scene.objects.size() <= 27 || !scene.objects[27]) return nullptr;
    const Mesh* mesh = scene.objects[27]->mesh;
    if (!mesh || mesh->groups.empty()) return nullptr;
    return mesh->groups[0].material;
}

}  // namespace

const char* const kProductionMusic = "ferrowake.mp3";

std::unique_ptr<Soundtrack> LiveStage::openSoundtrack(HWND window, const std::string& name) {
    return std::make_unique<LiveSoundtrack>(window, name);
}

void presentFrame() {
    if (g_device->Present(nullptr, nullptr, nullptr, nullptr) == D3DERR_DEVICELOST)
        throw std::string("Lost device.");
}

void LiveStage::present() {
    presentFrame();
}

std::unique_ptr<Soundtrack> RenderStage::openSoundtrack(HWND, const std::string& name) {
    auto soundtrack = std::make_unique<CaptureSoundtrack>(name);
    soundtrack_ = soundtrack.get();
    return soundtrack;
}

void RenderStage::present() {
    presentFrame();
}

size_t runFrameCount(int num, int den) {
    size_t n = size_t(kRunLength) * size_t(num) / size_t(den);
    while (!pastTheEnd(float(runFrameTime(n, num, den)))) ++n;
    return n + 1;
}

void checkDataSet() {
    MemoryFile* file = nullptr;
    // Both failures read as the texture cache would report them: the archive's reason, or not found.
    try {
        file = memfile_open(kLoadingPicture);
    } catch (const std::string& reason) {
        throw std::string("Failed to load ") + kLoadingPicture + "\n" + reason;
    }
    if (!file)
        throw std::string("Failed to load ") + kLoadingPicture + "\nfile not found: " + kLoadingPicture;
    memfile_close(file);
}

Production::Production(HWND window, SceneCache& scenes, TextureCache& textures, Stage& stage)
    : scale(RenderScale::ofDevice(g_device)),
      loadingQuad(textures.get(kLoadingPicture), 1.0f),
      video(showLoadingAndLoadVideo(scale, loadingQuad, stage, textures)),
      music(openMusic(stage, window)),
      flashQuad(textures.get("white.png"), 1.0f),
      blackQuad(textures.get("black.png"), 1.0f),
      textQuad(textures.get("text0.png"), 1.0f),
      sceneLight(nullptr),
      // The glow's own resolution, magnified over the picture at every scale: its blur radii stay the same
      // on the screen, and it holds no detail the design's glow does not.
      sceneTarget(256, 128, D3DUSAGE_RENDERTARGET | D3DUSAGE_AUTOGENMIPMAP, D3DPOOL_DEFAULT),
      blur1(&sceneTarget, 256, 256),
      blur2(&blur1, 256, 256),
      blur3(&blur2, 256, 256),
      blur4(&blur3, 256, 256),
      blur5(&blur4, 256, 256),
      blur6(&blur5, 256, 256),
      cameraTarget(nullptr),
      camera(nullptr),
      scene(wireScene(scenes.get("plinthar.scene"), aimCamera(camera, cameraTarget), sceneLight)),
      grid(80, 60) {  // its cells shape the warps: a choice of the design, the same at every scale
    pulseMaterial = findPulseMaterial(*scene);
    if (!pulseMaterial) loadWarnings().warning("plinthar.scene", 0, pulseProblem(*scene));
    // The optional file last: a damaged archive is reported on the files the production cannot do without.
    setTimeline(loadTimeline());
}

void Production::sceneReloaded() {
    wireScene(scene, camera, sceneLight);
    meshesReloaded();
}

void Production::meshesReloaded() {
    pulseMaterial = findPulseMaterial(*scene);
}

void Production::reloadClip(TextureCache& textures) {
    std::unique_ptr<VideoTexture> fresh = openClip();
    VideoTexture* old = video;
    video = fresh.get();
    textures.add(kVideoNames[0], fresh.release());
    for (size_t i = 1; i < std::size(kVideoNames); ++i) textures.add(kVideoNames[i], video);
    // The old clip stays with the cache (it gives its decoder up to the new one); nothing shows it any more.
    ResourceCache<Material>::forEachHeld([&](const std::string&, Material* material) {
        if (material->texture != old && material->envmap != old) return;
        if (material->texture == old) material->texture = video;
        if (material->envmap == old) material->envmap = video;
        material->recordStates();  // the recorded states name the old clip's texture
    });
    flashQuad.source = video;
}

void Production::start() {
    music->play();
}

void Production::setTimeline(const Timeline& timeline) {
    timeline_ = timeline;
    pulseTrack = pulseTrackOf(timeline_);
}

double Production::time() {
    return music->time();
}

void Production::frame(float t) {
    const double td = t;  // the formulas run in double precision

    // A cut at exactly t is not yet passed.
    beatIndex_ = unsigned(timeline_.cutsBefore(t));
    const std::vector<float>& cuts = timeline_.cuts;

    video->update(t + t);  // the clip runs at twice the production's pace
    music->updateSpectrum();
    const float* spectrum = music->spectrum();

    g_device->BeginScene();
    scale.beginPicture(g_device);

    if (pulseMaterial) pulseMaterial->diffuse.a = pulseTrack.evaluate(t);

    camera.fov = float(90.0 + 1000.0 * double(spectrum[25]));
    // Every cut switches between the two orbits.
    if (beatIndex_ % 2 == 1)
        camera.transform.position = {float(-80.0 * std::sin(0.3 * td)), float(80.0 * std::cos(0.3 * td)),
                                     float(20.0 * std::cos(0.4 * td))};
    else
        camera.transform.position = {float(100.0 * std::sin(0.3 * td)), float(40.0 * std::cos(0.7 * td)),
                                     float(60.0 * std::cos(0.3 * td))};
    sceneLight.transform.position = {float(-70.0 * std::sin(0.7 * td)), float(70.0 * std::sin(0.7 * td)),
                                     float(70.0 * std::cos(0.7 * td))};

    // The scene into the small target, then six blur passes over it.
    drawSceneIntoTarget();
    blurChain();

    // The base picture.
    drawScene();

    // The glow: the blurred scene added through a bulge that follows the music.
    addGlow(float(std::max(0.3, 100.0 * double(spectrum[102]))),
            float(std::max(0.9, 10.0 * double(spectrum[51]))));

    // The unblurred scene added again, warped harder.
    addWarpedScene(float(std::max(0.2, 200.0 * double(spectrum[102]))),
                   float(std::max(0.9, 2000.0 * double(spectrum[102]))));

    // From the timeline's time on (16 s) the video flashes in at every whole second and fades within it.
    if (t >= timeline_.flashesFrom) flash(float(std::pow(1.0 - std::fmod(td, 1.0), 1.5)));

    // Black close to each cut, the more the nearer.
    if (beatIndex_ < cuts.size()) {
        double prev = (t > 0.0f && beatIndex_ > 0) ? double(cuts[beatIndex_ - 1]) : -double(FLT_MAX);
        double next = cuts[beatIndex_];
        double d = double(timeline_.blackout) * std::min(td - prev, next - td);
        if (d > 0.001) black(opacity(1.0 - d));
    }

    // The final fade: from 31 s, black at 31.25 s.
    if (t > timeline_.fadeStart)
        black(opacity((td - double(timeline_.fadeStart)) / double(timeline_.fadeLength)));

    g_device->EndScene();
}

void Production::drawSceneIntoTarget() {
    sceneTarget.binding.bind(0);
    scene->draw(0, true);
    sceneTarget.binding.unbind();
}

void Production::blurChain() {
    blur1.apply(true, 1.0f, 1.5f);
    blur2.apply(false, 1.0f, 1.0f);
    blur3.apply(true, 1.5f, 1.0f);
    blur4.apply(false, 1.5f, 1.0f);
    blur5.apply(true, 2.0f, 1.25f);
    blur6.apply(false, 2.0f, 1.4f);
}

void Production::drawScene() {
    scene->draw(0, true);
}

void Production::addGlow(float radius, float amount) {
    grid.reset(0, 0);
    grid.bulge(0, 0, radius, amount);
    grid.upload();
    grid.draw(&blur6, D3DBLEND_ONE, D3DBLEND_ONE, 1.0f);
}

void Production::addWarpedScene(float radius, float amount) {
    grid.reset(0, 0);
    grid.bulge(0, 0, radius, amount);
    grid.twirl(0, 0, 1.0f, 0);
    grid.upload();
    grid.draw(&sceneTarget, D3DBLEND_ONE, D3DBLEND_ONE, 1.0f);
}

void Production::flash(float alpha) {
    flashQuad.draw(D3DBLEND_SRCALPHA, D3DBLEND_ONE, alpha, 0);
}

void Production::black(float alpha) {
    blackQuad.draw(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, alpha, 0);
}

void Production::regenerateTargetLevels() {
    blur6.texture->GenerateMipSubLevels();
    sceneTarget.texture->GenerateMipSubLevels();
}
