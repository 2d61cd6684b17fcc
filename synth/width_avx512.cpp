// synth/width_avx512.cpp: the render reader eight doubles at a time
// (AVX-512F), which takes 5 % off a 1-second note against four. Built with
// -mavx512f, and used only where the processor and system have AVX-512F; the
// other kernels of that width are the four-wide ones (synth/lane_kernels.cpp).
#include "simd/lanes.h"
#include "synth/lane_kernels.h"
#include "synth/reader_lanes.h"

namespace velorin {

void use_avx512_reader(LaneKernels* k) {
    k->read_width_one = &reader::read_width_one_many<lanes::Avx512>;
    k->read_wide = &reader::read_wide_many<lanes::Avx512>;
    k->lanes_taken_width_one = &reader::lanes_taken_width_one<lanes::Avx512>;
    k->lanes_taken_wide_kernel = &reader::lanes_taken_wide_kernel<lanes::Avx512>;
}

}  // namespace velorin
