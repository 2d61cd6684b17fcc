// synth/render_reader.cpp: the sinc reader of the render passes, table-driven.
#include "synth/render_reader.h"

#include <cmath>

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
    double c[intervals + 1][4];  // v0, m0, c2, c3 of each piece; one spare piece
};

constexpr KernelTable make_kernel_table() {
    KernelTable t{};
    KernelPoint p0 = kernel_point(0.0);
    for (int j = 0; j <= intervals; ++j) {
        const KernelPoint p1 = kernel_point((j + 1) * piece);
        const double m0 = p0.slope * piece;
        const double m1 = p1.slope * piece;
        t.c[j][0] = p0.value;
        t.c[j][1] = m0;
        t.c[j][2] = 3.0 * (p1.value - p0.value) - 2.0 * m0 - m1;
        t.c[j][3] = 2.0 * (p0.value - p1.value) + m0 + m1;
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
    const double* c = kernel_table.c[j];
    return c[0] + f * (c[1] + f * (c[2] + f * c[3]));
}

inline double piece_value(int j, double f) {
    const double* c = kernel_table.c[j];
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

// The span of a width-1 read when every tap is inside the buffer and x is not
// a whole sample: the case read_width_one takes with four taps. False
// otherwise (the caller reads that x alone).
inline bool four_tap_span(double x, int channels, int64_t frames, int64_t* first) {
    if (channels < 1 || !std::isfinite(x)) return false;
    const double lo = std::ceil(x - 2.0);
    const double hi = std::floor(x + 2.0);
    if (hi < 0.0 || lo >= static_cast<double>(frames) || lo > hi) return false;
    const int64_t f = static_cast<int64_t>(lo);
    const int64_t l = static_cast<int64_t>(hi);
    if (!(f >= 1 && l < frames && l - f == 3)) return false;
    *first = f;
    return true;
}

#ifdef VELORIN_READER_SSE2
// Coefficient k of pieces j0 and j1, as the two lanes of a register.
inline __m128d column2(int j0, int j1, int k) {
    return _mm_loadh_pd(_mm_load_sd(&kernel_table.c[j0][k]), &kernel_table.c[j1][k]);
}

// piece_value for two lanes: c0 + f * (c1 + f * (c2 + f * c3)).
inline __m128d piece_value2(int j0, int j1, __m128d f) {
    __m128d t = _mm_mul_pd(f, column2(j0, j1, 3));
    t = _mm_add_pd(column2(j0, j1, 2), t);
    t = _mm_mul_pd(f, t);
    t = _mm_add_pd(column2(j0, j1, 1), t);
    t = _mm_mul_pd(f, t);
    return _mm_add_pd(column2(j0, j1, 0), t);
}

// read_width_one for two positions whose spans start at first[0], first[1].
void read_width_one2(const double* x, const double* data, int channels, const int64_t* first,
                     double* out) {
    const double phi0 = x[0] - (static_cast<double>(first[0]) + 1);
    const double phi1 = x[1] - (static_cast<double>(first[1]) + 1);
    const __m128d phi = _mm_set_pd(phi1, phi0);
    const __m128d half_table = _mm_set1_pd(intervals / 2);
    const __m128d ta = _mm_mul_pd(phi, half_table);
    const __m128d tb = _mm_mul_pd(_mm_sub_pd(_mm_set1_pd(1.0), phi), half_table);
    const __m128i ia = _mm_cvttpd_epi32(ta);
    const __m128i ib = _mm_cvttpd_epi32(tb);
    const __m128d fa = _mm_sub_pd(ta, _mm_cvtepi32_pd(ia));
    const __m128d fb = _mm_sub_pd(tb, _mm_cvtepi32_pd(ib));
    const int ja0 = _mm_cvtsi128_si32(ia), ja1 = _mm_cvtsi128_si32(_mm_srli_si128(ia, 4));
    const int jb0 = _mm_cvtsi128_si32(ib), jb1 = _mm_cvtsi128_si32(_mm_srli_si128(ib, 4));
    const __m128d wm1 = piece_value2(ja0 + intervals / 2, ja1 + intervals / 2, fa);
    const __m128d w0 = piece_value2(ja0, ja1, fa);
    const __m128d w1 = piece_value2(jb0, jb1, fb);
    const __m128d w2 = piece_value2(jb0 + intervals / 2, jb1 + intervals / 2, fb);
    const __m128d wsum = _mm_add_pd(_mm_add_pd(_mm_add_pd(wm1, w0), w1), w2);
    const double* p = data + first[0] * channels;
    const double* q = data + first[1] * channels;
    const __m128d s0 = _mm_set_pd(q[0], p[0]);
    const __m128d s1 = _mm_set_pd(q[channels], p[channels]);
    const __m128d s2 = _mm_set_pd(q[2 * channels], p[2 * channels]);
    const __m128d s3 = _mm_set_pd(q[3 * channels], p[3 * channels]);
    const __m128d acc = _mm_add_pd(
        _mm_add_pd(_mm_add_pd(_mm_mul_pd(wm1, s0), _mm_mul_pd(w0, s1)), _mm_mul_pd(w1, s2)),
        _mm_mul_pd(w2, s3));
    _mm_storeu_pd(out, _mm_div_pd(acc, wsum));
}
#endif

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx"))) inline __m256d column4(const int* j, int k) {
    return _mm256_set_pd(kernel_table.c[j[3]][k], kernel_table.c[j[2]][k], kernel_table.c[j[1]][k],
                         kernel_table.c[j[0]][k]);
}

__attribute__((target("avx"))) inline __m256d piece_value4(const int* j, __m256d f) {
    __m256d t = _mm256_mul_pd(f, column4(j, 3));
    t = _mm256_add_pd(column4(j, 2), t);
    t = _mm256_mul_pd(f, t);
    t = _mm256_add_pd(column4(j, 1), t);
    t = _mm256_mul_pd(f, t);
    return _mm256_add_pd(column4(j, 0), t);
}

// Sample `offset` after each of the four spans' starts.
__attribute__((target("avx"))) inline __m256d tap4(const double* const* p, int offset) {
    return _mm256_set_pd(p[3][offset], p[2][offset], p[1][offset], p[0][offset]);
}

// read_width_one for four positions, for processors with AVX.
__attribute__((target("avx"), noinline)) void read_width_one4(const double* x, const double* data,
                                                              int channels, const int64_t* first,
                                                              double* out) {
    double phis[4];
    for (int i = 0; i < 4; ++i) phis[i] = x[i] - (static_cast<double>(first[i]) + 1);
    const __m256d phi = _mm256_loadu_pd(phis);
    const __m256d half_table = _mm256_set1_pd(intervals / 2);
    const __m256d ta = _mm256_mul_pd(phi, half_table);
    const __m256d tb = _mm256_mul_pd(_mm256_sub_pd(_mm256_set1_pd(1.0), phi), half_table);
    const __m128i ia = _mm256_cvttpd_epi32(ta);
    const __m128i ib = _mm256_cvttpd_epi32(tb);
    const __m256d fa = _mm256_sub_pd(ta, _mm256_cvtepi32_pd(ia));
    const __m256d fb = _mm256_sub_pd(tb, _mm256_cvtepi32_pd(ib));
    int ja[4], jb[4], ja_up[4], jb_up[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(ja), ia);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(jb), ib);
    for (int i = 0; i < 4; ++i) {
        ja_up[i] = ja[i] + intervals / 2;
        jb_up[i] = jb[i] + intervals / 2;
    }
    const __m256d wm1 = piece_value4(ja_up, fa);
    const __m256d w0 = piece_value4(ja, fa);
    const __m256d w1 = piece_value4(jb, fb);
    const __m256d w2 = piece_value4(jb_up, fb);
    const __m256d wsum = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(wm1, w0), w1), w2);
    const double* p[4];
    for (int i = 0; i < 4; ++i) p[i] = data + first[i] * channels;
    const __m256d acc = _mm256_add_pd(
        _mm256_add_pd(
            _mm256_add_pd(_mm256_mul_pd(wm1, tap4(p, 0)), _mm256_mul_pd(w0, tap4(p, channels))),
            _mm256_mul_pd(w1, tap4(p, 2 * channels))),
        _mm256_mul_pd(w2, tap4(p, 3 * channels)));
    _mm256_storeu_pd(out, _mm256_div_pd(acc, wsum));
}

bool reader_wide_lanes() {
    static const bool wide = __builtin_cpu_supports("avx");
    return wide;
}
#endif

}  // namespace

void sinc_read_render2(const double* x, const double* data, double width, int channels,
                       int64_t frames, double* out) {
#ifdef VELORIN_READER_SSE2
    int64_t first[2];
    if (width == 1.0 && four_tap_span(x[0], channels, frames, &first[0]) &&
        four_tap_span(x[1], channels, frames, &first[1])) {
        read_width_one2(x, data, channels, first, out);
        return;
    }
#endif
    out[0] = sinc_read_render(x[0], data, width, channels, frames);
    out[1] = sinc_read_render(x[1], data, width, channels, frames);
}

void sinc_read_render4(const double* x, const double* data, double width, int channels,
                       int64_t frames, double* out) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (reader_wide_lanes()) {
        int64_t first[4];
        bool all = width == 1.0;
        for (int i = 0; i < 4 && all; ++i) all = four_tap_span(x[i], channels, frames, &first[i]);
        if (all) {
            read_width_one4(x, data, channels, first, out);
            return;
        }
    }
#endif
    sinc_read_render2(x, data, width, channels, frames, out);
    sinc_read_render2(x + 2, data, width, channels, frames, out + 2);
}

}  // namespace velorin
