// The archive as makers meet it through the programs: qvtool's archive command (the production's password
// by default, the reason a member cannot be read) and the production itself started on a bad archive.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "authoring/rar_writer.h"
#include "data/memfile.h"
#include "data/rar.h"
#include "data/rar_format.h"
#include "data/rar_index.h"
#include "run_command.h"
#include "scratch_dir.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const std::string kQvtool = std::string(QV_BINARY_DIR) + "/qvtool";
const std::string kQuorvane = std::string(QV_BINARY_DIR) + "/quorvane";
const fs::path kAssets = fs::path(QV_SOURCE_DIR) / "assets";

std::string quoted(const std::string& s) {
    return "'" + s + "'";
}

RarStatus statusOf(const std::string& archive, const std::string& member, const char* password, Bytes* out) {
    unsigned char* data = nullptr;
    uint32_t size = 0;
    RarStatus status;
    if (rar_get(&data, &size, member.c_str(), archive.c_str(), password, &status))
        out->assign(data, data + size);
    std::free(data);
    return status;
}

TEST(ArchiveCommand, CreatesWithTheProductionsPasswordUnlessToldOtherwise) {
    qvtest::ScratchDir dir("qv-archive-cmd");
    const std::string in = dir / "a.txt";
    qvtest::writeFile(in, "hello");
    const std::string cd = "cd " + quoted(dir.path().string()) + " && " + quoted(kQvtool) + " archive ";
    ASSERT_EQ(qvtest::runCommand(cd + "create default.rar a.txt"), 0);
    ASSERT_EQ(qvtest::runCommand(cd + "create plain.rar --no-password a.txt"), 0);
    ASSERT_EQ(qvtest::runCommand(cd + "create other.rar -p other a.txt"), 0);

    Bytes out;
    EXPECT_EQ(statusOf(dir / "default.rar", "a.txt", kArchivePassword, &out), RarStatus::kOk);
    EXPECT_EQ(std::string(out.begin(), out.end()), "hello");
    EXPECT_EQ(statusOf(dir / "default.rar", "a.txt", nullptr, &out), RarStatus::kWrongPassword);
    EXPECT_EQ(statusOf(dir / "plain.rar", "a.txt", nullptr, &out), RarStatus::kOk);
    EXPECT_FALSE(rar::listArchive(dir / "plain.rar").entries.at(0).flags & rar::kFileEncrypted);
    EXPECT_EQ(statusOf(dir / "other.rar", "a.txt", "other", &out), RarStatus::kOk);
    EXPECT_EQ(statusOf(dir / "other.rar", "a.txt", kArchivePassword, &out), RarStatus::kWrongPassword);

    // Extraction takes the same default and says why a member cannot be read.
    std::string text;
    EXPECT_EQ(qvtest::runCommand(cd + "extract default.rar A.TXT -o -", &text), 0);
    EXPECT_EQ(text, "hello");
    EXPECT_EQ(qvtest::runCommand(cd + "extract other.rar a.txt -o -", &text), 1);
    EXPECT_EQ(text, "qvtool archive: cannot extract 'a.txt' from other.rar: wrong password\n");
    EXPECT_EQ(qvtest::runCommand(cd + "extract other.rar a.txt --no-password -o -", &text), 1);
    EXPECT_EQ(text,
              "qvtool archive: cannot extract 'a.txt' from other.rar: encrypted, and no password given\n");
    EXPECT_EQ(qvtest::runCommand(cd + "extract default.rar b.txt -o -", &text), 1);
    EXPECT_EQ(text, "qvtool archive: cannot extract 'b.txt' from default.rar: no such member\n");
    EXPECT_EQ(qvtest::runCommand(cd + "extract none.rar a.txt -o -", &text), 1);
    EXPECT_EQ(text, "qvtool archive: cannot extract 'a.txt' from none.rar: archive not found\n");
    const std::string archive = qvtest::readFile(dir / "default.rar");
    qvtest::writeFile(dir / "cut.rar", archive.substr(0, archive.size() - 3));
    EXPECT_EQ(qvtest::runCommand(cd + "extract cut.rar a.txt -o -", &text), 1);
    EXPECT_EQ(text, "qvtool archive: cannot extract 'a.txt' from cut.rar: archive is truncated\n");

    // Names of absurd length show their start only (a long argument, a long path).
    const std::string longName(100000, 'm');
    EXPECT_EQ(qvtest::runCommand(cd + "extract default.rar " + longName + " -o -", &text), 1);
    EXPECT_EQ(text, "qvtool archive: cannot extract '" + std::string(60, 'm') +
                        "...' from default.rar: no such member\n");
    std::string deep;
    for (int i = 0; i < 20000; ++i) deep += "d/";
    EXPECT_EQ(qvtest::runCommand(cd + "create x.rar " + deep + "x", &text), 1);
    EXPECT_EQ(text, "qvtool archive: cannot open " + deep.substr(0, 60) + "...\n");
}

// The production started in a folder with a bad archive: exit code 1 and the loader's line, followed by a
// reason that names the archive.
TEST(ProductionOnBadArchives, ExitsWithAReasonNamingTheArchive) {
    if (!fs::exists(kAssets / "gorvel.yo") || !fs::is_directory(kAssets / "data"))
        GTEST_SKIP() << "the default data set is absent";
    qvtest::ScratchDir dir("qv-bad-archive");
    const std::string good = qvtest::readFile(kAssets / "gorvel.yo");
    ASSERT_FALSE(good.empty());

    // The data set under another password (stored, to be quick; the loading picture is read first).
    std::vector<rar::ArchiveMember> members;
    for (const char* name : {"load.png", "ferrowake.mp3"}) {
        rar::ArchiveMember m;
        m.name = name;
        const std::string bytes = qvtest::readFile(kAssets / "data" / name);
        m.data.assign(bytes.begin(), bytes.end());
        members.push_back(m);
    }
    rar::ArchiveOptions other;
    other.password = "not the production's";
    other.store = true;
    const Bytes wrong = rar::buildArchive(members, other);
    std::string flipped = good;
    const size_t load = flipped.find("load.png");
    ASSERT_NE(load, std::string::npos);
    flipped[load + 8 + 30000] ^= 0x10;  // inside the loading picture's data

    struct Case {
        const char* folder;
        std::string archive;  // empty: none
        bool dataFolder;
        const char* expected;
    };
    const Case cases[] = {
        {"missing", "", false,
         "Failed to load load.png\ncannot find load.png: there is neither gorvel.yo nor a data folder in "},
        {"wrong", std::string(wrong.begin(), wrong.end()), false,
         "Failed to load load.png\ncannot decrypt gorvel.yo: wrong password\n"},
        {"wrong-with-data", std::string(wrong.begin(), wrong.end()), true,
         "Failed to load load.png\ncannot decrypt gorvel.yo: wrong password\n"},
        {"half", good.substr(0, good.size() / 2), false,
         "Failed to load load.png\ngorvel.yo is truncated: it ends before load.png could be read\n"},
        {"short", good.substr(0, good.size() - 113), false,
         "Failed to load text0.png\ngorvel.yo is truncated: it ends before text0.png could be read\n"},
        {"flipped", flipped, false,
         "Failed to load load.png\ngorvel.yo is damaged: load.png fails its CRC check\n"},
    };
    for (const Case& c : cases) {
        const fs::path folder = dir.path() / c.folder;
        fs::create_directories(folder);
        if (!c.archive.empty()) qvtest::writeFile(folder / "gorvel.yo", c.archive);
        if (c.dataFolder) fs::copy(kAssets / "data", folder / "data", fs::copy_options::recursive);
        std::string err;
        const int code =
            qvtest::runCommand("(cd " + quoted(folder.string()) + " && SDL_AUDIODRIVER=dummy " +
                                   quoted(kQuorvane) + " --capture out --times 1 2>&1 >/dev/null)",
                               &err);
        EXPECT_EQ(code, 1) << c.folder << ": " << err;
        EXPECT_NE(err.find(c.expected), std::string::npos) << c.folder << ": " << err;
    }
}

}  // namespace
