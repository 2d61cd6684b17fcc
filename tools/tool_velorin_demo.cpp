// tools/tool_velorin_demo.cpp: makes the demo voice sample and joins rendered
// notes into one phrase.
//
//   velorin-demo voice OUT.wav [F0_HZ] [SECONDS]   a sung vowel, 44.1 kHz 16-bit mono
//   velorin-demo jump OUT.wav [F0_HZ] [SECONDS]    the vowel, an octave up for 30 ms midway
//   velorin-demo noise OUT.wav [SECONDS]           breath-like noise
//   velorin-demo silence OUT.wav [SECONDS]         digital silence
//   velorin-demo join [--overlap MS] [--trim MS] OUT.wav IN.wav ...
//       the notes one after another, each overlapping the one before by MS
//       milliseconds (default 0) under an equal-power crossfade, the last --trim
//       milliseconds of every note left out (default 0); then the click
//       check: the energy above 8 kHz around each join against the notes'
//       steady parts (exit 1 when a join is more than 3 dB above them)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/wav.h"
#include "platform/mem.h"
#include "platform/platform.h"

namespace {

// A vowel like "ah": harmonics of f0 under three formant resonances, with a
// slow vibrato, a breathy onset and a fade at both ends. Deterministic.
std::vector<double> sung_vowel(double f0, double seconds, double jump_at = -1.0) {
    const int rate = 44100;
    const double two_pi = 6.283185307179586;
    const int n = static_cast<int>(seconds * rate);
    const double formants[3][2] = {{750, 80}, {1150, 100}, {2600, 160}};
    std::vector<double> x(n);
    double phase = 0.0;
    uint32_t seed = 12345;
    double peak = 0.0;
    for (int i = 0; i < n; ++i) {
        const double t = double(i) / rate;
        const double vib = t > 0.3 ? 25.0 * std::sin(two_pi * 5.2 * t) : 0.0;  // cents
        const bool up = jump_at >= 0 && t >= jump_at && t < jump_at + 0.03;    // an octave jump
        const double f = f0 * std::pow(2.0, vib / 1200.0) * (up ? 2.0 : 1.0);
        phase += f / rate;
        double v = 0.0;
        for (int h = 1; h * f < 10000.0; ++h) {
            double a = 0.02;
            for (const auto& fm : formants) {
                const double d = (h * f - fm[0]) / fm[1];
                a += 1.0 / (1.0 + d * d);
            }
            v += a / std::sqrt(double(h)) * std::sin(two_pi * h * phase);
        }
        seed = seed * 1664525u + 1013904223u;
        const double noise = (double(seed >> 8) / double(1u << 24) - 0.5);
        const double breath = t < 0.08 ? 1.0 - t / 0.08 : 0.0;  // an "h" before the vowel
        const double voiced = t < 0.06 ? 0.0 : std::min(1.0, (t - 0.06) / 0.04);
        const double fade = std::min(1.0, (seconds - t) / 0.05);
        x[i] = (voiced * v + breath * 3.0 * noise) * fade;
        peak = std::max(peak, std::fabs(x[i]));
    }
    for (double& v : x) v *= 20000.0 / peak;
    return x;
}

int usage() {
    std::fputs(
        "usage: velorin-demo voice OUT.wav [F0_HZ] [SECONDS]\n"
        "       velorin-demo jump OUT.wav [F0_HZ] [SECONDS]\n"
        "       velorin-demo noise OUT.wav [SECONDS]\n"
        "       velorin-demo silence OUT.wav [SECONDS]\n"
        "       velorin-demo join [--overlap MS] [--trim MS] OUT.wav IN.wav ...\n",
        stderr);
    return 2;
}

std::vector<double> breath_noise(double seconds) {
    const int n = static_cast<int>(seconds * 44100);
    std::vector<double> x(size_t(n) > 0 ? size_t(n) : 0);
    uint32_t seed = 777;
    double lp = 0.0;
    for (int i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double v = double(seed >> 8) / double(1u << 24) - 0.5;
        lp += 0.3 * (v - lp);  // a little darker than white
        const double fade = std::min(1.0, std::min(i, n - i) / 2205.0);
        x[size_t(i)] = 16000.0 * lp * fade;
    }
    return x;
}

// Energy above 8 kHz: a windowed-sinc high-pass (Blackman window, 255 taps).
std::vector<double> high_passed(const std::vector<double>& x, int rate) {
    const int taps = 255, half = taps / 2;
    const double pi = 3.141592653589793, fc = 8000.0 / rate;
    std::vector<double> h(taps);
    for (int i = 0; i < taps; ++i) {
        const int m = i - half;
        const double lowpass = m == 0 ? 2 * fc : std::sin(2 * pi * fc * m) / (pi * m);
        const double w = 0.42 - 0.5 * std::cos(2 * pi * i / (taps - 1)) +
                         0.08 * std::cos(4 * pi * i / (taps - 1));
        h[size_t(i)] = ((m == 0 ? 1.0 : 0.0) - lowpass) * w;
    }
    std::vector<double> y(x.size(), 0.0);
    for (size_t n = 0; n < x.size(); ++n) {
        double acc = 0.0;
        for (int i = 0; i < taps; ++i) {
            const long k = long(n) + half - i;
            if (k >= 0 && k < long(x.size())) acc += h[size_t(i)] * x[size_t(k)];
        }
        y[n] = acc;
    }
    return y;
}

double mean_square(const std::vector<double>& y, long from, long to) {
    from = std::max(0L, from);
    to = std::min(long(y.size()), to);
    double e = 0.0;
    for (long i = from; i < to; ++i) e += y[size_t(i)] * y[size_t(i)];
    return to > from ? e / double(to - from) : 0.0;
}

int join_notes(const std::wstring& out, double overlap_ms, double trim_ms, int first, int argc,
               char** argv) {
    using namespace velorin;
    const int rate = 44100;
    const long overlap = std::lround(overlap_ms * rate / 1000.0);
    const long trim = std::lround(trim_ms * rate / 1000.0);
    std::vector<double> all;
    std::vector<long> starts, lengths;  // where each note begins in the phrase, and its length
    for (int i = first; i < argc; ++i) {
        WavFormat fmt;
        int64_t frames = 0;
        double* x = read_wav_samples(widen_text(argv[i]).c_str(), 0, &fmt, &frames);
        if (!x) {
            std::fprintf(stderr, "velorin-demo: cannot read %s\n", argv[i]);
            return 1;
        }
        frames = std::max<int64_t>(1, frames - trim);
        // Equal power: the outgoing note under a cosine, the incoming one under a sine.
        const long ov = all.empty() ? 0 : std::min({overlap, long(frames), long(all.size())});
        const long at = long(all.size()) - ov;
        starts.push_back(at);
        lengths.push_back(long(frames));
        for (long k = 0; k < long(frames); ++k) {
            const double v = x[k * fmt.channels];
            if (k < ov) {
                const double t = (k + 0.5) / double(ov), q = 1.5707963267948966 * t;
                all[size_t(at + k)] = all[size_t(at + k)] * std::cos(q) + v * std::sin(q);
            } else {
                all.push_back(v);
            }
        }
        release(x);
    }
    if (write_wav(out.c_str(), all.data(), int64_t(all.size()), 16, 1, rate, 1) < 0) return 1;

    // The click check: around each join (the overlap and 5 ms on either side) against
    // the middle halves of the two notes it joins.
    const std::vector<double> hp = high_passed(all, rate);
    const long margin = rate / 200;
    int clicks = 0;
    for (size_t j = 1; j < starts.size(); ++j) {
        const long a = starts[j], b = starts[j - 1] + lengths[j - 1];  // overlap a..b
        const double around = mean_square(hp, a - margin, b + margin);
        const double steady =
            0.5 * (mean_square(hp, starts[j - 1] + lengths[j - 1] / 4,
                               starts[j - 1] + 3 * lengths[j - 1] / 4) +
                   mean_square(hp, starts[j] + lengths[j] / 4, starts[j] + 3 * lengths[j] / 4));
        const double db = 10.0 * std::log10((around + 1e-9) / (steady + 1e-9));
        const bool click = db > 3.0;
        clicks += click;
        std::printf("join %zu at %.3f s: energy above 8 kHz %+.1f dB against the steady parts%s\n",
                    j, double(a) / rate, db, click ? "  CLICK" : "");
    }
    return clicks ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace velorin;
    if (argc < 3) return usage();
    const std::string cmd = argv[1];
    if (cmd == "join") {
        int first = 2;
        double overlap_ms = 0.0, trim_ms = 0.0;
        while (first + 1 < argc && (std::strcmp(argv[first], "--overlap") == 0 ||
                                    std::strcmp(argv[first], "--trim") == 0)) {
            const double v = std::atof(argv[first + 1]);
            if (!(v >= 0 && v <= 1000)) return usage();
            (argv[first][2] == 'o' ? overlap_ms : trim_ms) = v;
            first += 2;
        }
        if (argc < first + 2) return usage();
        return join_notes(widen_text(argv[first]), overlap_ms, trim_ms, first + 1, argc, argv);
    }
    const std::wstring out = widen_text(argv[2]);
    if (cmd == "noise" || cmd == "silence") {
        const double seconds = argc > 3 ? std::atof(argv[3]) : 1.0;
        if (!(seconds > 0.05 && seconds < 60)) return usage();
        std::vector<double> x = breath_noise(seconds);
        if (cmd == "silence") std::fill(x.begin(), x.end(), 0.0);
        return write_wav(out.c_str(), x.data(), int64_t(x.size()), 16, 1, 44100, 1) < 0 ? 1 : 0;
    }
    if (cmd == "voice" || cmd == "jump") {
        const double f0 = argc > 3 ? std::atof(argv[3]) : 220.0;
        const double seconds = argc > 4 ? std::atof(argv[4]) : 1.5;
        if (!(f0 > 20 && f0 < 2000) || !(seconds > 0.1 && seconds <= 600)) return usage();
        const std::vector<double> x = sung_vowel(f0, seconds, cmd == "jump" ? seconds / 2 : -1.0);
        return write_wav(out.c_str(), x.data(), int64_t(x.size()), 16, 1, 44100, 1) < 0 ? 1 : 0;
    }
    return usage();
}
