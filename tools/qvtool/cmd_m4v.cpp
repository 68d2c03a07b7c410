// qvtool m4v: decodes raw MPEG-4 Part 2 elementary streams through the video decoder interface.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "video/convert.h"
#include "video/decoder.h"
#include "video/m4v_split.h"
#include "video/vdec.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

extern const char* const qvtool_m4v_summary =
    "decode a raw MPEG-4 Part 2 or H.263 stream: m4v decode IN.m4v OUT.yuv [--bgra DIR] [--postproc LEVEL]";

namespace {

bool readFile(const char* path, std::vector<uint8_t>& out) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    if (std::fseek(f, 0, SEEK_END) == 0) {  // one allocation for regular files
        long size = std::ftell(f);
        if (size > 0) out.reserve(size_t(size));
        std::rewind(f);
    }
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

int usage() {
    std::fprintf(stderr,
                 "usage: qvtool m4v decode IN.m4v OUT.yuv [--bgra DIR] [--postproc LEVEL]\n"
                 "  LEVEL 0 (off) to 100: the display filters the decoder applies before output\n");
    return 2;
}

// Writes the format-4 picture (bottom row first, B G R 0) as a top-down RGB PNG.
bool writePng(const std::string& path, const std::vector<uint8_t>& bgr0, int w, int h) {
    std::vector<uint8_t> rgb(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = bgr0.data() + size_t(h - 1 - y) * w * 4;
        uint8_t* dst = rgb.data() + size_t(y) * w * 3;
        for (int x = 0; x < w; ++x) {
            dst[3 * x] = src[4 * x + 2];
            dst[3 * x + 1] = src[4 * x + 1];
            dst[3 * x + 2] = src[4 * x];
        }
    }
    return stbi_write_png(path.c_str(), w, h, 3, rgb.data(), w * 3) != 0;
}

// Appends one picture's planes to the raw file and, with a PNG folder, writes its format-4 output.
bool writeFrame(FILE* f, const vdec::PlaneView* planes, const std::vector<uint8_t>* bgr0, const char* pngDir,
                int index, int w, int h) {
    for (int i = 0; i < 3; ++i)
        for (int y = 0; y < planes[i].height; ++y)
            std::fwrite(planes[i].data + size_t(y) * planes[i].stride, 1, size_t(planes[i].width), f);
    if (!pngDir) return true;
    char name[64];
    std::snprintf(name, sizeof name, "/frame_%05d.png", index);
    if (writePng(std::string(pngDir) + name, *bgr0, w, h)) return true;
    std::fprintf(stderr, "qvtool m4v: cannot write %s%s\n", pngDir, name);
    return false;
}

int decode(const char* in, const char* out, const char* pngDir, int postproc) {
    std::vector<uint8_t> data;
    if (!readFile(in, data)) {
        std::fprintf(stderr, "qvtool m4v: cannot read %s: %s\n", in, std::strerror(errno));
        return 1;
    }
    int w = 0, h = 0;
    if (!m4v_layer_size(data.data(), data.size(), &w, &h)) {
        std::fprintf(stderr, "qvtool m4v: %s has no readable video object layer or H.263 picture header\n",
                     in);
        return 1;
    }
    std::vector<std::vector<uint8_t>> records = m4v_split(data.data(), data.size());
    VdecParams params{};
    params.width = w;
    params.height = h;
    params.outputFormat = 4;
    VdecSizes sizes{};
    vdec_call(1, VDEC_MEMORY_SIZES, &params, &sizes);
    std::vector<uint8_t> buffers[6];
    const uint32_t bytes[6] = {sizes.size1, sizes.size2, sizes.size3, sizes.size4, sizes.size5, sizes.size6};
    for (int i = 0; i < 6; ++i) {
        buffers[i].assign(bytes[i], 0);
        params.buffer[i] = buffers[i].data();
    }
    if (vdec_call(1, VDEC_INIT, &params, nullptr) != VDEC_OK) {
        std::fprintf(stderr, "qvtool m4v: the decoder refuses a %dx%d picture\n", w, h);
        return 1;
    }
    vdec_call(1, VDEC_SET_OUTPUT, &params, nullptr);
    VdecPostproc pp{postproc};
    vdec_call(1, VDEC_SET_POSTPROC, &pp, nullptr);

    std::vector<char> writeBuffer(size_t(1) << 20);  // outlives f
    FILE* f = std::fopen(out, "wb");
    if (!f) {
        std::fprintf(stderr, "qvtool m4v: cannot write %s: %s\n", out, std::strerror(errno));
        return 1;
    }
    std::setvbuf(f, writeBuffer.data(), _IOFBF,
                 writeBuffer.size());  // pictures are megabytes: few large writes
    std::vector<uint8_t> picture(size_t(w) * h * 4);
    int errors = 0, frames = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        VdecFrame fr{};
        fr.output = picture.data();
        fr.bitstream = records[i].data();
        fr.length = int32_t(records[i].size());
        fr.renderFlag = pngDir ? 1 : 0;
        int32_t r = vdec_call(1, VDEC_DECODE, &fr, nullptr);
        if (r != VDEC_OK) {
            std::fprintf(stderr, "qvtool m4v: record %zu: frame error %d\n", i, r);
            ++errors;
            continue;
        }
        vdec::PlaneView planes[3];
        bool isNew = false;
        if (!vdec::decoderOutputPicture(planes, &isNew) || !isNew) continue;
        if (!writeFrame(f, planes, pngDir ? &picture : nullptr, pngDir, frames, w, h)) {
            std::fclose(f);
            return 1;
        }
        ++frames;
    }
    // The last anchor of a stream with B-VOPs is still waiting for its turn.
    vdec::PlaneView planes[3];
    if (vdec::decoderPendingPicture(planes)) {
        if (pngDir) {
            vdec::ConvertInput in{
                planes[0].data, planes[1].data, planes[2].data, planes[0].stride, planes[1].stride, w, h};
            vdec::convertPicture(in, 4, -1, picture.data(), 0);
        }
        if (!writeFrame(f, planes, pngDir ? &picture : nullptr, pngDir, frames, w, h)) {
            std::fclose(f);
            return 1;
        }
        ++frames;
    }
    bool ok = std::fclose(f) == 0;
    std::fprintf(stderr, "qvtool m4v: %dx%d, %zu records, %d frames, %d errors\n", w, h, records.size(),
                 frames, errors);
    return ok && errors == 0 ? 0 : 1;
}

}  // namespace

int qvtool_m4v(int argc, char** argv) {
    if (argc < 4 || std::strcmp(argv[1], "decode") != 0) return usage();
    const char* pngDir = nullptr;
    int postproc = 0;
    for (int i = 4; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--bgra") && i + 1 < argc) {
            pngDir = argv[++i];
        } else if (!std::strcmp(argv[i], "--postproc") && i + 1 < argc) {
            char* end = nullptr;
            long level = std::strtol(argv[++i], &end, 10);
            if (!*argv[i] || *end || level < 0 || level > 100) {
                std::fprintf(stderr, "qvtool m4v: --postproc takes a level from 0 to 100\n");
                return 2;
            }
            postproc = int(level);
        } else {
            return usage();
        }
    }
    return decode(argv[2], argv[3], pngDir, postproc);
}
