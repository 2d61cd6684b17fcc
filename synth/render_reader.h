// synth/render_reader.h: the sinc reader of the render passes, table-driven.
#pragma once

#include <cstdint>

namespace velorin {

// sinc_read_f64 with the kernel taken from a piecewise-cubic table instead of
// a Taylor series and a cosine per tap. Same taps, same fade at the buffer's
// ends; the kernel differs from the series by less than 1e-10, so results
// agree with sinc_read_f64 to about 1e-10 of the data's scale. Used by the
// render passes only: the analysis needs the exact readers. Pure; callable
// from any thread.
double sinc_read_render(double x, const double* data, double width, int channels, int64_t frames);

// Several reads at once: out[i] = sinc_read_render(x[i], ...), the very same
// doubles. The common case (width 1, every tap inside the buffer) runs the
// reads side by side in vector registers, two with SSE2, four with AVX where
// the processor has it (chosen at run time); each lane does the scalar
// reader's operations in its order, without fused multiply-add.
void sinc_read_render2(const double* x, const double* data, double width, int channels,
                       int64_t frames, double* out);
void sinc_read_render4(const double* x, const double* data, double width, int channels,
                       int64_t frames, double* out);

// n reads at once: out[i] = sinc_read_render(x[i], ...), the very same
// doubles, for i < n. Width 1 takes the side-by-side lanes above for every
// group of positions whose taps all lie inside the buffer (and are not whole
// samples); other widths below 64 take four lanes at a time where the
// processor has AVX, for every group whose taps lie inside the buffer; the
// scalar reader reads the rest. The two above are this with n = 2 and n = 4.
// Pure; callable from any thread.
void sinc_read_render_many(const double* x, int n, const double* data, double width, int channels,
                           int64_t frames, double* out);

// The test that picks the positions read side by side, as this processor
// runs it, on x[0..3]: bit k of the result is set when x[k] is one, and
// first[k] is then its first tap (floor(x[k]) - 1), -1 otherwise. Exposed for
// the tests: a set bit must always match the scalar reader's own span.
int width_one_lanes(const double* x, int64_t frames, int64_t* first);

// The same for the reads of other widths, side by side where the processor
// has AVX (-1 where it has not, and the scalar reader reads them all): bit k
// is set when x[k] is read side by side with the taps from first[k] on.
int wide_lanes(const double* x, double width, int64_t frames, int64_t* first);

}  // namespace velorin
