// frq/freq_gen.h: the threaded pitch analysis that builds a frequency list.
#pragma once

#include <cstdint>

#include "frq/freq_list.h"
#include "simd/simd.h"

namespace velorin {

// The stored layout of the sample data and the analysis settings.
struct FreqGenSettings {
    int bits;  // 8, 16, 24, 32 (float) or 64 (float)
    int channels;
    int block_align;                         // bytes per frame
    int rate;                                // Hz
    int n;                                   // frame length N, 8..2048
    int step;                                // samples per frame
    double lo_hz = 0.0;                      // lowest frequency searched; 0 or less: 52 Hz
    double hi_hz = 0.0;                      // highest; 0 or less: 900 Hz
    int threads = 0;                         // 0 or less: one per processor (at most 32)
    SimdWidth lanes = simd_width_for_run();  // every width gives the same list
};

// Analyses raw interleaved sample data (`bytes` bytes of data proper, followed
// by at least 4096 zeroed frames) and returns a new list (see alloc_freq_list),
// or null. Progress lines go to standard error.
FreqList* generate_freq_list(const uint8_t* data, int64_t bytes, const FreqGenSettings& settings);

}  // namespace velorin
