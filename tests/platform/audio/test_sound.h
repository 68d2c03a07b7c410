#pragma once
// Test sound: 16-bit WAV files written here and encoded to MP3 by the lame program in a temporary
// directory. Tests that need MP3 skip when lame is not installed.
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace test_sound {

constexpr double kPi = 3.14159265358979323846;

// Frequency of the centre of FFT bin k at a sample rate.
inline double bin_hz(int k, int rate) {
    return k * static_cast<double>(rate) / 512.0;
}

inline std::vector<int16_t> sine(int rate, int channels, uint64_t frames, double hz, double amplitude) {
    std::vector<int16_t> pcm(frames * static_cast<uint64_t>(channels));
    for (uint64_t i = 0; i < frames; ++i) {
        const auto v =
            static_cast<int16_t>(std::lround(amplitude * 32767.0 * std::sin(2.0 * kPi * hz * i / rate)));
        for (int c = 0; c < channels; ++c) pcm[i * channels + c] = v;
    }
    return pcm;
}

inline bool write_wav(const std::string& path, int rate, int channels, const std::vector<int16_t>& pcm) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    auto u32 = [f](uint32_t v) {
        const unsigned char b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        fwrite(b, 1, 4, f);
    };
    auto u16 = [f](uint16_t v) {
        const unsigned char b[2] = {uint8_t(v), uint8_t(v >> 8)};
        fwrite(b, 1, 2, f);
    };
    const uint32_t data_bytes = static_cast<uint32_t>(pcm.size() * 2);
    fwrite("RIFF", 1, 4, f);
    u32(36 + data_bytes);
    fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(1);
    u16(static_cast<uint16_t>(channels));
    u32(static_cast<uint32_t>(rate));
    u32(static_cast<uint32_t>(rate * channels * 2));
    u16(static_cast<uint16_t>(channels * 2));
    u16(16);
    fwrite("data", 1, 4, f);
    u32(data_bytes);
    for (int16_t s : pcm) u16(static_cast<uint16_t>(s));
    return fclose(f) == 0;
}

inline bool have_lame() {
    return system("command -v lame >/dev/null 2>&1") == 0;
}

// Encodes the WAV at `wav` to `mp3` at 192 kbit/s; false when lame fails.
inline bool encode_mp3(const std::string& wav, const std::string& mp3) {
    const std::string cmd = "lame --quiet -b 192 '" + wav + "' '" + mp3 + "'";
    return system(cmd.c_str()) == 0;
}

inline std::vector<unsigned char> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& path, const void* data, size_t size) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return;
    fwrite(data, 1, size, f);
    fclose(f);
}

// A fresh directory under TMPDIR, removed with everything in it when the object goes.
struct TempDir {
    std::string path;
    TempDir() {
        const char* base = getenv("TMPDIR");
        std::string templ = std::string(base && *base ? base : "/tmp") + "/qv_audio_XXXXXX";
        std::vector<char> buf(templ.begin(), templ.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data())) path = buf.data();
    }
    ~TempDir() {
        if (path.empty()) return;
        const int rc = system(("rm -rf '" + path + "'").c_str());
        (void)rc;
    }
    std::string file(const std::string& name) const { return path + "/" + name; }
};

// Writes a sine as WAV and encodes it to `mp3`; false when lame fails.
inline bool make_sine_mp3(const std::string& mp3, int rate, int channels, double seconds, double hz,
                          double amplitude) {
    const std::string wav = mp3 + ".wav";
    const auto frames = static_cast<uint64_t>(seconds * rate);
    return write_wav(wav, rate, channels, sine(rate, channels, frames, hz, amplitude)) &&
           encode_mp3(wav, mp3);
}

}  // namespace test_sound
