// synth/reader_lanes.h: the render reader's reads side by side, written once
// over a lane type V (simd/lanes.h) and instantiated per width.
//
// A lane is taken only when the test below passes; every other position is
// read by sinc_read_render itself, so a test may refuse more than it must but
// never accept a lane that the scalar reader would read otherwise. Each lane
// makes the scalar reader's operations in its order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "synth/reader_table.h"
#include "synth/render_reader.h"

namespace velorin {
namespace reader {
namespace {

// Width one. The scalar reader's span is lo = ceil(x - 2), hi = floor(x + 2),
// four taps when hi - lo == 3, first = lo >= 1, hi < frames. The test
// computes a = x - 2 and b = x + 2 with the very same roundings and asks x > 2
// and b < 2^31. Then 0 < a < b < 2^31 (x > 2 makes x - 2 exact and positive),
// where floor_small and ceil_near are exact; NaN fails both comparisons, an
// infinity one of them; positions at or past 2^31 - 2 and at or below 2 go to
// the scalar reader, as does any hi - lo other than 3 (whole samples, and the
// rare roundings of x + 2 up to a whole number). Whole numbers below 2^31 are
// exact in a double, so hi < frames is compared in doubles: frames past 2^53
// round but stay above hi. A bit per passing lane; *lo gets each lane's
// first tap (meaningless in lanes that fail).
template <class V>
inline int width_one_test(V x, V frames, V* lo) {
    const V two = V::splat(2.0);
    const V a = x - two;
    const V b = x + two;
    const auto ok = gt(x, two) & lt(b, V::splat(lane_limit));
    const V l = ceil_near(a);
    const V h = floor_small(b);
    const auto span = eq(h - l, V::splat(3.0)) & lt(h, frames);
    *lo = l;
    return bits(ok & span);
}

// piece_value for the lanes whose pieces start at the doubles row[k] of the
// table, plus offset: c0 + f * (c1 + f * (c2 + f * c3)).
template <class V>
inline V piece_values(const size_t* row, size_t offset, V f) {
    const double* t0 = kernel_table.c + offset;
    const double* rows[V::n];
    for (int k = 0; k < V::n; ++k) rows[k] = t0 + row[k];
    V c[4];
    columns(rows, c);
    return c[0] + f * (c[1] + f * (c[2] + f * c[3]));
}

// The weights of the scalar reader's width-one read at the fractions phi
// (each lane's x - floor(x), between 0 and 1), and their sum.
template <class V>
struct Weights {
    V wm1, w0, w1, w2, sum;
};

template <class V>
inline Weights<V> width_one_weights(V phi) {
    const V half_table = V::splat(intervals / 2);
    const V ta = phi * half_table;                       // taps at d = -phi, -1 - phi
    const V tb = (V::splat(1.0) - phi) * half_table;     // taps at d = 1 - phi, 2 - phi
    const V ja = floor_small(ta), jb = floor_small(tb);  // 0 <= ta, tb <= intervals / 2
    const V fa = ta - ja, fb = tb - jb;
    const V four = V::splat(4.0);  // pieces j as offsets in doubles, 4 j
    size_t ra[V::n], rb[V::n];
    whole(ja * four, ra);
    whole(jb * four, rb);
    constexpr size_t up = (intervals / 2) * 4;  // piece j + intervals / 2
    Weights<V> w;
    w.wm1 = piece_values(ra, up, fa);
    w.w0 = piece_values(ra, 0, fa);
    w.w1 = piece_values(rb, 0, fb);
    w.w2 = piece_values(rb, up, fb);
    w.sum = ((w.wm1 + w.w0) + w.w1) + w.w2;
    return w;
}

// The width-one read of lanes that passed the test with first taps lo; Mono:
// channels is 1, and each lane's four taps are adjacent.
template <class V, bool Mono>
inline V width_one_read(const Weights<V>& w, V lo, const double* data, int channels) {
    size_t first[V::n];  // 1 <= first < 2^31
    whole(lo, first);
    V s[4];
    if (Mono) {
        const double* rows[V::n];
        for (int k = 0; k < V::n; ++k) rows[k] = data + first[k];
        columns(rows, s);
    } else {
        for (int t = 0; t < 4; ++t) {
            size_t at[V::n];
            for (int k = 0; k < V::n; ++k) at[k] = (first[k] + t) * channels;
            s[t] = V::gather(data, at);
        }
    }
    return (((w.wm1 * s[0] + w.w0 * s[1]) + w.w1 * s[2]) + w.w2 * s[3]) / w.sum;
}

// Width-one reads of x[0..n-1], V::n at a time; a group with a lane that
// fails the test, and the last positions, are read by the scalar reader. The
// weights depend on the fractions alone: a group whose fractions equal the
// previous group's, lane for lane (positions a whole number of samples
// apart, as a 44.1 kHz input gives the first reads of the second pass), uses
// the weights again.
template <class V, bool Mono>
void read_width_one_run(const double* x, int n, const double* data, int channels, int64_t frames,
                        double* out) {
    const V fr = V::splat(static_cast<double>(frames));
    V last_phi = V::splat(-1.0);  // no lane's fraction
    Weights<V> w{};
    int i = 0;
    for (; i + V::n <= n; i += V::n) {
        const V xv = V::load(x + i);
        V lo;
        if (width_one_test(xv, fr, &lo) == V::full) {
            const V phi = xv - (lo + V::splat(1.0));
            if (bits(eq(phi, last_phi)) != V::full) {
                w = width_one_weights(phi);
                last_phi = phi;
            }
            store(out + i, width_one_read<V, Mono>(w, lo, data, channels));
        } else {
            for (int k = i; k < i + V::n; ++k)
                out[k] = sinc_read_render(x[k], data, 1.0, channels, frames);
        }
    }
    for (; i < n; ++i) out[i] = sinc_read_render(x[i], data, 1.0, channels, frames);
}

template <class V>
void read_width_one_many(const double* x, int n, const double* data, int channels, int64_t frames,
                         double* out) {
    if (channels == 1) return read_width_one_run<V, true>(x, n, data, 1, frames, out);
    read_width_one_run<V, false>(x, n, data, channels, frames, out);
}

// Any other width b with every tap inside the buffer. The scalar reader's
// span is lo = ceil(x - 2b), hi = floor(x + 2b) and it sums over the taps
// lo..hi, in that order, wsum += w and acc += w * sample with w =
// kernel_at(|i - x| * scale). A lane is taken when x - 2b > -1 and x + 2b <
// 2^31 (finite, then), lo <= hi and hi < frames; both ends then lie between
// -1 and 2^31, where floor_near and ceil_near are exact up to the sign of a
// zero, which neither the comparisons nor the conversions see. A bit per
// passing lane; *first and *last get its taps' ends.
template <class V>
inline int wide_test(V x, V reach, V frames, V* first, V* last) {
    const V a = x - reach;
    const V b = x + reach;
    const auto ok = gt(a, V::splat(-1.0)) & lt(b, V::splat(lane_limit));
    *first = ceil_near(a);
    *last = floor_near(b);
    return bits(ok & le(*first, *last) & lt(*last, frames));
}

// kernel_at for the lanes: t >= 0, the piece index capped at intervals
// (below 2^31, the floor is the truncation).
template <class V>
inline V kernel_values(V t) {
    const V j = min(floor_small(t), V::splat(intervals));
    const V f = t - j;
    size_t r[V::n];
    whole(j * V::splat(4.0), r);
    return piece_values(r, 0, f);
}

// Reads of width b (1 < b < 64) of x[0..n-1], V::n at a time. A lane past
// its last tap reads its last tap again (inside the buffer) and adds +0.0 to
// both sums, its weight and its term selected away: that leaves every sum as
// it is, since neither sum can be -0.0 (they start from +0.0, and in round to
// nearest only -0.0 + -0.0 gives -0.0), and x + 0.0 is x for every other x,
// NaN included.
template <class V>
void read_wide_many(const double* x, int n, const double* data, double width, int channels,
                    int64_t frames, double* out) {
    const V reach = V::splat(2.0 * width);
    const V fr = V::splat(static_cast<double>(frames));
    const V scale = V::splat((intervals / 2) / width);
    const V zero = V::zero();
    int i = 0;
    for (; i + V::n <= n; i += V::n) {
        const V xv = V::load(x + i);
        V first, last;
        if (wide_test(xv, reach, fr, &first, &last) != V::full) {
            for (int k = i; k < i + V::n; ++k)
                out[k] = sinc_read_render(x[k], data, width, channels, frames);
            continue;
        }
        double span[V::n];
        lanes_of(last - first, span);
        double most = 0.0;  // the most taps of any lane, less one
        for (double s : span) most = s > most ? s : most;
        V acc = zero, wsum = zero;
        for (int t = 0; t <= static_cast<int>(most); ++t) {
            const V tap = first + V::splat(t);
            const auto within = le(tap, last);
            const V at = min(tap, last);
            const V w = kernel_values(abs(at - xv) * scale);
            size_t idx[V::n];
            whole(at, idx);
            for (size_t& k : idx) k *= channels;
            wsum = wsum + select(within, w, zero);
            acc = acc + select(within, w * V::gather(data, idx), zero);
        }
        store(out + i, acc / wsum);
    }
    for (; i < n; ++i) out[i] = sinc_read_render(x[i], data, width, channels, frames);
}

// The width-one test on x[0 .. V::n - 1] alone (for the tests).
template <class V>
int lanes_taken_width_one(const double* x, int64_t frames, int64_t* first) {
    V lo;
    const int mask = width_one_test(V::load(x), V::splat(static_cast<double>(frames)), &lo);
    double l[V::n];
    lanes_of(lo, l);
    for (int k = 0; k < V::n; ++k) first[k] = (mask >> k) & 1 ? static_cast<int64_t>(l[k]) : -1;
    return mask;
}

// The test of the other widths on x[0 .. V::n - 1] alone (for the tests).
template <class V>
int lanes_taken_wide_kernel(const double* x, double width, int64_t frames, int64_t* first) {
    V lo, hi;
    const int mask = wide_test(V::load(x), V::splat(2.0 * width),
                               V::splat(static_cast<double>(frames)), &lo, &hi);
    double l[V::n];
    lanes_of(lo, l);
    for (int k = 0; k < V::n; ++k) first[k] = (mask >> k) & 1 ? static_cast<int64_t>(l[k]) : -1;
    return mask;
}

}  // namespace
}  // namespace reader
}  // namespace velorin
