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

// A frame series with its reading rules, copied out of RenderShared so that
// a loop of lookups keeps them in registers.
struct SeriesReader {
    const double* values = nullptr;  // count + 1 values
    int count = 0;
    int step = 256;
    double inv = 0.0;  // step_reciprocal(step)
    double lo = 0.0, bad = 0.0, fallback = 0.0;

    // series_value_at(x, ...), the same doubles; out of line (series.cpp),
    // so that no lane kernel's unit compiles its own copy.
    double at(double x) const;
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

}  // namespace velorin
