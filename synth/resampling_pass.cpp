// synth/resampling_pass.cpp: the first render pass, one pitch-synchronous
// grain per unit.
#include <algorithm>

#include "synth/kernels.h"
#include "synth/passes.h"
#include "synth/render_reader.h"

namespace velorin {

namespace {

constexpr int grain_size = 128;
constexpr int grain_half = 64;
// Steps per batch of reads in the walk below.
constexpr int steps_per_read = 4;
static_assert(grain_half % steps_per_read == 0, "whole batches");

}  // namespace

void resampling_pass(const RenderShared& sh, const FirstPassUnit& u) {
    const double r = sh.r;
    const double m = u.modulation;
    const double c =
        aligned_source_position(u.src_pos, u.out_phase, sh.freq, sh.freq_count, sh.phase_table,
                                sh.phase_frames, sh.freq_step, 1.0, 55.0, sh.freq_avg, sh.rate);
    const double fc = freq_at(sh, c);
    const double w = std::max(1.0, r);

    // Output sample out_index falls on the anchor c; the grain's second half
    // reads forward from there, its first half backward, each at the rate
    // that moves the local source pitch to the local target pitch.
    // The positions depend on the frequency list and the bend only, not on
    // what is read there. Each step waits for the one before it (a lookup
    // and two divisions), so the reads of a few steps' positions go in
    // between: the processor does them while the next steps wait.
    double a = c;
    double b = c - (u.target_freq / fc) * r;
    double at[2 * grain_half];  // a and b of step i at 2 i and 2 i + 1
    double v[2 * grain_half];
    const SeriesReader freq = freq_series(sh);
#if defined(__SSE2__) || defined(__x86_64__)
    // a and b side by side, every operation the scalar steps' own; b -= s is
    // b + (-s), the same double.
    const SeriesReader bend{sh.pitch_freq, sh.pitch_count, sh.pitch_step, sh.pitch_step_inv, 1.0,
                            1.0,           sh.target_freq};
    const __m128d target = _mm_set1_pd(sh.target_freq);
    const __m128d rv = _mm_set1_pd(r), mv = _mm_set1_pd(m), one_m = _mm_set1_pd(1 - m);
    const __m128d avg = _mm_set1_pd(sh.freq_avg), negate_b = _mm_set_pd(-0.0, 0.0);
    __m128d ab = _mm_set_pd(b, a);
    for (int i0 = 0; i0 < grain_half; i0 += steps_per_read) {
        for (int i = i0; i < i0 + steps_per_read; ++i) {
            const __m128d f = series_pair2(freq, ab);
            _mm_storeu_pd(at + 2 * i, ab);
            const __m128d p =
                sh.pitch_freq
                    ? series_pair2(bend, _mm_set_pd(u.out_index - i - 1.5, u.out_index + i + 0.5))
                    : target;
            const __m128d mod = _mm_add_pd(_mm_mul_pd(_mm_div_pd(avg, f), mv), one_m);
            const __m128d step = _mm_div_pd(_mm_mul_pd(_mm_div_pd(p, f), rv), mod);
            ab = _mm_add_pd(ab, _mm_xor_pd(step, negate_b));
        }
        sinc_read_render_many(sh.lanes, at + 2 * i0, 2 * steps_per_read, sh.sample, w, sh.channels,
                              sh.sample_frames, v + 2 * i0);
    }
#else
    for (int i = 0; i < grain_half; ++i) {
        double fab[2];
        series_pair(freq, a, b, fab);
        const double fa = fab[0], fb = fab[1];
        at[2 * i] = a;
        at[2 * i + 1] = b;
        const double pa = pitch_at(sh, u.out_index + i + 0.5);
        const double pb = pitch_at(sh, u.out_index - i - 1.5);
        a += (pa / fa) * r / modulation_factor(sh, fa, m);
        b -= (pb / fb) * r / modulation_factor(sh, fb, m);
    }
#endif
    ReadSpan span;
    if (sh.missed)  // only a partly converted input needs the span
        for (double x : at) span.add(x);
#if !(defined(__SSE2__) || defined(__x86_64__))
    sinc_read_render_many(sh.lanes, at, 2 * grain_half, sh.sample, w, sh.channels, sh.sample_frames,
                          v);
#endif
    double grain[grain_size];
    for (int i = 0; i < grain_half; ++i) {
        grain[grain_half + i] = v[2 * i] * sh.hann128[grain_half + i];
        grain[grain_half - 1 - i] = v[2 * i + 1] * sh.hann128[grain_half - 1 - i];
    }

    check_reads(sh, span, w);

    const int first = u.out_index - grain_half;
    const int lo = std::max(0, -first);
    const int hi = std::min(grain_size, sh.outlen - first);
    mutex_lock(sh.datbuf_lock);
    for (int k = lo; k < hi; ++k) sh.datbuf[first + k] += grain[k];
    mutex_unlock(sh.datbuf_lock);
}

}  // namespace velorin
