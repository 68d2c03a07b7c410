#include "base/byte_reader.h"

#include <cstring>

bool checkedMul(size_t a, size_t b, size_t* out) {
    if (a != 0 && b > SIZE_MAX / a) return false;
    *out = a * b;
    return true;
}

bool ByteReader::fits(uint64_t count, size_t itemSize) const {
    if (itemSize == 0) return true;
    return count <= left() / itemSize;
}

bool ByteReader::take(size_t n, const uint8_t** p) {
    if (n > left()) {
        ok_ = false;
        pos_ = size_;
        return false;
    }
    *p = data_ + pos_;
    pos_ += n;
    return true;
}

uint8_t ByteReader::u8() {
    const uint8_t* p;
    return take(1, &p) ? p[0] : 0;
}

uint16_t ByteReader::u16() {
    const uint8_t* p;
    return take(2, &p) ? getLe16(p) : 0;
}

uint32_t ByteReader::u32() {
    const uint8_t* p;
    return take(4, &p) ? getLe32(p) : 0;
}

float ByteReader::f32() {
    uint32_t bits = u32();
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

bool ByteReader::bytes(void* out, size_t n) {
    const uint8_t* p;
    if (!take(n, &p)) {
        std::memset(out, 0, n);
        return false;
    }
    if (n) std::memcpy(out, p, n);
    return true;
}

bool ByteReader::skip(size_t n) {
    const uint8_t* p;
    return take(n, &p);
}

bool ByteReader::magic(const void* m, size_t n) {
    if (n > left() || std::memcmp(data_ + pos_, m, n) != 0) return false;
    pos_ += n;
    return true;
}

bool ByteReader::cstring(std::string& out) {
    const void* end = left() ? std::memchr(data_ + pos_, 0, left()) : nullptr;
    if (!end) {
        out.clear();
        ok_ = false;
        pos_ = size_;
        return false;
    }
    size_t n = static_cast<size_t>(static_cast<const uint8_t*>(end) - (data_ + pos_));
    out.assign(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n + 1;
    return true;
}

void ByteWriter::u16(uint16_t v) {
    uint8_t b[2];
    putLe16(b, v);
    out_.insert(out_.end(), b, b + 2);
}

void ByteWriter::u32(uint32_t v) {
    uint8_t b[4];
    putLe32(b, v);
    out_.insert(out_.end(), b, b + 4);
}

void ByteWriter::f32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    u32(bits);
}

void ByteWriter::bytes(const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    out_.insert(out_.end(), b, b + n);
}
