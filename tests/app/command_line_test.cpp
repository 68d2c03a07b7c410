// The program's command line: playing windowed, rendering to files with its options in any order (rates as
// fractions, ranges, motion blur, the lossless video), and everything else ignored.
#include <gtest/gtest.h>

#include <string>
#include <utility>
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
    EXPECT_TRUE(defaults.captureOptions.range.whole());
    EXPECT_EQ(defaults.captureOptions.motionBlur, 1);
}

TEST(CommandLine, RatesRangesAndMotionBlurForArchivists) {
    // Frame rates: whole numbers as always, and fractions kept as given (not reduced or rounded).
    const std::vector<std::pair<std::string, FrameRate>> rates = {
        {"25", {25, 1}},     {"60000/1001", {60000, 1001}},     {"24000/1001", {24000, 1001}},
        {"1000", {1000, 1}}, {"1000000/1000", {1000000, 1000}}, {"1/60", {1, 60}},
        {"50/2", {50, 2}},
    };
    for (const auto& [text, rate] : rates) {
        CommandLine line = parse({"--capture", "d", "--fps", text});
        ASSERT_TRUE(line.problem.empty()) << text << ": " << line.problem;
        EXPECT_EQ(line.captureOptions.fps.num, rate.num) << text;
        EXPECT_EQ(line.captureOptions.fps.den, rate.den) << text;
    }

    CommandLine line = parse({"--range", "16:18", "--capture", "d", "--motion-blur", "8", "--fps",
                              "30000/1001", "--video", "v.MKV"});
    ASSERT_TRUE(line.problem.empty()) << line.problem;
    EXPECT_DOUBLE_EQ(line.captureOptions.range.from, 16.0);
    EXPECT_DOUBLE_EQ(line.captureOptions.range.to, 18.0);
    EXPECT_FALSE(line.captureOptions.range.whole());
    EXPECT_EQ(line.captureOptions.motionBlur, 8);
    EXPECT_TRUE(losslessVideo(line.captureOptions.video));
    EXPECT_FALSE(losslessVideo("v.mp4"));
    EXPECT_FALSE(losslessVideo("mkv"));
    // A range of one instant; a range running past the end of the run (cut to the run).
    EXPECT_TRUE(parse({"--capture", "d", "--range", "16:16"}).problem.empty());
    EXPECT_TRUE(parse({"--capture", "d", "--range", "31.5:1000"}).problem.empty());
    // The lossless video takes any picture size; the shutters of close times may overlap (a frame follows
    // its time alone, so sub-frames may go back in time).
    EXPECT_TRUE(parse({"--capture", "d", "--size", "321x241", "--video", "v.mkv"}).problem.empty());
    EXPECT_TRUE(
        parse({"--capture", "d", "--motion-blur", "4", "--times", "1,1.5,2", "--fps", "1"}).problem.empty());
    EXPECT_TRUE(parse({"--capture", "d", "--motion-blur", "8", "--times", "1,1.005"}).problem.empty());

    // Capture options without --capture are ignored with the others.
    EXPECT_EQ(parse({"--range", "1:2", "--motion-blur", "2"}).ignored,
              (std::vector<std::string>{"--range", "1:2", "--motion-blur", "2"}));
}

TEST(CommandLine, OtherArgumentsAreIgnored) {
    CommandLine line = parse({"-x", "--windowed", "play", "--fps", "30", "--frames"});
    EXPECT_FALSE(line.capture);
    EXPECT_FALSE(line.entry.fullScreen);
    // Capture options mean nothing without --capture.
    EXPECT_EQ(line.ignored, (std::vector<std::string>{"-x", "play", "--fps", "30", "--frames"}));
    EXPECT_TRUE(line.problem.empty());
    // The warning names the option a slip probably meant, and only for slips.
    EXPECT_EQ(ignoredArguments(line.ignored), "-x play --fps 30 --frames");
    EXPECT_EQ(ignoredArguments(parse({"--captur", "out", "--Windowed", "--motionblur", "-fps"}).ignored),
              "--captur (did you mean --capture?) out --Windowed (did you mean --windowed?) --motionblur "
              "(did you mean --motion-blur?) -fps (did you mean --fps?)");
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
        {"--capture", "d", "--fps", "0/1"},
        {"--capture", "d", "--fps", "60/0"},
        {"--capture", "d", "--fps", "-60"},
        {"--capture", "d", "--fps", "-60000/1001"},
        {"--capture", "d", "--fps", "60000/-1001"},
        {"--capture", "d", "--fps", "60000/"},
        {"--capture", "d", "--fps", "/1001"},
        {"--capture", "d", "--fps", "60/1/2"},
        {"--capture", "d", "--fps", "1001/1"},  // above 1000 frames a second
        {"--capture", "d", "--fps", "59.94"},
        {"--capture", "d", "--fps", "60 "},
        {"--capture", "d", "--fps", "sixty"},
        {"--capture", "d", "--range"},
        {"--capture", "d", "--range", ""},
        {"--capture", "d", "--range", "16"},
        {"--capture", "d", "--range", "16:"},
        {"--capture", "d", "--range", ":18"},
        {"--capture", "d", "--range", "18:16"},
        {"--capture", "d", "--range", "-1:2"},
        {"--capture", "d", "--range", "1:2:3"},
        {"--capture", "d", "--range", "16:nan"},
        {"--capture", "d", "--range", "a:b"},
        // Spans holding no frame: past the end of the run, and between two frames.
        {"--capture", "d", "--range", "40:50"},
        {"--capture", "d", "--range", "16.001:16.002"},
        {"--capture", "d", "--range", "1:2", "--times", "1.5"},
        {"--capture", "d", "--motion-blur"},
        {"--capture", "d", "--motion-blur", "0"},
        {"--capture", "d", "--motion-blur", "65"},
        {"--capture", "d", "--motion-blur", "-2"},
        {"--capture", "d", "--motion-blur", "2.5"},
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
        const std::string problem = parse(args).problem;
        EXPECT_FALSE(problem.empty()) << joined;
        // The message names the option at fault.
        bool named = false;
        for (const std::string& a : args)
            named = named || (a.compare(0, 2, "--") == 0 && problem.find(a) == 0);
        EXPECT_TRUE(named) << joined << ": " << problem;
    }
}
