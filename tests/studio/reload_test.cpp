// Reloads of real files of the default data set, seen through the real watcher and drawn on the headless
// device: every kind of edit shows exactly what a fresh load of the edited files shows, and a file that
// fails keeps the last good picture and names its file and line.
#include "studio/reload.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

#include "loaded_show.h"
#include "music/music.h"
#include "platform/files/file_watcher.h"
#include "production/timeline.h"
#include "studio_support.h"

using studiotest::DataCopy;
using studiotest::LoadedShow;

namespace {

// Polls the watcher as the studio does before each frame until `count` changes of used files were
// reloaded (or 20 seconds went by), and returns their outcomes by name.
std::map<std::string, ReloadOutcome> reloadChanges(platform::FileWatcher& watcher, LoadedShow& show,
                                                   size_t count) {
    std::map<std::string, ReloadOutcome> outcomes;
    const ReloadTargets targets{show.scenes(), show.textures(), show.production()};
    const double end = platform::fileWatcherNow() + 20.0;
    while (outcomes.size() < count && platform::fileWatcherNow() < end) {
        for (const auto& change : watcher.poll()) {
            ReloadOutcome outcome = reloadFile(targets, change.name);
            outcomes[change.name] = outcome;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return outcomes;
}

// Written to a temporary name and renamed over the old file, as many editors save.
void renameOver(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(qvtest::writeFile(path + ".tmp~", bytes));
    ASSERT_EQ(::rename((path + ".tmp~").c_str(), path.c_str()), 0);
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

}  // namespace

TEST(StudioReload, EveryKindOfEditShowsAsAFreshLoadOfTheEditedFiles) {
    if (!studiotest::haveDefaultData()) GTEST_SKIP() << "the default data set (assets/data) is absent";
    DataCopy data;
    ASSERT_TRUE(data.ok());
    std::vector<uint32_t> edited;
    try {
        LoadedShow show(data.folder());
        platform::FileWatcher watcher(data.data());
        ASSERT_TRUE(watcher.watching()) << watcher.problem();
        const std::vector<uint32_t> before = show.picture(2.5);
        const Scene* scene = show.scenes().get("plinthar.scene");
        const Camera* camera = &show.production().sceneCamera();

        // A picture renamed over, a material and the scene written in place, a mesh replaced by another.
        renameOver(data.file("stone.png"), qvtest::readFile(data.file("grid.png")));
        qvtest::writeFile(data.file("stone.mat"),
                          replaced(qvtest::readFile(data.file("stone.mat")), "r=\"0.6\"", "r=\"1.0\""));
        qvtest::writeFile(data.file("orb.mesh"), qvtest::readFile(data.file("crystal.mesh")));
        qvtest::writeFile(data.file("plinthar.scene"),
                          replaced(qvtest::readFile(data.file("plinthar.scene")), "r=\"0.16\"", "r=\"0.5\""));
        // A timeline the data set did not have: other cuts (the third before 2.5 s turns the orbit).
        qvtest::writeFile(data.file("timeline.txt"), "cuts 0 1 2 5\n");
        std::map<std::string, ReloadOutcome> outcomes = reloadChanges(watcher, show, 5);
        const std::map<std::string, std::string> kinds = {{"stone.png", "texture"},
                                                          {"stone.mat", "material"},
                                                          {"orb.mesh", "mesh"},
                                                          {"plinthar.scene", "scene"},
                                                          {"timeline.txt", "timeline"}};
        for (const auto& [file, kind] : kinds) {
            ASSERT_TRUE(outcomes.count(file)) << file << " was not reloaded";
            ASSERT_TRUE(outcomes[file].kind) << file;
            EXPECT_EQ(outcomes[file].kind, kind);
            EXPECT_EQ(outcomes[file].error, "") << file;
        }
        EXPECT_FALSE(outcomes.count("stone.png.tmp~")) << "the temporary file counted as a change";

        // In place: the production's scene is the same object, with its camera again.
        EXPECT_EQ(show.scenes().get("plinthar.scene"), scene);
        ASSERT_FALSE(scene->cameras.empty());
        EXPECT_EQ(scene->cameras[0], camera);
        EXPECT_TRUE(show.production().pulses());
        EXPECT_EQ(show.production().timeline().cuts, (std::vector<float>{0, 1, 2, 5}));
        edited = show.picture(2.5);
        EXPECT_NE(edited, before) << "the edits do not show";
    } catch (const std::string& text) {
        FAIL() << text;
    }
    // The oracle: the edited files loaded from scratch.
    try {
        LoadedShow fresh(data.folder());
        EXPECT_TRUE(fresh.picture(2.5) == edited) << "the reloaded picture differs from a fresh load's";
    } catch (const std::string& text) {
        FAIL() << text;
    }
}

TEST(StudioReload, AFailingFileKeepsTheLastGoodVersionAndNamesItsFileAndLine) {
    if (!studiotest::haveDefaultData()) GTEST_SKIP() << "the default data set (assets/data) is absent";
    DataCopy data;
    ASSERT_TRUE(data.ok());
    try {
        LoadedShow show(data.folder());
        platform::FileWatcher watcher(data.data());
        ASSERT_TRUE(watcher.watching()) << watcher.problem();
        // The clip at its brightest, over the scene.
        const std::vector<uint32_t> flash = show.picture(17.05);
        const std::string clip = qvtest::readFile(data.file("test.vpg"));
        const std::string scene = qvtest::readFile(data.file("plinthar.scene"));

        qvtest::writeFile(data.file("stone.mat"),
                          replaced(qvtest::readFile(data.file("stone.mat")), "\"ccw\"", "\"xyz\""));
        qvtest::writeFile(data.file("plinthar.scene"), scene.substr(0, scene.size() / 2));
        qvtest::writeFile(data.file("stone.png"), "not a picture");
        qvtest::writeFile(data.file("test.vpg"), "not a clip");
        qvtest::writeFile(data.file("notes.txt"), "not a file of the show");
        qvtest::writeFile(data.file("timeline.txt"), "# cuts out of order\ncuts 0 5 1\n");
        std::map<std::string, ReloadOutcome> outcomes = reloadChanges(watcher, show, 6);
        EXPECT_EQ(outcomes["stone.mat"].error,
                  "stone.mat:8: invalid cull mode \"xyz\" (valid: none, cw, ccw)");
        // Cut off in the middle: the markup left open on its last line.
        const std::string cut = scene.substr(0, scene.size() / 2);
        const size_t lastLine = size_t(std::count(cut.begin(), cut.end(), '\n')) + 1;
        EXPECT_EQ(outcomes["plinthar.scene"].error,
                  "plinthar.scene:" + std::to_string(lastLine) + ": unterminated markup");
        EXPECT_EQ(outcomes["stone.png"].error, "stone.png: failed to load stone.png");
        EXPECT_EQ(outcomes["test.vpg"].error, "test.vpg: not a VPG-file.");
        EXPECT_EQ(outcomes["notes.txt"].kind, nullptr);
        EXPECT_EQ(outcomes["timeline.txt"].error.rfind("timeline.txt:2: cuts: ", 0), 0u)
            << outcomes["timeline.txt"].error;
        EXPECT_EQ(show.production().timeline().cuts, builtInTimeline().cuts);
        EXPECT_TRUE(show.picture(17.05) == flash) << "a failed reload changed the picture";

        // The clip written back is read afresh and shows the same pictures at the same times.
        qvtest::writeFile(data.file("test.vpg"), clip);
        outcomes = reloadChanges(watcher, show, 1);
        ASSERT_TRUE(outcomes.count("test.vpg"));
        EXPECT_EQ(outcomes["test.vpg"].kind, std::string("clip"));
        EXPECT_EQ(outcomes["test.vpg"].error, "");
        EXPECT_TRUE(show.picture(17.05) == flash) << "the clip read again shows other pictures";
    } catch (const std::string& text) {
        FAIL() << text;
    }
}

TEST(StudioReload, MusicIsReplacedOnlyByMusicThatLoadsAndHoldsWhereItIsHeard) {
    if (!studiotest::haveDefaultData()) GTEST_SKIP() << "the default data set (assets/data) is absent";
    DataCopy data;
    ASSERT_TRUE(data.ok());
    qvtest::WorkDir work("qv-studio-music");
    ASSERT_EQ(qvtest::runCommand("cp -r '" + data.data() + "' '" + work.file("data") + "'"), 0);
    qvtest::writeFile(work.file("data/broken.mp3"), std::string(4096, 'x'));
    try {
        Music music(nullptr);
        music.load("ferrowake.mp3", 0.0);
        const HSTREAM first = music.stream;
        try {
            music.reload("broken.mp3");
            ADD_FAILURE() << "a broken file replaced the music";
        } catch (const std::string& text) {
            EXPECT_EQ(text.compare(0, 26, "Failed to load broken.mp3\n"), 0) << text;
        }
        EXPECT_EQ(music.stream, first);
        EXPECT_NE(BASS_ChannelGetPosition(first), ~QWORD(0)) << "the old stream went with the failure";

        music.reload("ferrowake.mp3");
        EXPECT_NE(music.stream, first);
        EXPECT_EQ(BASS_ChannelGetPosition(first), ~QWORD(0)) << "the old stream is still open";

        // Played from a time, then held: the position stops once the queued sound is out.
        music.play();
        music.playFrom(10.0);
        EXPECT_NEAR(music.time(), 10.0, 0.001);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        music.hold();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const double held = music.time();
        EXPECT_GE(held, 10.0);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        EXPECT_DOUBLE_EQ(music.time(), held);
        music.playFrom(held);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        EXPECT_GT(music.time(), held);
    } catch (const std::string& text) {
        FAIL() << text;
    }
}
