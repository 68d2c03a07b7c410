// The file watcher on a real folder, written the ways editors write: in place in pieces, truncated and
// written again, through a temporary file renamed over the old one, and removed. Each burst must come out
// as one change of the right name, only once the file has come to rest.
#include "platform/files/file_watcher.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "scratch_dir.h"
#include "test_files.h"

using platform::FileWatcher;

namespace {

// Every change that comes out within `seconds` (polled as the studio does, a frame at a time).
std::vector<FileWatcher::Change> collect(FileWatcher& watcher, double seconds) {
    std::vector<FileWatcher::Change> all;
    const double end = platform::fileWatcherNow() + seconds;
    while (platform::fileWatcherNow() < end) {
        for (const auto& c : watcher.poll()) all.push_back(c);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return all;
}

std::vector<std::string> names(const std::vector<FileWatcher::Change>& changes) {
    std::vector<std::string> out;
    for (const auto& c : changes) out.push_back(c.name);
    return out;
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

TEST(FileWatcher, EachWayOfSavingIsOneChangeOnceTheFileRests) {
    qvtest::ScratchDir dir("qv-watch");
    ASSERT_TRUE(dir.ok());
    qvtest::writeFile(dir / "old.mat", "<material/>");
    qvtest::writeFile(dir / "gone.png", "x");
    FileWatcher watcher(dir.path().string());
    ASSERT_TRUE(watcher.watching()) << watcher.problem();
    EXPECT_TRUE(watcher.poll().empty());

    // In place, in pieces with pauses shorter than the settling time, the file open all along: nothing
    // comes out while it is written, one change once it is closed and quiet.
    FILE* f = std::fopen((dir / "old.mat").c_str(), "w");
    ASSERT_TRUE(f);
    const double start = platform::fileWatcherNow();
    for (int i = 0; i < 5; ++i) {
        std::fputs("<material>", f);
        std::fflush(f);
        sleepMs(10);
        EXPECT_TRUE(watcher.poll().empty()) << "a change came out while the file was being written";
    }
    const double closed = platform::fileWatcherNow();
    std::fclose(f);
    std::vector<FileWatcher::Change> got = collect(watcher, 0.6);
    EXPECT_EQ(names(got), std::vector<std::string>{"old.mat"});
    if (!got.empty()) {
        // Counted from the first write, so that a reload line tells the whole wait.
        EXPECT_GE(got[0].firstSeen, start);
        EXPECT_LT(got[0].firstSeen, closed);
    }

    // Truncated, then written again by a second open: the change comes out after the second write.
    qvtest::writeFile(dir / "old.mat", "");
    qvtest::writeFile(dir / "old.mat", "<material/>\n");
    got = collect(watcher, 0.6);
    ASSERT_FALSE(got.empty());
    for (const auto& c : got) EXPECT_EQ(c.name, "old.mat");

    // Written to a temporary file and renamed over: the new name only, never the temporary one.
    qvtest::writeFile(dir / ".old.mat.swp", "<material></material>");
    ASSERT_EQ(::rename((dir / ".old.mat.swp").c_str(), (dir / "old.mat").c_str()), 0);
    EXPECT_EQ(names(collect(watcher, 0.6)), std::vector<std::string>{"old.mat"});

    // A new file is a change; a removed one is not, even right after a write.
    qvtest::writeFile(dir / "new.png", "png");
    qvtest::writeFile(dir / "gone.png", "y");
    ASSERT_EQ(::unlink((dir / "gone.png").c_str()), 0);
    EXPECT_EQ(names(collect(watcher, 0.6)), std::vector<std::string>{"new.png"});
}

TEST(FileWatcher, AFileLeftOpenAfterWritingComesOutAfterTheLongerQuiet) {
    qvtest::ScratchDir dir("qv-watch");
    ASSERT_TRUE(dir.ok());
    FileWatcher watcher(dir.path().string());
    ASSERT_TRUE(watcher.watching()) << watcher.problem();
    FILE* f = std::fopen((dir / "clip.vpg").c_str(), "w");
    ASSERT_TRUE(f);
    std::fputs("VPG", f);
    std::fflush(f);
    EXPECT_TRUE(collect(watcher, FileWatcher::kOpenSettleSeconds * 0.5).empty());
    EXPECT_EQ(names(collect(watcher, FileWatcher::kOpenSettleSeconds + 0.3)),
              std::vector<std::string>{"clip.vpg"});
    std::fclose(f);
}

TEST(FileWatcher, AFolderThatCannotBeWatchedSaysWhy) {
    qvtest::ScratchDir dir("qv-watch");
    qvtest::writeFile(dir / "plain", "not a folder");
    for (const std::string& folder : {dir / "missing", dir / "plain"}) {
        FileWatcher watcher(folder);
        EXPECT_FALSE(watcher.watching()) << folder;
        EXPECT_NE(watcher.problem().find(folder), std::string::npos) << watcher.problem();
        EXPECT_TRUE(watcher.poll().empty());
    }
}
