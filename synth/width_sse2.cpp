// synth/width_sse2.cpp: the kernels two doubles at a time (SSE2).
#include "simd/lanes.h"
#include "synth/width_kernels.h"

namespace velorin {

const LaneKernels sse2_lane_kernels = kernels_of_width<lanes::Sse2, lanes::Sse2>();

}  // namespace velorin
