// synth/series_lanes.h: frame-series lookups side by side, written once over
// a lane type V (simd/lanes.h).
#pragma once

#include <cstddef>

#include "simd/lanes.h"
#include "synth/series.h"

namespace velorin {
namespace series {
namespace {

// The lookups s.at(x) at every lane of x, the same doubles: side by side
// when the step is a power of two and every position lies between step 0
// and step 2^31 (where the truncation is the floor and u is finite), lane by
// lane through series_value_at otherwise. A lookup at one lane is s.at
// itself (series.cpp).
template <class V>
inline V lookup(const SeriesReader& s, V x) {
    if (s.inv > 0) {
        const V u = x * V::splat(s.inv);
        if (bits(gt(u, V::zero()) & lt(u, V::splat(series_fast_limit))) == V::full) {
            const V kd = floor_small(u);
            const V f = u - kd;
            // Entries min(k, count) and min(k + 1, count).
            const size_t count = s.count < 0 ? 0 : static_cast<size_t>(s.count);
            size_t k[V::n], l[V::n], r[V::n];
            whole(kd, k);
            for (int i = 0; i < V::n; ++i) {
                l[i] = k[i] >= count ? count : k[i];
                r[i] = k[i] >= count ? count : k[i] + 1;
            }
            const V vl = V::gather(s.values, l);
            const V vr = V::gather(s.values, r);
            // Valid: v > lo and v != bad; NaN fails the first.
            const V lo = V::splat(s.lo), bad = V::splat(s.bad), fb = V::splat(s.fallback);
            const V left = select(gt(vl, lo) & ne(vl, bad), vl, fb);
            const V right = select(gt(vr, lo) & ne(vr, bad), vr, fb);
            return (V::splat(1.0) - f) * left + f * right;
        }
    }
    // Elsewhere the division and std::floor: for a power-of-two step x /
    // step is x * inv, and series_value_at then gives the fast path's doubles.
    double xs[V::n], out[V::n];
    lanes_of(x, xs);
    for (int i = 0; i < V::n; ++i)
        out[i] = series_value_at(xs[i], s.values, s.count, s.step, s.lo, s.bad, s.fallback);
    return V::from(out);
}

// out[i] = s.at(x[i]) for i < n, V::n at a time.
template <class V>
void lookup_many(const SeriesReader& s, const double* x, int n, double* out) {
    int i = 0;
    for (; i + V::n <= n; i += V::n) store(out + i, lookup(s, V::load(x + i)));
    for (; i < n; ++i) out[i] = s.at(x[i]);
}

}  // namespace
}  // namespace series
}  // namespace velorin
