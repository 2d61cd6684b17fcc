// frq/width_avx.cpp: the estimate's kernels four doubles at a time (AVX).
// Built with -mavx, and used only where the processor has AVX.
#include "frq/period_kernels.h"
#include "frq/period_lanes.h"
#include "synth/lanes.h"

namespace velorin {

// The lags that do not fill a group of sixteen go eight at a time; the two
// sums of a spectrum stay two lanes wide.
const PeriodKernels avx_period_kernels = {
    &period::lag_differences_then<lanes::Avx, lanes::Sse2>,
    &period::weighted_runs<lanes::Avx>,
    &period::spectrum_sums<lanes::Sse2>,
};

}  // namespace velorin
