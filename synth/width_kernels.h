// synth/width_kernels.h: one width's table, from the kernel templates; only
// the width translation units (width_*.cpp) include it.
#pragma once

#include "synth/envelope_lanes.h"
#include "synth/lane_kernels.h"
#include "synth/phase_lanes.h"
#include "synth/reader_lanes.h"
#include "synth/rfft_lanes.h"
#include "synth/smoothing_lanes.h"
#include "synth/walk_lanes.h"

namespace velorin {
namespace {

// The kernels with lane type V, and P (two lanes) for the walks that move
// two positions side by side.
template <class V, class P>
constexpr LaneKernels kernels_of_width() {
    LaneKernels k{};
    k.series_many = &series::lookup_many<V>;
    k.read_width_one = &reader::read_width_one_many<V>;
    k.read_wide = &reader::read_wide_many<V>;
    k.lanes_taken_width_one = &reader::lanes_taken_width_one<V>;
    k.lanes_taken_wide_kernel = &reader::lanes_taken_wide_kernel<V>;
    k.add_frame_terms = &phase::add_frame_terms<V>;
    k.rfft_forward_gathered = &rfft::forward_gathered<V>;
    k.rfft_inverse_gathered = &rfft::inverse_gathered<V>;
    k.rfft_forward_stages = &rfft::forward_stages<V>;
    k.rfft_inverse_stages = &rfft::inverse_stages<V>;
    k.weighted_sums = &smoothing::weighted_sums<V>;
    k.power_bins = &smoothing::power_bins<V>;
    k.products = &envelope::products<V>;
    k.products_down = &envelope::products_down<V>;
    k.read_positions = &envelope::read_positions<V>;
    k.breath_block = &envelope::breath_block<V>;
    k.gains = &envelope::gains<V>;
    k.add_block = &envelope::add_block<V>;
    k.breath_positions = &envelope::breath_positions<V>;
    k.grain_walk = &walk::grain<P>;
    k.target_frequencies = &walk::target_frequencies<V>;
    return k;
}

}  // namespace
}  // namespace velorin
