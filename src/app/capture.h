#pragma once
// Rendering the production to files: the same loading phase and frame sequence as the live run, with the
// time taken from the frame number and rate instead of the sound device and the spectrum computed from the
// decoded music at each frame's time. No sound device is opened.
//
// Into the directory it writes:
//   loading.png          the loading picture, as presented during the loading phase
//   frame_NNNNN.png      one picture per frame, numbered from 00000 as in the whole run, also when only a
//                        range of it is rendered (with a video, only when asked for)
//   frames.txt           one line per frame: number, time, beat index, camera position x y z, field of view
//   soundtrack.wav       the decoded music, 16-bit PCM; with a range, the range's sound only, from the first
//                        frame's time to the end of the last frame's interval (silence past the music's end)
// and, when asked, a video that ffmpeg encodes from the frames, handed to it through a pipe while the next
// ones render, and the soundtrack: an MP4 (H.264 and AAC), or for a name ending in ".mkv" a lossless
// Matroska file (FFV1 in 8-bit RGB and FLAC) whose decoded pictures are the PNG frames exactly.
//
// With motion blur every frame is the average of sub-frames spread over the first half of its interval
// (sub-frame i of N at t + i / N * 0.5 / fps), averaged in linear light: each sRGB channel decoded, the
// mean taken, encoded to sRGB again and rounded to the nearest level.
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/frame_loop.h"

struct CaptureOptions {
    std::string directory;
    FrameRate fps;  // 60 frames a second by default; a fraction such as 60000/1001
    // The pictures' size: the back buffer's. 4:3 sizes hold the picture rendered at that size; other aspects
    // the 4:3 picture at the largest size that fits, centred, black around it.
    int width = 640;
    int height = 480;
    std::string video;          // MP4 or MKV file to make with ffmpeg; empty for none
    bool frames = true;         // PNG frames: without a video always, with one only after "--frames"
    std::vector<double> times;  // render only these times, in ascending order; empty for the whole run
    TimeSpan range;             // render only the frames whose times fall in it (not with times)
    int motionBlur = 1;         // sub-frames averaged into each frame; 1 for none
    bool progress = true;       // a progress bar on standard error
};

// Whether the video named is the lossless one (a name ending in ".mkv", in any letter case).
bool losslessVideo(const std::string& path);

// The program's command line, in any order: "--windowed", "--scale K" (the render scale, live or captured:
// K times 640 by 480), "--studio [DIR]", and "--capture DIR" with its options "--fps N" or "--fps N/D",
// "--size WxH" (not with --scale), "--video FILE.mp4" (an even size) or "--video FILE.mkv", "--frames",
// "--times T,T,...", "--range A:B" (seconds; not with --times) and "--motion-blur N". Anything else, and
// capture options without "--capture", is ignored.
struct CommandLine {
    EntryOptions entry;
    bool capture = false;
    CaptureOptions captureOptions;
    bool studio = false;  // "--studio [DIR]": the studio on the folder DIR ("data" when none follows)
    std::string studioFolder;
    std::vector<std::string> ignored;
    std::string problem;  // what is wrong with a capture option; empty when nothing is
};
CommandLine parseCommandLine(const std::vector<std::string>& args);  // argv without the program name

// The ignored arguments as the warning lists them: space-separated, each misspelt option followed by the one
// it probably meant ("--captur (did you mean --capture?)").
std::string ignoredArguments(const std::vector<std::string>& ignored);

extern const char* const kCaptureUsage;

// Renders as above. Returns 0 when everything was written, 1 after a thrown text was shown in a message
// box (as the live entry does) or when the video could not be made (said on standard error; ffmpeg missing,
// failing or no longer reading ends the capture, and no unfinished video stays behind).
int qv_capture(const CaptureOptions& capture, const EntryOptions& options = EntryOptions());
