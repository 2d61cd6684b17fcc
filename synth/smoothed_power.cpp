// synth/smoothed_power.cpp: power spectra of transformed blocks and their smoothing.
#include "synth/smoothed_power.h"

#include <cmath>

#include "synth/kernels.h"

namespace velorin {

namespace {

// Past this half width every further term reads beyond bin 512 (or beyond it
// once mirrored) and adds nothing, so larger widths are cut here.
constexpr int max_half_width = spectrum_bins + 1;

}  // namespace

void power_spectrum(const double* x, double* p) {
    p[0] = x[0] * x[0];
    for (int k = 1; k < spectrum_bins - 1; ++k)
        p[k] = x[k] * x[k] + x[spectrum_block - k] * x[spectrum_block - k];
    p[spectrum_bins - 1] = x[spectrum_bins - 1] * x[spectrum_bins - 1];
}

void smoothed_spectrum(const double* p, double width, double* out) {
    int h = 0;
    if (width >= 1.0) {
        const double f = std::floor(width);
        h = f >= max_half_width ? max_half_width : static_cast<int>(f);
    }
    // The weights depend on t only: compute each once, not once per bin.
    double weight[2 * max_half_width + 1];
    for (int t = -h; t <= h; ++t) weight[t + h] = smoothing_weight(t / width);

    // The spectrum with its mirror image in front and zeros behind, so the
    // sum needs no index tests: ext[h + i] is what bin i contributes.
    // Adding an exact zero leaves a sum unchanged, so the padding does not
    // alter any result.
    double ext[spectrum_bins + 2 * max_half_width];
    for (int i = -h; i < spectrum_bins + h; ++i) {
        const int j = i < 0 ? -i : i;
        ext[h + i] = j < spectrum_bins ? p[j] : 0.0;
    }
    // Adding term by term with t in the outer loop keeps, for every bin, the
    // order of ascending t, and lets the bins be summed side by side.
    for (int n = 0; n < spectrum_bins; ++n) out[n] = 0.0;
    for (int t = -h; t <= h; ++t) {
        const double w = weight[t + h];
        const double* src = ext + h + t;
        for (int n = 0; n < spectrum_bins; ++n) out[n] += w * src[n];
    }
}

}  // namespace velorin
