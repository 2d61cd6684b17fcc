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
__attribute__((target("avx"), noinline)) void weighted_sums_avx(const double* src,
                                                                const double* weight, int taps,
                                                                double* out) {
    int n = 0;
    for (; n + 16 <= spectrum_bins; n += 16) {
        __m256d a0 = _mm256_setzero_pd(), a1 = _mm256_setzero_pd();
        __m256d a2 = _mm256_setzero_pd(), a3 = _mm256_setzero_pd();
        const double* x = src + n;
        for (int t = 0; t < taps; ++t, ++x) {
            const __m256d w = _mm256_broadcast_sd(weight + t);
            a0 = _mm256_add_pd(a0, _mm256_mul_pd(w, _mm256_loadu_pd(x)));
            a1 = _mm256_add_pd(a1, _mm256_mul_pd(w, _mm256_loadu_pd(x + 4)));
            a2 = _mm256_add_pd(a2, _mm256_mul_pd(w, _mm256_loadu_pd(x + 8)));
            a3 = _mm256_add_pd(a3, _mm256_mul_pd(w, _mm256_loadu_pd(x + 12)));
        }
        _mm256_storeu_pd(out + n, a0);
        _mm256_storeu_pd(out + n + 4, a1);
        _mm256_storeu_pd(out + n + 8, a2);
        _mm256_storeu_pd(out + n + 12, a3);
    }
    weighted_sums_plain(src, weight, taps, n, out);
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
    for (int k = 1; k < spectrum_bins - 1; ++k)
        p[k] = x[k] * x[k] + x[spectrum_block - k] * x[spectrum_block - k];
    p[spectrum_bins - 1] = x[spectrum_bins - 1] * x[spectrum_bins - 1];
}

void smoothed_spectrum(const double* p, double width, double* out) {
    int h = 0;
    if (width >= 1.0) {
        const double f = std::floor(width);
        h = f >= max_half_width ? max_half_width : static_cast<int>(f);
    }
    // The weights depend on t only: compute each once, not once per bin.
    double weight[2 * max_half_width + 1];
    for (int t = -h; t <= h; ++t) weight[t + h] = smoothing_weight(t / width);

    // The spectrum with its mirror image in front and zeros behind, so the
    // sum needs no index tests: ext[h + i] is what bin i contributes.
    // Adding an exact zero leaves a sum unchanged, so the padding does not
    // alter any result.
    double ext[spectrum_bins + 2 * max_half_width];
    for (int i = -h; i < 0; ++i) ext[h + i] = i > -spectrum_bins ? p[-i] : 0.0;
    std::memcpy(ext + h, p, spectrum_bins * sizeof(double));
    std::fill(ext + h + spectrum_bins, ext + 2 * h + spectrum_bins, 0.0);
    // Every bin adds its terms in the order of ascending t, from 0.0.
    weighted_sums(ext, weight, 2 * h + 1, out);
}

}  // namespace velorin
