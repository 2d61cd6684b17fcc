// synth/envelope_lanes.h: the second pass's loops side by side, written once
// over a lane type V (simd/lanes.h). Each lane makes the operations of the
// loop it stands for, in its order; every function returns the first index
// (or bin) it left to its caller's plain loop.
#pragma once

#include <cmath>

#include "synth/series.h"
#include "synth/series_lanes.h"
#include "synth/smoothed_power.h"

namespace velorin {
namespace envelope {
namespace {

// out[i] = a[i] * b[i] for i = 0 .. n - 1.
template <class V>
int products(const double* a, const double* b, int n, double* out) {
    int i = 0;
    for (; i + V::n <= n; i += V::n) store(out + i, V::load(a + i) * V::load(b + i));
    return i;
}

// out[-i] = a[i] * b[-i] for i = 0 .. n - 1, written downwards from out and
// read downwards from b.
template <class V>
int products_down(const double* a, const double* b, int n, double* out) {
    constexpr int back = V::n - 1;
    int i = 0;
    for (; i + V::n <= n; i += V::n)
        store(out - i - back, reverse(V::load(a + i)) * V::load(b - i - back));
    return i;
}

// Positions p + (i0 + k) r into at[k] and p - (i0 + k + 1) r into at[n + k],
// k = 0 .. n - 1 (the counts are exact doubles).
template <class V>
int read_positions(double p, double r, int i0, int n, double* at) {
    const V vp = V::splat(p), vr = V::splat(r), lanes = V::splat(V::n);
    V up = V::ramp(i0), down = V::ramp(i0 + 1);  // whole numbers: the sums are exact
    int k = 0;
    for (; k + V::n <= n; k += V::n) {
        store(at + k, vp + up * vr);
        store(at + n + k, vp - down * vr);
        up = up + lanes;
        down = down + lanes;
    }
    return k;
}

// The breath's source block from groups of four reads (fu - du, fu + du,
// fv - dv, fv + dv) in v: (v[4k] - v[4k + 1]) su[k] into up[k] and
// (v[4k + 2] - v[4k + 3]) sd[-k] into down[-k], k = 0 .. n - 1.
template <class V>
int breath_block(const double* v, int n, const double* su, const double* sd, double* up,
                 double* down) {
    constexpr int back = V::n - 1;
    int k = 0;
    for (; k + V::n <= n; k += V::n) {
        // Pairwise differences of the groups k .. k + V::n - 1: (u, b, u, b, ...)
        V e0, o0, e1, o1, fwd, bwd;
        unzip(V::load(v + 4 * k), V::load(v + 4 * k + V::n), &e0, &o0);
        unzip(V::load(v + 4 * k + 2 * V::n), V::load(v + 4 * k + 3 * V::n), &e1, &o1);
        unzip(e0 - o0, e1 - o1, &fwd, &bwd);
        store(up + k, fwd * V::load(su + k));
        store(down - k - back, reverse(bwd) * V::load(sd - k - back));
    }
    return k;
}

// The gains of bins from, from + 1, ... (below 512 and not 0), computed and
// applied in one sweep, V::n bins and their mirror partners at a time: g =
// sqrt(want / have * pw / fw), times shape where shape is not null; a bin
// whose have is not positive, or whose gain is not finite, stays as it is.
template <class V>
int gains(double* x, const double* want, const double* have, double pw, double fw,
          const double* shape, int from) {
    constexpr int back = V::n - 1;
    const V vpw = V::splat(pw), vfw = V::splat(fw);
    const V zero = V::zero(), inf = V::splat(HUGE_VAL);
    int n = from;
    for (; n + V::n <= spectrum_block / 2; n += V::n) {
        const V h = V::load(have + n);
        V g = sqrt(((V::load(want + n) / h) * vpw) / vfw);
        if (shape) g = g * V::load(shape + n);
        const auto ok = gt(h, zero) & lt(abs(g), inf);
        const V a = V::load(x + n);
        store(x + n, select(ok, a * g, a));
        // x[1024 - n - back] .. x[1024 - n] belong to bins n + back .. n.
        const V b = V::load(x + spectrum_block - back - n);
        store(x + spectrum_block - back - n, select(reverse(ok), b * reverse(g), b));
    }
    return n;
}

// out[k] += (vg d[k] + ng nb[k]) s[k] for k = 0 .. n - 1; without noise (ng
// not positive) out[k] += vg d[k] s[k].
template <class V>
int add_block(double* out, const double* d, const double* nb, const double* s, double vg, double ng,
              int n) {
    const V g = V::splat(vg), h = V::splat(ng);
    int k = 0;
    if (ng > 0) {
        for (; k + V::n <= n; k += V::n)
            store(out + k,
                  V::load(out + k) + (g * V::load(d + k) + h * V::load(nb + k)) * V::load(s + k));
    } else {
        for (; k + V::n <= n; k += V::n)
            store(out + k, V::load(out + k) + (g * V::load(d + k)) * V::load(s + k));
    }
    return k;
}

// The breath's read positions from the positions xs (fu and fv of each step
// side by side): at[2j .. 2j + 3] = fu - du, fu + du, fv - dv, fv + dv with
// du = half_rate / (the list at fu), dv likewise at fv; j = 0, 2, ... < n.
template <class V>
int breath_positions(const SeriesReader& freq, const double* xs, int n, double half_rate,
                     double* at) {
    const V hr = V::splat(half_rate);
    int j = 0;
    for (; j + V::n <= n; j += V::n) {
        const V x = V::load(xs + j);
        const V d = hr / series::lookup(freq, x);
        store_zipped(at + 2 * j, x - d, x + d);
    }
    return j;
}

}  // namespace
}  // namespace envelope
}  // namespace velorin
