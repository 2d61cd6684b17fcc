// frq/period_lanes.h: the period estimate's sums side by side, written once
// over a lane type V (simd/lanes.h). Each lane adds its terms in the order
// of the plain loop it stands for.
#pragma once

#include "frq/period.h"
#include "frq/period_kernels.h"
#include "simd/lanes.h"

namespace velorin {
namespace period {
namespace {

constexpr int max_buffer = max_frame_length + max_frame_length / 2;  // L

// The lags tau .. tau + 4 V::n - 1 (tau even), V::n per register, of the
// difference function: d[k] = the sum over m, in order, of ew2[m] (a - b)^2
// with a = buf[c - (tau + k) / 2 + m] and b = a's position + tau + k. Lag k
// of a group reads its first stretch at qa[V::n i + k] = buf[i - k / 2] and
// its second at qb[V::n i + k] = buf[i + k - k / 2] (i = c - tau / 2 + m and
// c + tau / 2 + m), so each register loads whole. This call adds the terms
// m0 <= m < m1 to the sums in d (which it starts at zero when m0 is 0): a
// sum held in d between calls is the same double it was in the register.
template <class V>
inline void lag_group(const double* qa, const double* qb, const double* ew2, int c, int m0, int m1,
                      int tau, double* d) {
    constexpr int shift = V::n * (V::n / 2);  // a group's lags start V::n / 2 positions on
    const int j = tau / 2;
    const double* a = qa + V::n * (c - j);
    const double* b = qb + V::n * (c + j);
    V s0 = V::zero(), s1 = V::zero(), s2 = V::zero(), s3 = V::zero();
    if (m0 > 0) {
        s0 = V::load(d);
        s1 = V::load(d + V::n);
        s2 = V::load(d + 2 * V::n);
        s3 = V::load(d + 3 * V::n);
    }
    for (int m = m0; m < m1; ++m) {
        const V e = V::splat(ew2[m]);
        const double* am = a + V::n * m;
        const double* bm = b + V::n * m;
        const V d0 = V::load(am) - V::load(bm);
        const V d1 = V::load(am - shift) - V::load(bm + shift);
        const V d2 = V::load(am - 2 * shift) - V::load(bm + 2 * shift);
        const V d3 = V::load(am - 3 * shift) - V::load(bm + 3 * shift);
        s0 = s0 + e * (d0 * d0);
        s1 = s1 + e * (d1 * d1);
        s2 = s2 + e * (d2 * d2);
        s3 = s3 + e * (d3 * d3);
    }
    store(d, s0);
    store(d + V::n, s1);
    store(d + 2 * V::n, s2);
    store(d + 3 * V::n, s3);
}

// The difference function's lags from tau (even) to max_lag, into
// d[tau - min_lag ...], in groups of 4 V::n; returns max_lag + 1. The last
// group may run past max_lag (d then takes up to 4 V::n - 1 values beyond
// d[max_lag - min_lag], which mean nothing): its lags beyond read the zero
// margins of qa and qb, and its lags up to max_lag are the very sums a
// group of their own would give. (That costs less than laying out the
// arrays again for narrower lanes.) A range of at most half a group goes to
// the narrower lanes. n is the frame length; max_lag is at most 3 n / 4.
//
// The terms go in blocks of m: every group adds its terms of one block
// before any adds the next, so that the stretches of qa and qb a block reads
// (which neighbouring groups share, a few positions apart) stay in the
// processor's nearest cache instead of streaming the whole of both arrays
// once per group. Each lag still adds its terms in order of m.
//
// With stop_at > 0 the lags go in passes of four groups, and the function
// returns early, with the lag after the last one done, once the lags done
// hold stop_at of the estimate's candidates (count_candidates).
template <class V>
int lag_differences(const double* buf, const double* ew2, int n, int tau, int min_lag, int max_lag,
                    int stop_at, double* d) {
    constexpr int group = 4 * V::n;
    if (tau > max_lag) return tau;
    if constexpr (V::n > 2)
        if (max_lag - tau + 1 <= group / 2)
            return lag_differences<typename V::Half>(buf, ew2, n, tau, min_lag, max_lag, stop_at,
                                                     d);
    const int l = n + n / 2;
    const int c = n / 8 + n / 4;
    const int m_count = n / 2 + n / 4;
    // Positions -margin .. l + margin - 1: a group reads up to 3 V::n / 2
    // positions beyond its first lag's stretches. They are laid out from a
    // copy of buf with zeros around it, without a test per value.
    constexpr int margin = 3 * V::n / 2 + 2;
    constexpr int around = margin + V::n;
    double padded[max_buffer + 2 * around];
    for (int i = 0; i < around; ++i) padded[i] = padded[around + l + i] = 0.0;
    for (int i = 0; i < l; ++i) padded[around + i] = buf[i];
    const double* p = padded + around;
    double qa_space[V::n * (max_buffer + 2 * margin)];
    double qb_space[V::n * (max_buffer + 2 * margin)];
    double* qa = qa_space + V::n * margin;
    double* qb = qb_space + V::n * margin;
    for (int i = -margin; i < l + margin; ++i) {
        double* ra = qa + V::n * i;
        double* rb = qb + V::n * i;
        VELORIN_LANES_UNROLL16
        for (int k = 0; k < V::n; ++k) {
            ra[k] = p[i - k / 2];
            rb[k] = p[i + k - k / 2];
        }
    }
    const int end = tau + (max_lag - tau + group) / group * group;
    constexpr int block = 1024 / V::n;  // about 8 KiB of each array (tried: 4 to 32 KiB)
    const int pass = stop_at > 0 ? 4 * group : end - tau;
    int found = 0;
    for (int t0 = tau; t0 < end; t0 += pass) {
        const int t1 = t0 + pass < end ? t0 + pass : end;
        for (int m0 = 0; m0 < m_count; m0 += block) {
            const int m1 = m0 + block < m_count ? m0 + block : m_count;
            for (int t = t0; t < t1; t += group)
                lag_group<V>(qa, qb, ew2, c, m0, m1, t, d + (t - min_lag));
        }
        if (stop_at > 0 && t1 <= max_lag) {
            found += count_candidates(d, min_lag, t0, t1 - 1);
            if (found >= stop_at) return t1;
        }
    }
    return max_lag + 1;
}

// v[m] = (sum over t of w[t] * s[m + t]) / wsum * scale - offset for m <
// count: reads at consecutive positions with the same tap weights. Each sum
// runs over t in order, as in the reader, V::n values of m side by side, and
// four such registers at once, so that their chains of additions overlap.
template <class V>
void weighted_runs(const double* s, const double* w, int taps, double wsum, double scale,
                   double offset, int count, double* v) {
    const V sum = V::splat(wsum), sc = V::splat(scale), off = V::splat(offset);
    int m = 0;
    for (; m + 4 * V::n <= count; m += 4 * V::n) {
        V a0 = V::zero(), a1 = V::zero(), a2 = V::zero(), a3 = V::zero();
        for (int t = 0; t < taps; ++t) {
            const V wt = V::splat(w[t]);
            const double* st = s + t + m;
            a0 = a0 + wt * V::load(st);
            a1 = a1 + wt * V::load(st + V::n);
            a2 = a2 + wt * V::load(st + 2 * V::n);
            a3 = a3 + wt * V::load(st + 3 * V::n);
        }
        store(v + m, (a0 / sum) * sc - off);
        store(v + m + V::n, (a1 / sum) * sc - off);
        store(v + m + 2 * V::n, (a2 / sum) * sc - off);
        store(v + m + 3 * V::n, (a3 / sum) * sc - off);
    }
    for (; m + V::n <= count; m += V::n) {
        V acc = V::zero();
        for (int t = 0; t < taps; ++t) acc = acc + V::splat(w[t]) * V::load(s + t + m);
        store(v + m, (acc / sum) * sc - off);
    }
    if constexpr (V::n > 1)
        weighted_runs<lanes::Scalar>(s + m, w, taps, wsum, scale, offset, count - m, v + m);
}

// S = sum x[i] sin(i w) and C = sum x[i] cos(i w), each added in order of i,
// from tab's (sine, cosine) pairs: S and C side by side in the two lanes of
// P, for the tables tabs[0..count) (count 1 to 4) at once, so that their
// chains of additions overlap.
template <class P>
void spectrum_sums(const double* x, const double* const* tabs, int count, int n, double* s,
                   double* c) {
    const double* t0 = tabs[0];
    const double* t1 = count > 1 ? tabs[1] : t0;
    const double* t2 = count > 2 ? tabs[2] : t0;
    const double* t3 = count > 3 ? tabs[3] : t0;
    P a0 = P::zero(), a1 = P::zero(), a2 = P::zero(), a3 = P::zero();  // S, C of each
    for (int i = 0; i < n; ++i) {
        const P xi = P::splat(x[i]);
        a0 = a0 + xi * P::load(t0 + 2 * i);
        a1 = a1 + xi * P::load(t1 + 2 * i);
        a2 = a2 + xi * P::load(t2 + 2 * i);
        a3 = a3 + xi * P::load(t3 + 2 * i);
    }
    double both[8];
    store(both, a0);
    store(both + 2, a1);
    store(both + 4, a2);
    store(both + 6, a3);
    for (int k = 0; k < count; ++k) {
        s[k] = both[2 * k];
        c[k] = both[2 * k + 1];
    }
}

}  // namespace
}  // namespace period
}  // namespace velorin
