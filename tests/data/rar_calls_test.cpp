// Calls of the reader are independent: nothing one call leaves in its buffers shows in another's
// result, and threads extracting at the same time get exactly what they get one after the other.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
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

struct Result {
    int ok = 0;
    Bytes data;
    RarStatus status = RarStatus::kOk;
    bool operator==(const Result& o) const { return ok == o.ok && data == o.data && status == o.status; }
};

Result get(const std::string& archive, const std::string& name, const char* password = nullptr) {
    unsigned char* data = nullptr;
    uint32_t size = 0;
    Result r;
    r.ok = rar_get(&data, &size, name.c_str(), archive.c_str(), password, &r.status);
    if (r.ok) r.data.assign(data, data + size);
    std::free(data);
    return r;
}

// Bits of a packed stream, most significant first.
struct BitWriter {
    Bytes bytes;
    int used = 0;
    void put(uint32_t value, int n) {
        for (int i = n - 1; i >= 0; --i) {
            if (used == 0) bytes.push_back(0);
            if ((value >> i) & 1) bytes.back() |= static_cast<uint8_t>(0x80 >> used);
            used = (used + 1) & 7;
        }
    }
};

// A member packed by hand whose copies reach before its first byte, as only a damaged archive's
// can: a fresh window holds zeros there. Returns the packed bytes and what they give then, from a
// plain model of the copies.
struct Crafted {
    Bytes packed, expected;
};

Crafted reachingBack() {
    BitWriter b;
    b.put(0, 2);  // LZ tables, nothing kept from before
    // The code of the code lengths: lengths 1 and 2, runs of 3-10 (17) and 11-138 (18) zeros.
    for (int s = 0; s < rar::kLevelSymbols; ++s) b.put(s == 1 || s == 2 || s == 17 || s == 18 ? 2 : 0, 4);
    const uint32_t len1 = 0, len2 = 1, zeros = 2, manyZeros = 3;  // their two-bit codes
    b.put(manyZeros, 2), b.put(65 - 11, 7);                       // 0..64
    b.put(len1, 2);                                               // 'A' (65)
    b.put(manyZeros, 2), b.put(138 - 11, 7);                      // 66..203
    b.put(manyZeros, 2), b.put(57 - 11, 7);                       // 204..260
    b.put(len2, 2);                                               // 261: length 2, distance 1-4
    b.put(zeros, 2), b.put(6 - 3, 3);                             // 262..267
    b.put(len2, 2);                                               // 268: length 2, distance 193-256
    b.put(manyZeros, 2), b.put(105 - 11, 7);                      // 269..373, distance and repeat tables
    // Main codes: 'A' is 0, 261 is 10, 268 is 11.
    Crafted c;
    auto copy = [&](uint32_t distance) {
        for (int i = 0; i < 2; ++i) {
            size_t at = c.expected.size();
            c.expected.push_back(at >= distance ? c.expected[at - distance] : 0);
        }
    };
    for (uint32_t k = 0; k < 40; ++k) {
        uint32_t extra = (k * 37) % 64;
        b.put(3, 2), b.put(extra, 6), copy(193 + extra);
        b.put(0, 1), c.expected.push_back('A');
        if (k % 3 == 0) b.put(2, 2), b.put(k % 4, 2), copy(1 + k % 4);
    }
    b.put(0, 1);  // a literal after the end, for the decoder's look one symbol further
    c.packed = b.bytes;
    c.packed.resize(c.packed.size() + 8, 0);
    return c;
}

// The crafted member as a file header and its data, named "late.bin".
Bytes craftedMember(const Crafted& c) {
    rar::ArchiveMember m;
    m.name = "late.bin";
    m.data = c.expected;
    rar::ArchiveOptions store;
    store.store = true;
    Bytes a = rar::buildArchive({m}, store);
    const size_t h = 7 + 13, headSize = getLe16(&a[h + 5]);
    Bytes member(a.begin() + h, a.begin() + h + headSize);
    putLe32(&member[7], static_cast<uint32_t>(c.packed.size()));
    member[25] = 0x33;  // packed; UNP_SIZE and FILE_CRC are those of the expected bytes
    member.insert(member.end(), c.packed.begin(), c.packed.end());
    return member;
}

TEST(ReaderCalls, CopiesBeforeTheFirstByteReadZeroWhateverEarlierCallsLeft) {
    qvtest::ScratchDir dir("qv_rar_calls");
    const Crafted c = reachingBack();
    ASSERT_GT(std::count(c.expected.begin(), c.expected.end(), 0), 40);

    // A packed member longer than the window, so that the window holds text to its end.
    rar::ArchiveMember big;
    big.name = "big.txt";
    big.data = qvtest::makeText(1100000, 31);
    const Bytes bigArchive = rar::buildArchive({big}, {});
    ASSERT_EQ(bigArchive[7 + 13 + 25], 0x33) << "the text member should be packed";
    Bytes late = rar::buildArchive({}, {});
    const Bytes member = craftedMember(c);
    late.insert(late.end(), member.begin(), member.end());
    // The same member after the text one in a solid archive: one call unpacks both, and the crafted
    // member, not continuing the text, starts from a window that reads as zero again.
    Bytes solid = bigArchive;
    solid.insert(solid.end(), member.begin(), member.end());
    putLe16(&solid[7 + 3], getLe16(&solid[7 + 3]) | rar::kMainSolid);
    qvtest::writeBytes(dir / "big.rar", bigArchive);
    qvtest::writeBytes(dir / "late.rar", late);
    qvtest::writeBytes(dir / "solid.rar", solid);

    const Result expected{1, c.expected, RarStatus::kOk};
    EXPECT_TRUE(get(dir / "late.rar", "late.bin") == expected);
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(get(dir / "big.rar", "big.txt").data == big.data);
        EXPECT_TRUE(get(dir / "late.rar", "late.bin") == expected) << round;
        EXPECT_TRUE(get(dir / "solid.rar", "late.bin") == expected) << round;
        EXPECT_TRUE(get(dir / "solid.rar", "big.txt").data == big.data) << round;
    }
    // Cut short, the member fails every time, whatever came before.
    Bytes cut = late;
    cut.resize(cut.size() - c.packed.size() / 2);
    putLe32(&cut[7 + 13 + 7], static_cast<uint32_t>(c.packed.size() - c.packed.size() / 2));
    qvtest::writeBytes(dir / "cut.rar", cut);
    EXPECT_EQ(get(dir / "cut.rar", "late.bin").ok, 0);
    EXPECT_TRUE(get(dir / "big.rar", "big.txt").ok);
    EXPECT_EQ(get(dir / "cut.rar", "late.bin").ok, 0);
}

struct Request {
    std::string archive, member;
    const char* password;
};

// Every member of every archive found (real ones and our own data set), each with the password it
// needs, and a few requests that fail.
std::vector<Request> requests(const qvtest::ScratchDir& dir) {
    std::vector<fs::path> archives;
    const fs::path real = fs::path(QV_SHARED_DIR) / "testdata" / "rar20";
    std::error_code ec;
    for (fs::recursive_directory_iterator it(real, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file() && it->path().extension() == ".rar") archives.push_back(it->path());
    std::sort(archives.begin(), archives.end());
    archives.push_back(fs::path(QV_SOURCE_DIR) / "assets" / "gorvel.yo");

    // Ours: solid with a member that is longer than the window, and encrypted.
    std::vector<rar::ArchiveMember> members(3);
    members[0].name = "a.txt";
    members[0].data = qvtest::makeText(1200000, 41);
    members[1].name = "b.pcm";
    members[1].data = qvtest::makePcm(20000, 42);
    members[2].name = "c.bin";
    members[2].data = qvtest::makeBinary(70000, 43);
    rar::ArchiveOptions o;
    o.solid = true;
    o.audio = true;
    o.password = "pw";
    qvtest::writeBytes(dir / "own.rar", rar::buildArchive(members, o));
    archives.push_back(dir / "own.rar");

    std::vector<Request> out;
    for (const fs::path& a : archives) {
        const std::string name = a.filename().string();
        const char* password = name == "gorvel.yo"                  ? "Rb7qT"
                               : name == "own.rar"                  ? "pw"
                               : name.find("password") != name.npos ? "password"
                                                                    : nullptr;
        try {
            for (const rar::ArchiveEntry& e : rar::listArchive(a.string()).entries)
                out.push_back({a.string(), e.name, password});
        } catch (const std::string&) {
            continue;  // not an archive of this layout
        }
        out.push_back({a.string(), "no such member", password});
    }
    out.push_back({(dir / "own.rar"), "c.bin", "wrong"});
    return out;
}

TEST(ReaderCalls, ThreadsGetWhatSequentialCallsGet) {
    if (!fs::is_directory(fs::path(QV_SHARED_DIR) / "testdata" / "rar20"))
        GTEST_SKIP() << "shared test data absent";
    qvtest::ScratchDir dir("qv_rar_threads");
    const std::vector<Request> reqs = requests(dir);
    std::vector<Result> expected;
    size_t found = 0;
    for (const Request& r : reqs) {
        expected.push_back(get(r.archive, r.member, r.password));
        found += expected.back().ok;
    }
    // Most of the real members and all of ours come out; the run is worth something only then.
    ASSERT_GT(reqs.size(), 60u);
    ASSERT_GT(found, 40u);
    ASSERT_GT(found, reqs.size() / 2);

    // Each thread goes over every request a few times in an order of its own, so that all kinds of
    // calls meet: the same archive, a solid one beside a stored one, success beside failure.
    constexpr int kThreads = 4, kRounds = 3;
    std::atomic<int> mismatches{0};
    std::vector<std::string> firstMismatch(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 rng(static_cast<uint32_t>(t + 1));
            std::vector<size_t> order(reqs.size());
            for (size_t i = 0; i < order.size(); ++i) order[i] = i;
            for (int round = 0; round < kRounds; ++round) {
                std::shuffle(order.begin(), order.end(), rng);
                for (size_t i : order) {
                    if (get(reqs[i].archive, reqs[i].member, reqs[i].password) == expected[i]) continue;
                    ++mismatches;
                    if (firstMismatch[t].empty()) firstMismatch[t] = reqs[i].archive + " " + reqs[i].member;
                }
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(mismatches.load(), 0);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(firstMismatch[t], "") << "thread " << t;
}

}  // namespace
