// Helpers shared by the video decoder tests: a decoder session over vdec_call, stream files and
// reference decodes made with ffmpeg.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "run_command.h"
#include "scratch_dir.h"
#include "test_files.h"
#include "video/decoder.h"
#include "video/m4v_split.h"
#include "video/vdec_session.h"

namespace vtest {

using qvtest::readFile;
using qvtest::writeFile;

inline bool haveFfmpeg() {
    static const bool have = qvtest::haveCommand("ffmpeg");
    return have;
}

// A scratch folder for this test process, removed at exit (the tests delete their files as they go).
inline std::string tempDir() {
    static const qvtest::ScratchDir dir("qv_video_test");
    return dir.path().string();
}

inline int run(const std::string& cmd) {
    return qvtest::runCommand(cmd);
}

// The reference decode of an elementary stream as planar 4:2:0 frames (format "h263" for raw H.263).
inline bool ffmpegDecode(const std::string& in, const std::string& out, const std::string& format = "m4v") {
    const std::string codec = format == "h263" ? "h263" : "mpeg4";
    return run("ffmpeg -hide_banner -nostdin -loglevel error -y -threads 1 -flags +bitexact -idct simple "
               "-f " +
               format + " -c:v " + codec + " -i '" + in +
               "' -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt yuv420p '" + out + "'") == 0;
}

// A test stream from lavfi's testsrc2 made with ffmpeg's mpeg4 encoder and the given options.
inline bool ffmpegEncode(const std::string& out, int w, int h, int frames, const std::string& source,
                         const std::string& options) {
    char geometry[64];
    std::snprintf(geometry, sizeof geometry, "size=%dx%d:rate=25", w, h);
    return run("ffmpeg -hide_banner -nostdin -loglevel error -y -f lavfi -i " + source + "=" + geometry +
               " -frames:v " + std::to_string(frames) + " -c:v mpeg4 -threads 1 " + options + " -f m4v '" +
               out + "'") == 0;
}

// A stream made with ffmpeg's mpeg4 encoder from a lavfi source (testsrc2, mandelbrot) at 25 frames a
// second, with the encoder options given.
struct GeneratedStream {
    const char* label;
    int w, h, frames;
    const char* source;
    const char* options;
};

inline bool ffmpegEncode(const std::string& out, const GeneratedStream& s) {
    return ffmpegEncode(out, s.w, s.h, s.frames, s.source, s.options);
}

// One decoder session with its output picture, in the calling order of the video texture.
class Session {
public:
    Session(int w, int h, int format = 4) : w_(w), h_(h) {
        const VdecSession::Step failed = decoder_.open(w, h, format, 0);
        if (failed == VdecSession::Step::MemorySizes || failed == VdecSession::Step::Memory) {
            initResult_ = VDEC_BAD_ARGUMENT;  // no buffers: no picture size to hold either
            return;
        }
        initResult_ = failed == VdecSession::Step::Init ? decoder_.result() : VDEC_OK;
        output_.assign(size_t(w) * h * 4, 0xCD);
    }
    void release() { decoder_.release(); }
    int32_t initResult() const { return initResult_; }
    int32_t setPostproc(int level) { return decoder_.setPostproc(level); }

    int32_t decode(const std::vector<uint8_t>& record, bool render = true) {
        return decode(record.data(), record.size(), render);
    }
    int32_t decode(const uint8_t* data, size_t size, bool render = true) {
        return decoder_.decode(output_.data(), data, size, render);
    }
    const std::vector<uint8_t>& output() const { return output_; }
    void clearOutput() { std::fill(output_.begin(), output_.end(), 0xCD); }

    // The last decoded picture as planar 4:2:0 (chroma planes rounded up).
    std::vector<uint8_t> planes() const {
        std::vector<uint8_t> out;
        vdec::PlaneView pv[3];
        if (!vdec::decoderOutputPicture(pv, nullptr)) return out;
        for (auto& p : pv)
            for (int y = 0; y < p.height; ++y)
                out.insert(out.end(), p.data + y * p.stride, p.data + y * p.stride + p.width);
        return out;
    }
    size_t frameBytes() const { return size_t(w_) * h_ + 2 * size_t((w_ + 1) / 2) * ((h_ + 1) / 2); }

private:
    int w_, h_;
    VdecSession decoder_;
    std::vector<uint8_t> output_;
    int32_t initResult_ = -1;
};

inline double psnr(const uint8_t* a, const uint8_t* b, size_t n) {
    double se = 0;
    for (size_t i = 0; i < n; ++i) {
        double d = double(a[i]) - b[i];
        se += d * d;
    }
    if (se == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * double(n) / se);
}

struct DecodeResult {
    int frames = 0;
    int errors = 0;
    std::vector<uint8_t> yuv;  // every decoded frame, planar
};

// Decodes a whole elementary stream through vdec_call.
inline DecodeResult decodeStream(const std::vector<uint8_t>& stream, bool render = false, int postproc = 0) {
    DecodeResult r;
    int w = 0, h = 0;
    if (!m4v_layer_size(stream.data(), stream.size(), &w, &h)) return r;
    Session s(w, h);
    s.setPostproc(postproc);
    auto append = [&](const vdec::PlaneView* pv) {
        for (int i = 0; i < 3; ++i)
            for (int y = 0; y < pv[i].height; ++y)
                r.yuv.insert(r.yuv.end(), pv[i].data + y * pv[i].stride,
                             pv[i].data + y * pv[i].stride + pv[i].width);
        ++r.frames;
    };
    vdec::PlaneView pv[3];
    for (const auto& rec : m4v_split(stream.data(), stream.size())) {
        if (s.decode(rec, render) != VDEC_OK) {
            ++r.errors;
            continue;
        }
        bool isNew = false;
        if (vdec::decoderOutputPicture(pv, &isNew) && isNew) append(pv);
    }
    if (vdec::decoderPendingPicture(pv)) append(pv);
    return r;
}

struct Comparison {
    int frames = 0;
    int exact = 0;
    double minPsnr = 99.0;
    double avgPsnr = 0;
};

inline Comparison compare(const std::vector<uint8_t>& ours, const std::vector<uint8_t>& ref,
                          size_t frameBytes) {
    Comparison c;
    size_t n = std::min(ours.size(), ref.size()) / frameBytes;
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        double p = psnr(ours.data() + i * frameBytes, ref.data() + i * frameBytes, frameBytes);
        if (p >= 99.0) ++c.exact;
        if (p < c.minPsnr) c.minPsnr = p;
        sum += p;
    }
    c.frames = int(n);
    c.avgPsnr = n ? sum / double(n) : 0;
    return c;
}

}  // namespace vtest
