// synth/portable_trig.h: sine and cosine from +, - and * only, the same
// doubles on every build and system, at compile time and at run time.
#pragma once

namespace velorin {

namespace trig {

constexpr double two_pi = 6.283185307179586;

// The tables' sines and cosines come from the functions below, not from the C
// runtime: runtimes differ in the last bit for some arguments (one returns
// only a dozen good bits for the cosine near pi/2), and the
// tables feed every transform, so a runtime's choice would make the builds
// render different numbers. These use only +, - and *, with no contraction,
// so every build computes the same doubles, within about one unit in the
// last place of the true values.

// pi/2 in three pieces; the first two have 33 significant bits, so that k
// times them is exact for the small k of a table argument.
constexpr double pio2_1 = 1.5707963267341256;
constexpr double pio2_2 = 6.077100506303966e-11;
constexpr double pio2_3 = 2.0222662487959506e-21;
constexpr double two_over_pi = 0.6366197723675814;

// a * b == p + e exactly, by splitting both into halves of 26 bits.
constexpr double two_prod(double a, double b, double* e) {
    constexpr double splitter = 134217729.0;  // 2^27 + 1
    const double p = a * b;
    const double ta = splitter * a, tb = splitter * b;
    const double ah = ta - (ta - a), bh = tb - (tb - b);
    const double al = a - ah, bl = b - bh;
    *e = ((ah * bh - p) + ah * bl + al * bh) + al * bl;
    return p;
}

// s + e == a + b exactly, for |a| >= |b|.
constexpr double quick_two_sum(double a, double b, double* e) {
    const double s = a + b;
    *e = b - (s - a);
    return s;
}

// sin and cos of r + rl for |r| <= about pi/4, rl a small correction, by
// their Taylor series (terms below 1e-30 dropped). The leading terms are
// carried in two doubles, so only the last addition rounds noticeably.
constexpr double kernel_sin(double r, double rl) {
    double zl = 0.0;
    const double z = two_prod(r, r, &zl);
    // r^3 / 6 as ch + cl: the quotient, then the remainder's share.
    double pe = 0.0;
    const double p = two_prod(r, z, &pe);
    const double r3l = pe + r * zl;
    const double ch = p / 6.0;
    double qe = 0.0;
    const double q6 = two_prod(ch, 6.0, &qe);
    const double cl = (((p - q6) - qe) + r3l) / 6.0;
    // r^5 (1/5! - r^2/7! + ...).
    const double c[11] = {1.0 / 120.0,
                          -1.0 / 5040.0,
                          1.0 / 362880.0,
                          -1.0 / 39916800.0,
                          1.0 / 6227020800.0,
                          -1.0 / 1307674368000.0,
                          1.0 / 355687428096000.0,
                          -1.0 / 121645100408832000.0,
                          1.0 / 51090942171709440000.0,
                          -1.0 / 25852016738884976640000.0,
                          1.0 / 15511210043330985984000000.0};
    double poly = c[10];
    for (int i = 9; i >= 0; --i) poly = c[i] + z * poly;
    double e = 0.0;
    const double s = quick_two_sum(r, -ch, &e);
    return s + (((e - cl) + p * z * poly) + rl * (1.0 - 0.5 * z));
}

constexpr double kernel_cos(double r, double rl) {
    double zl = 0.0;
    const double z = two_prod(r, r, &zl);
    // z^2 (1/4! - z/6! + ...).
    const double c[11] = {1.0 / 24.0,
                          -1.0 / 720.0,
                          1.0 / 40320.0,
                          -1.0 / 3628800.0,
                          1.0 / 479001600.0,
                          -1.0 / 87178291200.0,
                          1.0 / 20922789888000.0,
                          -1.0 / 6402373705728000.0,
                          1.0 / 2432902008176640000.0,
                          -1.0 / 1124000727777607680000.0,
                          1.0 / 620448401733239439360000.0};
    double poly = c[10];
    for (int i = 9; i >= 0; --i) poly = c[i] + z * poly;
    double e = 0.0;
    const double s = quick_two_sum(1.0, -0.5 * z, &e);  // z / 2 is exact
    return s + (((e - 0.5 * zl) + z * z * poly) - r * rl);
}

// std::floor, usable at compile time: NaN, infinities, zeros and anything
// of magnitude 2^52 or more are whole already; below that the truncating
// conversion to 64 bits is exact and is one too high only for negative
// fractions.
constexpr double exact_floor(double v) {
    if (!(v > -4503599627370496.0 && v < 4503599627370496.0) || v == 0.0) return v;
    const double t = static_cast<double>(static_cast<int64_t>(v));
    return t > v ? t - 1.0 : t;
}

// Quadrant k and the remainder x - k * pi/2 as r + rl (|x| below 2^20).
constexpr int reduce(double x, double* r, double* rl) {
    const double kd = exact_floor(x * two_over_pi + 0.5);
    const int k = static_cast<int>(kd);
    const double t = x - kd * pio2_1;  // exact: small, and on the grid of x's last bit
    const double b = -(kd * pio2_2);   // exact
    // hi + lo == t + b exactly, whichever is larger.
    const double hi = t + b;
    const double bb = hi - t;
    const double lo = (t - (hi - bb)) + (b - bb);
    *r = hi;
    *rl = lo - kd * pio2_3;
    return k & 3;
}

}  // namespace trig

// sin(x) and cos(x) for |x| below 2^20, within about 0.55 units in the last
// place. The transform's tables are built with them.
constexpr double portable_sin(double x) {
    double r = 0.0, rl = 0.0;
    switch (trig::reduce(x, &r, &rl)) {
        case 0:
            return trig::kernel_sin(r, rl);
        case 1:
            return trig::kernel_cos(r, rl);
        case 2:
            return -trig::kernel_sin(r, rl);
        default:
            return -trig::kernel_cos(r, rl);
    }
}

constexpr double portable_cos(double x) {
    double r = 0.0, rl = 0.0;
    switch (trig::reduce(x, &r, &rl)) {
        case 0:
            return trig::kernel_cos(r, rl);
        case 1:
            return -trig::kernel_sin(r, rl);
        case 2:
            return -trig::kernel_cos(r, rl);
        default:
            return trig::kernel_sin(r, rl);
    }
}

}  // namespace velorin
