#include "data/rar_format.h"

#include <cstring>

namespace rar {

const uint8_t kMarker[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
const uint8_t kAltMarker[7] = {'D', 'r', 'a', 'v', 'e', 'k', '!'};

namespace {

// Initial substitution table of the 2.0 cipher.
const uint8_t kInitSubst[256] = {
    215, 19,  149, 35,  73,  197, 192, 205, 249, 28,  16,  119, 48,  221, 2,   42,  232, 1,   177, 233,
    14,  88,  219, 25,  223, 195, 244, 90,  87,  239, 153, 137, 255, 199, 147, 70,  92,  66,  246, 13,
    216, 40,  62,  29,  217, 230, 86,  6,   71,  24,  171, 196, 101, 113, 218, 123, 93,  91,  163, 178,
    202, 67,  44,  235, 107, 250, 75,  234, 49,  167, 125, 211, 83,  114, 157, 144, 32,  193, 143, 36,
    158, 124, 247, 187, 89,  214, 141, 47,  121, 228, 61,  130, 213, 194, 174, 251, 97,  110, 54,  229,
    115, 57,  152, 94,  105, 243, 212, 55,  209, 245, 63,  11,  164, 200, 31,  156, 81,  176, 227, 21,
    76,  99,  139, 188, 127, 17,  248, 51,  207, 120, 189, 210, 8,   226, 41,  72,  183, 203, 135, 165,
    166, 60,  98,  7,   122, 38,  155, 170, 69,  172, 252, 238, 39,  134, 59,  128, 236, 27,  240, 80,
    131, 3,   85,  206, 145, 79,  154, 142, 159, 220, 201, 133, 74,  64,  20,  129, 224, 185, 138, 103,
    173, 182, 43,  34,  254, 82,  198, 151, 231, 180, 58,  10,  118, 26,  102, 12,  50,  132, 22,  191,
    136, 111, 162, 179, 45,  4,   148, 108, 161, 56,  78,  126, 242, 222, 15,  175, 146, 23,  33,  241,
    181, 190, 77,  225, 0,   46,  169, 186, 68,  95,  237, 65,  53,  208, 253, 168, 9,   18,  100, 52,
    116, 184, 160, 96,  109, 37,  30,  106, 140, 104, 150, 5,   204, 117, 112, 84,
};

constexpr uint32_t kInitKeys[4] = {0xD3A3B879u, 0x3F6D12F7u, 0x7515A235u, 0xA4E7F123u};

inline uint32_t rol(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

}  // namespace

const uint8_t kLengthBits[kRepSymbols] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                          2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
const uint32_t kLengthBase[kRepSymbols] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10,  12,  14,  16,  20,
                                           24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
const uint8_t kDistBits[kDistSymbols] = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                         7,  7,  8,  8,  9,  9,  10, 10, 11, 11, 12, 12, 13, 13, 14, 14,
                                         15, 15, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
const uint32_t kDistBase[kDistSymbols] = {
    0,      1,      2,      3,      4,      6,      8,      12,     16,     24,     32,     48,
    64,     96,     128,    192,    256,    384,    512,    768,    1024,   1536,   2048,   3072,
    4096,   6144,   8192,   12288,  16384,  24576,  32768,  49152,  65536,  98304,  131072, 196608,
    262144, 327680, 393216, 458752, 524288, 589824, 655360, 720896, 786432, 851968, 917504, 983040};
const uint8_t kShortDistBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};
const uint32_t kShortDistBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};

void AudioPredictor::reset() {
    std::memset(chan, 0, sizeof chan);
    channelDelta = 0;
}

unsigned AudioPredictor::predict(int c) {
    Channel& v = chan[c];
    v.count++;
    v.d[3] = v.d[2];
    v.d[2] = v.d[1];
    v.d[1] = v.lastDelta - v.d[0];
    v.d[0] = v.lastDelta;
    int p = 8 * static_cast<int>(v.lastByte) + v.k[0] * v.d[0] + v.k[1] * v.d[1] + v.k[2] * v.d[2] +
            v.k[3] * v.d[3] + v.k[4] * channelDelta;
    return static_cast<unsigned>(p >> 3) & 0xFF;
}

void AudioPredictor::update(int c, unsigned s, unsigned byte) {
    Channel& v = chan[c];
    int x = static_cast<int8_t>(static_cast<uint8_t>(s)) * 8;
    auto absi = [](int a) { return static_cast<unsigned>(a < 0 ? -a : a); };
    v.err[0] += absi(x);
    v.err[1] += absi(x - v.d[0]);
    v.err[2] += absi(x + v.d[0]);
    v.err[3] += absi(x - v.d[1]);
    v.err[4] += absi(x + v.d[1]);
    v.err[5] += absi(x - v.d[2]);
    v.err[6] += absi(x + v.d[2]);
    v.err[7] += absi(x - v.d[3]);
    v.err[8] += absi(x + v.d[3]);
    v.err[9] += absi(x - channelDelta);
    v.err[10] += absi(x + channelDelta);

    v.lastDelta = static_cast<int8_t>(static_cast<uint8_t>(byte - v.lastByte));
    channelDelta = v.lastDelta;
    v.lastByte = byte;

    if ((v.count & 0x1F) == 0) {
        unsigned best = v.err[0];
        int idx = 0;
        for (int i = 1; i < 11; ++i)
            if (v.err[i] < best) {
                best = v.err[i];
                idx = i;
            }
        std::memset(v.err, 0, sizeof v.err);
        if (idx > 0) {
            // Odd indices lower a weight, even ones raise it, within -17..16.
            int& k = v.k[(idx - 1) / 2];
            if (idx & 1) {
                if (k >= -16) --k;
            } else if (k < 16) {
                ++k;
            }
        }
    }
}

void buildCrcTable(uint32_t table[256]) {
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table[i] = c;
    }
}

const uint32_t* crcTable() {
    static const struct Table {
        uint32_t t[256];
        Table() { buildCrcTable(t); }
    } table;
    return table.t;
}

uint32_t crc32Update(const uint32_t* table, uint32_t crc, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

uint32_t crc32Slices(uint32_t crc, const uint8_t* p, size_t n) {
    // Eight bytes a step: t[k][b] is the CRC of byte b followed by k zero bytes.
    static const struct Slices {
        uint32_t t[8][256];
        Slices() {
            buildCrcTable(t[0]);
            for (int k = 1; k < 8; ++k)
                for (int b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
        }
    } s;
    for (; n >= 8; n -= 8, p += 8) {
        uint32_t lo = crc ^ getLe32(p), hi = getLe32(p + 4);
        crc = s.t[7][lo & 0xFF] ^ s.t[6][(lo >> 8) & 0xFF] ^ s.t[5][(lo >> 16) & 0xFF] ^ s.t[4][lo >> 24] ^
              s.t[3][hi & 0xFF] ^ s.t[2][(hi >> 8) & 0xFF] ^ s.t[1][(hi >> 16) & 0xFF] ^ s.t[0][hi >> 24];
    }
    return crc32Update(s.t[0], crc, p, n);
}

uint32_t crc32(const uint8_t* p, size_t n) {
    return ~crc32Slices(0xFFFFFFFFu, p, n);
}

void Cipher20::setup(const uint32_t* crc, const char* password) {
    crc_ = crc;
    std::memcpy(key_, kInitKeys, sizeof key_);
    std::memcpy(table_, kInitSubst, sizeof table_);
    uint8_t pw[256] = {};
    size_t n = password ? std::strlen(password) : 0;
    if (n > 255) n = 255;
    std::memcpy(pw, password ? password : "", n);
    for (unsigned j = 0; j < 256; ++j) {
        for (size_t i = 0; i < n; i += 2) {
            unsigned n2 = crc[(pw[i + 1] + j) & 0xFF] & 0xFF;
            unsigned n1 = crc[(pw[i] - j) & 0xFF] & 0xFF;
            for (unsigned k = 1; n1 != n2; ++k) {
                uint8_t& a = table_[n1];
                uint8_t& b = table_[(n1 + i + k) & 0xFF];
                uint8_t t = a;
                a = b;
                b = t;
                n1 = (n1 + 1) & 0xFF;
            }
        }
    }
    for (size_t i = 0; i < n; i += 16) encryptBlock(pw + i);
    volatile uint8_t* v = pw;
    for (size_t i = 0; i < sizeof pw; ++i) v[i] = 0;
}

inline uint32_t Cipher20::sub(uint32_t t) const {
    return table_[t & 0xFF] | table_[(t >> 8) & 0xFF] << 8 | table_[(t >> 16) & 0xFF] << 16 |
           static_cast<uint32_t>(table_[t >> 24]) << 24;
}

void Cipher20::updateKeys(const uint8_t b[16]) {
    for (int g = 0; g < 16; g += 4)
        for (int j = 0; j < 4; ++j) key_[j] ^= crc_[b[g + j]];
}

void Cipher20::encryptBlock(uint8_t block[16]) {
    uint32_t a = getLe32(block) ^ key_[0], b = getLe32(block + 4) ^ key_[1];
    uint32_t c = getLe32(block + 8) ^ key_[2], d = getLe32(block + 12) ^ key_[3];
    for (int i = 0; i < 32; ++i) {
        uint32_t k = key_[i & 3];
        uint32_t ta = a ^ sub((c + rol(d, 11)) ^ k);
        uint32_t tb = b ^ sub((d ^ rol(c, 17)) + k);
        a = c;
        b = d;
        c = ta;
        d = tb;
    }
    putLe32(block, c ^ key_[0]);
    putLe32(block + 4, d ^ key_[1]);
    putLe32(block + 8, a ^ key_[2]);
    putLe32(block + 12, b ^ key_[3]);
    updateKeys(block);
}

void Cipher20::decryptBlock(uint8_t block[16]) {
    uint8_t in[16];
    std::memcpy(in, block, 16);
    uint32_t c = getLe32(block) ^ key_[0], d = getLe32(block + 4) ^ key_[1];
    uint32_t a = getLe32(block + 8) ^ key_[2], b = getLe32(block + 12) ^ key_[3];
    for (int i = 31; i >= 0; --i) {
        uint32_t k = key_[i & 3];
        uint32_t ta = c, tb = d;
        c = a;
        d = b;
        a = ta ^ sub((c + rol(d, 11)) ^ k);
        b = tb ^ sub((d ^ rol(c, 17)) + k);
    }
    putLe32(block, a ^ key_[0]);
    putLe32(block + 4, b ^ key_[1]);
    putLe32(block + 8, c ^ key_[2]);
    putLe32(block + 12, d ^ key_[3]);
    updateKeys(in);
}

void Cipher20::decrypt(uint8_t* p, size_t n) {
    for (size_t i = 0; i + 16 <= n; i += 16) decryptBlock(p + i);
}

void Cipher20::encrypt(uint8_t* p, size_t n) {
    for (size_t i = 0; i + 16 <= n; i += 16) encryptBlock(p + i);
}

void Cipher20::wipe() {
    volatile uint8_t* t = table_;
    for (size_t i = 0; i < sizeof table_; ++i) t[i] = 0;
    volatile uint32_t* k = key_;
    for (int i = 0; i < 4; ++i) k[i] = 0;
}

}  // namespace rar
