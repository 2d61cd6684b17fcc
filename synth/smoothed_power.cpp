// synth/smoothed_power.cpp: power spectra of transformed blocks and their smoothing.
#include "synth/smoothed_power.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "synth/kernels.h"
#include "synth/lane_kernels.h"

namespace velorin {

namespace {

// Past this half width every further term reads beyond bin 512 (or beyond it
// once mirrored) and adds nothing, so larger widths are cut here.
constexpr int max_half_width = spectrum_bins + 1;

}  // namespace

void power_spectrum(SimdWidth lanes, const double* x, double* p) {
    p[0] = x[0] * x[0];
    for (int k = lane_kernels(lanes).power_bins(x, p); k < spectrum_bins - 1; ++k)
        p[k] = x[k] * x[k] + x[spectrum_block - k] * x[spectrum_block - k];
    p[spectrum_bins - 1] = x[spectrum_bins - 1] * x[spectrum_bins - 1];
}

namespace {

// The half width of the smoothing for `width`: floor(width), cut at
// max_half_width; 0 below 1 and for NaN.
int half_width(double width) {
    if (!(width >= 1.0)) return 0;
    // Below 2^31 the truncating conversion of a positive double is its floor;
    // wider widths are cut before converting.
    return width >= max_half_width ? max_half_width : static_cast<int>(width);
}

// The smoothing of the spectrum held in ext[h .. h + 512]: the mirror image
// goes in front, zeros behind, so the sum needs no index tests (ext[h + i] is
// what bin i contributes; adding an exact zero leaves a sum unchanged).
// Every bin adds its terms in the order of ascending t, from 0.0.
void smooth_extended(SimdWidth lanes, double* ext, int h, double width, double* out) {
    // (-t) / width is -(t / width) exactly and the weight squares its
    // argument first, so the weights of -t and t are the same double.
    double weight[2 * max_half_width + 1];
    for (int t = 0; t <= h; ++t) weight[h + t] = weight[h - t] = smoothing_weight(t / width);
    for (int i = -h; i < 0; ++i) ext[h + i] = i > -spectrum_bins ? ext[h - i] : 0.0;
    std::fill(ext + h + spectrum_bins, ext + 2 * h + spectrum_bins, 0.0);
    lane_kernels(lanes).weighted_sums(ext, weight, 2 * h + 1, out);
}

}  // namespace

void smoothed_spectrum(SimdWidth lanes, const double* p, double width, double* out) {
    const int h = half_width(width);
    double ext[spectrum_bins + 2 * max_half_width];
    std::memcpy(ext + h, p, spectrum_bins * sizeof(double));
    smooth_extended(lanes, ext, h, width, out);
}

void smoothed_power_spectrum(SimdWidth lanes, const double* x, double width, double* out) {
    const int h = half_width(width);
    double ext[spectrum_bins + 2 * max_half_width];
    power_spectrum(lanes, x, ext + h);  // straight into the smoothing's input
    smooth_extended(lanes, ext, h, width, out);
}

}  // namespace velorin
