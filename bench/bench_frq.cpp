// bench/bench_frq.cpp: frequency list generation, fast against straightforward.
//
// Progress lines go to standard error; run with 2>/dev/null.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "frq/freq_gen.h"
#include "frq/freq_list.h"
#include "tests/support/frq_reference.h"
#include "tests/support/support.h"

namespace {

constexpr int rate = 44100;

// A breathy onset (noise), then a vowel with vibrato, then a short silence:
// voiced, unvoiced and silent frames in the proportions of a real sample.
const std::vector<uint8_t>& sample_bytes(double seconds) {
    static std::vector<uint8_t> one, three;
    std::vector<uint8_t>& out = seconds < 2 ? one : three;
    if (out.empty()) {
        std::vector<double> x = velorin_test::make_noise(rate, 0.15, 3000.0, 5);
        const std::vector<double> v =
            velorin_test::make_vowel(rate, seconds - 0.25, 220.0, 14000.0, 60.0, 5.5);
        x.insert(x.end(), v.begin(), v.end());
        x.resize(static_cast<size_t>(seconds * rate), 0.0);
        out = velorin_test::analysis_bytes(x, 16, 1);
    }
    return out;
}

int64_t data_bytes(double seconds) { return static_cast<int64_t>(seconds * rate) * 2; }

// Analysis and writing the list, as a run that has no list yet does it.
void BM_generate_and_write(benchmark::State& state, double seconds, int threads) {
    const std::vector<uint8_t>& bytes = sample_bytes(seconds);
    velorin_test::TempDir dir;
    const std::wstring path = dir.wfile("voice.wav");
    int count = 0;
    for (auto _ : state) {
        velorin::FreqList* list = velorin::generate_freq_list(
            bytes.data(), data_bytes(seconds), {16, 1, 2, rate, 1024, 256, 0, 0, threads});
        if (!list || !velorin::write_freq_list(path.c_str(), list)) state.SkipWithError("failed");
        count = list ? list->count : 0;
        velorin::free_freq_list(list);
    }
    state.counters["frames_per_s"] =
        benchmark::Counter(double(count) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["audio_s"] = seconds;
}

void BM_straightforward(benchmark::State& state, double seconds) {
    const std::vector<uint8_t>& bytes = sample_bytes(seconds);
    int count = 0;
    for (auto _ : state) {
        velorin::FreqList* list = velorin_test::reference_freq_list(
            bytes.data(), data_bytes(seconds), 16, 1, 2, rate, 1024, 256, 0, 0);
        count = list->count;
        velorin::free_freq_list(list);
    }
    state.counters["frames_per_s"] =
        benchmark::Counter(double(count) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["audio_s"] = seconds;
}

BENCHMARK_CAPTURE(BM_generate_and_write, 1s_all_threads, 1.0, 0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_generate_and_write, 3s_all_threads, 3.0, 0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_generate_and_write, 1s_one_thread, 1.0, 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_generate_and_write, 3s_one_thread, 3.0, 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_straightforward, 1s, 1.0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_straightforward, 3s, 3.0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(1);

}  // namespace
