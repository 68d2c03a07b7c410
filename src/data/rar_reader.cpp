// Extraction of one member from a RAR archive: the header walk, stored members, the 2.0 unpacker
// (LZ77 over a 1 MiB window with Huffman-coded symbols, and the multimedia mode with its
// per-channel delta predictor), solid archives and the 2.0 cipher.
//
// Every read stays inside its buffer whatever the archive holds: the input buffer carries zeroed
// slack beyond its valid end, a member that wants more packed bits than it has fails, and sizes
// from headers are checked against the file before anything is allocated for them.
//
// Each call works on its own state; the only thing shared between calls is a small pool of idle
// windows behind a lock, and a window taken from it reads as zero wherever the call has not written.
#include <sys/types.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "data/rar.h"
#include "data/rar_format.h"
#include "data/rar_header.h"

namespace {

using namespace rar;

constexpr int kInSize = 8192;
constexpr int kInSlack = 64;     // zeroed bytes past the buffer, so look-ahead never leaves it
constexpr int kRefillKeep = 32;  // bytes carried over at a refill (8160..8191 move to 0..31)
constexpr int kRefillFrom = kInSize - kRefillKeep;
constexpr int kFastBits = 10;        // codes up to this length decode with one table look-up
constexpr uint32_t kFlushGap = 270;  // more than the longest single copy (260 bytes)
constexpr size_t kMaxRequestName = 511;
constexpr size_t kMaxArchiveName = 4095;
constexpr size_t kPasswordSize = 255;
constexpr size_t kMaxMemberName = 259;
// One coded bit yields at most 260 bytes of output, which bounds a member's size by its input.
constexpr size_t kMaxBytesPerPackedByte = 260 * 8;

struct HuffTable {
    uint32_t limit[16];
    uint32_t first[16];
    int count;                      // symbols of the alphabet
    uint16_t symbol[kMainSymbols];  // symbols with a code, by length, then by value
    uint16_t fast[1 << kFastBits];  // length << 9 | symbol, or 0 for a longer code
};

// A window and how much of it may hold bytes of an earlier extraction: every byte from dirty on is
// zero. Windows are kept for later calls (see WindowPool), so that a call pays only for clearing what
// earlier ones wrote, not for a fresh 1 MiB block.
struct Window {
    uint8_t* bytes;
    uint32_t dirty;
};

// Windows of finished calls, kept for the next ones. A window is lent to one call at a time; a few
// are kept, since calls seldom overlap, and the rest freed.
class WindowPool {
public:
    // Never destroyed, so that a call made while the process ends still finds it.
    static WindowPool& instance() {
        static WindowPool* const pool = new WindowPool;
        return *pool;
    }

    // A window for one call, or null without the memory.
    Window* take() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (count_ > 0) return idle_[--count_];
        }
        Window* w = new (std::nothrow) Window{nullptr, 0};
        if (!w) return nullptr;
        w->bytes = static_cast<uint8_t*>(std::calloc(kWindowSize, 1));
        if (!w->bytes) {
            delete w;
            return nullptr;
        }
        return w;
    }

    void give(Window* w) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (count_ < kKept) {
                idle_[count_++] = w;
                return;
            }
        }
        std::free(w->bytes);
        delete w;
    }

private:
    static constexpr int kKept = 2;
    std::mutex mutex_;
    Window* idle_[kKept] = {};
    int count_ = 0;
};

// The state of one extraction; each call has its own, so calls on different threads do not meet.
struct Reader {
    char member[kMaxRequestName + 1];
    char archive[kMaxArchiveName + 1];
    char password[kPasswordSize];
    FILE* file;
    int64_t fileSize;

    uint16_t mainFlags;
    int64_t wantedAt;  // when not negative, the member is the file header at this offset, whatever its name

    Block blk;  // the current block

    // The failed member, for telling a wrong password from damage.
    bool failedEncrypted;
    int64_t failedAt;

    // Packed input.
    uint8_t in[kInSize + kInSlack];
    int inAddr;
    int inBit;
    int readTop;  // the valid end as the format defines it (for the end-of-member look-ahead)
    int dataEnd;  // where the bytes actually read end
    bool inputDone;
    uint32_t packLeft;
    bool decrypting;
    Cipher20 cipher;

    // Unpacking.
    Window* win;
    uint8_t* window;  // win->bytes
    uint32_t unpPtr;
    uint32_t wrPtr;
    int64_t destLeft;
    HuffTable mainTable, distTable, repTable, levelTable;
    HuffTable audioTable[4];
    uint8_t oldLengths[kMaxTableLengths];
    uint32_t oldDist[4];
    unsigned oldDistPtr;
    uint32_t lastDist;
    uint32_t lastLength;
    bool audio;
    int channels;
    int curChannel;
    AudioPredictor predictor;

    // Output of the wanted member.
    uint8_t* out;
    uint32_t outSize;
    bool outFull;

    int readPacked(uint8_t* dst, int n);
    void clearSlack();
    void fillInput();
    void refill();
    bool overrun() const;
    uint32_t peekBits() const;
    void skipBits(int n);
    uint32_t getBits(int n);
    int decodeSymbol(const HuffTable& t);
    bool readTables();
    void resetUnpackState();
    void handOut();
    void copyString(uint32_t length, uint32_t distance);
    uint8_t decodeAudio(unsigned s);
    bool unpackMember();
    bool unpackSymbols(bool continues);
    bool readStored();
    bool seekTo(int64_t pos);
    RarStatus plausibleSizes() const;
    RarStatus decodeMember();
    RarStatus extract();
};

void wipe(void* p, size_t n) {
    volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) v[i] = 0;
}

// ---- Packed input ------------------------------------------------------------------------------

// Reads up to n bytes of the member's packed data, decrypting whole cipher blocks in place.
int Reader::readPacked(uint8_t* dst, int n) {
    if (inputDone) return 0;
    size_t want = static_cast<size_t>(n) < packLeft ? static_cast<size_t>(n) : packLeft;
    size_t got = want ? std::fread(dst, 1, want, file) : 0;
    packLeft -= static_cast<uint32_t>(got);
    if (got < static_cast<size_t>(n)) inputDone = true;
    if (decrypting) cipher.decrypt(dst, got);
    return static_cast<int>(got);
}

void Reader::clearSlack() {
    std::memset(in + dataEnd, 0, kInSize + kInSlack - dataEnd);
}

void Reader::fillInput() {
    inAddr = 0;
    inBit = 0;
    dataEnd = readPacked(in, kInSize);
    readTop = dataEnd;
    clearSlack();
}

// Called with inAddr past kRefillFrom: keeps the last 32 bytes and reads behind them.
void Reader::refill() {
    std::memmove(in, in + kRefillFrom, kRefillKeep);
    inAddr -= kRefillFrom;
    int kept = dataEnd > kRefillFrom ? dataEnd - kRefillFrom : 0;
    int got = dataEnd == kInSize ? readPacked(in + kRefillKeep, kInSize - kRefillKeep) : 0;
    if (got > 0) {
        dataEnd = kRefillKeep + got;
        readTop = dataEnd;
    } else {
        dataEnd = kept;
        readTop = inAddr;
    }
    clearSlack();
}

// True once more bits were taken than the member's input holds.
inline bool Reader::overrun() const {
    return inAddr > dataEnd;
}

inline uint32_t Reader::peekBits() const {
    const uint8_t* p = in + inAddr;
    return ((static_cast<uint32_t>(p[0]) << 16 | p[1] << 8 | p[2]) >> (8 - inBit)) & 0xFFFF;
}

inline void Reader::skipBits(int n) {
    n += inBit;
    inAddr += n >> 3;
    inBit = n & 7;
}

inline uint32_t Reader::getBits(int n) {
    uint32_t v = peekBits() >> (16 - n);
    skipBits(n);
    return v;
}

// ---- Huffman tables ----------------------------------------------------------------------------

void buildTable(HuffTable& t, const uint8_t* lengths, int count) {
    t.count = count;
    uint32_t n[16] = {};
    for (int i = 0; i < count; ++i) n[lengths[i] & 15]++;
    n[0] = 0;
    uint32_t total = 0;
    t.limit[0] = 0;
    t.first[0] = 0;
    for (int i = 1; i <= kMaxCodeLength; ++i) {
        total = 2 * (total + n[i]);
        uint32_t lim = total << (15 - i);
        t.limit[i] = lim < 0xFFFF ? lim : 0xFFFF;
        t.first[i] = t.first[i - 1] + n[i - 1];
    }
    uint32_t pos[16];
    std::memcpy(pos, t.first, sizeof pos);
    std::memset(t.symbol, 0, sizeof t.symbol);
    for (int s = 0; s < count; ++s)
        if (int len = lengths[s] & 15) t.symbol[pos[len]++] = static_cast<uint16_t>(s);

    // Codes of length I fill the windows from limit[I - 1] up to limit[I]; a clipped limit
    // (0xFFFF) takes in every window that remains.
    uint32_t p = 0;
    for (int i = 1; i <= kFastBits; ++i) {
        uint32_t hi = t.limit[i] >= 0xFFFF ? (1u << kFastBits) : t.limit[i] >> (16 - kFastBits);
        for (; p < hi; ++p) {
            uint32_t idx = t.first[i] + (((p << (16 - kFastBits)) - t.limit[i - 1]) >> (16 - i));
            if (idx >= static_cast<uint32_t>(count)) idx = 0;
            t.fast[p] = static_cast<uint16_t>(i << 9 | t.symbol[idx]);
        }
    }
    for (; p < (1u << kFastBits); ++p) t.fast[p] = 0;
}

inline int Reader::decodeSymbol(const HuffTable& t) {
    uint32_t w = peekBits() & 0xFFFE;
    uint16_t e = t.fast[w >> (16 - kFastBits)];
    if (e) {
        skipBits(e >> 9);
        return e & 0x1FF;
    }
    int i = kFastBits + 1;
    while (i < kMaxCodeLength && w >= t.limit[i]) ++i;
    skipBits(i);
    uint32_t idx = t.first[i] + ((w - t.limit[i - 1]) >> (16 - i));
    if (idx >= static_cast<uint32_t>(t.count)) idx = 0;
    return t.symbol[idx];
}

// Reads the next set of code lengths and builds the tables; false when the input runs out or the
// lengths are malformed (the tables are then left as they were).
bool Reader::readTables() {
    if (inAddr > kInSize - 25) refill();
    if (overrun()) return false;
    uint32_t w = peekBits();
    bool audioMode = w & 0x8000;
    if (!(w & 0x4000)) std::memset(oldLengths, 0, sizeof oldLengths);
    skipBits(2);
    int count, newChannels = channels;
    if (audioMode) {
        newChannels = ((w >> 12) & 3) + 1;
        skipBits(2);
        count = kAudioSymbols * newChannels;
    } else {
        count = kPlainTableLengths;
    }
    uint8_t level[kLevelSymbols];
    for (int i = 0; i < kLevelSymbols; ++i) level[i] = static_cast<uint8_t>(getBits(4));
    buildTable(levelTable, level, kLevelSymbols);

    uint8_t lengths[kMaxTableLengths] = {};
    for (int i = 0; i < count;) {
        if (inAddr > kInSize - 5) refill();
        if (overrun()) return false;
        int s = decodeSymbol(levelTable);
        if (s < 16) {
            lengths[i] = static_cast<uint8_t>((s + oldLengths[i]) & 15);
            ++i;
        } else if (s == 16) {
            if (i == 0) return false;  // nothing to repeat
            for (uint32_t n = getBits(2) + 3; n > 0 && i < count; --n, ++i) lengths[i] = lengths[i - 1];
        } else {
            uint32_t n = s == 17 ? getBits(3) + 3 : getBits(7) + 11;
            for (; n > 0 && i < count; --n) lengths[i++] = 0;
        }
    }
    if (overrun()) return false;

    audio = audioMode;
    if (audio) {
        channels = newChannels;
        if (curChannel >= channels) curChannel = 0;
        for (int c = 0; c < channels; ++c)
            buildTable(audioTable[c], lengths + c * kAudioSymbols, kAudioSymbols);
    } else {
        buildTable(mainTable, lengths, kMainSymbols);
        buildTable(distTable, lengths + kMainSymbols, kDistSymbols);
        buildTable(repTable, lengths + kMainSymbols + kDistSymbols, kRepSymbols);
    }
    std::memcpy(oldLengths, lengths, sizeof oldLengths);
    return true;
}

// ---- Unpacking ---------------------------------------------------------------------------------

void Reader::resetUnpackState() {
    curChannel = 0;
    predictor.reset();
    std::memset(oldDist, 0, sizeof oldDist);
    oldDistPtr = 0;
    lastDist = 0;
    lastLength = 0;
    std::memset(oldLengths, 0, sizeof oldLengths);
    unpPtr = 0;
    wrPtr = 0;
    // The window reads as all zero, as a fresh one would: only what earlier members wrote needs it.
    std::memset(win->bytes, 0, win->dirty);
    win->dirty = 0;
}

// Appends the window bytes from the hand-out position to the decode position to the output.
void Reader::handOut() {
    if (!out) return;
    uint32_t from = wrPtr & kWindowMask, to = unpPtr & kWindowMask;
    uint32_t n = (to - from) & kWindowMask;
    if (static_cast<uint64_t>(outSize) + n > blk.head.unpSize) {
        outFull = true;
        return;
    }
    if (to >= from) {
        std::memcpy(out + outSize, window + from, n);
    } else {
        uint32_t head = kWindowSize - from;
        std::memcpy(out + outSize, window + from, head);
        std::memcpy(out + outSize + head, window, to);
    }
    outSize += n;
}

inline void Reader::copyString(uint32_t length, uint32_t distance) {
    oldDist[oldDistPtr++ & 3] = distance;
    lastDist = distance;
    lastLength = length;
    destLeft -= length;
    uint8_t* w = window;
    uint32_t dst = unpPtr, src = (dst - distance) & kWindowMask;
    if (src + length <= kWindowSize && dst + length <= kWindowSize) {
        // Forward byte order: a copy may overlap its own output.
        for (uint32_t i = 0; i < length; ++i) w[dst + i] = w[src + i];
        unpPtr = dst + length;
    } else {
        for (uint32_t i = 0; i < length; ++i) {
            w[dst] = w[src];
            dst = (dst + 1) & kWindowMask;
            src = (src + 1) & kWindowMask;
        }
        unpPtr = dst;
    }
}

inline uint8_t Reader::decodeAudio(unsigned s) {
    unsigned byte = (predictor.predict(curChannel) - s) & 0xFF;
    predictor.update(curChannel, s, byte);
    return static_cast<uint8_t>(byte);
}

// Unpacks the current member's packed data (the file is at its start). False when the input runs
// out before the member is complete or its tables are malformed.
bool Reader::unpackMember() {
    bool continues = blk.head.flags & kFileSolid;
    if (!continues) resetUnpackState();
    fillInput();
    const uint32_t start = unpPtr & kWindowMask;
    destLeft = static_cast<int64_t>(blk.head.unpSize) - 1;
    bool ok = unpackSymbols(continues);
    // Every byte produced was stored going forward from start, wrapping at the window's end; each
    // copy counts its whole length, including any part beyond the member's size.
    uint64_t reach = start + static_cast<uint64_t>(static_cast<int64_t>(blk.head.unpSize) - 1 - destLeft);
    if (reach >= kWindowSize) {
        win->dirty = kWindowSize;
    } else if (reach > win->dirty) {
        win->dirty = static_cast<uint32_t>(reach);
    }
    return ok;
}

bool Reader::unpackSymbols(bool continues) {
    // A member with nothing to produce (a directory) may have no packed bytes at all.
    if (!continues && !readTables() && blk.head.unpSize > 0) return false;

    uint8_t* const w = window;
    while (destLeft >= 0) {
        unpPtr &= kWindowMask;
        if (inAddr > kInSize - 30) refill();
        if (overrun()) return false;
        if (((wrPtr - unpPtr) & kWindowMask) < kFlushGap && wrPtr != unpPtr) {
            handOut();
            if (outFull) return true;  // the size check then fails the member
            wrPtr = unpPtr;
        }
        if (audio) {
            int s = decodeSymbol(audioTable[curChannel]);
            if (s == 256) {
                if (!readTables()) return false;
                continue;
            }
            w[unpPtr++] = decodeAudio(s);
            if (++curChannel >= channels) curChannel = 0;
            --destLeft;
            continue;
        }
        int s = decodeSymbol(mainTable);
        if (s < 256) {
            w[unpPtr++] = static_cast<uint8_t>(s);
            --destLeft;
        } else if (s >= 270) {
            int i = s - 270;
            uint32_t length = kLengthBase[i] + kMinMatch;
            if (int bits = kLengthBits[i]) length += getBits(bits);
            int d = decodeSymbol(distTable);
            uint32_t distance = kDistBase[d] + 1;
            if (int bits = kDistBits[d]) distance += getBits(bits);
            if (distance >= 0x2000) {
                ++length;
                if (distance >= 0x40000) ++length;
            }
            copyString(length, distance);
        } else if (s == 269) {
            if (!readTables()) return false;
        } else if (s == 256) {
            copyString(lastLength, lastDist);
        } else if (s < 261) {
            uint32_t distance = oldDist[(oldDistPtr - (s - 256)) & 3];
            int d = decodeSymbol(repTable);
            uint32_t length = kLengthBase[d] + 2;
            if (int bits = kLengthBits[d]) length += getBits(bits);
            if (distance >= 0x101) {
                ++length;
                if (distance >= 0x2000) {
                    ++length;
                    if (distance >= 0x40000) ++length;
                }
            }
            copyString(length, distance);
        } else {
            int i = s - 261;
            uint32_t distance = kShortDistBase[i] + 1;
            if (int bits = kShortDistBits[i]) distance += getBits(bits);
            copyString(2, distance);
        }
    }
    unpPtr &= kWindowMask;

    // A table change may follow the member's last symbol, for the next member of a solid archive.
    if (readTop >= inAddr + 5) {
        if (audio) {
            if (decodeSymbol(audioTable[curChannel]) == 256) readTables();
        } else if (decodeSymbol(mainTable) == 269) {
            readTables();
        }
    }
    handOut();
    wrPtr = unpPtr;
    return true;
}

// Stored data goes straight to the output; with encryption it is read in whole cipher blocks
// (the archiver rounds the packed size up to 16) and only the member's bytes are kept. False when the
// file ends before the member's bytes do.
bool Reader::readStored() {
    const uint32_t packSize = blk.head.packSize, unpSize = blk.head.unpSize;
    uint32_t n = packSize < unpSize ? packSize : unpSize;
    if (!out) return true;  // an earlier member of a solid archive: stored data never enters the window
    if (!decrypting) {
        outSize = static_cast<uint32_t>(std::fread(out, 1, n, file));
        return outSize == n;
    }
    packLeft = packSize;
    while (outSize < n) {
        uint32_t left = n - outSize;
        int chunk = left >= static_cast<uint32_t>(kInSize) ? kInSize : static_cast<int>((left + 15) & ~15u);
        int got = readPacked(in, chunk);
        int take = static_cast<uint32_t>(got) < left ? got : static_cast<int>(left);
        std::memcpy(out + outSize, in, take);
        outSize += take;
        if (got < chunk) break;
    }
    return outSize == n;
}

// ---- Header walk -------------------------------------------------------------------------------

bool Reader::seekTo(int64_t pos) {
    return fseeko(file, static_cast<off_t>(pos), SEEK_SET) == 0;
}

void normaliseName(const char* in, char* out, size_t cap) {
    size_t i = 0;
    for (; in[i] && i + 1 < cap; ++i) {
        unsigned char c = static_cast<unsigned char>(in[i]);
        if (c == '\\' || c == '/') c = '_';
        out[i] = static_cast<char>(std::toupper(c));
    }
    out[i] = 0;
}

bool namesMatch(const char* a, const char* b) {
    char na[kMaxRequestName + 1], nb[kMaxRequestName + 1];
    normaliseName(a, na, sizeof na);
    normaliseName(b, nb, sizeof nb);
    return std::strcmp(na, nb) == 0;
}

// Checks a wanted member's sizes against the archive before its output block is allocated.
RarStatus Reader::plausibleSizes() const {
    const BlockHeader& h = blk.head;
    if (blk.start + h.headSize + static_cast<int64_t>(h.packSize) > fileSize) return RarStatus::kTruncated;
    if (h.method == kMethodStore) return h.unpSize <= h.packSize ? RarStatus::kOk : RarStatus::kBadHeader;
    size_t most;
    if (checkedMul(h.packSize, kMaxBytesPerPackedByte, &most) && h.unpSize > most)
        return RarStatus::kBadHeader;
    return RarStatus::kOk;
}

RarStatus Reader::decodeMember() {
    const BlockHeader& h = blk.head;
    if (h.unpVer < 13 || h.unpVer > 20) return RarStatus::kUnsupported;
    // An earlier member of a solid archive whose data the file does not hold.
    if (blk.start + h.headSize + static_cast<int64_t>(h.packSize) > fileSize) return RarStatus::kTruncated;
    decrypting = false;
    if (password[0] && (h.flags & kFileEncrypted)) {
        cipher.setup(crcTable(), password);
        decrypting = h.unpVer >= 20;
    }
    packLeft = h.packSize;
    inputDone = false;
    if (!seekTo(blk.start + h.headSize)) return RarStatus::kUnreadable;
    if (h.method == kMethodStore) {
        if (!readStored()) return RarStatus::kTruncated;
    } else if (!unpackMember()) {
        return RarStatus::kBadData;
    }
    if (!out) return RarStatus::kOk;
    if (outFull || outSize != h.unpSize) return RarStatus::kBadData;
    return ~crc32Slices(0xFFFFFFFFu, out, h.unpSize) == h.fileCrc ? RarStatus::kOk : RarStatus::kBadCrc;
}

RarStatus Reader::extract() {
    file = std::fopen(archive, "rb");
    if (!file) return errno == ENOENT || errno == ENOTDIR ? RarStatus::kNoArchive : RarStatus::kUnreadable;
    BlockWalk walk(file);
    if (RarStatus s = walk.start(); s != RarStatus::kOk) return s;
    fileSize = walk.fileSize();
    mainFlags = walk.main().flags;

    win = WindowPool::instance().take();
    if (!win) return RarStatus::kNoMemory;
    window = win->bytes;
    resetUnpackState();

    const bool solid = mainFlags & kMainSolid;
    bool badHeader = false, crcUnknown = false;  // among the file headers walked
    for (;;) {
        switch (walk.next(&blk, kMaxMemberName)) {
            case BlockWalk::Step::kBlock:
                break;
            case BlockWalk::Step::kEnd: {
                // Not there; unless a damaged header may be what hides it.
                if (badHeader) return RarStatus::kBadHeader;
                if (!crcUnknown) return RarStatus::kNoMember;
                walk.rewind();
                while (walk.next(&blk, 0) == BlockWalk::Step::kBlock)
                    if (blk.head.type == kFileHead && !walk.headerCrcOk(blk)) return RarStatus::kBadHeader;
                return RarStatus::kNoMember;
            }
            case BlockWalk::Step::kCut:
                return RarStatus::kTruncated;
            case BlockWalk::Step::kBad:
                return RarStatus::kBadHeader;
            case BlockWalk::Step::kIoError:
                return RarStatus::kUnreadable;
        }
        if (blk.head.type == kSubBlock) return RarStatus::kUnsupported;
        if (blk.head.type != kFileHead) continue;
        badHeader = badHeader || blk.crc == Block::Crc::kBad;
        crcUnknown = crcUnknown || blk.crc == Block::Crc::kUnknown;
        const bool wanted = wantedAt >= 0 ? blk.start == wantedAt : namesMatch(member, blk.name.c_str());
        if (wanted) {
            if (RarStatus s = plausibleSizes(); s != RarStatus::kOk) return s;
            out = static_cast<uint8_t*>(std::malloc(blk.head.unpSize ? blk.head.unpSize : 1));
            if (!out) return RarStatus::kNoMemory;
            outSize = 0;
            outFull = false;
        }
        if (solid || wanted) {
            RarStatus s = decodeMember();
            if (s == RarStatus::kBadData || s == RarStatus::kBadCrc) {
                const BlockHeader& h = blk.head;
                if (!walk.headerCrcOk(blk)) return RarStatus::kBadHeader;
                // Versions below 20 pass the version check but may use an older method or cipher.
                if (h.unpVer < 20 && (h.method != kMethodStore || (h.flags & kFileEncrypted)))
                    return RarStatus::kUnsupported;
                failedEncrypted = h.flags & kFileEncrypted;
                failedAt = blk.start;
            }
            if (s != RarStatus::kOk) return s;
        }
        if (wanted) return RarStatus::kOk;
    }
}

// One extraction with its own state: the member by name, or (at >= 0) the file header at that offset.
struct Extraction {
    RarStatus status;
    uint8_t* out;
    uint32_t outSize;
    bool failedEncrypted;
    int64_t failedAt;
};

Extraction run(const char* member, const char* archive, const char* password, int64_t at) {
    Extraction e{RarStatus::kNoMemory, nullptr, 0, false, -1};
    // Every field starts at zero: nothing of an earlier call carries over, not even into a member
    // that claims to continue.
    std::unique_ptr<Reader> r(new (std::nothrow) Reader());
    if (!r) return e;
    std::strcpy(r->member, member);
    std::strcpy(r->archive, archive);
    if (password) std::strncpy(r->password, password, sizeof r->password - 1);
    r->channels = 1;
    r->wantedAt = at;

    e.status = r->extract();

    wipe(r->password, sizeof r->password);
    r->cipher.wipe();
    if (r->file) std::fclose(r->file);
    if (r->win) WindowPool::instance().give(r->win);
    e.failedEncrypted = r->failedEncrypted;
    e.failedAt = r->failedAt;
    if (e.status != RarStatus::kOk) {
        std::free(r->out);
        return e;
    }
    e.out = r->out;
    e.outSize = r->outSize;
    return e;
}

// Whether another encrypted member of the archive comes out whole with the password: the first one that
// depends on no other in a solid archive, the smallest in any other.
bool passwordOpensAnother(const char* archive, const char* password, int64_t failedAt) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(archive, "rb"), std::fclose);
    if (!f) return false;
    BlockWalk walk(f.get());
    if (walk.start() != RarStatus::kOk) return false;
    const bool solid = walk.main().flags & kMainSolid;
    int64_t best = -1;
    uint32_t bestSize = 0;
    Block b;
    while (walk.next(&b, 0) == BlockWalk::Step::kBlock) {
        const BlockHeader& h = b.head;
        if (h.type != kFileHead) continue;
        const bool candidate = b.start != failedAt && (h.flags & kFileEncrypted) && !(h.flags & kFileSolid) &&
                               h.unpVer == 20 && h.unpSize > 0;
        if (solid) {
            if (candidate) best = b.start;
            break;  // later members need the earlier ones' state
        }
        if (candidate && (best < 0 || h.packSize < bestSize)) {
            best = b.start;
            bestSize = h.packSize;
        }
    }
    if (best < 0) return false;
    f.reset();
    Extraction probe = run("", archive, password, best);
    std::free(probe.out);
    return probe.status == RarStatus::kOk;
}

}  // namespace

int rar_get(unsigned char** data, uint32_t* size, const char* member, const char* archive,
            const char* password, RarStatus* status) {
    RarStatus ignored;
    if (!status) status = &ignored;
    *status = RarStatus::kNoMemory;
    if (data) *data = nullptr;
    if (size) *size = 0;
    if (!data || !size || !member || !archive) return 0;
    *status = RarStatus::kNoArchive;
    if (std::strlen(archive) > kMaxArchiveName) return 0;

    // A name longer than any stored one matches no member, but the archive is still walked for its state.
    const bool tooLong = std::strlen(member) > kMaxRequestName;
    Extraction e = run(tooLong ? "" : member, archive, password, tooLong ? INT64_MAX : -1);
    if (e.status != RarStatus::kOk) {
        *status = e.status;
        if (e.failedEncrypted &&
            (!password || !password[0] || !passwordOpensAnother(archive, password, e.failedAt)))
            *status = RarStatus::kWrongPassword;
        return 0;
    }
    *data = e.out;
    *size = e.outSize;
    *status = RarStatus::kOk;
    return 1;
}

const char* rar_status_text(RarStatus status) {
    switch (status) {
        case RarStatus::kOk:
            return "extracted";
        case RarStatus::kNoArchive:
            return "archive not found";
        case RarStatus::kUnreadable:
            return "archive cannot be read";
        case RarStatus::kNotArchive:
            return "not a RAR archive";
        case RarStatus::kNoMember:
            return "no such member";
        case RarStatus::kTruncated:
            return "archive is truncated";
        case RarStatus::kBadHeader:
            return "archive is damaged (a block header)";
        case RarStatus::kBadData:
            return "archive is damaged (packed data that does not unpack)";
        case RarStatus::kBadCrc:
            return "archive is damaged (CRC mismatch)";
        case RarStatus::kWrongPassword:
            return "wrong password";
        case RarStatus::kUnsupported:
            return "unsupported archive format";
        case RarStatus::kNoMemory:
            return "out of memory";
    }
    return "unknown status";
}
