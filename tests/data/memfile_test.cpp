#include "data/memfile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "scratch_dir.h"
#include "test_support.h"

namespace {

using ScratchDir = qvtest::WorkDir;  // a scratch folder entered for the test
using qvtest::writeFile;

struct Closer {
    void operator()(MemoryFile* f) const { memfile_close(f); }
};
using FilePtr = std::unique_ptr<MemoryFile, Closer>;

TEST(MemoryFile, OpensDirectoryFileWhole) {
    ScratchDir dir;
    std::string bytes("abc\0def", 7);
    writeFile("data/sub/x.bin", bytes);
    writeFile("data/empty", "");
    FilePtr f(memfile_open("sub/x.bin"));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->length, 7u);
    EXPECT_EQ(f->position, 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(f->data), f->length), bytes);

    FilePtr e(memfile_open("empty"));
    ASSERT_TRUE(e);
    EXPECT_EQ(e->length, 0u);
    char c;
    EXPECT_EQ(memfile_read(&c, 1, 1, e.get()), 0u);

    EXPECT_EQ(memfile_open("missing"), nullptr);
    EXPECT_EQ(memfile_open("sub"), nullptr);  // a directory is no file
}

// A file read ahead (here on another thread) and kept is what the next open of exactly that name returns,
// at its start, once; other names and later opens read as usual; a kept file nobody took is dropped.
TEST(MemoryFile, KeptFileIsTakenOnceByTheNextOpenOfItsName) {
    ScratchDir dir;
    writeFile("data/music.bin", "on disk");
    std::thread reader([] {
        MemoryFile* f = memfile_open("music.bin");
        ASSERT_NE(f, nullptr);
        f->data[0] = 'O';  // marks the copy read ahead
        f->position = 3;
        memfile_keep("music.bin", f);
    });
    reader.join();
    // Another name: not handed the kept file, but read from the directory (whose names match in any case).
    FilePtr other(memfile_open("MUSIC.BIN"));
    ASSERT_TRUE(other);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(other->data), other->length), "on disk");
    FilePtr first(memfile_open("music.bin"));
    ASSERT_TRUE(first);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(first->data), first->length), "On disk");
    EXPECT_EQ(first->position, 0u);
    FilePtr second(memfile_open("music.bin"));
    ASSERT_TRUE(second);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(second->data), second->length), "on disk");

    memfile_keep("music.bin", memfile_open("music.bin"));
    memfile_keep("music.bin", memfile_open("music.bin"));  // the first one kept is closed
    memfile_drop_kept("music.bin");
    FilePtr third(memfile_open("music.bin"));
    ASSERT_TRUE(third);
    EXPECT_EQ(third->data[0], 'o');
}

TEST(MemoryFile, NameTooLongForPathIsRefused) {
    ScratchDir dir;
    // "data/" + 250 characters + terminator fill the 256-byte path exactly; one more does not fit.
    std::string fits(250, 'a');
    std::string longer(251, 'a');
    writeFile("data/" + fits, "x");
    writeFile("data/" + longer, "y");
    FilePtr f(memfile_open(fits.c_str()));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->data[0], 'x');
    // The truncated path would be the first file; it must not be opened instead.
    EXPECT_EQ(memfile_open(longer.c_str()), nullptr);
}

MemoryFile makeFile(unsigned char* bytes, uint32_t n) {
    return MemoryFile{n, bytes, 0};
}

TEST(MemoryFile, ReadsWholeElementsOnly) {
    unsigned char bytes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    MemoryFile f = makeFile(bytes, 10);
    unsigned char out[16] = {};

    EXPECT_EQ(memfile_read(out, 4, 3, &f), 2u);  // 10 bytes: two 4-byte elements
    EXPECT_EQ(memfile_tell(&f), 8u);
    EXPECT_EQ(out[7], 7);
    EXPECT_EQ(out[8], 0);  // the element that would cross the end is not copied in part

    EXPECT_EQ(memfile_read(out, 2, 1, &f), 1u);  // exactly up to the end
    EXPECT_EQ(memfile_tell(&f), 10u);
    EXPECT_EQ(memfile_read(out, 1, 1, &f), 0u);

    memfile_seek(&f, 0, 0);
    EXPECT_EQ(memfile_read(out, 1, 0, &f), 0u);
    EXPECT_EQ(memfile_read(nullptr, 1, 1, &f), 0u);
    EXPECT_EQ(memfile_read(out, 1, 1, nullptr), 0u);
    EXPECT_EQ(memfile_tell(&f), 0u);
    EXPECT_EQ(memfile_read(out, 0, 5, &f), 5u);  // empty elements always fit
}

TEST(MemoryFile, SeekOriginsAndReadsAfterSeekingOutside) {
    unsigned char bytes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    MemoryFile f = makeFile(bytes, 10);
    unsigned char out[4] = {};

    EXPECT_EQ(memfile_seek(&f, 3, 0), 0);
    EXPECT_EQ(memfile_tell(&f), 3u);
    memfile_seek(&f, 2, 1);
    EXPECT_EQ(memfile_tell(&f), 5u);
    memfile_seek(&f, -1, 1);
    EXPECT_EQ(memfile_tell(&f), 4u);
    memfile_seek(&f, 3, 2);  // counts back from the end
    EXPECT_EQ(memfile_tell(&f), 7u);
    memfile_seek(&f, 1, 9);  // unknown origin: no change
    EXPECT_EQ(memfile_tell(&f), 7u);
    EXPECT_EQ(memfile_seek(nullptr, 1, 0), 0);

    // Past the end, and so far that position + size would wrap around 32 bits.
    for (uint32_t pos : {11u, 0xFFFFFFFFu, 0xFFFFFFFEu, 0x80000000u}) {
        f.position = pos;
        EXPECT_EQ(memfile_read(out, 1, 1, &f), 0u) << pos;
        EXPECT_EQ(memfile_read(out, 4, 1, &f), 0u) << pos;
        EXPECT_EQ(memfile_read(out, 0, 1, &f), 0u) << pos;
        EXPECT_EQ(memfile_read_string(&f), nullptr) << pos;
        EXPECT_EQ(f.position, pos);
    }
    memfile_seek(&f, 20, 2);  // before the start: wraps, and reads still fail
    EXPECT_EQ(memfile_read(out, 1, 1, &f), 0u);
}

TEST(MemoryFile, ReadStringStaysInsideBlock) {
    unsigned char bytes[] = {'a', 'b', 0, 0, 'c', 'd'};
    MemoryFile f = makeFile(bytes, sizeof bytes);
    char* s = memfile_read_string(&f);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "ab");
    std::free(s);
    EXPECT_EQ(memfile_tell(&f), 3u);
    s = memfile_read_string(&f);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "");
    std::free(s);
    EXPECT_EQ(memfile_tell(&f), 4u);
    // "cd" runs to the end unterminated: refused, position kept.
    EXPECT_EQ(memfile_read_string(&f), nullptr);
    EXPECT_EQ(memfile_tell(&f), 4u);
    EXPECT_EQ(memfile_read_string(nullptr), nullptr);
}

TEST(MemoryFile, CloseAndTellAcceptNull) {
    EXPECT_EQ(memfile_close(nullptr), 0);
    EXPECT_EQ(memfile_tell(nullptr), 0u);
}

}  // namespace
