#include "video/vlc.h"

#include <cassert>

namespace vdec {

Vlc::Vlc(const VlcCode* codes, int rootBits) : rootBits_(rootBits), table_(size_t(1) << rootBits) {
    // First pass: the longest code below each root prefix decides that prefix's sub-table size.
    std::vector<int> subBits(size_t(1) << rootBits, 0);
    for (const VlcCode* c = codes; c->len; ++c) {
        if (c->len <= rootBits) continue;
        uint32_t prefix = uint32_t(c->code) >> (c->len - rootBits);
        int extra = c->len - rootBits;
        if (extra > subBits[prefix]) subBits[prefix] = extra;
    }
    for (size_t p = 0; p < subBits.size(); ++p) {
        if (!subBits[p]) continue;
        table_[p].value = int32_t(table_.size());
        table_[p].len = -subBits[p];
        table_.resize(table_.size() + (size_t(1) << subBits[p]));
    }
    for (const VlcCode* c = codes; c->len; ++c) {
        if (c->len <= rootBits) {
            uint32_t first = uint32_t(c->code) << (rootBits - c->len);
            uint32_t count = 1u << (rootBits - c->len);
            for (uint32_t i = 0; i < count; ++i) {
                assert(table_[first + i].len == 0);
                table_[first + i] = {c->value, c->len};
            }
        } else {
            uint32_t prefix = uint32_t(c->code) >> (c->len - rootBits);
            int sub = subBits[prefix];
            int extra = c->len - rootBits;
            uint32_t rest = uint32_t(c->code) & ((1u << extra) - 1);
            uint32_t first = rest << (sub - extra);
            uint32_t count = 1u << (sub - extra);
            size_t base = size_t(table_[prefix].value);
            for (uint32_t i = 0; i < count; ++i) table_[base + first + i] = {c->value, extra};
        }
    }
}

Vlc Vlc::withSign(const VlcCode* codes, int rootBits) {
    std::vector<VlcCode> expanded;
    for (const VlcCode* c = codes; c->len; ++c) {
        if (c->value == kTcoefEscape) {
            expanded.push_back(*c);
            continue;
        }
        int last = c->value >> 12, run = (c->value >> 5) & 63, level = c->value & 31;
        for (int sign = 0; sign < 2; ++sign) {
            int signedLevel = sign ? -level : level;
            int event = signedLevel * 256 + (last << 7) + run;
            expanded.push_back({uint16_t((c->code << 1) | sign), uint8_t(c->len + 1), int16_t(event)});
        }
    }
    expanded.push_back({0, 0, 0});
    return Vlc(expanded.data(), rootBits);
}

VlcTables::VlcTables()
    : mcbpcI(kMcbpcI, 9),
      mcbpcP(kMcbpcP, 9),
      cbpy(kCbpy, 6),
      mvd(kMvd, 8),
      dcSizeLum(kDcSizeLum, 8),
      dcSizeChrom(kDcSizeChrom, 8),
      tcoefIntra(Vlc::withSign(kTcoefIntra, 10)),
      tcoefInter(Vlc::withSign(kTcoefInter, 10)),
      rvlcIntra(Vlc::withSign(kRvlcIntra, 10)),
      rvlcInter(Vlc::withSign(kRvlcInter, 10)) {}

const VlcTables& vlcTables() {
    static const VlcTables tables;
    return tables;
}

}  // namespace vdec
