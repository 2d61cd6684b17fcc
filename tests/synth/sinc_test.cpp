// tests/synth/sinc_test.cpp: the windowed-sinc readers of every sample format.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "synth/kernels.h"

using namespace velorin;

namespace {

// The reader as written out in full: tap range, series with the divisors,
// taper, weight sum over all taps, accumulation over valid taps only.
double naive_sinc(double x, const std::vector<double>& s, double b, int* taps = nullptr) {
    const double pi = 3.14159265358979;
    const long first = static_cast<long>(std::ceil(x - 2 * b));
    const long last = static_cast<long>(std::floor(x + 2 * b));
    double acc = 0, sum = 0;
    for (long i = first; i <= last; ++i) {
        const double h = (i - x) * (pi / b);
        const double a = h * h;
        const int terms = std::fabs(h) <= pi ? 14 : 20;
        double t = 1, ser = 1;
        for (int n = 1; n < terms; ++n) {
            t = t * (a * (1.0 / ((2.0 * n) * (2.0 * n + 1))));
            ser = (n % 2) ? ser - t : ser + t;
        }
        const double w = std::cos(h * 0.25) * ser;
        sum += w;
        if (i >= 0 && i < static_cast<long>(s.size())) acc += w * s[i];
    }
    if (taps) *taps = static_cast<int>(last - first + 1);
    return acc / sum;
}

std::vector<double> ramp_signal(int n) {
    std::vector<double> s(n);
    for (int i = 0; i < n; ++i) s[i] = std::round(8000.0 * std::sin(i * 0.37) + 300.0 * (i % 7));
    return s;
}

}  // namespace

TEST(SincRead, IntegerPositionWithWidthOneReturnsTheSample) {
    const std::vector<double> s = ramp_signal(64);
    for (int i = 3; i < 60; ++i)
        EXPECT_NEAR(sinc_read_f64(i, s.data(), 1.0, 1, 64), s[i], 1e-9 * std::fabs(s[i]) + 1e-9);
}

TEST(SincRead, MatchesTheSeriesWrittenOutBitForBit) {
    const std::vector<double> s = ramp_signal(200);
    for (double b : {1.0, 1.0884353741496597, 2.0, 3.5}) {
        for (double x = -6.0; x < 206.0; x += 0.731) {
            EXPECT_EQ(sinc_read_f64(x, s.data(), b, 1, 200), naive_sinc(x, s, b))
                << "x=" << x << " b=" << b;
        }
    }
}
