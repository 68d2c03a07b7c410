// vidgen: the production's video clip, rendered procedurally as raw RGB frames on standard output.
//
//   vidgen WIDTH HEIGHT FPS FRAMES | ffmpeg -f rawvideo -pix_fmt rgb24 -s WxH -r FPS -i - ...
//
// The clip loops seamlessly: every motion completes whole turns over the clip. It is cut into four equal
// segments (ember tunnel, plasma, interference rings, kaleidoscope), so the once-a-second flashes, which
// sample the clip at twice the production's pace, show a different picture each time.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Rgb {
    double r, g, b;
};

Rgb mix(Rgb a, Rgb b, double t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

// Warm palette (black, ember, orange, gold, white) indexed 0..1, and a cold one for contrast.
Rgb fire(double x) {
    x = x - std::floor(x);
    const Rgb stops[] = {{0.02, 0.0, 0.02}, {0.45, 0.04, 0.02}, {0.95, 0.35, 0.05}, {1.0, 0.78, 0.3}, {1.0, 0.97, 0.85},
                         {0.02, 0.0, 0.02}};
    double f = x * 5.0;
    int i = std::min(4, int(f));
    return mix(stops[i], stops[i + 1], f - i);
}

Rgb ice(double x) {
    x = x - std::floor(x);
    const Rgb stops[] = {{0.0, 0.0, 0.05}, {0.1, 0.05, 0.4}, {0.2, 0.45, 0.95}, {0.85, 0.95, 1.0}, {0.1, 0.05, 0.4},
                         {0.0, 0.0, 0.05}};
    double f = x * 5.0;
    int i = std::min(4, int(f));
    return mix(stops[i], stops[i + 1], f - i);
}

// p: phase through the whole clip (0..1); x, y in -1..1.
Rgb tunnel(double x, double y, double p) {
    double r = std::sqrt(x * x + y * y) + 1e-3;
    double a = std::atan2(y, x);
    double depth = 0.35 / r + 4.0 * p;  // four whole rings pass per clip
    double twist = a / kPi * 3.0 + 2.0 * std::sin(2 * kPi * p) + 0.5 / r;
    double checker = (std::sin(2 * kPi * depth * 2) * std::sin(kPi * twist * 2) > 0) ? 1.0 : 0.45;
    double fade = std::min(1.0, r * 1.6);
    Rgb c = fire(0.15 + 0.55 * checker * fade + 0.1 * std::sin(2 * kPi * (depth + p)));
    double k = fade * (0.6 + 0.4 * checker);
    return {c.r * k, c.g * k, c.b * k};
}

Rgb plasma(double x, double y, double p) {
    double t = 2 * kPi * p;
    double v = std::sin(x * 5.0 + t) + std::sin(y * 4.0 - 2 * t) + std::sin((x + y) * 3.0 + 3 * t) +
               std::sin(std::sqrt(x * x * 9 + y * y * 9) * 2.5 - 4 * t);
    Rgb a = fire(0.5 + v * 0.12 + p);
    Rgb b = ice(0.4 + v * 0.1 - p);
    double m = 0.5 + 0.5 * std::sin(v * 1.5 + t);
    return mix(a, b, m * 0.35);
}

Rgb rings(double x, double y, double p) {
    double t = 2 * kPi * p;
    double cx1 = 0.4 * std::cos(t), cy1 = 0.4 * std::sin(2 * t);
    double cx2 = -0.45 * std::cos(t + 1.3), cy2 = 0.35 * std::sin(2 * t + 0.7);
    double d1 = std::hypot(x - cx1, y - cy1), d2 = std::hypot(x - cx2, y - cy2);
    double w = std::sin(d1 * 28.0 - 4 * t) * std::sin(d2 * 28.0 + 4 * t);
    double s = w > 0 ? 0.85 : 0.25;
    return ice(s * 0.75 + 0.1 * std::sin(d1 * 3 + t));
}

Rgb kaleido(double x, double y, double p) {
    double t = 2 * kPi * p;
    double r = std::sqrt(x * x + y * y);
    double a = std::atan2(y, x) + t;  // one full turn per clip
    double seg = kPi / 4.0;
    a = std::fabs(std::fmod(a + 100 * seg, 2 * seg) - seg);
    double u = r * std::cos(a), v = r * std::sin(a);
    double f = std::sin(u * 9.0 - 3 * t) + std::cos(v * 13.0 + 2 * t) + std::sin(r * 6.0 - 5 * t);
    double star = std::exp(-r * 2.5) * 1.2;
    Rgb c = fire(0.35 + 0.18 * f);
    return {std::min(1.0, c.r + star), std::min(1.0, c.g + star * 0.8), std::min(1.0, c.b + star * 0.5)};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: vidgen WIDTH HEIGHT FPS FRAMES\n");
        return 2;
    }
    const int w = std::atoi(argv[1]), h = std::atoi(argv[2]), frames = std::atoi(argv[4]);
    if (w <= 0 || h <= 0 || frames <= 0) return 2;
    std::vector<unsigned char> row(size_t(w) * 3);
    const int segments = 4;
    for (int f = 0; f < frames; ++f) {
        double p = double(f) / frames;
        // Segments start an eighth of the clip in, so that the flashes (whole production seconds, that is
        // every quarter of the clip) land in the middle of a segment rather than on a cut.
        int seg = ((f + frames / (2 * segments)) % frames) * segments / frames;
        for (int yy = 0; yy < h; ++yy) {
            for (int xx = 0; xx < w; ++xx) {
                // 2x2 supersampling keeps the edges soft, which the encoder likes
                Rgb acc{0, 0, 0};
                for (int sy = 0; sy < 2; ++sy)
                    for (int sx = 0; sx < 2; ++sx) {
                        double x = ((xx + 0.25 + 0.5 * sx) / w) * 2.0 - 1.0;
                        double y = 1.0 - ((yy + 0.25 + 0.5 * sy) / h) * 2.0;
                        Rgb c = seg == 0 ? tunnel(x, y, p)
                                         : seg == 1 ? plasma(x, y, p) : seg == 2 ? rings(x, y, p) : kaleido(x, y, p);
                        acc.r += c.r;
                        acc.g += c.g;
                        acc.b += c.b;
                    }
                // darker and more contrasted than the raw palettes: the production adds the clip over
                // an already lit picture
                auto tone = [](double v) { return std::pow(std::clamp(v * 0.25, 0.0, 1.0), 1.6) * 0.8; };
                unsigned char* px = &row[size_t(xx) * 3];
                px[0] = (unsigned char)std::lround(tone(acc.r) * 255.0);
                px[1] = (unsigned char)std::lround(tone(acc.g) * 255.0);
                px[2] = (unsigned char)std::lround(tone(acc.b) * 255.0);
            }
            if (std::fwrite(row.data(), 1, row.size(), stdout) != row.size()) return 1;
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
