// frq/period_kernels.cpp: the table of a width (a width this processor lacks
// is never asked for).
#include "frq/period_kernels.h"

namespace velorin {

const PeriodKernels& period_kernels(SimdWidth w) {
    switch (w) {
        case SimdWidth::avx512:
            return avx512_period_kernels;
        case SimdWidth::avx:
            return avx_period_kernels;
        case SimdWidth::pair:
            return pair_period_kernels;
        default:
            return scalar_period_kernels;
    }
}

}  // namespace velorin
