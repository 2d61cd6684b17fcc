// bench/bench_synth.cpp: the synthesis engine's hot paths: the transform, the
// readers, one unit of each pass and both passes over a one-second note,
// single-threaded, beside the straightforward evaluation of the passes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "synth/kernels.h"
#include "synth/passes.h"
#include "synth/render_reader.h"
#include "synth/rfft.h"
#include "tests/support/support.h"
#include "tests/support/synth_fixtures.h"
#include "tests/support/synth_reference.h"

namespace {

using velorin::FirstPassUnit;
using velorin::SecondPassUnit;

// A one-second note at 262 Hz from a one-second 44.1 kHz vowel at 200 Hz
// with vibrato; breath 0.5, gender 1.0, as the program renders it by default.
struct Note {
    std::unique_ptr<velorin_test::SynthScene> scene;
    std::vector<FirstPassUnit> first;
    std::vector<SecondPassUnit> second;
    std::vector<std::vector<double>> noise;
};

const Note& note() {
    static const Note n = [] {
        Note x;
        const std::vector<double> src = velorin_test::make_vowel(44100, 1.0, 200.0, 12000.0, 40.0);
        std::vector<double> freq;
        for (int k = 0; k <= 44100 / 256; ++k)
            freq.push_back(
                200.0 *
                std::pow(2.0, 40.0 / 1200 * std::sin(6.283185307179586 * 5.5 * k * 256 / 44100)));
        x.scene = velorin_test::make_scene(src, 44100, freq, 44100, 262.0);
        std::vector<double> genposs;
        x.first = velorin_test::first_pass_units(*x.scene, 0.0, 0.9, 0.0, &genposs);
        x.second =
            velorin_test::second_pass_units(*x.scene, genposs, 0.5, 1.0, false, 0.0, &x.noise);
        // The second pass reads a finished datbuf.
        for (const FirstPassUnit& u : x.first) velorin::resampling_pass(x.scene->sh, u);
        return x;
    }();
    return n;
}

void BM_rfft_forward_1024(benchmark::State& state) {
    const velorin_test::RfftTables t = velorin_test::make_rfft_tables(1024);
    std::vector<double> block(1024, 0.25);
    for (auto _ : state) {
        velorin::rfft_forward(velorin::simd_width_available(), 1024, block.data(),
                              t.twiddles.data(), t.bitrev.data());
        benchmark::DoNotOptimize(block.data());
    }
    state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_rfft_forward_1024);

void BM_rfft_inverse_1024(benchmark::State& state) {
    const velorin_test::RfftTables t = velorin_test::make_rfft_tables(1024);
    std::vector<double> block(1024, 0.25);
    for (auto _ : state) {
        velorin::rfft_inverse(velorin::simd_width_available(), 1024, block.data(),
                              t.twiddles.data(), t.bitrev.data());
        benchmark::DoNotOptimize(block.data());
    }
    state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_rfft_inverse_1024);

template <double (*Read)(double, const double*, double, int, int64_t)>
void reader_bench(benchmark::State& state) {
    const velorin::RenderShared& sh = note().scene->sh;
    double x = 1000.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Read(x, sh.sample, 1.0, 1, sh.sample_frames));
        x += 0.737;
        if (x > 40000.0) x = 1000.0;
    }
    state.SetItemsProcessed(state.iterations());
}
void BM_sinc_read_f64(benchmark::State& state) { reader_bench<velorin::sinc_read_f64>(state); }
void BM_sinc_read_render(benchmark::State& state) {
    reader_bench<velorin::sinc_read_render>(state);
}
BENCHMARK(BM_sinc_read_f64);
BENCHMARK(BM_sinc_read_render);

// The second pass's reads: batches of 256 positions, as its loops make them,
// at width 1 (inputs up to 44.1 kHz) and at the width of a 48 kHz input.
void many_reads_bench(benchmark::State& state, double width) {
    const velorin::RenderShared& sh = note().scene->sh;
    std::vector<double> x(256), out(256);
    double start = 1000.0;
    for (auto _ : state) {
        for (int i = 0; i < 256; ++i) x[i] = start + i * 0.737;
        velorin::sinc_read_render_many(velorin::simd_width_available(), x.data(), 256, sh.sample,
                                       width, 1, sh.sample_frames, out.data());
        benchmark::DoNotOptimize(out.data());
        start += 256 * 0.737;
        if (start > 40000.0) start = 1000.0;
    }
    state.SetItemsProcessed(state.iterations() * 256);
}
void BM_sinc_read_render_many(benchmark::State& state) { many_reads_bench(state, 1.0); }
void BM_sinc_read_render_many_48k(benchmark::State& state) {
    many_reads_bench(state, 48000.0 / 44100.0);
}
BENCHMARK(BM_sinc_read_render_many);
BENCHMARK(BM_sinc_read_render_many_48k);

void BM_resampling_unit(benchmark::State& state) {
    const Note& n = note();
    const FirstPassUnit& u = n.first[n.first.size() / 2];
    for (auto _ : state) velorin::resampling_pass(n.scene->sh, u);
}
BENCHMARK(BM_resampling_unit);

void BM_envelope_unit(benchmark::State& state) {
    const Note& n = note();
    const SecondPassUnit& u = n.second[n.second.size() / 2];
    for (auto _ : state) velorin::envelope_breath_pass(n.scene->sh, u);
}
BENCHMARK(BM_envelope_unit);

void BM_reference_envelope_unit(benchmark::State& state) {
    const Note& n = note();
    const SecondPassUnit& u = n.second[n.second.size() / 2];
    for (auto _ : state) velorin_test::reference_envelope_breath_pass(n.scene->sh, u);
}
BENCHMARK(BM_reference_envelope_unit)->Unit(benchmark::kMillisecond);

void BM_first_pass_1s(benchmark::State& state) {
    const Note& n = note();
    for (auto _ : state)
        for (const FirstPassUnit& u : n.first) velorin::resampling_pass(n.scene->sh, u);
    state.counters["units"] = static_cast<double>(n.first.size());
}
BENCHMARK(BM_first_pass_1s)->Unit(benchmark::kMillisecond);

void BM_second_pass_1s(benchmark::State& state) {
    const Note& n = note();
    for (auto _ : state)
        for (const SecondPassUnit& u : n.second) velorin::envelope_breath_pass(n.scene->sh, u);
    state.counters["units"] = static_cast<double>(n.second.size());
}
BENCHMARK(BM_second_pass_1s)->Unit(benchmark::kMillisecond);

// The source phase table of a 60-second sample as far as a note at 30 s
// reads it (31 s of terms), the terms 1, 2 or 4 side by side; and the
// straightforward sum of series_value_at over the same samples.
struct LongList {
    int64_t ssize = 60 * 44100;
    int frames = int(60 * 44100 / 256);
    std::vector<double> freq;
    LongList() {
        for (int k = 0; k <= frames; ++k)
            freq.push_back(k % 97 == 5 ? 0.0 : 200.0 + 30.0 * std::sin(0.01 * k));
    }
};

void BM_phase_table_30s(benchmark::State& state) {
    static const LongList l;
    std::vector<double> table(l.frames + 1);
    // The width asked for (1, 2, 4 lanes), where this processor has it.
    const auto lanes = static_cast<velorin::SimdWidth>(
        std::min<int>(int(state.range(0)), int(velorin::simd_width_available())));
    for (auto _ : state) {
        velorin::build_phase_table_upto(l.freq.data(), l.frames, 256, 200.0, l.ssize, 44100.0,
                                        table.data(), l.frames, 31.0 * 44100, lanes);
        benchmark::DoNotOptimize(table.data());
    }
    state.SetItemsProcessed(state.iterations() * 31 * 44100);
}
BENCHMARK(BM_phase_table_30s)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMicrosecond);

void BM_phase_table_30s_straightforward(benchmark::State& state) {
    static const LongList l;
    for (auto _ : state) {
        double sum = 0.0;
        for (int64_t j = 0; j < 31 * 44100; ++j)
            sum += velorin::series_value_at(j + 0.5 - 64.0, l.freq.data(), l.frames, 256, 1.0, 55.0,
                                            200.0) /
                   44100.0;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * 31 * 44100);
}
BENCHMARK(BM_phase_table_30s_straightforward)->Unit(benchmark::kMicrosecond);

// The same note through the straightforward evaluation, for comparison.
void BM_reference_first_pass_1s(benchmark::State& state) {
    const Note& n = note();
    for (auto _ : state)
        for (const FirstPassUnit& u : n.first)
            velorin_test::reference_resampling_pass(n.scene->sh, u);
}
BENCHMARK(BM_reference_first_pass_1s)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_reference_second_pass_1s(benchmark::State& state) {
    const Note& n = note();
    for (auto _ : state)
        for (const SecondPassUnit& u : n.second)
            velorin_test::reference_envelope_breath_pass(n.scene->sh, u);
}
BENCHMARK(BM_reference_second_pass_1s)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
