// libFuzzer target: an elementary stream split into records and decoded through vdec_call, picture by
// picture, with the output conversion on.
//
// Caps, for throughput (the conformance tests cover large pictures and long streams): inputs of at most
// kMaxInput bytes (the options file gives libFuzzer the same -max_len; longer seeds are cut there), pictures
// of at most kMaxPixels (a stream whose layer header asks for more is skipped), no more pictures than make
// kMaxDecodedPixels in all (at least two, so that a predicted picture follows its anchor), and
// post-processing on for a quarter of the inputs.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "video/m4v_split.h"
#include "video/vdec.h"

namespace {
constexpr size_t kMaxInput = 16384;
constexpr int kMaxPixels = 128 * 96;
constexpr size_t kMaxDecodedPixels = 4 * 64 * 48;

// The buffers are kept from run to run instead of being mapped afresh, which took much of the time: each at
// the exact size asked for (reallocated when that changes, so that reads and writes past it are still
// caught) and cleared every run, as fresh ones would be.
uint8_t* keptBuffer(int i, size_t n) {
    static std::vector<uint8_t> kept[7];
    std::vector<uint8_t>& b = kept[i];
    if (b.size() != n) {
        b = std::vector<uint8_t>(n);
    } else {
        std::memset(b.data(), 0, n);
    }
    return b.data();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return 0;
    int w = 64, h = 48;
    int lw, lh;
    if (m4v_layer_size(data, size, &lw, &lh)) {
        if (lw * lh > kMaxPixels) return 0;
        w = lw;
        h = lh;
    }
    VdecParams p{};
    p.width = w;
    p.height = h;
    p.outputFormat = (size & 1) ? 4 : 8;
    VdecSizes s{};
    if (vdec_call(1, VDEC_MEMORY_SIZES, &p, &s) != VDEC_OK) return 0;
    const uint32_t sizes[6] = {s.size1, s.size2, s.size3, s.size4, s.size5, s.size6};
    for (int i = 0; i < 6; ++i) p.buffer[i] = keptBuffer(i, sizes[i]);
    if (vdec_call(1, VDEC_INIT, &p, nullptr) != VDEC_OK) return 0;
    // Post-processing level from the input's size: on, at any level, for a quarter of the inputs only (the
    // filters cost more than the decoding and depend on little but the picture size).
    VdecPostproc pp{size % 4 == 3 ? int((size >> 2) % 101) : 0};
    vdec_call(1, VDEC_SET_POSTPROC, &pp, nullptr);
    uint8_t* out = keptBuffer(6, size_t(w) * h * 4);
    std::vector<std::vector<uint8_t>> records = m4v_split(data, size);
    if (records.empty()) records.emplace_back(data, data + size);
    const size_t most = std::max<size_t>(2, kMaxDecodedPixels / (size_t(w) * h));
    if (records.size() > most) records.resize(most);
    for (const auto& r : records) {
        // Exact-size copies so that reads past a record's end are caught.
        std::vector<uint8_t> rec(r);
        VdecFrame f{};
        f.output = out;
        f.bitstream = rec.data();
        f.length = int32_t(rec.size());
        f.renderFlag = 1;
        vdec_call(1, VDEC_DECODE, &f, nullptr);
    }
    // The decoder must forget the buffers: the next run may move them.
    vdec_call(1, VDEC_RELEASE, nullptr, nullptr);
    return 0;
}
