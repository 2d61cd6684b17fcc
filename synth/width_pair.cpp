// synth/width_pair.cpp: the kernels two doubles at a time (SSE2 on x86, NEON on arm64).
#include "simd/lanes.h"
#include "synth/width_kernels.h"

namespace velorin {

const LaneKernels pair_lane_kernels = kernels_of_width<lanes::Pair, lanes::Pair>();

}  // namespace velorin
