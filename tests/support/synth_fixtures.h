// tests/support/synth_fixtures.h: transform tables, windows and a complete
// render setting (sample, frequency list, buffers, work units) for the
// synthesis tests and benchmarks.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "synth/passes.h"

namespace velorin_test {

// Every lane width this build and processor run, narrowest first: the
// kernels' per-width tests loop over them.
std::vector<velorin::SimdWidth> every_width();

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

// Everything a render needs, owned in one place; `sh` points into it. Not
// copyable: make one with make_scene and keep it behind its pointer.
struct SynthScene {
    std::vector<double> sample;       // mono, 16-bit scale, with 2048 zero frames appended
    std::vector<double> freq;         // count + 1 values
    std::vector<double> phase_table;  // frames + 1 values
    std::vector<double> pitch;        // empty: no pitch curve
    RfftTables tables = make_rfft_tables(1024);
    Windows w128 = make_windows(128);
    Windows w1024 = make_windows(1024);
    std::vector<double> breath_shape;
    std::vector<double> datbuf;
    std::vector<double> outbuf;
    velorin::RenderShared sh;

    SynthScene();
    ~SynthScene();
    SynthScene(const SynthScene&) = delete;
    SynthScene& operator=(const SynthScene&) = delete;
};

// A scene over `source` (mono, 16-bit scale) at `rate` Hz with a frequency
// list of `freq` (one value per 256-sample frame, count = source frames / 256;
// a single value fills the whole list), rendering `outlen` samples at
// `target` Hz. Builds the phase table, windows, transform tables, a linear
// breath shaping table and zeroed buffers with their locks.
std::unique_ptr<SynthScene> make_scene(const std::vector<double>& source, double rate,
                                       const std::vector<double>& freq, int outlen, double target);

// The first-pass units of a render that walks the source from `start` at
// `advance` input samples per output sample, as the schedule does (without
// threads); `genposs` receives the source position of every 256th sample.
std::vector<velorin::FirstPassUnit> first_pass_units(const SynthScene& sc, double start,
                                                     double advance, double modulation,
                                                     std::vector<double>* genposs);

// The second-pass units for breath level `breath` (flag B * 0.01) and formant
// factor `gender`, with gains as the driver sets them and, when breath > 0,
// noise blocks from the never-seeded C runtime generator, stored in `noise`.
std::vector<velorin::SecondPassUnit> second_pass_units(const SynthScene& sc,
                                                       const std::vector<double>& genposs,
                                                       double breath, double gender, bool no_filter,
                                                       double modulation,
                                                       std::vector<std::vector<double>>* noise);

}  // namespace velorin_test
