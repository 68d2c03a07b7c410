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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "data/rar.h"
#include "data/rar_format.h"

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
constexpr uint64_t kMaxBytesPerPackedByte = 260 * 8;

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
    uint16_t mainHeadSize;

    // Current file header.
    uint8_t headType;
    uint16_t headFlags;
    uint16_t headSize;
    uint32_t packSize;
    uint32_t unpSize;
    uint32_t fileCrc;
    uint8_t unpVer;
    uint8_t method;
    uint16_t nameSize;
    char fileName[kMaxMemberName + 1];
    int64_t blockStart;
    int64_t blockEnd;

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
    void readStored();
    bool seekTo(int64_t pos);
    enum class Found { kNone, kFile, kSubBlock };
    Found nextFileHeader();
    bool plausibleSizes() const;
    bool decodeMember();
    bool extract();
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
    if (static_cast<uint64_t>(outSize) + n > unpSize) {
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
    bool continues = headFlags & kFileSolid;
    if (!continues) resetUnpackState();
    fillInput();
    const uint32_t start = unpPtr & kWindowMask;
    destLeft = static_cast<int64_t>(unpSize) - 1;
    bool ok = unpackSymbols(continues);
    // Every byte produced was stored going forward from start, wrapping at the window's end; each
    // copy counts its whole length, including any part beyond the member's size.
    uint64_t reach = start + static_cast<uint64_t>(static_cast<int64_t>(unpSize) - 1 - destLeft);
    if (reach >= kWindowSize) {
        win->dirty = kWindowSize;
    } else if (reach > win->dirty) {
        win->dirty = static_cast<uint32_t>(reach);
    }
    return ok;
}

bool Reader::unpackSymbols(bool continues) {
    // A member with nothing to produce (a directory) may have no packed bytes at all.
    if (!continues && !readTables() && unpSize > 0) return false;

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
// (the archiver rounds the packed size up to 16) and only the member's bytes are kept.
void Reader::readStored() {
    uint32_t n = packSize < unpSize ? packSize : unpSize;
    if (!out) return;  // an earlier member of a solid archive: stored data never enters the window
    if (!decrypting) {
        outSize = static_cast<uint32_t>(std::fread(out, 1, n, file));
        return;
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
}

// ---- Header walk -------------------------------------------------------------------------------

bool Reader::seekTo(int64_t pos) {
    return fseeko(file, static_cast<off_t>(pos), SEEK_SET) == 0;
}

Reader::Found Reader::nextFileHeader() {
    for (;;) {
        off_t at = ftello(file);
        if (at < 0) return Found::kNone;
        blockStart = at;
        uint8_t h[kFileHeadSize];
        size_t n = std::fread(h, 1, sizeof h, file);
        if (n == 0) {
            seekTo(blockStart);
            return Found::kNone;
        }
        std::memset(h + n, 0, sizeof h - n);
        uint8_t type = h[2];
        uint16_t flags = getLe16(h + 3);
        uint16_t size = getLe16(h + 5);
        if (size < 7) return Found::kNone;
        blockEnd = blockStart + size + ((flags & kLongBlock) ? getLe32(h + 7) : 0);
        if (type == kSubBlock) {
            seekTo(blockStart);
            return Found::kSubBlock;
        }
        if (type != kFileHead) {
            if (!seekTo(blockEnd)) return Found::kNone;
            continue;
        }
        headType = type;
        headFlags = flags;
        headSize = size;
        packSize = getLe32(h + 7);
        unpSize = getLe32(h + 11);
        fileCrc = getLe32(h + 16);
        unpVer = h[24];
        method = h[25];
        nameSize = getLe16(h + 26);
        size_t want = nameSize < kMaxMemberName ? nameSize : kMaxMemberName;
        size_t got = n == sizeof h ? std::fread(fileName, 1, want, file) : 0;
        fileName[got] = 0;
        return Found::kFile;
    }
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
bool Reader::plausibleSizes() const {
    int64_t end = blockStart + headSize + static_cast<int64_t>(packSize);
    if (end > fileSize) return false;
    if (method == kMethodStore) return unpSize <= packSize;
    return unpSize <= static_cast<uint64_t>(packSize) * kMaxBytesPerPackedByte;
}

bool Reader::decodeMember() {
    if (unpVer < 13 || unpVer > 20) return false;
    decrypting = false;
    if (password[0] && (headFlags & kFileEncrypted)) {
        cipher.setup(crcTable(), password);
        decrypting = unpVer >= 20;
    }
    packLeft = packSize;
    inputDone = false;
    if (!seekTo(blockStart + headSize)) return false;
    if (method == kMethodStore) {
        readStored();
    } else if (!unpackMember()) {
        return false;
    }
    if (!out) return true;
    if (outFull || outSize != unpSize) return false;
    return ~crc32Slices(0xFFFFFFFFu, out, unpSize) == fileCrc;
}

bool Reader::extract() {
    file = std::fopen(archive, "rb");
    if (!file) return false;
    if (fseeko(file, 0, SEEK_END) != 0) return false;
    fileSize = ftello(file);
    if (fileSize < 0 || !seekTo(0)) return false;

    uint8_t mark[7];
    if (std::fread(mark, 1, 7, file) != 7) return false;
    if (std::memcmp(mark, kMarker, 7) != 0 && std::memcmp(mark, kAltMarker, 7) != 0) return false;
    uint8_t mh[kMainHeadSize];
    if (std::fread(mh, 1, sizeof mh, file) != sizeof mh) return false;
    mainFlags = getLe16(mh + 3);
    mainHeadSize = getLe16(mh + 5);
    if (mainHeadSize < kMainHeadSize) return false;

    win = WindowPool::instance().take();
    if (!win) return false;
    window = win->bytes;
    if (!seekTo(7 + static_cast<int64_t>(mainHeadSize))) return false;
    resetUnpackState();

    const bool solid = mainFlags & kMainSolid;
    for (;;) {
        if (nextFileHeader() != Found::kFile) return false;
        bool wanted = namesMatch(member, fileName);
        if (wanted) {
            if (!plausibleSizes()) return false;
            out = static_cast<uint8_t*>(std::malloc(unpSize ? unpSize : 1));
            if (!out) return false;
            outSize = 0;
            outFull = false;
        }
        if ((solid || wanted) && !decodeMember()) return false;
        if (wanted) return true;
        if (!seekTo(blockEnd)) return false;
    }
}

}  // namespace

int rar_get(unsigned char** data, uint32_t* size, const char* member, const char* archive,
            const char* password) {
    if (data) *data = nullptr;
    if (size) *size = 0;
    if (!data || !size || !member || !archive) return 0;
    if (std::strlen(member) > kMaxRequestName || std::strlen(archive) > kMaxArchiveName) return 0;

    // Every field starts at zero: nothing of an earlier call carries over, not even into a member
    // that claims to continue.
    std::unique_ptr<Reader> r(new (std::nothrow) Reader());
    if (!r) return 0;
    std::strcpy(r->member, member);
    std::strcpy(r->archive, archive);
    if (password) std::strncpy(r->password, password, sizeof r->password - 1);
    r->channels = 1;

    bool ok = r->extract();

    wipe(r->password, sizeof r->password);
    r->cipher.wipe();
    if (r->file) std::fclose(r->file);
    if (r->win) WindowPool::instance().give(r->win);
    if (!ok) {
        std::free(r->out);
        return 0;
    }
    *data = r->out;
    *size = r->outSize;
    return 1;
}
