// The whole production rendered to files, headless, on the default data set and on variants of it: the
// loading picture first, the time line's layers at chosen times, the beat cuts, the end of the run, the
// data served from the archive or from data/, and a missing asset; a range at a fractional rate with its
// sound, and motion blur against its sub-frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "capture_support.h"

using namespace capture_test;

namespace {

// The times the shared captures render, ascending.
const std::vector<double> kTimes = {0.0, 0.95, 1.0, 1.05, 3.0, 4.95, 5.05, 5.96, 15.9, 16.0, 31.1, 31.3};
const char* const kTimesArg = "0,0.95,1,1.05,3,4.95,5.05,5.96,15.9,16,31.1,31.3";

int frameAt(double t) {
    for (size_t i = 0; i < kTimes.size(); ++i)
        if (std::fabs(kTimes[i] - t) < 1e-9) return int(i);
    return -1;
}

// The beats of the first 32 seconds (and the next one), as the time line has them.
unsigned beatsPassed(double t) {
    const double beats[] = {0, 1, 5, 6, 10, 14, 16, 24, 25, 28, 30, 42};
    unsigned n = 0;
    while (n < 12 && beats[n] < float(t)) ++n;
    return n;
}

class Capture : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!haveDefaultDataSet()) return;
        archive_ = new TempDir;
        loose_ = new TempDir;
        ASSERT_TRUE(archive_->archiveOnly());
        ASSERT_TRUE(loose_->looseFiles());
        std::string args = std::string("--capture out --times ") + kTimesArg;
        archiveRun_ = new Outcome(runQuorvane(archive_->path(), args));
        looseRun_ = new Outcome(runQuorvane(loose_->path(), args));
    }
    static void TearDownTestSuite() {
        delete archive_;
        delete loose_;
        delete archiveRun_;
        delete looseRun_;
        archive_ = loose_ = nullptr;
        archiveRun_ = looseRun_ = nullptr;
    }
    void SetUp() override {
        if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
        ASSERT_EQ(archiveRun_->exitCode, 0) << archiveRun_->err;
    }
    static std::string out(const std::string& name) { return *archive_ / ("out/" + name); }
    static Picture frame(double t) { return readPicture(out(frameName(frameAt(t)))); }

    static TempDir* archive_;
    static TempDir* loose_;
    static Outcome* archiveRun_;
    static Outcome* looseRun_;
};
TempDir* Capture::archive_ = nullptr;
TempDir* Capture::loose_ = nullptr;
Outcome* Capture::archiveRun_ = nullptr;
Outcome* Capture::looseRun_ = nullptr;

}  // namespace

TEST_F(Capture, TheLoadingPictureIsPresentedFirst) {
    Picture shown = readPicture(out("loading.png"));
    Picture source = readPicture(assetsDir() + "/data/load.png");
    ASSERT_TRUE(shown.ok());
    ASSERT_TRUE(source.ok());
    ASSERT_EQ(shown.width, 640);
    ASSERT_EQ(shown.height, 480);
    ASSERT_EQ(source.width, 640) << "the comparison expects a 640 by 480 loading picture";
    ASSERT_EQ(source.height, 480);
    // An opaque copy over the whole back buffer; linear filtering blends neighbouring texels only.
    double diff = 0;
    for (size_t i = 0; i < shown.rgb.size(); ++i) diff += std::abs(int(shown.rgb[i]) - int(source.rgb[i]));
    EXPECT_LT(diff / double(shown.rgb.size()), 3.0);
    // Frames follow; the picture of the first frame is not the loading picture.
    Picture first = frame(0.0);
    ASSERT_TRUE(first.ok());
    EXPECT_NE(first.rgb, shown.rgb);
}

TEST_F(Capture, TimeLineLayers) {
    Picture quiet = frame(3.0), nearBeat = frame(5.96), beforeFlash = frame(15.9), flash = frame(16.0),
            fading = frame(31.1), black = frame(31.3);
    for (const Picture* p : {&quiet, &nearBeat, &beforeFlash, &flash, &fading, &black}) {
        ASSERT_TRUE(p->ok());
        ASSERT_EQ(p->width, 640);
        ASSERT_EQ(p->height, 480);
    }
    // Two seconds from any beat nothing darkens the picture; 0.04 s before the beat at 6 s the black
    // picture covers it at 93 % (the 7 % left of a full-scale channel is at most 18).
    EXPECT_GT(quiet.maxChannel(), 150);
    EXPECT_LE(nearBeat.maxChannel(), 19);
    EXPECT_GT(nearBeat.maxChannel(), 0);
    // At 16 s the video is added at full strength, at 15.9 s the frame is darkened by the beat at 16 s.
    EXPECT_GT(flash.mean(), 4 * beforeFlash.mean());
    // The final fade: 40 % black at 31.1 s, all black from 31.25 s on.
    EXPECT_GT(fading.maxChannel(), 0);
    EXPECT_EQ(black.maxChannel(), 0);
}

TEST_F(Capture, CameraCutsBetweenTheOrbitsOnTheBeatIndexParity) {
    std::vector<FrameLine> log = readFrameLog(out("frames.txt"));
    ASSERT_EQ(log.size(), kTimes.size());
    int odd = 0, even = 0;
    for (size_t i = 0; i < log.size(); ++i) {
        const FrameLine& l = log[i];
        SCOPED_TRACE("t = " + std::to_string(kTimes[i]));
        EXPECT_EQ(l.number, int(i));
        EXPECT_NEAR(l.t, kTimes[i], 1e-5);
        ASSERT_EQ(l.beat, beatsPassed(kTimes[i]));
        double t = float(kTimes[i]);
        if (l.beat % 2) {
            ++odd;
            EXPECT_NEAR(l.x, -80 * std::sin(0.3 * t), 1e-3);
            EXPECT_NEAR(l.y, 80 * std::cos(0.3 * t), 1e-3);
            EXPECT_NEAR(l.z, 20 * std::cos(0.4 * t), 1e-3);
        } else {
            ++even;
            EXPECT_NEAR(l.x, 100 * std::sin(0.3 * t), 1e-3);
            EXPECT_NEAR(l.y, 40 * std::cos(0.7 * t), 1e-3);
            EXPECT_NEAR(l.z, 60 * std::cos(0.3 * t), 1e-3);
        }
        EXPECT_GE(l.fov, 90.0);  // 90 degrees plus the music's part
    }
    EXPECT_GT(odd, 0);
    EXPECT_GT(even, 0);
    // A beat time equal to t is not yet passed: at exactly 1 s the odd orbit still holds.
    EXPECT_EQ(log[size_t(frameAt(1.0))].beat, 1u);
    EXPECT_EQ(log[size_t(frameAt(1.05))].beat, 2u);
}

TEST_F(Capture, DataFromTheDataDirectoryPlaysTheSameAsFromTheArchive) {
    ASSERT_EQ(looseRun_->exitCode, 0) << looseRun_->err;
    // Two captures of the same build are identical, whichever place the data comes from.
    std::vector<std::string> files = {"loading.png", "frames.txt", "soundtrack.wav"};
    for (size_t i = 0; i < kTimes.size(); ++i) files.push_back(frameName(int(i)));
    for (const std::string& name : files) {
        std::string a = readFile(*archive_ / ("out/" + name)), b = readFile(*loose_ / ("out/" + name));
        EXPECT_FALSE(a.empty()) << name;
        EXPECT_TRUE(a == b) << name << " differs";
    }
}

// The whole run at one frame a second, small pictures, with the video (and the frames) when ffmpeg is there.
TEST(CaptureRun, EndsAfterTheFirstFramePastThirtyTwoSeconds) {
    if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
    TempDir dir;
    ASSERT_TRUE(dir.archiveOnly());
    bool video = haveCommand("ffmpeg");
    Outcome run = runQuorvane(dir.path(), std::string("--capture out --fps 1 --size 64x48") +
                                              (video ? " --video out/run.mp4 --frames" : ""));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // t = 32.0 is still drawn; t = 33 is the first above 32 and the last frame.
    std::vector<FrameLine> log = readFrameLog(dir / "out/frames.txt");
    ASSERT_EQ(log.size(), 34u);
    EXPECT_DOUBLE_EQ(log[32].t, 32.0);
    EXPECT_DOUBLE_EQ(log[33].t, 33.0);
    EXPECT_TRUE(exists(dir / ("out/" + frameName(33))));
    EXPECT_FALSE(exists(dir / ("out/" + frameName(34))));
    Picture last = readPicture(dir / ("out/" + frameName(33)));
    ASSERT_TRUE(last.ok());
    EXPECT_EQ(last.width, 64);
    EXPECT_EQ(last.height, 48);
    EXPECT_EQ(last.maxChannel(), 0);
    // A progress bar on standard error, ending at 100 %.
    EXPECT_NE(run.err.find("100%"), std::string::npos) << run.err;

    // The soundtrack: a RIFF WAVE of 16-bit stereo at 44.1 kHz lasting the music's 34 seconds or so.
    std::string wav = readFile(dir / "out/soundtrack.wav");
    ASSERT_GT(wav.size(), 44u);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
    auto u32 = [&](size_t at) {
        return uint32_t(uint8_t(wav[at])) | uint32_t(uint8_t(wav[at + 1])) << 8 |
               uint32_t(uint8_t(wav[at + 2])) << 16 | uint32_t(uint8_t(wav[at + 3])) << 24;
    };
    EXPECT_EQ(u32(24), 44100u);
    EXPECT_EQ(uint8_t(wav[22]), 2);
    EXPECT_EQ(u32(40), wav.size() - 44);
    double seconds = double(wav.size() - 44) / 176400.0;
    EXPECT_GT(seconds, 32.5);
    EXPECT_LT(seconds, 40.0);

    if (video) {
        std::string mp4 = readFile(dir / "out/run.mp4");
        ASSERT_GT(mp4.size(), 8u);
        EXPECT_EQ(mp4.substr(4, 4), "ftyp");
    }
}

// The whole run at a fractional rate, 3/2 frames a second: frame 48 is at 32 s exactly (48 * 2 / 3, not a
// sum of rounded intervals), so it is still drawn, and frame 49 at 32.67 s is the last; the MP4 keeps the
// rate as the fraction.
TEST(CaptureRun, AFractionalRateEndsAfterTheFirstFramePastThirtyTwoSeconds) {
    if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
    TempDir dir;
    ASSERT_TRUE(dir.archiveOnly());
    const bool video = haveCommand("ffmpeg") && haveCommand("ffprobe");
    Outcome run = runQuorvane(dir.path(), std::string("--capture out --fps 3/2 --size 64x48") +
                                              (video ? " --video out/run.mp4 --frames" : ""));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<FrameLine> log = readFrameLog(dir / "out/frames.txt");
    ASSERT_EQ(log.size(), 50u);
    for (size_t n = 0; n < log.size(); ++n) {
        EXPECT_EQ(log[n].number, int(n));
        EXPECT_NEAR(log[n].t, float(double(2 * n) / 3), 5.1e-7) << "frame " << n;
    }
    EXPECT_EQ(log[48].t, 32.0);
    EXPECT_TRUE(exists(dir / ("out/" + frameName(49))));
    EXPECT_FALSE(exists(dir / ("out/" + frameName(50))));
    if (video) {
        std::string streams;
        ASSERT_EQ(qvtest::runCommand("ffprobe -v error -select_streams v -show_entries "
                                     "stream=r_frame_rate,nb_frames -of compact=nokey=0 '" +
                                         dir / "out/run.mp4" + "'",
                                     &streams),
                  0);
        EXPECT_NE(streams.find("r_frame_rate=3/2|nb_frames=50"), std::string::npos) << streams;
    }
}

TEST(CaptureRun, MissingAssetEndsWithTheNestedTextAfterTheLoadingPicture) {
    if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
    TempDir dir;
    ASSERT_TRUE(dir.looseFiles({"stone.png"}));  // named by materials of meshes of the scene
    Outcome run = runQuorvane(dir.path(), "--capture out --times 0");
    EXPECT_EQ(run.exitCode, 1);
    // scene, mesh, material, texture: one "Failed to load " line each, then the texture loader's text.
    EXPECT_EQ(run.err.find("Error: Failed to load plinthar.scene\nFailed to load "), 0u) << run.err;
    EXPECT_NE(run.err.find(".mat\nFailed to load stone.png\nfile not found: stone.png\n"), std::string::npos)
        << run.err;
    size_t lines = 0;
    for (size_t at = run.err.find("Failed to load "); at != std::string::npos;
         at = run.err.find("Failed to load ", at + 1))
        ++lines;
    EXPECT_EQ(lines, 4u);
    EXPECT_TRUE(readPicture(dir / "out/loading.png").ok());
    EXPECT_FALSE(exists(dir / ("out/" + frameName(0))));
}

TEST(CaptureRun, MissingSoundtrackAndVideoTexts) {
    if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
    TempDir dir;
    ASSERT_TRUE(dir.looseFiles({"ferrowake.mp3"}));
    Outcome run = runQuorvane(dir.path(), "--capture out --times 0");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "Error: Failed to load ferrowake.mp3\nfile not found\n");

    // Music that is not MPEG audio: the stream's text for code 41, without any sound device.
    ASSERT_TRUE(writeFile(dir / "data/ferrowake.mp3", std::string(5000, 'x')));
    run = runQuorvane(dir.path(), "--capture out --times 0");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "Error: Failed to load ferrowake.mp3\nThe file's format is not recognised/supported.\n");

    // The video names its file like every other asset, with the video texture's own text after it.
    std::string video = readFile(dir / "data/test.vpg");
    std::remove((dir / "data/test.vpg").c_str());
    run = runQuorvane(dir.path(), "--capture out --times 0");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "Error: Failed to load test.vpg\nfile not found\n");
    // A header that counts more pictures than the file holds records for.
    ASSERT_GT(video.size(), 24u);
    video[16] = '\xff', video[17] = '\xff';
    ASSERT_TRUE(writeFile(dir / "data/test.vpg", video));
    run = runQuorvane(dir.path(), "--capture out --times 0");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "Error: Failed to load test.vpg\nnot a VPG-file.\n");
}

namespace {

// Captures for archivists at 59.94 frames a second (60000/1001), around the beat at 16 s: a range of six
// frames after it; the frame before it with eight sub-frames of motion blur (its shutter stays open over
// the beat, which cuts from the darkened picture to the video's flash and the other camera orbit); and the
// same times (the range's frames and the sub-frames) rendered one by one as a list of times.
constexpr uint64_t kNum = 60000, kDen = 1001;
constexpr size_t kFirst = 960, kLast = 965;  // the frames of --range 16:16.1
constexpr size_t kBlurred = 959;             // the frame of --range 15.99:16, 15.9993 s
constexpr uint64_t kSubFrames = 8;

double frameTime(uint64_t n) {
    return double(n * kDen) / double(kNum);
}
double subFrameTime(uint64_t n, uint64_t i) {
    return double((2 * kSubFrames * n + i) * kDen) / double(2 * kSubFrames * kNum);
}
// The first sample of frame n in 44.1 kHz sound, to the nearest.
uint64_t firstSample(uint64_t n) {
    return (n * kDen * 44100 * 2 + kNum) / (2 * kNum);
}

// sRGB levels to linear light and back (IEC 61966-2-1), rounded to the nearest level.
double toLinear(int level) {
    const double v = level / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
int toLevel(double linear) {
    const double v = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    return int(std::lround(v * 255.0));
}

class ArchivalCapture : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!haveDefaultDataSet()) return;
        dir_ = new TempDir;
        ASSERT_TRUE(dir_->archiveOnly());
        // The list: each range frame's time and each sub-frame's, ascending, to 17 digits (exact).
        for (size_t n = kFirst; n <= kLast; ++n) times_.push_back(frameTime(n));
        for (uint64_t i = 0; i < kSubFrames; ++i) times_.push_back(subFrameTime(kBlurred, i));
        std::sort(times_.begin(), times_.end());
        std::string list;
        for (double t : times_) {
            char text[32];
            std::snprintf(text, sizeof text, "%.17g", t);
            list += (list.empty() ? "" : ",") + std::string(text);
        }
        const std::string rate = " --fps 60000/1001";
        range_ = new Outcome(runQuorvane(dir_->path(), "--capture range --range 16:16.1" + rate));
        blur_ =
            new Outcome(runQuorvane(dir_->path(), "--capture blur --range 15.99:16 --motion-blur 8" + rate));
        list_ = new Outcome(runQuorvane(dir_->path(), "--capture list --times " + list));
    }
    static void TearDownTestSuite() {
        delete dir_;
        delete range_;
        delete blur_;
        delete list_;
        dir_ = nullptr;
        range_ = blur_ = list_ = nullptr;
        times_.clear();
    }
    void SetUp() override {
        if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
        for (const Outcome* run : {range_, blur_, list_}) ASSERT_EQ(run->exitCode, 0) << run->err;
    }
    static std::string path(const std::string& name) { return *dir_ / name; }
    // The picture the list rendered at time t.
    static Picture listed(double t) {
        const size_t at = size_t(std::lower_bound(times_.begin(), times_.end(), t) - times_.begin());
        return readPicture(path("list/" + frameName(int(at))));
    }

    static TempDir* dir_;
    static Outcome *range_, *blur_, *list_;
    static std::vector<double> times_;
};
TempDir* ArchivalCapture::dir_ = nullptr;
Outcome* ArchivalCapture::range_ = nullptr;
Outcome* ArchivalCapture::blur_ = nullptr;
Outcome* ArchivalCapture::list_ = nullptr;
std::vector<double> ArchivalCapture::times_;

}  // namespace

TEST_F(ArchivalCapture, ARangeKeepsTheRunsFrameNumbersTimesPicturesAndSound) {
    // Frames 960 (16.016 s) to 965 (16.099 s), numbered as in the whole run, and nothing else.
    EXPECT_FALSE(exists(path("range/" + frameName(0))));
    EXPECT_FALSE(exists(path("range/" + frameName(int(kFirst) - 1))));
    EXPECT_FALSE(exists(path("range/" + frameName(int(kLast) + 1))));
    std::vector<FrameLine> log = readFrameLog(path("range/frames.txt"));
    ASSERT_EQ(log.size(), kLast - kFirst + 1);
    for (size_t n = kFirst; n <= kLast; ++n) {
        SCOPED_TRACE("frame " + std::to_string(n));
        const FrameLine& line = log[n - kFirst];
        EXPECT_EQ(line.number, int(n));
        EXPECT_NEAR(line.t, float(frameTime(n)), 5.1e-7);  // the frame's time as a float, to the microsecond
        // The picture of the frame's own time, whichever way it is asked for.
        Picture own = readPicture(path("range/" + frameName(int(n))));
        ASSERT_TRUE(own.ok());
        EXPECT_TRUE(own.rgb == listed(frameTime(n)).rgb);
    }

    // The sound is the music's from the first frame's time to the end of the last frame's interval, at
    // the nearest samples: a cut of the whole soundtrack (which a list of times keeps).
    const std::string whole = readFile(path("list/soundtrack.wav")),
                      cut = readFile(path("range/soundtrack.wav"));
    ASSERT_GT(whole.size(), 44u);
    ASSERT_GT(cut.size(), 44u);
    EXPECT_EQ(cut.substr(0, 4), "RIFF");
    EXPECT_EQ(cut.substr(20, 20), whole.substr(20, 20));  // the same format
    const size_t from = size_t(firstSample(kFirst)), to = size_t(firstSample(kLast + 1));
    EXPECT_EQ(from, 706306u);
    ASSERT_EQ(cut.size() - 44, (to - from) * 4);
    EXPECT_TRUE(cut.substr(44) == whole.substr(44 + from * 4, (to - from) * 4));
}

TEST_F(ArchivalCapture, MotionBlurIsTheLinearLightMeanOfItsSubFrames) {
    Picture blurred = readPicture(path("blur/" + frameName(int(kBlurred))));
    ASSERT_TRUE(blurred.ok());
    std::vector<Picture> subFrames;
    for (uint64_t i = 0; i < kSubFrames; ++i) {
        subFrames.push_back(listed(subFrameTime(kBlurred, i)));
        ASSERT_EQ(subFrames.back().rgb.size(), blurred.rgb.size());
    }
    int worst = 0, naiveWorst = 0;
    double moved = 0;
    for (size_t c = 0; c < blurred.rgb.size(); ++c) {
        double linear = 0, encoded = 0;
        for (const Picture& p : subFrames) {
            linear += toLinear(p.rgb[c]);
            encoded += p.rgb[c];
        }
        const int mean = toLevel(linear / kSubFrames), naive = int(std::lround(encoded / kSubFrames));
        worst = std::max(worst, std::abs(int(blurred.rgb[c]) - mean));
        naiveWorst = std::max(naiveWorst, std::abs(int(blurred.rgb[c]) - naive));
        moved += std::abs(int(subFrames.front().rgb[c]) - int(subFrames.back().rgb[c]));
    }
    EXPECT_LE(worst, 1) << "levels from the linear-light mean of the sub-frames";
    // The sub-frames differ, and averaging the sRGB levels themselves would be told apart.
    EXPECT_GT(moved / double(blurred.rgb.size()), 0.5);
    EXPECT_GT(naiveWorst, 2) << "the sub-frames are too alike to tell linear light from sRGB levels";

    // The frame's log line is that of its own time (its first sub-frame), as without the blur.
    std::vector<FrameLine> blur = readFrameLog(path("blur/frames.txt")),
                           list = readFrameLog(path("list/frames.txt"));
    ASSERT_EQ(blur.size(), 1u);
    ASSERT_EQ(list.size(), times_.size());
    const FrameLine& a = blur[0];
    const FrameLine& b =
        list[size_t(std::lower_bound(times_.begin(), times_.end(), frameTime(kBlurred)) - times_.begin())];
    EXPECT_EQ(a.number, int(kBlurred));
    EXPECT_EQ(std::make_tuple(a.t, a.beat, a.x, a.y, a.z, a.fov),
              std::make_tuple(b.t, b.beat, b.x, b.y, b.z, b.fov));
}
