// synth/width_sse2.cpp: the kernels two doubles at a time (SSE2).
#include "synth/lane_kernels.h"
#include "synth/lanes.h"
#include "synth/reader_lanes.h"
#include "synth/smoothing_lanes.h"

namespace velorin {

using V = lanes::Sse2;

const LaneKernels sse2_lane_kernels = {
    &reader::read_width_one_many<V>, &reader::read_wide_many<V>,   &reader::width_one_lanes<V>,
    &reader::wide_lanes<V>,          &smoothing::weighted_sums<V>, &smoothing::power_bins<V>,
};

}  // namespace velorin
