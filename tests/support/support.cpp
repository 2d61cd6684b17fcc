// tests/support/support.cpp: helpers shared by the test programs.
#include "tests/support/support.h"

#ifdef _WIN32
#include <direct.h>
#else
#include <unistd.h>
#endif

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/platform.h"
#include "synth/rfft.h"

namespace velorin_test {

#ifdef _WIN32
// The Windows C runtime has no mkdtemp: try names from the process id and a counter until
// one folder is new (_mkdir fails on an existing one).
static char* make_temp_dir(char* tmpl) {
    static unsigned counter = 0;
    const std::string base(tmpl, std::strlen(tmpl) - 6);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        char tail[7];
        std::snprintf(
            tail, sizeof tail, "%06u",
            (static_cast<unsigned>(velorin::process_id()) * 1000u + counter++) % 1000000u);
        const std::string name = base + tail;
        if (_mkdir(name.c_str()) == 0) {
            std::memcpy(tmpl, name.c_str(), name.size() + 1);
            return tmpl;
        }
    }
    return nullptr;
}
#else
static char* make_temp_dir(char* tmpl) { return mkdtemp(tmpl); }
#endif

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "velorin_test_XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!make_temp_dir(buf.data())) throw std::runtime_error("mkdtemp failed");
    path = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

std::string TempDir::file(const std::string& name) const { return path + "/" + name; }
std::wstring TempDir::wfile(const std::string& name) const {
    return velorin::widen_text(file(name).c_str());
}

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> read_bytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)),
                                std::istreambuf_iterator<char>());
}

bool file_exists(const std::string& path) { return std::filesystem::exists(path); }

std::string built_program(const std::string& relative, std::string* why) {
    const char* dir = std::getenv("VELORIN_BIN_DIR");
    if (!dir) {
        *why = "VELORIN_BIN_DIR is not set (run the tests through ctest)";
        return std::string();
    }
    const std::string path = std::string(dir) + "/" + relative;
    if (!file_exists(path)) {
        *why = "the program is not built: " + path;
        return std::string();
    }
    return path;
}

std::string command_output(const std::string& command) {
    std::string out;
#ifdef _WIN32
    FILE* p = _popen(command.c_str(), "r");
#else
    FILE* p = popen(command.c_str(), "r");
#endif
    if (!p) return out;
    char buf[4096];
    size_t got = 0;
    while ((got = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, got);
#ifdef _WIN32
    _pclose(p);
#else
    pclose(p);
#endif
    return out;
}

std::string shell_quoted(const std::string& s) {
    std::string q = "'";
    for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

static void put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
static void put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
static void puttag(std::vector<uint8_t>& b, const char* t) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(t[i]));
}

std::vector<uint8_t> wav_bytes_i16(const std::vector<int16_t>& samples, int channels, int rate) {
    std::vector<uint8_t> b;
    uint32_t data = static_cast<uint32_t>(samples.size() * 2);
    puttag(b, "RIFF");
    put32(b, data + 36);
    puttag(b, "WAVE");
    puttag(b, "fmt ");
    put32(b, 16);
    put16(b, 1);
    put16(b, uint16_t(channels));
    put32(b, uint32_t(rate));
    put32(b, uint32_t(rate * channels * 2));
    put16(b, uint16_t(channels * 2));
    put16(b, 16);
    puttag(b, "data");
    put32(b, data);
    for (int16_t s : samples) put16(b, uint16_t(s));
    return b;
}

std::vector<double> make_vowel(int rate, double seconds, double f0, double peak,
                               double vibrato_cents, double vibrato_hz) {
    const double two_pi = 6.283185307179586;
    const int n = static_cast<int>(seconds * rate);
    std::vector<double> x(n, 0.0);
    // Formants of an open vowel: centre Hz and bandwidth Hz.
    const double formants[3][2] = {{730, 90}, {1090, 110}, {2440, 170}};
    double phase = 0.0;
    double maxabs = 0.0;
    for (int i = 0; i < n; ++i) {
        double t = double(i) / rate;
        double f = f0 * std::pow(2.0, vibrato_cents / 1200.0 * std::sin(two_pi * vibrato_hz * t));
        phase += f / rate;
        double v = 0.0;
        for (int h = 1; h * f0 < 0.45 * rate && h <= 60; ++h) {
            double fh = h * f0;
            double a = 0.0;
            for (const auto& fm : formants) {
                double d = (fh - fm[0]) / fm[1];
                a += 1.0 / (1.0 + d * d);
            }
            a = 0.05 + a;
            v += a / h * std::sin(two_pi * h * phase);
        }
        x[i] = v;
        maxabs = std::max(maxabs, std::fabs(v));
    }
    if (maxabs > 0)
        for (double& v : x) v *= peak / maxabs;
    return x;
}

std::vector<double> make_noise(int rate, double seconds, double peak, uint32_t seed) {
    const int n = static_cast<int>(seconds * rate);
    std::vector<double> x(n);
    uint32_t s = seed;
    for (int i = 0; i < n; ++i) {
        s = s * 1664525u + 1013904223u;
        x[i] = (double(s >> 8) / double(1u << 24) * 2.0 - 1.0) * peak;
    }
    return x;
}

std::vector<int16_t> to_i16(const std::vector<double>& x) {
    std::vector<int16_t> out(x.size());
    for (size_t i = 0; i < x.size(); ++i) {
        double v = std::round(x[i]);
        out[i] = static_cast<int16_t>(std::max(-32768.0, std::min(32767.0, v)));
    }
    return out;
}

double estimate_f0(const std::vector<double>& x, int rate, int start, int len, double fmin,
                   double fmax) {
    const int lo = static_cast<int>(rate / fmax);
    const int hi = static_cast<int>(rate / fmin) + 1;
    if (start < 0 || len <= 0 || size_t(start + len + hi + 1) > x.size()) return 0.0;
    std::vector<double> c(hi + 2, 0.0);
    double best = -1.0;
    int best_lag = 0;
    double e0 = 0.0;
    for (int i = 0; i < len; ++i) e0 += x[start + i] * x[start + i];
    for (int lag = lo - 1; lag <= hi + 1; ++lag) {
        double s = 0.0, e1 = 0.0;
        for (int i = 0; i < len; ++i) {
            s += x[start + i] * x[start + i + lag];
            e1 += x[start + i + lag] * x[start + i + lag];
        }
        c[lag] = (e0 > 0 && e1 > 0) ? s / std::sqrt(e0 * e1) : 0.0;
    }
    for (int lag = lo; lag <= hi; ++lag) {
        if (c[lag] > best && c[lag] >= c[lag - 1] && c[lag] >= c[lag + 1]) {
            best = c[lag];
            best_lag = lag;
        }
    }
    if (best_lag == 0) return 0.0;
    const double a = c[best_lag - 1], b = c[best_lag], d = c[best_lag + 1];
    const double den = a - 2 * b + d;
    const double shift = den != 0 ? 0.5 * (a - d) / den : 0.0;
    return rate / (best_lag + shift);
}

double spectral_centroid(const std::vector<double>& x, int rate, int start, int len, double fmax) {
    // A power-of-two transform through the program's own real FFT (tested on
    // its own), which keeps this fast enough for emulated builds.
    int n = 1;
    while (n < len) n *= 2;
    std::vector<double> tw(2 * n), hann(n), sine(n), a(n, 0.0);
    std::vector<int32_t> ip(n + 2, 0);
    velorin::build_twiddles(tw.data(), n);
    velorin::build_bitrev(n, ip.data());
    velorin::build_windows(hann.data(), sine.data(), len);
    for (int i = 0; i < len; ++i) a[i] = x[start + i] * hann[i];
    velorin::rfft_forward(velorin::SimdWidth::scalar, n, a.data(), tw.data(), ip.data());
    double num = 0.0, den = 0.0;
    const int kmax = std::min(n / 2 - 1, static_cast<int>(fmax * n / rate));
    for (int k = 1; k <= kmax; ++k) {
        const double mag = std::sqrt(a[k] * a[k] + a[n - k] * a[n - k]);
        num += mag * k * rate / n;
        den += mag;
    }
    return den > 0 ? num / den : 0.0;
}

double rms(const std::vector<double>& x, int start, int len) {
    double s = 0.0;
    for (int i = 0; i < len; ++i) s += x[start + i] * x[start + i];
    return len > 0 ? std::sqrt(s / len) : 0.0;
}

}  // namespace velorin_test
