// qvtool vpg: make, inspect and preview VPG video files.
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "authoring/vpg_mux.h"
#include "fx/video_texture.h"
#include "fx/vpg.h"
#include "platform/d3d9/d3d9.h"
#include "platform/win32/win32.h"
#include "resources/device.h"
#include "resources/headless_device.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb/stb_image_write.h>

extern const char* const qvtool_vpg_summary =
    "make (mux), inspect (info) and preview (frames) VPG video files";

namespace {

const char* const kUsage =
    "usage: qvtool vpg mux IN.m4v OUT.vpg --fps RATE\n"
    "       qvtool vpg info FILE.vpg\n"
    "       qvtool vpg frames FILE.vpg OUTDIR [--time T]\n"
    "\n"
    "mux     one record per VOP of a raw MPEG-4 Part 2 stream (ffmpeg -c:v mpeg4 -f m4v); code the\n"
    "        pictures upside down (-vf vflip) so that they show upright\n"
    "info    header, records, coding type of each VOP, and whether they agree\n"
    "frames  the pictures the production shows, as PNG files: every record of the clip, or the one\n"
    "        shown at time T seconds of playing\n";

bool readWhole(const char* path, std::vector<unsigned char>& out) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    unsigned char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool parseFloat(const char* s, float* out) {
    char* end = nullptr;
    errno = 0;
    float v = std::strtof(s, &end);
    if (errno || end == s || *end) return false;
    *out = v;
    return true;
}

int mux(int argc, char** argv) {
    const char *in = nullptr, *out = nullptr;
    float fps = 0;
    for (int i = 2; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--fps") && i + 1 < argc) {
            if (!parseFloat(argv[++i], &fps) || !(fps > 0) || !std::isfinite(fps)) {
                std::fprintf(stderr, "qvtool vpg mux: --fps needs a positive number\n");
                return 2;
            }
        } else if (!in) {
            in = argv[i];
        } else if (!out) {
            out = argv[i];
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (!in || !out) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::vector<unsigned char> m4v;
    if (!readWhole(in, m4v)) {
        std::fprintf(stderr, "qvtool vpg mux: cannot read %s\n", in);
        return 1;
    }
    VpgMuxResult result;
    try {
        result = vpgMux(m4v.data(), m4v.size(), fps);
    } catch (const std::string& e) {
        std::fprintf(stderr, "qvtool vpg mux: %s: %s\n", in, e.c_str());
        if (e.find("frame rate") != std::string::npos)
            std::fprintf(stderr, "give the rate with --fps RATE (frames a second)\n");
        else if (e.find("no VOP") != std::string::npos ||
                 e.find("no video object layer") != std::string::npos)
            std::fprintf(
                stderr,
                "mux takes an MPEG-4 Part 2 elementary stream (not MP4, H.264 or another container or "
                "codec), as ffmpeg makes it: ffmpeg -i IN -vf vflip -c:v mpeg4 -f m4v OUT.m4v\n");
        return 1;
    }
    const std::vector<unsigned char> vpg = vpgBuild(result.header, result.records);
    if (const char* problem = vpgHeaderProblem(result.header, vpg.size())) {
        std::fprintf(stderr, "qvtool vpg mux: %s: %s\n", in, problem);
        return 1;
    }
    FILE* f = std::fopen(out, "wb");
    if (!f || std::fwrite(vpg.data(), 1, vpg.size(), f) != vpg.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "qvtool vpg mux: cannot write %s\n", out);
        return 1;
    }
    std::printf("%s: %u x %u, %u frames at %g fps, %zu bytes (%zu bytes of headers dropped)\n", out,
                result.header.width, result.header.height, result.header.frameCount, result.header.frameRate,
                vpg.size(), result.droppedBytes);
    return 0;
}

int info(int argc, char** argv) {
    if (argc != 3) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::vector<unsigned char> bytes;
    if (!readWhole(argv[2], bytes)) {
        std::fprintf(stderr, "qvtool vpg info: cannot read %s\n", argv[2]);
        return 1;
    }
    VpgLayout layout;
    try {
        layout = vpgLayout(bytes.data(), bytes.size());
    } catch (const std::string& e) {
        std::fprintf(stderr, "qvtool vpg info: %s: %s\n", argv[2], e.c_str());
        return 1;
    }
    const VpgHeader& h = layout.header;
    std::printf("width       %u\nheight      %u\nframes      %u\nframe rate  %g\n", h.width, h.height,
                h.frameCount, h.frameRate);
    if (h.frameRate > 0 && std::isfinite(h.frameRate))
        std::printf("loop        %.3f s\n", static_cast<double>(h.frameCount) / h.frameRate);
    std::printf("records     %zu\n", layout.recordLengths.size());
    const char kTypes[] = "IPBS";
    std::string types;
    std::vector<std::string> problems;
    size_t largest = 0;
    for (size_t k = 0; k < layout.recordLengths.size(); ++k) {
        const unsigned char* rec = bytes.data() + layout.recordOffsets[k];
        const uint32_t len = layout.recordLengths[k];
        const VpgRecordSummary s = vpgInspectRecord(rec, len);
        types += s.hasVop && s.codingType >= 0 ? kTypes[s.codingType] : '?';
        std::printf("record %5zu  offset %8u  %7u bytes  %c%s%s\n", k, layout.recordOffsets[k] - 4, len,
                    types.back(), s.hasLayer ? "  layer" : "", s.hasGroup ? "  group" : "");
        if (len > largest) largest = len;
        if (!s.hasVop) problems.push_back("record " + std::to_string(k) + " holds no VOP");
        if (s.hasLayer && (s.width != h.width || s.height != h.height))
            problems.push_back("record " + std::to_string(k) + " has a layer of " + std::to_string(s.width) +
                               " x " + std::to_string(s.height));
        if (len > kVpgMaxRecordBytes)
            problems.push_back("record " + std::to_string(k) + " exceeds 1048576 bytes");
    }
    std::printf("coding      %s\n", types.c_str());
    std::printf("largest     %zu bytes\n", largest);
    if (layout.truncated) problems.push_back("the last record runs past the end of the file");
    if (layout.recordLengths.size() != h.frameCount)
        problems.push_back("the header counts " + std::to_string(h.frameCount) + " frames, the file holds " +
                           std::to_string(layout.recordLengths.size()) + " records");
    if (!layout.recordLengths.empty()) {
        const VpgRecordSummary first =
            vpgInspectRecord(bytes.data() + layout.recordOffsets[0], layout.recordLengths[0]);
        if (!first.hasLayer) problems.push_back("record 0 has no video object layer header in front");
    }
    if (const char* p = vpgHeaderProblem(h, bytes.size())) problems.push_back(std::string("header: ") + p);
    if (problems.empty()) {
        std::printf("matches     yes\n");
        return 0;
    }
    for (const std::string& p : problems) std::printf("mismatch    %s\n", p.c_str());
    return 1;
}

// The texture's top-level picture as an RGB PNG, row 0 (v = 0, the top on screen) first.
bool writePng(VideoTexture& video, const std::string& path) {
    D3DLOCKED_RECT locked{};
    if (FAILED(video.texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY))) return false;
    std::vector<unsigned char> rgb(size_t(video.width) * video.height * 3);
    for (uint32_t y = 0; y < video.height; ++y) {
        const unsigned char* row = static_cast<const unsigned char*>(locked.pBits) + size_t(y) * locked.Pitch;
        unsigned char* o = &rgb[size_t(y) * video.width * 3];
        for (uint32_t x = 0; x < video.width; ++x) {
            o[3 * x] = row[4 * x + 2];
            o[3 * x + 1] = row[4 * x + 1];
            o[3 * x + 2] = row[4 * x];
        }
    }
    video.texture->UnlockRect(0);
    return stbi_write_png(path.c_str(), int(video.width), int(video.height), 3, rgb.data(),
                          int(video.width) * 3) != 0;
}

int frames(int argc, char** argv) {
    const char *file = nullptr, *outDir = nullptr;
    float time = -1;
    for (int i = 2; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--time") && i + 1 < argc) {
            if (!parseFloat(argv[++i], &time) || !(time >= 0) || !std::isfinite(time)) {
                std::fprintf(stderr, "qvtool vpg frames: --time needs a number of seconds, 0 or more\n");
                return 2;
            }
        } else if (!file) {
            file = argv[i];
        } else if (!outDir) {
            outDir = argv[i];
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (!file || !outDir) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path source = fs::absolute(file, ec);
    if (ec || !fs::is_regular_file(source)) {
        std::fprintf(stderr, "qvtool vpg frames: cannot read %s\n", file);
        return 1;
    }
    const fs::path out = fs::absolute(outDir);
    fs::create_directories(out, ec);
    // The video texture finds its file by name under "data" in the working directory.
    char templ[] = "/tmp/qvtool-vpg-XXXXXX";
    if (!mkdtemp(templ)) {
        std::fprintf(stderr, "qvtool vpg frames: no temporary folder\n");
        return 1;
    }
    const fs::path work = templ, old = fs::current_path();
    fs::create_directories(work / "data");
    // Under the file's own name, which the video texture's stream errors give.
    const std::string clipName = source.filename().string();
    fs::create_symlink(source, work / "data" / clipName, ec);
    int rc = 0;
    try {
        fs::current_path(work);
        HeadlessDevice device;
        VideoTexture video(clipName.c_str());
        const double rate = video.frameRate;
        const uint32_t n = video.frameCount;
        int written = 0;
        if (time >= 0) {
            video.update(time);
            char name[64];
            std::snprintf(name, sizeof name, "time_%.3f.png", time);
            if (!writePng(video, (out / name).string())) throw std::string("cannot write ") + name;
            ++written;
        } else {
            for (uint32_t k = 0; k < n; ++k) {
                video.update(static_cast<float>((k + 0.5) / rate));
                char name[64];
                std::snprintf(name, sizeof name, "frame_%05u.png", k);
                if (!writePng(video, (out / name).string())) throw std::string("cannot write ") + name;
                ++written;
            }
        }
        std::printf("%d picture%s of %u x %u written to %s\n", written, written == 1 ? "" : "s", video.width,
                    video.height, out.c_str());
    } catch (const std::string& e) {
        // A stream error names the file already ("clip.vpg: error in stream!! (record 3)").
        if (e.compare(0, clipName.size() + 2, clipName + ": ") == 0) {
            std::fprintf(stderr, "qvtool vpg frames: %s\n", e.c_str());
        } else {
            std::fprintf(stderr, "qvtool vpg frames: %s: %s\n", file, e.c_str());
        }
        rc = 1;
    }
    fs::current_path(old, ec);
    fs::remove_all(work, ec);
    return rc;
}

}  // namespace

int qvtool_vpg(int argc, char** argv) {
    if (argc >= 2 && !std::strcmp(argv[1], "mux")) return mux(argc, argv);
    if (argc >= 2 && !std::strcmp(argv[1], "info")) return info(argc, argv);
    if (argc >= 2 && !std::strcmp(argv[1], "frames")) return frames(argc, argv);
    std::fputs(kUsage, argc >= 2 && (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help"))
                           ? stdout
                           : stderr);
    return 2;
}
