// synth/width_scalar.cpp: the kernels one double at a time, in plain C++.
#include "simd/lanes.h"
#include "synth/width_kernels.h"

namespace velorin {

namespace {

constexpr LaneKernels scalar_kernels() {
    LaneKernels k = kernels_of_width<lanes::Scalar, lanes::Plain<2>>();
    // The reader's own loop is its scalar form.
    k.read_width_one = nullptr;
    k.read_wide = nullptr;
    k.lanes_taken_width_one = nullptr;
    k.lanes_taken_wide_kernel = nullptr;
    return k;
}

}  // namespace

const LaneKernels scalar_lane_kernels = scalar_kernels();

}  // namespace velorin
