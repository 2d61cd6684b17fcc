// synth/rfft.cpp: in-place real FFT of a power-of-two block, and its tables.
#include "synth/rfft.h"

#include <cmath>
#include <utility>

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
double two_prod(double a, double b, double* e) {
    constexpr double splitter = 134217729.0;  // 2^27 + 1
    const double p = a * b;
    const double ta = splitter * a, tb = splitter * b;
    const double ah = ta - (ta - a), bh = tb - (tb - b);
    const double al = a - ah, bl = b - bh;
    *e = ((ah * bh - p) + ah * bl + al * bh) + al * bl;
    return p;
}

// s + e == a + b exactly, for |a| >= |b|.
double quick_two_sum(double a, double b, double* e) {
    const double s = a + b;
    *e = b - (s - a);
    return s;
}

// sin and cos of r + rl for |r| <= about pi/4, rl a small correction, by
// their Taylor series (terms below 1e-30 dropped). The leading terms are
// carried in two doubles, so only the last addition rounds noticeably.
double kernel_sin(double r, double rl) {
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

double kernel_cos(double r, double rl) {
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

// Quadrant k and the remainder x - k * pi/2 as r + rl (|x| below 2^20).
int reduce(double x, double* r, double* rl) {
    const double kd = std::floor(x * two_over_pi + 0.5);
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

double table_sin(double x) {
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

double table_cos(double x) {
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

#ifdef VELORIN_RFFT_SSE2
// Two neighbouring butterflies j, j + 1 of a block share no element, so they
// run side by side in the two lanes of a register, each with the scalar
// loop's operations in its order. Elements that the loop walks downwards
// (b + half - j, b + size - j) are loaded and stored with their lanes swapped.
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
#endif

#if defined(__x86_64__) && defined(__GNUC__)
// Four butterflies side by side, for processors with AVX; the same
// operations per lane as the scalar loop.
__attribute__((target("avx"))) inline __m256d reverse4(__m256d v) {
    return _mm256_permute_pd(_mm256_permute2f128_pd(v, v, 1), 5);
}
__attribute__((target("avx"))) inline __m256d load_down4(const double* a, int i) {
    return reverse4(_mm256_loadu_pd(a + i - 3));  // a[i], a[i - 1], a[i - 2], a[i - 3]
}
__attribute__((target("avx"))) inline void store_down4(double* a, int i, __m256d v) {
    _mm256_storeu_pd(a + i - 3, reverse4(v));
}
__attribute__((target("avx"))) inline __m256d twiddle_four(const double* tw, int j, int stride,
                                                           int part) {
    return _mm256_set_pd(tw[2 * ((j + 3) * stride) + part], tw[2 * ((j + 2) * stride) + part],
                         tw[2 * ((j + 1) * stride) + part], tw[2 * (j * stride) + part]);
}

// Returns the first j not done.
__attribute__((target("avx"), noinline)) int forward_butterflies_avx(double* a, int b, int half,
                                                                     int quarter, int size,
                                                                     int stride,
                                                                     const double* twiddles) {
    int j = 1;
    for (; j + 3 < quarter; j += 4) {
        const __m256d c = twiddle_four(twiddles, j, stride, 0);
        const __m256d s = twiddle_four(twiddles, j, stride, 1);
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
    return j;
}

__attribute__((target("avx"), noinline)) int inverse_butterflies_avx(double* a, int b, int half,
                                                                     int quarter, int size,
                                                                     int stride,
                                                                     const double* twiddles) {
    int j = 1;
    for (; j + 3 < quarter; j += 4) {
        const __m256d c = twiddle_four(twiddles, j, stride, 0);
        const __m256d s = twiddle_four(twiddles, j, stride, 1);
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
    return j;
}

bool rfft_wide_lanes() {
    static const bool wide = __builtin_cpu_supports("avx");
    return wide;
}
#endif

// The butterflies j = 1 .. quarter - 1 of the block at b of one forward stage.
inline void forward_butterflies(double* a, int b, int half, int quarter, int size, int stride,
                                const double* twiddles) {
    int j = 1;
#if defined(__x86_64__) && defined(__GNUC__)
    if (quarter > 4 && rfft_wide_lanes())
        j = forward_butterflies_avx(a, b, half, quarter, size, stride, twiddles);
#endif
#ifdef VELORIN_RFFT_SSE2
    for (; j + 1 < quarter; j += 2) {
        const __m128d c = twiddle_pair(twiddles, j, stride, 0);
        const __m128d s = twiddle_pair(twiddles, j, stride, 1);
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
#endif
    for (; j < quarter; ++j) {
        const double c = twiddles[2 * (j * stride)];
        const double s = twiddles[2 * (j * stride) + 1];
        const int i1 = b + j, i2 = b + half - j, i3 = b + half + j, i4 = b + size - j;
        const double a1 = a[i1], a2 = a[i2], a3 = a[i3], a4 = a[i4];
        const double t1 = a4 * c + a3 * s;
        const double t2 = a3 * c - a4 * s;
        a[i3] = t1 - a2;
        a[i4] = t1 + a2;
        a[i2] = a1 - t2;
        a[i1] = a1 + t2;
    }
}

// The same for one inverse stage.
inline void inverse_butterflies(double* a, int b, int half, int quarter, int size, int stride,
                                const double* twiddles) {
    int j = 1;
#if defined(__x86_64__) && defined(__GNUC__)
    if (quarter > 4 && rfft_wide_lanes())
        j = inverse_butterflies_avx(a, b, half, quarter, size, stride, twiddles);
#endif
#ifdef VELORIN_RFFT_SSE2
    for (; j + 1 < quarter; j += 2) {
        const __m128d c = twiddle_pair(twiddles, j, stride, 0);
        const __m128d s = twiddle_pair(twiddles, j, stride, 1);
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
#endif
    for (; j < quarter; ++j) {
        const double c = twiddles[2 * (j * stride)];
        const double s = twiddles[2 * (j * stride) + 1];
        const int i1 = b + j, i2 = b + half - j, i3 = b + half + j, i4 = b + size - j;
        const double a1 = a[i1], a2 = a[i2], a3 = a[i3], a4 = a[i4];
        const double p = a3 + a4;
        const double q = a1 - a2;
        a[i1] = a1 + a2;
        a[i2] = a4 - a3;
        a[i3] = p * s + q * c;
        a[i4] = p * c - q * s;
    }
}

}  // namespace

double portable_sin(double x) { return table_sin(x); }
double portable_cos(double x) { return table_cos(x); }

void build_twiddles(double* twiddles, int n) {
    if (n < 1) return;
    const double d = two_pi / n;
    for (int i = 0; i < n; ++i) {
        twiddles[2 * i] = table_cos(i * d);
        twiddles[2 * i + 1] = table_sin(i * d);
    }
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

void build_windows(double* hann, double* sine, int n) {
    if (n < 1) return;
    const double d = two_pi / n;
    for (int i = 0; i < n; ++i) {
        hann[i] = 0.5 - 0.5 * table_cos(i * d);
        sine[i] = table_sin(i * (d * 0.5));
    }
}

void rfft_forward(int n, double* a, const double* twiddles, const int32_t* bitrev) {
    bitrev_permute(n, a, bitrev);
    for (int size = 2; size <= n; size *= 2) {
        const int half = size / 2;
        const int quarter = size / 4;
        const int stride = n / size;
        for (int b = 0; b < n; b += size) {
            const double x0 = a[b];
            const double x1 = a[b + half];
            a[b + half] = x0 - x1;
            a[b] = x0 + x1;
            forward_butterflies(a, b, half, quarter, size, stride, twiddles);
        }
    }
}

void rfft_inverse(int n, double* a, const double* twiddles, const int32_t* bitrev) {
    a[0] = a[0] * 0.5;
    if (n >= 2) a[n / 2] = a[n / 2] * 0.5;
    for (int size = n; size >= 2; size /= 2) {
        const int half = size / 2;
        const int quarter = size / 4;
        const int stride = n / size;
        for (int b = 0; b < n; b += size) {
            const double x0 = a[b];
            const double x1 = a[b + half];
            a[b] = x0 + x1;
            a[b + half] = x0 - x1;
            inverse_butterflies(a, b, half, quarter, size, stride, twiddles);
        }
    }
    bitrev_permute(n, a, bitrev);
}

}  // namespace velorin
