// synth/rfft_tables.cpp: the transform's tables and the windows, evaluated
// by the compiler for the sizes the program uses and at run time for others.
#include <algorithm>
#include <cstdint>

#include "synth/portable_trig.h"
#include "synth/rfft.h"

namespace velorin {

namespace {

using trig::two_pi;

// The program's tables (1024-point twiddles, the 1024- and 128-point window
// pairs), evaluated by the compiler with the very functions above: every
// note would otherwise spend about 0.6 million instructions building them.
// A test holds them to the run-time evaluation, entry for entry.
// The tables' definitions, for the compiler and for run time alike.
constexpr void fill_twiddles(double* twiddles, int n) {
    const double d = two_pi / n;
    for (int i = 0; i < n; ++i) {
        twiddles[2 * i] = portable_cos(i * d);
        twiddles[2 * i + 1] = portable_sin(i * d);
    }
}

constexpr void fill_windows(double* hann, double* sine, int n) {
    const double d = two_pi / n;
    for (int i = 0; i < n; ++i) {
        hann[i] = 0.5 - 0.5 * portable_cos(i * d);
        sine[i] = portable_sin(i * (d * 0.5));
    }
}

template <int n>
struct WindowPair {
    double hann[n];
    double sine[n];
};

template <int n>
constexpr WindowPair<n> make_window_pair() {
    WindowPair<n> w{};
    fill_windows(w.hann, w.sine, n);
    return w;
}

struct Twiddles1024 {
    double v[2048];
};

constexpr Twiddles1024 make_twiddles_1024() {
    Twiddles1024 t{};
    fill_twiddles(t.v, 1024);
    return t;
}

constexpr Twiddles1024 twiddles_1024 = make_twiddles_1024();
constexpr WindowPair<1024> windows_1024 = make_window_pair<1024>();
constexpr WindowPair<128> windows_128 = make_window_pair<128>();

}  // namespace

void build_twiddles_computed(double* twiddles, int n) {
    if (n >= 1) fill_twiddles(twiddles, n);
}

void build_windows_computed(double* hann, double* sine, int n) {
    if (n >= 1) fill_windows(hann, sine, n);
}

void build_twiddles(double* twiddles, int n) {
    if (n == 1024) {
        std::copy(twiddles_1024.v, twiddles_1024.v + 2048, twiddles);
        return;
    }
    build_twiddles_computed(twiddles, n);
}

void build_bitrev(int n, int32_t* bitrev) {
    if (n <= 2 || bitrev[0] != 0) return;
    int l = n;
    int m = 1;
    do {
        l /= 2;
        for (int j = 0; j < m; ++j) bitrev[m + j] = bitrev[j] + l;
        m *= 2;
    } while (2 * m < l);
}

template <int n>
void copy_windows(const WindowPair<n>& w, double* hann, double* sine) {
    std::copy(w.hann, w.hann + n, hann);
    std::copy(w.sine, w.sine + n, sine);
}

void build_windows(double* hann, double* sine, int n) {
    if (n == 1024) return copy_windows(windows_1024, hann, sine);
    if (n == 128) return copy_windows(windows_128, hann, sine);
    build_windows_computed(hann, sine, n);
}

}  // namespace velorin
