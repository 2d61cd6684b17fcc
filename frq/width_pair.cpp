// frq/width_pair.cpp: the estimate's kernels two doubles at a time (SSE2 on x86, NEON on arm64).
#include "frq/period_kernels.h"
#include "frq/period_lanes.h"
#include "simd/lanes.h"

namespace velorin {

const PeriodKernels pair_period_kernels = {
    &period::lag_differences<lanes::Pair>,
    &period::weighted_runs<lanes::Pair>,
    &period::spectrum_sums<lanes::Pair>,
};

}  // namespace velorin
