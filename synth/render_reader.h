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

}  // namespace velorin
