#pragma once
// Test sound: 16-bit WAV files written here, encoded to MP3 by the lame program in a temporary
// directory. Tests that need MP3 skip when lame is missing.
#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "scratch_dir.h"

namespace test_sound {

// Frequency of the centre of FFT bin k at a sample rate.
inline double bin_hz(int k, int rate) {
    return k * static_cast<double>(rate) / 512.0;
}

inline std::vector<int16_t> sine(int rate, int channels, uint64_t frames, double hz, double amplitude) {
    std::vector<int16_t> pcm(frames * static_cast<uint64_t>(channels));
    for (uint64_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<int16_t>(
            std::lround(amplitude * 32767.0 * std::sin(6.283185307179586 * hz * (i / channels) / rate)));
    return pcm;
}

inline void write_file(const std::string& path, const void* data, size_t size) {
    std::ofstream(path, std::ios::binary)
        .write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline std::vector<unsigned char> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool write_wav(const std::string& path, int rate, int channels, const std::vector<int16_t>& pcm) {
    std::vector<unsigned char> b;
    auto put = [&b](uint32_t v, int n) {
        for (int i = 0; i < n; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
    };
    auto tag = [&b](const char* t) { b.insert(b.end(), t, t + 4); };
    const auto data_bytes = static_cast<uint32_t>(pcm.size() * 2);
    tag("RIFF"), put(36 + data_bytes, 4), tag("WAVE"), tag("fmt "), put(16, 4), put(1, 2), put(channels, 2);
    put(rate, 4), put(rate * channels * 2, 4), put(channels * 2, 2), put(16, 2), tag("data"),
        put(data_bytes, 4);
    for (int16_t s : pcm) put(static_cast<uint16_t>(s), 2);
    write_file(path, b.data(), b.size());
    return read_file(path).size() == b.size();
}

inline bool have_lame() {
    return system("command -v lame >/dev/null 2>&1") == 0;
}

// A sine written as WAV and encoded at 192 kbit/s to `mp3`; false when that fails.
inline bool make_sine_mp3(const std::string& mp3, int rate, int channels, double seconds, double hz,
                          double amplitude) {
    const auto frames = static_cast<uint64_t>(seconds * rate);
    return write_wav(mp3 + ".wav", rate, channels, sine(rate, channels, frames, hz, amplitude)) &&
           system(("lame --quiet -b 192 '" + mp3 + ".wav' '" + mp3 + "'").c_str()) == 0;
}

// A fresh directory under TMPDIR, removed with its contents at the end.
using TempDir = qvtest::ScratchDir;

}  // namespace test_sound
