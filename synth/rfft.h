// synth/rfft.h: in-place real FFT of a power-of-two block, and its tables.
#pragma once

#include <cstdint>

#include "simd/simd.h"

namespace velorin {

// Tables for size n. The driver builds them once, before any worker starts;
// they are read-only afterwards. `twiddles` holds n (cos, sin) pairs (2n
// doubles); `bitrev` holds at most sqrt(n) offsets and must be zeroed before
// building.
void build_twiddles(double* twiddles, int n);
void build_bitrev(int n, int32_t* bitrev);
void build_windows(double* hann, double* sine, int n);
// The same tables evaluated at run time, for any n; the builders above copy
// the compiler's evaluation for the sizes the program uses (1024; 128 for
// the windows), and tests hold the two to each other.
void build_twiddles_computed(double* twiddles, int n);
void build_windows_computed(double* hann, double* sine, int n);

// Spectrum layout: a[k] is the cosine part of bin k (0 <= k <= n/2) and
// a[n - k] its sine part (0 < k < n/2). The forward transform does not scale;
// inverse(forward(x)) == x * n/2. `lanes` values at a time (simd/simd.h);
// every width gives the same doubles. Allocates nothing (16 KiB of stack);
// any number of threads may transform their own blocks at once.
void rfft_forward(SimdWidth lanes, int n, double* a, const double* twiddles, const int32_t* bitrev);
void rfft_inverse(SimdWidth lanes, int n, double* a, const double* twiddles, const int32_t* bitrev);

}  // namespace velorin
