// synth/series.h: reading a frame series (the frequency list, the pitch bend)
// at any position, with a power-of-two step's division done as a
// multiplication.
#pragma once

#include <cmath>
#include <cstdint>

#include "synth/kernels.h"

namespace velorin {

// 1 / step when step is a power of two (then x * (1 / step) and x / step
// are the same double), else 0.
inline double step_reciprocal(int step) {
    if (step <= 0 || (step & (step - 1)) != 0) return 0.0;
    double r = 1.0;
    for (int s = step; s > 1; s /= 2) r *= 0.5;
    return r;
}

// Positions (in steps) below this are floored by integer conversion.
constexpr double series_fast_limit = 2147483648.0;  // 2^31

// series_value_at with the division by a power-of-two step done as a
// multiplication by its reciprocal `inv`: the same doubles.
inline double series_value_pow2(double x, const double* values, int count, double inv, double lo,
                                double bad, double fallback) {
    if (count < 0) count = 0;
    const double u = x * inv;
    int64_t k = 0;
    double f = 0.0;
    if (u > 0.0 && u < series_fast_limit) {
        // Between 0 and 2^31 the truncating conversion of a double is its
        // floor, exactly, and u is finite.
        const int32_t ki = static_cast<int32_t>(u);
        const double kd = static_cast<double>(ki);
        f = u - kd;
        k = ki >= count ? count : ki;
    } else if (u >= 0.0) {
        // Zero (std::floor keeps the sign of -0, and with it that of f),
        // 2^31 and beyond, +inf. NaN fails u >= 0.
        const double kd = std::floor(u);
        f = std::isfinite(u) ? u - kd : 0.0;
        k = kd >= static_cast<double>(count) ? count : static_cast<int64_t>(kd);
    }
    const double vl = values[k < count ? k : count];
    const double vr = values[k + 1 < count ? k + 1 : count];
    const double left = (!(vl > lo) || vl == bad) ? fallback : vl;
    const double right = (!(vr > lo) || vr == bad) ? fallback : vr;
    return (1 - f) * left + f * right;
}

// A frame series with its reading rules, copied out of RenderShared so that
// a loop of lookups keeps them in registers.
struct SeriesReader {
    const double* values = nullptr;  // count + 1 values
    int count = 0;
    int step = 256;
    double inv = 0.0;  // step_reciprocal(step)
    double lo = 0.0, bad = 0.0, fallback = 0.0;

    double at(double x) const {
        if (inv > 0) return series_value_pow2(x, values, count, inv, lo, bad, fallback);
        return series_value_at(x, values, count, step, lo, bad, fallback);
    }
};

// How the walks find the target frequency of an output sample: the bend (or
// the unbent target) divided by the modulation factor at the source's
// frequency (synth/walk_lanes.h); passes.h makes it from the render's context.
struct PitchRules {
    SeriesReader freq;  // the frequency list
    SeriesReader bend;  // the pitch bend, where bent
    bool bent = false;
    double target = 0.0;  // Hz, unbent
    double freq_avg = 0.0;
    double modulation = 0.0;
};

// s.at(x), out of line: for the lanes that cannot look up side by side.
double series_at(const SeriesReader& s, double x);

}  // namespace velorin
