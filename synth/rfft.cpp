// synth/rfft.cpp: in-place real FFT of a power-of-two block, and its tables.
#include "synth/rfft.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "platform/platform.h"

#if defined(__SSE2__) || defined(__x86_64__)
#include <immintrin.h>
#define VELORIN_RFFT_SSE2 1
#endif

namespace velorin {

namespace {

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

constexpr double table_sin(double x) {
    double r = 0.0, rl = 0.0;
    switch (reduce(x, &r, &rl)) {
        case 0:
            return kernel_sin(r, rl);
        case 1:
            return kernel_cos(r, rl);
        case 2:
            return -kernel_sin(r, rl);
        default:
            return -kernel_cos(r, rl);
    }
}

constexpr double table_cos(double x) {
    double r = 0.0, rl = 0.0;
    switch (reduce(x, &r, &rl)) {
        case 0:
            return kernel_cos(r, rl);
        case 1:
            return -kernel_sin(r, rl);
        case 2:
            return -kernel_cos(r, rl);
        default:
            return kernel_sin(r, rl);
    }
}

// The final (m, l) of the bit-reversal table's construction for size n:
// m == l for even powers of two, 2m == l for odd ones.
void bitrev_shape(int n, int* m_out, int* l_out) {
    int l = n;
    int m = 1;
    do {
        l /= 2;
        m *= 2;
    } while (2 * m < l);
    *m_out = m;
    *l_out = l;
}

// Puts the block into bit-reversed order. Each k < m pairs with every j < k
// through the table's offsets; for odd powers of two the upper half of every
// pair of rows is swapped the same way, m further on.
void bitrev_permute(int n, double* a, const int32_t* ip) {
    if (n <= 2) return;
    int m = 0, l = 0;
    bitrev_shape(n, &m, &l);
    const bool odd = 2 * m == l;
    for (int k = 1; k < m; ++k) {
        for (int j = 0; j < k; ++j) {
            std::swap(a[j + ip[k]], a[k + ip[j]]);
            if (odd) std::swap(a[j + ip[k] + m], a[k + ip[j] + m]);
        }
    }
}

#if defined(__GNUC__)
#define VELORIN_RFFT_INLINE inline __attribute__((always_inline))
#else
#define VELORIN_RFFT_INLINE inline
#endif
// Loops over the 16 values of a block unroll completely, so that the values
// stay in registers.
#if defined(__GNUC__)
#define VELORIN_RFFT_UNROLL _Pragma("GCC unroll 16")
#else
#define VELORIN_RFFT_UNROLL
#endif

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
VELORIN_RFFT_INLINE void two_points(double* a, int n, int size) {
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
VELORIN_RFFT_INLINE void forward_butterfly(V& x1, V& x2, V& x3, V& x4, const V& c, const V& s) {
    const V a1 = x1, a2 = x2, a3 = x3, a4 = x4;
    const V t1 = a4 * c + a3 * s;
    const V t2 = a3 * c - a4 * s;
    x3 = t1 - a2;
    x4 = t1 + a2;
    x2 = a1 - t2;
    x1 = a1 + t2;
}

template <class V>
VELORIN_RFFT_INLINE void inverse_butterfly(V& x1, V& x2, V& x3, V& x4, const V& c, const V& s) {
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
VELORIN_RFFT_INLINE void forward_butterfly(V* v, int b, int half, int size, int j, const V& c,
                                           const V& s) {
    forward_butterfly(v[b + j], v[b + half - j], v[b + half + j], v[b + size - j], c, s);
}

template <class V>
VELORIN_RFFT_INLINE void inverse_butterfly(V* v, int b, int half, int size, int j, const V& c,
                                           const V& s) {
    inverse_butterfly(v[b + j], v[b + half - j], v[b + half + j], v[b + size - j], c, s);
}

// The two-point butterfly (b, b + half), the same in both directions.
template <class V>
VELORIN_RFFT_INLINE void two_point(V& x, V& y) {
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
VELORIN_RFFT_INLINE void forward_group(V* e, const V& c1, const V& s1, const V& c2, const V& s2,
                                       const V& c3, const V& s3) {
    forward_butterfly(e[0], e[1], e[2], e[3], c1, s1);
    forward_butterfly(e[4], e[5], e[6], e[7], c1, s1);
    forward_butterfly(e[0], e[3], e[4], e[7], c2, s2);
    forward_butterfly(e[1], e[2], e[5], e[6], c3, s3);
}

template <class V>
VELORIN_RFFT_INLINE void inverse_group(V* e, const V& c1, const V& s1, const V& c2, const V& s2,
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
VELORIN_RFFT_INLINE void forward_sixteen(V* v, const V* c, const V* s) {
    VELORIN_RFFT_UNROLL
    for (int b = 0; b < 16; b += 2) two_point(v[b], v[b + 1]);
    VELORIN_RFFT_UNROLL
    for (int b = 0; b < 16; b += 4) two_point(v[b], v[b + 2]);
    VELORIN_RFFT_UNROLL
    for (int b = 0; b < 16; b += 8) {
        two_point(v[b], v[b + 4]);
        forward_butterfly(v, b, 4, 8, 1, c[2], s[2]);
    }
    two_point(v[0], v[8]);
    VELORIN_RFFT_UNROLL
    for (int j = 1; j < 4; ++j) forward_butterfly(v, 0, 8, 16, j, c[j], s[j]);
}

template <class V>
VELORIN_RFFT_INLINE void inverse_sixteen(V* v, const V* c, const V* s) {
    two_point(v[0], v[8]);
    VELORIN_RFFT_UNROLL
    for (int j = 1; j < 4; ++j) inverse_butterfly(v, 0, 8, 16, j, c[j], s[j]);
    VELORIN_RFFT_UNROLL
    for (int b = 0; b < 16; b += 8) {
        two_point(v[b], v[b + 4]);
        inverse_butterfly(v, b, 4, 8, 1, c[2], s[2]);
    }
    VELORIN_RFFT_UNROLL
    for (int b = 0; b < 16; b += 4) two_point(v[b], v[b + 2]);
    VELORIN_RFFT_UNROLL
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

BlockTwiddles block_twiddles(int n, const double* tw) {
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
VELORIN_RFFT_INLINE void forward_upper_stages(V* v, const V* c, const V* s) {
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
VELORIN_RFFT_INLINE void inverse_upper_stages(V* v, const V* c, const V* s) {
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

// The first six forward stages, one block at a time, from the input copy
// `from` into a. n >= 64.
void forward_first_stages_scalar(int n, const double* from, double* a, const double* tw) {
    const BlockTwiddles w = block_twiddles(n, tw);
    const double* c = w.c;
    const double* s = w.s;
    const int q = n / block_size;
    int r = 0;  // g, bit-reversed: the block
    for (int g = 0; g < q; ++g) {
        double* v = a + block_size * r;
        for (int k = 0; k < block_size; ++k) v[k] = from[reversed6.at[k] * q + g];
        for (int sub = 0; sub < block_size; sub += 16) forward_sixteen(v + sub, c + at16, s + at16);
        forward_upper_stages(v, c, s);
        r = reversed_add(r, q / 2);
    }
}

// The last six inverse stages, from the copy `from` of the block into a in
// bit-reversed order. n >= 64.
void inverse_last_stages_scalar(int n, const double* from, double* a, const double* tw) {
    const BlockTwiddles w = block_twiddles(n, tw);
    const double* c = w.c;
    const double* s = w.s;
    const int q = n / block_size;
    int r = 0;
    for (int g = 0; g < q; ++g) {
        double v[block_size];
        for (int k = 0; k < block_size; ++k) v[k] = from[block_size * r + k];
        inverse_upper_stages(v, c, s);
        for (int sub = 0; sub < block_size; sub += 16) inverse_sixteen(v + sub, c + at16, s + at16);
        for (int k = 0; k < block_size; ++k) a[reversed6.at[k] * q + g] = v[k];
        r = reversed_add(r, q / 2);
    }
}

#ifdef VELORIN_RFFT_SSE2
// Elements that the butterfly loops walk downwards (b + half - j,
// b + size - j) are loaded and stored with their lanes swapped.
inline __m128d load_down(const double* a, int i) {  // a[i], a[i - 1]
    const __m128d v = _mm_loadu_pd(a + i - 1);
    return _mm_shuffle_pd(v, v, 1);
}
inline void store_down(double* a, int i, __m128d v) {
    _mm_storeu_pd(a + i - 1, _mm_shuffle_pd(v, v, 1));
}
inline __m128d twiddle_pair(const double* twiddles, int j, int stride, int part) {
    return _mm_loadh_pd(_mm_load_sd(twiddles + 2 * (j * stride) + part),
                        twiddles + 2 * ((j + 1) * stride) + part);
}
inline __m128d twiddle_pair_down(const double* twiddles, int j, int stride, int part) {
    return _mm_loadh_pd(_mm_load_sd(twiddles + 2 * (j * stride) + part),
                        twiddles + 2 * ((j - 1) * stride) + part);
}

// Two blocks of 64 side by side: lane t holds the block whose reverse is
// g + t. n >= 128.
void forward_first_stages_sse2(int n, const double* from, double* a, const double* tw) {
    const BlockTwiddles t = block_twiddles(n, tw);
    __m128d c[block_twiddle_count], s[block_twiddle_count];
    for (int i = 0; i < block_twiddle_count; ++i) {
        c[i] = _mm_set1_pd(t.c[i]);
        s[i] = _mm_set1_pd(t.s[i]);
    }
    const int q = n / block_size;
    int r = 0;
    for (int g = 0; g < q; g += 2) {
        __m128d v[block_size];
        VELORIN_RFFT_UNROLL
        for (int sub = 0; sub < block_size; sub += 16) {
            __m128d x[16];
            VELORIN_RFFT_UNROLL
            for (int k = 0; k < 16; ++k) x[k] = _mm_loadu_pd(from + reversed6.at[sub + k] * q + g);
            forward_sixteen(x, c + at16, s + at16);
            VELORIN_RFFT_UNROLL
            for (int k = 0; k < 16; ++k) v[sub + k] = x[k];
        }
        forward_upper_stages(v, c, s);
        double* d0 = a + block_size * r;  // reverse(g)
        double* d1 = d0 + 32 * q;         // reverse(g + 1)
        for (int k = 0; k < block_size; k += 2) {
            _mm_storeu_pd(d0 + k, _mm_unpacklo_pd(v[k], v[k + 1]));
            _mm_storeu_pd(d1 + k, _mm_unpackhi_pd(v[k], v[k + 1]));
        }
        r = reversed_add(r, q / 4);
    }
}

void inverse_last_stages_sse2(int n, const double* from, double* a, const double* tw) {
    const BlockTwiddles t = block_twiddles(n, tw);
    __m128d c[block_twiddle_count], s[block_twiddle_count];
    for (int i = 0; i < block_twiddle_count; ++i) {
        c[i] = _mm_set1_pd(t.c[i]);
        s[i] = _mm_set1_pd(t.s[i]);
    }
    const int q = n / block_size;
    int r = 0;
    for (int g = 0; g < q; g += 2) {
        __m128d v[block_size];
        const double* d0 = from + block_size * r;
        const double* d1 = d0 + 32 * q;
        for (int k = 0; k < block_size; k += 2) {
            const __m128d r0 = _mm_loadu_pd(d0 + k), r1 = _mm_loadu_pd(d1 + k);
            v[k] = _mm_unpacklo_pd(r0, r1);
            v[k + 1] = _mm_unpackhi_pd(r0, r1);
        }
        inverse_upper_stages(v, c, s);
        VELORIN_RFFT_UNROLL
        for (int sub = 0; sub < block_size; sub += 16) {
            __m128d x[16];
            VELORIN_RFFT_UNROLL
            for (int k = 0; k < 16; ++k) x[k] = v[sub + k];
            inverse_sixteen(x, c + at16, s + at16);
            VELORIN_RFFT_UNROLL
            for (int k = 0; k < 16; ++k) _mm_storeu_pd(a + reversed6.at[sub + k] * q + g, x[k]);
        }
        r = reversed_add(r, q / 4);
    }
}
#endif

// The butterflies j, j + 1, ... below quarter of one stage, for all blocks:
// two at a time, then the last one alone.
VELORIN_RFFT_INLINE void forward_tail(double* a, int n, int size, int j, const double* tw) {
    const int half = size / 2, quarter = size / 4, stride = n / size;
#ifdef VELORIN_RFFT_SSE2
    for (; j + 1 < quarter; j += 2) {
        const __m128d c = twiddle_pair(tw, j, stride, 0);
        const __m128d s = twiddle_pair(tw, j, stride, 1);
        for (int b = 0; b < n; b += size) {
            const int i1 = b + j, i2 = b + half - j, i3 = b + half + j, i4 = b + size - j;
            const __m128d a1 = _mm_loadu_pd(a + i1), a2 = load_down(a, i2);
            const __m128d a3 = _mm_loadu_pd(a + i3), a4 = load_down(a, i4);
            const __m128d t1 = _mm_add_pd(_mm_mul_pd(a4, c), _mm_mul_pd(a3, s));
            const __m128d t2 = _mm_sub_pd(_mm_mul_pd(a3, c), _mm_mul_pd(a4, s));
            _mm_storeu_pd(a + i3, _mm_sub_pd(t1, a2));
            store_down(a, i4, _mm_add_pd(t1, a2));
            store_down(a, i2, _mm_sub_pd(a1, t2));
            _mm_storeu_pd(a + i1, _mm_add_pd(a1, t2));
        }
    }
#endif
    for (; j < quarter; ++j) {
        const double c = tw[2 * (j * stride)];
        const double s = tw[2 * (j * stride) + 1];
        for (int b = 0; b < n; b += size) forward_butterfly(a, b, half, size, j, c, s);
    }
}

VELORIN_RFFT_INLINE void inverse_tail(double* a, int n, int size, int j, const double* tw) {
    const int half = size / 2, quarter = size / 4, stride = n / size;
#ifdef VELORIN_RFFT_SSE2
    for (; j + 1 < quarter; j += 2) {
        const __m128d c = twiddle_pair(tw, j, stride, 0);
        const __m128d s = twiddle_pair(tw, j, stride, 1);
        for (int b = 0; b < n; b += size) {
            const int i1 = b + j, i2 = b + half - j, i3 = b + half + j, i4 = b + size - j;
            const __m128d a1 = _mm_loadu_pd(a + i1), a2 = load_down(a, i2);
            const __m128d a3 = _mm_loadu_pd(a + i3), a4 = load_down(a, i4);
            const __m128d p = _mm_add_pd(a3, a4);
            const __m128d q = _mm_sub_pd(a1, a2);
            _mm_storeu_pd(a + i1, _mm_add_pd(a1, a2));
            store_down(a, i2, _mm_sub_pd(a4, a3));
            _mm_storeu_pd(a + i3, _mm_add_pd(_mm_mul_pd(p, s), _mm_mul_pd(q, c)));
            store_down(a, i4, _mm_sub_pd(_mm_mul_pd(p, c), _mm_mul_pd(q, s)));
        }
    }
#endif
    for (; j < quarter; ++j) {
        const double c = tw[2 * (j * stride)];
        const double s = tw[2 * (j * stride) + 1];
        for (int b = 0; b < n; b += size) inverse_butterfly(a, b, half, size, j, c, s);
    }
}

// The stages of size and 2 * size together (see forward_group), for blocks
// of 2 * size, reading `from` and writing `to` (the same block, or a copy:
// every value is read once, then written once). First the values that take
// the two-point butterflies and the butterfly size / 4 of the larger stage.
template <bool Forward>
VELORIN_RFFT_INLINE void pair_ends(const double* from, double* to, int n, int size,
                                   const double* tw) {
    const int half = size / 2, quarter = size / 4, stride2 = n / size / 2;
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

// Then the groups j, j + 1, ... below size / 4: two at a time, then one.
template <bool Forward>
VELORIN_RFFT_INLINE void pair_tail(const double* from, double* to, int n, int size, int j,
                                   const double* tw) {
    const int half = size / 2, quarter = size / 4, stride = n / size, stride2 = stride / 2;
#ifdef VELORIN_RFFT_SSE2
    for (; j + 1 < quarter; j += 2) {
        const __m128d c1 = twiddle_pair(tw, j, stride, 0), s1 = twiddle_pair(tw, j, stride, 1);
        const __m128d c2 = twiddle_pair(tw, j, stride2, 0), s2 = twiddle_pair(tw, j, stride2, 1);
        const __m128d c3 = twiddle_pair_down(tw, half - j, stride2, 0);
        const __m128d s3 = twiddle_pair_down(tw, half - j, stride2, 1);
        for (int b = 0; b < n; b += 2 * size) {
            const double* p = from + b;
            double* d = to + b;
            __m128d e[8] = {_mm_loadu_pd(p + j),
                            load_down(p, half - j),
                            _mm_loadu_pd(p + half + j),
                            load_down(p, size - j),
                            _mm_loadu_pd(p + size + j),
                            load_down(p, size + half - j),
                            _mm_loadu_pd(p + size + half + j),
                            load_down(p, 2 * size - j)};
            if (Forward)
                forward_group(e, c1, s1, c2, s2, c3, s3);
            else
                inverse_group(e, c1, s1, c2, s2, c3, s3);
            _mm_storeu_pd(d + j, e[0]);
            store_down(d, half - j, e[1]);
            _mm_storeu_pd(d + half + j, e[2]);
            store_down(d, size - j, e[3]);
            _mm_storeu_pd(d + size + j, e[4]);
            store_down(d, size + half - j, e[5]);
            _mm_storeu_pd(d + size + half + j, e[6]);
            store_down(d, 2 * size - j, e[7]);
        }
    }
#endif
    for (; j < quarter; ++j) {
        const double c1 = tw[2 * (j * stride)], s1 = tw[2 * (j * stride) + 1];
        const double c2 = tw[2 * (j * stride2)], s2 = tw[2 * (j * stride2) + 1];
        const double c3 = tw[2 * ((half - j) * stride2)], s3 = tw[2 * ((half - j) * stride2) + 1];
        const int at[8] = {j,        half - j,        half + j,        size - j,
                           size + j, size + half - j, size + half + j, 2 * size - j};
        for (int b = 0; b < n; b += 2 * size) {
            double e[8];
            for (int i = 0; i < 8; ++i) e[i] = from[b + at[i]];
            if (Forward)
                forward_group(e, c1, s1, c2, s2, c3, s3);
            else
                inverse_group(e, c1, s1, c2, s2, c3, s3);
            for (int i = 0; i < 8; ++i) to[b + at[i]] = e[i];
        }
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// Four butterflies or blocks side by side, for processors with AVX.
__attribute__((target("avx"))) inline __m256d reverse4(__m256d v) {
    return _mm256_permute_pd(_mm256_permute2f128_pd(v, v, 1), 5);
}
__attribute__((target("avx"))) inline __m256d load_down4(const double* a, int i) {
    return reverse4(_mm256_loadu_pd(a + i - 3));  // a[i], a[i - 1], a[i - 2], a[i - 3]
}
__attribute__((target("avx"))) inline void store_down4(double* a, int i, __m256d v) {
    _mm256_storeu_pd(a + i - 3, reverse4(v));
}
// The twiddles at j * stride, (j + 1) * stride, ... (or j - 1, ... with
// `down`) for four lanes: each (cosine, sine) pair is loaded whole.
__attribute__((target("avx"))) inline void twiddles_four(const double* tw, int j, int stride,
                                                         bool down, __m256d* c, __m256d* s) {
    const double* p = tw + 2 * (j * stride);
    const int step = down ? -2 * stride : 2 * stride;
    const __m256d x = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(p)),
                                           _mm_loadu_pd(p + 2 * step), 1);  // c0 s0 c2 s2
    const __m256d y = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(p + step)),
                                           _mm_loadu_pd(p + 3 * step), 1);  // c1 s1 c3 s3
    *c = _mm256_unpacklo_pd(x, y);
    *s = _mm256_unpackhi_pd(x, y);
}

// Rows p[0 .. 3] + k to columns and back: v[i] lane t is p[t][k + i].
__attribute__((target("avx"))) inline void transpose4(const __m256d* in, __m256d* out) {
    const __m256d t0 = _mm256_unpacklo_pd(in[0], in[1]);  // in0[0] in1[0] in0[2] in1[2]
    const __m256d t1 = _mm256_unpackhi_pd(in[0], in[1]);  // in0[1] in1[1] in0[3] in1[3]
    const __m256d t2 = _mm256_unpacklo_pd(in[2], in[3]);
    const __m256d t3 = _mm256_unpackhi_pd(in[2], in[3]);
    out[0] = _mm256_permute2f128_pd(t0, t2, 0x20);
    out[1] = _mm256_permute2f128_pd(t1, t3, 0x20);
    out[2] = _mm256_permute2f128_pd(t0, t2, 0x31);
    out[3] = _mm256_permute2f128_pd(t1, t3, 0x31);
}

// Four blocks of 64 side by side: lane t holds the block whose reverse is
// g + t. n >= 256. Q > 0: n / 64 known when compiling, which turns the 64
// read or write offsets into constants.
template <int Q>
__attribute__((target("avx"), noinline)) void forward_first_stages_avx(int n, const double* from,
                                                                       double* a,
                                                                       const double* tw) {
    const BlockTwiddles t = block_twiddles(n, tw);
    __m256d c[block_twiddle_count], s[block_twiddle_count];
    for (int i = 0; i < block_twiddle_count; ++i) {
        c[i] = _mm256_set1_pd(t.c[i]);
        s[i] = _mm256_set1_pd(t.s[i]);
    }
    const int q = Q > 0 ? Q : n / block_size;
    int r = 0;
    for (int g = 0; g < q; g += 4) {
        __m256d v[block_size];
        VELORIN_RFFT_UNROLL
        for (int sub = 0; sub < block_size; sub += 16) {
            __m256d x[16];
            VELORIN_RFFT_UNROLL
            for (int k = 0; k < 16; ++k)
                x[k] = _mm256_loadu_pd(from + reversed6.at[sub + k] * q + g);
            forward_sixteen(x, c + at16, s + at16);
            VELORIN_RFFT_UNROLL
            for (int k = 0; k < 16; ++k) v[sub + k] = x[k];
        }
        forward_upper_stages(v, c, s);
        // The reverses of g + 1, g + 2, g + 3 are reverse(g) + q/2, q/4, 3q/4.
        double* const d0 = a + block_size * r;
        double* const d[4] = {d0, d0 + 32 * q, d0 + 16 * q, d0 + 48 * q};
        for (int k = 0; k < block_size; k += 4) {
            __m256d rows[4];
            transpose4(v + k, rows);
            VELORIN_RFFT_UNROLL
            for (int i = 0; i < 4; ++i) _mm256_storeu_pd(d[i] + k, rows[i]);
        }
        r = reversed_add(r, q / 8);
    }
}

template <int Q>
__attribute__((target("avx"), noinline)) void inverse_last_stages_avx(int n, const double* from,
                                                                      double* a, const double* tw) {
    const BlockTwiddles t = block_twiddles(n, tw);
    __m256d c[block_twiddle_count], s[block_twiddle_count];
    for (int i = 0; i < block_twiddle_count; ++i) {
        c[i] = _mm256_set1_pd(t.c[i]);
        s[i] = _mm256_set1_pd(t.s[i]);
    }
    const int q = Q > 0 ? Q : n / block_size;
    int r = 0;
    for (int g = 0; g < q; g += 4) {
        __m256d v[block_size];
        const double* const d0 = from + block_size * r;
        const double* const d[4] = {d0, d0 + 32 * q, d0 + 16 * q, d0 + 48 * q};
        for (int k = 0; k < block_size; k += 4) {
            __m256d rows[4];
            VELORIN_RFFT_UNROLL
            for (int i = 0; i < 4; ++i) rows[i] = _mm256_loadu_pd(d[i] + k);
            transpose4(rows, v + k);
        }
        inverse_upper_stages(v, c, s);
        VELORIN_RFFT_UNROLL
        for (int sub = 0; sub < block_size; sub += 16) {
            __m256d x[16];
            VELORIN_RFFT_UNROLL
            for (int k = 0; k < 16; ++k) x[k] = v[sub + k];
            inverse_sixteen(x, c + at16, s + at16);
            VELORIN_RFFT_UNROLL
            for (int k = 0; k < 16; ++k) _mm256_storeu_pd(a + reversed6.at[sub + k] * q + g, x[k]);
        }
        r = reversed_add(r, q / 8);
    }
}
// The stages from size `first` up to n, four butterflies at a time where a
// stage has them.
__attribute__((target("avx"), noinline)) void forward_stages_avx(int n, int first, double* a,
                                                                 const double* tw) {
    for (int size = first; size <= n; size *= 2) {
        const int half = size / 2, quarter = size / 4, stride = n / size;
        two_points(a, n, size);
        int j = 1;
        for (; j + 3 < quarter; j += 4) {
            __m256d c, s;
            twiddles_four(tw, j, stride, false, &c, &s);
            for (int b = 0; b < n; b += size) {
                const int i1 = b + j, i2 = b + half - j, i3 = b + half + j, i4 = b + size - j;
                const __m256d a1 = _mm256_loadu_pd(a + i1), a2 = load_down4(a, i2);
                const __m256d a3 = _mm256_loadu_pd(a + i3), a4 = load_down4(a, i4);
                const __m256d t1 = _mm256_add_pd(_mm256_mul_pd(a4, c), _mm256_mul_pd(a3, s));
                const __m256d t2 = _mm256_sub_pd(_mm256_mul_pd(a3, c), _mm256_mul_pd(a4, s));
                _mm256_storeu_pd(a + i3, _mm256_sub_pd(t1, a2));
                store_down4(a, i4, _mm256_add_pd(t1, a2));
                store_down4(a, i2, _mm256_sub_pd(a1, t2));
                _mm256_storeu_pd(a + i1, _mm256_add_pd(a1, t2));
            }
        }
        forward_tail(a, n, size, j, tw);
    }
}

// The stages from size n down to `last`.
__attribute__((target("avx"), noinline)) void inverse_stages_avx(int n, int top, int last,
                                                                 double* a, const double* tw) {
    for (int size = top; size >= last; size /= 2) {
        const int half = size / 2, quarter = size / 4, stride = n / size;
        two_points(a, n, size);
        int j = 1;
        for (; j + 3 < quarter; j += 4) {
            __m256d c, s;
            twiddles_four(tw, j, stride, false, &c, &s);
            for (int b = 0; b < n; b += size) {
                const int i1 = b + j, i2 = b + half - j, i3 = b + half + j, i4 = b + size - j;
                const __m256d a1 = _mm256_loadu_pd(a + i1), a2 = load_down4(a, i2);
                const __m256d a3 = _mm256_loadu_pd(a + i3), a4 = load_down4(a, i4);
                const __m256d p = _mm256_add_pd(a3, a4);
                const __m256d q = _mm256_sub_pd(a1, a2);
                _mm256_storeu_pd(a + i1, _mm256_add_pd(a1, a2));
                store_down4(a, i2, _mm256_sub_pd(a4, a3));
                _mm256_storeu_pd(a + i3, _mm256_add_pd(_mm256_mul_pd(p, s), _mm256_mul_pd(q, c)));
                store_down4(a, i4, _mm256_sub_pd(_mm256_mul_pd(p, c), _mm256_mul_pd(q, s)));
            }
        }
        inverse_tail(a, n, size, j, tw);
    }
}

// The stages of size and 2 * size together, four groups at a time.
template <bool Forward>
__attribute__((target("avx"))) inline void stage_pair_avx(int n, int size, const double* from,
                                                          double* to, const double* tw) {
    const int half = size / 2, quarter = size / 4, stride = n / size, stride2 = stride / 2;
    int j = 1;
    for (; j + 3 < quarter; j += 4) {
        __m256d c1, s1, c2, s2, c3, s3;
        twiddles_four(tw, j, stride, false, &c1, &s1);
        twiddles_four(tw, j, stride2, false, &c2, &s2);
        twiddles_four(tw, half - j, stride2, true, &c3, &s3);
        for (int b = 0; b < n; b += 2 * size) {
            const double* p = from + b;
            double* d = to + b;
            __m256d e[8] = {_mm256_loadu_pd(p + j),
                            load_down4(p, half - j),
                            _mm256_loadu_pd(p + half + j),
                            load_down4(p, size - j),
                            _mm256_loadu_pd(p + size + j),
                            load_down4(p, size + half - j),
                            _mm256_loadu_pd(p + size + half + j),
                            load_down4(p, 2 * size - j)};
            if (Forward)
                forward_group(e, c1, s1, c2, s2, c3, s3);
            else
                inverse_group(e, c1, s1, c2, s2, c3, s3);
            _mm256_storeu_pd(d + j, e[0]);
            store_down4(d, half - j, e[1]);
            _mm256_storeu_pd(d + half + j, e[2]);
            store_down4(d, size - j, e[3]);
            _mm256_storeu_pd(d + size + j, e[4]);
            store_down4(d, size + half - j, e[5]);
            _mm256_storeu_pd(d + size + half + j, e[6]);
            store_down4(d, 2 * size - j, e[7]);
        }
    }
    pair_tail<Forward>(from, to, n, size, j, tw);
}

// N, Size > 0: the sizes known when compiling, which spares the index
// arithmetic of the blocks the renderer transforms.
template <int N, int Size>
__attribute__((target("avx"), noinline)) void forward_stage_pair_avx(int n, int size,
                                                                     const double* from, double* to,
                                                                     const double* tw) {
    if (N > 0) n = N, size = Size;
    pair_ends<true>(from, to, n, size, tw);
    stage_pair_avx<true>(n, size, from, to, tw);
}

template <int N, int Size>
__attribute__((target("avx"), noinline)) void inverse_stage_pair_avx(int n, int size,
                                                                     const double* from, double* to,
                                                                     const double* tw) {
    if (N > 0) n = N, size = Size;
    pair_ends<false>(from, to, n, size, tw);
    stage_pair_avx<false>(n, size, from, to, tw);
}

bool rfft_wide_lanes() {
    static const bool wide = cpu_has_avx();
    return wide;
}
#endif

void forward_stages(int n, int first, double* a, const double* tw) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (rfft_wide_lanes()) {
        forward_stages_avx(n, first, a, tw);
        return;
    }
#endif
    for (int size = first; size <= n; size *= 2) {
        two_points(a, n, size);
        forward_tail(a, n, size, 1, tw);
    }
}

void inverse_stages(int n, int top, int last, double* a, const double* tw) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (rfft_wide_lanes()) {
        inverse_stages_avx(n, top, last, a, tw);
        return;
    }
#endif
    for (int size = top; size >= last; size /= 2) {
        two_points(a, n, size);
        inverse_tail(a, n, size, 1, tw);
    }
}

void forward_stage_pair(int n, int size, const double* from, double* to, const double* tw) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (rfft_wide_lanes()) {
        if (n == 1024 && size == 128)
            forward_stage_pair_avx<1024, 128>(n, size, from, to, tw);
        else if (n == 1024 && size == 512)
            forward_stage_pair_avx<1024, 512>(n, size, from, to, tw);
        else
            forward_stage_pair_avx<0, 0>(n, size, from, to, tw);
        return;
    }
#endif
    pair_ends<true>(from, to, n, size, tw);
    pair_tail<true>(from, to, n, size, 1, tw);
}

void inverse_stage_pair(int n, int size, const double* from, double* to, const double* tw) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (rfft_wide_lanes()) {
        if (n == 1024 && size == 128)
            inverse_stage_pair_avx<1024, 128>(n, size, from, to, tw);
        else if (n == 1024 && size == 512)
            inverse_stage_pair_avx<1024, 512>(n, size, from, to, tw);
        else
            inverse_stage_pair_avx<0, 0>(n, size, from, to, tw);
        return;
    }
#endif
    pair_ends<false>(from, to, n, size, tw);
    pair_tail<false>(from, to, n, size, 1, tw);
}

void forward_first_stages(int n, const double* from, double* a, const double* tw) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (n == 1024 && rfft_wide_lanes()) return forward_first_stages_avx<16>(n, from, a, tw);
    if (n >= 256 && rfft_wide_lanes()) return forward_first_stages_avx<0>(n, from, a, tw);
#endif
#ifdef VELORIN_RFFT_SSE2
    if (n >= 128) return forward_first_stages_sse2(n, from, a, tw);
#endif
    forward_first_stages_scalar(n, from, a, tw);
}

void inverse_last_stages(int n, const double* from, double* a, const double* tw) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (n == 1024 && rfft_wide_lanes()) return inverse_last_stages_avx<16>(n, from, a, tw);
    if (n >= 256 && rfft_wide_lanes()) return inverse_last_stages_avx<0>(n, from, a, tw);
#endif
#ifdef VELORIN_RFFT_SSE2
    if (n >= 128) return inverse_last_stages_sse2(n, from, a, tw);
#endif
    inverse_last_stages_scalar(n, from, a, tw);
}

// The program's tables (1024-point twiddles, the 1024- and 128-point window
// pairs), evaluated by the compiler with the very functions above: every
// note would otherwise spend about 0.6 million instructions building them.
// A test holds them to the run-time evaluation, entry for entry.
// The tables' definitions, for the compiler and for run time alike.
constexpr void fill_twiddles(double* twiddles, int n) {
    const double d = two_pi / n;
    for (int i = 0; i < n; ++i) {
        twiddles[2 * i] = table_cos(i * d);
        twiddles[2 * i + 1] = table_sin(i * d);
    }
}

constexpr void fill_windows(double* hann, double* sine, int n) {
    const double d = two_pi / n;
    for (int i = 0; i < n; ++i) {
        hann[i] = 0.5 - 0.5 * table_cos(i * d);
        sine[i] = table_sin(i * (d * 0.5));
    }
}

template <int n>
struct WindowPair {
    double hann[n];
    double sine[n];
};

template <int n>
constexpr WindowPair<n> make_window_pair() {
    WindowPair<n> w{};
    fill_windows(w.hann, w.sine, n);
    return w;
}

struct Twiddles1024 {
    double v[2048];
};

constexpr Twiddles1024 make_twiddles_1024() {
    Twiddles1024 t{};
    fill_twiddles(t.v, 1024);
    return t;
}

constexpr Twiddles1024 twiddles_1024 = make_twiddles_1024();
constexpr WindowPair<1024> windows_1024 = make_window_pair<1024>();
constexpr WindowPair<128> windows_128 = make_window_pair<128>();

}  // namespace

void build_twiddles_computed(double* twiddles, int n) {
    if (n >= 1) fill_twiddles(twiddles, n);
}

void build_windows_computed(double* hann, double* sine, int n) {
    if (n >= 1) fill_windows(hann, sine, n);
}

double portable_sin(double x) { return table_sin(x); }
double portable_cos(double x) { return table_cos(x); }

void build_twiddles(double* twiddles, int n) {
    if (n == 1024) {
        std::copy(twiddles_1024.v, twiddles_1024.v + 2048, twiddles);
        return;
    }
    build_twiddles_computed(twiddles, n);
}

void build_bitrev(int n, int32_t* bitrev) {
    if (n <= 2 || bitrev[0] != 0) return;
    int l = n;
    int m = 1;
    do {
        l /= 2;
        for (int j = 0; j < m; ++j) bitrev[m + j] = bitrev[j] + l;
        m *= 2;
    } while (2 * m < l);
}

template <int n>
void copy_windows(const WindowPair<n>& w, double* hann, double* sine) {
    std::copy(w.hann, w.hann + n, hann);
    std::copy(w.sine, w.sine + n, sine);
}

void build_windows(double* hann, double* sine, int n) {
    if (n == 1024) return copy_windows(windows_1024, hann, sine);
    if (n == 128) return copy_windows(windows_128, hann, sine);
    build_windows_computed(hann, sine, n);
}

void rfft_forward(int n, double* a, const double* twiddles, const int32_t* bitrev) {
    if (n < block_size || n > max_gathered) {
        bitrev_permute(n, a, bitrev);
        forward_stages(n, 2, a, twiddles);
        return;
    }
    alignas(32) double copy[max_gathered];
    int size = 2 * block_size;
    if (2 * size <= n) {
        // The first six stages into the copy, the next two back.
        forward_first_stages(n, a, copy, twiddles);
        forward_stage_pair(n, size, copy, a, twiddles);
        size *= 4;
    } else {
        std::memcpy(copy, a, sizeof(double) * static_cast<size_t>(n));
        forward_first_stages(n, copy, a, twiddles);
    }
    for (; 2 * size <= n; size *= 4) forward_stage_pair(n, size, a, a, twiddles);
    if (size <= n) forward_stages(n, size, a, twiddles);
}

void rfft_inverse(int n, double* a, const double* twiddles, const int32_t* bitrev) {
    a[0] = a[0] * 0.5;
    if (n >= 2) a[n / 2] = a[n / 2] * 0.5;
    if (n < block_size || n > max_gathered) {
        inverse_stages(n, n, 2, a, twiddles);
        bitrev_permute(n, a, bitrev);
        return;
    }
    alignas(32) double copy[max_gathered];
    int size = n;
    for (; size / 2 > 2 * block_size; size /= 4) inverse_stage_pair(n, size / 2, a, a, twiddles);
    if (size / 2 == 2 * block_size) {
        // The last two later stages into the copy, the last six back.
        inverse_stage_pair(n, size / 2, a, copy, twiddles);
    } else {
        if (size == 2 * block_size) inverse_stages(n, size, size, a, twiddles);
        std::memcpy(copy, a, sizeof(double) * static_cast<size_t>(n));
    }
    inverse_last_stages(n, copy, a, twiddles);
}

}  // namespace velorin
