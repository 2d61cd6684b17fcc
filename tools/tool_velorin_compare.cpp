// tools/tool_velorin_compare.cpp: compares two rendered WAV files sample by sample, or two
// frequency list files value by value, and says whether they agree within a tolerance.
//
// Builds of the program on different systems share every formula but not the C runtime's
// sin, exp or pow, so their outputs may differ in the last bits; this tool measures how far.
//
//   velorin-compare A.wav B.wav [max-lsb]             default 1
//   velorin-compare A.frq B.frq [rel-tol [min-share]]  defaults 1e-9 and 0.999
//
// Exit code 0: within tolerance; 1: outside it; 2: a file is missing or malformed.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/bytes.h"

namespace velorin {

namespace {

bool read_file(const char* path, std::vector<uint8_t>* bytes) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    bytes->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return true;
}

struct WavData {
    int channels = 0;
    int rate = 0;
    int bits = 0;
    std::vector<int16_t> samples;  // interleaved
};

// Walks the chunks for "fmt " and "data"; 16-bit integer PCM only, which is all the
// program writes.
bool parse_wav(const std::vector<uint8_t>& b, WavData* w) {
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 ||
        std::memcmp(b.data() + 8, "WAVE", 4) != 0)
        return false;
    size_t at = 12;
    bool have_fmt = false;
    while (at + 8 <= b.size()) {
        const uint32_t size = le_u32(b.data() + at + 4);
        const size_t body = at + 8;
        const size_t avail = b.size() - body;
        if (std::memcmp(b.data() + at, "fmt ", 4) == 0 && size >= 16 && avail >= 16) {
            w->channels = le_u16(b.data() + body + 2);
            w->rate = static_cast<int>(le_u32(b.data() + body + 4));
            w->bits = le_u16(b.data() + body + 14);
            have_fmt = true;
        } else if (std::memcmp(b.data() + at, "data", 4) == 0) {
            if (!have_fmt || w->bits != 16) return false;
            const size_t n = (size < avail ? size : avail) / 2;
            w->samples.resize(n);
            for (size_t i = 0; i < n; ++i)
                w->samples[i] = static_cast<int16_t>(le_u16(b.data() + body + 2 * i));
            return true;
        }
        if (size > avail) return false;
        at = body + size + (size & 1);
    }
    return false;
}

int compare_wav(const std::vector<uint8_t>& a_bytes, const std::vector<uint8_t>& b_bytes,
                int max_lsb) {
    WavData a, b;
    if (!parse_wav(a_bytes, &a) || !parse_wav(b_bytes, &b)) {
        std::printf("not a 16-bit PCM WAV file\n");
        return 2;
    }
    if (a.channels != b.channels || a.rate != b.rate || a.samples.size() != b.samples.size()) {
        std::printf("formats differ: %d ch %d Hz %zu samples vs %d ch %d Hz %zu samples\n",
                    a.channels, a.rate, a.samples.size(), b.channels, b.rate, b.samples.size());
        return 1;
    }
    int worst = 0;
    size_t differing = 0, worst_at = 0;
    for (size_t i = 0; i < a.samples.size(); ++i) {
        const int d = std::abs(int(a.samples[i]) - int(b.samples[i]));
        if (d != 0) ++differing;
        if (d > worst) {
            worst = d;
            worst_at = i;
        }
    }
    const bool same_bytes = a_bytes == b_bytes;
    std::printf("wav: %zu samples, %zu differ, max difference %d LSB (at sample %zu)%s\n",
                a.samples.size(), differing, worst, worst_at,
                same_bytes ? ", files byte-identical" : "");
    return worst <= max_lsb ? 0 : 1;
}

struct FrqData {
    int32_t step = 0;
    double freq_avg = 0;
    int32_t sample_rate = 0;
    int32_t count = 0;
    std::vector<double> freq, amp;
};

bool parse_frq(const std::vector<uint8_t>& b, FrqData* f) {
    if (b.size() < 40 || std::memcmp(b.data(), "FREQ0003", 8) != 0) return false;
    f->step = static_cast<int32_t>(le_u32(b.data() + 8));
    f->freq_avg = le_f64(b.data() + 12);
    f->sample_rate = static_cast<int32_t>(le_u32(b.data() + 20));
    f->count = static_cast<int32_t>(le_u32(b.data() + 36));
    if (f->count < 0 || (b.size() - 40) / 16 < static_cast<size_t>(f->count)) return false;
    for (int32_t k = 0; k < f->count; ++k) {
        f->freq.push_back(le_f64(b.data() + 40 + 16 * size_t(k)));
        f->amp.push_back(le_f64(b.data() + 48 + 16 * size_t(k)));
    }
    return true;
}

// |a - b| relative to the larger magnitude; 0 when both are equal (zeros included).
double relative_difference(double a, double b) {
    if (a == b) return 0.0;
    const double scale = std::fmax(std::fabs(a), std::fabs(b));
    return std::fabs(a - b) / scale;
}

int compare_frq(const std::vector<uint8_t>& a_bytes, const std::vector<uint8_t>& b_bytes,
                double rel_tol, double min_share) {
    FrqData a, b;
    if (!parse_frq(a_bytes, &a) || !parse_frq(b_bytes, &b)) {
        std::printf("not a frequency list file\n");
        return 2;
    }
    if (a.step != b.step || a.sample_rate != b.sample_rate || a.count != b.count) {
        std::printf("headers differ: step %d/%d, rate %d/%d, count %d/%d\n", a.step, b.step,
                    a.sample_rate, b.sample_rate, a.count, b.count);
        return 1;
    }
    double worst_freq = 0, worst_amp = 0;
    int32_t close = 0, identical = 0;
    for (int32_t k = 0; k < a.count; ++k) {
        const double df = relative_difference(a.freq[k], b.freq[k]);
        const double da = relative_difference(a.amp[k], b.amp[k]);
        worst_freq = std::fmax(worst_freq, df);
        worst_amp = std::fmax(worst_amp, da);
        if (df <= rel_tol && da <= rel_tol) ++close;
        if (df == 0 && da == 0) ++identical;
    }
    const double share = a.count > 0 ? double(close) / a.count : 1.0;
    const double avg = relative_difference(a.freq_avg, b.freq_avg);
    std::printf(
        "frq: %d frames, %d identical, %d within %g (%.4f%%); max relative difference freq %g, "
        "amp %g; freq_avg %.10f vs %.10f (relative %g)\n",
        a.count, identical, close, rel_tol, 100.0 * share, worst_freq, worst_amp, a.freq_avg,
        b.freq_avg, avg);
    return share >= min_share ? 0 : 1;
}

int compare_main(int argc, char** argv) {
    if (argc < 3) {
        std::printf(
            "usage: velorin-compare A.wav B.wav [max-lsb]\n"
            "       velorin-compare A.frq B.frq [rel-tol [min-share]]\n");
        return 2;
    }
    std::vector<uint8_t> a, b;
    if (!read_file(argv[1], &a) || !read_file(argv[2], &b)) {
        std::printf("cannot read %s\n", read_file(argv[1], &a) ? argv[2] : argv[1]);
        return 2;
    }
    if (a.size() >= 8 && std::memcmp(a.data(), "FREQ0003", 8) == 0)
        return compare_frq(a, b, argc > 3 ? std::atof(argv[3]) : 1e-9,
                           argc > 4 ? std::atof(argv[4]) : 0.999);
    return compare_wav(a, b, argc > 3 ? std::atoi(argv[3]) : 1);
}

}  // namespace

}  // namespace velorin

int main(int argc, char** argv) { return velorin::compare_main(argc, argv); }
