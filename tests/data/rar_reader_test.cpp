// The reader's rules on archives we shape ourselves: markers, the header walk, names, versions,
// encrypted stored members of any size, and the lookup's archive step in front of "data/".
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "authoring/rar_writer.h"
#include "data/memfile.h"
#include "data/rar.h"
#include "data/rar_format.h"
#include "scratch_dir.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using ScratchDir = qvtest::WorkDir;  // a scratch folder entered for the test

rar::ArchiveMember member(const std::string& name, const Bytes& data) {
    rar::ArchiveMember m;
    m.name = name;
    m.data = data;
    return m;
}

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

struct Result {
    int ok;
    Bytes data;
};

Result get(const Bytes& archive, const std::string& name, const char* password = nullptr) {
    qvtest::writeBytes("t.rar", archive);
    unsigned char* data = reinterpret_cast<unsigned char*>(8);
    uint32_t size = 99;
    Result r{rar_get(&data, &size, name.c_str(), "t.rar", password), {}};
    if (r.ok) {
        r.data.assign(data, data + size);
        std::free(data);
    } else {
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(size, 0u);
    }
    return r;
}

// Offsets of the file headers of an archive (after the marker and a 13-byte main header).
std::vector<size_t> fileHeaders(const Bytes& a) {
    std::vector<size_t> at;
    size_t pos = 7 + getLe16(&a[7 + 5]);
    while (pos + 7 <= a.size()) {
        uint16_t flags = getLe16(&a[pos + 3]);
        size_t end = pos + getLe16(&a[pos + 5]) + ((flags & 0x8000) ? getLe32(&a[pos + 7]) : 0);
        if (a[pos + 2] == rar::kFileHead) at.push_back(pos);
        pos = end;
    }
    return at;
}

// A block of the given type with a data area, as an archiver could put between members.
Bytes block(uint8_t type, size_t headExtra, size_t dataSize) {
    Bytes b(7 + 4 + headExtra + dataSize, 0xA5);
    b[2] = type;
    putLe16(&b[3], 0x8000);
    putLe16(&b[5], static_cast<uint16_t>(7 + 4 + headExtra));
    putLe32(&b[7], static_cast<uint32_t>(dataSize));
    return b;
}

Bytes insertAt(Bytes a, size_t at, const Bytes& what) {
    a.insert(a.begin() + at, what.begin(), what.end());
    return a;
}

class Reader : public ::testing::Test {
protected:
    ScratchDir dir;
    const Bytes text = qvtest::makeText(20000, 11);
    const Bytes plain = rar::buildArchive({member("A.TXT", text), member("dir\\B.BIN", bytesOf("bee"))}, {});
};

TEST_F(Reader, MarkersAndMainHeader) {
    EXPECT_EQ(get(plain, "a.txt").data, text);

    Bytes alt = plain;
    std::memcpy(alt.data(), "Dravek!", 7);
    EXPECT_EQ(get(alt, "a.txt").data, text);

    Bytes bad = plain;
    bad[3] = '?';  // neither marker: refused at once
    EXPECT_EQ(get(bad, "a.txt").ok, 0);

    // A longer main header is skipped by its size; one shorter than its fixed part is refused.
    Bytes longer = insertAt(plain, 7 + 13, Bytes(9, 0));
    putLe16(&longer[7 + 5], 13 + 9);
    EXPECT_EQ(get(longer, "a.txt").data, text);
    Bytes shorter = plain;
    putLe16(&shorter[7 + 5], 12);
    EXPECT_EQ(get(shorter, "a.txt").ok, 0);

    for (size_t n : {0, 3, 7, 12, 19})
        EXPECT_EQ(get(Bytes(plain.begin(), plain.begin() + n), "a.txt").ok, 0) << n;

    unsigned char* data = nullptr;
    uint32_t size = 1;
    EXPECT_EQ(rar_get(&data, &size, "a.txt", "no-such-archive.rar", nullptr), 0);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0u);
}

TEST_F(Reader, HeaderWalkSkipsOtherBlocksButNotSubBlocks) {
    std::vector<size_t> at = fileHeaders(plain);
    ASSERT_EQ(at.size(), 2u);
    // Comment, new-style and end blocks with data areas between the members are skipped.
    Bytes mixed = insertAt(plain, at[1], block(0x75, 5, 40));
    mixed = insertAt(mixed, at[1], block(0x7A, 20, 300));
    mixed = insertAt(mixed, at[0], block(0x78, 0, 1000));
    mixed.insert(mixed.end(), {0, 0, 0x7B, 0, 0x40, 7, 0});
    EXPECT_EQ(get(mixed, "A.TXT").data, text);
    EXPECT_EQ(get(mixed, "dir/b.bin").data, bytesOf("bee"));
    EXPECT_EQ(get(mixed, "missing").ok, 0);

    // An old-style sub-block ends the walk: members after it are not reached.
    Bytes sub = insertAt(plain, at[1], block(rar::kSubBlock, 2, 11));
    EXPECT_EQ(get(sub, "a.txt").data, text);
    EXPECT_EQ(get(sub, "dir\\b.bin").ok, 0);

    // A block whose header claims fewer than 7 bytes ends the walk.
    Bytes tiny = plain;
    putLe16(&tiny[at[1] + 5], 6);
    EXPECT_EQ(get(tiny, "dir/b.bin").ok, 0);
}

TEST_F(Reader, NamesIgnoreCaseAndSeparators) {
    Bytes a = rar::buildArchive({member("Textures\\Glow_1.PNG", bytesOf("png"))}, {});
    for (const char* name : {"textures/glow_1.png", "TEXTURES\\GLOW_1.PNG", "textures_glow/1.png"})
        EXPECT_EQ(get(a, name).data, bytesOf("png")) << name;
    for (const char* name : {"textures/glow_1.pn", "textures/glow_1.png ", "", "glow_1.png"})
        EXPECT_EQ(get(a, name).ok, 0) << name;

    // Names are kept up to 259 bytes: a longer stored name is compared cut to that length.
    std::string longName(300, 'n');
    Bytes l = rar::buildArchive({member(longName, bytesOf("long"))}, {});
    EXPECT_EQ(get(l, longName.substr(0, 259)).data, bytesOf("long"));
    EXPECT_EQ(get(l, longName).ok, 0);
    EXPECT_EQ(get(l, std::string(600, 'n')).ok, 0);
}

TEST_F(Reader, UnpackVersionsAndEmptyMembers) {
    Bytes stored = rar::buildArchive({member("s", bytesOf("stored bytes")), member("e", {})}, {});
    size_t at = fileHeaders(stored)[0];
    for (int ver : {12, 13, 19, 20, 21, 29}) {
        Bytes v = stored;
        v[at + 24] = static_cast<uint8_t>(ver);
        EXPECT_EQ(get(v, "s").ok, ver >= 13 && ver <= 20 ? 1 : 0) << ver;
    }
    Result e = get(stored, "e");
    EXPECT_EQ(e.ok, 1);
    EXPECT_TRUE(e.data.empty());

    // A packed member with nothing to unpack and no packed bytes (as directories are written).
    Bytes dirEntry = stored;
    size_t at2 = fileHeaders(stored)[1];
    dirEntry[at2 + 25] = 0x35;
    EXPECT_EQ(get(dirEntry, "e").ok, 1);
}

TEST_F(Reader, EncryptedStoredMembersOfEverySize) {
    rar::ArchiveOptions o;
    o.store = true;
    o.password = "Rb7qT";
    for (size_t n : {1, 15, 16, 17, 31, 87, 8191, 8192, 8193, 20000}) {
        Bytes data = qvtest::makeNoise(n, static_cast<uint32_t>(n));
        Bytes a = rar::buildArchive({member("m", data), member("after", bytesOf("x"))}, o);
        EXPECT_EQ(getLe32(&a[fileHeaders(a)[0] + 7]) % 16, 0u);
        EXPECT_EQ(get(a, "m", "Rb7qT").data, data) << n;
        EXPECT_EQ(get(a, "after", "Rb7qT").data, bytesOf("x")) << n;
        EXPECT_EQ(get(a, "m", "rb7qt").ok, 0) << n;
        EXPECT_EQ(get(a, "m").ok, 0) << n;
    }
}

TEST_F(Reader, SolidArchivesUnpackEveryEarlierMember) {
    rar::ArchiveOptions o;
    o.solid = true;
    const Bytes second = qvtest::makeText(30000, 12);
    Bytes a = rar::buildArchive({member("one", text), member("empty", {}), member("two", second)}, o);
    EXPECT_EQ(get(a, "two").data, second);
    EXPECT_EQ(get(a, "one").data, text);
    // The second member continues the first one's state and cannot be read without it.
    std::vector<size_t> at = fileHeaders(a);
    Bytes broken = a;
    broken[at[0] + 32 + 3 + 200] ^= 0x10;  // inside the first member's packed data
    EXPECT_EQ(get(broken, "two").ok, 0);
    // Without the solid flag in the main header, the earlier members are skipped unread.
    Bytes notSolid = a;
    putLe16(&notSolid[7 + 3], 0);
    EXPECT_EQ(get(notSolid, "two").ok, 0);
    EXPECT_EQ(get(notSolid, "one").data, text);
}

TEST(MemoryFileLookup, ArchiveComesFirstThenDataDirectory) {
    ScratchDir dir;
    rar::ArchiveOptions o;
    o.password = "Rb7qT";
    const Bytes music = qvtest::makeNoise(5000, 1);
    qvtest::writeBytes(
        "gorvel.yo",
        rar::buildArchive({member("Music\\Song.MP3", music), member("both.txt", bytesOf("archive"))}, o));
    qvtest::writeFile("data/both.txt", "directory");
    qvtest::writeFile("data/only.txt", "loose");

    struct Closer {
        void operator()(MemoryFile* f) const { memfile_close(f); }
    };
    auto open = [](const char* name) { return std::unique_ptr<MemoryFile, Closer>(memfile_open(name)); };
    auto text = [](const MemoryFile* f) { return std::string(reinterpret_cast<char*>(f->data), f->length); };

    auto m = open("music/song.mp3");
    ASSERT_TRUE(m);
    EXPECT_EQ(Bytes(m->data, m->data + m->length), music);
    EXPECT_EQ(m->position, 0u);
    auto both = open("both.txt");
    ASSERT_TRUE(both);
    EXPECT_EQ(text(both.get()), "archive");
    auto only = open("only.txt");
    ASSERT_TRUE(only);
    EXPECT_EQ(text(only.get()), "loose");
    EXPECT_FALSE(open("missing.txt"));

    // An archive under another password: a file it holds is an error that names the archive, never
    // replaced by the directory's copy; a file it does not hold still comes from the directory.
    o.password = "other";
    qvtest::writeBytes(
        "gorvel.yo",
        rar::buildArchive({member("both.txt", bytesOf("archive")), member("x", bytesOf("y"))}, o));
    for (const char* name : {"both.txt", "x"}) {
        try {
            open(name);
            ADD_FAILURE() << name << " opened";
        } catch (const std::string& e) {
            EXPECT_EQ(e, "cannot decrypt gorvel.yo: wrong password") << name;
        }
    }
    only = open("only.txt");
    ASSERT_TRUE(only);
    EXPECT_EQ(text(only.get()), "loose");
}

}  // namespace
