// The program's command line: playing windowed, rendering to files with its options in any order, and
// everything else ignored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/capture.h"

namespace {

CommandLine parse(std::vector<std::string> args) {
    return parseCommandLine(args);
}

}  // namespace

TEST(CommandLine, NoArgumentsPlayFullScreenAndWindowedPlaysInAWindow) {
    CommandLine none = parse({});
    EXPECT_TRUE(none.entry.fullScreen);
    EXPECT_FALSE(none.capture);
    EXPECT_TRUE(none.ignored.empty());
    EXPECT_TRUE(none.problem.empty());

    CommandLine windowed = parse({"--windowed"});
    EXPECT_FALSE(windowed.entry.fullScreen);
    EXPECT_FALSE(windowed.capture);
    EXPECT_TRUE(windowed.ignored.empty());
}

TEST(CommandLine, CaptureWithItsOptionsInAnyOrder) {
    CommandLine line = parse({"--fps", "25", "--capture", "out/dir", "--size", "320x240", "--times",
                              "16,0.5,3", "--video", "a.mp4"});
    ASSERT_TRUE(line.problem.empty()) << line.problem;
    EXPECT_TRUE(line.capture);
    EXPECT_EQ(line.captureOptions.directory, "out/dir");
    EXPECT_EQ(line.captureOptions.fps, 25);
    EXPECT_EQ(line.captureOptions.width, 320);
    EXPECT_EQ(line.captureOptions.height, 240);
    EXPECT_EQ(line.captureOptions.video, "a.mp4");
    // Sorted: the beat index only moves forward.
    EXPECT_EQ(line.captureOptions.times, (std::vector<double>{0.5, 3, 16}));
    EXPECT_TRUE(line.ignored.empty());

    CommandLine defaults = parse({"--capture", "x"});
    EXPECT_EQ(defaults.captureOptions.fps, 60);
    EXPECT_EQ(defaults.captureOptions.width, 640);
    EXPECT_EQ(defaults.captureOptions.height, 480);
    EXPECT_TRUE(defaults.captureOptions.video.empty());
    EXPECT_TRUE(defaults.captureOptions.times.empty());

    // PNG frames: always without a video; with one only after --frames, wherever it stands.
    EXPECT_TRUE(defaults.captureOptions.frames);
    EXPECT_FALSE(line.captureOptions.frames);
    EXPECT_TRUE(parse({"--frames", "--capture", "x", "--video", "v.mp4"}).captureOptions.frames);
    EXPECT_TRUE(parse({"--capture", "x", "--frames"}).captureOptions.frames);
}

TEST(CommandLine, OtherArgumentsAreIgnored) {
    CommandLine line = parse({"-x", "--windowed", "play", "--fps", "30", "--frames"});
    EXPECT_FALSE(line.capture);
    EXPECT_FALSE(line.entry.fullScreen);
    // Capture options mean nothing without --capture.
    EXPECT_EQ(line.ignored, (std::vector<std::string>{"-x", "play", "--fps", "30", "--frames"}));
    EXPECT_TRUE(line.problem.empty());
}

TEST(CommandLine, MalformedCaptureOptionsAreRefused) {
    const std::vector<std::vector<std::string>> bad = {
        {"--capture"},
        {"--capture", "--fps"},
        {"--capture", ""},
        {"--capture", "d", "--fps"},
        {"--capture", "d", "--fps", "0"},
        {"--capture", "d", "--fps", "1001"},
        {"--capture", "d", "--fps", "2.5"},
        {"--capture", "d", "--fps", "99999999999999999999"},
        {"--capture", "d", "--size", "640"},
        {"--capture", "d", "--size", "8x8"},
        {"--capture", "d", "--size", "640x"},
        {"--capture", "d", "--size", "x480"},
        {"--capture", "d", "--size", "-640x480"},
        {"--capture", "d", "--video"},
        {"--capture", "d", "--video", ""},
        {"--capture", "d", "--times"},
        {"--capture", "d", "--times", ""},
        {"--capture", "d", "--times", "1,,2"},
        {"--capture", "d", "--times", "-1"},
        {"--capture", "d", "--times", "nan"},
        {"--capture", "d", "--times", "1e300"},
        {"--capture", "d", "--times", "3s"},
        // H.264 in 4:2:0 needs an even picture size.
        {"--capture", "d", "--size", "321x240", "--video", "v.mp4"},
        {"--video", "v.mp4", "--capture", "d", "--size", "320x241"},
    };
    for (const auto& args : bad) {
        std::string joined;
        for (const std::string& a : args) joined += "[" + a + "]";
        EXPECT_FALSE(parse(args).problem.empty()) << joined;
    }
}
