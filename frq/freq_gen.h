// frq/freq_gen.h: the threaded pitch analysis that builds a frequency list.
#pragma once

#include <cstdint>

#include "frq/freq_list.h"

namespace velorin {

// Analyses raw interleaved sample data (`bytes` bytes of data proper, followed
// by at least 4096 zeroed frames) and returns a new list, or null. `lo_hz` and
// `hi_hz` of 0 or less select 52 Hz and 900 Hz. `threads` of 0 or less uses
// one thread per processor (at most 32). Progress lines go to standard error.
FreqList* generate_freq_list(const uint8_t* data, int64_t bytes, int bits, int channels,
                             int block_align, int rate, int n, int step, double lo_hz,
                             double hi_hz, int threads = 0);

}  // namespace velorin
