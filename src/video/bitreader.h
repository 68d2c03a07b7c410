// Bounded big-endian bit reader with a sticky error: reading past the end yields zero bits and sets the
// error flag, which the caller turns into a frame error. It never touches memory outside its buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vdec {

class BitReader {
public:
    BitReader() = default;
    BitReader(const uint8_t* data, size_t size) { reset(data, size); }

    void reset(const uint8_t* data, size_t size) {
        data_ = data;
        size_ = size;
        bits_ = uint64_t(size) * 8;
        pos_ = 0;
        error_ = false;
    }

    // The next n bits (0 <= n <= 32) without consuming them; zeros past the end.
    uint32_t peek(int n) const { return n ? uint32_t(window() >> (64 - n)) : 0; }

    uint32_t read(int n) {
        uint32_t v = peek(n);
        skip(n);
        return v;
    }
    bool readBit() { return read(1) != 0; }

    void skip(int n) {
        pos_ += uint64_t(n);
        if (pos_ > bits_) error_ = true;
    }

    // The top 32 bits at the reading position (zeros past the end).
    uint32_t peek32() const { return uint32_t(window() >> 32); }

    bool error() const { return error_; }
    void setError() { error_ = true; }
    uint64_t position() const { return pos_; }
    void seek(uint64_t bitPos) {
        pos_ = bitPos;
        if (pos_ > bits_) error_ = true;
    }
    uint64_t bitsLeft() const { return pos_ >= bits_ ? 0 : bits_ - pos_; }
    size_t sizeBytes() const { return size_; }
    const uint8_t* data() const { return data_; }
    bool byteAligned() const { return (pos_ & 7) == 0; }
    // The 64 bits from bit position pos, left-aligned (zeros past the end); at least the top 57 are the
    // stream's. For loops that keep their position in a register and seek() back when done.
    uint64_t windowAt(uint64_t pos) const {
        uint64_t byte = pos >> 3;
        uint64_t w;
        if (byte + 8 <= size_) {
            const uint8_t* p = data_ + byte;
            w = (uint64_t(p[0]) << 56) | (uint64_t(p[1]) << 48) | (uint64_t(p[2]) << 40) |
                (uint64_t(p[3]) << 32) | (uint64_t(p[4]) << 24) | (uint64_t(p[5]) << 16) |
                (uint64_t(p[6]) << 8) | uint64_t(p[7]);
        } else {
            w = 0;
            for (int i = 0; i < 8; ++i) {
                uint64_t b = byte + uint64_t(i);
                w = (w << 8) | (b < size_ ? data_[b] : 0u);
            }
        }
        return w << (pos & 7);
    }
    int bitsToAlign() const { return int((8 - (pos_ & 7)) & 7); }

private:
    uint64_t window() const { return windowAt(pos_); }

    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    uint64_t bits_ = 0;
    uint64_t pos_ = 0;
    bool error_ = false;
};

}  // namespace vdec
