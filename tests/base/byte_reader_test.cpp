#include "base/byte_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

// Random reads of every width over buffers of every small size: a read that fits delivers the bytes there
// (little-endian); one that does not delivers zeros, and from then on the error stays set and nothing more
// is delivered.
TEST(ByteReader, ReadsWithinTheBytesOrZerosWithAStickyError) {
    std::mt19937 rng(17);
    for (int trial = 0; trial < 2000; ++trial) {
        std::vector<uint8_t> data(rng() % 24);
        for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
        ByteReader r(data.data(), data.size());
        size_t pos = 0;
        bool failed = false;
        for (int op = 0; op < 8; ++op) {
            const int kind = static_cast<int>(rng() % 4);
            const size_t n = kind == 0 ? 1 : kind == 1 ? 2 : kind == 2 ? 4 : rng() % 6;
            const bool fits = pos + n <= data.size();
            uint64_t want = 0;
            if (fits)
                for (size_t i = n; i-- > 0;) want = want << 8 | data[pos + i];
            uint64_t got = 0;
            if (kind == 0) got = r.u8();
            if (kind == 1) got = r.u16();
            if (kind == 2) got = r.u32();
            if (kind == 3) {
                uint8_t out[8];
                std::memset(out, 0xAA, sizeof out);
                EXPECT_EQ(r.bytes(out, n), fits);
                for (size_t i = n; i-- > 0;) got = got << 8 | out[i];
            }
            failed = failed || !fits;
            pos = fits ? pos + n : data.size();
            ASSERT_EQ(got, want) << "trial " << trial << " op " << op;
            ASSERT_EQ(r.ok(), !failed);
            ASSERT_EQ(r.pos(), pos);
        }
    }
}

TEST(ByteReader, CountsFromAFileAreCheckedWithoutOverflow) {
    uint8_t bytes[40] = {};
    ByteReader r(bytes, sizeof bytes);
    EXPECT_TRUE(r.fits(10, 4));
    EXPECT_FALSE(r.fits(11, 4));
    EXPECT_FALSE(r.fits(UINT64_MAX, 36));
    EXPECT_FALSE(r.fits(uint64_t(1) << 62, 4));  // the product wraps to 0 in 64 bits
    size_t product = 7;
    EXPECT_FALSE(checkedMul(SIZE_MAX / 3 + 1, 3, &product));
    EXPECT_EQ(product, 7u);
    EXPECT_TRUE(checkedMul(SIZE_MAX / 3, 3, &product));
    EXPECT_EQ(product, SIZE_MAX / 3 * 3);
}

TEST(ByteReader, StringsAndMagicStopAtTheEnd) {
    const char text[] = "MAGICab\0c";  // "c" has no terminator of its own within the 9 bytes
    ByteReader r(text, 9);
    EXPECT_FALSE(r.magic("MAGIX", 5));
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.pos(), 0u);
    EXPECT_TRUE(r.magic("MAGIC", 5));
    std::string s;
    EXPECT_TRUE(r.cstring(s));
    EXPECT_EQ(s, "ab");
    EXPECT_FALSE(r.cstring(s));
    EXPECT_EQ(s, "");
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.left(), 0u);
}

TEST(ByteWriter, WritesWhatTheReaderReads) {
    std::vector<uint8_t> out;
    ByteWriter w(out);
    w.u8(0x12);
    w.u16(0xBEEF);
    w.u32(0xDEADBEEF);
    w.f32(-1.5f);
    w.bytes("xy", 2);
    ASSERT_EQ(out.size(), 13u);
    EXPECT_EQ(out[1], 0xEF);  // little-endian
    EXPECT_EQ(out[3], 0xEF);
    EXPECT_EQ(out[6], 0xDE);
    ByteReader r(out.data(), out.size());
    EXPECT_EQ(r.u8(), 0x12);
    EXPECT_EQ(r.u16(), 0xBEEF);
    EXPECT_EQ(r.u32(), 0xDEADBEEFu);
    EXPECT_EQ(r.f32(), -1.5f);
    char xy[2];
    EXPECT_TRUE(r.bytes(xy, 2));
    EXPECT_EQ(std::string(xy, 2), "xy");
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.u8(), 0);
    EXPECT_FALSE(r.ok());
}
