// frq/period_kernels.h: the period estimate's kernels of one lane width, as a
// table (see synth/lane_kernels.h for how the widths are built and chosen).
#pragma once

#include "simd/simd.h"

namespace velorin {

struct PeriodKernels {
    // The difference function's lags from tau (even) to max_lag, into
    // d[tau - min_lag ...], which takes up to 31 values beyond d[max_lag -
    // min_lag] (scratch); returns max_lag + 1. Null: the plain loop does all.
    int (*lag_differences)(const double* buf, const double* ew2, int n, int tau, int min_lag,
                           int max_lag, double* d);
    // v[m] = (sum over t of w[t] * s[m + t]) / wsum * scale - offset, m < count.
    void (*weighted_runs)(const double* s, const double* w, int taps, double wsum, double scale,
                          double offset, int count, double* v);
    // S = sum x[i] tab[2 i], C = sum x[i] tab[2 i + 1], each in order of i,
    // for tab = tabs[k], k < count (1 to 4), into s[k] and c[k].
    void (*spectrum_sums)(const double* x, const double* const* tabs, int count, int n, double* s,
                          double* c);
};

// The table of width w (one this build compiled).
const PeriodKernels& period_kernels(SimdWidth w);

extern const PeriodKernels scalar_period_kernels;
extern const PeriodKernels pair_period_kernels;
extern const PeriodKernels avx_period_kernels;
extern const PeriodKernels avx512_period_kernels;

}  // namespace velorin
