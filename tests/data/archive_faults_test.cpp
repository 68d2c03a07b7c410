// Why the reader gives nothing: each reason on archives we make (encrypted with and without the key, cut
// short anywhere, bytes flipped in headers and in data) and on archives of the original archivers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "authoring/rar_writer.h"
#include "data/rar.h"
#include "data/rar_format.h"
#include "data/rar_index.h"
#include "scratch_dir.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using ScratchDir = qvtest::WorkDir;  // a scratch folder entered for the test

const char* name(RarStatus s) {
    return rar_status_text(s);
}

// The status of one request, checked against the result: 1 exactly when the status is kOk, and then the
// bytes; 0 with nothing handed out otherwise.
RarStatus statusOf(const std::string& archive, const std::string& member, const char* password,
                   const Bytes* expected = nullptr) {
    unsigned char* data = reinterpret_cast<unsigned char*>(1);
    uint32_t size = 7;
    RarStatus status = RarStatus::kNoMemory;
    const int r = rar_get(&data, &size, member.c_str(), archive.c_str(), password, &status);
    EXPECT_EQ(r == 1, status == RarStatus::kOk) << archive << " " << member << ": " << name(status);
    if (r) {
        if (expected) {
            EXPECT_TRUE(Bytes(data, data + size) == *expected) << archive << " " << member;
        }
        std::free(data);
    } else {
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(size, 0u);
    }
    return status;
}

using qvtest::Sample;

// Four members of different kinds, in order; the archive and where each member's header and data lie.
struct Made {
    Bytes bytes;
    std::vector<rar::ArchiveEntry> entries;
    std::vector<size_t> headerAt, dataAt, dataEnd;
};

class ArchiveFaults : public ::testing::Test {
protected:
    ScratchDir dir;
    const std::vector<Sample> samples = {
        {"load.png", qvtest::makeNoise(3000, 1)},  // incompressible: stored
        {"scene.xml", qvtest::makeText(9000, 2)},
        {"ferrowake.mp3", qvtest::makeBinary(20000, 3)},
        {"text0.png", qvtest::makeText(700, 4)},
    };

    Made make(const std::string& password, bool solid) const {
        rar::ArchiveOptions o;
        o.password = password;
        o.solid = solid;
        Made made;
        made.bytes = qvtest::archiveOf(samples, o);
        size_t pos = 7 + rar::kMainHeadSize;
        while (pos < made.bytes.size()) {
            const size_t head = getLe16(&made.bytes[pos + 5]);
            made.headerAt.push_back(pos);
            made.dataAt.push_back(pos + head);
            pos += head + getLe32(&made.bytes[pos + 7]);
            made.dataEnd.push_back(pos);
        }
        qvtest::writeBytes("made.rar", made.bytes);
        made.entries = rar::listArchive("made.rar").entries;
        return made;
    }

    RarStatus with(const Bytes& archive, const std::string& member, const char* password,
                   const Bytes* expected = nullptr) const {
        qvtest::writeBytes("t.rar", archive);
        return statusOf("t.rar", member, password, expected);
    }
};

TEST_F(ArchiveFaults, EachReasonHasItsStatus) {
    const Made m = make("Rb7qT", false);
    ASSERT_EQ(m.headerAt.size(), samples.size());
    ASSERT_EQ(m.entries[0].method, rar::kMethodStore);
    ASSERT_NE(m.entries[1].method, rar::kMethodStore);

    for (size_t i = 0; i < samples.size(); ++i) {
        EXPECT_EQ(with(m.bytes, samples[i].name, "Rb7qT", &samples[i].data), RarStatus::kOk) << i;
        // Without the key, or with another, every member: no other member opens with it either.
        EXPECT_EQ(with(m.bytes, samples[i].name, "Rb7qt"), RarStatus::kWrongPassword) << i;
        EXPECT_EQ(with(m.bytes, samples[i].name, nullptr), RarStatus::kWrongPassword) << i;
        EXPECT_EQ(with(m.bytes, samples[i].name, ""), RarStatus::kWrongPassword) << i;
    }
    EXPECT_EQ(statusOf("no-such.rar", "load.png", "Rb7qT"), RarStatus::kNoArchive);
    EXPECT_EQ(statusOf(".", "load.png", "Rb7qT"), RarStatus::kUnreadable);  // a folder, not a file
    EXPECT_EQ(with(qvtest::makeNoise(500, 9), "load.png", "Rb7qT"), RarStatus::kNotArchive);
    EXPECT_EQ(with(m.bytes, "missing.png", "Rb7qT"), RarStatus::kNoMember);
    EXPECT_EQ(with(m.bytes, "missing.png", "wrong"), RarStatus::kNoMember);  // nothing was decrypted

    // Cut in half: members before the cut still come out, those after it and names it may have held are
    // the archive's truncation, not missing members.
    const Bytes half(m.bytes.begin(), m.bytes.begin() + m.bytes.size() / 2);
    ASSERT_GT(m.bytes.size() / 2, m.dataEnd[1]);
    ASSERT_LT(m.bytes.size() / 2, m.dataEnd[2]);
    EXPECT_EQ(with(half, "scene.xml", "Rb7qT", &samples[1].data), RarStatus::kOk);
    EXPECT_EQ(with(half, "ferrowake.mp3", "Rb7qT"), RarStatus::kTruncated);
    EXPECT_EQ(with(half, "text0.png", "Rb7qT"), RarStatus::kTruncated);
    EXPECT_EQ(with(half, "missing.png", "Rb7qT"), RarStatus::kTruncated);
    const Bytes short113(m.bytes.begin(), m.bytes.end() - 113);
    EXPECT_EQ(with(short113, "text0.png", "Rb7qT"), RarStatus::kTruncated);
    EXPECT_EQ(with(short113, "load.png", "Rb7qT", &samples[0].data), RarStatus::kOk);

    // A flipped byte in a member's data is damage: the other members open with the same password.
    for (size_t i : {0, 1, 3}) {
        Bytes b = m.bytes;
        b[(m.dataAt[i] + m.dataEnd[i]) / 2] ^= 0x20;
        const RarStatus s = with(b, samples[i].name, "Rb7qT");
        EXPECT_TRUE(s == RarStatus::kBadCrc || s == RarStatus::kBadData) << i << ": " << name(s);
        if (i == 0) {
            EXPECT_EQ(s, RarStatus::kBadCrc);  // stored
        }
        EXPECT_EQ(with(b, samples[i].name, "other"), RarStatus::kWrongPassword) << i;
    }
    // A flipped byte in a member's name hides it behind a header that fails its check.
    Bytes renamed = m.bytes;
    renamed[m.headerAt[2] + rar::kFileHeadSize + 1] ^= 0x01;
    EXPECT_EQ(with(renamed, "ferrowake.mp3", "Rb7qT"), RarStatus::kBadHeader);
    EXPECT_EQ(with(renamed, "text0.png", "Rb7qT", &samples[3].data), RarStatus::kOk);
    Bytes tiny = m.bytes;
    putLe16(&tiny[m.headerAt[1] + 5], 3);
    EXPECT_EQ(with(tiny, "text0.png", "Rb7qT"), RarStatus::kBadHeader);
    // Packed with a later method, or behind a sub-block.
    Bytes v29 = m.bytes;
    v29[m.headerAt[1] + 24] = 29;
    EXPECT_EQ(with(v29, "scene.xml", "Rb7qT"), RarStatus::kUnsupported);
    Bytes sub = m.bytes;
    const Bytes block = {0, 0, rar::kSubBlock, 0, 0, 9, 0, 0, 0};
    sub.insert(sub.begin() + m.headerAt[1], block.begin(), block.end());
    EXPECT_EQ(with(sub, "load.png", "Rb7qT", &samples[0].data), RarStatus::kOk);
    EXPECT_EQ(with(sub, "scene.xml", "Rb7qT"), RarStatus::kUnsupported);
}

// Cut anywhere before the end of a member's data, the archive gives that member as truncated; cut after
// it, the member comes out. Solid and not, with and without encryption.
TEST_F(ArchiveFaults, CutAnywhereIsTruncated) {
    for (bool solid : {false, true}) {
        for (const char* password : {"", "pw"}) {
            const Made m = make(password, solid);
            const size_t last = samples.size() - 1;
            const size_t step = m.bytes.size() / 97 + 1;
            for (size_t n = 0; n < m.bytes.size(); n += step) {
                const Bytes cut(m.bytes.begin(), m.bytes.begin() + n);
                // RAR 2.x writes no end block: cut exactly between two blocks, the archive is a whole one
                // of fewer members.
                bool between = n == 7 + rar::kMainHeadSize;
                for (size_t end : m.dataEnd) between = between || n == end;
                for (size_t i : {size_t(0), last}) {
                    const RarStatus s = with(cut, samples[i].name, password, &samples[i].data);
                    const RarStatus want = n >= m.dataEnd[i] ? RarStatus::kOk
                                           : between         ? RarStatus::kNoMember
                                                             : RarStatus::kTruncated;
                    EXPECT_EQ(s, want) << "solid " << solid << " password '" << password << "' cut at " << n
                                       << " member " << i << ": " << name(s);
                }
            }
        }
    }
}

// Bytes of a member's data flipped, in an encrypted archive: the member comes out (when the byte was not
// needed) or is damaged; never a wrong password, as long as another member can vouch for the password.
TEST_F(ArchiveFaults, FlippedDataIsDamageNotAWrongPassword) {
    std::mt19937 rng(3);
    for (bool solid : {false, true}) {
        const Made m = make("Rb7qT", solid);
        for (size_t i = 0; i < samples.size(); ++i) {
            for (int k = 0; k < 12; ++k) {
                Bytes b = m.bytes;
                const size_t at = m.dataAt[i] + rng() % (m.dataEnd[i] - m.dataAt[i]);
                b[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
                const RarStatus s = with(b, samples[i].name, "Rb7qT", &samples[i].data);
                // The first member of a solid archive is the only one that depends on no other: nothing
                // can tell its damage from a wrong password.
                const bool cannotTell = solid && i == 0 && s == RarStatus::kWrongPassword;
                EXPECT_TRUE(s == RarStatus::kOk || s == RarStatus::kBadCrc || s == RarStatus::kBadData ||
                            cannotTell)
                    << "solid " << solid << " flip at " << at << " member " << i << ": " << name(s);
            }
        }
    }
}

// ---- Archives of the original archivers ----------------------------------------------------------------

const fs::path kReal = fs::path(QV_SHARED_DIR) / "testdata" / "rar20";

class RealArchiveFaults : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::is_directory(kReal)) GTEST_SKIP() << "shared test data absent: " << kReal;
    }
    ScratchDir dir;
};

TEST_F(RealArchiveFaults, StatusOfEachRequest) {
    struct Case {
        const char* archive;
        const char* member;
        const char* password;
        RarStatus status;
    };
    const Case cases[] = {
        {"junrar/rar20-password-compressed.rar", "SECRET.TXT", "password", RarStatus::kOk},
        {"junrar/rar20-password-compressed.rar", "SECRET.TXT", "Password", RarStatus::kWrongPassword},
        {"junrar/rar20-password-compressed.rar", "SECRET.TXT", nullptr, RarStatus::kWrongPassword},
        {"junrar/rar20-password-stored.rar", "secret.txt", "password", RarStatus::kOk},
        {"junrar/rar20-password-stored.rar", "secret.txt", "password ", RarStatus::kWrongPassword},
        {"junrar/rar20-password-stored.rar", "secret.txt", "", RarStatus::kWrongPassword},
        {"zxtune/test_v2.rar", "p6.bin", nullptr, RarStatus::kNoMember},
        {"uncertain/rardecode-rar2AuthenticityBlock.rar", "x", nullptr, RarStatus::kNoMember},
        {"junrar/test.rar", "foo\\bar.txt", nullptr, RarStatus::kUnsupported},
        {"sharpcompress/Rar.rar", "exe\\test.exe", nullptr, RarStatus::kUnsupported},
        {"junrar/rar15-password-stored.rar", "SECRET.TXT", "password", RarStatus::kUnsupported},
        {"uncertain/junrar-mac-subblock.rar", "file1.txt", nullptr, RarStatus::kUnsupported},
        {"junrar/rar14-solid.rar", "anything", nullptr, RarStatus::kNotArchive},
    };
    for (const Case& c : cases)
        EXPECT_EQ(statusOf((kReal / c.archive).string(), c.member, c.password), c.status)
            << c.archive << " " << c.member << ": "
            << name(statusOf((kReal / c.archive).string(), c.member, c.password));
}

TEST_F(RealArchiveFaults, CutAndFlippedCopies) {
    const std::string a = qvtest::readFile(kReal / "zxtune/test_v2.rar");
    const std::string etalon = qvtest::readFile(kReal / "zxtune/etalon.bin");
    ASSERT_FALSE(a.empty());
    const Bytes expected(etalon.begin(), etalon.end());
    std::vector<std::string> names;
    for (const rar::ArchiveEntry& e : rar::listArchive((kReal / "zxtune/test_v2.rar").string()).entries)
        names.push_back(e.name);
    ASSERT_EQ(names.size(), 7u);

    qvtest::writeFile("half.rar", a.substr(0, a.size() / 2));
    size_t whole = 0;
    for (const std::string& n : names) {
        const RarStatus s = statusOf("half.rar", n, nullptr, &expected);
        EXPECT_TRUE(s == RarStatus::kOk || s == RarStatus::kTruncated) << n << ": " << name(s);
        whole += s == RarStatus::kOk;
    }
    EXPECT_GT(whole, 0u);
    EXPECT_LT(whole, names.size());
    EXPECT_EQ(statusOf("half.rar", "p6.bin", nullptr), RarStatus::kTruncated);

    qvtest::writeFile("short.rar", a.substr(0, a.size() - 113));
    EXPECT_EQ(statusOf("short.rar", names.back(), nullptr), RarStatus::kTruncated);
    EXPECT_EQ(statusOf("short.rar", names.front(), nullptr, &expected), RarStatus::kOk);

    // The last member's data, a byte at a time in a few places: damage, seen by the CRC or the unpacker.
    const rar::ArchiveIndex index = rar::listArchive((kReal / "zxtune/test_v2.rar").string());
    const uint32_t pack = index.entries.back().packSize;
    for (uint32_t k = 1; k < 8; ++k) {
        std::string b = a;
        b[b.size() - pack + pack * k / 8] ^= 0x08;
        qvtest::writeFile("flip.rar", b);
        const RarStatus s = statusOf("flip.rar", names.back(), nullptr, &expected);
        EXPECT_TRUE(s == RarStatus::kBadCrc || s == RarStatus::kBadData) << k << ": " << name(s);
    }
}

}  // namespace
