// synth/width_scalar.cpp: the kernels one double at a time.
#include "synth/lane_kernels.h"
#include "synth/lanes.h"

namespace velorin {

// The reader's plain loop is its scalar form.
const LaneKernels scalar_lane_kernels = {
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace velorin
