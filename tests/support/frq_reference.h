// tests/support/frq_reference.h: the frequency analysis evaluated the slow,
// straightforward way (every read through the sinc readers), and sample
// data in every format for the analysis tests and benchmarks.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "frq/freq_list.h"
#include "frq/period.h"

namespace velorin_test {

using velorin::FreqListPtr;  // a list that frees itself

// Raw interleaved sample data of `bits` bits per sample (8, 16, 24, 32 float,
// 64 float) from values on the 16-bit scale, followed by 4096 zero frames.
// Channel 0 carries `x`; every further channel carries `other` (or silence
// when it is shorter). Float formats hold x / 32768.
std::vector<uint8_t> analysis_bytes(const std::vector<double>& x, int bits, int channels,
                                    const std::vector<double>& other = {});

// The raised-cosine tables of an analysis of frame length n.
std::vector<double> reference_analysis_window(int n);
std::vector<double> reference_energy_window(int n);

// The period estimate of one frame as the formulas read, every sample value
// through sinc_read_*; `frames` is the sample's frames plus its zero frames.
double reference_estimate_period(int p, int min_lag, int max_lag, const uint8_t* data, int nsamp,
                                 int bits, int channels, int rate, int n, int step, int mode,
                                 const std::vector<double>& analysis_window,
                                 const std::vector<double>& energy_window);

// The whole list, single-threaded and silent, from reference_estimate_period.
// Release it with free_freq_list.
velorin::FreqList* reference_freq_list(const uint8_t* data, int64_t bytes, int bits, int channels,
                                       int block_align, int rate, int n, int step, double lo_hz,
                                       double hi_hz);

// A sample prepared for estimate_period the way the generator prepares it
// (single-threaded, no spectrum cache), released with the record.
// `lanes`: the lane width of the fast sums.
struct PreparedSignal {
    velorin::PeriodSignal sig{};
    PreparedSignal() = default;
    PreparedSignal(const PreparedSignal&) = delete;
    PreparedSignal& operator=(const PreparedSignal&) = delete;
    ~PreparedSignal();
};
void prepare_signal(const std::vector<uint8_t>& bytes, int bits, int channels, int rate, int n,
                    int step, PreparedSignal* out,
                    velorin::SimdWidth lanes = velorin::simd_width_available());

}  // namespace velorin_test
