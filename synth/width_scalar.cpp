// synth/width_scalar.cpp: the kernels one double at a time.
#include "synth/lane_kernels.h"
#include "synth/lanes.h"
#include "synth/smoothing_lanes.h"

namespace velorin {

using V = lanes::Scalar;

// The reader's plain loop is its scalar form.
const LaneKernels scalar_lane_kernels = {
    nullptr, nullptr, nullptr, nullptr, &smoothing::weighted_sums<V>, &smoothing::power_bins<V>,
};

}  // namespace velorin
