// synth/render_reader.cpp: the sinc reader of the render passes, table-driven.
#include "synth/render_reader.h"

#include <cmath>
#include <cstddef>

#include "platform/platform.h"
#include "synth/sinc_weight.h"

#if defined(__SSE2__) || defined(__x86_64__)
#include <immintrin.h>
#define VELORIN_READER_SSE2 1
#endif

namespace velorin {

namespace {

// The kernel K(h) = cos(h / 4) * sin(h) / h is even and lives on |h| <= 2 *
// sinc_pi. The table cuts that range into `intervals` equal pieces and holds,
// for each, the cubic through the end values and end slopes (Hermite form),
// as coefficients in the piece's own 0..1 parameter. 512 pieces keep the
// error near 1e-11, and the 16 KiB table stays in the first-level cache.
constexpr int intervals = 512;
constexpr double h_end = 2.0 * sinc_pi;
constexpr double piece = h_end / intervals;

// Value and derivative of K at h, by series summed to convergence: computed
// once, at compile time, so every build holds the same table.
struct KernelPoint {
    double value;
    double slope;
};

constexpr KernelPoint kernel_point(double h) {
    const double a = h * h;
    // sin(h)/h = sum (-1)^n a^n / (2n+1)!, and its derivative
    // h * sum (-1)^n 2n a^(n-1) / (2n+1)!.
    double s = 1.0, ds = 0.0, term = 1.0, dterm = 1.0;
    for (int n = 1; n < 40; ++n) {
        const double d = (2.0 * n) * (2.0 * n + 1.0);
        dterm = term / d;  // a^(n-1) / (2n+1)! with the sign of term n
        term = term * a / d;
        if (n & 1) {
            s -= term;
            ds -= 2.0 * n * dterm;
        } else {
            s += term;
            ds += 2.0 * n * dterm;
        }
    }
    ds *= h;
    // cos(h/4) and sin(h/4) the same way, with c = (h/4)^2.
    const double q = h * 0.25;
    const double c2 = q * q;
    double co = 1.0, si = q, ct = 1.0, st = q;
    for (int n = 1; n < 30; ++n) {
        ct = -ct * c2 / ((2.0 * n - 1.0) * (2.0 * n));
        st = -st * c2 / ((2.0 * n) * (2.0 * n + 1.0));
        co += ct;
        si += st;
    }
    return KernelPoint{co * s, -0.25 * si * s + co * ds};
}

struct KernelTable {
    // v0, m0, c2, c3 of each piece, piece j at 4 j; one spare piece. One flat
    // array, so that the readers may step from any piece to any other.
    double c[(intervals + 1) * 4];
};

constexpr KernelTable make_kernel_table() {
    KernelTable t{};
    KernelPoint p0 = kernel_point(0.0);
    for (int j = 0; j <= intervals; ++j) {
        const KernelPoint p1 = kernel_point((j + 1) * piece);
        const double m0 = p0.slope * piece;
        const double m1 = p1.slope * piece;
        t.c[4 * j + 0] = p0.value;
        t.c[4 * j + 1] = m0;
        t.c[4 * j + 2] = 3.0 * (p1.value - p0.value) - 2.0 * m0 - m1;
        t.c[4 * j + 3] = 2.0 * (p0.value - p1.value) + m0 + m1;
        p0 = p1;
    }
    return t;
}

constexpr KernelTable kernel_table = make_kernel_table();

// The kernel at distance |d| from x for width b, where `scale` =
// intervals / (2b) turns a distance into table units (h = d * pi / b).
inline double kernel_at(double t) {
    // Taps lie within 2b of x, so t <= intervals up to rounding; the spare
    // piece takes a tap that lands exactly on the end.
    int j = static_cast<int>(t);
    if (j > intervals) j = intervals;
    const double f = t - j;
    const double* c = kernel_table.c + 4 * j;
    return c[0] + f * (c[1] + f * (c[2] + f * c[3]));
}

inline double piece_value(int j, double f) {
    const double* c = kernel_table.c + 4 * j;
    return c[0] + f * (c[1] + f * (c[2] + f * c[3]));
}

// Width 1 with every tap inside the buffer, the common case of a 44.1 kHz
// input: the taps sit whole samples apart, 256 table units, so the taps on
// each side of x share one fraction. For x >= 1 every distance involved is
// exact, and this gives the same weights as kernel_at.
double read_width_one(double x, const double* data, int channels, int64_t first, int64_t last) {
    const double fx = static_cast<double>(first) + (last - first == 4 ? 2 : 1);  // floor(x)
    const double phi = x - fx;
    const double* p = data + first * channels;
    if (last - first == 4) {  // x is a whole sample: the kernel's zeros and its peak
        const double w0 = piece_value(intervals, 0.0), w1 = piece_value(intervals / 2, 0.0);
        const double w2 = piece_value(0, 0.0);
        const double wsum = w0 + w1 + w2 + w1 + w0;
        const double acc = w0 * p[0] + w1 * p[channels] + w2 * p[2 * channels] +
                           w1 * p[3 * channels] + w0 * p[4 * channels];
        return acc / wsum;
    }
    const double ta = phi * (intervals / 2);          // taps at d = -phi, -1 - phi
    const double tb = (1.0 - phi) * (intervals / 2);  // taps at d = 1 - phi, 2 - phi
    const int ja = static_cast<int>(ta), jb = static_cast<int>(tb);
    const double fa = ta - ja, fb = tb - jb;
    const double wm1 = piece_value(ja + intervals / 2, fa);
    const double w0 = piece_value(ja, fa);
    const double w1 = piece_value(jb, fb);
    const double w2 = piece_value(jb + intervals / 2, fb);
    const double wsum = ((wm1 + w0) + w1) + w2;
    const double acc =
        ((wm1 * p[0] + w0 * p[channels]) + w1 * p[2 * channels]) + w2 * p[3 * channels];
    return acc / wsum;
}

}  // namespace

double sinc_read_render(double x, const double* data, double width, int channels, int64_t frames) {
    if (channels < 1 || !std::isfinite(x) || !(width < 1e15)) return 0.0;
    const double lo = std::ceil(x - 2.0 * width);
    const double hi = std::floor(x + 2.0 * width);
    if (hi < 0.0 || lo >= static_cast<double>(frames) || lo > hi) return 0.0;
    const int64_t first = static_cast<int64_t>(lo);
    const int64_t last = static_cast<int64_t>(hi);
    // (Five taps belong to a whole-sample x, four to any other; rounding at
    // the ends of the span can break that, and the loop below takes those.)
    if (width == 1.0 && first >= 1 && last < frames &&
        (last - first == 3 || (last - first == 4 && x == static_cast<double>(first + 2))))
        return read_width_one(x, data, channels, first, last);
    const double scale = (intervals / 2) / width;
    double acc = 0.0;
    double wsum = 0.0;
    if (first >= 0 && last < frames) {
        const double* p = data + first * channels;
        for (int64_t i = first; i <= last; ++i, p += channels) {
            const double w = kernel_at(std::fabs(static_cast<double>(i) - x) * scale);
            wsum += w;
            acc += w * *p;
        }
    } else {
        for (int64_t i = first; i <= last; ++i) {
            const double w = kernel_at(std::fabs(static_cast<double>(i) - x) * scale);
            wsum += w;
            if (i >= 0 && i < frames) acc += w * data[i * channels];
        }
    }
    return acc / wsum;
}

namespace {

// The width-one reads side by side take a lane only when the lane test below
// passes; every other position is read by sinc_read_render itself, so the
// test may refuse more than it must but never accept a lane that the scalar
// reader would not give to read_width_one with four taps at the same first
// tap.
//
// The scalar reader's span is lo = ceil(x - 2), hi = floor(x + 2), four taps
// when hi - lo == 3, first = lo >= 1, hi < frames. The test computes a = x - 2
// and b = x + 2 with the very same roundings and asks x > 2 and b < 2^31.
// Then 0 < a < b < 2^31 (x > 2 makes x - 2 exact and positive), so the
// truncating conversion of a and of b to 32-bit integers is their floor,
// exactly; ceil(a) is floor(a) plus one where floor(a) < a. NaN fails both
// comparisons, an infinity one of them; positions at or past 2^31 - 2 and at
// or below 2 go to the scalar reader, as does any hi - lo other than 3 (whole
// samples, and the rare roundings of x + 2 up to a whole number). Whole
// numbers below 2^31 are exact in a double, so hi < frames is compared in
// doubles: frames past 2^53 round but stay above hi.
constexpr double lane_limit = 2147483648.0;  // 2^31

#ifdef VELORIN_READER_SSE2
// The lane test for two lanes: a bit per passing lane; *lo gets each lane's
// first tap as a double (meaningless in lanes that fail).
inline int width_one_lanes2(__m128d x, __m128d frames, __m128d* lo) {
    const __m128d two = _mm_set1_pd(2.0);
    const __m128d a = _mm_sub_pd(x, two);
    const __m128d b = _mm_add_pd(x, two);
    const __m128d ok = _mm_and_pd(_mm_cmpgt_pd(x, two), _mm_cmplt_pd(b, _mm_set1_pd(lane_limit)));
    const __m128d fa = _mm_cvtepi32_pd(_mm_cvttpd_epi32(a));
    const __m128d l = _mm_add_pd(fa, _mm_and_pd(_mm_cmplt_pd(fa, a), _mm_set1_pd(1.0)));
    const __m128d h = _mm_cvtepi32_pd(_mm_cvttpd_epi32(b));
    const __m128d span =
        _mm_and_pd(_mm_cmpeq_pd(_mm_sub_pd(h, l), _mm_set1_pd(3.0)), _mm_cmplt_pd(h, frames));
    *lo = l;
    return _mm_movemask_pd(_mm_and_pd(ok, span));
}

// piece_value for two lanes, from the rows of pieces j0 and j1:
// c0 + f * (c1 + f * (c2 + f * c3)), each row's pairs unpacked into columns.
inline __m128d piece_value2(const double* r0, const double* r1, __m128d f) {
    const __m128d a0 = _mm_loadu_pd(r0), a1 = _mm_loadu_pd(r1);
    const __m128d b0 = _mm_loadu_pd(r0 + 2), b1 = _mm_loadu_pd(r1 + 2);
    __m128d t = _mm_mul_pd(f, _mm_unpackhi_pd(b0, b1));
    t = _mm_add_pd(_mm_unpacklo_pd(b0, b1), t);
    t = _mm_mul_pd(f, t);
    t = _mm_add_pd(_mm_unpackhi_pd(a0, a1), t);
    t = _mm_mul_pd(f, t);
    return _mm_add_pd(_mm_unpacklo_pd(a0, a1), t);
}

// The weights of read_width_one for two lanes at the fractions phi, and
// their sum.
struct Weights2 {
    __m128d wm1, w0, w1, w2, sum;
};

inline Weights2 weights2(__m128d phi) {
    const __m128d half_table = _mm_set1_pd(intervals / 2);
    const __m128d ta = _mm_mul_pd(phi, half_table);
    const __m128d tb = _mm_mul_pd(_mm_sub_pd(_mm_set1_pd(1.0), phi), half_table);
    const __m128i ia = _mm_cvttpd_epi32(ta);
    const __m128i ib = _mm_cvttpd_epi32(tb);
    const __m128d fa = _mm_sub_pd(ta, _mm_cvtepi32_pd(ia));
    const __m128d fb = _mm_sub_pd(tb, _mm_cvtepi32_pd(ib));
    const double* ra0 = kernel_table.c + 4 * _mm_cvtsi128_si32(ia);
    const double* ra1 = kernel_table.c + 4 * _mm_cvtsi128_si32(_mm_srli_si128(ia, 4));
    const double* rb0 = kernel_table.c + 4 * _mm_cvtsi128_si32(ib);
    const double* rb1 = kernel_table.c + 4 * _mm_cvtsi128_si32(_mm_srli_si128(ib, 4));
    constexpr int up = (intervals / 2) * 4;  // piece j + intervals / 2, in doubles
    Weights2 w;
    w.wm1 = piece_value2(ra0 + up, ra1 + up, fa);
    w.w0 = piece_value2(ra0, ra1, fa);
    w.w1 = piece_value2(rb0, rb1, fb);
    w.w2 = piece_value2(rb0 + up, rb1 + up, fb);
    w.sum = _mm_add_pd(_mm_add_pd(_mm_add_pd(w.wm1, w.w0), w.w1), w.w2);
    return w;
}

// read_width_one for two lanes that passed the lane test with first taps lo,
// with the weights of their fractions.
inline __m128d read_width_one2(const Weights2& w, __m128d lo, const double* data, int channels) {
    const __m128i first = _mm_cvttpd_epi32(lo);
    const double* p = data + static_cast<int64_t>(_mm_cvtsi128_si32(first)) * channels;
    const double* q =
        data + static_cast<int64_t>(_mm_cvtsi128_si32(_mm_srli_si128(first, 4))) * channels;
    __m128d s0, s1, s2, s3;
    if (channels == 1) {
        const __m128d p01 = _mm_loadu_pd(p), q01 = _mm_loadu_pd(q);
        const __m128d p23 = _mm_loadu_pd(p + 2), q23 = _mm_loadu_pd(q + 2);
        s0 = _mm_unpacklo_pd(p01, q01);
        s1 = _mm_unpackhi_pd(p01, q01);
        s2 = _mm_unpacklo_pd(p23, q23);
        s3 = _mm_unpackhi_pd(p23, q23);
    } else {
        s0 = _mm_set_pd(q[0], p[0]);
        s1 = _mm_set_pd(q[channels], p[channels]);
        s2 = _mm_set_pd(q[2 * channels], p[2 * channels]);
        s3 = _mm_set_pd(q[3 * channels], p[3 * channels]);
    }
    const __m128d acc = _mm_add_pd(
        _mm_add_pd(_mm_add_pd(_mm_mul_pd(w.wm1, s0), _mm_mul_pd(w.w0, s1)), _mm_mul_pd(w.w1, s2)),
        _mm_mul_pd(w.w2, s3));
    return _mm_div_pd(acc, w.sum);
}

// Width-one reads of x[0..n-1], two lanes at a time; a pair with a lane that
// fails the test is read by the scalar reader. Pairs whose fractions equal
// the previous pair's keep its weights, as in the four-lane reads below.
void read_many_sse2(const double* x, int n, const double* data, int channels, int64_t frames,
                    double* out) {
    const __m128d fr = _mm_set1_pd(static_cast<double>(frames));
    __m128d last_phi = _mm_set1_pd(-1.0);  // no lane's fraction
    Weights2 w{};
    int i = 0;
    for (; i + 2 <= n; i += 2) {
        const __m128d xv = _mm_loadu_pd(x + i);
        __m128d lo;
        if (width_one_lanes2(xv, fr, &lo) == 3) {
            const __m128d phi = _mm_sub_pd(xv, _mm_add_pd(lo, _mm_set1_pd(1.0)));
            if (_mm_movemask_pd(_mm_cmpeq_pd(phi, last_phi)) != 3) {
                w = weights2(phi);
                last_phi = phi;
            }
            _mm_storeu_pd(out + i, read_width_one2(w, lo, data, channels));
        } else {
            out[i] = sinc_read_render(x[i], data, 1.0, channels, frames);
            out[i + 1] = sinc_read_render(x[i + 1], data, 1.0, channels, frames);
        }
    }
    for (; i < n; ++i) out[i] = sinc_read_render(x[i], data, 1.0, channels, frames);
}
#endif

#if defined(__x86_64__) && defined(__GNUC__)
#define VELORIN_READER_AVX 1

// The lane test for four lanes, as width_one_lanes2, with the processor's
// own rounding for ceil(a) and floor(b): the scalar reader's std::ceil and
// std::floor, exactly, and cheaper than two conversions each. The limits
// stay, since the lanes' first taps become 32-bit indices later.
__attribute__((target("avx"))) inline int width_one_lanes4(__m256d x, __m256d frames, __m256d* lo) {
    const __m256d two = _mm256_set1_pd(2.0);
    const __m256d a = _mm256_sub_pd(x, two);
    const __m256d b = _mm256_add_pd(x, two);
    const __m256d ok = _mm256_and_pd(_mm256_cmp_pd(x, two, _CMP_GT_OQ),
                                     _mm256_cmp_pd(b, _mm256_set1_pd(lane_limit), _CMP_LT_OQ));
    const __m256d l = _mm256_ceil_pd(a);
    const __m256d h = _mm256_floor_pd(b);
    const __m256d span =
        _mm256_and_pd(_mm256_cmp_pd(_mm256_sub_pd(h, l), _mm256_set1_pd(3.0), _CMP_EQ_OQ),
                      _mm256_cmp_pd(h, frames, _CMP_LT_OQ));
    *lo = l;
    return _mm256_movemask_pd(_mm256_and_pd(ok, span));
}

// Rows r0..r3 of four doubles each, as four columns: c[k] holds element k of
// every row.
__attribute__((target("avx"))) inline void columns4(const double* r0, const double* r1,
                                                    const double* r2, const double* r3,
                                                    __m256d* c) {
    const __m256d a0 = _mm256_loadu_pd(r0), a1 = _mm256_loadu_pd(r1);
    const __m256d a2 = _mm256_loadu_pd(r2), a3 = _mm256_loadu_pd(r3);
    const __m256d e01 = _mm256_unpacklo_pd(a0, a1), o01 = _mm256_unpackhi_pd(a0, a1);
    const __m256d e23 = _mm256_unpacklo_pd(a2, a3), o23 = _mm256_unpackhi_pd(a2, a3);
    c[0] = _mm256_permute2f128_pd(e01, e23, 0x20);
    c[1] = _mm256_permute2f128_pd(o01, o23, 0x20);
    c[2] = _mm256_permute2f128_pd(e01, e23, 0x31);
    c[3] = _mm256_permute2f128_pd(o01, o23, 0x31);
}

// Lane k of a vector of four non-negative 32-bit integers, widened without a
// sign extension (the conversion to uint32_t tells the compiler that the
// extraction already zeroed the upper half).
__attribute__((target("avx"))) inline size_t lane4(__m128i v, int k) {
    switch (k) {
        case 0:
            return static_cast<uint32_t>(_mm_cvtsi128_si32(v));
        case 1:
            return static_cast<uint32_t>(_mm_extract_epi32(v, 1));
        case 2:
            return static_cast<uint32_t>(_mm_extract_epi32(v, 2));
        default:
            return static_cast<uint32_t>(_mm_extract_epi32(v, 3));
    }
}

// The four lanes of v, whole numbers from 0 to 2^32 - 1, as integers. Added
// to 2^52 a whole number below 2^32 lands, exactly, in the low 32 bits of the
// double's pattern: no conversion instruction, and no extraction from the
// vector register (the lanes go through memory).
__attribute__((target("avx"))) inline void whole_lanes4(__m256d v, size_t* out) {
    uint32_t bits[8];  // unaligned: some targets do not align stack beyond 16 bytes
    _mm256_storeu_pd(reinterpret_cast<double*>(bits),
                     _mm256_add_pd(v, _mm256_set1_pd(4503599627370496.0)));  // 2^52
    for (int k = 0; k < 4; ++k) out[k] = bits[2 * k];
}

// piece_value for four lanes whose pieces start at the doubles row[k] of the
// table, plus offset.
__attribute__((target("avx"))) inline __m256d piece_value4(const size_t* row, size_t offset,
                                                           __m256d f) {
    const double* t0 = kernel_table.c + offset;
    __m256d c[4];
    columns4(t0 + row[0], t0 + row[1], t0 + row[2], t0 + row[3], c);
    __m256d t = _mm256_mul_pd(f, c[3]);
    t = _mm256_add_pd(c[2], t);
    t = _mm256_mul_pd(f, t);
    t = _mm256_add_pd(c[1], t);
    t = _mm256_mul_pd(f, t);
    return _mm256_add_pd(c[0], t);
}

// The weights of read_width_one for four lanes at the fractions phi (each
// lane's x - floor(x), between 0 and 1), and their sum.
struct Weights4 {
    __m256d wm1, w0, w1, w2, sum;
};

__attribute__((target("avx"))) inline Weights4 weights4(__m256d phi) {
    const __m256d half_table = _mm256_set1_pd(intervals / 2);
    const __m256d ta = _mm256_mul_pd(phi, half_table);
    const __m256d tb = _mm256_mul_pd(_mm256_sub_pd(_mm256_set1_pd(1.0), phi), half_table);
    // 0 <= ta, tb <= intervals / 2: the floor is the truncation.
    const __m256d ja = _mm256_floor_pd(ta);
    const __m256d jb = _mm256_floor_pd(tb);
    const __m256d fa = _mm256_sub_pd(ta, ja);
    const __m256d fb = _mm256_sub_pd(tb, jb);
    // Pieces j as offsets in doubles (4 j), below 4 * (intervals + 1).
    const __m256d four = _mm256_set1_pd(4.0);
    size_t ra[4], rb[4];
    whole_lanes4(_mm256_mul_pd(ja, four), ra);
    whole_lanes4(_mm256_mul_pd(jb, four), rb);
    constexpr size_t up = (intervals / 2) * 4;  // piece j + intervals / 2
    Weights4 w;
    w.wm1 = piece_value4(ra, up, fa);
    w.w0 = piece_value4(ra, 0, fa);
    w.w1 = piece_value4(rb, 0, fb);
    w.w2 = piece_value4(rb, up, fb);
    w.sum = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(w.wm1, w.w0), w.w1), w.w2);
    return w;
}

// read_width_one for four lanes that passed the lane test with first taps lo,
// with the weights of their fractions; `mono` is channels == 1, where each
// lane's four taps are adjacent.
template <bool mono>
__attribute__((target("avx"))) inline __m256d read_width_one4(const Weights4& w, __m256d lo,
                                                              const double* data, int channels) {
    size_t first[4];  // 1 <= first < 2^31
    whole_lanes4(lo, first);
    __m256d s[4];
    if (mono) {
        columns4(data + first[0], data + first[1], data + first[2], data + first[3], s);
    } else {
        const double* p[4];
        for (int k = 0; k < 4; ++k) p[k] = data + static_cast<int64_t>(first[k]) * channels;
        for (int k = 0; k < 4; ++k)
            s[k] = _mm256_set_pd(p[3][k * channels], p[2][k * channels], p[1][k * channels],
                                 p[0][k * channels]);
    }
    const __m256d acc = _mm256_add_pd(
        _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(w.wm1, s[0]), _mm256_mul_pd(w.w0, s[1])),
                      _mm256_mul_pd(w.w1, s[2])),
        _mm256_mul_pd(w.w2, s[3]));
    return _mm256_div_pd(acc, w.sum);
}

// Width-one reads of x[0..n-1], four lanes at a time, for processors with
// AVX; a group with a lane that fails the test is read by the scalar reader.
// The weights depend on the fractions alone: a group whose fractions equal
// the previous group's, lane for lane (positions a whole number of samples
// apart, as a 44.1 kHz input gives the first reads of the second pass), uses
// the weights again.
template <bool mono>
__attribute__((target("avx"))) inline void read_many_avx_t(const double* x, int n,
                                                           const double* data, int channels,
                                                           int64_t frames, double* out) {
    const __m256d fr = _mm256_set1_pd(static_cast<double>(frames));
    __m256d last_phi = _mm256_set1_pd(-1.0);  // no lane's fraction
    Weights4 w{};
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d xv = _mm256_loadu_pd(x + i);
        __m256d lo;
        if (width_one_lanes4(xv, fr, &lo) == 15) {
            const __m256d phi = _mm256_sub_pd(xv, _mm256_add_pd(lo, _mm256_set1_pd(1.0)));
            if (_mm256_movemask_pd(_mm256_cmp_pd(phi, last_phi, _CMP_EQ_OQ)) != 15) {
                w = weights4(phi);
                last_phi = phi;
            }
            _mm256_storeu_pd(out + i, read_width_one4<mono>(w, lo, data, channels));
        } else {
            for (int k = i; k < i + 4; ++k)
                out[k] = sinc_read_render(x[k], data, 1.0, channels, frames);
        }
    }
    if (i < n) read_many_sse2(x + i, n - i, data, channels, frames, out + i);
}

__attribute__((target("avx"), noinline)) void read_many_avx(const double* x, int n,
                                                            const double* data, int channels,
                                                            int64_t frames, double* out) {
    if (channels == 1)
        read_many_avx_t<true>(x, n, data, channels, frames, out);
    else
        read_many_avx_t<false>(x, n, data, channels, frames, out);
}

// Reads of any other width with every tap inside the buffer, four lanes at a
// time. The scalar reader's span is lo = ceil(x - 2b), hi = floor(x + 2b)
// and it sums over the taps lo..hi, in that order, wsum += w and acc += w *
// sample with w = kernel_at(|i - x| * scale). A lane is taken when x - 2b >
// -1 and x + 2b < 2^31 (finite, then), lo <= hi and hi < frames. Both ends
// then lie between -1 and 2^31 and convert to 32-bit integers exactly
// (between -1 and 0 the ceiling is -0, converted 0). A lane past its last tap
// reads its last tap again (inside the buffer) and adds +0.0 to both sums,
// its weight and its term masked to zero: that leaves every sum as it is,
// since neither sum can be -0.0 (they start from +0.0, and in round to
// nearest only -0.0 + -0.0 gives -0.0), and x + 0.0 is x for every other x,
// NaN included.
__attribute__((target("avx"))) inline int wide_lanes4(__m256d x, __m256d reach, __m256d frames,
                                                      __m128i* first, __m128i* last) {
    const __m256d a = _mm256_sub_pd(x, reach);
    const __m256d b = _mm256_add_pd(x, reach);
    const __m256d ok = _mm256_and_pd(_mm256_cmp_pd(a, _mm256_set1_pd(-1.0), _CMP_GT_OQ),
                                     _mm256_cmp_pd(b, _mm256_set1_pd(lane_limit), _CMP_LT_OQ));
    const __m256d l = _mm256_ceil_pd(a);
    const __m256d h = _mm256_floor_pd(b);
    const __m256d span =
        _mm256_and_pd(_mm256_cmp_pd(l, h, _CMP_LE_OQ), _mm256_cmp_pd(h, frames, _CMP_LT_OQ));
    *first = _mm256_cvttpd_epi32(l);
    *last = _mm256_cvttpd_epi32(h);
    return _mm256_movemask_pd(_mm256_and_pd(ok, span));
}

// kernel_at for four lanes: t >= 0, the piece index capped at intervals
// (below 2^31, the floor is the truncation).
__attribute__((target("avx"))) inline __m256d kernel_at4(__m256d t) {
    const __m256d j = _mm256_min_pd(_mm256_floor_pd(t), _mm256_set1_pd(intervals));
    const __m256d f = _mm256_sub_pd(t, j);
    size_t r[4];
    whole_lanes4(_mm256_mul_pd(j, _mm256_set1_pd(4.0)), r);
    return piece_value4(r, 0, f);
}

__attribute__((target("avx"), noinline)) void read_many_wide_avx(const double* x, int n,
                                                                 const double* data, double width,
                                                                 int channels, int64_t frames,
                                                                 double* out) {
    const __m256d reach = _mm256_set1_pd(2.0 * width);
    const __m256d fr = _mm256_set1_pd(static_cast<double>(frames));
    const __m256d scale = _mm256_set1_pd((intervals / 2) / width);
    const __m256d sign = _mm256_set1_pd(-0.0);
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d xv = _mm256_loadu_pd(x + i);
        __m128i first, last;
        if (wide_lanes4(xv, reach, fr, &first, &last) != 15) {
            for (int k = i; k < i + 4; ++k)
                out[k] = sinc_read_render(x[k], data, width, channels, frames);
            continue;
        }
        int taps = 0;  // the most taps of any lane
        for (int k = 0; k < 4; ++k) {
            const int c = static_cast<int>(lane4(last, k)) - static_cast<int>(lane4(first, k)) + 1;
            if (c > taps) taps = c;
        }
        const __m256d last_d = _mm256_cvtepi32_pd(last);
        __m256d acc = _mm256_setzero_pd(), wsum = _mm256_setzero_pd();
        for (int t = 0; t < taps; ++t) {
            const __m128i tap = _mm_add_epi32(first, _mm_set1_epi32(t));
            // Set in the lanes past their last tap: they keep their sums.
            const __m256d past = _mm256_cmp_pd(_mm256_cvtepi32_pd(tap), last_d, _CMP_GT_OQ);
            const __m128i at = _mm_min_epi32(tap, last);
            const __m256d d = _mm256_sub_pd(_mm256_cvtepi32_pd(at), xv);
            const __m256d w = kernel_at4(_mm256_mul_pd(_mm256_andnot_pd(sign, d), scale));
            const double* p[4];
            for (int k = 0; k < 4; ++k) p[k] = data + static_cast<int64_t>(lane4(at, k)) * channels;
            const __m256d sv = _mm256_set_pd(*p[3], *p[2], *p[1], *p[0]);
            wsum = _mm256_add_pd(wsum, _mm256_andnot_pd(past, w));
            acc = _mm256_add_pd(acc, _mm256_andnot_pd(past, _mm256_mul_pd(w, sv)));
        }
        _mm256_storeu_pd(out + i, _mm256_div_pd(acc, wsum));
    }
    for (; i < n; ++i) out[i] = sinc_read_render(x[i], data, width, channels, frames);
}

// The lane test on x[0..3] alone, for width_one_lanes.
__attribute__((target("avx"), noinline)) int lanes_avx(const double* x, int64_t frames,
                                                       double* lo) {
    __m256d l;
    const int mask =
        width_one_lanes4(_mm256_loadu_pd(x), _mm256_set1_pd(static_cast<double>(frames)), &l);
    _mm256_storeu_pd(lo, l);
    return mask;
}

// The test of the reads of other widths on x[0..3] alone, for wide_lanes.
__attribute__((target("avx"), noinline)) int wide_lanes_avx(const double* x, double width,
                                                            int64_t frames, int32_t* lo) {
    __m128i first, last;
    const int mask = wide_lanes4(_mm256_loadu_pd(x), _mm256_set1_pd(2.0 * width),
                                 _mm256_set1_pd(static_cast<double>(frames)), &first, &last);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lo), first);
    return mask;
}

bool reader_wide_lanes() {
    static const bool wide = cpu_has_avx();
    return wide;
}
#endif

}  // namespace

void sinc_read_render_many(const double* x, int n, const double* data, double width, int channels,
                           int64_t frames, double* out) {
    if (width == 1.0 && channels >= 1) {
#ifdef VELORIN_READER_AVX
        if (reader_wide_lanes()) return read_many_avx(x, n, data, channels, frames, out);
#endif
#ifdef VELORIN_READER_SSE2
        return read_many_sse2(x, n, data, channels, frames, out);
#endif
    }
#ifdef VELORIN_READER_AVX
    if (width > 1.0 && width < 64.0 && channels >= 1 && reader_wide_lanes())
        return read_many_wide_avx(x, n, data, width, channels, frames, out);
#endif
    for (int i = 0; i < n; ++i) out[i] = sinc_read_render(x[i], data, width, channels, frames);
}

void sinc_read_render2(const double* x, const double* data, double width, int channels,
                       int64_t frames, double* out) {
    sinc_read_render_many(x, 2, data, width, channels, frames, out);
}

void sinc_read_render4(const double* x, const double* data, double width, int channels,
                       int64_t frames, double* out) {
    sinc_read_render_many(x, 4, data, width, channels, frames, out);
}

int width_one_lanes(const double* x, int64_t frames, int64_t* first) {
    int mask = 0;
    double lo[4] = {0, 0, 0, 0};
#ifdef VELORIN_READER_AVX
    if (reader_wide_lanes()) {
        mask = lanes_avx(x, frames, lo);
    } else
#endif
    {
#ifdef VELORIN_READER_SSE2
        const __m128d fr = _mm_set1_pd(static_cast<double>(frames));
        for (int k = 0; k < 4; k += 2) {
            __m128d l;
            mask |= width_one_lanes2(_mm_loadu_pd(x + k), fr, &l) << k;
            _mm_storeu_pd(lo + k, l);
        }
#endif
    }
    for (int k = 0; k < 4; ++k) first[k] = (mask >> k) & 1 ? static_cast<int64_t>(lo[k]) : -1;
    return mask;
}

int wide_lanes(const double* x, double width, int64_t frames, int64_t* first) {
#ifdef VELORIN_READER_AVX
    if (reader_wide_lanes()) {
        int32_t lo[4];
        const int mask = wide_lanes_avx(x, width, frames, lo);
        for (int k = 0; k < 4; ++k) first[k] = (mask >> k) & 1 ? lo[k] : -1;
        return mask;
    }
#endif
    (void)x, (void)width, (void)frames, (void)first;
    return -1;
}

}  // namespace velorin
