// synth/phase_lanes.h: the source phase table's terms side by side, written
// once over a lane type V (simd/lanes.h).
#pragma once

#include <cstdint>

#include "simd/lanes.h"
#include "synth/lane_kernels.h"

namespace velorin {
namespace phase {
namespace {

// The sum plus the terms of samples j .. end - 1, which share one frame, added
// one after another in order of j: the terms are computed V::n side by side
// ahead of the additions, which then form the only chain; the last ones one
// at a time.
template <class V>
double add_frame_terms(const FrameTerms& ft, int64_t j, int64_t end, double sum) {
    const V q = V::splat(ft.q), kd = V::splat(ft.kd), l = V::splat(ft.l), r = V::splat(ft.r);
    const V rate = V::splat(ft.rate), one = V::splat(1.0), half = V::splat(0.5);
    const V scale = V::splat(ft.inv != 0 ? ft.inv : ft.step);
    const V lanes = V::splat(V::n);
    const bool times = ft.inv != 0;
    V jd = V::ramp(static_cast<double>(j));
    for (; j + V::n <= end; j += V::n) {
        const V num = (jd + half) - q;
        const V f = (times ? num * scale : num / scale) - kd;
        sum = add_in_order(sum, ((one - f) * l + f * r) / rate);
        jd = jd + lanes;
    }
    if constexpr (V::n > 1) sum = add_frame_terms<lanes::Scalar>(ft, j, end, sum);
    return sum;
}

}  // namespace
}  // namespace phase
}  // namespace velorin
