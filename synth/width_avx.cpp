// synth/width_avx.cpp: the kernels four doubles at a time (AVX). Built with
// -mavx, and used only where the processor has AVX (simd/simd.h).
#include "simd/lanes.h"
#include "synth/width_kernels.h"

namespace velorin {

// The walks of two positions stay two lanes wide.
const LaneKernels avx_lane_kernels = kernels_of_width<lanes::Avx, lanes::Pair>();

}  // namespace velorin
