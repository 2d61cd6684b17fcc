// synth/lane_kernels.h: the kernels of one lane width, as a table.
//
// Each width's translation unit (width_*.cpp, built with that width's
// compiler flags) instantiates the kernel templates (*_lanes.h) with its lane
// type and fills one table; the algorithm files call through the table of
// the run's width. An entry left null at a width means the plain loop of
// the algorithm file serves it there.
#pragma once

#include <cstdint>

#include "synth/simd.h"

namespace velorin {

struct LaneKernels {
    // synth/render_reader.h
    void (*read_width_one)(const double* x, int n, const double* data, int channels, int64_t frames,
                           double* out);
    void (*read_wide)(const double* x, int n, const double* data, double width, int channels,
                      int64_t frames, double* out);
    int (*width_one_lanes)(const double* x, int64_t frames, int64_t* first);
    int (*wide_lanes)(const double* x, double width, int64_t frames, int64_t* first);

    // synth/smoothed_power.h
    void (*weighted_sums)(const double* src, const double* weight, int taps, double* out);
    int (*power_bins)(const double* x, double* p);
};

// The table of width w (w must be a width this build compiled, which every
// SimdWidth that simd_width_for_run or simd_width_available gives is).
const LaneKernels& lane_kernels(SimdWidth w);

// The widths' own tables, defined by their translation units.
extern const LaneKernels scalar_lane_kernels;
extern const LaneKernels sse2_lane_kernels;
extern const LaneKernels avx_lane_kernels;

}  // namespace velorin
