// frq/period.h: the fundamental period of one analysis frame, on a sample prepared once.
#pragma once

#include <atomic>
#include <cstdint>

#include "simd/simd.h"

namespace velorin {

constexpr int max_frame_length = 2048;  // N, samples
constexpr int min_frame_length = 8;

// The two raised-cosine tables of one analysis, built for N before any worker
// starts and read-only afterwards. `analysis` holds N entries, `energy`
// L + 1 entries (L = N + N/2), `energy_even[m]` = `energy[2m]` for m < 3N/4.
struct AnalysisWindows {
    int n;
    double analysis[max_frame_length];
    double energy[max_frame_length + max_frame_length / 2 + 1];
    double energy_even[max_frame_length / 2 + max_frame_length / 4];
};
void build_analysis_windows(int n, AnalysisWindows* w);

// The spectrum's sine and cosine values at a candidate lag, i * 2 pi / lag for
// i < N, are the same in every frame. The first thread that needs a lag's
// values claims the lag, computes them into a free slot and publishes it;
// every later frame reads the slot. A thread that finds the lag claimed but
// not yet published, or no slot left, computes the values itself. Created by
// the generator before any worker starts.
struct SpectrumCache {
    std::atomic<int>* state;  // per lag 0..lags-1: 0 unclaimed, 1 claimed, 2 + slot ready
    int lags;
    double* tables;  // slots * 2N values: sin, cos of each i in turn
    int slots;
    std::atomic<int> used;  // slots handed out so far
};

// A cache for frame length n, or null when memory runs out (the analysis then
// runs without it). Released by release_spectrum_cache (null is ignored).
SpectrumCache* create_spectrum_cache(int n);
void release_spectrum_cache(SpectrumCache* cache);

// True for the depths the sample readers know: 8, 16, 24, 32 (float), 64 (float).
bool period_depth_supported(int bits);

// Zero frames behind the sample proper, guaranteed by every analysis loader.
constexpr int analysis_zero_frames = 4096;

// The sample an analysis reads and its frame settings.
struct PeriodInput {
    const uint8_t* data;  // raw interleaved samples, then analysis_zero_frames zero frames
    int bits;             // a depth period_depth_supported accepts
    int channels;
    int nsamp;                            // frames of sample proper
    int rate;                             // Hz
    int n;                                // frame length N
    int step;                             // samples per frame
    SimdWidth lanes = SimdWidth::scalar;  // the run's lane width (simd/simd.h)
};

// Everything the estimate reads, made by prepare_period_signal before any
// worker starts and read-only afterwards. Positions are sample frames of
// channel 0.
struct PeriodSignal {
    const uint8_t* data;  // raw interleaved samples, then the zero frames
    int bits;             // 8, 16, 24, 32 or 64
    int channels;         // stride between frames, in elements
    int nsamp;            // frames of sample proper
    int64_t frames;       // nsamp + the zero frames behind it
    int rate;             // Hz
    int n;                // frame length N
    int step;             // samples per frame
    const AnalysisWindows* windows;
    // Channel 0 as the reader loads it (before its scaling), at raw[i] for
    // -pad <= i < frames + pad; zero outside [0, frames).
    const double* raw;
    int pad;
    // The width-W read of the integer search at every position 0..nsamp-1,
    // already scaled like the reader's result.
    const double* lowpassed;
    // The reader's scaling of its filtered value: value * scale - offset.
    double scale;
    double offset;
    SpectrumCache* spectra;  // null: every spectrum computes its own values
    SimdWidth lanes;         // the lane width of the sums
    // The integer search's low-pass taps: 4W + 1 weights at offsets -2W..2W
    // (W the low-pass width) and their sum in reading order.
    const double* taps;
    int tap_count;
    double tap_sum;
};

// Builds the signal of `in`: the analysis windows, channel 0 loaded with its
// zero margins, the low-pass taps, the spectrum cache when `spectrum_cache`
// is set (a signal without one is still exact, only slower), and the
// low-passed sample, computed on `threads` threads (1..32). The signal owns
// every buffer it points to except `data`; release_period_signal frees them.
// False when memory runs out, with nothing left to release.
bool prepare_period_signal(const PeriodInput& in, int threads, bool spectrum_cache,
                           PeriodSignal* sig);
void release_period_signal(PeriodSignal* sig);  // leaves an empty signal

// At least the score sqrt((C^2 + S^2) / (dt + 1e-07)) that estimate_period
// computes for a candidate whose difference is dt, where C and S are sums of
// x[i] times a cosine and a sine and reach is the sum of |x[i]|: |C + iS| <=
// sum |x[i]| |cos + i sin| = reach. The factor covers the roundings of both
// (relative errors below 2N ulps, N <= 2048, and tables whose cos^2 + sin^2
// is 1 within a few ulps), the term added covers values so small that their
// squares lose precision, and a negative or NaN difference bounds nothing
// (NaN or infinite reach gives no bound either). A candidate whose bound is
// below the best score so far cannot win: it is passed over.
double score_bound(double reach, double dt);

// The fundamental frequency in Hz at frame position p, searching lags
// min_lag..max_lag; 0 when no period was found. Mode 1 (first pass) also
// rejects frames with too many candidate minima; mode 2 does not. Allocates
// nothing and writes nothing but the spectrum cache (see SpectrumCache), so
// any number of threads may call it at once.
double estimate_period(const PeriodSignal& sig, int p, int min_lag, int max_lag, int mode);

}  // namespace velorin
