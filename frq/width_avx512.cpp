// frq/width_avx512.cpp: the estimate's sums eight doubles at a time
// (AVX-512F), where they take about half the time of four. Built with
// -mavx512f, and used only where the processor and system have AVX-512F.
#include "frq/period_kernels.h"
#include "frq/period_lanes.h"
#include "simd/lanes.h"

namespace velorin {

// The two sums of a spectrum stay two lanes wide.
const PeriodKernels avx512_period_kernels = {
    &period::lag_differences<lanes::Avx512>,
    &period::weighted_runs<lanes::Avx512>,
    &period::spectrum_sums<lanes::Pair>,
};

}  // namespace velorin
