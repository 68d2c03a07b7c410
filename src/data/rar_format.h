#pragma once
// Pieces of the RAR 2.0 archive format shared by the reader, the lister and the writer: the
// block layout, CRC-32, the constant decode tables and the block cipher.
#include <cstddef>
#include <cstdint>

#include "base/byte_reader.h"

namespace rar {

// The two accepted 7-byte markers at the start of an archive.
extern const uint8_t kMarker[7];
extern const uint8_t kAltMarker[7];

enum BlockType : uint8_t { kMainHead = 0x73, kFileHead = 0x74, kSubBlock = 0x77 };

enum MainFlags : uint16_t { kMainSolid = 0x0008 };

enum FileFlags : uint16_t {
    kFileSplitBefore = 0x0001,
    kFileSplitAfter = 0x0002,
    kFileEncrypted = 0x0004,
    kFileSolid = 0x0010,  // continues the previous member's unpacking state
    kFileDirectory = 0x00E0,
    kLongBlock = 0x8000,  // a data area of the size at header offset 7 follows the header
};

constexpr uint8_t kMethodStore = 0x30;
constexpr size_t kFileHeadSize = 32;  // fixed part of a file header, before the name
constexpr size_t kMainHeadSize = 13;

// Unpacking: a 1 MiB circular window and the symbol alphabets of the 2.0 method.
constexpr uint32_t kWindowSize = 0x100000;
constexpr uint32_t kWindowMask = kWindowSize - 1;
constexpr int kMainSymbols = 298;  // 256 literals, 256..269 controls, 270..297 lengths
constexpr int kDistSymbols = 48;
constexpr int kRepSymbols = 28;
constexpr int kAudioSymbols = 257;                   // 256 deltas and the table change
constexpr int kLevelSymbols = 19;                    // code of the code lengths
constexpr int kMaxTableLengths = kAudioSymbols * 4;  // 1028: the largest set of code lengths
constexpr int kPlainTableLengths = kMainSymbols + kDistSymbols + kRepSymbols;  // 374
constexpr int kMaxCodeLength = 15;
constexpr int kMinMatch = 3;  // added to a length base for main-table lengths

// Decode bases and extra-bit counts; each base adds 2^bits of the previous entry.
extern const uint8_t kLengthBits[kRepSymbols];
extern const uint32_t kLengthBase[kRepSymbols];
extern const uint8_t kDistBits[kDistSymbols];
extern const uint32_t kDistBase[kDistSymbols];
extern const uint8_t kShortDistBits[8];
extern const uint32_t kShortDistBase[8];

// Multimedia mode: each byte is coded as its difference from a prediction made per channel from
// the channel's last byte, its last four deltas and the delta of the previous byte; the weights
// adapt every 32 bytes of a channel towards the predictor term with the least error.
struct AudioPredictor {
    struct Channel {
        int k[5];
        int d[4];
        int lastDelta;
        unsigned err[11];
        unsigned count;
        unsigned lastByte;
    };
    Channel chan[4];
    int channelDelta;

    void reset();
    // Starts the next byte of channel c and returns its prediction.
    unsigned predict(int c);
    // Finishes it with the coded symbol s and the byte that results.
    void update(int c, unsigned s, unsigned byte);
};

// Standard reflected CRC-32 (polynomial 0xEDB88320).
void buildCrcTable(uint32_t table[256]);
const uint32_t* crcTable();  // a table built once for the tools
uint32_t crc32Update(const uint32_t* table, uint32_t crc, const uint8_t* p, size_t n);
uint32_t crc32Slices(uint32_t crc, const uint8_t* p, size_t n);  // the same, eight bytes a step
uint32_t crc32(const uint8_t* p, size_t n);  // whole CRC (start 0xFFFFFFFF, final complement)

// The 2.0 block cipher: 16-byte blocks, four 32-bit keys updated from each ciphertext block,
// a byte substitution table permuted by the password.
class Cipher20 {
public:
    // crc must outlive the cipher. A null or empty password gives the initial keys and table.
    void setup(const uint32_t* crc, const char* password);
    void encryptBlock(uint8_t block[16]);
    void decryptBlock(uint8_t block[16]);
    void decrypt(uint8_t* p, size_t n);  // whole blocks only; n rounded down to 16
    void encrypt(uint8_t* p, size_t n);
    void wipe();  // clears keys and table

private:
    uint32_t sub(uint32_t t) const;
    void updateKeys(const uint8_t b[16]);
    const uint32_t* crc_ = nullptr;
    uint32_t key_[4] = {};
    uint8_t table_[256] = {};
};

}  // namespace rar
