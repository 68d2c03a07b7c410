#pragma once
// Helpers for the data tests: the kinds of data an archive holds (files: test_files.h).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "authoring/rar_writer.h"
#include "test_files.h"

namespace qvtest {

// Test inputs of the kinds an archive holds: text, structured binary, noise and 16-bit PCM.
inline std::vector<uint8_t> makeText(size_t n, uint32_t seed) {
    static const char* words[] = {"scene",  "camera", "light", "blur", "glow",  "the",   "of",     "and",
                                  "frame",  "mesh",   "video", "time", "track", "music", "spline", "quad",
                                  "target", "grid",   "fade",  "beat", "\n",    ", ",    ". ",     "data"};
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    while (out.size() < n) {
        const char* w = words[rng() % (sizeof words / sizeof *words)];
        out.insert(out.end(), w, w + std::strlen(w));
        out.push_back(' ');
    }
    out.resize(n);
    return out;
}

inline std::vector<uint8_t> makeBinary(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(n);
    // Records of little-endian floats and indices with repeats near and far.
    for (size_t i = 0; i < n; ++i) {
        if (i >= 4096 && rng() % 8 == 0) {
            size_t back = 1 + rng() % (i < 900000 ? i : 900000);
            size_t len = 3 + rng() % 40;
            for (size_t k = 0; k < len && i < n; ++k, ++i) out[i] = out[i - back];
            --i;
        } else {
            out[i] = static_cast<uint8_t>((i % 16 < 8) ? (i / 16) & 0xFF : rng() & 0x0F);
        }
    }
    return out;
}

inline std::vector<uint8_t> makeNoise(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(n);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

// Interleaved 16-bit stereo: two detuned tones with a little noise.
inline std::vector<uint8_t> makePcm(size_t frames, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(frames * 4);
    for (size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < 2; ++c) {
            double t = static_cast<double>(i) / 44100.0;
            double v = 9000 * std::sin(2 * M_PI * (220.0 + 3 * c) * t) +
                       4000 * std::sin(2 * M_PI * 331.0 * t) + static_cast<int>(rng() % 64) - 32;
            int16_t s = static_cast<int16_t>(v);
            out[i * 4 + c * 2] = static_cast<uint8_t>(s & 0xFF);
            out[i * 4 + c * 2 + 1] = static_cast<uint8_t>((s >> 8) & 0xFF);
        }
    }
    return out;
}

// Bitwise CRC-32, independent of the table-driven one under test.
inline uint32_t referenceCrc(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

// A file to pack: its member name and bytes.
struct Sample {
    std::string name;
    std::vector<uint8_t> data;
};

inline std::vector<uint8_t> archiveOf(const std::vector<Sample>& samples,
                                      const rar::ArchiveOptions& options) {
    std::vector<rar::ArchiveMember> members;
    for (const Sample& s : samples) {
        rar::ArchiveMember m;
        m.name = s.name;
        m.data = s.data;
        members.push_back(m);
    }
    return rar::buildArchive(members, options);
}

}  // namespace qvtest
