// synth/resampling_pass.cpp: the first render pass, one pitch-synchronous
// grain per unit.
#include <algorithm>

#include "synth/kernels.h"
#include "synth/lane_kernels.h"
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
    const PitchRules g = pitch_rules(sh, u.modulation);
    double ab[2] = {c, c - (u.target_freq / fc) * r};
    double at[2 * grain_half];  // the positions of step i at 2 i and 2 i + 1
    double v[2 * grain_half];
    const LaneKernels& lk = lane_kernels(sh.lanes);
    for (int i0 = 0; i0 < grain_half; i0 += steps_per_read) {
        lk.grain_walk(g, r, u.out_index, i0, steps_per_read, ab, at);
        sinc_read_render_many(sh.lanes, at + 2 * i0, 2 * steps_per_read, sh.sample, w, sh.channels,
                              sh.sample_frames, v + 2 * i0);
    }
    ReadSpan span;
    if (sh.missed)  // only a partly converted input needs the span
        for (double x : at) span.add(x);
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
