// synth/render_reader.cpp: the sinc reader of the render passes, table-driven.
#include "synth/render_reader.h"

#include <cmath>

namespace velorin {

namespace {

// Same constant as the exact readers' kernel argument.
constexpr double sinc_pi = 3.14159265358979;

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
    double c[intervals + 1][4];  // v0, m0, c2, c3 of each piece; one spare piece
};

constexpr KernelTable make_kernel_table() {
    KernelTable t{};
    KernelPoint p0 = kernel_point(0.0);
    for (int j = 0; j <= intervals; ++j) {
        const KernelPoint p1 = kernel_point((j + 1) * piece);
        const double m0 = p0.slope * piece;
        const double m1 = p1.slope * piece;
        t.c[j][0] = p0.value;
        t.c[j][1] = m0;
        t.c[j][2] = 3.0 * (p1.value - p0.value) - 2.0 * m0 - m1;
        t.c[j][3] = 2.0 * (p0.value - p1.value) + m0 + m1;
        p0 = p1;
    }
    return t;
}

constexpr KernelTable kernel_table = make_kernel_table();

// The kernel at distance |d| from x for width b, where `scale` =
// intervals / (2b) turns a distance into table units (h = d * pi / b).
inline double kernel_at(double t) {
    // Taps lie within 2b of x, so t <= intervals up to rounding; the spare
    // piece takes a tap that lands exactly on the end.
    int j = static_cast<int>(t);
    if (j > intervals) j = intervals;
    const double f = t - j;
    const double* c = kernel_table.c[j];
    return c[0] + f * (c[1] + f * (c[2] + f * c[3]));
}

inline double piece_value(int j, double f) {
    const double* c = kernel_table.c[j];
    return c[0] + f * (c[1] + f * (c[2] + f * c[3]));
}

// Width 1 with every tap inside the buffer, the common case of a 44.1 kHz
// input: the taps sit whole samples apart, 256 table units, so the taps on
// each side of x share one fraction. For x >= 1 every distance involved is
// exact, and this gives the same weights as kernel_at.
double read_width_one(double x, const double* data, int channels, int64_t first, int64_t last) {
    const double fx = static_cast<double>(first) + (last - first == 4 ? 2 : 1);  // floor(x)
    const double phi = x - fx;
    const double* p = data + first * channels;
    if (last - first == 4) {  // x is a whole sample: the kernel's zeros and its peak
        const double w0 = piece_value(intervals, 0.0), w1 = piece_value(intervals / 2, 0.0);
        const double w2 = piece_value(0, 0.0);
        const double wsum = w0 + w1 + w2 + w1 + w0;
        const double acc = w0 * p[0] + w1 * p[channels] + w2 * p[2 * channels] +
                           w1 * p[3 * channels] + w0 * p[4 * channels];
        return acc / wsum;
    }
    const double ta = phi * (intervals / 2);          // taps at d = -phi, -1 - phi
    const double tb = (1.0 - phi) * (intervals / 2);  // taps at d = 1 - phi, 2 - phi
    const int ja = static_cast<int>(ta), jb = static_cast<int>(tb);
    const double fa = ta - ja, fb = tb - jb;
    const double wm1 = piece_value(ja + intervals / 2, fa);
    const double w0 = piece_value(ja, fa);
    const double w1 = piece_value(jb, fb);
    const double w2 = piece_value(jb + intervals / 2, fb);
    const double wsum = ((wm1 + w0) + w1) + w2;
    const double acc =
        ((wm1 * p[0] + w0 * p[channels]) + w1 * p[2 * channels]) + w2 * p[3 * channels];
    return acc / wsum;
}

}  // namespace

double sinc_read_render(double x, const double* data, double width, int channels, int64_t frames) {
    if (channels < 1 || !std::isfinite(x) || !(width < 1e15)) return 0.0;
    const double lo = std::ceil(x - 2.0 * width);
    const double hi = std::floor(x + 2.0 * width);
    if (hi < 0.0 || lo >= static_cast<double>(frames) || lo > hi) return 0.0;
    const int64_t first = static_cast<int64_t>(lo);
    const int64_t last = static_cast<int64_t>(hi);
    // (Five taps belong to a whole-sample x, four to any other; rounding at
    // the ends of the span can break that, and the loop below takes those.)
    if (width == 1.0 && first >= 1 && last < frames &&
        (last - first == 3 || (last - first == 4 && x == static_cast<double>(first + 2))))
        return read_width_one(x, data, channels, first, last);
    const double scale = (intervals / 2) / width;
    double acc = 0.0;
    double wsum = 0.0;
    if (first >= 0 && last < frames) {
        const double* p = data + first * channels;
        for (int64_t i = first; i <= last; ++i, p += channels) {
            const double w = kernel_at(std::fabs(static_cast<double>(i) - x) * scale);
            wsum += w;
            acc += w * *p;
        }
    } else {
        for (int64_t i = first; i <= last; ++i) {
            const double w = kernel_at(std::fabs(static_cast<double>(i) - x) * scale);
            wsum += w;
            if (i >= 0 && i < frames) acc += w * data[i * channels];
        }
    }
    return acc / wsum;
}

}  // namespace velorin
