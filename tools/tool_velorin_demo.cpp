// tools/tool_velorin_demo.cpp: makes the demo voice sample and joins rendered
// notes into one phrase.
//
//   velorin-demo voice OUT.wav [F0_HZ] [SECONDS]   a sung vowel, 44.1 kHz 16-bit mono
//   velorin-demo join OUT.wav IN.wav ...           the notes one after another
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
std::vector<double> sung_vowel(double f0, double seconds) {
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
        const double f = f0 * std::pow(2.0, vib / 1200.0);
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
        "       velorin-demo join OUT.wav IN.wav ...\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace velorin;
    if (argc < 3) return usage();
    const std::string cmd = argv[1];
    const std::wstring out = widen_text(argv[2]);
    if (cmd == "voice") {
        const double f0 = argc > 3 ? std::atof(argv[3]) : 220.0;
        const double seconds = argc > 4 ? std::atof(argv[4]) : 1.5;
        if (!(f0 > 20 && f0 < 2000) || !(seconds > 0.1 && seconds <= 600)) return usage();
        const std::vector<double> x = sung_vowel(f0, seconds);
        return write_wav(out.c_str(), x.data(), int64_t(x.size()), 16, 1, 44100, 1) < 0 ? 1 : 0;
    }
    if (cmd == "join") {
        std::vector<double> all;
        for (int i = 3; i < argc; ++i) {
            WavFormat fmt;
            int64_t frames = 0;
            double* x = read_wav_samples(widen_text(argv[i]).c_str(), 0, &fmt, &frames);
            if (!x) {
                std::fprintf(stderr, "velorin-demo: cannot read %s\n", argv[i]);
                return 1;
            }
            for (int64_t k = 0; k < frames; ++k) all.push_back(x[k * fmt.channels]);
            release(x);
        }
        return write_wav(out.c_str(), all.data(), int64_t(all.size()), 16, 1, 44100, 1) < 0 ? 1 : 0;
    }
    return usage();
}
