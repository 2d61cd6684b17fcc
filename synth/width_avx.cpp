// synth/width_avx.cpp: the kernels four doubles at a time (AVX; built with -mavx).
#include "synth/lane_kernels.h"
#include "synth/lanes.h"
#include "synth/reader_lanes.h"
#include "synth/smoothing_lanes.h"

namespace velorin {

using V = lanes::Avx;

const LaneKernels avx_lane_kernels = {
    &reader::read_width_one_many<V>, &reader::read_wide_many<V>,   &reader::width_one_lanes<V>,
    &reader::wide_lanes<V>,          &smoothing::weighted_sums<V>, &smoothing::power_bins<V>,
};

}  // namespace velorin
