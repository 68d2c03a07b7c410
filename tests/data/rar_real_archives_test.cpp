// Members of archives made by the original archivers: every member of unpack version 20 extracts
// byte for byte; members packed or encrypted by other versions, split pieces and members behind a
// sub-block give nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "data/rar.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

const fs::path kDir = fs::path(QV_SHARED_DIR) / "testdata" / "rar20";

using qvtest::referenceCrc;

struct Extracted {
    int result;
    std::string bytes;
};

Extracted get(const std::string& archive, const std::string& member, const char* password = nullptr) {
    unsigned char* data = reinterpret_cast<unsigned char*>(1);
    uint32_t size = 12345;
    int r = rar_get(&data, &size, member.c_str(), (kDir / archive).c_str(), password);
    Extracted e{r, {}};
    if (r) {
        e.bytes.assign(reinterpret_cast<char*>(data), size);
    } else {
        EXPECT_EQ(data, nullptr) << archive << " " << member;
        EXPECT_EQ(size, 0u) << archive << " " << member;
    }
    std::free(r ? data : nullptr);
    return e;
}

class RealArchives : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::is_directory(kDir)) GTEST_SKIP() << "shared test data absent: " << kDir;
    }
};

struct Expect {
    const char* archive;
    const char* member;
    uint32_t size;
    uint32_t crc;
    const char* password;
};

TEST_F(RealArchives, Version20MembersMatchTheirHeaderCrc) {
    const Expect cases[] = {
        {"rarfile/rar202-comment-nopsw.rar", "FILE1.TXT", 7, 0x7a197dba, nullptr},
        {"rarfile/rar202-comment-nopsw.rar", "file2.txt", 7, 0x785fc3e3, nullptr},
        {"rarfile/rar2-unix-owner.rar", "file.txt", 4, 0x7e3265a8, nullptr},
        // Stored data of an older unpack version is the same bytes.
        {"rarfile/rar15-comment.rar", "FILE2.TXT", 8, 0x3c4306f7, nullptr},
        {"junrar/rar20-password-compressed.rar", "SECRET.TXT", 87, 0x967e05a2, "password"},
        {"junrar/rar20-password-stored.rar", "secret.txt", 87, 0x967e05a2, "password"},
        {"junrar/BoatModernEnglish-audio-text-unpack20.rar", "LICENSE.txt", 107, 0x8eaf20c4, nullptr},
        {"junrar/BoatModernEnglish-regular-unpack20.rar", "LICENSE.txt", 107, 0x8eaf20c4, nullptr},
        {"junrar/test.rar", "foo", 0, 0, nullptr},
        {"sharpcompress/Rar2.rar", "exe/test.exe", 45056, 0xcfb109c8, nullptr},
        {"sharpcompress/Rar2.rar", "JPG\\TEST.JPG", 40372, 0x088814e3, nullptr},
        {"sharpcompress/Rar2.rar", "????.txt", 15498, 0x9bd160fa, nullptr},
        {"sharpcompress/Rar2.rar", "exe", 0, 0, nullptr},
        {"sharpcompress/Rar.none.rar", "exe\\test.exe", 45056, 0xcfb109c8, nullptr},
        {"sharpcompress/Rar.none.rar", "jpg/test.jpg", 40372, 0x088814e3, nullptr},
        {"sharpcompress/Rar.none.rar", "\xe2\xa5\xe1\xe2.txt", 15498, 0x9bd160fa, nullptr},
        {"sharpcompress/Rar.none.rar", "Empty", 0, 0, nullptr},
        {"sharpcompress/Rar.rar", "jpg", 0, 0, nullptr},
        {"pyrescene/store_empty.rar", "empty_file.txt", 0, 0, nullptr},
        {"pyrescene/store_utf8_comment.rar", "little_file.txt", 11, 0x876dbba3, nullptr},
        {"pyrescene/store_utf8_comment.rar",
         "\xce\x9a\xce\xb5\xce\xaf\xce\xbc\xce\xb5\xce\xbd\xce\xbf \xcf\x83\xcf\x84\xce\xb7\xce\xbd "
         "\xce\xb5\xce\xbb\xce\xbb\xce\xb7\xce\xbd\xce\xb9\xce\xba\xce\xae \xce\xb3\xce\xbb\xcf\x8e\xcf\x83"
         "\xcf\x83\xce\xb1.txt",
         65, 0x663f4491, nullptr},
    };
    for (const Expect& c : cases) {
        Extracted e = get(c.archive, c.member, c.password);
        ASSERT_EQ(e.result, 1) << c.archive << " " << c.member;
        EXPECT_EQ(e.bytes.size(), c.size) << c.archive << " " << c.member;
        EXPECT_EQ(referenceCrc(reinterpret_cast<const unsigned char*>(e.bytes.data()), e.bytes.size()), c.crc)
            << c.archive << " " << c.member;
    }
}

TEST_F(RealArchives, PackedMembersMatchKnownPayloads) {
    const std::string etalon = qvtest::readFile(kDir / "zxtune/etalon.bin");
    const std::string wav = qvtest::readFile(kDir / "junrar/BoatModernEnglish.wav");
    ASSERT_EQ(etalon.size(), 16384u);
    ASSERT_EQ(wav.size(), 56464u);
    // Methods 0x30 to 0x35 and multimedia compression, one member each.
    for (const char* m : {"p0.bin", "p1.bin", "p2.bin", "p3.bin", "p4.bin", "p5.bin", "pMM.bin"}) {
        Extracted e = get("zxtune/test_v2.rar", m);
        EXPECT_EQ(e.result, 1) << m;
        EXPECT_TRUE(e.bytes == etalon) << m;
    }
    // Solid: the second member is 50 packed bytes that need the first member's window.
    for (const char* m : {"p5.bin", "P5_SOLID.BIN"}) {
        Extracted e = get("zxtune/test_v2solid5.rar", m);
        EXPECT_EQ(e.result, 1) << m;
        EXPECT_TRUE(e.bytes == etalon) << m;
    }
    // Audio blocks after a table change, and a 1 MiB dictionary.
    for (const char* a : {"junrar/BoatModernEnglish-audio-text-unpack20.rar",
                          "junrar/BoatModernEnglish-regular-unpack20.rar"}) {
        Extracted e = get(a, "boatmodernenglish.wav");
        EXPECT_EQ(e.result, 1) << a;
        EXPECT_TRUE(e.bytes == wav) << a;
    }
}

TEST_F(RealArchives, WrongOrMissingPasswordGivesNothing) {
    for (const char* a : {"junrar/rar20-password-compressed.rar", "junrar/rar20-password-stored.rar"}) {
        EXPECT_EQ(get(a, "SECRET.TXT").result, 0) << a;
        EXPECT_EQ(get(a, "SECRET.TXT", "").result, 0) << a;
        EXPECT_EQ(get(a, "SECRET.TXT", "Password").result, 0) << a;
        EXPECT_EQ(get(a, "SECRET.TXT", "password ").result, 0) << a;
    }
}

TEST_F(RealArchives, OtherVersionsSplitPiecesAndSubBlocksGiveNothing) {
    const std::pair<const char*, const char*> cases[] = {
        // Unpack version 15: packed with another method, or encrypted with another cipher.
        {"rarfile/rar15-comment.rar", "FILE1.TXT"},
        {"junrar/rar15-password-stored.rar", "SECRET.TXT"},
        {"junrar/BoatModernEnglish-regular-unpack15-win.rar", "LICENSE.txt"},
        {"sharpcompress/Rar15.rar", "EXE\\TEST.EXE"},
        // Unpack version 29.
        {"junrar/test.rar", "foo\\bar.txt"},
        {"junrar/rar4.rar", "FILE1.TXT"},
        {"junrar/BoatModernEnglish-audio-text-unpack30.rar", "LICENSE.txt"},
        {"sharpcompress/Rar.rar", "exe\\test.exe"},
        {"ssokolow/testfile.rar3.rar", "testfile.txt"},
        // The older container.
        {"junrar/rar14-solid.rar", "anything"},
        // Pieces of multi-volume sets.
        {"sharpcompress/Rar2.multi.rar", "exe\\test.exe"},
        {"sharpcompress/Rar2.multi.r00", "exe\\test.exe"},
        {"sharpcompress/Rar2.multi.r04", "jpg\\test.jpg"},
        {"sharpcompress/Rar2.multi.r05", "????.txt"},
        {"pyrescene/winrar2.80-volumes/winrar2.80.rar", "unicode_unix.nfo"},
        {"pyrescene/winrar2.80-volumes/winrar2.80.r16", "ansi_dos.nfo"},
        // A sub-block before the member.
        {"uncertain/junrar-mac-subblock.rar", "file1.txt"},
        {"uncertain/junrar-mac-subblock.rar", "file2.txt"},
        // Not in the archive.
        {"zxtune/test_v2.rar", "p6.bin"},
        {"uncertain/rardecode-rar2AuthenticityBlock.rar", "x"},
    };
    for (const auto& c : cases) EXPECT_EQ(get(c.first, c.second).result, 0) << c.first << " " << c.second;
    // Requests that differ only by case or separators still find the member; others do not.
    EXPECT_EQ(get("sharpcompress/Rar2.rar", "EXE_TEST.EXE").result, 1);
    EXPECT_EQ(get("sharpcompress/Rar2.rar", "exe/test.ex").result, 0);
    EXPECT_EQ(get("sharpcompress/Rar2.rar", "exe/test.exe ").result, 0);
}

}  // namespace
