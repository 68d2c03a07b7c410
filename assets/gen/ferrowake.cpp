// ferrowake: the production's soundtrack, synthesised from scratch.
//
//   ferrowake OUT.wav            render the piece (34 s, 44.1 kHz, 16-bit stereo) and print its spectrum figures
//   ferrowake --analyze IN.wav   print the spectrum figures of an existing 16-bit stereo WAV (e.g. the decoded mp3)
//
// 120 beats per minute in D minor, one bar every two seconds. Accents (boom, crash and a metallic bell) land on
// 0, 1, 5, 6, 10, 14, 16, 24, 25, 28 and 30 s, where the picture cuts. The figures are the magnitudes the
// production reads each frame: a 512-sample FFT with a Hann window, scaled so that a full-scale sine centred on
// a bin reads 0.5, at bins 25 (field of view), 51 and 102 (the warps).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr double kLength = 34.0;
constexpr double kPi = 3.14159265358979323846;
constexpr double kBeat = 0.5;  // seconds per beat
constexpr double kBar = 2.0;
const double kAccents[] = {0, 1, 5, 6, 10, 14, 16, 24, 25, 28, 30};

double binFreq(int k) { return k * double(kRate) / 512.0; }
double mtof(double m) { return 440.0 * std::pow(2.0, (m - 69.0) / 12.0); }

struct Rng {
    uint32_t s;
    explicit Rng(uint32_t seed) : s(seed) {}
    double next() {
        s = s * 1664525u + 1013904223u;
        return (s >> 8) / 16777216.0;
    }
    double bip() { return next() * 2.0 - 1.0; }
};

// Topology-preserving state-variable filter (stable up to Nyquist).
struct Svf {
    double ic1 = 0, ic2 = 0, a1 = 0, a2 = 0, a3 = 0, k = 1;
    void set(double fc, double q) {
        double g = std::tan(kPi * std::min(fc, 0.49 * kRate) / kRate);
        k = 1.0 / q;
        a1 = 1.0 / (1.0 + g * (g + k));
        a2 = g * a1;
        a3 = g * a2;
    }
    // returns low, band, high through references
    void run(double v0, double& low, double& band, double& high) {
        double v3 = v0 - ic2;
        double v1 = a1 * ic1 + a2 * v3;
        double v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2 * v1 - ic1;
        ic2 = 2 * v2 - ic2;
        low = v2;
        band = v1;
        high = v0 - k * v1 - v2;
    }
};

struct Bus {
    std::vector<double> l, r;
    Bus() : l(size_t(kLength * kRate), 0.0), r(size_t(kLength * kRate), 0.0) {}
    size_t n() const { return l.size(); }
    void add(long i, double v, double pan) {  // pan -1 left .. +1 right, constant power
        if (i < 0 || size_t(i) >= l.size()) return;
        double a = (pan + 1.0) * kPi / 4.0;
        l[i] += v * std::cos(a);
        r[i] += v * std::sin(a);
    }
};

Bus dry, wet, echo;  // wet goes through the reverb, echo through the ping-pong delay

long at(double t) { return long(std::lround(t * kRate)); }

// ---------------------------------------------------------------- instruments

void kick(double t0, double gain, double decay) {
    double phase = 0;
    long n = long(decay * 4 * kRate);
    for (long i = 0; i < n; ++i) {
        double t = double(i) / kRate;
        double f = 42.0 + 120.0 * std::exp(-t / 0.035);
        phase += 2 * kPi * f / kRate;
        double env = std::exp(-t / decay) * std::min(1.0, t / 0.002);
        dry.add(at(t0) + i, gain * std::sin(phase) * env, 0.0);
    }
}

void boom(double t0, double gain) {
    double phase = 0;
    long n = long(2.5 * kRate);
    for (long i = 0; i < n; ++i) {
        double t = double(i) / kRate;
        double f = 34.0 + 60.0 * std::exp(-t / 0.25);
        phase += 2 * kPi * f / kRate;
        double env = std::exp(-t / 0.7) * std::min(1.0, t / 0.004);
        double v = gain * std::tanh(1.6 * std::sin(phase)) * env;
        dry.add(at(t0) + i, v, 0.0);
    }
}

// Noise through a state-variable filter with an exponential decay; mode 0 low, 1 band, 2 high.
void noiseHit(double t0, double gain, double attack, double decay, double fc, double q, int mode, double pan,
              uint32_t seed, double wetSend = 0.0, double length = 0.0) {
    Rng rng(seed);
    Svf f;
    f.set(fc, q);
    long n = long((length > 0 ? length : decay * 6) * kRate);
    for (long i = 0; i < n; ++i) {
        double t = double(i) / kRate;
        double lo, bp, hi;
        f.run(rng.bip(), lo, bp, hi);
        double s = mode == 0 ? lo : (mode == 1 ? bp : hi);
        double env = std::min(1.0, t / attack) * std::exp(-t / decay);
        dry.add(at(t0) + i, gain * s * env, pan);
        if (wetSend > 0) wet.add(at(t0) + i, wetSend * gain * s * env, pan);
    }
}

void hat(double t0, double gain, double decay, uint32_t seed) {
    noiseHit(t0, gain, 0.0008, decay, 7600.0, 0.9, 2, 0.25, seed, 0.15);
}

void clap(double t0, double gain, uint32_t seed) {
    // three quick strikes then a diffuse tail, band-limited around 1.6 kHz
    for (int k = 0; k < 3; ++k)
        noiseHit(t0 + 0.011 * k, gain * 0.8, 0.0005, 0.008, 1500.0, 1.6, 1, -0.1, seed + k, 0.3, 0.05);
    noiseHit(t0 + 0.03, gain, 0.001, 0.07, 1400.0, 1.3, 1, -0.1, seed + 9, 0.5);
}

void crash(double t0, double gain, uint32_t seed) {
    noiseHit(t0, gain, 0.001, 0.55, 5200.0, 0.7, 2, -0.35, seed, 0.4, 3.0);
    noiseHit(t0, gain * 0.8, 0.001, 0.75, 5600.0, 0.7, 2, 0.35, seed + 1, 0.4, 3.0);
}

// Metallic bell whose partials sit on the analysed bins: it is what makes the warps jump on an accent.
void bell(double t0, double gain) {
    struct Partial {
        double f, a, d;
    };
    const Partial parts[] = {
        {binFreq(51) / 4.0, 0.22, 0.9},  // about 1098 Hz
        {binFreq(25), 0.08, 0.5},        // about 2153 Hz
        {2.51 * binFreq(51) / 4.0, 0.10, 0.45},
        {binFreq(51), 0.42, 0.16},       // about 4393 Hz
        {binFreq(102), 0.007, 0.18},     // about 8786 Hz
    };
    long n = long(3.0 * kRate);
    for (const Partial& p : parts) {
        for (long i = 0; i < n; ++i) {
            double t = double(i) / kRate;
            double env = std::exp(-t / p.d) * std::min(1.0, t / 0.0015);
            double v = gain * p.a * env * std::sin(2 * kPi * p.f * t);
            dry.add(at(t0) + i, v, 0.0);
            wet.add(at(t0) + i, 0.35 * v, 0.0);
        }
    }
}

// Band-limited sawtooth by summing harmonics; each harmonic weighted by a low-pass response that may move.
double lowpassGain(double f, double fc) { return 1.0 / std::sqrt(1.0 + std::pow(f / fc, 4.0)); }

void sawNote(Bus& bus, double t0, double dur, double freq, double gain, double fc0, double fc1, double fcTime,
             double attack, double release, double pan, double detuneCents, double maxFreq, double send = 0.0) {
    int harmonics = int(std::min(maxFreq, 0.45 * kRate) / freq);
    double f = freq * std::pow(2.0, detuneCents / 1200.0);
    long n = long((dur + release) * kRate);
    std::vector<double> buf(n, 0.0);
    // the cutoff glides from fc0 to fc1 with time constant fcTime; harmonic weights follow per block
    const long block = 64;
    for (int h = 1; h <= harmonics; ++h) {
        double hf = f * h;
        double w = 2 * kPi * hf / kRate;
        double phase = 0.0;
        for (long b = 0; b < n; b += block) {
            double t = double(b) / kRate;
            double fc = fc1 + (fc0 - fc1) * std::exp(-t / fcTime);
            double a = lowpassGain(hf, fc) / h;
            long e = std::min(n, b + block);
            for (long i = b; i < e; ++i) {
                buf[i] += a * std::sin(phase);
                phase += w;
            }
            phase = std::fmod(phase, 2 * kPi);
        }
    }
    for (long i = 0; i < n; ++i) {
        double t = double(i) / kRate;
        double env = std::min(1.0, t / attack);
        if (t > dur) env *= std::exp(-(t - dur) / (release / 4.0));
        bus.add(at(t0) + i, gain * env * buf[i], pan);
        if (send > 0) wet.add(at(t0) + i, send * gain * env * buf[i], pan);
    }
}

// Plucked tone: harmonics that die faster the higher they are.
void pluck(double t0, double freq, double gain, double pan) {
    long n = long(1.2 * kRate);
    int harmonics = std::min(9, int(6000.0 / freq));
    for (int h = 1; h <= harmonics; ++h) {
        double hf = freq * h * (1.0 + 0.0004 * h * h);
        double d = 0.5 / (1.0 + 0.9 * h);
        double a = gain / h;
        for (long i = 0; i < n; ++i) {
            double t = double(i) / kRate;
            double v = a * std::exp(-t / d) * std::min(1.0, t / 0.002) * std::sin(2 * kPi * hf * t);
            dry.add(at(t0) + i, v, pan);
            echo.add(at(t0) + i, 0.45 * v, pan);
            wet.add(at(t0) + i, 0.25 * v, pan);
        }
    }
}

// ---------------------------------------------------------------- effects

struct Comb {
    std::vector<double> b;
    size_t i = 0;
    double fb, damp, store = 0;
    Comb(size_t n, double f, double d) : b(n, 0.0), fb(f), damp(d) {}
    double run(double x) {
        double y = b[i];
        store = y * (1 - damp) + store * damp;
        b[i] = x + store * fb;
        i = (i + 1) % b.size();
        return y;
    }
};

struct Allpass {
    std::vector<double> b;
    size_t i = 0;
    explicit Allpass(size_t n) : b(n, 0.0) {}
    double run(double x) {
        double y = b[i];
        b[i] = x + y * 0.5;
        i = (i + 1) % b.size();
        return y - x;
    }
};

void reverb(const Bus& in, Bus& out, double gain) {
    const size_t cl[] = {1116, 1188, 1277, 1356, 1422, 1491};
    for (int ch = 0; ch < 2; ++ch) {
        std::vector<Comb> combs;
        for (size_t c : cl) combs.emplace_back(c + ch * 23, 0.84, 0.3);
        Allpass a1(556 + ch * 23), a2(441 + ch * 23), a3(341 + ch * 23);
        const std::vector<double>& x = ch ? in.r : in.l;
        std::vector<double>& y = ch ? out.r : out.l;
        for (size_t i = 0; i < x.size(); ++i) {
            double s = 0;
            for (Comb& c : combs) s += c.run(x[i] * 0.1);
            s = a3.run(a2.run(a1.run(s)));
            y[i] += gain * s;
        }
    }
}

void pingPong(const Bus& in, Bus& out, double delay, double fb) {
    size_t d = size_t(delay * kRate);
    std::vector<double> l(in.n(), 0.0), r(in.n(), 0.0);
    for (size_t i = 0; i < in.n(); ++i) {
        double fl = i >= d ? r[i - d] : 0.0;
        double fr = i >= d ? l[i - d] : 0.0;
        l[i] = in.l[i] + fb * fl;
        r[i] = in.r[i] * 0.3 + fb * fr;
        out.l[i] += fl;
        out.r[i] += fr;
    }
}

// ---------------------------------------------------------------- the score

// Chords, one per bar (two seconds), as MIDI notes.
struct Chord {
    int root;           // bass note
    int notes[4];       // pad voicing
};
const Chord kChords[17] = {
    {38, {50, 57, 62, 65}},  // Dm
    {38, {50, 57, 62, 65}},  // Dm
    {34, {50, 58, 62, 65}},  // Bb
    {36, {48, 55, 60, 64}},  // C
    {38, {50, 57, 62, 65}},  // Dm
    {38, {50, 57, 62, 69}},  // Dm
    {34, {50, 58, 62, 65}},  // Bb
    {33, {49, 57, 61, 64}},  // A
    {38, {50, 57, 62, 65}},  // Dm   (16 s: the drop)
    {34, {50, 58, 62, 65}},  // Bb
    {41, {48, 57, 60, 65}},  // F
    {36, {48, 55, 60, 64}},  // C
    {38, {50, 57, 62, 65}},  // Dm
    {34, {50, 58, 62, 65}},  // Bb
    {31, {50, 55, 58, 62}},  // Gm
    {33, {49, 57, 61, 64}},  // A
    {38, {50, 57, 62, 65}},  // Dm (tail)
};

void score() {
    // pads: the whole piece, brighter from the drop on
    for (int bar = 0; bar < 17; ++bar) {
        double t0 = bar * kBar;
        bool tail = bar == 16;
        double dur = tail ? 1.2 : kBar;
        double fc = bar < 4 ? 700 : (bar < 8 ? 1000 : 1500);
        double g = bar < 8 ? 0.022 : 0.026;
        for (int v = 0; v < 4; ++v) {
            int note = kChords[bar].notes[v];
            double pan = -0.6 + 0.4 * v;
            for (double det : {-7.0, 6.0}) {
                sawNote(dry, t0, dur, mtof(note), g, fc * 0.6, fc, 0.6, 0.35, 0.8, pan, det, 5000.0, 0.6);
            }
        }
    }
    // bass: from 8 s, eighth notes with an octave hop; a held low note in the intro's second half
    for (int bar = 2; bar < 16; ++bar) {
        double t0 = bar * kBar;
        int root = kChords[bar].root;
        if (bar < 4) {
            sawNote(dry, t0, kBar - 0.1, mtof(root), 0.18, 200, 350, 0.5, 0.05, 0.2, 0.0, 0.0, 2500.0);
            continue;
        }
        for (int e = 0; e < 8; ++e) {
            double t = t0 + e * kBeat / 2;
            int note = root + ((e % 4 == 3) ? 12 : 0);
            double open = bar >= 8 ? 1300 : 800;
            sawNote(dry, t, kBeat / 2 - 0.03, mtof(note), 0.2, open, 220, 0.06, 0.005, 0.06, 0.0, 0.0, 3000.0);
        }
    }
    // tail bass note
    sawNote(dry, 32.0, 1.0, mtof(38), 0.2, 600, 200, 0.4, 0.005, 0.8, 0.0, 0.0, 2500.0);

    // kick: every beat from 8 s to 32 s; half-time in the build's first bar
    for (double t = 8.0; t < 32.0 - 1e-9; t += kBeat) {
        if (t < 10.0 && std::fmod(t, 1.0) != 0.0) continue;
        kick(t, 0.75, 0.16);
    }
    // claps on beats two and four from the drop
    for (double t = 16.0; t < 32.0; t += kBar) {
        clap(t + 0.5, 0.55, uint32_t(t * 10) + 100);
        clap(t + 1.5, 0.55, uint32_t(t * 10) + 200);
    }
    // hats: quiet ticks in the intro, off-beat eighths in the build, sixteenths after the drop
    for (double t = 2.0; t < 32.0; t += kBeat / 4) {
        double pos = std::fmod(t, kBeat);
        uint32_t seed = uint32_t(std::lround(t * 1000));
        if (t < 8.0) {
            if (std::fabs(pos - kBeat / 2) < 1e-9) hat(t, 0.05, 0.02, seed);
        } else if (t < 16.0) {
            if (std::fabs(pos - kBeat / 2) < 1e-9) hat(t, 0.09, 0.04, seed);
        } else {
            bool off = std::fabs(pos - kBeat / 2) < 1e-9;
            hat(t, off ? 0.1 : 0.045, off ? 0.06 : 0.02, seed);
        }
    }
    // riser into the drop
    {
        Rng rng(4242);
        Svf f;
        double t0 = 12.0, t1 = 16.0;
        for (long i = at(t0); i < at(t1); ++i) {
            double t = double(i) / kRate - t0;
            double x = t / (t1 - t0);
            f.set(400.0 * std::pow(10.0, 1.1 * x), 3.0);
            double lo, bp, hi;
            f.run(rng.bip(), lo, bp, hi);
            double g = 0.09 * x * x;
            dry.add(i, g * bp, std::sin(t * 5.0) * 0.5);
            wet.add(i, 0.5 * g * bp, 0.0);
        }
    }
    // arpeggio: sixteenth notes over the chord from the drop, eighths in the build
    const int pattern[8] = {0, 2, 1, 3, 2, 1, 3, 2};
    for (int bar = 4; bar < 16; ++bar) {
        double step = bar < 8 ? kBeat / 2 : kBeat / 4;
        int steps = int(kBar / step + 0.5);
        for (int s = 0; s < steps; ++s) {
            int note = kChords[bar].notes[pattern[s % 8]] + 12;
            double g = (bar < 8 ? 0.07 : 0.085) * ((s % 4 == 0) ? 1.0 : 0.75);
            pluck(bar * kBar + s * step, mtof(note), g, (s % 2) ? 0.35 : -0.35);
        }
    }
    // a slow lead line over the last eight seconds
    const int lead[] = {74, 77, 76, 81};
    for (int i = 0; i < 4; ++i)
        sawNote(wet, 24.0 + i * kBar, kBar - 0.2, mtof(lead[i]), 0.03, 900, 1400, 0.5, 0.08, 0.5, 0.2, 0.0, 3200.0);

    // accents: everything on the beat table's times
    for (double t : kAccents) {
        boom(t, t >= 16.0 ? 0.65 : 0.55);
        crash(t, t >= 16.0 ? 0.13 : 0.12, uint32_t(t * 100) + 5000);
        bell(t, 1.0);
    }
    // last strike at the end of the piece's final bar, letting the tail ring
    boom(32.0, 0.5);
    crash(32.0, 0.1, 9999);
}

// ---------------------------------------------------------------- analysis

struct Spectrum {
    double s25, s51, s102;
};

Spectrum spectrumAt(const std::vector<double>& mono, long start) {
    const int n = 512;
    double re[3] = {0, 0, 0}, im[3] = {0, 0, 0};
    const int bins[3] = {25, 51, 102};
    for (int i = 0; i < n; ++i) {
        long j = start + i;
        double x = (j >= 0 && size_t(j) < mono.size()) ? mono[j] : 0.0;
        double w = 0.5 * (1.0 - std::cos(2 * kPi * i / n));
        for (int b = 0; b < 3; ++b) {
            double a = 2 * kPi * bins[b] * i / n;
            re[b] += x * w * std::cos(a);
            im[b] -= x * w * std::sin(a);
        }
    }
    double s[3];
    for (int b = 0; b < 3; ++b) s[b] = 2.0 / n * std::sqrt(re[b] * re[b] + im[b] * im[b]);
    return {s[0], s[1], s[2]};
}

double quantile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v[size_t(q * (v.size() - 1))];
}

void report(const std::vector<double>& mono) {
    const double fps = 60.0;
    struct Section {
        const char* name;
        double t0, t1;
    } sections[] = {{"intro 0-8", 0, 8}, {"build 8-16", 8, 16}, {"drop 16-24", 16, 24}, {"main 24-32", 24, 32}};
    std::printf("spectrum per 1/60 s frame (window starting at the frame time)\n");
    std::printf("%-12s %-28s %-28s %-28s\n", "section", "s25 p10/p50/p90/max", "s51 p10/p50/p90/max",
                "s102 p10/p50/p90/max");
    for (const Section& sec : sections) {
        std::vector<double> a, b, c;
        for (double t = sec.t0; t < sec.t1; t += 1.0 / fps) {
            Spectrum s = spectrumAt(mono, at(t));
            a.push_back(s.s25);
            b.push_back(s.s51);
            c.push_back(s.s102);
        }
        auto row = [](const std::vector<double>& v) {
            static char buf[4][64];
            static int k = 0;
            k = (k + 1) % 4;
            std::snprintf(buf[k], 64, "%.4f/%.4f/%.4f/%.4f", quantile(v, 0.1), quantile(v, 0.5), quantile(v, 0.9),
                          quantile(v, 1.0));
            return buf[k];
        };
        std::printf("%-12s %-28s %-28s %-28s\n", sec.name, row(a), row(b), row(c));
    }
    std::printf("at the accents (peak over the following 0.1 s): fov, bulge1 radius/amount, bulge2 radius/amount\n");
    for (double t : kAccents) {
        Spectrum m{0, 0, 0};
        for (double u = t; u < t + 0.1; u += 1.0 / fps) {
            Spectrum s = spectrumAt(mono, at(u));
            m.s25 = std::max(m.s25, s.s25);
            m.s51 = std::max(m.s51, s.s51);
            m.s102 = std::max(m.s102, s.s102);
        }
        std::printf("  t=%4.1f  s25 %.4f s51 %.4f s102 %.5f -> fov %.1f  r1 %.2f a1 %.2f  r2 %.2f a2 %.2f\n", t,
                    m.s25, m.s51, m.s102, 90 + 1000 * m.s25, std::max(0.3, 100 * m.s102), std::max(0.9, 10 * m.s51),
                    std::max(0.2, 200 * m.s102), std::max(0.9, 2000 * m.s102));
    }
    // How often the warps leave their floors outside the accents.
    int frames = 0, fovOver110 = 0, a1Up = 0, r2Up = 0, a2Up = 0;
    for (double t = 0; t < 32.0; t += 1.0 / fps) {
        Spectrum s = spectrumAt(mono, at(t));
        ++frames;
        fovOver110 += 90 + 1000 * s.s25 > 110;
        a1Up += 10 * s.s51 > 0.9;
        r2Up += 200 * s.s102 > 0.2;
        a2Up += 2000 * s.s102 > 0.9;
    }
    std::printf("frames %d: fov > 110 in %d, bulge1 amount above floor in %d, bulge2 radius above floor in %d, "
                "bulge2 amount above floor in %d\n",
                frames, fovOver110, a1Up, r2Up, a2Up);
}

// ---------------------------------------------------------------- wav i/o

void put16(std::FILE* f, int v) {
    unsigned char b[2] = {uint8_t(v & 0xFF), uint8_t((v >> 8) & 0xFF)};
    std::fwrite(b, 1, 2, f);
}
void put32(std::FILE* f, uint32_t v) {
    unsigned char b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    std::fwrite(b, 1, 4, f);
}

bool writeWav(const char* path, const std::vector<int16_t>& pcm) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    uint32_t bytes = uint32_t(pcm.size() * 2);
    std::fwrite("RIFF", 1, 4, f);
    put32(f, 36 + bytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    put32(f, 16);
    put16(f, 1);
    put16(f, 2);
    put32(f, kRate);
    put32(f, kRate * 4);
    put16(f, 4);
    put16(f, 16);
    std::fwrite("data", 1, 4, f);
    put32(f, bytes);
    std::fwrite(pcm.data(), 2, pcm.size(), f);  // little-endian host assumed (x86, arm)
    return std::fclose(f) == 0;
}

bool readWavMono(const char* path, std::vector<double>& mono) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    std::vector<unsigned char> d;
    unsigned char buf[65536];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) d.insert(d.end(), buf, buf + got);
    std::fclose(f);
    if (d.size() < 12 || std::memcmp(d.data(), "RIFF", 4) || std::memcmp(d.data() + 8, "WAVE", 4)) return false;
    size_t p = 12;
    int channels = 0, bits = 0;
    while (p + 8 <= d.size()) {
        uint32_t len = d[p + 4] | d[p + 5] << 8 | d[p + 6] << 16 | uint32_t(d[p + 7]) << 24;
        if (!std::memcmp(d.data() + p, "fmt ", 4) && p + 24 <= d.size()) {
            channels = d[p + 10] | d[p + 11] << 8;
            bits = d[p + 22] | d[p + 23] << 8;
        } else if (!std::memcmp(d.data() + p, "data", 4)) {
            if (channels != 2 || bits != 16) return false;
            size_t end = std::min(d.size(), p + 8 + size_t(len));
            for (size_t q = p + 8; q + 4 <= end; q += 4) {
                int16_t l = int16_t(d[q] | d[q + 1] << 8), r = int16_t(d[q + 2] | d[q + 3] << 8);
                mono.push_back((l + r) / 65536.0);
            }
            return true;
        }
        p += 8 + len + (len & 1);
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && !std::strcmp(argv[1], "--analyze")) {
        std::vector<double> mono;
        if (!readWavMono(argv[2], mono)) {
            std::fprintf(stderr, "ferrowake: cannot read %s as 16-bit stereo WAV\n", argv[2]);
            return 1;
        }
        report(mono);
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: ferrowake OUT.wav | ferrowake --analyze IN.wav\n");
        return 2;
    }
    score();
    Bus mix;
    for (size_t i = 0; i < mix.n(); ++i) {
        mix.l[i] = dry.l[i];
        mix.r[i] = dry.r[i];
    }
    Bus echoOut;
    pingPong(echo, echoOut, 0.375, 0.38);
    for (size_t i = 0; i < mix.n(); ++i) {
        mix.l[i] += 0.6 * echoOut.l[i];
        mix.r[i] += 0.6 * echoOut.r[i];
        wet.l[i] += 0.3 * echoOut.l[i];
        wet.r[i] += 0.3 * echoOut.r[i];
    }
    reverb(wet, mix, 0.9);

    // master: gentle saturation, fade over the last half second
    std::vector<int16_t> pcm(mix.n() * 2);
    std::vector<double> mono(mix.n());
    double peak = 0;
    for (size_t i = 0; i < mix.n(); ++i) {
        double t = double(i) / kRate;
        double fade = t > kLength - 0.5 ? (kLength - t) / 0.5 : 1.0;
        double l = std::tanh(mix.l[i] * 0.95) * fade, r = std::tanh(mix.r[i] * 0.95) * fade;
        peak = std::max(peak, std::max(std::fabs(l), std::fabs(r)));
        int li = int(std::lround(std::clamp(l, -1.0, 1.0) * 32767.0));
        int ri = int(std::lround(std::clamp(r, -1.0, 1.0) * 32767.0));
        pcm[2 * i] = int16_t(li);
        pcm[2 * i + 1] = int16_t(ri);
        mono[i] = (li + ri) / 65536.0;
    }
    if (!writeWav(argv[1], pcm)) {
        std::fprintf(stderr, "ferrowake: cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("ferrowake: %.1f s, peak %.3f\n", kLength, peak);
    report(mono);
    return 0;
}
