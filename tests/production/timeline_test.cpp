// The timeline file: what the writer writes reads back to exactly the same values, a mistake is named with
// its line, and a data set's own timeline is what the run follows (the cuts in the frame log and the camera,
// the blackouts, the flashes and the fade at its times), while the built-in one written out changes nothing.
#include "production/timeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "capture_support.h"
#include "render_in_process.h"
#include "resources/diagnostics.h"

using namespace capture_test;

namespace {

std::string parseError(const std::string& text) {
    try {
        parseTimeline(text, "timeline.txt");
    } catch (const std::string& e) {
        return e;
    }
    return "";
}

// A float from random bits: any finite, non-negative value, subnormals included.
float anyTime(std::mt19937& random) {
    for (;;) {
        const uint32_t bits = random() & 0x7fffffffu;
        float f;
        std::memcpy(&f, &bits, sizeof f);
        if (std::isfinite(f)) return f;
    }
}

Timeline randomTimeline(std::mt19937& random) {
    Timeline t;
    std::uniform_real_distribution<float> seconds(0.0f, 300.0f), unit(0.0f, 1.0f);
    const bool wild = random() % 2;  // any float, or times as a maker writes them
    const size_t cuts = random() % 40;
    for (size_t i = 0; i < cuts; ++i) t.cuts.push_back(wild ? anyTime(random) : seconds(random));
    std::sort(t.cuts.begin(), t.cuts.end());
    t.cuts.erase(std::unique(t.cuts.begin(), t.cuts.end()), t.cuts.end());
    std::vector<float> keys;
    for (size_t i = 1 + random() % 9; i > 0; --i) keys.push_back(wild ? anyTime(random) : seconds(random));
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    for (float at : keys) t.pulse.push_back({at, unit(random)});
    t.flashesFrom = wild ? anyTime(random) : seconds(random);
    t.blackout = wild ? anyTime(random) : seconds(random);
    t.fadeStart = wild ? anyTime(random) : seconds(random);
    do t.fadeLength = wild ? anyTime(random) : seconds(random);
    while (!(t.fadeLength > 0));
    return t;
}

}  // namespace

TEST(TimelineFile, WrittenTimelinesReadBackExactly) {
    const std::string builtIn = writeTimeline(builtInTimeline());
    EXPECT_EQ(parseTimeline(builtIn, "timeline.txt"), builtInTimeline()) << builtIn;
    // What the built-in one holds, as the file states it (the production's cut table, the pulse of the
    // first six seconds, flashes from 16 s, blackouts clearing within 1/1.75 s, black from 31.25 s).
    EXPECT_NE(builtIn.find("\ncuts 0 1 5 6 10 14 16 24 25 28 30 42 46 76 76.5 77 84 92 92.5 93 110 112 128 "
                           "129 162 164 178 180 198 199 208 220 221 223 224 256\n"),
              std::string::npos);
    EXPECT_NE(builtIn.find("\npulse 0:0 1:1 2:0 3:1 4:0 5:1 6:0\n"), std::string::npos);
    EXPECT_NE(builtIn.find("\nflashes 16\n"), std::string::npos);
    EXPECT_NE(builtIn.find("\nblackout 1.75\n"), std::string::npos);
    EXPECT_NE(builtIn.find("\nfade 31 0.25\n"), std::string::npos);

    std::mt19937 random(27);
    for (int i = 0; i < 300; ++i) {
        const Timeline t = randomTimeline(random);
        const std::string text = writeTimeline(t);
        DiagnosticList problems;
        const Timeline back = checkTimeline(text, "timeline.txt", problems);
        ASSERT_TRUE(problems.empty()) << problems.list()[0].text() << "\n" << text;
        ASSERT_EQ(back, t) << text;
    }
}

TEST(TimelineFile, SettingsLeftOutKeepTheBuiltInValues) {
    EXPECT_EQ(parseTimeline("", "timeline.txt"), builtInTimeline());
    EXPECT_EQ(parseTimeline("# nothing but a comment\n\n   \t\n", "timeline.txt"), builtInTimeline());

    // Comments after values, tabs, CRLF line ends, numbers as the C library writes them, no last line end.
    Timeline t =
        parseTimeline("# my cuts\r\ncuts 2 4.5\t7.   2e+1 # four\r\n\r\nfade 1.25E1 1", "timeline.txt");
    Timeline expected = builtInTimeline();
    expected.cuts = {2.0f, 4.5f, 7.0f, 20.0f};
    expected.fadeStart = 12.5f;
    expected.fadeLength = 1.0f;
    EXPECT_EQ(t, expected);

    // No cuts at all, a single pulse key, blackouts off.
    t = parseTimeline("cuts\npulse 0:0.5\nblackout 0\n", "timeline.txt");
    EXPECT_TRUE(t.cuts.empty());
    ASSERT_EQ(t.pulse.size(), 1u);
    EXPECT_EQ(t.pulse[0].value, 0.5f);
    EXPECT_EQ(t.blackout, 0.0f);
    EXPECT_EQ(t.flashesFrom, builtInTimeline().flashesFrom);
}

TEST(TimelineFile, MistakesAreNamedWithTheirLines) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"cuts 1 2\ncuts 3", "timeline.txt:2: cuts: given again (first on line 1)"},
        {"\n\ncuts 0 5 1",
         "timeline.txt:3: cuts: 1 does not come after 5 (the cuts must be strictly ascending)"},
        {"cuts 0 1 1", "timeline.txt:1: cuts: 1 does not come after 1 (the cuts must be strictly ascending)"},
        {"cuts 0 -1", "timeline.txt:1: cuts: -1 s is a negative time"},
        {"cuts 0 1x", "timeline.txt:1: cuts: '1x' is not a number"},
        {"cuts 0 1,5", "timeline.txt:1: cuts: '1,5' is not a number"},
        {"cuts nan", "timeline.txt:1: cuts: 'nan' is not a number"},
        {"cuts 1 inf", "timeline.txt:1: cuts: 'inf' is not a number"},
        {"cuts +1", "timeline.txt:1: cuts: '+1' is not a number"},
        {"cuts 1 2e", "timeline.txt:1: cuts: '2e' is not a number"},
        {"cuts .", "timeline.txt:1: cuts: '.' is not a number"},
        {"cuts 1e39", "timeline.txt:1: cuts: '1e39' is out of a float's range"},
        {"cuts 0x10", "timeline.txt:1: cuts: '0x10' is not a number"},
        {"pulse", "timeline.txt:1: pulse: needs at least one key TIME:VALUE"},
        {"pulse 0:0 1", "timeline.txt:1: pulse: '1' is not a key TIME:VALUE"},
        {"pulse 0:0 1:", "timeline.txt:1: pulse: '' is not a number"},
        {"pulse 0:0 1:1.5", "timeline.txt:1: pulse: the value 1.5 at 1 s is outside 0 to 1"},
        {"pulse 0:0 2:1 2:0",
         "timeline.txt:1: pulse: the key at 2 s does not come after the one at 2 s (the keys must be "
         "strictly "
         "ascending in time)"},
        {"flashes", "timeline.txt:1: flashes: takes one time in seconds, found nothing"},
        {"flashes 16 17", "timeline.txt:1: flashes: takes one time in seconds, found 2 values"},
        {"blackout -1.75", "timeline.txt:1: blackout: the factor -1.75 is negative (0 turns it off)"},
        {"fade 31", "timeline.txt:1: fade: takes a start and a length in seconds, found 1 value"},
        {"fade 31 0", "timeline.txt:1: fade: the length 0 s is not positive"},
        {"fade 31 -2", "timeline.txt:1: fade: the length -2 s is not positive"},
        {"# cuts\nfades 31 1",
         "timeline.txt:2: unknown setting 'fades' (did you mean 'fade'?); the settings are cuts, pulse, "
         "flashes, blackout, fade"},
        {"Cuts 1",
         "timeline.txt:1: unknown setting 'Cuts' (did you mean 'cuts'?); the settings are cuts, "
         "pulse, flashes, blackout, fade"},
        {"tempo 120",
         "timeline.txt:1: unknown setting 'tempo'; the settings are cuts, pulse, flashes, "
         "blackout, fade"},
    };
    for (const auto& c : cases) EXPECT_EQ(parseError(c.text), c.error) << c.text;
    // Bytes that are not text are quoted as '?', and a long word is cut short.
    EXPECT_EQ(parseError(std::string("cuts 1\0002", 8)), "timeline.txt:1: cuts: '1?2' is not a number");
    EXPECT_EQ(parseError("cuts " + std::string(5000, '7') + "x"),
              "timeline.txt:1: cuts: '" + std::string(32, '7') + "...' is not a number");

    // The check lists every bad line, and keeps the good ones.
    DiagnosticList problems;
    const Timeline t =
        checkTimeline("cuts 3 2\nflashes 8\nfade 1\nblackout x\nblackout 2\n", "own.txt", problems);
    std::vector<std::string> texts;
    for (const Diagnostic& d : problems.list()) texts.push_back(d.text());
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "own.txt:1: cuts: 2 does not come after 3 (the cuts must be strictly ascending)",
                         "own.txt:3: fade: takes a start and a length in seconds, found 1 value",
                         "own.txt:4: blackout: 'x' is not a number",
                     }));
    EXPECT_EQ(t.flashesFrom, 8.0f);
    EXPECT_EQ(t.blackout, 2.0f);
    EXPECT_EQ(t.cuts, builtInTimeline().cuts);
}

namespace {

struct Captured {
    std::vector<Picture> pictures;
    std::vector<FrameLine> log;
    std::string logText;
};

// A capture of the times in `dir` (a data set of loose files), at the back buffer's own size so that the
// pictures are the drawn ones, unfiltered.
Captured captureAt(TempDir& dir, const std::string& out, const std::vector<std::string>& times) {
    std::string list;
    for (const std::string& t : times) list += (list.empty() ? "" : ",") + t;
    Captured c;
    Outcome run = runQuorvane(dir.path(), "--capture " + out + " --times " + list);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    for (size_t i = 0; i < times.size(); ++i)
        c.pictures.push_back(readPicture(dir / (out + "/" + frameName(int(i)))));
    c.logText = readFile(dir / (out + "/frames.txt"));
    c.log = readFrameLog(dir / (out + "/frames.txt"));
    return c;
}

// The named timeline file of the data set in `dir`, read through the data lookup there into `timeline`;
// the error text, or "" when it loaded.
std::string loadTimelineFileIn(const TempDir& dir, const std::string& name, Timeline& timeline) {
    char previous[4096];
    if (!getcwd(previous, sizeof previous) || chdir(dir.path().c_str()) != 0)
        return "could not enter the folder";
    std::string error;
    try {
        timeline = loadTimelineFile(name);
    } catch (const std::string& e) {
        error = e;
    }
    if (chdir(previous) != 0) ADD_FAILURE() << "could not go back to " << previous;
    return error;
}

}  // namespace

TEST(TimelineData, ADataSetsOwnTimelineIsWhatTheRunFollows) {
    if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
    const std::vector<std::string> times = {"1", "2", "2.3", "4.52", "6.02", "9", "13.5"};
    enum { kBefore, kOnCut, kAfterCut, kNearOwnCut, kNearBuiltInCut, kFlash, kFaded };
    const std::vector<float> ownCuts = {2, 4.5f, 7, 20};

    TempDir own, noFlashes, plain, written;
    ASSERT_TRUE(own.looseFiles() && noFlashes.looseFiles() && plain.looseFiles() && written.looseFiles());
    ASSERT_TRUE(
        writeFile(own / "data/timeline.txt", "# my own cuts\ncuts 2 4.5 7 20\nflashes 8\nfade 12 1\n"));
    ASSERT_TRUE(writeFile(noFlashes / "data/timeline.txt", "cuts 2 4.5 7 20\nfade 12 1\n"));
    // The built-in timeline as the tool writes it out.
    ASSERT_EQ(qvtest::runCommand("'" + std::string(QV_BINARY_DIR) + "/qvtool' timeline '" +
                                 (written / "data/timeline.txt") + "'"),
              0);
    const Captured a = captureAt(own, "out", times), b = captureAt(noFlashes, "out", times),
                   p = captureAt(plain, "out", times), w = captureAt(written, "out", times);
    ASSERT_EQ(a.log.size(), times.size());
    for (const Captured* c : {&a, &b, &p, &w})
        for (const Picture& picture : c->pictures) ASSERT_TRUE(picture.ok());

    // The beat column counts the file's cuts before each time (one at exactly t not yet), and the camera
    // takes the orbit of its parity.
    for (size_t i = 0; i < times.size(); ++i) {
        const double t = a.log[i].t;
        SCOPED_TRACE("t = " + times[i]);
        const unsigned passed =
            unsigned(std::count_if(ownCuts.begin(), ownCuts.end(), [&](float c) { return c < float(t); }));
        EXPECT_EQ(a.log[i].beat, passed);
        const double x = passed % 2 ? -80.0 * std::sin(0.3 * t) : 100.0 * std::sin(0.3 * t);
        const double y = passed % 2 ? 80.0 * std::cos(0.3 * t) : 40.0 * std::cos(0.7 * t);
        const double z = passed % 2 ? 20.0 * std::cos(0.4 * t) : 60.0 * std::cos(0.3 * t);
        EXPECT_NEAR(a.log[i].x, x, 1e-3);
        EXPECT_NEAR(a.log[i].y, y, 1e-3);
        EXPECT_NEAR(a.log[i].z, z, 1e-3);
    }
    EXPECT_EQ(a.log[kOnCut].beat, 0u);
    EXPECT_EQ(a.log[kAfterCut].beat, 1u);

    // The blackouts are at the file's cuts: 0.02 s from its cut at 4.5 the picture is nearly black where the
    // built-in one (0.48 s from a cut) is not, and 0.02 s from the built-in cut at 6 the reverse (both on
    // the same orbit there).
    EXPECT_LT(a.pictures[kNearOwnCut].mean(), 0.25 * p.pictures[kNearOwnCut].mean());
    EXPECT_LT(p.pictures[kNearBuiltInCut].mean(), 0.25 * a.pictures[kNearBuiltInCut].mean());
    // The flashes from 8 s: the clip added over the same picture.
    const Picture &flashed = a.pictures[kFlash], &unflashed = b.pictures[kFlash];
    ASSERT_EQ(flashed.rgb.size(), unflashed.rgb.size());
    for (size_t k = 0; k < flashed.rgb.size(); ++k) ASSERT_GE(flashed.rgb[k], unflashed.rgb[k]) << k;
    EXPECT_GT(flashed.mean(), unflashed.mean() + 5.0);
    EXPECT_EQ(a.pictures[kBefore].rgb, b.pictures[kBefore].rgb);
    // The fade from 12 s over one second: black at 13.5 s, as the built-in one is not.
    EXPECT_EQ(a.pictures[kFaded].maxChannel(), 0);
    EXPECT_GT(p.pictures[kFaded].maxChannel(), 100);

    // A production given the file's timeline while it runs (as the studio does on a reload) draws its next
    // frame as a run that loaded it, and back again with the built-in one.
    Timeline ownTimeline;
    ASSERT_EQ(loadTimelineFileIn(own, kTimelineFile, ownTimeline), "");
    Timeline none;
    EXPECT_EQ(loadTimelineFileIn(plain, kTimelineFile, none), "timeline.txt: file not found");
    // Then the extremes the format allows: a cut near the largest float, the largest blackout factor, the
    // shortest fade (black at once), a constant pulse.
    const Timeline extremes = parseTimeline("cuts 3.4e38\nblackout 3.4e38\nfade 0 1.4e-45\npulse 0:1\n", "x");
    std::vector<RenderedFrame> switched;
    try {
        switched = renderInProcess(plain.path(), {4.52, 4.52, 13.5, 9, 4.52, 1},
                                   [&](Production& production, size_t i) {
                                       if (i == 1) production.setTimeline(ownTimeline);
                                       if (i == 4) production.setTimeline(builtInTimeline());
                                       if (i == 5) production.setTimeline(extremes);
                                   });
    } catch (const std::string& text) {
        FAIL() << text;
    }
    ASSERT_EQ(switched.size(), 6u);
    EXPECT_EQ(switched[0].rgb, p.pictures[kNearOwnCut].rgb);
    EXPECT_EQ(switched[1].rgb, a.pictures[kNearOwnCut].rgb);
    EXPECT_EQ(switched[2].rgb, a.pictures[kFaded].rgb);
    EXPECT_EQ(switched[3].rgb, a.pictures[kFlash].rgb);
    EXPECT_EQ(switched[3].beat, a.log[kFlash].beat);
    EXPECT_EQ(switched[4].rgb, p.pictures[kNearOwnCut].rgb);
    ASSERT_FALSE(switched[5].rgb.empty());
    EXPECT_EQ(*std::max_element(switched[5].rgb.begin(), switched[5].rgb.end()), 0);

    // The built-in timeline written out and read back changes nothing.
    EXPECT_EQ(w.logText, p.logText);
    for (size_t i = 0; i < times.size(); ++i) EXPECT_EQ(w.pictures[i].rgb, p.pictures[i].rgb) << times[i];
}

TEST(TimelineData, ABadTimelineEndsTheLoadNamingItsLine) {
    if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
    TempDir dir;
    ASSERT_TRUE(dir.looseFiles());
    ASSERT_TRUE(writeFile(dir / "data/timeline.txt", "cuts 1 2 3\n\nfade 31 0\n"));
    Outcome run = runQuorvane(dir.path(), "--capture out --size 32x24 --times 1");
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(
        run.err.find("Failed to load timeline.txt\ntimeline.txt:3: fade: the length 0 s is not positive"),
        std::string::npos)
        << run.err;
    // After the loading picture, as every other file's failure.
    EXPECT_TRUE(exists(dir / "out/loading.png"));
}
