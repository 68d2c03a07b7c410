// Fuzzes VPG construction and stepping: the bytes are a container file, played at a fixed run of times
// that steps forward, jumps, wraps and goes back. A strict stand-in decoder checks every call the video
// texture makes (buffer sizes, record bounds) so the container logic is what is exercised.
//
// Caps, for throughput (the unit tests cover large pictures and long clips): inputs of at most kMaxInput
// bytes (the options file gives libFuzzer the same -max_len) and pictures of at most kMaxPixels, since
// every picture is uploaded to a real texture and its mip-maps rebuilt.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "fx/video_texture.h"
#include "resources/headless_device.h"

namespace {

constexpr size_t kMaxInput = 8192;
constexpr uint64_t kMaxPixels = 32 * 32;

int32_t width = 0, height = 0;
uint32_t sizes[6];

int32_t standIn(uint32_t handle, uint32_t opcode, void* p1, void* p2) {
    if (handle == 0) return VDEC_BAD_ARGUMENT;
    switch (opcode) {
        case VDEC_MEMORY_SIZES: {
            auto* params = static_cast<VdecParams*>(p1);
            auto* out = static_cast<VdecSizes*>(p2);
            width = params->width;
            height = params->height;
            // Small buffers: the stand-in keeps nothing in them, and the real decoder's 700 KB state
            // would cost a fresh mapping and a scan every run.
            const uint32_t s[6] = {64, 64, 64, 256, 256, 256};
            std::memcpy(sizes, s, sizeof s);
            *out = {s[0], s[1], s[2], s[3], s[4], s[5]};
            return VDEC_OK;
        }
        case VDEC_INIT: {
            auto* params = static_cast<VdecParams*>(p1);
            if (params->width != width || params->height != height || params->outputFormat != 4) abort();
            for (int i = 0; i < 6; ++i) {
                auto* b = static_cast<unsigned char*>(params->buffer[i]);
                if (i >= 3)
                    for (uint32_t k = 0; k < sizes[i]; ++k)
                        if (b[k]) abort();  // state, tables and bit reader start zeroed
                b[sizes[i] - 1] = 1;
            }
            return VDEC_OK;
        }
        case VDEC_SET_OUTPUT:
            return static_cast<VdecParams*>(p1)->outputFormat == 4 ? VDEC_OK : VDEC_BAD_ARGUMENT;
        case VDEC_SET_POSTPROC:
            return static_cast<VdecPostproc*>(p1)->level == 0 ? VDEC_OK : VDEC_BAD_ARGUMENT;
        case VDEC_RELEASE:
            return VDEC_OK;
        default: {
            auto* frame = static_cast<VdecFrame*>(p1);
            // Records on the way to a picture (a seek) are decoded without being drawn.
            if (frame->length < 0 || frame->length > 1048576 ||
                (frame->renderFlag != 0 && frame->renderFlag != 1))
                abort();
            const auto* bits = static_cast<const unsigned char*>(frame->bitstream);
            unsigned sum = 0;
            for (int32_t k = 0; k < frame->length; ++k) sum += bits[k];
            if (frame->length == 0 || bits[0] == 0xFF) return VDEC_FRAME_ERROR;
            if (frame->renderFlag) std::memset(frame->output, sum & 0xFF, size_t(width) * height * 4);
            return VDEC_OK;
        }
    }
}

// The video texture finds its file under "data" in the working directory: a folder of the fuzzer's own,
// entered only while a texture is built so that libFuzzer's paths stay as given.
std::string home, work;
struct RemoveWork {
    ~RemoveWork() {
        std::error_code ec;
        if (!work.empty()) std::filesystem::remove_all(work, ec);
    }
} removeWork;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // In memory when there is a tmpfs: rewriting a file on a disk file system flushes it on every close.
    char templ[] = "/dev/shm/qvfuzz-vpg-XXXXXX";
    char fallback[] = "/tmp/qvfuzz-vpg-XXXXXX";
    char cwd[4096];
    const char* made = mkdtemp(templ);
    if (!made) made = mkdtemp(fallback);
    if (!made || !getcwd(cwd, sizeof cwd)) abort();
    home = cwd;
    work = made;
    mkdir((work + "/data").c_str(), 0700);
    try {
        static HeadlessDevice device;  // the textures' device, for the whole run
    } catch (const std::string&) {
        abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return 0;
    if (size >= 16) {
        uint32_t w, h;
        std::memcpy(&w, data + 8, 4);
        std::memcpy(&h, data + 12, 4);
        if (uint64_t(w) * h > kMaxPixels) return 0;
    }
    FILE* f = std::fopen((work + "/data/f.vpg").c_str(), "wb");
    if (!f) abort();
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    try {
        if (chdir(work.c_str()) != 0) abort();
        std::unique_ptr<VideoTexture> built;
        try {
            built.reset(new VideoTexture("f.vpg", standIn));
        } catch (...) {
            if (chdir(home.c_str()) != 0) abort();
            throw;
        }
        if (chdir(home.c_str()) != 0) abort();
        VideoTexture& video = *built;
        const double r = video.frameRate, n = video.frameCount;
        const double times[] = {0.0,           0.5 / r,           3.5 / r, 10.5 / r, 2.5 / r,
                                (n + 1.5) / r, (2 * n - 0.5) / r, -1.0,    NAN,      1e30};
        for (double t : times) video.update(static_cast<float>(t));
    } catch (const std::string&) {
    }
    return 0;
}
