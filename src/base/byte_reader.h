#pragma once
// Little-endian bytes: the one reader every binary parser goes through and the matching writer.
// The reader cannot overrun: a read past the end delivers zeros, moves to the end and sets a sticky
// error, so a parser may read a whole record and check once. Sizes taken from a file are checked with
// fits() (overflow-safe) before anything is allocated from them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline uint16_t getLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t getLe32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline void putLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// a * b into out; false (out untouched) when the product does not fit in size_t.
bool checkedMul(size_t a, size_t b, size_t* out);

class ByteReader {
public:
    ByteReader(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}

    size_t size() const { return size_; }
    size_t pos() const { return pos_; }
    size_t left() const { return size_ - pos_; }
    bool ok() const { return ok_; }  // no read has run past the end
    const uint8_t* here() const { return data_ + pos_; }

    // Whether count items of itemSize bytes each are still there (no overflow, whatever the count).
    bool fits(uint64_t count, size_t itemSize) const;

    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    float f32();  // the IEEE bits of u32()
    // Copies n bytes; past the end out is zero-filled and nothing is consumed beyond the end.
    bool bytes(void* out, size_t n);
    bool skip(size_t n);
    // Consumes n bytes equal to m; on a mismatch nothing is consumed (and the error is not set).
    bool magic(const void* m, size_t n);
    // A zero-terminated string; without a terminator in the bytes left, out is cleared and the error set.
    bool cstring(std::string& out);

private:
    bool take(size_t n, const uint8_t** p);  // false and the error when fewer than n bytes are left
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// Appends little-endian fields to a byte vector.
class ByteWriter {
public:
    explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}
    void u8(uint8_t v) { out_.push_back(v); }
    void u16(uint16_t v);
    void u32(uint32_t v);
    void f32(float v);
    void bytes(const void* p, size_t n);

private:
    std::vector<uint8_t>& out_;
};
