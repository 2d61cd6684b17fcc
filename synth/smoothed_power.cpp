// synth/smoothed_power.cpp: power spectra of transformed blocks and their smoothing.
#include "synth/smoothed_power.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/platform.h"
#include "synth/kernels.h"

#if defined(__SSE2__) || defined(__x86_64__)
#include <immintrin.h>
#define VELORIN_SMOOTH_SSE2 1
#endif

namespace velorin {

namespace {

// Past this half width every further term reads beyond bin 512 (or beyond it
// once mirrored) and adds nothing, so larger widths are cut here.
constexpr int max_half_width = spectrum_bins + 1;

// out[n] = the sum over t = 0 .. taps - 1, in that order from 0.0, of
// weight[t] * src[n + t], for n = 0 .. bins - 1. Bins side by side in vector
// lanes, each adding its terms in the same order, so every path gives the
// same bits.
void weighted_sums_plain(const double* src, const double* weight, int taps, int from, double* out) {
    for (int n = from; n < spectrum_bins; ++n) {
        double acc = 0.0;
        for (int t = 0; t < taps; ++t) acc += weight[t] * src[n + t];
        out[n] = acc;
    }
}

#ifdef VELORIN_SMOOTH_SSE2
void weighted_sums_sse2(const double* src, const double* weight, int taps, double* out) {
    int n = 0;
    for (; n + 4 <= spectrum_bins; n += 4) {
        __m128d a0 = _mm_setzero_pd(), a1 = _mm_setzero_pd();
        for (int t = 0; t < taps; ++t) {
            const __m128d w = _mm_set1_pd(weight[t]);
            a0 = _mm_add_pd(a0, _mm_mul_pd(w, _mm_loadu_pd(src + n + t)));
            a1 = _mm_add_pd(a1, _mm_mul_pd(w, _mm_loadu_pd(src + n + t + 2)));
        }
        _mm_storeu_pd(out + n, a0);
        _mm_storeu_pd(out + n + 2, a1);
    }
    weighted_sums_plain(src, weight, taps, n, out);
}
#endif

#if defined(__x86_64__) && defined(__GNUC__)
// 32 bins per step in eight accumulators: eight independent chains of
// additions keep the adder busy while each waits for its previous sum.
__attribute__((target("avx"), noinline)) void weighted_sums_avx(const double* src,
                                                                const double* weight, int taps,
                                                                double* out) {
    int n = 0;
    for (; n + 32 <= spectrum_bins; n += 32) {
        __m256d a[8];
        for (__m256d& v : a) v = _mm256_setzero_pd();
        const double* x = src + n;
        for (int t = 0; t < taps; ++t, ++x) {
            const __m256d w = _mm256_broadcast_sd(weight + t);
            for (int j = 0; j < 8; ++j)
                a[j] = _mm256_add_pd(a[j], _mm256_mul_pd(w, _mm256_loadu_pd(x + 4 * j)));
        }
        for (int j = 0; j < 8; ++j) _mm256_storeu_pd(out + n + 4 * j, a[j]);
    }
    weighted_sums_plain(src, weight, taps, n, out);
}

// p[k] = x[k]^2 + x[1024 - k]^2 for k = from .. from + 4 * count - 1, four
// bins at a time; the same products and sums as power_spectrum.
__attribute__((target("avx"), noinline)) void power_bins_avx(const double* x, int from, int count,
                                                             double* p) {
    for (int k = from; k < from + 4 * count; k += 4) {
        const __m256d a = _mm256_loadu_pd(x + k);
        // x[1024 - k], x[1023 - k], x[1022 - k], x[1021 - k]
        __m256d b = _mm256_loadu_pd(x + spectrum_block - k - 3);
        b = _mm256_permute_pd(_mm256_permute2f128_pd(b, b, 1), 5);
        _mm256_storeu_pd(p + k, _mm256_add_pd(_mm256_mul_pd(a, a), _mm256_mul_pd(b, b)));
    }
}

bool smoothing_wide_lanes() {
    static const bool wide = cpu_has_avx();
    return wide;
}
#endif

void weighted_sums(const double* src, const double* weight, int taps, double* out) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (smoothing_wide_lanes()) return weighted_sums_avx(src, weight, taps, out);
#endif
#ifdef VELORIN_SMOOTH_SSE2
    weighted_sums_sse2(src, weight, taps, out);
#else
    weighted_sums_plain(src, weight, taps, 0, out);
#endif
}

}  // namespace

void power_spectrum(const double* x, double* p) {
    p[0] = x[0] * x[0];
    int k = 1;
#if defined(__x86_64__) && defined(__GNUC__)
    if (smoothing_wide_lanes()) {
        power_bins_avx(x, 1, (spectrum_bins - 2) / 4, p);  // bins 1 .. 508
        k = 1 + 4 * ((spectrum_bins - 2) / 4);
    }
#endif
    for (; k < spectrum_bins - 1; ++k)
        p[k] = x[k] * x[k] + x[spectrum_block - k] * x[spectrum_block - k];
    p[spectrum_bins - 1] = x[spectrum_bins - 1] * x[spectrum_bins - 1];
}

namespace {

// The half width of the smoothing for `width`: floor(width), cut at
// max_half_width; 0 below 1 and for NaN.
int half_width(double width) {
    if (!(width >= 1.0)) return 0;
    // Below 2^31 the truncating conversion of a positive double is its floor;
    // wider widths are cut before converting.
    return width >= max_half_width ? max_half_width : static_cast<int>(width);
}

// The smoothing of the spectrum held in ext[h .. h + 512]: the mirror image
// goes in front, zeros behind, so the sum needs no index tests (ext[h + i] is
// what bin i contributes; adding an exact zero leaves a sum unchanged).
// Every bin adds its terms in the order of ascending t, from 0.0.
void smooth_extended(double* ext, int h, double width, double* out) {
    // (-t) / width is -(t / width) exactly and the weight squares its
    // argument first, so the weights of -t and t are the same double.
    double weight[2 * max_half_width + 1];
    for (int t = 0; t <= h; ++t) weight[h + t] = weight[h - t] = smoothing_weight(t / width);
    for (int i = -h; i < 0; ++i) ext[h + i] = i > -spectrum_bins ? ext[h - i] : 0.0;
    std::fill(ext + h + spectrum_bins, ext + 2 * h + spectrum_bins, 0.0);
    weighted_sums(ext, weight, 2 * h + 1, out);
}

}  // namespace

void smoothed_spectrum(const double* p, double width, double* out) {
    const int h = half_width(width);
    double ext[spectrum_bins + 2 * max_half_width];
    std::memcpy(ext + h, p, spectrum_bins * sizeof(double));
    smooth_extended(ext, h, width, out);
}

void smoothed_power_spectrum(const double* x, double width, double* out) {
    const int h = half_width(width);
    double ext[spectrum_bins + 2 * max_half_width];
    power_spectrum(x, ext + h);  // straight into the smoothing's input
    smooth_extended(ext, h, width, out);
}

}  // namespace velorin
