// frq/sample_analysis.h: a sample file's analysis, from its path to the list
// written beside it.
#pragma once

#include "audio/wav.h"
#include "frq/freq_list.h"
#include "simd/simd.h"

namespace velorin {

// Analysis frame length and step for a sample rate.
void analysis_frame(int rate, int* n, int* step);

// The frequencies an analysis at `rate` can give a voiced frame: periods from
// one sample up to the frame's longest lag (three quarters of its length) and
// one sample more, which the refinement may add.
void analysis_range(int rate, double* lowest_hz, double* highest_hz);

// The analysis of samples already loaded: `bytes` bytes of raw interleaved data
// in `fmt`'s layout followed by analysis_zero_frames zero frames (frq/period.h),
// with the frame for its rate. Null when they cannot be analysed.
FreqList* analyse_loaded(const uint8_t* data, int64_t bytes, const WavFormat& fmt, SimdWidth lanes,
                         int threads);

// Loads a sample file by its extension (audio/analysis_loader.h) and analyses
// it; writes nothing. Null when it cannot be loaded or analysed.
FreqList* analyse_sample(const wchar_t* input_path, SimdWidth lanes = simd_width_for_run(),
                         int threads = 0);

// Loads the sample for analysis by its extension (audio/analysis_loader.h),
// analyses it with the frame for its rate, `lanes` at a time, writes the list
// beside it (write_freq_list) and returns it; null when the sample cannot be
// loaded or analysed. *written, when given, tells whether the list file was
// written (a read-only list or folder, a full disk: not). `threads`: the
// analysis's threads (0: one per processor); every count gives the same list.
FreqList* obtain_freq_list(const wchar_t* input_path, bool* written = nullptr,
                           SimdWidth lanes = simd_width_for_run(), int threads = 0);

}  // namespace velorin
