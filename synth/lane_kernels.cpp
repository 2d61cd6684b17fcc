// synth/lane_kernels.cpp: the table of a width, among those this build has.
#include "synth/lane_kernels.h"

namespace velorin {

const LaneKernels& lane_kernels(SimdWidth w) {
#if defined(VELORIN_WIDTH_AVX)
    if (w == SimdWidth::avx) return avx_lane_kernels;
#endif
#if defined(VELORIN_WIDTH_SSE2)
    if (w == SimdWidth::sse2) return sse2_lane_kernels;
#endif
    (void)w;
    return scalar_lane_kernels;
}

}  // namespace velorin
