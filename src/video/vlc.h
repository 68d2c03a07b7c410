// Table-driven decoding of the standard's variable-length codes (Annex B tables).
#pragma once

#include <cstdint>
#include <vector>

#include "video/bitreader.h"

namespace vdec {

// One codeword of a table as printed in the standard: code bits (MSB first), length, decoded value.
struct VlcCode {
    uint16_t code;
    uint8_t len;
    int16_t value;
};

constexpr int kVlcInvalid = -32768;
constexpr int kTcoefEscape = 0x7FFF;  // value of the escape codeword in the coefficient tables
constexpr int kMcbpcStuffing = 255;

// Two-level lookup: the first `bits` bits index the root; longer codes continue in a sub-table.
class Vlc {
public:
    // codes ends with a zero-length entry.
    Vlc(const VlcCode* codes, int rootBits);
    // Coefficient tables with the sign bit folded in: every code but the escape is followed by its sign
    // bit, and the value becomes a coefficient event (see tcoefEvent below).
    static Vlc withSign(const VlcCode* codes, int rootBits);

    // Decodes one codeword; an invalid code sets the reader's error and returns kVlcInvalid.
    int decode(BitReader& br) const {
        uint32_t w = br.peek32();
        const Entry* e = &table_[w >> (32 - rootBits_)];
        if (e->len < 0) {
            int sub = -e->len;
            e = &table_[e->value + ((w << rootBits_) >> (32 - sub))];
            if (e->len <= 0) return invalid(br);
            br.skip(rootBits_ + e->len);
            return e->value;
        }
        if (e->len == 0) return invalid(br);
        br.skip(e->len);
        return e->value;
    }

    // Decodes the codeword at the top of bits, which must hold at least the table's longest code: its
    // value, with its length in len; len 0 and kVlcInvalid for an invalid code. Consumes nothing.
    int decodeWindow(uint64_t bits, int& len) const {
        uint32_t w = uint32_t(bits >> 32);
        const Entry* e = &table_[w >> (32 - rootBits_)];
        int l = e->len;
        if (l < 0) {
            e = &table_[e->value + ((w << rootBits_) >> (32 + l))];
            if (e->len <= 0) {
                len = 0;
                return kVlcInvalid;
            }
            len = rootBits_ + e->len;
            return e->value;
        }
        len = l;
        return l ? e->value : kVlcInvalid;
    }

    struct Entry {
        int32_t value;
        int32_t len;  // > 0: bits consumed (beyond the root for sub-table entries); < 0: sub-table index bits
    };
    // The root table, for loops that look codes up themselves (entries of len <= 0 go to decodeWindow).
    const Entry* entries() const { return table_.data(); }
    int rootBits() const { return rootBits_; }

private:
    static int invalid(BitReader& br) {
        br.setError();
        return kVlcInvalid;
    }
    int rootBits_;
    std::vector<Entry> table_;
};

// A coefficient event: signed level in bits 8 and up, last in bit 7, run in bits 0..5.
inline int eventLevel(int e) {
    return e >> 8;
}
inline int eventLast(int e) {
    return (e >> 7) & 1;
}
inline int eventRun(int e) {
    return e & 63;
}

struct VlcTables {
    Vlc mcbpcI, mcbpcP, cbpy, mvd, dcSizeLum, dcSizeChrom;
    // Signed coefficient tables (Vlc::withSign).
    Vlc tcoefIntra, tcoefInter, rvlcIntra, rvlcInter;
    VlcTables();
};

// Built once, on first use.
const VlcTables& vlcTables();

// The raw tables (for tests that check the code sets).
extern const VlcCode kMcbpcI[], kMcbpcP[], kCbpy[], kMvd[], kDcSizeLum[], kDcSizeChrom[], kTcoefIntra[],
    kTcoefInter[], kRvlcIntra[], kRvlcInter[];

}  // namespace vdec
