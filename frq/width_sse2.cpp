// frq/width_sse2.cpp: the estimate's kernels two doubles at a time (SSE2).
#include "frq/period_kernels.h"
#include "frq/period_lanes.h"
#include "simd/lanes.h"

namespace velorin {

const PeriodKernels sse2_period_kernels = {
    &period::lag_differences<lanes::Sse2>,
    &period::weighted_runs<lanes::Sse2>,
    &period::spectrum_sums<lanes::Sse2>,
};

}  // namespace velorin
