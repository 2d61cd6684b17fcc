// tests/support/support.h: helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velorin_test {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path;                                 // narrow, no trailing slash
    std::string file(const std::string& name) const;  // path + "/" + name
    std::wstring wfile(const std::string& name) const;
};

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> read_bytes(const std::string& path);
bool file_exists(const std::string& path);

// A program of this build, `relative` to the build folder that ctest names in
// VELORIN_BIN_DIR ("velorin", "tools/velorin-pitch"). Empty, with the reason
// in `why`, when the variable is not set or the program is not there; the
// tests that run it then fail: CMake builds it before them.
std::string built_program(const std::string& relative, std::string* why);

// What a shell command line writes on standard output ("" when it cannot run).
std::string command_output(const std::string& command);

// `s` in single quotes for the POSIX shell.
std::string shell_quoted(const std::string& s);

// A canonical 44-byte-header WAV file image of 16-bit mono or multi-channel
// samples (interleaved).
std::vector<uint8_t> wav_bytes_i16(const std::vector<int16_t>& samples, int channels, int rate);

// A synthetic vowel: a sum of harmonics of f0 (with optional vibrato, in
// cents and Hz) under a fixed formant envelope, peak about `peak` on the
// 16-bit scale. Deterministic.
std::vector<double> make_vowel(int rate, double seconds, double f0, double peak = 12000.0,
                               double vibrato_cents = 0.0, double vibrato_hz = 5.5);
// Uniform noise in -peak..peak from a fixed seed.
std::vector<double> make_noise(int rate, double seconds, double peak, uint32_t seed = 1);
std::vector<int16_t> to_i16(const std::vector<double>& x);

// Fundamental frequency of x[start .. start + len) by normalised
// autocorrelation with parabolic interpolation, searched in fmin..fmax Hz.
double estimate_f0(const std::vector<double>& x, int rate, int start, int len, double fmin,
                   double fmax);
// Spectral centroid in Hz of x[start .. start + len) (Hann window, direct DFT
// up to `fmax`).
double spectral_centroid(const std::vector<double>& x, int rate, int start, int len,
                         double fmax = 5000.0);
// Root mean square of x[start .. start + len).
double rms(const std::vector<double>& x, int start, int len);

}  // namespace velorin_test
