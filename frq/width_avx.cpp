// frq/width_avx.cpp: the estimate's kernels four doubles at a time (AVX).
// Built with -mavx, and used only where the processor has AVX.
#include "frq/period_kernels.h"
#include "frq/period_lanes.h"
#include "simd/lanes.h"

namespace velorin {

// The two sums of a spectrum stay two lanes wide.
const PeriodKernels avx_period_kernels = {
    &period::lag_differences<lanes::Avx>,
    &period::weighted_runs<lanes::Avx>,
    &period::spectrum_sums<lanes::Pair>,
};

}  // namespace velorin
