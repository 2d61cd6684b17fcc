// synth/passes.h: the work unit record, the shared render context and the two
// render passes.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>

#if defined(__SSE2__) || defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "platform/platform.h"
#include "synth/kernels.h"
#include "synth/simd.h"

namespace velorin {

// A unit of the first pass: one grain.
struct FirstPassUnit {
    int32_t out_index = 0;     // grain centre, output samples
    double src_pos = 0.0;      // source position, input samples
    double out_phase = 0.0;    // output phase, cycles
    double target_freq = 0.0;  // Hz, divided by the modulation factor
    double modulation = 0.0;
};

// A unit of the second pass: one 1024-sample block.
struct SecondPassUnit {
    int32_t out_index = 0;  // block start, output samples
    double src_pos = 0.0;   // source position, input samples
    double gender = 1.0;    // formant factor
    double breath = 0.0;    // breath level
    double voiced_gain = 0.0;
    double noise_gain = 0.0;
    int32_t no_filter = 0;  // 1 skips the formant correction
    double modulation = 0.0;
    const double* noise = nullptr;  // 1024 noise values; null: no breath
};

// Everything the passes read. The driver fills it before the workers start;
// it stays read-only while they run, except datbuf (grows under datbuf_lock
// in the first pass) and outbuf (grows under outbuf_lock in the second).
struct RenderShared {
    const double* sample = nullptr;  // input, 16-bit scale, interleaved
    int64_t sample_frames = 0;       // frames in `sample`, appended zeros included
    int channels = 1;
    double rate = 44100.0;  // input rate, Hz
    double r = 1.0;         // rate / 44100

    // The frames of `sample` that hold the input when only part of it was
    // converted (two ranges, first..last - 1 each); `missed` is then set by
    // any unit whose reads reach input frames outside both, and the driver
    // renders again from the whole input. Null: every frame is there.
    std::atomic<bool>* missed = nullptr;
    int64_t ready_first[2] = {0, 0};
    int64_t ready_last[2] = {0, 0};

    const double* freq = nullptr;  // frequency list: freq_count + 1 values, Hz
    int freq_count = 0;
    int freq_step = 256;
    double freq_step_inv = 0.0;  // step_reciprocal(freq_step); 0: divide
    double freq_avg = 0.0;

    const double* phase_table = nullptr;  // phase_frames + 1 entries
    int phase_frames = 0;

    const double* pitch_freq = nullptr;  // pitch_count + 1 values, Hz; null: no bend
    int pitch_count = 0;
    int pitch_step = 256;
    double pitch_step_inv = 0.0;  // step_reciprocal(pitch_step); 0: divide
    double target_freq = 0.0;     // Hz, unbent

    int outlen = 0;
    const double* hann128 = nullptr;   // 128-point periodic Hann window
    const double* sine1024 = nullptr;  // 1024-point sine window
    const double* twiddles = nullptr;  // 1024-point transform tables
    const int32_t* bitrev = nullptr;
    const double* breath_shape = nullptr;  // 1024 entries; used when breath > 0

    SimdWidth lanes = SimdWidth::scalar;  // the run's lane width (simd_width_for_run)

    double* datbuf = nullptr;  // outlen values
    double* outbuf = nullptr;  // outlen values
    Mutex* datbuf_lock = nullptr;
    Mutex* outbuf_lock = nullptr;
};

// Both passes read the sample through sinc_read_render (within about 1e-10
// of the data's scale of sinc_read_f64), allocate nothing (under 64 KiB of
// stack) and hold their lock only while adding. Any number of units
// may run at once; only the order of the additions then varies.

// 1 / step when step is a power of two (then x * (1 / step) and x / step
// are the same double), else 0.
inline double step_reciprocal(int step) {
    if (step <= 0 || (step & (step - 1)) != 0) return 0.0;
    double r = 1.0;
    for (int s = step; s > 1; s /= 2) r *= 0.5;
    return r;
}

// Positions (in steps) below this are floored by integer conversion.
constexpr double series_fast_limit = 2147483648.0;  // 2^31

// series_value_at with the division by a power-of-two step done as a
// multiplication by its reciprocal `inv`: the same doubles.
inline double series_value_pow2(double x, const double* values, int count, double inv, double lo,
                                double bad, double fallback) {
    if (count < 0) count = 0;
    const double u = x * inv;
    int64_t k = 0;
    double f = 0.0;
    if (u > 0.0 && u < series_fast_limit) {
        // Between 0 and 2^31 the truncating conversion of a double is its
        // floor, exactly, and u is finite.
        const int32_t ki = static_cast<int32_t>(u);
        const double kd = static_cast<double>(ki);
        f = u - kd;
        k = ki >= count ? count : ki;
    } else if (u >= 0.0) {
        // Zero (std::floor keeps the sign of -0, and with it that of f),
        // 2^31 and beyond, +inf. NaN fails u >= 0.
        const double kd = std::floor(u);
        f = std::isfinite(u) ? u - kd : 0.0;
        k = kd >= static_cast<double>(count) ? count : static_cast<int64_t>(kd);
    }
    const double vl = values[k < count ? k : count];
    const double vr = values[k + 1 < count ? k + 1 : count];
    const double left = (!(vl > lo) || vl == bad) ? fallback : vl;
    const double right = (!(vr > lo) || vr == bad) ? fallback : vr;
    return (1 - f) * left + f * right;
}

// A frame series with its reading rules, copied out of RenderShared so that
// a loop of lookups keeps them in registers.
struct SeriesReader {
    const double* values = nullptr;  // count + 1 values
    int count = 0;
    int step = 256;
    double inv = 0.0;  // step_reciprocal(step)
    double lo = 0.0, bad = 0.0, fallback = 0.0;

    double at(double x) const {
        if (inv > 0) return series_value_pow2(x, values, count, inv, lo, bad, fallback);
        return series_value_at(x, values, count, step, lo, bad, fallback);
    }
};

#if defined(__SSE2__) || defined(__x86_64__)
// The lookups at the two lanes of x, s.at(x[0]) and s.at(x[1]), the same
// doubles, side by side when the step is a power of two and both positions
// lie between step 0 and step 2^31 (the others go to s.at).
inline __m128d series_pair2(const SeriesReader& s, __m128d x) {
    if (s.inv > 0) {
        const __m128d u = _mm_mul_pd(x, _mm_set1_pd(s.inv));
        const __m128d in = _mm_and_pd(_mm_cmpgt_pd(u, _mm_setzero_pd()),
                                      _mm_cmplt_pd(u, _mm_set1_pd(series_fast_limit)));
        if (_mm_movemask_pd(in) == 3) {
            const __m128i ki = _mm_cvttpd_epi32(u);
            const __m128d f = _mm_sub_pd(u, _mm_cvtepi32_pd(ki));
            const int count = s.count < 0 ? 0 : s.count;
            const int k0 = _mm_cvtsi128_si32(ki), k1 = _mm_cvtsi128_si32(_mm_srli_si128(ki, 4));
            const double* v = s.values;
            const __m128d vl = _mm_set_pd(v[k1 >= count ? count : k1], v[k0 >= count ? count : k0]);
            const __m128d vr =
                _mm_set_pd(v[k1 >= count ? count : k1 + 1], v[k0 >= count ? count : k0 + 1]);
            // Valid: v > lo and v != bad; NaN fails the first.
            const __m128d lo = _mm_set1_pd(s.lo), bad = _mm_set1_pd(s.bad);
            const __m128d fb = _mm_set1_pd(s.fallback);
            const __m128d okl = _mm_and_pd(_mm_cmpgt_pd(vl, lo), _mm_cmpneq_pd(vl, bad));
            const __m128d okr = _mm_and_pd(_mm_cmpgt_pd(vr, lo), _mm_cmpneq_pd(vr, bad));
            const __m128d left = _mm_or_pd(_mm_and_pd(okl, vl), _mm_andnot_pd(okl, fb));
            const __m128d right = _mm_or_pd(_mm_and_pd(okr, vr), _mm_andnot_pd(okr, fb));
            return _mm_add_pd(_mm_mul_pd(_mm_sub_pd(_mm_set1_pd(1.0), f), left),
                              _mm_mul_pd(f, right));
        }
    }
    double xs[2];
    _mm_storeu_pd(xs, x);
    return _mm_set_pd(s.at(xs[1]), s.at(xs[0]));
}
#endif

// out[0] = s.at(x0), out[1] = s.at(x1), the same doubles; series_pair2
// where SSE2 is at hand.
inline void series_pair(const SeriesReader& s, double x0, double x1, double* out) {
#if defined(__SSE2__) || defined(__x86_64__)
    _mm_storeu_pd(out, series_pair2(s, _mm_set_pd(x1, x0)));
#else
    out[0] = s.at(x0);
    out[1] = s.at(x1);
#endif
}

// The frequency list as read by freq_at.
inline SeriesReader freq_series(const RenderShared& sh) {
    return SeriesReader{sh.freq,          sh.freq_count,   sh.freq_step, sh.freq_step_inv,
                        list_unvoiced_hz, list_missing_hz, sh.freq_avg};
}

// The frequency list at source position x; frames marked unvoiced (1 Hz or
// less) or 55.0 read as the list's average.
inline double freq_at(const RenderShared& sh, double x) { return freq_series(sh).at(x); }

// The bent target frequency at output position x; the target itself without
// a bend.
inline double pitch_at(const RenderShared& sh, double x) {
    if (!sh.pitch_freq) return sh.target_freq;
    const SeriesReader bend{sh.pitch_freq, sh.pitch_count, sh.pitch_step, sh.pitch_step_inv, 1.0,
                            1.0,           sh.target_freq};
    return bend.at(x);
}

// Dividing a target frequency by this factor, taken with the source frequency
// f, makes the output follow the source's own pitch wobble in proportion m.
inline double modulation_factor(const RenderShared& sh, double f, double m) {
    return (sh.freq_avg / f) * m + (1 - m);
}

// The span of source positions a unit reads, kept while it reads them. A
// NaN position (the reader gives 0 for it) fails both comparisons and leaves
// the span as it is; no position at all leaves lo above hi.
struct ReadSpan {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
    void add(double x) {
        lo = x < lo ? x : lo;
        hi = x > hi ? x : hi;
    }
    bool any() const { return lo <= hi; }
};

// Sets *sh.missed when a unit's reads, with the kernel's reach `width` on
// either side, touch input frames the driver has not converted.
inline void check_reads(const RenderShared& sh, const ReadSpan& span, double width) {
    if (!sh.missed || !span.any()) return;
    const double in_lo = std::max(span.lo - 2 * width - 1, 0.0);
    const double in_hi = std::min(span.hi + 2 * width + 1, static_cast<double>(sh.sample_frames));
    if (!(in_lo <= in_hi)) return;  // wholly outside the input: zeros either way
    for (int k = 0; k < 2; ++k)
        if (in_lo >= static_cast<double>(sh.ready_first[k]) &&
            in_hi < static_cast<double>(sh.ready_last[k]))
            return;
    sh.missed->store(true, std::memory_order_relaxed);
}

// First pass: one 128-sample grain around u.out_index, added into datbuf.
void resampling_pass(const RenderShared& sh, const FirstPassUnit& u);
// Second pass: one 1024-sample block starting 512 before u.out_index, with the
// source envelope and breath, added into outbuf. Reads breath_shape and
// u.noise only when u.breath > 0 and u.noise is not null.
void envelope_breath_pass(const RenderShared& sh, const SecondPassUnit& u);

// The breath shaping table (1024 entries) for the tilt `alpha` (flag a); the
// driver builds it before the second pass starts.
void build_breath_table(double alpha, double* table);

}  // namespace velorin
