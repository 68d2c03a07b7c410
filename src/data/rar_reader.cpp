// Extraction of one member from a RAR archive: the header walk, stored members, the 2.0 unpacker
// (LZ77 over a 1 MiB window with Huffman-coded symbols, and the multimedia mode with its
// per-channel delta predictor), solid archives and the 2.0 cipher.
//
// Every read stays inside its buffer whatever the archive holds: the input buffer carries zeroed
// slack beyond its valid end, a member that wants more packed bits than it has fails, and sizes
// from headers are checked against the file before anything is allocated for them.
#include <sys/types.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// The reader's process-wide state: one extraction at a time.
struct ReaderState {
    uint32_t crc[256];
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
    uint8_t* in;
    int inAddr;
    int inBit;
    int readTop;  // the valid end as the format defines it (for the end-of-member look-ahead)
    int dataEnd;  // where the bytes actually read end
    bool inputDone;
    uint32_t packLeft;
    bool decrypting;
    Cipher20 cipher;

    // Unpacking.
    uint8_t* window;
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
};

ReaderState g;

void wipe(void* p, size_t n) {
    volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) v[i] = 0;
}

// ---- Packed input ------------------------------------------------------------------------------

// Reads up to n bytes of the member's packed data, decrypting whole cipher blocks in place.
int readPacked(uint8_t* dst, int n) {
    if (g.inputDone) return 0;
    size_t want = static_cast<size_t>(n) < g.packLeft ? static_cast<size_t>(n) : g.packLeft;
    size_t got = want ? std::fread(dst, 1, want, g.file) : 0;
    g.packLeft -= static_cast<uint32_t>(got);
    if (got < static_cast<size_t>(n)) g.inputDone = true;
    if (g.decrypting) g.cipher.decrypt(dst, got);
    return static_cast<int>(got);
}

void clearSlack() {
    std::memset(g.in + g.dataEnd, 0, kInSize + kInSlack - g.dataEnd);
}

void fillInput() {
    g.inAddr = 0;
    g.inBit = 0;
    g.dataEnd = readPacked(g.in, kInSize);
    g.readTop = g.dataEnd;
    clearSlack();
}

// Called with inAddr past kRefillFrom: keeps the last 32 bytes and reads behind them.
void refill() {
    std::memmove(g.in, g.in + kRefillFrom, kRefillKeep);
    g.inAddr -= kRefillFrom;
    int kept = g.dataEnd > kRefillFrom ? g.dataEnd - kRefillFrom : 0;
    int got = g.dataEnd == kInSize ? readPacked(g.in + kRefillKeep, kInSize - kRefillKeep) : 0;
    if (got > 0) {
        g.dataEnd = kRefillKeep + got;
        g.readTop = g.dataEnd;
    } else {
        g.dataEnd = kept;
        g.readTop = g.inAddr;
    }
    clearSlack();
}

// True once more bits were taken than the member's input holds.
inline bool overrun() {
    return g.inAddr > g.dataEnd;
}

inline uint32_t peekBits() {
    const uint8_t* p = g.in + g.inAddr;
    return ((static_cast<uint32_t>(p[0]) << 16 | p[1] << 8 | p[2]) >> (8 - g.inBit)) & 0xFFFF;
}

inline void skipBits(int n) {
    n += g.inBit;
    g.inAddr += n >> 3;
    g.inBit = n & 7;
}

inline uint32_t getBits(int n) {
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

inline int decodeSymbol(const HuffTable& t) {
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
bool readTables() {
    if (g.inAddr > kInSize - 25) refill();
    if (overrun()) return false;
    uint32_t w = peekBits();
    bool audio = w & 0x8000;
    if (!(w & 0x4000)) std::memset(g.oldLengths, 0, sizeof g.oldLengths);
    skipBits(2);
    int count, channels = g.channels;
    if (audio) {
        channels = ((w >> 12) & 3) + 1;
        skipBits(2);
        count = kAudioSymbols * channels;
    } else {
        count = kPlainTableLengths;
    }
    uint8_t level[kLevelSymbols];
    for (int i = 0; i < kLevelSymbols; ++i) level[i] = static_cast<uint8_t>(getBits(4));
    buildTable(g.levelTable, level, kLevelSymbols);

    uint8_t lengths[kMaxTableLengths] = {};
    for (int i = 0; i < count;) {
        if (g.inAddr > kInSize - 5) refill();
        if (overrun()) return false;
        int s = decodeSymbol(g.levelTable);
        if (s < 16) {
            lengths[i] = static_cast<uint8_t>((s + g.oldLengths[i]) & 15);
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

    g.audio = audio;
    if (audio) {
        g.channels = channels;
        if (g.curChannel >= channels) g.curChannel = 0;
        for (int c = 0; c < channels; ++c)
            buildTable(g.audioTable[c], lengths + c * kAudioSymbols, kAudioSymbols);
    } else {
        buildTable(g.mainTable, lengths, kMainSymbols);
        buildTable(g.distTable, lengths + kMainSymbols, kDistSymbols);
        buildTable(g.repTable, lengths + kMainSymbols + kDistSymbols, kRepSymbols);
    }
    std::memcpy(g.oldLengths, lengths, sizeof g.oldLengths);
    return true;
}

// ---- Unpacking ---------------------------------------------------------------------------------

void resetUnpackState() {
    g.curChannel = 0;
    g.predictor.reset();
    std::memset(g.oldDist, 0, sizeof g.oldDist);
    g.oldDistPtr = 0;
    g.lastDist = 0;
    g.lastLength = 0;
    std::memset(g.oldLengths, 0, sizeof g.oldLengths);
    g.unpPtr = 0;
    g.wrPtr = 0;
    if (g.window) std::memset(g.window, 0, kWindowSize);
}

// Appends the window bytes from the hand-out position to the decode position to the output.
void handOut() {
    if (!g.out) return;
    uint32_t from = g.wrPtr & kWindowMask, to = g.unpPtr & kWindowMask;
    uint32_t n = (to - from) & kWindowMask;
    if (static_cast<uint64_t>(g.outSize) + n > g.unpSize) {
        g.outFull = true;
        return;
    }
    if (to >= from) {
        std::memcpy(g.out + g.outSize, g.window + from, n);
    } else {
        uint32_t head = kWindowSize - from;
        std::memcpy(g.out + g.outSize, g.window + from, head);
        std::memcpy(g.out + g.outSize + head, g.window, to);
    }
    g.outSize += n;
}

inline void copyString(uint32_t length, uint32_t distance) {
    g.oldDist[g.oldDistPtr++ & 3] = distance;
    g.lastDist = distance;
    g.lastLength = length;
    g.destLeft -= length;
    uint8_t* w = g.window;
    uint32_t dst = g.unpPtr, src = (dst - distance) & kWindowMask;
    if (src + length <= kWindowSize && dst + length <= kWindowSize) {
        // Forward byte order: a copy may overlap its own output.
        for (uint32_t i = 0; i < length; ++i) w[dst + i] = w[src + i];
        g.unpPtr = dst + length;
    } else {
        for (uint32_t i = 0; i < length; ++i) {
            w[dst] = w[src];
            dst = (dst + 1) & kWindowMask;
            src = (src + 1) & kWindowMask;
        }
        g.unpPtr = dst;
    }
}

inline uint8_t decodeAudio(unsigned s) {
    unsigned byte = (g.predictor.predict(g.curChannel) - s) & 0xFF;
    g.predictor.update(g.curChannel, s, byte);
    return static_cast<uint8_t>(byte);
}

// Unpacks the current member's packed data (the file is at its start). False when the input runs
// out before the member is complete or its tables are malformed.
bool unpackMember() {
    bool continues = g.headFlags & kFileSolid;
    if (!continues) resetUnpackState();
    fillInput();
    // A member with nothing to produce (a directory) may have no packed bytes at all.
    if (!continues && !readTables() && g.unpSize > 0) return false;

    uint8_t* const w = g.window;
    g.destLeft = static_cast<int64_t>(g.unpSize) - 1;
    while (g.destLeft >= 0) {
        g.unpPtr &= kWindowMask;
        if (g.inAddr > kInSize - 30) refill();
        if (overrun()) return false;
        if (((g.wrPtr - g.unpPtr) & kWindowMask) < kFlushGap && g.wrPtr != g.unpPtr) {
            handOut();
            if (g.outFull) return true;  // the size check then fails the member
            g.wrPtr = g.unpPtr;
        }
        if (g.audio) {
            int s = decodeSymbol(g.audioTable[g.curChannel]);
            if (s == 256) {
                if (!readTables()) return false;
                continue;
            }
            w[g.unpPtr++] = decodeAudio(s);
            if (++g.curChannel >= g.channels) g.curChannel = 0;
            --g.destLeft;
            continue;
        }
        int s = decodeSymbol(g.mainTable);
        if (s < 256) {
            w[g.unpPtr++] = static_cast<uint8_t>(s);
            --g.destLeft;
        } else if (s >= 270) {
            int i = s - 270;
            uint32_t length = kLengthBase[i] + kMinMatch;
            if (int bits = kLengthBits[i]) length += getBits(bits);
            int d = decodeSymbol(g.distTable);
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
            copyString(g.lastLength, g.lastDist);
        } else if (s < 261) {
            uint32_t distance = g.oldDist[(g.oldDistPtr - (s - 256)) & 3];
            int d = decodeSymbol(g.repTable);
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
    g.unpPtr &= kWindowMask;

    // A table change may follow the member's last symbol, for the next member of a solid archive.
    if (g.readTop >= g.inAddr + 5) {
        if (g.audio) {
            if (decodeSymbol(g.audioTable[g.curChannel]) == 256) readTables();
        } else if (decodeSymbol(g.mainTable) == 269) {
            readTables();
        }
    }
    handOut();
    g.wrPtr = g.unpPtr;
    return true;
}

// Stored data goes straight to the output; with encryption it is read in whole cipher blocks
// (the archiver rounds the packed size up to 16) and only the member's bytes are kept.
void readStored() {
    uint32_t n = g.packSize < g.unpSize ? g.packSize : g.unpSize;
    if (!g.out) return;  // an earlier member of a solid archive: stored data never enters the window
    if (!g.decrypting) {
        g.outSize = static_cast<uint32_t>(std::fread(g.out, 1, n, g.file));
        return;
    }
    g.packLeft = g.packSize;
    while (g.outSize < n) {
        uint32_t left = n - g.outSize;
        int chunk = left >= static_cast<uint32_t>(kInSize) ? kInSize : static_cast<int>((left + 15) & ~15u);
        int got = readPacked(g.in, chunk);
        int take = static_cast<uint32_t>(got) < left ? got : static_cast<int>(left);
        std::memcpy(g.out + g.outSize, g.in, take);
        g.outSize += take;
        if (got < chunk) break;
    }
}

// ---- Header walk -------------------------------------------------------------------------------

bool seekTo(int64_t pos) {
    return fseeko(g.file, static_cast<off_t>(pos), SEEK_SET) == 0;
}

enum class Found { kNone, kFile, kSubBlock };

Found nextFileHeader() {
    for (;;) {
        off_t at = ftello(g.file);
        if (at < 0) return Found::kNone;
        g.blockStart = at;
        uint8_t h[kFileHeadSize];
        size_t n = std::fread(h, 1, sizeof h, g.file);
        if (n == 0) {
            seekTo(g.blockStart);
            return Found::kNone;
        }
        std::memset(h + n, 0, sizeof h - n);
        uint8_t type = h[2];
        uint16_t flags = getLe16(h + 3);
        uint16_t size = getLe16(h + 5);
        if (size < 7) return Found::kNone;
        g.blockEnd = g.blockStart + size + ((flags & kLongBlock) ? getLe32(h + 7) : 0);
        if (type == kSubBlock) {
            seekTo(g.blockStart);
            return Found::kSubBlock;
        }
        if (type != kFileHead) {
            if (!seekTo(g.blockEnd)) return Found::kNone;
            continue;
        }
        g.headType = type;
        g.headFlags = flags;
        g.headSize = size;
        g.packSize = getLe32(h + 7);
        g.unpSize = getLe32(h + 11);
        g.fileCrc = getLe32(h + 16);
        g.unpVer = h[24];
        g.method = h[25];
        g.nameSize = getLe16(h + 26);
        size_t want = g.nameSize < kMaxMemberName ? g.nameSize : kMaxMemberName;
        size_t got = n == sizeof h ? std::fread(g.fileName, 1, want, g.file) : 0;
        g.fileName[got] = 0;
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
bool plausibleSizes() {
    int64_t dataEnd = g.blockStart + g.headSize + static_cast<int64_t>(g.packSize);
    if (dataEnd > g.fileSize) return false;
    if (g.method == kMethodStore) return g.unpSize <= g.packSize;
    return g.unpSize <= static_cast<uint64_t>(g.packSize) * kMaxBytesPerPackedByte;
}

bool decodeMember() {
    if (g.unpVer < 13 || g.unpVer > 20) return false;
    g.decrypting = false;
    if (g.password[0] && (g.headFlags & kFileEncrypted)) {
        g.cipher.setup(g.crc, g.password);
        g.decrypting = g.unpVer >= 20;
    }
    g.packLeft = g.packSize;
    g.inputDone = false;
    if (!seekTo(g.blockStart + g.headSize)) return false;
    if (g.method == kMethodStore) {
        readStored();
    } else if (!unpackMember()) {
        return false;
    }
    if (!g.out) return true;
    if (g.outFull || g.outSize != g.unpSize) return false;
    return ~crc32Slices(0xFFFFFFFFu, g.out, g.unpSize) == g.fileCrc;
}

bool extract() {
    g.file = std::fopen(g.archive, "rb");
    if (!g.file) return false;
    if (fseeko(g.file, 0, SEEK_END) != 0) return false;
    g.fileSize = ftello(g.file);
    if (g.fileSize < 0 || !seekTo(0)) return false;

    uint8_t mark[7];
    if (std::fread(mark, 1, 7, g.file) != 7) return false;
    if (std::memcmp(mark, kMarker, 7) != 0 && std::memcmp(mark, kAltMarker, 7) != 0) return false;
    uint8_t mh[kMainHeadSize];
    if (std::fread(mh, 1, sizeof mh, g.file) != sizeof mh) return false;
    g.mainFlags = getLe16(mh + 3);
    g.mainHeadSize = getLe16(mh + 5);
    if (g.mainHeadSize < kMainHeadSize) return false;

    g.window = static_cast<uint8_t*>(std::malloc(kWindowSize));  // cleared by resetUnpackState
    g.in = static_cast<uint8_t*>(std::malloc(kInSize + kInSlack));
    if (!g.window || !g.in) return false;
    if (!seekTo(7 + static_cast<int64_t>(g.mainHeadSize))) return false;
    resetUnpackState();

    const bool solid = g.mainFlags & kMainSolid;
    for (;;) {
        if (nextFileHeader() != Found::kFile) return false;
        bool wanted = namesMatch(g.member, g.fileName);
        if (wanted) {
            if (!plausibleSizes()) return false;
            g.out = static_cast<uint8_t*>(std::malloc(g.unpSize ? g.unpSize : 1));
            if (!g.out) return false;
            g.outSize = 0;
            g.outFull = false;
        }
        if ((solid || wanted) && !decodeMember()) return false;
        if (wanted) return true;
        if (!seekTo(g.blockEnd)) return false;
    }
}

}  // namespace

int rar_get(unsigned char** data, uint32_t* size, const char* member, const char* archive,
            const char* password) {
    if (data) *data = nullptr;
    if (size) *size = 0;
    if (!data || !size || !member || !archive) return 0;
    if (std::strlen(member) > kMaxRequestName || std::strlen(archive) > kMaxArchiveName) return 0;

    buildCrcTable(g.crc);
    std::strcpy(g.member, member);
    std::strcpy(g.archive, archive);
    std::memset(g.password, 0, sizeof g.password);
    if (password) std::strncpy(g.password, password, sizeof g.password - 1);
    // Nothing of an earlier call carries over, not even into a member that claims to continue.
    std::memset(&g.mainTable, 0, sizeof g.mainTable);
    std::memset(&g.distTable, 0, sizeof g.distTable);
    std::memset(&g.repTable, 0, sizeof g.repTable);
    std::memset(g.audioTable, 0, sizeof g.audioTable);
    g.audio = false;
    g.channels = 1;
    g.out = nullptr;
    g.outSize = 0;
    g.outFull = false;
    g.file = nullptr;
    g.window = nullptr;
    g.in = nullptr;

    bool ok = extract();

    wipe(g.password, sizeof g.password);
    g.cipher.wipe();
    if (g.file) std::fclose(g.file);
    g.file = nullptr;
    std::free(g.window);
    std::free(g.in);
    g.window = nullptr;
    g.in = nullptr;
    if (!ok) {
        std::free(g.out);
        g.out = nullptr;
        return 0;
    }
    *data = g.out;
    *size = g.outSize;
    g.out = nullptr;
    return 1;
}
