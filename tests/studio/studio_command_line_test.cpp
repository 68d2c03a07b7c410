// "--studio [DIR]" on the program's command line, and a folder the studio cannot use.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "app/capture.h"
#include "run_command.h"
#include "scratch_dir.h"
#include "studio/studio.h"
#include "test_files.h"

TEST(StudioCommandLine, TheFolderIsOptionalAndTheStudioIsNoCapture) {
    const struct {
        std::vector<std::string> args;
        std::string folder;
        std::vector<std::string> ignored;
    } cases[] = {
        {{"--studio"}, "data", {}},
        {{"--studio", "my/data"}, "my/data", {}},
        {{"--studio", "--windowed"}, "data", {}},
        {{"--windowed", "--studio", "x", "extra"}, "x", {"extra"}},
        {{"--studio", "--fps", "30"}, "data", {"--fps", "30"}},  // capture options stay the capture's
    };
    for (const auto& c : cases) {
        CommandLine line = parseCommandLine(c.args);
        EXPECT_TRUE(line.problem.empty()) << line.problem;
        EXPECT_TRUE(line.studio);
        EXPECT_FALSE(line.capture);
        EXPECT_EQ(line.studioFolder, c.folder);
        EXPECT_EQ(line.ignored, c.ignored);
    }
    EXPECT_FALSE(parseCommandLine({"--windowed"}).studio);
    EXPECT_EQ(parseCommandLine({"--studio", "--capture", "out"}).problem,
              "--studio and --capture do not go together");
}

TEST(StudioCommandLine, AFolderThatIsNotOneEndsWithItsNameBeforeAnyWindowOpens) {
    qvtest::ScratchDir dir("qv-studio-cli");
    ASSERT_TRUE(qvtest::writeFile(dir / "plain", "not a folder"));
    const std::string program = std::string(QV_BINARY_DIR) + "/quorvane";
    for (const std::string& folder : {dir / "missing", dir / "plain"}) {
        std::string output;
        EXPECT_EQ(qvtest::runCommand("'" + program + "' --studio '" + folder + "'", &output), 1);
        EXPECT_EQ(output, "quorvane: --studio: " + folder + " is not a folder\n");
    }
}

// The folder a production is made in, given instead of its data folder, plays the data folder it holds; a
// data folder that happens to hold a folder named data is still played itself.
TEST(StudioCommandLine, TheProductionsFolderPlaysItsDataFolder) {
    qvtest::ScratchDir dir("qv-studio-data");
    ASSERT_EQ(mkdir((dir / "data").c_str(), 0700), 0);
    EXPECT_EQ(studioDataFolder(dir.path().string()), dir / "data");
    ASSERT_TRUE(qvtest::writeFile(dir / "LOAD.PNG", "a loading picture"));
    EXPECT_EQ(studioDataFolder(dir.path().string()), dir.path().string());
    EXPECT_EQ(studioDataFolder(dir / "data"), dir / "data");  // no data folder inside
}
