// synth/lane_kernels.h: the kernels of one lane width, as a table.
//
// Each width's translation unit (width_*.cpp, built with that width's
// compiler flags) instantiates the kernel templates (*_lanes.h) with its lane
// type and fills one table; the algorithm files call through the table of
// the run's width. An entry left null at a width means the plain loop of
// the algorithm file serves it there.
#pragma once

#include <cstdint>

#include "simd/simd.h"
#include "synth/series.h"

namespace velorin {

// How the source phase table's terms of samples that share a frame are
// computed: u = (j + 0.5 - q) / step (times `inv` instead when the step is a
// power of two, the same double), then f = u - kd and ((1 - f) * l + f * r) /
// rate. Every term is the double phase_term gives: the numerator of u is
// exact, and each step after it is one rounded operation in the same order.
struct FrameTerms {
    double q, step, inv, kd, l, r, rate;
};

struct LaneKernels {
    // synth/series_lanes.h: out[i] = s.at(x[i]), i < n (exposed for the tests)
    void (*series_many)(const SeriesReader& s, const double* x, int n, double* out);

    // synth/render_reader.h
    void (*read_width_one)(const double* x, int n, const double* data, int channels, int64_t frames,
                           double* out);
    void (*read_wide)(const double* x, int n, const double* data, double width, int channels,
                      int64_t frames, double* out);
    int (*lanes_taken_width_one)(const double* x, int64_t frames, int64_t* first);
    int (*lanes_taken_wide_kernel)(const double* x, double width, int64_t frames, int64_t* first);

    // synth/kernels.h: the phase table's sum plus the terms of samples j ..
    // end - 1, added in order (synth/phase_lanes.h)
    double (*add_frame_terms)(const FrameTerms& ft, int64_t j, int64_t end, double sum);

    // synth/rfft.h (synth/rfft_lanes.h): the transforms of 64 .. 2048 values,
    // and the stages one by one for the others (after or before the
    // permutation)
    void (*rfft_forward_gathered)(int n, double* a, const double* tw);
    void (*rfft_inverse_gathered)(int n, double* a, const double* tw);
    void (*rfft_forward_stages)(int n, int first, double* a, const double* tw);
    void (*rfft_inverse_stages)(int n, int top, int last, double* a, const double* tw);

    // synth/smoothed_power.h
    void (*weighted_sums)(const double* src, const double* weight, int taps, double* out);
    int (*power_bins)(const double* x, double* p);

    // The second pass (synth/envelope_lanes.h); each returns the first index
    // it left to the plain loop.
    int (*products)(const double* a, const double* b, int n, double* out);
    int (*products_down)(const double* a, const double* b, int n, double* out);
    int (*read_positions)(double p, double r, int i0, int n, double* at);
    int (*breath_block)(const double* v, int n, const double* su, const double* sd, double* up,
                        double* down);
    int (*gains)(double* x, const double* want, const double* have, double pw, double fw,
                 const double* shape, int from);
    int (*add_block)(double* out, const double* d, const double* nb, const double* s, double vg,
                     double ng, int n);
    int (*breath_positions)(const SeriesReader& freq, const double* xs, int n, double half_rate,
                            double* at);

    // The walks (synth/walk_lanes.h): a grain's, two directions side by side,
    // and the time map's target frequencies.
    void (*grain_walk)(const PitchRules& g, double r, int out_index, int i0, int count, double* ab,
                       double* at);
    void (*target_frequencies)(const PitchRules& g, int j0, int n, const double* s, double* f,
                               double* dphase);
};

// The table of width w (w must be a width this build compiled, which every
// SimdWidth that simd_width_for_run or simd_width_available gives is).
const LaneKernels& lane_kernels(SimdWidth w);

// The widths' own tables, defined by their translation units.
extern const LaneKernels scalar_lane_kernels;
extern const LaneKernels pair_lane_kernels;
extern const LaneKernels avx_lane_kernels;
// The eight-wide render reader (width_avx512.cpp) in a table of four-wide
// kernels.
void use_avx512_reader(LaneKernels* k);

}  // namespace velorin
