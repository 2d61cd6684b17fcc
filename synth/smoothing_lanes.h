// synth/smoothing_lanes.h: the power spectrum and the smoothing's sums,
// written once over a lane type V (simd/lanes.h).
#pragma once

#include "synth/smoothed_power.h"

namespace velorin {
namespace smoothing {
namespace {

// out[n] = the sum over t = 0 .. taps - 1, in that order from 0.0, of
// weight[t] * src[n + t], for n = from .. spectrum_bins - 1. Bins side by
// side in the lanes, 8 V::n at a time in eight accumulators (eight
// independent chains of additions keep the adder busy while each waits for
// its previous sum); each bin adds its terms in the same order at every
// width. Returns the first bin it did not sum.
template <class V>
int weighted_sums_from(const double* src, const double* weight, int taps, int from, double* out) {
    constexpr int step = 8 * V::n;
    int n = from;
    for (; n + step <= spectrum_bins; n += step) {
        V a[8];
        for (V& v : a) v = V::zero();
        const double* x = src + n;
        for (int t = 0; t < taps; ++t, ++x) {
            const V w = V::splat(weight[t]);
            for (int j = 0; j < 8; ++j) a[j] = a[j] + w * V::load(x + V::n * j);
        }
        for (int j = 0; j < 8; ++j) store(out + n + V::n * j, a[j]);
    }
    return n;
}

template <class V>
void weighted_sums(const double* src, const double* weight, int taps, double* out) {
    const int n = weighted_sums_from<V>(src, weight, taps, 0, out);
    for (int k = n; k < spectrum_bins; ++k) {  // the last bins one at a time
        double acc = 0.0;
        for (int t = 0; t < taps; ++t) acc += weight[t] * src[k + t];
        out[k] = acc;
    }
}

// p[k] = x[k]^2 + x[1024 - k]^2 for every bin k from 1 .. 511 that a whole
// group of V::n lanes covers; returns the first bin left.
template <class V>
int power_bins(const double* x, double* p) {
    int k = 1;
    for (; k + V::n <= spectrum_bins - 1; k += V::n) {
        const V a = V::load(x + k);
        const V b = reverse(V::load(x + spectrum_block - k - (V::n - 1)));  // x[1024 - k] ...
        store(p + k, a * a + b * b);
    }
    return k;
}

}  // namespace
}  // namespace smoothing
}  // namespace velorin
