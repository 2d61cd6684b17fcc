// synth/lane_kernels.cpp: the table of a width (a width this processor lacks
// is never asked for).
#include "synth/lane_kernels.h"

namespace velorin {

const LaneKernels& lane_kernels(SimdWidth w) {
    switch (w) {
        case SimdWidth::avx512: {
            // Eight lanes pay in the reader alone: the rest go four wide.
            static const LaneKernels avx512 = [] {
                LaneKernels k = avx_lane_kernels;
                use_avx512_reader(&k);
                return k;
            }();
            return avx512;
        }
        case SimdWidth::avx:
            return avx_lane_kernels;
        case SimdWidth::pair:
            return pair_lane_kernels;
        default:
            return scalar_lane_kernels;
    }
}

}  // namespace velorin
