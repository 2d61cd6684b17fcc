// synth/render_reader.cpp: the sinc reader of the render passes, table-driven.
#include "synth/render_reader.h"

#include <cmath>

#include "synth/lane_kernels.h"
#include "synth/reader_table.h"

namespace velorin {

using reader::intervals;
using reader::kernel_at;
using reader::piece_value;

namespace {

// Width 1 with every tap inside the buffer, the common case of a 44.1 kHz
// input: the taps sit whole samples apart, 256 table units, so the taps on
// each side of x share one fraction. For x >= 1 every distance involved is
// exact, and this gives the same weights as kernel_at.
double read_width_one(double x, const double* data, int channels, int64_t first, int64_t last) {
    const double fx = static_cast<double>(first) + (last - first == 4 ? 2 : 1);  // floor(x)
    const double phi = x - fx;
    const double* p = data + first * channels;
    if (last - first == 4) {  // x is a whole sample: the kernel's zeros and its peak
        const double w0 = piece_value(intervals, 0.0), w1 = piece_value(intervals / 2, 0.0);
        const double w2 = piece_value(0, 0.0);
        const double wsum = w0 + w1 + w2 + w1 + w0;
        const double acc = w0 * p[0] + w1 * p[channels] + w2 * p[2 * channels] +
                           w1 * p[3 * channels] + w0 * p[4 * channels];
        return acc / wsum;
    }
    const double ta = phi * (intervals / 2);          // taps at d = -phi, -1 - phi
    const double tb = (1.0 - phi) * (intervals / 2);  // taps at d = 1 - phi, 2 - phi
    const int ja = static_cast<int>(ta), jb = static_cast<int>(tb);
    const double fa = ta - ja, fb = tb - jb;
    const double wm1 = piece_value(ja + intervals / 2, fa);
    const double w0 = piece_value(ja, fa);
    const double w1 = piece_value(jb, fb);
    const double w2 = piece_value(jb + intervals / 2, fb);
    const double wsum = ((wm1 + w0) + w1) + w2;
    const double acc =
        ((wm1 * p[0] + w0 * p[channels]) + w1 * p[2 * channels]) + w2 * p[3 * channels];
    return acc / wsum;
}

}  // namespace

double sinc_read_render(double x, const double* data, double width, int channels, int64_t frames) {
    if (channels < 1 || !std::isfinite(x) || !(width >= 1.0 && width < 1e15)) return 0.0;
    const double lo = std::ceil(x - 2.0 * width);
    const double hi = std::floor(x + 2.0 * width);
    if (hi < 0.0 || lo >= static_cast<double>(frames) || lo > hi) return 0.0;
    const int64_t first = static_cast<int64_t>(lo);
    const int64_t last = static_cast<int64_t>(hi);
    // (Five taps belong to a whole-sample x, four to any other; rounding at
    // the ends of the span can break that, and the loop below takes those.)
    if (width == 1.0 && first >= 1 && last < frames &&
        (last - first == 3 || (last - first == 4 && x == static_cast<double>(first + 2))))
        return read_width_one(x, data, channels, first, last);
    const double scale = (intervals / 2) / width;
    double acc = 0.0;
    double wsum = 0.0;
    if (first >= 0 && last < frames) {
        const double* p = data + first * channels;
        for (int64_t i = first; i <= last; ++i, p += channels) {
            const double w = kernel_at(std::fabs(static_cast<double>(i) - x) * scale);
            wsum += w;
            acc += w * *p;
        }
    } else {
        for (int64_t i = first; i <= last; ++i) {
            const double w = kernel_at(std::fabs(static_cast<double>(i) - x) * scale);
            wsum += w;
            if (i >= 0 && i < frames) acc += w * data[i * channels];
        }
    }
    return acc / wsum;
}

void sinc_read_render_many(SimdWidth lanes, const double* x, int n, const double* data,
                           double width, int channels, int64_t frames, double* out) {
    const LaneKernels& k = lane_kernels(lanes);
    if (width == 1.0 && channels >= 1 && k.read_width_one)
        return k.read_width_one(x, n, data, channels, frames, out);
    if (width > 1.0 && width < 64.0 && channels >= 1 && k.read_wide)
        return k.read_wide(x, n, data, width, channels, frames, out);
    for (int i = 0; i < n; ++i) out[i] = sinc_read_render(x[i], data, width, channels, frames);
}

int lanes_taken_width_one(SimdWidth lanes, const double* x, int64_t frames, int64_t* first) {
    const LaneKernels& k = lane_kernels(lanes);
    return k.lanes_taken_width_one ? k.lanes_taken_width_one(x, frames, first) : -1;
}

int lanes_taken_wide_kernel(SimdWidth lanes, const double* x, double width, int64_t frames,
                            int64_t* first) {
    const LaneKernels& k = lane_kernels(lanes);
    return k.lanes_taken_wide_kernel ? k.lanes_taken_wide_kernel(x, width, frames, first) : -1;
}

}  // namespace velorin
