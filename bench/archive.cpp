// Archive throughput: extraction MB/s (of unpacked output) of our reader and of unar on the same
// archives, side by side, and our writer's compression ratio and speed.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "authoring/rar_writer.h"
#include "data/rar.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// CPU seconds of this process, and of its finished children (unar), which the machine's load
// does not inflate as it does wall time.
double ownCpu() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}
double childCpu() {
    rusage u;
    getrusage(RUSAGE_CHILDREN, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

struct Speed {
    double wall = 0, cpu = 0;  // MB/s
};

Bytes makeText(size_t n) {
    static const char* words[] = {"scene",  "camera", "light", "blur",  "glow", "the",   "of",
                                  "and",    "frame",  "mesh",  "video", "time", "track", "music",
                                  "spline", "\n",     ", ",    ". ",    "data", "grid"};
    std::mt19937 rng(1);
    Bytes out;
    while (out.size() < n) {
        const char* w = words[rng() % 20];
        while (*w) out.push_back(static_cast<uint8_t>(*w++));
        out.push_back(' ');
    }
    out.resize(n);
    return out;
}

Bytes makeBinary(size_t n) {
    std::mt19937 rng(2);
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) {
        float f = std::sin(static_cast<float>(i / 12) * 0.01f) * 100.0f;
        uint8_t b[4];
        std::memcpy(b, &f, 4);
        out[i] = (i % 16 < 12) ? b[i % 4] : static_cast<uint8_t>(rng() & 3);
    }
    return out;
}

Bytes makePcm(size_t n) {
    std::mt19937 rng(3);
    Bytes out(n & ~size_t(3));
    for (size_t i = 0; i + 4 <= out.size(); i += 4) {
        double t = static_cast<double>(i / 4) / 44100.0;
        for (int c = 0; c < 2; ++c) {
            int16_t s = static_cast<int16_t>(9000 * std::sin(2 * M_PI * (220 + 3 * c) * t) +
                                             3000 * std::sin(2 * M_PI * 331 * t) +
                                             static_cast<int>(rng() % 200) - 100);
            out[i + 2 * c] = static_cast<uint8_t>(s & 0xFF);
            out[i + 2 * c + 1] = static_cast<uint8_t>((s >> 8) & 0xFF);
        }
    }
    return out;
}

Bytes makeNoise(size_t n) {
    std::mt19937 rng(4);
    Bytes out(n);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

bool writeFile(const fs::path& p, const Bytes& b) {
    FILE* f = std::fopen(p.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    return (std::fclose(f) == 0) && ok;
}

// Our reader: repeated until half a second has passed. Zero when extraction fails.
Speed ourSpeed(const fs::path& archive, const std::string& member, const char* password) {
    size_t total = 0;
    int runs = 0;
    auto start = Clock::now();
    double cpu0 = ownCpu(), elapsed = 0;
    do {
        unsigned char* data = nullptr;
        uint32_t size = 0;
        if (!rar_get(&data, &size, member.c_str(), archive.c_str(), password)) return {};
        std::free(data);
        total += size;
        ++runs;
        elapsed = seconds(start, Clock::now());
    } while (elapsed < 0.5 || runs < 2);
    return {total / elapsed / 1e6, total / (ownCpu() - cpu0) / 1e6};
}

// unar on the same archive, best of three runs (process start included). Zero when unavailable.
Speed unarSpeed(const fs::path& archive, const char* password, size_t bytes, const fs::path& scratch) {
    Speed best;
    for (int i = 0; i < 3; ++i) {
        fs::remove_all(scratch / "unar");
        std::string cmd = "unar -q -f -D -o '" + (scratch / "unar").string() + "'";
        if (password) cmd += std::string(" -p '") + password + "'";
        cmd += " '" + archive.string() + "' >/dev/null 2>&1";
        auto start = Clock::now();
        double cpu0 = childCpu();
        if (std::system(cmd.c_str()) != 0) return {};
        double wall = seconds(start, Clock::now()), cpu = childCpu() - cpu0;
        best.wall = std::max(best.wall, bytes / wall / 1e6);
        if (cpu > 0) best.cpu = std::max(best.cpu, bytes / cpu / 1e6);
    }
    return best;
}

struct Input {
    const char* label;
    Bytes data;
    bool audio;
};

}  // namespace

int main() {
    const fs::path scratch = fs::temp_directory_path() / ("qv-bench-archive-" + std::to_string(getpid()));
    fs::create_directories(scratch);
    const bool haveUnar = std::system("command -v unar >/dev/null 2>&1") == 0;
    const size_t n = 8 << 20;

    std::vector<Input> inputs;
    inputs.push_back({"text", makeText(n), false});
    inputs.push_back({"binary", makeBinary(n), false});
    inputs.push_back({"pcm16", makePcm(n), true});
    inputs.push_back({"noise", makeNoise(n / 4), false});

    std::printf("writer (8 MiB inputs, noise 2 MiB)\n");
    std::printf("  %-8s %-20s %10s %8s %9s %9s\n", "input", "mode", "packed", "ratio", "MB/s", "cpu-MB/s");
    struct Made {
        std::string label;
        fs::path path;
        const char* password;
        size_t bytes;
    };
    std::vector<Made> made;
    for (const Input& in : inputs) {
        struct Mode {
            const char* name;
            bool store, audio;
            const char* password;
        } modes[] = {{"packed", false, false, nullptr},
                     {"packed+encrypted", false, false, "Rb7qT"},
                     {"multimedia", false, true, nullptr},
                     {"stored", true, false, nullptr}};
        for (const Mode& m : modes) {
            if (m.audio && !in.audio) continue;
            if (m.store && std::string(in.label) != "text") continue;
            rar::ArchiveMember member;
            member.name = "member.bin";
            member.data = in.data;
            rar::ArchiveOptions o;
            o.store = m.store;
            o.audio = m.audio;
            if (m.password) o.password = m.password;
            auto start = Clock::now();
            double cpu0 = ownCpu();
            Bytes archive = rar::buildArchive({member}, o);
            double s = seconds(start, Clock::now()), cpu = ownCpu() - cpu0;
            std::printf("  %-8s %-20s %10zu %8.3f %9.1f %9.1f\n", in.label, m.name, archive.size(),
                        static_cast<double>(archive.size()) / in.data.size(), in.data.size() / s / 1e6,
                        in.data.size() / cpu / 1e6);
            fs::path p = scratch / (std::string(in.label) + "-" + m.name + ".rar");
            if (writeFile(p, archive))
                made.push_back({std::string(in.label) + " " + m.name, p, m.password, in.data.size()});
        }
    }

    std::printf(
        "\nextraction, MB/s of unpacked output by wall time and by CPU time (unar: best of 3 runs,\n"
        "process start included)\n");
    std::printf("  %-50s %7s %9s %9s %9s %9s\n", "archive", "MB", "ours", "unar", "ours-cpu", "unar-cpu");
    // unarBytes: everything unar unpacks from the archive (it extracts every member).
    auto row = [&](const std::string& label, const fs::path& path, const std::string& member, const char* pw,
                   size_t bytes, size_t unarBytes) {
        Speed ours = ourSpeed(path, member, pw);
        Speed theirs = haveUnar ? unarSpeed(path, pw, unarBytes, scratch) : Speed{};
        char wall[32] = "n/a", cpu[32] = "n/a";
        if (theirs.wall > 0) std::snprintf(wall, sizeof wall, "%.1f", theirs.wall);
        if (theirs.cpu > 0) std::snprintf(cpu, sizeof cpu, "%.1f", theirs.cpu);
        std::printf("  %-50s %7.2f %9.1f %9s %9.1f %9s\n", label.c_str(), bytes / 1e6, ours.wall, wall,
                    ours.cpu, cpu);
    };
    for (const Made& m : made) row(m.label, m.path, "member.bin", m.password, m.bytes, m.bytes);

    // Archives made by the original archiver, where the shared test data is present.
    const fs::path real = fs::path(QV_SHARED_DIR) / "testdata" / "rar20";
    struct Real {
        const char* path;
        const char* member;
        size_t bytes, total;
    } reals[] = {{"sharpcompress/Rar2.rar", "exe\\test.exe", 45056, 100926},
                 {"junrar/BoatModernEnglish-regular-unpack20.rar", "BoatModernEnglish.wav", 56464, 56571},
                 {"junrar/BoatModernEnglish-audio-text-unpack20.rar", "BoatModernEnglish.wav", 56464, 56571}};
    if (fs::is_directory(real))
        for (const Real& r : reals) row(r.path, real / r.path, r.member, nullptr, r.bytes, r.total);
    else
        std::printf("  (shared test data absent: %s)\n", real.c_str());
    if (!haveUnar) std::printf("  (unar not installed)\n");

    std::error_code ec;
    fs::remove_all(scratch, ec);
    return 0;
}
