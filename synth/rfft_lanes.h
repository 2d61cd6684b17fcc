// synth/rfft_lanes.h: the transform's stages, written once over a lane type V
// (simd/lanes.h): butterflies or whole blocks side by side in the lanes.
#pragma once

#include <cstdint>
#include <cstring>

#include "simd/lanes.h"

namespace velorin {
namespace rfft {
namespace {

// The butterflies are always inlined, and loops over the 16 values of a
// block unroll completely, so that the values stay in registers
// (VELORIN_LANES_INLINE, VELORIN_LANES_UNROLL16).

// The order of the work. Within one stage the blocks, and within a block the
// butterflies, share no element, so they may run in any order and side by
// side in the lanes of a register: every element still goes through the very
// operations, in the very order, of the stages run one butterfly at a time.
//
// The forward transform takes blocks of 64 through their first six stages
// at once, reading the input in bit-reversed order and writing a second
// buffer; that pass replaces the permutation, and there the lanes of a
// register hold whole blocks, so no lane needs turning round. The later stages
// run two at a time (see forward_group), which halves their loads and stores,
// the first two of them from the second buffer back into the block, and walk
// each butterfly index j over all blocks, so each twiddle is loaded once per
// stage. The inverse mirrors it: its last six stages write the blocks of 64 to
// their bit-reversed places. The second buffer lives on the stack, so those
// passes serve blocks of up to `max_gathered` values; larger and smaller ones
// take the permutation and the stages one by one.
constexpr int max_gathered = 2048;

// r + step in bit-reversed counting: `step` is a single bit, the carry runs
// towards the low bits.
inline int reversed_add(int r, int step) {
    while (r & step) {
        r ^= step;
        step >>= 1;
    }
    return r | step;
}

// The two-point butterflies (b, b + half) of every block of one stage, the
// same in both directions.
VELORIN_LANES_INLINE void two_points(double* a, int n, int size) {
    const int half = size / 2;
    for (int b = 0; b < n; b += size) {
        const double x0 = a[b];
        const double x1 = a[b + half];
        a[b + half] = x0 - x1;
        a[b] = x0 + x1;
    }
}

// One butterfly on the values at b + j, b + half - j, b + half + j and
// b + size - j, of type V: a double, or a register of butterflies side by side
// (the lanes take the same operations).
template <class V>
VELORIN_LANES_INLINE void forward_butterfly(V& x1, V& x2, V& x3, V& x4, const V& c, const V& s) {
    const V a1 = x1, a2 = x2, a3 = x3, a4 = x4;
    const V t1 = a4 * c + a3 * s;
    const V t2 = a3 * c - a4 * s;
    x3 = t1 - a2;
    x4 = t1 + a2;
    x2 = a1 - t2;
    x1 = a1 + t2;
}

template <class V>
VELORIN_LANES_INLINE void inverse_butterfly(V& x1, V& x2, V& x3, V& x4, const V& c, const V& s) {
    const V a1 = x1, a2 = x2, a3 = x3, a4 = x4;
    const V p = a3 + a4;
    const V q = a1 - a2;
    x1 = a1 + a2;
    x2 = a4 - a3;
    x3 = p * s + q * c;
    x4 = p * c - q * s;
}

// The same, butterfly j of the block at b of v.
template <class V>
VELORIN_LANES_INLINE void forward_butterfly(V* v, int b, int half, int size, int j, const V& c,
                                            const V& s) {
    forward_butterfly(v[b + j], v[b + half - j], v[b + half + j], v[b + size - j], c, s);
}

template <class V>
VELORIN_LANES_INLINE void inverse_butterfly(V* v, int b, int half, int size, int j, const V& c,
                                            const V& s) {
    inverse_butterfly(v[b + j], v[b + half - j], v[b + half + j], v[b + size - j], c, s);
}

// The two-point butterfly (b, b + half), the same in both directions.
template <class V>
VELORIN_LANES_INLINE void two_point(V& x, V& y) {
    const V x0 = x, x1 = y;
    y = x0 - x1;
    x = x0 + x1;
}

// Two stages in one go. In the blocks of 2 * size, the values at
// j, half - j, half + j, size - j, size + j, size + half - j, size + half + j
// and 2 * size - j (half = size / 2, 0 < j < size / 4) meet only each other in
// the stages of size and 2 * size: the butterflies j of both blocks of size
// (twiddle c1, s1), then j (c2, s2) and half - j (c3, s3) of the block of
// 2 * size. Each value still meets its stages in their order.
template <class V>
VELORIN_LANES_INLINE void forward_group(V* e, const V& c1, const V& s1, const V& c2, const V& s2,
                                        const V& c3, const V& s3) {
    forward_butterfly(e[0], e[1], e[2], e[3], c1, s1);
    forward_butterfly(e[4], e[5], e[6], e[7], c1, s1);
    forward_butterfly(e[0], e[3], e[4], e[7], c2, s2);
    forward_butterfly(e[1], e[2], e[5], e[6], c3, s3);
}

template <class V>
VELORIN_LANES_INLINE void inverse_group(V* e, const V& c1, const V& s1, const V& c2, const V& s2,
                                        const V& c3, const V& s3) {
    inverse_butterfly(e[0], e[3], e[4], e[7], c2, s2);
    inverse_butterfly(e[1], e[2], e[5], e[6], c3, s3);
    inverse_butterfly(e[0], e[1], e[2], e[3], c1, s1);
    inverse_butterfly(e[4], e[5], e[6], e[7], c1, s1);
}

// The stages of size 2, 4, 8 and 16 of a block of 16 held in v[0 .. 15].
// c[j], s[j] (j = 1 .. 3) are the twiddle j * n / 16; the stage of size 8
// uses its only one, j * n / 8 with j = 1, which is c[2], s[2].
template <class V>
VELORIN_LANES_INLINE void forward_sixteen(V* v, const V* c, const V* s) {
    VELORIN_LANES_UNROLL16
    for (int b = 0; b < 16; b += 2) two_point(v[b], v[b + 1]);
    VELORIN_LANES_UNROLL16
    for (int b = 0; b < 16; b += 4) two_point(v[b], v[b + 2]);
    VELORIN_LANES_UNROLL16
    for (int b = 0; b < 16; b += 8) {
        two_point(v[b], v[b + 4]);
        forward_butterfly(v, b, 4, 8, 1, c[2], s[2]);
    }
    two_point(v[0], v[8]);
    VELORIN_LANES_UNROLL16
    for (int j = 1; j < 4; ++j) forward_butterfly(v, 0, 8, 16, j, c[j], s[j]);
}

template <class V>
VELORIN_LANES_INLINE void inverse_sixteen(V* v, const V* c, const V* s) {
    two_point(v[0], v[8]);
    VELORIN_LANES_UNROLL16
    for (int j = 1; j < 4; ++j) inverse_butterfly(v, 0, 8, 16, j, c[j], s[j]);
    VELORIN_LANES_UNROLL16
    for (int b = 0; b < 16; b += 8) {
        two_point(v[b], v[b + 4]);
        inverse_butterfly(v, b, 4, 8, 1, c[2], s[2]);
    }
    VELORIN_LANES_UNROLL16
    for (int b = 0; b < 16; b += 4) two_point(v[b], v[b + 2]);
    VELORIN_LANES_UNROLL16
    for (int b = 0; b < 16; b += 2) two_point(v[b], v[b + 1]);
}

// Blocks of 64: the first pass runs the stages of size 2 .. 16 on each of a
// block's four blocks of 16, then those of size 32 and 64.
constexpr int block_size = 64;

// The six bits of k turned over: the block of 64 at 64 * d, read in
// bit-reversed order, is the input's values at reversed6[k] * (n / 64) +
// reverse(d), k = 0 .. 63, where reverse turns over the low bits of d. For g a
// multiple of the lane count, the blocks whose reverse are g, g + 1, ... thus
// lie side by side in the input.
struct Reversed6 {
    int at[block_size];
};
constexpr Reversed6 make_reversed6() {
    Reversed6 r{};
    for (int k = 0; k < block_size; ++k)
        for (int b = 0; b < 6; ++b) r.at[k] |= ((k >> b) & 1) << (5 - b);
    return r;
}
constexpr Reversed6 reversed6 = make_reversed6();

// The twiddles of a block of 64's stages of size 16, 32 and 64, one value per
// lane: c[at16 + j] is the cosine at j * n / 16 (j = 1 .. 3), c[at32 + j] at
// j * n / 32 (j = 1 .. 7), c[at64 + j] at j * n / 64 (j = 1 .. 15).
constexpr int at16 = 0, at32 = 4, at64 = 12, block_twiddle_count = 28;
struct BlockTwiddles {
    double c[block_twiddle_count];
    double s[block_twiddle_count];
};

inline BlockTwiddles block_twiddles(int n, const double* tw) {
    BlockTwiddles w{};
    const int firsts[3] = {at16, at32, at64};
    for (int stage = 0; stage < 3; ++stage) {
        const int size = 16 << stage, stride = n / size;
        for (int j = 1; j < size / 4; ++j) {
            w.c[firsts[stage] + j] = tw[2 * (j * stride)];
            w.s[firsts[stage] + j] = tw[2 * (j * stride) + 1];
        }
    }
    return w;
}

// The stages of size 32 and 64 of a block of 64 held in v[0 .. 63], in
// groups of eight values that no other butterfly of the two stages touches:
// for j = 1 .. 7, the butterflies j of both blocks of 32, then j and 16 - j of
// the block of 64. Each value still meets its stages in their order.
template <class V>
VELORIN_LANES_INLINE void forward_upper_stages(V* v, const V* c, const V* s) {
    two_point(v[0], v[16]);
    two_point(v[32], v[48]);
    two_point(v[0], v[32]);
    for (int j = 1; j < 8; ++j) {
        V e[8] = {v[j],      v[16 - j], v[16 + j], v[32 - j],
                  v[32 + j], v[48 - j], v[48 + j], v[64 - j]};
        forward_group(e, c[at32 + j], s[at32 + j], c[at64 + j], s[at64 + j], c[at64 + 16 - j],
                      s[at64 + 16 - j]);
        v[j] = e[0], v[16 - j] = e[1], v[16 + j] = e[2], v[32 - j] = e[3];
        v[32 + j] = e[4], v[48 - j] = e[5], v[48 + j] = e[6], v[64 - j] = e[7];
    }
    forward_butterfly(v[8], v[24], v[40], v[56], c[at64 + 8], s[at64 + 8]);
}

template <class V>
VELORIN_LANES_INLINE void inverse_upper_stages(V* v, const V* c, const V* s) {
    two_point(v[0], v[32]);
    two_point(v[0], v[16]);
    two_point(v[32], v[48]);
    inverse_butterfly(v[8], v[24], v[40], v[56], c[at64 + 8], s[at64 + 8]);
    for (int j = 1; j < 8; ++j) {
        V e[8] = {v[j],      v[16 - j], v[16 + j], v[32 - j],
                  v[32 + j], v[48 - j], v[48 + j], v[64 - j]};
        inverse_group(e, c[at32 + j], s[at32 + j], c[at64 + j], s[at64 + j], c[at64 + 16 - j],
                      s[at64 + 16 - j]);
        v[j] = e[0], v[16 - j] = e[1], v[16 + j] = e[2], v[32 - j] = e[3];
        v[32 + j] = e[4], v[48 - j] = e[5], v[48 + j] = e[6], v[64 - j] = e[7];
    }
}

// ---- Side by side ---------------------------------------------------------

// Elements that the butterfly loops walk downwards (b + half - j,
// b + size - j) are loaded and stored with their lanes turned round.
template <class V>
VELORIN_LANES_INLINE V load_down(const double* a, int i) {  // a[i], a[i - 1], ...
    return reverse(V::load(a + i - (V::n - 1)));
}
template <class V>
VELORIN_LANES_INLINE void store_down(double* a, int i, V v) {
    store(a + i - (V::n - 1), reverse(v));
}

// The twiddles at j * stride, (j + 1) * stride, ... (or j - 1, ... when
// `down`), one per lane; each (cosine, sine) pair is loaded whole.
template <class V>
VELORIN_LANES_INLINE void twiddles(const double* tw, int j, int stride, bool down, V* c, V* s) {
    load_pairs(tw + 2 * (j * stride), down ? -2 * stride : 2 * stride, c, s);
}

// The place of lane t's block: blocks side by side in the lanes hold the
// blocks whose reverse is g, g + 1, ..., and the reverse of g + t is
// reverse(g) plus t turned over in log2(V::n) bits, times q / V::n.
template <class V>
inline int lane_block_offset(int t, int q) {
    int turned = 0;
    for (int bit = 1, top = V::n / 2; bit < V::n; bit *= 2, top /= 2)
        if (t & bit) turned |= top;
    return block_size * (turned * (q / V::n));
}

// The first six forward stages, from the input copy `from` into a, V::n
// blocks of 64 side by side: lane t holds the block whose reverse is g + t.
// n >= 64 V::n. Q > 0: n / 64 known when compiling, which turns the 64 read
// offsets into constants.
template <class V, int Q>
void forward_first_stages(int n, const double* from, double* a, const double* tw) {
    const BlockTwiddles t = block_twiddles(n, tw);
    V c[block_twiddle_count], s[block_twiddle_count];
    for (int i = 0; i < block_twiddle_count; ++i) {
        c[i] = V::splat(t.c[i]);
        s[i] = V::splat(t.s[i]);
    }
    const int q = Q > 0 ? Q : n / block_size;
    int r = 0;  // g, bit-reversed: the block
    for (int g = 0; g < q; g += V::n) {
        V v[block_size];
        VELORIN_LANES_UNROLL16
        for (int sub = 0; sub < block_size; sub += 16) {
            V x[16];
            VELORIN_LANES_UNROLL16
            for (int k = 0; k < 16; ++k) x[k] = V::load(from + reversed6.at[sub + k] * q + g);
            forward_sixteen(x, c + at16, s + at16);
            VELORIN_LANES_UNROLL16
            for (int k = 0; k < 16; ++k) v[sub + k] = x[k];
        }
        forward_upper_stages(v, c, s);
        double* d[V::n];
        for (int l = 0; l < V::n; ++l) d[l] = a + block_size * r + lane_block_offset<V>(l, q);
        for (int k = 0; k < block_size; k += V::n) {
            V rows[V::n];
            transpose(v + k, rows);
            for (int l = 0; l < V::n; ++l) store(d[l] + k, rows[l]);
        }
        r = reversed_add(r, q / (2 * V::n));
    }
}

// The last six inverse stages, from the copy `from` of the block into a in
// bit-reversed order, V::n blocks side by side. n >= 64 V::n.
template <class V, int Q>
void inverse_last_stages(int n, const double* from, double* a, const double* tw) {
    const BlockTwiddles t = block_twiddles(n, tw);
    V c[block_twiddle_count], s[block_twiddle_count];
    for (int i = 0; i < block_twiddle_count; ++i) {
        c[i] = V::splat(t.c[i]);
        s[i] = V::splat(t.s[i]);
    }
    const int q = Q > 0 ? Q : n / block_size;
    int r = 0;
    for (int g = 0; g < q; g += V::n) {
        V v[block_size];
        const double* d[V::n];
        for (int l = 0; l < V::n; ++l) d[l] = from + block_size * r + lane_block_offset<V>(l, q);
        for (int k = 0; k < block_size; k += V::n) {
            V rows[V::n];
            for (int l = 0; l < V::n; ++l) rows[l] = V::load(d[l] + k);
            transpose(rows, v + k);
        }
        inverse_upper_stages(v, c, s);
        VELORIN_LANES_UNROLL16
        for (int sub = 0; sub < block_size; sub += 16) {
            V x[16];
            VELORIN_LANES_UNROLL16
            for (int k = 0; k < 16; ++k) x[k] = v[sub + k];
            inverse_sixteen(x, c + at16, s + at16);
            VELORIN_LANES_UNROLL16
            for (int k = 0; k < 16; ++k) store(a + reversed6.at[sub + k] * q + g, x[k]);
        }
        r = reversed_add(r, q / (2 * V::n));
    }
}

// The butterflies j, j + 1, ... below size / 4 of the stage of `size`, for
// all blocks, V::n at a time while they fill the lanes, then with narrower
// lanes down to one at a time; Forward picks the direction.
template <class V, bool Forward>
void stage_from(double* a, int n, int size, int j, const double* tw) {
    const int half = size / 2, quarter = size / 4, stride = n / size;
    for (; j + V::n <= quarter; j += V::n) {
        V c, s;
        twiddles(tw, j, stride, false, &c, &s);
        for (int b = 0; b < n; b += size) {
            const int i1 = b + j, i2 = b + half - j, i3 = b + half + j, i4 = b + size - j;
            V a1 = V::load(a + i1), a2 = load_down<V>(a, i2);
            V a3 = V::load(a + i3), a4 = load_down<V>(a, i4);
            if (Forward)
                forward_butterfly(a1, a2, a3, a4, c, s);
            else
                inverse_butterfly(a1, a2, a3, a4, c, s);
            store(a + i1, a1);
            store_down(a, i2, a2);
            store(a + i3, a3);
            store_down(a, i4, a4);
        }
    }
    if constexpr (V::n > 1) stage_from<typename V::Half, Forward>(a, n, size, j, tw);
}

// The stages from size `first` up to n.
template <class V>
void forward_stages(int n, int first, double* a, const double* tw) {
    for (int size = first; size <= n; size *= 2) {
        two_points(a, n, size);
        stage_from<V, true>(a, n, size, 1, tw);
    }
}

// The stages from size `top` down to `last`.
template <class V>
void inverse_stages(int n, int top, int last, double* a, const double* tw) {
    for (int size = top; size >= last; size /= 2) {
        two_points(a, n, size);
        stage_from<V, false>(a, n, size, 1, tw);
    }
}

// The stages of size and 2 * size together (see forward_group), for blocks
// of 2 * size, reading `from` and writing `to` (the same block, or a copy:
// every value is read once, then written once): the groups j, j + 1, ...
// below size / 4, V::n at a time while they fill the lanes, then with
// narrower lanes down to one at a time.
template <class V, bool Forward>
VELORIN_LANES_INLINE void pair_groups(int n, int size, int j, const double* from, double* to,
                                      const double* tw) {
    const int half = size / 2, quarter = size / 4, stride = n / size, stride2 = stride / 2;
    for (; j + V::n <= quarter; j += V::n) {
        V c1, s1, c2, s2, c3, s3;
        twiddles(tw, j, stride, false, &c1, &s1);
        twiddles(tw, j, stride2, false, &c2, &s2);
        twiddles(tw, half - j, stride2, true, &c3, &s3);
        for (int b = 0; b < n; b += 2 * size) {
            const double* p = from + b;
            double* d = to + b;
            V e[8] = {V::load(p + j),
                      load_down<V>(p, half - j),
                      V::load(p + half + j),
                      load_down<V>(p, size - j),
                      V::load(p + size + j),
                      load_down<V>(p, size + half - j),
                      V::load(p + size + half + j),
                      load_down<V>(p, 2 * size - j)};
            if (Forward)
                forward_group(e, c1, s1, c2, s2, c3, s3);
            else
                inverse_group(e, c1, s1, c2, s2, c3, s3);
            store(d + j, e[0]);
            store_down(d, half - j, e[1]);
            store(d + half + j, e[2]);
            store_down(d, size - j, e[3]);
            store(d + size + j, e[4]);
            store_down(d, size + half - j, e[5]);
            store(d + size + half + j, e[6]);
            store_down(d, 2 * size - j, e[7]);
        }
    }
    if constexpr (V::n > 1) pair_groups<typename V::Half, Forward>(n, size, j, from, to, tw);
}

// The whole pair of stages: first the values that take the two-point
// butterflies and the butterfly size / 4 of the larger stage, then the
// groups. N, Size > 0: the sizes known when compiling, which spares the
// index arithmetic of the blocks the renderer transforms.
template <class V, bool Forward, int N, int Size>
void stage_pair(int n, int size, const double* from, double* to, const double* tw) {
    if (N > 0) n = N, size = Size;
    const int half = size / 2, quarter = size / 4, stride2 = n / size / 2;
    {
        const double c = tw[2 * (quarter * stride2)], s = tw[2 * (quarter * stride2) + 1];
        const int at[8] = {0,       half,           size,           size + half,
                           quarter, half + quarter, size + quarter, size + half + quarter};
        for (int b = 0; b < n; b += 2 * size) {
            double e[8];
            for (int i = 0; i < 8; ++i) e[i] = from[b + at[i]];
            if (Forward) {
                two_point(e[0], e[1]);
                two_point(e[2], e[3]);
                two_point(e[0], e[2]);
                forward_butterfly(e[4], e[5], e[6], e[7], c, s);
            } else {
                two_point(e[0], e[2]);
                inverse_butterfly(e[4], e[5], e[6], e[7], c, s);
                two_point(e[0], e[1]);
                two_point(e[2], e[3]);
            }
            for (int i = 0; i < 8; ++i) to[b + at[i]] = e[i];
        }
    }
    pair_groups<V, Forward>(n, size, 1, from, to, tw);
}

// The stage pair of the renderer's transforms with their sizes known.
template <class V, bool Forward>
void stage_pair_of(int n, int size, const double* from, double* to, const double* tw) {
    if (n == 1024 && size == 128) return stage_pair<V, Forward, 1024, 128>(n, size, from, to, tw);
    if (n == 1024 && size == 512) return stage_pair<V, Forward, 1024, 512>(n, size, from, to, tw);
    stage_pair<V, Forward, 0, 0>(n, size, from, to, tw);
}

// The first six stages of both directions at the widest lanes n allows.
template <class V>
void first_stages(int n, const double* from, double* a, const double* tw) {
    if (n == 1024 && V::n <= 16) return forward_first_stages<V, 16>(n, from, a, tw);
    if (n >= block_size * V::n) return forward_first_stages<V, 0>(n, from, a, tw);
    forward_first_stages<lanes::Scalar, 0>(n, from, a, tw);
}

template <class V>
void last_stages(int n, const double* from, double* a, const double* tw) {
    if (n == 1024 && V::n <= 16) return inverse_last_stages<V, 16>(n, from, a, tw);
    if (n >= block_size * V::n) return inverse_last_stages<V, 0>(n, from, a, tw);
    inverse_last_stages<lanes::Scalar, 0>(n, from, a, tw);
}

// The transforms of 64 .. max_gathered values, with no permutation: the
// forward transform's first six stages read the input in bit-reversed order
// into a copy, the next two come back, and the later stages go two at a
// time; the inverse mirrors it.
template <class V>
void forward_gathered(int n, double* a, const double* tw) {
    alignas(32) double copy[max_gathered];
    int size = 2 * block_size;
    if (2 * size <= n) {
        first_stages<V>(n, a, copy, tw);
        stage_pair_of<V, true>(n, size, copy, a, tw);
        size *= 4;
    } else {
        std::memcpy(copy, a, sizeof(double) * static_cast<size_t>(n));
        first_stages<V>(n, copy, a, tw);
    }
    for (; 2 * size <= n; size *= 4) stage_pair_of<V, true>(n, size, a, a, tw);
    if (size <= n) forward_stages<V>(n, size, a, tw);
}

template <class V>
void inverse_gathered(int n, double* a, const double* tw) {
    alignas(32) double copy[max_gathered];
    int size = n;
    for (; size / 2 > 2 * block_size; size /= 4) stage_pair_of<V, false>(n, size / 2, a, a, tw);
    if (size / 2 == 2 * block_size) {
        // The last two later stages into the copy, the last six back.
        stage_pair_of<V, false>(n, size / 2, a, copy, tw);
    } else {
        if (size == 2 * block_size) inverse_stages<V>(n, size, size, a, tw);
        std::memcpy(copy, a, sizeof(double) * static_cast<size_t>(n));
    }
    last_stages<V>(n, copy, a, tw);
}

}  // namespace
}  // namespace rfft
}  // namespace velorin
