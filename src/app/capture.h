#pragma once
// Rendering the production to files: the same loading phase and frame sequence as the live run, with the
// time taken from the frame number and rate instead of the sound device and the spectrum computed from the
// decoded music at each frame's time. No sound device is opened.
//
// Into the directory it writes:
//   loading.png          the loading picture, as presented during the loading phase
//   frame_NNNNN.png      one picture per frame, numbered from 00000 (with a video, only when asked for)
//   frames.txt           one line per frame: number, time, beat index, camera position x y z, field of view
//   soundtrack.wav       the decoded music, 16-bit PCM
// and, when asked, an MP4 video (H.264 and AAC) that ffmpeg encodes from the frames, handed to it through a
// pipe while the next ones render, and the soundtrack.
#include <string>
#include <vector>

#include "app/entry.h"

struct CaptureOptions {
    std::string directory;
    int fps = 60;
    // The pictures' size: the back buffer's. 4:3 sizes hold the picture rendered at that size; other aspects
    // the 4:3 picture at the largest size that fits, centred, black around it.
    int width = 640;
    int height = 480;
    std::string video;          // MP4 file to make with ffmpeg; empty for none
    bool frames = true;         // PNG frames: without a video always, with one only after "--frames"
    std::vector<double> times;  // render only these times, in ascending order; empty for the whole run
    bool progress = true;       // a progress bar on standard error
};

// The program's command line, in any order: "--windowed", "--scale K" (the render scale, live or captured:
// K times 640 by 480), and "--capture DIR" with its options "--fps N", "--size WxH" (not with --scale),
// "--video FILE.mp4" (an even size), "--frames" and "--times T,T,...". Anything else, and capture options
// without "--capture", is ignored.
struct CommandLine {
    EntryOptions entry;
    bool capture = false;
    CaptureOptions captureOptions;
    std::vector<std::string> ignored;
    std::string problem;  // what is wrong with a capture option; empty when nothing is
};
CommandLine parseCommandLine(const std::vector<std::string>& args);  // argv without the program name

extern const char* const kCaptureUsage;

// Renders as above. Returns 0 when everything was written, 1 after a thrown text was shown in a message
// box (as the live entry does) or when the video could not be made (said on standard error; ffmpeg missing,
// failing or no longer reading ends the capture, and no unfinished video stays behind).
int qv_capture(const CaptureOptions& capture, const EntryOptions& options = EntryOptions());
