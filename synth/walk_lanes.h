// synth/walk_lanes.h: the walks over the output that find each sample's
// target frequency, written once over a lane type (simd/lanes.h).
#pragma once

#include "simd/lanes.h"
#include "synth/lane_kernels.h"
#include "synth/series_lanes.h"

namespace velorin {
namespace walk {
namespace {

// modulation_factor (synth/passes.h) at the source frequencies f: a target
// divided by it follows the source's own pitch wobble in proportion m.
template <class V>
inline V modulation_factor(const PitchRules& g, V f) {
    return (V::splat(g.freq_avg) / f) * V::splat(g.modulation) + V::splat(1 - g.modulation);
}

// The bent target (the unbent one without a bend) at output positions `out`.
template <class V>
inline V bent_target(const PitchRules& g, V out) {
    return g.bent ? series::lookup(g.bend, out) : V::splat(g.target);
}

// Steps i0 .. i0 + count - 1 of a grain's walk from the positions ab[0]
// (forward, from the anchor) and ab[1] (backward), the two directions in the
// two lanes of P: each step stores both positions into at[2 i], at[2 i + 1],
// then moves each by (p / f) r / (modulation factor at f), with f the list
// at the position and p the bent target at the output sample it stands for
// (out_index + i + 0.5 forward, out_index - i - 1.5 backward); b - s is
// b + (-s), the same double. ab comes back with the positions after the last
// step.
template <class P>
void grain(const PitchRules& g, double r, int out_index, int i0, int count, double* ab,
           double* at) {
    const P vr = P::splat(r), target = P::splat(g.target);
    P x = P::load(ab);
    for (int i = i0; i < i0 + count; ++i) {
        const P f = series::lookup(g.freq, x);
        store(at + 2 * i, x);
        P p = target;
        if (g.bent) {
            const double out[2] = {out_index + i + 0.5, out_index - i - 1.5};
            p = series::lookup(g.bend, P::load(out));
        }
        x = x + negate_odd(((p / f) * vr) / modulation_factor(g, f));
    }
    store(ab, x);
}

// The target frequencies of the output samples j0 + i (i = from .. n - 1)
// whose source positions are s[i], the bend read at j - 0.5, into f[i], and
// f[i] / 44100 (the phase step) into dphase[i], V::n samples at a time.
// Returns the first i it left.
template <class V>
int target_frequencies_from(const PitchRules& g, int j0, int from, int n, const double* s,
                            double* f, double* dphase) {
    const V half = V::splat(0.5), rate = V::splat(44100);
    int i = from;
    for (; i + V::n <= n; i += V::n) {
        const V src = series::lookup(g.freq, V::load(s + i));
        const V fi = bent_target(g, V::ramp(j0 + i) - half) / modulation_factor(g, src);
        store(f + i, fi);
        store(dphase + i, fi / rate);
    }
    return i;
}

// All of them: the last ones one at a time.
template <class V>
void target_frequencies(const PitchRules& g, int j0, int n, const double* s, double* f,
                        double* dphase) {
    const int i = target_frequencies_from<V>(g, j0, 0, n, s, f, dphase);
    target_frequencies_from<lanes::Scalar>(g, j0, i, n, s, f, dphase);
}

}  // namespace
}  // namespace walk
}  // namespace velorin
