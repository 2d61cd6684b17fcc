// frq/period_kernels.h: the period estimate's kernels of one lane width, as a
// table (see synth/lane_kernels.h for how the widths are built and chosen).
#pragma once

#include "simd/simd.h"

namespace velorin {

// True when lag tau - 1 is a candidate of the estimate: dt = d + (tau -
// min_lag), and d has a strict local minimum there (d[tau - 2] > d[tau - 1]
// < d[tau]).
inline bool ends_candidate(const double* dt) { return dt[-2] > dt[-1] && dt[0] > dt[-1]; }

// The estimate's candidates among the lags whose differences d[tau - min_lag]
// are done from `from` to `to`: each tau - 1 with min_lag + 2 <= tau and
// from <= tau <= to where ends_candidate holds, so that counts over
// consecutive ranges add up.
inline int count_candidates(const double* d, int min_lag, int from, int to) {
    if (from < min_lag + 2) from = min_lag + 2;
    int found = 0;
    for (int tau = from; tau <= to; ++tau) found += ends_candidate(d + (tau - min_lag));
    return found;
}

struct PeriodKernels {
    // The difference function's lags from tau (even) to max_lag, into
    // d[tau - min_lag ...], which takes up to 31 values beyond d[max_lag -
    // min_lag] (scratch); returns max_lag + 1, or, when stop_at > 0 and the
    // lags done hold stop_at candidates (count_candidates), the lag after the
    // last one done. Null: the plain loop does all.
    int (*lag_differences)(const double* buf, const double* ew2, int n, int tau, int min_lag,
                           int max_lag, int stop_at, double* d);
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
