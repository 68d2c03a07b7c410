// The VPG container without a decoder or device: header checks, picture timing, record reading.
#include "fx/vpg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "base/byte_reader.h"
#include "data/memfile.h"

TEST(Vpg, TargetFollowsTheClipLoop) {
    EXPECT_EQ(vpgTarget(10.0f, 250, 25.0f), 0u);
    EXPECT_EQ(vpgTarget(9.99f, 250, 25.0f), 249u);
    EXPECT_EQ(vpgTarget(0.0f, 250, 25.0f), 0u);
    EXPECT_EQ(vpgTarget(0.039f, 250, 25.0f), 0u);
    EXPECT_EQ(vpgTarget(0.04f, 250, 25.0f), 0u);  // 0.04f is just below 1/25
    EXPECT_EQ(vpgTarget(0.041f, 250, 25.0f), 1u);
    EXPECT_EQ(vpgTarget(12.5f, 250, 25.0f), 62u);
    EXPECT_EQ(vpgTarget(1.0f, 3, 2.0f), 2u);  // loop of 1.5 s
    EXPECT_EQ(vpgTarget(1.5f, 3, 2.0f), 0u);
    // Negative and undefined times are taken as 0 rather than a negative picture.
    EXPECT_EQ(vpgTarget(-3.7f, 250, 25.0f), 0u);
    EXPECT_EQ(vpgTarget(std::nanf(""), 250, 25.0f), 0u);
    EXPECT_EQ(vpgTarget(std::numeric_limits<float>::infinity(), 250, 25.0f), 0u);
}

TEST(Vpg, TargetNeverPassesTheFrameCount) {
    // N / rate rounded in double can make fmod(t, loop) * rate land on N itself: still a reachable target.
    for (uint32_t n = 1; n < 60; ++n)
        for (float rate : {7.0f, 23.976f, 29.97f, 0.3f})
            for (float t = 0; t < 20; t += 0.0137f) EXPECT_LE(vpgTarget(t, n, rate), n);
}

TEST(Vpg, HeaderChecks) {
    const uint64_t room = 24 + 250 * 4;
    EXPECT_EQ(vpgHeaderProblem({320, 240, 250, 25.0f}, room), nullptr);
    EXPECT_NE(vpgHeaderProblem({320, 240, 250, 25.0f}, room - 1), nullptr);  // more frames than room
    EXPECT_NE(vpgHeaderProblem({320, 240, 0, 25.0f}, room), nullptr);
    EXPECT_NE(vpgHeaderProblem({320, 240, 250, 0.0f}, room), nullptr);
    EXPECT_NE(vpgHeaderProblem({320, 240, 250, -25.0f}, room), nullptr);
    EXPECT_NE(vpgHeaderProblem({320, 240, 250, std::nanf("")}, room), nullptr);
    EXPECT_NE(vpgHeaderProblem({320, 240, 250, std::numeric_limits<float>::infinity()}, room), nullptr);
    EXPECT_NE(vpgHeaderProblem({0, 240, 250, 25.0f}, room), nullptr);
    EXPECT_NE(vpgHeaderProblem({320, 0, 250, 25.0f}, room), nullptr);
    EXPECT_NE(vpgHeaderProblem({0x10000, 0x10000, 250, 25.0f}, room), nullptr);  // 16 GiB of pixels
    EXPECT_NE(vpgHeaderProblem({0xFFFFFFFF, 1, 250, 25.0f}, room), nullptr);
    EXPECT_EQ(vpgHeaderProblem({8192, 8192, 1, 25.0f}, 28), nullptr);
    EXPECT_NE(vpgHeaderProblem({32768, 16384, 1, 25.0f}, 28), nullptr);
}

namespace {
// A MemoryFile over bytes the test owns (memfile_read copies out; nothing frees data here).
MemoryFile over(std::vector<unsigned char>& bytes) {
    return MemoryFile{static_cast<uint32_t>(bytes.size()), bytes.data(), 0};
}
}  // namespace

TEST(Vpg, BuildAndReadRecords) {
    std::vector<std::vector<unsigned char>> records = {{1, 2, 3}, {}, {9, 8, 7, 6, 5}};
    std::vector<unsigned char> bytes = vpgBuild({16, 8, 3, 12.5f}, records);
    ASSERT_EQ(bytes.size(), 24u + 4 + 3 + 4 + 0 + 4 + 5);
    EXPECT_EQ(std::memcmp(bytes.data(), "VOTRAMPG", 8), 0);
    EXPECT_EQ(bytes[8], 16);
    EXPECT_EQ(bytes[12], 8);
    EXPECT_EQ(bytes[16], 3);
    float rate;
    std::memcpy(&rate, &bytes[20], 4);
    EXPECT_EQ(rate, 12.5f);

    MemoryFile f = over(bytes);
    f.position = 24;
    unsigned char buf[8];
    uint32_t len = 99;
    ASSERT_EQ(vpgReadRecord(&f, buf, sizeof buf, &len), VpgRecord::Read);
    EXPECT_EQ(len, 3u);
    EXPECT_EQ(buf[2], 3);
    ASSERT_EQ(vpgReadRecord(&f, buf, sizeof buf, &len), VpgRecord::Read);
    EXPECT_EQ(len, 0u);
    ASSERT_EQ(vpgReadRecord(&f, buf, sizeof buf, &len), VpgRecord::Read);
    EXPECT_EQ(len, 5u);
    EXPECT_EQ(buf[4], 5);
    EXPECT_EQ(vpgReadRecord(&f, buf, sizeof buf, &len), VpgRecord::None);
    EXPECT_EQ(f.position, bytes.size());

    VpgLayout layout = vpgLayout(bytes.data(), bytes.size());
    EXPECT_FALSE(layout.truncated);
    ASSERT_EQ(layout.recordLengths.size(), 3u);
    EXPECT_EQ(layout.recordOffsets[2], 24u + 4 + 3 + 4 + 4);
    EXPECT_EQ(layout.header.frameRate, 12.5f);
}

TEST(Vpg, DamagedRecordsReadNothing) {
    std::vector<unsigned char> bytes = vpgBuild({16, 8, 1, 25.0f}, {{1, 2, 3, 4}});
    // Cut inside the picture: its length runs past the end.
    std::vector<unsigned char> cut(bytes.begin(), bytes.end() - 1);
    MemoryFile f = over(cut);
    f.position = 24;
    unsigned char buf[16];
    std::memset(buf, 0xEE, sizeof buf);
    uint32_t len;
    EXPECT_EQ(vpgReadRecord(&f, buf, sizeof buf, &len), VpgRecord::Damaged);
    EXPECT_EQ(buf[0], 0xEE);
    EXPECT_TRUE(vpgLayout(cut.data(), cut.size()).truncated);

    // A length beyond the buffer is refused before anything is copied, even when the file holds it.
    MemoryFile g = over(bytes);
    g.position = 24;
    EXPECT_EQ(vpgReadRecord(&g, buf, 3, &len), VpgRecord::Damaged);
    EXPECT_EQ(buf[0], 0xEE);

    // A huge length that would wrap a 32-bit sum.
    bytes[24] = bytes[25] = bytes[26] = bytes[27] = 0xFF;
    MemoryFile h = over(bytes);
    h.position = 24;
    EXPECT_EQ(vpgReadRecord(&h, buf, sizeof buf, &len), VpgRecord::Damaged);

    // Cut inside a length: no record.
    std::vector<unsigned char> stub(bytes.begin(), bytes.begin() + 26);
    MemoryFile s = over(stub);
    s.position = 24;
    EXPECT_EQ(vpgReadRecord(&s, buf, sizeof buf, &len), VpgRecord::None);
}

TEST(Vpg, LayoutRefusesWhatIsNoContainer) {
    std::vector<unsigned char> bytes = vpgBuild({16, 8, 1, 25.0f}, {{1}});
    auto text = [](const std::vector<unsigned char>& b) -> std::string {
        try {
            vpgLayout(b.data(), b.size());
        } catch (const std::string& s) {
            return s;
        }
        return "";
    };
    std::vector<unsigned char> bad = bytes;
    bad[7] = 'H';
    EXPECT_EQ(text(bad), "not a VPG-file.");
    EXPECT_EQ(text(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 20)), "header cut short");
    EXPECT_EQ(text(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 5)), "not a VPG-file.");
    EXPECT_EQ(text(bytes), "");
}

// The three readers of records (the video texture's record reads, the completeness check and the tool's
// layout) see the same records in containers cut short or with lengths patched anywhere, as a plain
// walk over the bytes sees them.
TEST(Vpg, EveryReaderSeesTheSameRecords) {
    std::mt19937 rng(17);
    for (int round = 0; round < 400; ++round) {
        std::vector<std::vector<unsigned char>> records(rng() % 6);
        for (auto& r : records) r.assign(rng() % 40, static_cast<unsigned char>(rng()));
        std::vector<unsigned char> bytes =
            vpgBuild({16, 16, static_cast<uint32_t>(records.size()), 25.0f}, records);
        if (round % 3 == 0 && bytes.size() > 24) bytes.resize(24 + rng() % (bytes.size() - 24));
        if (round % 3 == 1 && bytes.size() >= 28) {
            const size_t at = 24 + rng() % (bytes.size() - 27);
            putLe32(&bytes[at], rng() % 64);
        }
        const uint32_t capacity = round % 2 ? 30 : 1048576;

        // The plain walk.
        std::vector<uint32_t> offsets, lengths;
        size_t pos = 24;
        while (bytes.size() - pos >= 4) {
            const uint32_t len = getLe32(&bytes[pos]);
            if (len > bytes.size() - pos - 4) break;
            offsets.push_back(static_cast<uint32_t>(pos + 4));
            lengths.push_back(len);
            pos += 4 + size_t(len);
        }
        const VpgLayout layout = vpgLayout(bytes.data(), bytes.size());
        EXPECT_EQ(layout.recordOffsets, offsets) << round;
        EXPECT_EQ(layout.recordLengths, lengths) << round;
        EXPECT_EQ(layout.truncated, pos < bytes.size()) << round;

        size_t fit = 0;
        while (fit < lengths.size() && lengths[fit] <= capacity) ++fit;
        EXPECT_EQ(vpgRecordsPresent(bytes.data(), bytes.size(), capacity, 1000), fit) << round;
        EXPECT_EQ(vpgRecordsPresent(bytes.data(), bytes.size(), capacity, 1), fit ? 1u : 0u) << round;

        MemoryFile file = over(bytes);
        memfile_seek(&file, 24, 0);
        std::vector<unsigned char> buffer(capacity);
        for (size_t k = 0;; ++k) {
            uint32_t length = 0;
            const size_t left = bytes.size() - memfile_tell(&file);
            const VpgRecord r = vpgReadRecord(&file, buffer.data(), capacity, &length);
            if (k < fit) {
                ASSERT_EQ(r, VpgRecord::Read) << round << " record " << k;
                EXPECT_EQ(length, lengths[k]);
                EXPECT_EQ(std::memcmp(buffer.data(), &bytes[offsets[k]], length), 0);
                EXPECT_EQ(memfile_tell(&file), offsets[k] + length);
                continue;
            }
            EXPECT_EQ(r, left < 4 ? VpgRecord::None : VpgRecord::Damaged) << round << " record " << k;
            break;
        }
    }
}
