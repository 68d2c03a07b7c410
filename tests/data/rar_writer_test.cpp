// Archives from our writer, read back by our reader and by independent tools (lsar, unar) when
// they are installed: stored, packed, solid, encrypted and multimedia members, empty to MiBs.
#include "authoring/rar_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "data/rar.h"
#include "data/rar_format.h"
#include "data/rar_index.h"
#include "run_command.h"
#include "scratch_dir.h"
#include "test_support.h"

namespace {

using ScratchDir = qvtest::WorkDir;  // a scratch folder entered for the test

struct Input {
    const char* name;
    std::vector<uint8_t> data;
};

std::vector<Input> mixedInputs() {
    return {
        {"empty.bin", {}},
        {"one.txt", {'x'}},
        {"text/notes.txt", qvtest::makeText(300000, 1)},
        {"mesh/model.bin", qvtest::makeBinary(1200000, 2)},
        {"noise.bin", qvtest::makeNoise(70000, 3)},
        {"sound.pcm", qvtest::makePcm(200000, 4)},
        {"odd.txt", qvtest::makeText(87, 5)},
    };
}

std::vector<rar::ArchiveMember> toMembers(const std::vector<Input>& inputs) {
    std::vector<rar::ArchiveMember> members;
    for (const Input& in : inputs) {
        rar::ArchiveMember m;
        m.name = in.name;
        for (char& c : m.name)
            if (c == '/') c = '\\';
        m.data = in.data;
        m.dosTime = 0x5A8C6000;  // 2025-04-12 12:00
        members.push_back(m);
    }
    return members;
}

std::vector<uint8_t> extract(const std::string& archive, const std::string& member, const char* password,
                             int* result) {
    unsigned char* data = nullptr;
    uint32_t size = 0;
    *result = rar_get(&data, &size, member.c_str(), archive.c_str(), password);
    std::vector<uint8_t> out(data, data + size);
    std::free(data);
    return out;
}

bool haveTool(const char* name) {
    return qvtest::haveCommand(name);
}

std::string run(const std::string& cmd, int* status) {
    std::string out;
    *status = qvtest::runCommand(cmd, &out);
    return out;
}

struct Case {
    const char* label;
    rar::ArchiveOptions options;
};

std::vector<Case> cases() {
    auto opt = [](bool store, bool solid, bool audio, const char* pw) {
        rar::ArchiveOptions o;
        o.store = store;
        o.solid = solid;
        o.audio = audio;
        o.password = pw;
        return o;
    };
    return {
        {"stored", opt(true, false, false, "")},
        {"packed", opt(false, false, false, "")},
        {"solid", opt(false, true, false, "")},
        {"encrypted", opt(false, false, false, "k3y!")},
        {"stored-encrypted", opt(true, false, false, "Rb7qT")},
        {"solid-encrypted", opt(false, true, false, "a longer pass phrase with spaces")},
        {"audio", opt(false, false, true, "")},
        {"audio-solid-encrypted", opt(false, true, true, "pw")},
    };
}

TEST(ArchiveWriter, RoundTripsThroughOurReader) {
    ScratchDir dir;
    const std::vector<Input> inputs = mixedInputs();
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> bytes = rar::buildArchive(toMembers(inputs), c.options);
        qvtest::writeBytes("a.rar", bytes);
        const char* pw = c.options.password.empty() ? nullptr : c.options.password.c_str();
        for (const Input& in : inputs) {
            int r = 0;
            std::vector<uint8_t> got = extract("a.rar", in.name, pw, &r);
            EXPECT_EQ(r, 1) << in.name;
            EXPECT_TRUE(got == in.data) << in.name;
            if (pw) {
                extract("a.rar", in.name, "wrong", &r);
                EXPECT_EQ(r, in.data.empty() ? 1 : 0) << in.name;  // nothing to check an empty member by
            }
        }

        // Header CRCs as the original archiver computes them (its non-solid main header reads CF 90).
        if (!c.options.solid) {
            EXPECT_EQ(bytes[7], 0xCF);
            EXPECT_EQ(bytes[8], 0x90);
        }
        for (size_t pos = 7; pos + 7 <= bytes.size();) {
            uint16_t size = getLe16(&bytes[pos + 5]);
            EXPECT_EQ(getLe16(&bytes[pos]), qvtest::referenceCrc(&bytes[pos + 2], size - 2) & 0xFFFF) << pos;
            pos += size + ((bytes[pos + 4] & 0x80) ? getLe32(&bytes[pos + 7]) : 0);
        }

        // Header fields as the format has them.
        rar::ArchiveIndex index = rar::listArchive("a.rar");
        ASSERT_EQ(index.entries.size(), inputs.size());
        EXPECT_FALSE(index.truncated);
        EXPECT_EQ((index.mainFlags & rar::kMainSolid) != 0, c.options.solid && !c.options.store);
        bool packedBefore = false;
        for (size_t i = 0; i < inputs.size(); ++i) {
            const rar::ArchiveEntry& e = index.entries[i];
            EXPECT_EQ(e.unpVer, 20);
            EXPECT_EQ(e.unpSize, inputs[i].data.size());
            EXPECT_EQ(e.crc, rar::crc32(inputs[i].data.data(), inputs[i].data.size()));
            EXPECT_TRUE(e.method == 0x30 || e.method == 0x33);
            if (c.options.store || inputs[i].data.empty()) {
                EXPECT_EQ(e.method, 0x30) << e.name;
            }
            EXPECT_EQ((e.flags & rar::kFileEncrypted) != 0, pw != nullptr);
            if (pw) {
                EXPECT_EQ(e.packSize % 16, 0u) << e.name;
            }
            EXPECT_EQ((e.flags & rar::kFileSolid) != 0, packedBefore && e.method == 0x33) << e.name;
            if (index.mainFlags & rar::kMainSolid) packedBefore = packedBefore || e.method == 0x33;
        }
    }
}

TEST(ArchiveWriter, CompressesWhatIsCompressible) {
    const std::vector<uint8_t> text = qvtest::makeText(500000, 7);
    const std::vector<uint8_t> pcm = qvtest::makePcm(250000, 8);
    auto packedSize = [](const std::vector<uint8_t>& data, bool audio) {
        rar::Packer packer(audio);
        return packer.pack(data.data(), 0, data.size(), false).size();
    };
    EXPECT_LT(packedSize(text, false), text.size() * 35 / 100);
    size_t plain = packedSize(pcm, false), media = packedSize(pcm, true);
    EXPECT_LT(media, plain * 85 / 100) << "multimedia mode should pack PCM better";

    // Later members of a solid archive refer back to earlier ones.
    std::vector<rar::ArchiveMember> twice(2);
    twice[0].name = "a.txt";
    twice[1].name = "b.txt";
    twice[0].data = twice[1].data = text;
    rar::ArchiveOptions solid;
    solid.solid = true;
    EXPECT_LT(rar::buildArchive(twice, solid).size(), text.size() * 35 / 100 + 4096);
}

TEST(ArchiveWriter, RefusesWhatItCannotHold) {
    std::vector<rar::ArchiveMember> members(1);
    members[0].name = "";
    EXPECT_THROW(rar::buildArchive(members, {}), std::string);
    members[0].name = "x";
    rar::ArchiveOptions o;
    o.password = std::string(300, 'p');
    EXPECT_THROW(rar::buildArchive(members, o), std::string);
}

class ExternalTools : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveTool("lsar") || !haveTool("unar"))
            GTEST_SKIP() << "lsar/unar not installed (Debian package unar)";
    }
};

TEST_F(ExternalTools, ListAndExtractOurArchives) {
    ScratchDir dir;
    const Input song{"big/song.pcm", qvtest::makePcm(800000, 9)};  // 3.2 MB
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.label);
        std::vector<Input> inputs = mixedInputs();
        if (std::string(c.label) == "packed" || std::string(c.label) == "audio-solid-encrypted")
            inputs.push_back(song);
        qvtest::writeBytes("t.rar", rar::buildArchive(toMembers(inputs), c.options));
        std::string pw = c.options.password.empty() ? "" : " -p '" + c.options.password + "'";
        int status = 0;
        std::string out = run("lsar -t" + pw + " t.rar", &status);
        EXPECT_EQ(status, 0) << out;
        EXPECT_NE(out.find(std::to_string(inputs.size()) + " passed, 0 failed"), std::string::npos) << out;

        std::filesystem::remove_all("x");
        out = run("unar -q -D -o x" + pw + " t.rar", &status);
        EXPECT_EQ(status, 0) << out;
        for (const Input& in : inputs) {
            std::string got = qvtest::readFile(std::filesystem::path("x") / in.name);
            EXPECT_TRUE(got == std::string(in.data.begin(), in.data.end())) << in.name << "\n" << out;
        }
    }
}

TEST_F(ExternalTools, WrongPasswordFailsThere) {
    ScratchDir dir;
    rar::ArchiveOptions o;
    o.password = "right";
    std::vector<Input> inputs = {{"a.txt", qvtest::makeText(5000, 1)}};
    qvtest::writeBytes("t.rar", rar::buildArchive(toMembers(inputs), o));
    int status = 0;
    std::string out = run("lsar -t -p wrong t.rar", &status);
    EXPECT_EQ(out.find("1 passed"), std::string::npos) << out;
}

}  // namespace
