// synth/passes.h: the work unit record, the shared render context and the two
// render passes.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>

#include "platform/platform.h"
#include "simd/simd.h"
#include "synth/kernels.h"
#include "synth/series.h"

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
// The bend as a frame series: points of 1 Hz or less, and points of exactly
// 1 Hz, read as the unbent target. Only where sh.pitch_freq is set.
inline SeriesReader bend_series(const RenderShared& sh) {
    const double lowest = 1.0, marked = 1.0;
    return SeriesReader{sh.pitch_freq, sh.pitch_count, sh.pitch_step, sh.pitch_step_inv,
                        lowest,        marked,         sh.target_freq};
}

inline double pitch_at(const RenderShared& sh, double x) {
    if (!sh.pitch_freq) return sh.target_freq;
    return bend_series(sh).at(x);
}

// The rules of the walks (synth/walk_lanes.h) for modulation m.
inline PitchRules pitch_rules(const RenderShared& sh, double m) {
    PitchRules g;
    g.freq = freq_series(sh);
    g.bent = sh.pitch_freq != nullptr;
    if (g.bent) g.bend = bend_series(sh);
    g.target = sh.target_freq;
    g.freq_avg = sh.freq_avg;
    g.modulation = m;
    return g;
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
