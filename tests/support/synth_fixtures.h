// tests/support/synth_fixtures.h: transform tables and windows for the
// synthesis tests and benchmarks.
#pragma once

#include <cstdint>
#include <vector>

namespace velorin_test {

struct RfftTables {
    int n = 0;
    std::vector<double> twiddles;  // 2n values
    std::vector<int32_t> bitrev;   // zeroed, then built
};

RfftTables make_rfft_tables(int n);

struct Windows {
    std::vector<double> hann;
    std::vector<double> sine;
};

Windows make_windows(int n);

}  // namespace velorin_test
