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
#include "video/vdec_session.h"

namespace {
constexpr size_t kMaxInput = 16384;
constexpr int kMaxPixels = 128 * 96;
constexpr size_t kMaxDecodedPixels = 4 * 64 * 48;

// The session and the output are kept from run to run instead of being mapped afresh, which took much of
// the time: each buffer at the exact size asked for (reallocated when that changes, so that reads and
// writes past it are still caught) and cleared every run, as fresh ones would be.
VdecSession& session() {
    static VdecSession kept;
    return kept;
}
uint8_t* keptOutput(size_t n) {
    static std::vector<uint8_t> kept;
    if (kept.size() != n) {
        kept = std::vector<uint8_t>(n);
    } else {
        std::memset(kept.data(), 0, n);
    }
    return kept.data();
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
    // Post-processing level from the input's size: on, at any level, for a quarter of the inputs only (the
    // filters cost more than the decoding and depend on little but the picture size).
    VdecSession& decoder = session();
    if (decoder.open(w, h, (size & 1) ? 4 : 8, size % 4 == 3 ? int((size >> 2) % 101) : 0) !=
        VdecSession::Step::None)
        return 0;
    uint8_t* out = keptOutput(size_t(w) * h * 4);
    std::vector<std::vector<uint8_t>> records = m4v_split(data, size);
    if (records.empty()) records.emplace_back(data, data + size);
    const size_t most = std::max<size_t>(2, kMaxDecodedPixels / (size_t(w) * h));
    if (records.size() > most) records.resize(most);
    for (const auto& r : records) {
        // Exact-size copies so that reads past a record's end are caught.
        std::vector<uint8_t> rec(r);
        decoder.decode(out, rec.data(), rec.size());
    }
    // The decoder must forget the buffers: the next run may move them.
    decoder.release();
    return 0;
}
