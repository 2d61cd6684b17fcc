// frq/sample_analysis.cpp: a sample file's analysis, from its path to the
// list written beside it.
#include "frq/sample_analysis.h"

#include "audio/analysis_loader.h"
#include "frq/freq_gen.h"
#include "frq/period.h"
#include "platform/mem.h"

namespace velorin {

void analysis_frame(int rate, int* n, int* step) {
    if (rate > 59999) {
        *n = 2048;
        *step = 512;
    } else if (rate > 29999) {
        *n = 1024;
        *step = 256;
    } else if (rate > 14999) {
        *n = 720;
        *step = 128;
    } else {
        *n = 512;
        *step = 64;
    }
}

void analysis_range(int rate, double* lowest_hz, double* highest_hz) {
    int n = 0, step = 0;
    analysis_frame(rate, &n, &step);
    *lowest_hz = double(rate) / (n / 2 + n / 4 + 1);
    *highest_hz = double(rate);
}

FreqList* analyse_loaded(const uint8_t* data, int64_t bytes, const WavFormat& fmt, SimdWidth lanes,
                         int threads) {
    int n = 0, step = 0;
    analysis_frame(static_cast<int>(fmt.rate), &n, &step);
    FreqGenSettings settings{fmt.bits, fmt.channels, fmt.block_align, static_cast<int>(fmt.rate),
                             n,        step};
    settings.lanes = lanes;
    settings.threads = threads;
    return generate_freq_list(data, bytes, settings);
}

FreqList* analyse_sample(const wchar_t* input_path, SimdWidth lanes, int threads) {
    WavFormat fmt;
    int64_t bytes = 0;
    Buffer<uint8_t> data(read_for_analysis(input_path, analysis_zero_frames, &fmt, &bytes));
    if (!data) return nullptr;
    return analyse_loaded(data.get(), bytes, fmt, lanes, threads);
}

FreqList* obtain_freq_list(const wchar_t* input_path, bool* written, SimdWidth lanes, int threads) {
    if (written) *written = false;
    FreqList* list = analyse_sample(input_path, lanes, threads);
    if (!list) return nullptr;
    const bool ok = write_freq_list(input_path, list) == 1;
    if (written) *written = ok;
    return list;
}

}  // namespace velorin
