// synth/smoothed_power.h: power spectra of transformed blocks and their smoothing,
// as the second render pass uses them.
#pragma once

#include "simd/simd.h"

namespace velorin {

constexpr int spectrum_block = 1024;  // samples per transformed block
constexpr int spectrum_bins = 513;    // bins 0..512 of such a block

// p[k] = x[k]^2 + x[1024 - k]^2 for k = 1..511, x[k]^2 for bins 0 and 512;
// x in the layout of rfft_forward. These three take `lanes` values at a time
// (simd/simd.h); every width gives the same doubles.
void power_spectrum(SimdWidth lanes, const double* x, double* p);

// out[n] = sum over t = -H..H of smoothing_weight(t / width) * p[n + t], with
// H = floor(width) and the terms added in ascending t. Bin indices below 0
// read their mirror image (bin -(n + t)); indices past 512, before or after
// mirroring, add nothing. No division by the weight sum. A width below 1 (or
// NaN) keeps only the centre term. Allocates nothing.
void smoothed_spectrum(SimdWidth lanes, const double* p, double width, double* out);

// smoothed_spectrum of the power spectrum of x (rfft_forward's layout), the
// same doubles, without a separate power spectrum.
void smoothed_power_spectrum(SimdWidth lanes, const double* x, double width, double* out);

}  // namespace velorin
