// frq/period_kernels.cpp: the table of a width, among those this build has.
#include "frq/period_kernels.h"

namespace velorin {

const PeriodKernels& period_kernels(SimdWidth w) {
#if defined(VELORIN_WIDTH_AVX)
    if (w == SimdWidth::avx) return avx_period_kernels;
#endif
#if defined(VELORIN_WIDTH_SSE2)
    if (w == SimdWidth::sse2) return sse2_period_kernels;
#endif
    (void)w;
    return scalar_period_kernels;
}

}  // namespace velorin
