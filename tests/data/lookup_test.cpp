// The lookup's answers as a maker meets them: the archive's own faults name the archive, a file the
// archive holds is never replaced by a loose copy it cannot give, loose files match in any letter case,
// and a loose copy that differs from the archive's is reported once.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "authoring/rar_writer.h"
#include "base/byte_reader.h"
#include "data/memfile.h"
#include "data/rar.h"
#include "scratch_dir.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using ScratchDir = qvtest::WorkDir;  // a scratch folder entered for the test

struct Closer {
    void operator()(MemoryFile* f) const { memfile_close(f); }
};
using FilePtr = std::unique_ptr<MemoryFile, Closer>;

std::string textOf(const MemoryFile* f) {
    return std::string(reinterpret_cast<const char*>(f->data), f->length);
}

// What an open gives: the file's bytes, "null", or "error: " and the text thrown.
std::string lookUp(const std::string& name) {
    try {
        FilePtr f(memfile_open(name.c_str()));
        return f ? textOf(f.get()) : "null";
    } catch (const std::string& e) {
        return "error: " + e;
    }
}

std::string cwd() {
    return std::filesystem::current_path().string();
}

class Lookup : public ::testing::Test {
protected:
    ScratchDir dir;
    const Bytes picture = qvtest::makeNoise(5000, 7);
    const Bytes scene = qvtest::makeText(30000, 8);
    const Bytes last = qvtest::makeText(900, 9);

    Bytes archive(const std::string& password) const {
        std::vector<rar::ArchiveMember> members(3);
        members[0].name = "load.png";
        members[0].data = picture;
        members[1].name = "Scenes\\Plinthar.scene";
        members[1].data = scene;
        members[2].name = "text0.png";
        members[2].data = last;
        rar::ArchiveOptions o;
        o.password = password;
        return rar::buildArchive(members, o);
    }
    static std::string str(const Bytes& b) { return std::string(b.begin(), b.end()); }
};

TEST_F(Lookup, ArchiveFaultsNameTheArchive) {
    const Bytes good = archive(kArchivePassword);

    // No archive and no data folder: both places are named.
    EXPECT_EQ(lookUp("load.png"),
              "error: cannot find load.png: there is neither gorvel.yo nor a data folder in " + cwd());
    qvtest::writeFile("data/other.txt", "x");
    EXPECT_EQ(lookUp("load.png"), "null");  // the caller says "file not found"

    // The right archive: its copy, quietly; a file it does not hold comes from the folder.
    qvtest::writeBytes("gorvel.yo", good);
    EXPECT_EQ(lookUp("load.png"), str(picture));
    EXPECT_EQ(lookUp("scenes/plinthar.scene"), str(scene));
    EXPECT_EQ(lookUp("other.txt"), "x");
    EXPECT_EQ(lookUp("nowhere.txt"), "null");

    // Another password: an error, with or without a loose copy to fall back on.
    qvtest::writeBytes("gorvel.yo", archive("something else"));
    const std::string wrong = "error: cannot decrypt gorvel.yo: wrong password";
    EXPECT_EQ(lookUp("load.png"), wrong);
    qvtest::writeBytes("data/load.png", picture);
    EXPECT_EQ(lookUp("load.png"), wrong);
    EXPECT_EQ(lookUp("text0.png"), wrong);
    EXPECT_EQ(lookUp("other.txt"), "x");  // not in the archive: the folder still serves it
    std::filesystem::remove("data/load.png");

    // Cut in half, or missing its last 113 bytes.
    qvtest::writeBytes("gorvel.yo", Bytes(good.begin(), good.begin() + good.size() / 2));
    EXPECT_EQ(lookUp("load.png"), str(picture));
    EXPECT_EQ(lookUp("text0.png"), "error: gorvel.yo is truncated: it ends before text0.png could be read");
    EXPECT_EQ(lookUp("other.txt"), "error: gorvel.yo is truncated: it ends before other.txt could be read");
    qvtest::writeBytes("gorvel.yo", Bytes(good.begin(), good.end() - 113));
    EXPECT_EQ(lookUp("text0.png"), "error: gorvel.yo is truncated: it ends before text0.png could be read");

    // A flipped byte in the stored picture's data, and in the scene's name.
    Bytes flipped = good;
    flipped[7 + 13 + 32 + 8 + 100] ^= 0x40;
    qvtest::writeBytes("gorvel.yo", flipped);
    EXPECT_EQ(lookUp("load.png"), "error: gorvel.yo is damaged: load.png fails its CRC check");
    EXPECT_EQ(lookUp("text0.png"), str(last));
    Bytes renamed = good;
    const size_t second = 7 + 13 + getLe16(&good[7 + 13 + 5]) + getLe32(&good[7 + 13 + 7]);
    renamed[second + 32 + 3] ^= 0x01;
    qvtest::writeBytes("gorvel.yo", renamed);
    EXPECT_EQ(
        lookUp("scenes/plinthar.scene"),
        "error: gorvel.yo is damaged: a block header fails its check (looking for scenes/plinthar.scene)");

    qvtest::writeFile("gorvel.yo", "PK\x03\x04 not ours");
    EXPECT_EQ(lookUp("load.png"), "error: gorvel.yo is not a RAR archive");

    // Names of absurd length show their start only.
    std::filesystem::remove("gorvel.yo");
    std::filesystem::remove_all("data");
    const std::string huge(1 << 20, 'n');
    EXPECT_EQ(lookUp(huge), "error: cannot find " + std::string(60, 'n') +
                                "...: there is neither gorvel.yo nor a data folder in " + cwd());
}

TEST_F(Lookup, LooseFilesMatchInAnyLetterCase) {
    qvtest::writeFile("data/Textures/Glow.PNG", "glow");
    qvtest::writeFile("data/both.txt", "lower");
    qvtest::writeFile("data/BOTH.txt", "upper");
    qvtest::writeFile("data/Both.TXT", "mixed");
    EXPECT_EQ(lookUp("textures/glow.png"), "glow");
    EXPECT_EQ(lookUp("TEXTURES/GLOW.PNG"), "glow");
    EXPECT_EQ(lookUp("Textures/Glow.PNG"), "glow");
    EXPECT_EQ(lookUp("textures/glow.pn"), "null");
    EXPECT_EQ(lookUp("textures"), "null");  // a folder is no file
    // An exact match wins; otherwise the first in byte order.
    EXPECT_EQ(lookUp("both.txt"), "lower");
    EXPECT_EQ(lookUp("BOTH.txt"), "upper");
    EXPECT_EQ(lookUp("bOTH.TXT"), "upper");
}

TEST_F(Lookup, DifferingLooseCopyIsReportedOnce) {
    qvtest::writeBytes("gorvel.yo", archive(kArchivePassword));
    qvtest::writeBytes("data/load.png", picture);          // the same bytes
    qvtest::writeFile("data/TEXT0.PNG", "an older text");  // differs, under another case
    testing::internal::CaptureStderr();
    EXPECT_EQ(lookUp("load.png"), str(picture));
    EXPECT_EQ(lookUp("text0.png"), str(last));
    EXPECT_EQ(lookUp("text0.png"), str(last));
    EXPECT_EQ(lookUp("load.png"), str(picture));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "data/TEXT0.PNG differs from text0.png in gorvel.yo; the archive's is used\n");
}

}  // namespace
