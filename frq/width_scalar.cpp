// frq/width_scalar.cpp: the estimate's kernels one double at a time.
#include "frq/period_kernels.h"
#include "frq/period_lanes.h"
#include "simd/lanes.h"

namespace velorin {

// The difference function's own loop is its scalar form.
const PeriodKernels scalar_period_kernels = {
    nullptr,
    &period::weighted_runs<lanes::Scalar>,
    &period::spectrum_sums<lanes::Plain<2>>,
};

}  // namespace velorin
