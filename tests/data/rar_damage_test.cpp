// Damaged archives: truncated at many offsets, bits flipped, sizes set huge. Every request ends in
// either the intact member or nothing, without a crash (the sanitizer build checks the reads).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "authoring/rar_writer.h"
#include "data/rar.h"
#include "data/rar_format.h"
#include "scratch_dir.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using ScratchDir = qvtest::WorkDir;  // a scratch folder entered for the test

using qvtest::Sample;

struct Damaged : public ::testing::Test {
    ScratchDir dir;
    std::vector<Sample> samples = {
        {"a.txt", qvtest::makeText(9000, 21)},
        {"b.pcm", qvtest::makePcm(3000, 22)},
        {"c.bin", qvtest::makeBinary(7000, 23)},
        {"d.raw", qvtest::makeNoise(300, 24)},
    };

    Bytes build(bool solid, bool audio, const std::string& password) const {
        rar::ArchiveOptions o;
        o.solid = solid;
        o.audio = audio;
        o.password = password;
        return qvtest::archiveOf(samples, o);
    }

    // Every member either comes out whole or not at all.
    void checkAll(const Bytes& archive, const char* password, const std::string& what) const {
        qvtest::writeBytes("d.rar", archive);
        for (const Sample& s : samples) {
            unsigned char* data = nullptr;
            uint32_t size = 7;
            RarStatus status = RarStatus::kOk;
            int r = rar_get(&data, &size, s.name.c_str(), "d.rar", password, &status);
            ASSERT_EQ(r == 1, status == RarStatus::kOk)
                << what << " " << s.name << ": " << rar_status_text(status);
            if (r) {
                ASSERT_TRUE(Bytes(data, data + size) == s.data) << what << " " << s.name;
            } else {
                ASSERT_EQ(data, nullptr) << what;
                ASSERT_EQ(size, 0u) << what;
            }
            std::free(data);
        }
    }
};

TEST_F(Damaged, TruncatedAnywhere) {
    for (bool solid : {false, true}) {
        const char* pw = solid ? "pw" : nullptr;
        Bytes a = build(solid, true, pw ? pw : "");
        size_t step = a.size() / 250 + 1;
        for (size_t n = 0; n < a.size(); n += step)
            checkAll(Bytes(a.begin(), a.begin() + n), pw, std::to_string(n));
        // Cut inside the last member's data: it cannot come out whole.
        qvtest::writeBytes("d.rar", Bytes(a.begin(), a.end() - 1));
        unsigned char* data = nullptr;
        uint32_t size = 0;
        EXPECT_EQ(rar_get(&data, &size, "d.raw", "d.rar", pw), 0);
    }
}

TEST_F(Damaged, BitsFlipped) {
    std::mt19937 rng(5);
    for (bool solid : {false, true}) {
        const char* pw = solid ? nullptr : "key";
        Bytes a = build(solid, !solid, pw ? pw : "");
        for (int i = 0; i < 300; ++i) {
            Bytes b = a;
            size_t at = rng() % b.size();
            b[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
            checkAll(b, pw, "flip at " + std::to_string(at));
        }
    }
}

TEST_F(Damaged, HugeAndInconsistentSizes) {
    const Bytes a = build(false, false, "");
    // Offsets of the first file header's fields.
    const size_t h = 7 + 13;
    struct Patch {
        size_t offset;
        int width;
        uint32_t value;
    };
    const Patch patches[] = {
        {h + 11, 4, 0xFFFFFFFFu},  // UNP_SIZE
        {h + 11, 4, 0x7FFFFFFFu},  // UNP_SIZE
        {h + 7, 4, 0xFFFFFFF0u},   // PACK_SIZE past the end of the file
        {h + 7, 4, 0},             // PACK_SIZE zero for a packed member
        {h + 7, 4, 1},             // one packed byte
        {h + 5, 2, 0xFFFF},        // HEAD_SIZE
        {h + 5, 2, 3},             // HEAD_SIZE below the base header
        {h + 5, 2, 33},            // HEAD_SIZE inside the name
        {h + 26, 2, 0xFFFF},       // NAME_SIZE
        {h + 3, 2, 0x0000},        // no data area flag
        {h + 3, 2, 0x8010},        // continues a solid stream that is not there
        {h + 25, 1, 0x30},         // packed data read as stored
        {h + 24, 1, 0},            // UNP_VER
        {7 + 5, 2, 0xFFFF},        // main HEAD_SIZE
    };
    for (const Patch& p : patches) {
        Bytes b = a;
        if (p.width == 1) b[p.offset] = static_cast<uint8_t>(p.value);
        if (p.width == 2) putLe16(&b[p.offset], static_cast<uint16_t>(p.value));
        if (p.width == 4) putLe32(&b[p.offset], p.value);
        auto start = std::chrono::steady_clock::now();
        checkAll(b, nullptr, "patch at " + std::to_string(p.offset));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << p.offset;
    }
}

TEST_F(Damaged, GarbagePackedData) {
    // Plausible headers in front of random bytes: the unpacker runs out of input or fails the check.
    std::mt19937 rng(9);
    for (int i = 0; i < 40; ++i) {
        size_t n = 1 + rng() % 5000;
        Bytes packed = qvtest::makeNoise(n, static_cast<uint32_t>(i));
        rar::ArchiveMember m;
        m.name = "g";
        m.data = Bytes(16, 0);
        rar::ArchiveOptions store;
        store.store = true;
        Bytes a = rar::buildArchive({m}, store);
        size_t h = 7 + 13;
        a.resize(h + 33);
        a.insert(a.end(), packed.begin(), packed.end());
        putLe32(&a[h + 7], static_cast<uint32_t>(n));
        putLe32(&a[h + 11], static_cast<uint32_t>(1 + rng() % 2000000));
        a[h + 25] = 0x33;
        qvtest::writeBytes("g.rar", a);
        unsigned char* data = nullptr;
        uint32_t size = 0;
        EXPECT_EQ(rar_get(&data, &size, "g", "g.rar", nullptr), 0) << i;
        std::free(data);
    }
}

TEST(DamagedReal, TruncatedRealArchives) {
    const std::filesystem::path dir = std::filesystem::path(QV_SHARED_DIR) / "testdata" / "rar20";
    if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "shared test data absent: " << dir;
    ScratchDir scratch;
    // The last member of each, so that every cut reaches into it.
    const std::pair<const char*, const char*> cases[] = {{"zxtune/test_v2solid5.rar", "p5_solid.bin"},
                                                         {"zxtune/test_v2.rar", "pMM.bin"}};
    for (const auto& c : cases) {
        std::string a = qvtest::readFile(dir / c.first);
        ASSERT_FALSE(a.empty());
        for (size_t n = 0; n < a.size(); n += a.size() / 150 + 1) {
            qvtest::writeFile("r.rar", a.substr(0, n));
            unsigned char* data = nullptr;
            uint32_t size = 0;
            EXPECT_EQ(rar_get(&data, &size, c.second, "r.rar", nullptr), 0) << c.first << " cut at " << n;
            std::free(data);
        }
    }
}

}  // namespace
