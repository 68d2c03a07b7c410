// libFuzzer target: an elementary stream split into records and decoded through vdec_call, picture by
// picture, with the output conversion on.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "video/m4v_split.h"
#include "video/vdec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int w = 64, h = 48;
    int lw, lh;
    if (m4v_layer_size(data, size, &lw, &lh) && lw * lh <= 352 * 288) {
        w = lw;
        h = lh;
    }
    VdecParams p{};
    p.width = w;
    p.height = h;
    p.outputFormat = (size & 1) ? 4 : 8;
    VdecSizes s{};
    if (vdec_call(1, VDEC_MEMORY_SIZES, &p, &s) != VDEC_OK) return 0;
    std::vector<uint8_t> buf[6];
    const uint32_t sizes[6] = {s.size1, s.size2, s.size3, s.size4, s.size5, s.size6};
    for (int i = 0; i < 6; ++i) {
        buf[i].assign(sizes[i], 0);
        p.buffer[i] = buf[i].data();
    }
    if (vdec_call(1, VDEC_INIT, &p, nullptr) != VDEC_OK) return 0;
    // Post-processing level from the input's size: off for a third of the inputs, any set otherwise.
    VdecPostproc pp{size % 3 ? int((size >> 2) % 101) : 0};
    vdec_call(1, VDEC_SET_POSTPROC, &pp, nullptr);
    std::vector<uint8_t> out(size_t(w) * h * 4);
    std::vector<std::vector<uint8_t>> records = m4v_split(data, size);
    if (records.empty()) records.emplace_back(data, data + size);
    for (const auto& r : records) {
        // Exact-size copies so that reads past a record's end are caught.
        std::vector<uint8_t> rec(r);
        VdecFrame f{};
        f.output = out.data();
        f.bitstream = rec.data();
        f.length = int32_t(rec.size());
        f.renderFlag = 1;
        vdec_call(1, VDEC_DECODE, &f, nullptr);
    }
    // The buffers are freed on return: the decoder must forget them.
    vdec_call(1, VDEC_RELEASE, nullptr, nullptr);
    return 0;
}
