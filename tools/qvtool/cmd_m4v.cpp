// qvtool m4v: decodes raw MPEG-4 Part 2 elementary streams through the video decoder interface.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "video/convert.h"
#include "video/decoder.h"
#include "video/m4v_split.h"
#include "video/vdec_session.h"

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

// The input file: mapped where it can be (no copy of a long stream), else read.
class InputFile {
public:
    ~InputFile() {
        if (map_) munmap(map_, size_);
    }
    bool open(const char* path) {
        int fd = ::open(path, O_RDONLY);
        if (fd < 0) return false;
        struct stat st {};
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
            void* m = mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
            if (m != MAP_FAILED) {
                map_ = m;
                size_ = size_t(st.st_size);
                madvise(m, size_, MADV_SEQUENTIAL);
                ::close(fd);
                return true;
            }
        }
        ::close(fd);
        return readFile(path, copy_);
    }
    const uint8_t* data() const { return map_ ? static_cast<const uint8_t*>(map_) : copy_.data(); }
    size_t size() const { return map_ ? size_ : copy_.size(); }

private:
    void* map_ = nullptr;
    size_t size_ = 0;
    std::vector<uint8_t> copy_;
};

// Raw picture output: the planes' rows go to the file with writev, straight from the decoder's pictures.
class RawWriter {
public:
    ~RawWriter() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool open(const char* path) {
        fd_ = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        return fd_ >= 0;
    }
    bool writePlanes(const vdec::PlaneView* planes) {
        iovec iov[kBatch];
        int n = 0;
        for (int i = 0; i < 3; ++i) {
            for (int y = 0; y < planes[i].height; ++y) {
                iov[n].iov_base = const_cast<uint8_t*>(planes[i].data + size_t(y) * planes[i].stride);
                iov[n].iov_len = size_t(planes[i].width);
                if (++n == kBatch) {
                    if (!writeAll(iov, n)) return false;
                    n = 0;
                }
            }
        }
        return writeAll(iov, n);
    }
    bool close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    static constexpr int kBatch = IOV_MAX < 1024 ? IOV_MAX : 1024;
    // All of iov[0..n), resuming after short writes.
    bool writeAll(iovec* iov, int n) {
        while (n > 0) {
            ssize_t w = ::writev(fd_, iov, n);
            if (w < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            size_t left = size_t(w);
            while (n > 0 && left >= iov->iov_len) {
                left -= iov->iov_len;
                ++iov;
                --n;
            }
            if (n > 0) {
                iov->iov_base = static_cast<uint8_t*>(iov->iov_base) + left;
                iov->iov_len -= left;
            }
        }
        return true;
    }
    int fd_ = -1;
};

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
bool writeFrame(RawWriter& f, const vdec::PlaneView* planes, const std::vector<uint8_t>* bgr0,
                const char* pngDir, int index, int w, int h) {
    if (!f.writePlanes(planes)) {
        std::fprintf(stderr, "qvtool m4v: cannot write the raw pictures: %s\n", std::strerror(errno));
        return false;
    }
    if (!pngDir) return true;
    char name[64];
    std::snprintf(name, sizeof name, "/frame_%05d.png", index);
    if (writePng(std::string(pngDir) + name, *bgr0, w, h)) return true;
    std::fprintf(stderr, "qvtool m4v: cannot write %s%s\n", pngDir, name);
    return false;
}

int decode(const char* in, const char* out, const char* pngDir, int postproc) {
    InputFile data;
    if (!data.open(in)) {
        std::fprintf(stderr, "qvtool m4v: cannot read %s: %s\n", in, std::strerror(errno));
        return 1;
    }
    int w = 0, h = 0;
    if (!m4v_layer_size(data.data(), data.size(), &w, &h)) {
        std::fprintf(stderr, "qvtool m4v: %s has no readable video object layer or H.263 picture header\n",
                     in);
        return 1;
    }
    M4vSplitter splitter(data.data(), data.size());
    VdecSession decoder;
    switch (decoder.open(w, h, 4, postproc)) {
        case VdecSession::Step::None:
            break;
        case VdecSession::Step::Memory:
            std::fprintf(stderr, "qvtool m4v: out of memory for a %dx%d picture\n", w, h);
            return 1;
        default:
            std::fprintf(stderr, "qvtool m4v: the decoder refuses a %dx%d picture\n", w, h);
            return 1;
    }

    RawWriter f;
    if (!f.open(out)) {
        std::fprintf(stderr, "qvtool m4v: cannot write %s: %s\n", out, std::strerror(errno));
        return 1;
    }
    std::vector<uint8_t> picture(size_t(w) * h * 4);
    std::vector<uint8_t> record;
    int errors = 0, frames = 0;
    size_t i = 0;
    for (; splitter.next(record); ++i) {
        int32_t r = decoder.decode(picture.data(), record.data(), record.size(), pngDir != nullptr);
        if (r != VDEC_OK) {
            std::fprintf(stderr, "qvtool m4v: record %zu: frame error %d\n", i, r);
            ++errors;
            continue;
        }
        vdec::PlaneView planes[3];
        bool isNew = false;
        if (!vdec::decoderOutputPicture(planes, &isNew) || !isNew) continue;
        if (!writeFrame(f, planes, pngDir ? &picture : nullptr, pngDir, frames, w, h)) return 1;
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
        if (!writeFrame(f, planes, pngDir ? &picture : nullptr, pngDir, frames, w, h)) return 1;
        ++frames;
    }
    bool ok = f.close();
    std::fprintf(stderr, "qvtool m4v: %dx%d, %zu records, %d frames, %d errors\n", w, h, i, frames, errors);
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
