// Decoding speed of the video decoder against ffmpeg's own mpeg4 decoder (one thread) on the same
// streams, made here with ffmpeg's encoder as the decoder tests make theirs (one encoder thread, so the
// streams are the same on every machine). Prints frames per second of both, their ratio, and which kernel
// set the decoder ran. Arguments, if any, name the streams to run.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "video/kernels.h"
#include "video/m4v_split.h"
#include "video/vdec_session.h"
#include "video_test_util.h"

namespace {

// Best processor time of our decoder over the whole stream; render selects the BGR0 conversion too.
// Processor time rather than wall time: the machine is shared, and ffmpeg's figure is its own user time.
double timeOurs(const std::vector<uint8_t>& stream, bool render, int repeats, int* frames) {
    int w = 0, h = 0;
    if (!m4v_layer_size(stream.data(), stream.size(), &w, &h)) return -1;
    auto records = m4v_split(stream.data(), stream.size());
    std::vector<uint8_t> out(size_t(w) * h * 4);
    VdecSession decoder;
    double best = 1e9;
    for (int r = 0; r < repeats; ++r) {
        if (decoder.open(w, h) != VdecSession::Step::None) return -1;
        int ok = 0;
        std::clock_t t0 = std::clock();
        for (const auto& rec : records)
            if (decoder.decode(out.data(), rec.data(), rec.size(), render) == VDEC_OK) ++ok;
        double t = double(std::clock() - t0) / CLOCKS_PER_SEC;
        if (t < best) best = t;
        *frames = ok;
    }
    return best;
}

// Best processor time (user + system) ffmpeg reports with -benchmark for decoding the stream to the null
// muxer; it includes ffmpeg's demuxing and start-up, so it slightly favours our figure.
double timeFfmpeg(const std::string& path, int repeats) {
    double best = 1e9;
    for (int r = 0; r < repeats; ++r) {
        std::string cmd = "ffmpeg -hide_banner -nostdin -benchmark -threads 1 -f m4v -c:v mpeg4 -i '" + path +
                          "' -f null - 2>&1";
        FILE* p = popen(cmd.c_str(), "r");
        if (!p) return -1;
        char line[512];
        double cpu = -1;
        while (std::fgets(line, sizeof line, p)) {
            const char* ut = std::strstr(line, "utime=");
            const char* st = std::strstr(line, "stime=");
            if (ut && st) cpu = std::atof(ut + 6) + std::atof(st + 6);
        }
        pclose(p);
        if (cpu <= 0) return -1;
        if (cpu < best) best = cpu;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const vtest::GeneratedStream streams[] = {
        // The four streams the decoder is held against at 720p and 480p: I/P at quantiser 3; B-VOPs with
        // quarter-sample and four vectors; a camera-style stream (a zoom with sensor noise, rate
        // controlled, so the quantiser varies per picture); VGA I/P.
        {"hd_ip_q3", 1280, 720, 500, "testsrc2", "-q:v 3"},
        {"hd_bf_qpel_mv4", 1280, 720, 300, "testsrc2", "-bf 2 -flags +qpel+mv4 -q:v 3"},
        {"hd_camera", 1280, 720, 300, "mandelbrot", "-vf noise=alls=10:allf=t -b:v 4M -g 50"},
        {"vga_ip_q3", 640, 480, 500, "testsrc2", "-q:v 3"},
        {"qcif_ip", 176, 144, 600, "mandelbrot", "-g 60 -q:v 4"},
        {"cif_ip", 352, 288, 300, "mandelbrot", "-g 60 -q:v 4"},
        {"cif_ip_mv4_dp", 352, 288, 300, "mandelbrot",
         "-g 60 -q:v 4 -flags +mv4 -data_partitioning 1 -ps 1000"},
        {"vga_ip", 640, 480, 200, "mandelbrot", "-g 60 -q:v 4"},
        {"vga_ip_q2", 640, 480, 200, "testsrc2", "-g 30 -q:v 2"},
        {"cif_bf2", 352, 288, 300, "mandelbrot", "-g 60 -bf 2 -q:v 4"},
        {"cif_qpel_bf2", 352, 288, 300, "mandelbrot", "-g 60 -bf 2 -flags +qpel -q:v 4"},
        {"vga_asp", 640, 480, 200, "testsrc2", "-g 60 -bf 2 -flags +qpel+mv4 -mpeg_quant 1 -q:v 3"},
    };
    char dirTemplate[] = "/tmp/qv_bench_video_XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (!dir || std::system("ffmpeg -hide_banner -version >/dev/null 2>&1") != 0) {
        std::printf("ffmpeg is needed to make the benchmark streams\n");
        return 0;
    }
    std::printf("kernels: %s\n", vdec::kernels().name);
    std::printf("%-16s %9s %7s | %10s %10s %10s | %8s %8s\n", "stream", "size", "frames", "ours fps",
                "+convert", "ffmpeg fps", "ratio", "ratio+cv");
    for (const vtest::GeneratedStream& s : streams) {
        bool wanted = argc < 2;
        for (int i = 1; i < argc; ++i) wanted = wanted || !std::strcmp(argv[i], s.label);
        if (!wanted) continue;
        std::string path = std::string(dir) + "/" + s.label + ".m4v";
        std::vector<uint8_t> data;
        if (!vtest::ffmpegEncode(path, s) || !vtest::readFile(path, data)) {
            std::printf("%-16s could not be made\n", s.label);
            continue;
        }
        int frames = 0, framesRendered = 0;
        const int repeats = s.w * s.h > 640 * 480 ? 3 : 5;
        double ours = timeOurs(data, false, repeats, &frames);
        double oursConvert = timeOurs(data, true, repeats, &framesRendered);
        double ff = timeFfmpeg(path, repeats);
        double fpsOurs = frames / ours, fpsConvert = framesRendered / oursConvert, fpsFf = s.frames / ff;
        std::printf("%-16s %4dx%-4d %7d | %10.1f %10.1f %10.1f | %8.2f %8.2f\n", s.label, s.w, s.h, frames,
                    fpsOurs, fpsConvert, fpsFf, fpsOurs / fpsFf, fpsConvert / fpsFf);
        std::remove(path.c_str());
    }
    std::printf(
        "ratio: our frames per second over ffmpeg's (-threads 1, -f null), both from processor time; "
        "+cv includes the BGR0 conversion, which ffmpeg's figure does not.\n");
    rmdir(dir);
    return 0;
}
