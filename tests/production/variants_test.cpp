// The production on data sets changed for one question each: which object pulses, a scene too small to
// have it, a video that shows plainly in the flash, and the command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture_support.h"

using namespace capture_test;

namespace {

// A scene of `count` objects of the aura mesh, all far beyond the far plane except object `visible`,
// which sits at the origin the camera looks at.
std::string auraScene(int count, int visible) {
    std::string text = "<?xml version=\"1.0\"?>\n<scene>\n";
    for (int i = 0; i < count; ++i) {
        if (i == visible)
            text += "  <object mesh=\"aura.mesh\"/>\n";
        else
            text += "  <object mesh=\"aura.mesh\"><position x=\"100000\" y=\"0\" z=\"0\"/></object>\n";
    }
    return text + "</scene>\n";
}

}  // namespace

TEST(Pulse, ObjectTwentySevenBreathesDuringTheFirstSixSeconds) {
    if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
    TempDir dir;
    ASSERT_TRUE(dir.looseFiles());
    // Only object 27 can be seen. Its material adds it with the diffuse alpha as strength, and the track
    // is 1 at whole odd seconds and 0 at whole even ones up to 6 s, then 0.
    ASSERT_TRUE(writeFile(dir / "data/plinthar.scene", auraScene(28, 27)));
    Outcome run = runQuorvane(dir.path(), "--capture out --times 3,4,7");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Picture on = readPicture(dir / ("out/" + frameName(0)));
    Picture off = readPicture(dir / ("out/" + frameName(1)));
    Picture after = readPicture(dir / ("out/" + frameName(2)));
    ASSERT_TRUE(on.ok() && off.ok() && after.ok());
    EXPECT_GT(on.maxChannel(), 100);
    EXPECT_EQ(off.maxChannel(), 0);
    EXPECT_EQ(after.maxChannel(), 0);
}

TEST(Pulse, SceneWithoutObjectTwentySevenPlaysWithoutThePulse) {
    if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
    TempDir dir;
    ASSERT_TRUE(dir.looseFiles());
    ASSERT_TRUE(writeFile(dir / "data/plinthar.scene", auraScene(3, 0)));
    Outcome run = runQuorvane(dir.path(), "--capture out --times 0,1,3");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // The maker hears why.
    EXPECT_NE(
        run.err.find("plinthar.scene: 3 mesh objects, the production needs at least 28: object 27 (the 28th "
                     "in document order) pulses, so nothing pulses\n"),
        std::string::npos)
        << run.err;
    // The aura keeps its material's alpha of 0: nothing shows.
    for (int n = 0; n < 3; ++n) EXPECT_EQ(readPicture(dir / ("out/" + frameName(n))).maxChannel(), 0) << n;

    // An object 27 without a mesh is no target either.
    std::string scene = "<?xml version=\"1.0\"?>\n<scene>\n";
    for (int i = 0; i < 27; ++i) scene += "  <object mesh=\"aura.mesh\"/>\n";
    scene += "  <object/>\n</scene>\n";
    ASSERT_TRUE(writeFile(dir / "data/plinthar.scene", scene));
    run = runQuorvane(dir.path(), "--capture out --times 3");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(
        run.err.find("plinthar.scene: object 27 (the 28th in document order), which pulses, has no mesh"),
        std::string::npos)
        << run.err;
    EXPECT_EQ(readPicture(dir / ("out/" + frameName(0))).maxChannel(), 0);
}

TEST(VideoFlash, TheClipIsAddedFromSixteenSecondsFadingWithinEachSecond) {
    if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
    if (!haveCommand("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    TempDir dir;
    ASSERT_TRUE(dir.looseFiles());
    // A clip of pure green: added at full strength it saturates the green of every pixel.
    std::string m4v = dir / "green.m4v";
    std::string make =
        "ffmpeg -v error -y -f lavfi -i color=c=0x00FF00:s=64x64:r=25 -frames:v 50 "
        "-pix_fmt yuv420p -c:v mpeg4 -bf 0 -qscale:v 2 -f m4v '" +
        m4v + "' && '" + std::string(QV_BINARY_DIR) + "/qvtool' vpg mux '" + m4v + "' '" +
        (dir / "data/test.vpg") + "' --fps 25 >/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
    Outcome run = runQuorvane(dir.path(), "--capture out --times 15.9,16,16.5");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Picture before = readPicture(dir / ("out/" + frameName(0)));
    Picture flash = readPicture(dir / ("out/" + frameName(1)));
    Picture half = readPicture(dir / ("out/" + frameName(2)));
    ASSERT_TRUE(before.ok() && flash.ok() && half.ok());
    EXPECT_LT(before.minOf(1), 100);
    EXPECT_GE(flash.minOf(1), 235);
    // Half a second on the flash is at 0.5^1.5 = 35 % strength.
    EXPECT_GE(half.minOf(1), 70);
    EXPECT_LT(half.minOf(1), 235);
}

TEST(CommandLine, UnknownArgumentsAreIgnoredWithANoticeAndBadCaptureOptionsRefused) {
    if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
    TempDir dir;
    ASSERT_TRUE(dir.archiveOnly());
    Outcome run = runQuorvane(dir.path(), "--frobnicate --capture out --times 0 --size 320x240 -x");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("quorvane: ignoring unknown arguments: --frobnicate -x\n"), std::string::npos)
        << run.err;
    Picture p = readPicture(dir / ("out/" + frameName(0)));
    EXPECT_EQ(p.width, 320);
    EXPECT_EQ(p.height, 240);

    for (const char* bad :
         {"--capture", "--capture out --fps 0", "--capture out --fps x", "--capture out --size 640",
          "--capture out --times 1,,2", "--capture out --times -1", "--capture out --video"}) {
        Outcome refused = runQuorvane(dir.path(), bad);
        EXPECT_EQ(refused.exitCode, 2) << bad;
        EXPECT_NE(refused.err.find("usage: quorvane --capture DIR"), std::string::npos) << bad << refused.err;
    }
}
