// synth/sinc_weight.h: the tap weight of the windowed-sinc readers.
//
// One definition for every evaluation of the readers' kernel: the readers in
// synth/kernels.cpp and the pitch estimate's precomputed taps in
// frq/period.cpp must give the same bits, which the identity tests check.
// Inline, so the loops that call it stay as fast as with a local copy.
#pragma once

#include <cmath>

namespace velorin {

// Deliberately not M_PI: this 15-digit value is used in the kernel argument
// and in the main-lobe test below, and the full-precision constant changes
// the output.
constexpr double sinc_pi = 3.14159265358979;

// Reciprocals of (2n)(2n+1), n = 1..19: each Taylor term of sin(h)/h is the
// previous one times -h^2 / ((2n)(2n+1)). Stored as reciprocals so a term
// costs two multiplications; the rounding of 1/d is part of the result.
constexpr double sinc_series_rcp[19] = {
    1.0 / 6.0,   1.0 / 20.0,   1.0 / 42.0,   1.0 / 72.0,   1.0 / 110.0,  1.0 / 156.0, 1.0 / 210.0,
    1.0 / 272.0, 1.0 / 342.0,  1.0 / 420.0,  1.0 / 506.0,  1.0 / 600.0,  1.0 / 702.0, 1.0 / 812.0,
    1.0 / 930.0, 1.0 / 1056.0, 1.0 / 1190.0, 1.0 / 1332.0, 1.0 / 1482.0,
};

// sin(h)/h through its Taylor series: 14 terms (up to a^13/27!) inside the
// main lobe, 20 terms (up to a^19/39!) outside, with a = h^2. Gives exactly 1
// at h = 0.
inline double sinc_series(double h) {
    const double a = h * h;
    const int terms = std::fabs(h) <= sinc_pi ? 14 : 20;
    double sum = 1.0;
    double term = 1.0;
    for (int n = 1; n < terms; ++n) {
        term = term * (a * sinc_series_rcp[n - 1]);
        if (n & 1)
            sum -= term;
        else
            sum += term;
    }
    return sum;
}

// The kernel cos(h / 4) * sin(h) / h at h = (tap - x) * sinc_pi / width,
// tap the frame index and x the read position.
inline double sinc_tap_weight(double h) { return std::cos(h * 0.25) * sinc_series(h); }

}  // namespace velorin
