// The capture's video: what ffmpeg makes of the frames piped to it (the pictures of the PNG frames, in
// order, H.264 and AAC in an MP4 with its index first), identical on a second capture, playing to its end
// in a browser, and a failing or vanishing ffmpeg reported as such; the lossless MKV decoding to the PNG
// frames and the soundtrack exactly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture_support.h"

using namespace capture_test;

namespace {

// Times far apart in the picture: the first orbit, the other orbit, the flash, the drop, the fade.
const char* const kTimesArg = "0.5,3.6,8.2,12,16.05,20.4,24.5,29.2,31.2";
constexpr int kFrames = 9;

double meanDifference(const Picture& a, const Picture& b) {
    if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) sum += std::abs(int(a.rgb[i]) - int(b.rgb[i]));
    return sum / double(a.rgb.size());
}

// The top-level boxes of an MP4 file, in order.
std::vector<std::string> topLevelBoxes(const std::string& mp4) {
    std::vector<std::string> boxes;
    for (size_t at = 0; at + 8 <= mp4.size();) {
        uint64_t size = uint64_t(uint8_t(mp4[at])) << 24 | uint64_t(uint8_t(mp4[at + 1])) << 16 |
                        uint64_t(uint8_t(mp4[at + 2])) << 8 | uint64_t(uint8_t(mp4[at + 3]));
        boxes.push_back(mp4.substr(at + 4, 4));
        if (size < 8) break;  // 0 (to the end) or 1 (64-bit size): the last box read here
        at += size;
    }
    return boxes;
}

std::string commandOutput(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

// Two captures of the same times at 320 by 240: one with the PNG frames as well, one with the video only.
class VideoCapture : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!haveDefaultDataSet() || !haveCommand("ffmpeg")) return;
        dir_ = new TempDir;
        ASSERT_TRUE(dir_->archiveOnly());
        std::string common = std::string("--fps 10 --size 320x240 --times ") + kTimesArg;
        withFrames_ =
            new Outcome(runQuorvane(dir_->path(), "--capture a " + common + " --video a/a.mp4 --frames"));
        videoOnly_ = new Outcome(runQuorvane(dir_->path(), "--capture b --video b/b.mp4 " + common));
    }
    static void TearDownTestSuite() {
        delete dir_;
        delete withFrames_;
        delete videoOnly_;
        dir_ = nullptr;
        withFrames_ = videoOnly_ = nullptr;
    }
    void SetUp() override {
        if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
        if (!haveCommand("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
        ASSERT_EQ(withFrames_->exitCode, 0) << withFrames_->err;
        ASSERT_EQ(videoOnly_->exitCode, 0) << videoOnly_->err;
    }
    static std::string path(const std::string& name) { return *dir_ / name; }

    static TempDir* dir_;
    static Outcome* withFrames_;
    static Outcome* videoOnly_;
};
TempDir* VideoCapture::dir_ = nullptr;
Outcome* VideoCapture::withFrames_ = nullptr;
Outcome* VideoCapture::videoOnly_ = nullptr;

}  // namespace

TEST_F(VideoCapture, ShowsTheFramesInOrderAndRepeatsByteForByte) {
    const std::string a = readFile(path("a/a.mp4")), b = readFile(path("b/b.mp4"));
    ASSERT_GT(a.size(), 1000u);
    EXPECT_TRUE(a == b) << "two captures of the same times made different videos";

    // PNG frames only when asked for; the rest of the files either way.
    EXPECT_TRUE(exists(path("a/" + frameName(kFrames - 1))));
    EXPECT_FALSE(exists(path("b/" + frameName(0))));
    for (const char* name : {"loading.png", "frames.txt", "soundtrack.wav"})
        EXPECT_TRUE(exists(path(std::string("b/") + name))) << name;
    EXPECT_EQ(readFile(path("a/frames.txt")), readFile(path("b/frames.txt")));

    // The video's pictures, decoded by ffmpeg, are the PNG frames in order, give or take the encoder's
    // loss (about 3 of the 8 levels allowed come from the halved colour resolution alone at this size):
    // each is nearer its own frame than any other unlike one (a swap of red and blue, a lost or repeated
    // frame would show).
    ASSERT_EQ(std::system(("ffmpeg -v error -nostdin -i '" + path("a/a.mp4") + "' -pix_fmt rgb24 '" +
                           path("a/decoded_%02d.png") + "'")
                              .c_str()),
              0);
    EXPECT_FALSE(exists(path("a/decoded_" + std::to_string(kFrames + 1) + ".png")));
    for (int i = 0; i < kFrames; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "decoded_%02d.png", i + 1);
        Picture decoded = readPicture(path(std::string("a/") + name));
        ASSERT_TRUE(decoded.ok()) << name;
        double own = meanDifference(decoded, readPicture(path("a/" + frameName(i))));
        EXPECT_LT(own, 8.0) << "frame " << i;
        for (int j = 0; j < kFrames; ++j) {
            if (j == i) continue;
            Picture other = readPicture(path("a/" + frameName(j)));
            if (meanDifference(other, readPicture(path("a/" + frameName(i)))) < 4 * own) continue;  // alike
            EXPECT_LT(own, meanDifference(decoded, other)) << "frame " << i << " looks like frame " << j;
        }
    }
}

TEST_F(VideoCapture, IsH264AndAacInAnMp4WithItsIndexFirst) {
    if (!haveCommand("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
    std::string streams = commandOutput(
        "ffprobe -v error -show_entries stream=codec_type,codec_name,pix_fmt,"
        "width,height,nb_frames -of compact=nokey=0 '" +
        path("b/b.mp4") + "'");
    EXPECT_NE(streams.find("codec_name=h264|codec_type=video|width=320|height=240|pix_fmt=yuv420p"),
              std::string::npos)
        << streams;
    EXPECT_NE(streams.find("nb_frames=" + std::to_string(kFrames) + "\n"), std::string::npos) << streams;
    EXPECT_NE(streams.find("codec_name=aac|codec_type=audio"), std::string::npos) << streams;

    // The index (moov) before the pictures (mdat): a browser can start playing while it loads.
    std::vector<std::string> boxes = topLevelBoxes(readFile(path("b/b.mp4")));
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes[0], "ftyp");
    size_t moov = 0, mdat = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
        if (boxes[i] == "moov" && !moov) moov = i;
        if (boxes[i] == "mdat" && !mdat) mdat = i;
    }
    EXPECT_TRUE(moov > 0 && mdat > moov) << "moov at " << moov << ", mdat at " << mdat;
}

// A <video> element in headless Chromium plays the file to its 'ended' event; the page says so on the
// console and closes.
TEST_F(VideoCapture, PlaysToItsEndInChromium) {
    if (!haveCommand("chromium")) GTEST_SKIP() << "chromium is not installed (Debian package chromium)";
    ASSERT_TRUE(writeFile(path("b/page.html"), R"(<!DOCTYPE html><html><body>
<video id="v" src="b.mp4" muted autoplay playsinline></video>
<script>
const v = document.getElementById('v');
v.addEventListener('ended', () => {
  console.log('qv-video ended ' + v.videoWidth + 'x' + v.videoHeight);
  window.close();
});
v.addEventListener('error', () => {
  console.log('qv-video error ' + (v.error ? v.error.code + ' ' + v.error.message : ''));
  window.close();
});
</script></body></html>
)"));
    std::string log = commandOutput(
        "HOME='" + dir_->path() +
        "' timeout 120 chromium --headless=new --no-sandbox --disable-gpu "
        "--autoplay-policy=no-user-gesture-required --enable-logging=stderr --v=0 --user-data-dir='" +
        path("chromium") + "' 'file://" + path("b/page.html") + "' 2>&1");
    EXPECT_NE(log.find("qv-video ended 320x240"), std::string::npos) << log;
}

// ffmpeg failing at the start, or ending before it has taken every frame, ends the capture with exit code
// 1 and a message that says so, without a hang, a crash or an unfinished video left behind.
TEST(VideoFailures, AFailingOrVanishingEncoderIsReported) {
    if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
    TempDir dir;
    ASSERT_TRUE(dir.archiveOnly());
    const std::string times = " --size 320x240 --times 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15";

    // No ffmpeg at all.
    ASSERT_EQ(std::system(("mkdir -p '" + dir / "empty" + "'").c_str()), 0);
    Outcome run =
        runQuorvane(dir.path(), "--capture out --video out/v.mp4" + times, "PATH='" + dir / "empty" + "'");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("quorvane: ffmpeg could not be started (is it installed?); no video was made\n"),
              std::string::npos)
        << run.err;

    // Stand-ins for ffmpeg: one that takes a frame and a half, then fails; one that takes two frames,
    // then ends as if all was well. The real one cannot write into a missing directory.
    ASSERT_EQ(std::system(("mkdir -p '" + dir / "fails" + "' '" + dir / "quits" + "'").c_str()), 0);
    ASSERT_TRUE(writeFile(dir / "fails/ffmpeg", "#!/bin/sh\nhead -c 460800 >/dev/null\nexit 3\n"));
    ASSERT_TRUE(writeFile(dir / "quits/ffmpeg",
                          "#!/bin/sh\nhead -c 614400 >/dev/null\n: > \"$(eval echo \\${$#})\"\nexit 0\n"));
    ASSERT_EQ(std::system(("chmod +x '" + dir / "fails/ffmpeg" + "' '" + dir / "quits/ffmpeg" + "'").c_str()),
              0);

    run = runQuorvane(dir.path(), "--capture out --video out/v.mp4" + times,
                      "PATH='" + dir / "fails" + "':\"$PATH\"");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("quorvane: ffmpeg failed with exit status 3; no video was made\n"),
              std::string::npos)
        << run.err;

    run = runQuorvane(dir.path(), "--capture out --video out/v.mp4" + times,
                      "PATH='" + dir / "quits" + "':\"$PATH\"");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("quorvane: ffmpeg stopped reading frames before the end; no video was made\n"),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(exists(dir / "out/v.mp4")) << "an unfinished video was left behind";

    if (haveCommand("ffmpeg")) {
        run = runQuorvane(dir.path(), "--capture out --video missing/v.mp4" + times);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find("quorvane: ffmpeg failed with exit status "), std::string::npos) << run.err;
    }
}

// The lossless video: a range of six frames at 59.94 frames a second in an odd size, once with the PNG
// frames and once without; ffmpeg decodes it to exactly the PNG frames' pixels and the soundtrack's
// samples.
TEST(LosslessVideo, DecodesToThePngFramesAndTheSoundtrackExactly) {
    if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
    if (!haveCommand("ffmpeg") || !haveCommand("ffprobe")) GTEST_SKIP() << "ffmpeg is not installed";
    TempDir dir;
    ASSERT_TRUE(dir.archiveOnly());
    const std::string common = " --fps 60000/1001 --range 16:16.1 --size 321x241";
    Outcome run = runQuorvane(dir.path(), "--capture a --video a/v.mkv --frames" + common);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    run = runQuorvane(dir.path(), "--capture b --video b/v.MKV" + common);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string video = dir / "a/v.mkv";
    EXPECT_TRUE(readFile(video) == readFile(dir / "b/v.MKV")) << "two captures made different videos";

    // FFV1 in 8-bit RGB without subsampling, FLAC sound, at the rate asked for.
    std::string streams = commandOutput(
        "ffprobe -v error -show_entries stream=codec_name,pix_fmt,width,height "
        "-of compact=nokey=0 '" +
        video + "'");
    EXPECT_NE(streams.find("codec_name=ffv1|width=321|height=241|pix_fmt=bgr0"), std::string::npos)
        << streams;
    EXPECT_NE(streams.find("codec_name=flac"), std::string::npos) << streams;
    const std::string rate = commandOutput(
        "ffprobe -v error -select_streams v -show_entries stream=avg_frame_rate "
        "-of default=nokey=1:noprint_wrappers=1 '" +
        video + "'");
    char* end = nullptr;
    const double num = std::strtod(rate.c_str(), &end), den = *end == '/' ? std::strtod(end + 1, nullptr) : 1;
    EXPECT_NEAR(num / den, 60000.0 / 1001, 0.01) << rate;  // Matroska keeps times to the millisecond

    // Every picture decodes to its PNG frame's pixels exactly, in order, and there are no others.
    std::string pngs;
    for (int n = 960; n <= 965; ++n) {
        Picture p = readPicture(dir / ("a/" + frameName(n)));
        ASSERT_TRUE(p.ok()) << n;
        ASSERT_EQ(p.width, 321);
        ASSERT_EQ(p.height, 241);
        pngs.append(p.rgb.begin(), p.rgb.end());
    }
    ASSERT_EQ(std::system(("ffmpeg -v error -nostdin -i '" + video +
                           "' -map 0:v -f rawvideo -pix_fmt rgb24 '" + dir / "a/decoded.rgb" + "'")
                              .c_str()),
              0);
    const std::string decoded = readFile(dir / "a/decoded.rgb");
    EXPECT_EQ(decoded.size(), pngs.size());
    EXPECT_TRUE(decoded == pngs) << "the decoded pictures are not the PNG frames";

    // The sound decodes to the soundtrack's samples (the range's own), from the first picture on.
    ASSERT_EQ(std::system(("ffmpeg -v error -nostdin -i '" + video + "' -map 0:a -f s16le '" +
                           dir / "a/decoded.pcm" + "'")
                              .c_str()),
              0);
    const std::string wav = readFile(dir / "a/soundtrack.wav");
    ASSERT_GT(wav.size(), 44u);
    const std::string pcm = readFile(dir / "a/decoded.pcm");
    EXPECT_EQ(pcm.size(), wav.size() - 44);
    EXPECT_TRUE(pcm == wav.substr(44)) << "the video's sound is not the soundtrack";
    const std::string starts = commandOutput(
        "ffprobe -v error -show_entries stream=start_time "
        "-of default=nokey=1:noprint_wrappers=1 '" +
        video + "'");
    EXPECT_EQ(starts, "0.000000\n0.000000\n");
}
