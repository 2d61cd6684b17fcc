// synth/reader_table.h: the render reader's kernel, as a table of cubic
// pieces computed by the compiler, and its evaluation.
#pragma once

#include "synth/sinc_weight.h"

namespace velorin {
namespace reader {

// The kernel K(h) = cos(h / 4) * sin(h) / h is even and lives on |h| <= 2 *
// sinc_pi. The table cuts that range into `intervals` equal pieces and holds,
// for each, the cubic through the end values and end slopes (Hermite form),
// as coefficients in the piece's own 0..1 parameter. 512 pieces keep the
// error near 1e-11, and the 16 KiB table stays in the first-level cache.
constexpr int intervals = 512;
constexpr double h_end = 2.0 * sinc_pi;
constexpr double piece = h_end / intervals;

// Value and derivative of K at h, by series summed to convergence: computed
// once, at compile time, so every build holds the same table.
struct KernelPoint {
    double value;
    double slope;
};

constexpr KernelPoint kernel_point(double h) {
    const double a = h * h;
    // sin(h)/h = sum (-1)^n a^n / (2n+1)!, and its derivative
    // h * sum (-1)^n 2n a^(n-1) / (2n+1)!.
    double s = 1.0, ds = 0.0, term = 1.0, dterm = 1.0;
    for (int n = 1; n < 40; ++n) {
        const double d = (2.0 * n) * (2.0 * n + 1.0);
        dterm = term / d;  // a^(n-1) / (2n+1)! with the sign of term n
        term = term * a / d;
        if (n & 1) {
            s -= term;
            ds -= 2.0 * n * dterm;
        } else {
            s += term;
            ds += 2.0 * n * dterm;
        }
    }
    ds *= h;
    // cos(h/4) and sin(h/4) the same way, with c = (h/4)^2.
    const double q = h * 0.25;
    const double c2 = q * q;
    double co = 1.0, si = q, ct = 1.0, st = q;
    for (int n = 1; n < 30; ++n) {
        ct = -ct * c2 / ((2.0 * n - 1.0) * (2.0 * n));
        st = -st * c2 / ((2.0 * n) * (2.0 * n + 1.0));
        co += ct;
        si += st;
    }
    return KernelPoint{co * s, -0.25 * si * s + co * ds};
}

struct KernelTable {
    // v0, m0, c2, c3 of each piece, piece j at 4 j; one spare piece. One flat
    // array, so that the readers may step from any piece to any other.
    double c[(intervals + 1) * 4];
};

constexpr KernelTable make_kernel_table() {
    KernelTable t{};
    KernelPoint p0 = kernel_point(0.0);
    for (int j = 0; j <= intervals; ++j) {
        const KernelPoint p1 = kernel_point((j + 1) * piece);
        const double m0 = p0.slope * piece;
        const double m1 = p1.slope * piece;
        t.c[4 * j + 0] = p0.value;
        t.c[4 * j + 1] = m0;
        t.c[4 * j + 2] = 3.0 * (p1.value - p0.value) - 2.0 * m0 - m1;
        t.c[4 * j + 3] = 2.0 * (p0.value - p1.value) + m0 + m1;
        p0 = p1;
    }
    return t;
}

inline constexpr KernelTable kernel_table = make_kernel_table();

namespace {  // internal: each translation unit compiles its own, for its width

// The kernel at distance |d| from x for width b, where `scale` =
// intervals / (2b) turns a distance into table units (h = d * pi / b).
inline double kernel_at(double t) {
    // Taps lie within 2b of x, so t <= intervals up to rounding; the spare
    // piece takes a tap that lands exactly on the end.
    int j = static_cast<int>(t);
    if (j > intervals) j = intervals;
    const double f = t - j;
    const double* c = kernel_table.c + 4 * j;
    return c[0] + f * (c[1] + f * (c[2] + f * c[3]));
}

inline double piece_value(int j, double f) {
    const double* c = kernel_table.c + 4 * j;
    return c[0] + f * (c[1] + f * (c[2] + f * c[3]));
}

}  // namespace

// Positions (and taps) below this convert to 32-bit integers exactly.
constexpr double lane_limit = 2147483648.0;  // 2^31

}  // namespace reader
}  // namespace velorin
