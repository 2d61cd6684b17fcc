// synth/render_reader.h: the sinc reader of the render passes, table-driven.
#pragma once

#include <cstdint>

#include "simd/simd.h"

namespace velorin {

// sinc_read_f64 with the kernel taken from a piecewise-cubic table instead of
// a Taylor series and a cosine per tap. Same taps, same fade at the buffer's
// ends; the kernel differs from the series by less than 1e-10, so results
// agree with sinc_read_f64 to about 1e-10 of the data's scale. Used by the
// render passes only: the analysis needs the exact readers. Pure; callable
// from any thread. The width's domain is 1 <= width < 1e15 (both passes read
// with at least 1): outside it, and for a position that is not a finite
// number, the read gives 0.
double sinc_read_render(double x, const double* data, double width, int channels, int64_t frames);

// n reads at once: out[i] = sinc_read_render(x[i], ...), the very same
// doubles, for i < n, `lanes` at a time (simd/simd.h). Width 1 reads every
// group of positions whose taps all lie inside the buffer (and are not whole
// samples) side by side; other widths below 64 likewise; the scalar reader
// reads the rest, and everything at SimdWidth::scalar. Pure; callable from
// any thread.
void sinc_read_render_many(SimdWidth lanes, const double* x, int n, const double* data,
                           double width, int channels, int64_t frames, double* out);

// The tests that pick the positions read side by side, at width `lanes`, on
// x[0 .. lanes - 1]: bit k of the result is set when x[k] is read side by side, and first[k] is
// then its first tap (floor(x[k]) - 1 for width one), -1 otherwise; -1 alone at
// SimdWidth::scalar. Exposed for the tests: a set bit must always match the scalar reader's own
// span.
int lanes_taken_width_one(SimdWidth lanes, const double* x, int64_t frames, int64_t* first);
int lanes_taken_wide_kernel(SimdWidth lanes, const double* x, double width, int64_t frames,
                            int64_t* first);

}  // namespace velorin
