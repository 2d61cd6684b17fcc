// frq/period.cpp: the per-frame period estimate, evaluated fast and bit-exact.
//
// The estimate is defined on the windowed-sinc readers of synth/kernels.h.
// Calling them for every value is slow, so this file computes the same
// values another way and keeps every double bit-identical to that definition
// (tests/frq/period_test.cpp compares both on many signals):
// - a read at an integer position uses weights that depend only on the tap's
//   offset, so they are computed once per analysis, and each position is
//   low-passed once and shared by all frames whose buffers overlap;
// - a read at a fractional position y + m (m whole) uses the same weights for
//   every m, so the refinement computes them once per trial lag;
// - taps outside the sample are skipped by the readers; adding w * 0 instead
//   leaves the accumulator unchanged (it starts at +0 and cannot become -0),
//   so the loaded channel carries zero margins and the loops need no tests;
// - the difference function keeps each lag's own order of addition and runs
//   several lags side by side.
#include "frq/period.h"

#include <cmath>
#include <limits>
#include <new>

#include "audio/samples.h"
#include "frq/period_kernels.h"
#include "frq/threads.h"
#include "platform/mem.h"
#include "platform/platform.h"
#include "synth/kernels.h"
#include "synth/sinc_weight.h"

namespace velorin {

namespace {

// The reader's weight of a tap at distance `offset` (tap index minus
// position) for width b.
double tap_weight(double offset, double b) { return sinc_tap_weight(offset * (sinc_pi / b)); }

// 2 pi as a 15-digit value, not the full-precision constant: the windows
// 0.5 - 0.5 cos(i * (6.28318530717958 / N)) and the spectrum angle
// 6.28318530717958 / lag are computed with it, and their bits depend on it.
constexpr double window_two_pi = 6.28318530717958;

constexpr int max_buffer = max_frame_length + max_frame_length / 2;  // L
constexpr int max_lags = max_frame_length / 2 + max_frame_length / 4 + 1;
constexpr int max_candidates = 1024;

// d[tau] for every lag from min_lag to max_lag: the energy-weighted squared
// difference between two stretches of buf symmetric about its middle.
double lag_difference(const double* buf, const double* ew2, int c, int m_count, int tau) {
    const double* a = buf + (c - tau / 2);
    const double* b = a + tau;
    double s = 0.0;
    for (int m = 0; m < m_count; ++m) {
        const double diff = a[m] - b[m];
        s += ew2[m] * (diff * diff);
    }
    return s;
}

// Room the difference function's d needs around its lags: one value before
// (an odd first lag is done in the group of the lag below it) and a group's
// worth after (the last group may run past max_lag).
constexpr int d_front = 1;
constexpr int d_back = 32;

// d[tau - min_lag] for tau in min_lag..max_lag; d[-1] and the 32 values
// after the last lag are scratch. Lags side by side (lag_differences of the
// signal's width), or one at a time where the width has none. With stop_at
// > 0 it stops as soon as the lags done hold stop_at candidates
// (count_candidates) and returns false; true when every lag is done.
bool difference_function(const double* buf, const AnalysisWindows& w, int n, int min_lag,
                         int max_lag, int stop_at, const PeriodKernels& k, double* d) {
    const int c = n / 8 + n / 4;
    const int m_count = n / 2 + n / 4;
    int tau = min_lag;
    if (k.lag_differences) {
        tau = k.lag_differences(buf, w.energy_even, n, tau & ~1, min_lag, max_lag, stop_at, d);
        if (tau <= max_lag) return false;
    }
    int found = 0;
    for (; tau <= max_lag; ++tau) {
        d[tau - min_lag] = lag_difference(buf, w.energy_even, c, m_count, tau);
        if (stop_at > 0 && (found += count_candidates(d, min_lag, tau, tau)) >= stop_at &&
            tau < max_lag)
            return false;
    }
    return true;
}

// The fewest candidates c with which the first pass rejects a frame searched
// over the L = max_lag - min_lag + 1 lags (0 <= min_lag <= max_lag), i.e.
// with L / c <= min_lag in integers, i.e. c > L / (min_lag + 1); 0 where
// that is more than the candidates collected.
int first_rejected_count(int min_lag, int max_lag) {
    const int c = (max_lag - min_lag + 1) / (min_lag + 1) + 1;
    return c <= max_candidates ? c : 0;
}

void fill_spectrum_values(int lag, int n, double* tab) {
    const double w = window_two_pi / lag;
    for (int i = 0; i < n; ++i) {
        tab[2 * i] = std::sin(i * w);
        tab[2 * i + 1] = std::cos(i * w);
    }
}

// The sine and cosine values of a lag: a published slot of the cache, or
// `own` filled here.
const double* spectrum_values(SpectrumCache* cache, int lag, int n, double* own) {
    if (!cache || lag >= cache->lags) {
        fill_spectrum_values(lag, n, own);
        return own;
    }
    std::atomic<int>& state = cache->state[lag];
    int st = state.load(std::memory_order_acquire);
    if (st >= 2) return cache->tables + static_cast<int64_t>(st - 2) * 2 * n;
    if (st == 0 && state.compare_exchange_strong(st, 1, std::memory_order_relaxed)) {
        const int slot = cache->used.fetch_add(1, std::memory_order_relaxed);
        if (slot < cache->slots) {
            double* tab = cache->tables + static_cast<int64_t>(slot) * 2 * n;
            fill_spectrum_values(lag, n, tab);
            state.store(2 + slot, std::memory_order_release);
            return tab;
        }
    }
    fill_spectrum_values(lag, n, own);
    return own;
}

// The reader of the sample's depth at position y, width 1: the slow path of
// the refinement, for positions the fast one cannot prove exact.
double read_full_band(const PeriodSignal& sig, double y) {
    switch (sig.bits) {
        case 8:
            return sinc_read_u8(y, sig.data, 1.0, sig.channels, sig.frames);
        case 16:
            return sinc_read_i16(y, reinterpret_cast<const int16_t*>(sig.data), 1.0, sig.channels,
                                 sig.frames);
        case 24:
            return sinc_read_i24(y, sig.data, 1.0, sig.channels, sig.frames);
        case 32:
            return sinc_read_f32(y, reinterpret_cast<const float*>(sig.data), 1.0, sig.channels,
                                 sig.frames);
        case 64:
            return sinc_read_f64(y, reinterpret_cast<const double*>(sig.data), 1.0, sig.channels,
                                 sig.frames);
        default:
            return 0.0;
    }
}

// The refinement's cost of lag G through the readers themselves.
double lag_cost_slow(const PeriodSignal& sig, double a, double g, int m_count) {
    const double* ew2 = sig.windows->energy_even;
    double e = 0.0;
    for (int m = 0; m < m_count; ++m) {
        const double diff =
            read_full_band(sig, a - g / 2 + m) - read_full_band(sig, a - g / 2 + g + m);
        e += ew2[m] * (diff * diff);
    }
    return e;
}

// Full-band reads at y, y + 1, ..., y + count - 1 into v. Every read has the
// same tap offsets, hence the same weights; each value is accumulated over
// its taps in reading order, exactly like the reader.
void full_band_run(const PeriodSignal& sig, double y, int count, double* v) {
    const double lo = std::ceil(y - 2.0);
    const double hi = std::floor(y + 2.0);
    const int taps = static_cast<int>(hi - lo) + 1;
    const int64_t first = static_cast<int64_t>(lo);
    double w[5];
    double wsum = 0.0;
    for (int t = 0; t < taps; ++t) {
        w[t] = tap_weight((lo + t) - y, 1.0);
        wsum += w[t];
    }
    period_kernels(sig.lanes).weighted_runs(sig.raw + first, w, taps, wsum, sig.scale, sig.offset,
                                            count, v);
}

// True when every position a - g/2 + m and a + g/2 + m is an exact double
// whose taps lie inside the loaded channel, so full_band_run reproduces the
// reader: g a multiple of 2^-20 and all magnitudes below 2^30 leave 52 bits.
bool fast_cost_is_exact(const PeriodSignal& sig, double a, double g, int m_count) {
    if (!(std::fabs(g) < 1048576.0) || !(std::fabs(a) < 536870912.0)) return false;
    const double scaled = g * 1048576.0;
    if (scaled != std::floor(scaled)) return false;
    const double lowest = a - std::fabs(g) / 2 - 3.0;
    const double highest = a + std::fabs(g) / 2 + m_count + 3.0;
    return lowest >= -static_cast<double>(sig.pad) &&
           highest < static_cast<double>(sig.frames + sig.pad);
}

// The refinement's costs of the lags g[0..N) (N is 2 or 3), each the sum of
// its own terms in order of m; where every trial's reads are exact the sums
// run side by side in one loop, their chains of additions overlapping.
template <int N>
void lag_costs(const PeriodSignal& sig, double a, const double* g, int m_count, double* cost) {
    bool fast = true;
    for (int k = 0; k < N; ++k) fast = fast && fast_cost_is_exact(sig, a, g[k], m_count);
    if (!fast) {
        for (int k = 0; k < N; ++k) cost[k] = lag_cost_slow(sig, a, g[k], m_count);
        return;
    }
    double v[N][2][max_buffer / 2];
    for (int k = 0; k < N; ++k) {
        full_band_run(sig, a - g[k] / 2, m_count, v[k][0]);
        full_band_run(sig, a - g[k] / 2 + g[k], m_count, v[k][1]);
    }
    const double* ew2 = sig.windows->energy_even;
    double e[N] = {};
    for (int m = 0; m < m_count; ++m)
        for (int k = 0; k < N; ++k) {
            const double diff = v[k][0][m] - v[k][1][m];
            e[k] += ew2[m] * (diff * diff);
        }
    for (int k = 0; k < N; ++k) cost[k] = e[k];
}

// Refines the integer lag t to a fraction of a sample by halving steps on
// the full-band signal centred at a; gives t back when the search drifts
// more than one sample away.
double refine_lag(const PeriodSignal& sig, int t, double a, int m_count) {
    const double lag = t;
    if (!(lag / 80000 < 1)) return lag;
    const double limit = lag / 80000;
    double d = lag;
    double h = 1.0;
    double best = 1e30;
    do {
        // Trials in the order d - h, d, d + h; a trial wins only when strictly
        // lower than everything before it, best included, else d stays.
        const double trial[3] = {d - h, d, d + h};
        double lowest = best;
        int winner = 1;
        // Below a whole step the middle is the previous winner, whose cost is best.
        double cost[3];
        if (h < 1) {
            const double ends[2] = {trial[0], trial[2]};
            double two[2];
            lag_costs<2>(sig, a, ends, m_count, two);
            cost[0] = two[0];
            cost[1] = best;
            cost[2] = two[1];
        } else {
            lag_costs<3>(sig, a, trial, m_count, cost);
        }
        for (int k : {0, 1, 2})
            if (cost[k] < lowest) {
                lowest = cost[k];
                winner = k;
            }
        if (winner != 1) {
            d = trial[winner];
            if (std::fabs(lag - d) > 1) return lag;
        }
        best = lowest;
        h = h * 0.5;
    } while (!(h <= limit));
    return d;
}

}  // namespace

double score_bound(double reach, double dt) {
    if (!(dt >= 0.0)) return std::numeric_limits<double>::infinity();
    return reach / std::sqrt(dt + 1e-07) * 1.000001 + 1e-150;
}

void build_analysis_windows(int n, AnalysisWindows* w) {
    w->n = n;
    for (int i = 0; i < n; ++i) w->analysis[i] = 0.5 - 0.5 * std::cos(i * (window_two_pi / n));
    const int l = n + n / 2;
    for (int j = 0; j <= l; ++j) w->energy[j] = 0.5 - 0.5 * std::cos(j * (window_two_pi / l));
    for (int m = 0; m < n / 2 + n / 4; ++m) w->energy_even[m] = w->energy[2 * m];
}

bool period_depth_supported(int bits) {
    return bits == 8 || bits == 16 || bits == 24 || bits == 32 || bits == 64;
}

namespace {

// The readers' scaling of their filtered value for a depth.
void reader_scaling(int bits, double* scale, double* offset) {
    const AnalysisScaling s = analysis_scaling(bits);
    *scale = s.scale;
    *offset = s.offset;
}

// The front and back margin of `raw` the estimate needs for frame length n.
int period_signal_pad(int n) { return n / 4 + 16; }

template <double (*stored)(const uint8_t*)>
void load_stored(const uint8_t* data, int64_t stride, int64_t first, int64_t last, double* raw) {
    for (int64_t i = first; i < last; ++i) raw[i] = stored(data + i * stride);
}

// Loads channel 0 of frames [first, last) into raw[first..last), as values
// before the reader's scaling; raw is the padded array's element 0.
void load_first_channel(const uint8_t* data, int bits, int channels, int64_t first, int64_t last,
                        double* raw) {
    const int64_t stride = static_cast<int64_t>(channels) * (bits / 8);
    switch (bits) {
        case 8:
            return load_stored<stored_u8>(data, stride, first, last, raw);
        case 16:
            return load_stored<stored_i16>(data, stride, first, last, raw);
        case 24:
            return load_stored<stored_i24>(data, stride, first, last, raw);
        case 32:
            return load_stored<stored_f32>(data, stride, first, last, raw);
        case 64:
            return load_stored<stored_f64>(data, stride, first, last, raw);
        default:
            for (int64_t i = first; i < last; ++i) raw[i] = 0.0;
    }
}

// The low-pass width of the integer search (1 for 8-bit data) and the taps of
// its read at an integer position: 4W + 1 weights at offsets -2W..2W, and
// their sum in reading order. `weights` must hold lowpass_tap_count(width).
double lowpass_width(int rate, int bits) {
    if (bits == 8) return 1.0;  // 8-bit data is searched on the sample itself
    // Width rate / 920 puts the low-pass edge near 460 Hz (47 at 44100 Hz).
    const double w = std::floor(rate / 920.0);
    return w < 1.0 ? 1.0 : w;
}

int lowpass_tap_count(double width) {
    return static_cast<int>(std::floor(2.0 * width) - std::ceil(-2.0 * width)) + 1;
}

double build_lowpass_taps(double width, double* weights) {
    const int taps = lowpass_tap_count(width);
    const double lo = std::ceil(-2.0 * width);
    double wsum = 0.0;
    for (int t = 0; t < taps; ++t) {
        weights[t] = tap_weight(lo + t, width);
        wsum += weights[t];
    }
    return wsum;
}

// lowpassed[q] for q in [first, last), from sig.raw through sig.taps; equals
// the reader at the integer position q bit for bit. Pure; threads may fill
// disjoint ranges.
void lowpass_range(const PeriodSignal& sig, int64_t first, int64_t last, double* lowpassed) {
    const double* weights = sig.taps;
    const int taps = sig.tap_count;
    const double wsum = sig.tap_sum;
    const int64_t half = (taps - 1) / 2;
    // Positions whose taps all fall inside the sample run in blocks, each
    // value accumulating its taps in order; the rest skip outside taps.
    constexpr int block = 256;
    int64_t q = first;
    while (q < last) {
        const bool inside = q - half >= 0 && q + block - 1 + half < sig.frames && q + block <= last;
        if (!inside) {
            // Only the taps that fall inside the sample are visited: the
            // others add nothing, and a width far beyond the sample (a rate of
            // gigahertz in a corrupt header) must not cost its full length at
            // every position.
            const int64_t from = half - q > 0 ? half - q : 0;
            const int64_t to = sig.frames - q + half < taps ? sig.frames - q + half : taps;
            double acc = 0.0;
            for (int64_t t = from; t < to; ++t) acc += weights[t] * sig.raw[q - half + t];
            lowpassed[q] = acc / wsum * sig.scale - sig.offset;
            ++q;
            continue;
        }
        period_kernels(sig.lanes).weighted_runs(sig.raw + (q - half), weights, taps, wsum,
                                                sig.scale, sig.offset, block, lowpassed + q);
        q += block;
    }
}

// Enough slots for the lags a voice visits (its period, multiples, vibrato);
// lags beyond the pool are computed per frame, still exactly.
constexpr int spectrum_slots = 256;

// One per thread of the low-pass that precedes the estimates: disjoint ranges
// of positions, read-only input.
struct LowpassTask {
    const PeriodSignal* sig;
    int64_t first;
    int64_t last;
    double* lowpassed;
};

void lowpass_worker(void* arg) {
    const LowpassTask& t = *static_cast<const LowpassTask*>(arg);
    lowpass_range(*t.sig, t.first, t.last, t.lowpassed);
}

}  // namespace

SpectrumCache* create_spectrum_cache(int n) {
    SpectrumCache* cache = new (std::nothrow) SpectrumCache;
    if (!cache) return nullptr;
    cache->lags = n / 2 + n / 4 + 1;
    cache->slots = spectrum_slots;
    cache->used.store(0);
    cache->state = new (std::nothrow) std::atomic<int>[cache->lags];
    cache->tables = alloc_zeroed<double>(static_cast<int64_t>(cache->slots) * 2 * n);
    if (!cache->state || !cache->tables) {
        release_spectrum_cache(cache);
        return nullptr;
    }
    for (int i = 0; i < cache->lags; ++i) cache->state[i].store(0);
    return cache;
}

void release_spectrum_cache(SpectrumCache* cache) {
    if (!cache) return;
    delete[] cache->state;
    release(cache->tables);
    delete cache;
}

bool prepare_period_signal(const PeriodInput& in, int threads, bool spectrum_cache,
                           PeriodSignal* sig) {
    *sig = PeriodSignal{};
    sig->data = in.data;
    sig->bits = in.bits;
    sig->channels = in.channels;
    sig->nsamp = in.nsamp;
    sig->frames = static_cast<int64_t>(in.nsamp) + analysis_zero_frames;
    sig->rate = in.rate;
    sig->n = in.n;
    sig->step = in.step;
    sig->pad = period_signal_pad(in.n);
    sig->lanes = in.lanes;
    reader_scaling(in.bits, &sig->scale, &sig->offset);

    AnalysisWindows* windows = alloc_zeroed<AnalysisWindows>(1);
    double* raw_block = alloc_zeroed<double>(sig->frames + 2 * static_cast<int64_t>(sig->pad));
    double* lowpassed = alloc_zeroed<double>(in.nsamp);
    const double width = lowpass_width(in.rate, in.bits);
    sig->tap_count = lowpass_tap_count(width);
    double* taps = alloc_zeroed<double>(sig->tap_count);
    sig->windows = windows;
    sig->raw = raw_block ? raw_block + sig->pad : nullptr;
    sig->lowpassed = lowpassed;
    sig->taps = taps;
    if (!windows || !raw_block || !lowpassed || !taps) {
        release_period_signal(sig);
        return false;
    }
    // Every value of both is written below: one call maps their pages.
    memory_prefault(raw_block, (sig->frames + 2 * static_cast<int64_t>(sig->pad)) * 8);
    memory_prefault(lowpassed, static_cast<int64_t>(in.nsamp) * 8);
    build_analysis_windows(in.n, windows);
    sig->tap_sum = build_lowpass_taps(width, taps);
    load_first_channel(in.data, in.bits, in.channels, 0, sig->frames, raw_block + sig->pad);
    if (spectrum_cache) sig->spectra = create_spectrum_cache(in.n);

    if (threads < 1) threads = 1;
    if (threads > max_analysis_threads) threads = max_analysis_threads;
    LowpassTask tasks[max_analysis_threads];
    for (int t = 0; t < threads; ++t) {
        tasks[t] = LowpassTask{sig, static_cast<int64_t>(in.nsamp) * t / threads,
                               static_cast<int64_t>(in.nsamp) * (t + 1) / threads, lowpassed};
    }
    run_on_threads(lowpass_worker, tasks, threads);
    return true;
}

void release_period_signal(PeriodSignal* sig) {
    if (sig->raw) release(sig->raw - sig->pad);
    release(sig->lowpassed);
    release(sig->taps);
    release(sig->windows);
    release_spectrum_cache(sig->spectra);
    *sig = PeriodSignal{};
}

double estimate_period(const PeriodSignal& sig, int p, int min_lag, int max_lag, int mode) {
    const int n = sig.n;
    const int l = n + n / 2;
    const int m_count = n / 2 + n / 4;
    if (min_lag < 0) min_lag = 0;
    if (max_lag > m_count) max_lag = m_count;
    if (min_lag > max_lag) return 0.0;

    // The signal around p, low-passed, and its windowed middle.
    double buf[max_buffer];
    const double shift = 0.75 * n - 0.25 * sig.step;
    for (int i = 0; i < l; ++i) {
        const int q = static_cast<int>(p + i - shift);
        buf[i] = (q < 0 || q >= sig.nsamp) ? 0.0 : sig.lowpassed[q];
    }

    // Digital silence: every difference is 0, so there is no strict minimum.
    bool silent = true;
    for (int i = 0; i < l && silent; ++i) silent = buf[i] == 0.0;
    if (silent) return 0.0;

    // The first pass rejects a frame with too many candidates: once that
    // many are found, the rest of its lags cannot change its result.
    double d_space[d_front + max_lags + d_back];
    double* d = d_space + d_front;
    const int stop_at = mode == 1 ? first_rejected_count(min_lag, max_lag) : 0;
    if (!difference_function(buf, *sig.windows, n, min_lag, max_lag, stop_at,
                             period_kernels(sig.lanes), d))
        return 0.0;
    int cand[max_candidates];
    int c = 0;
    for (int tau = min_lag + 2; tau <= max_lag && c < max_candidates; ++tau) {
        if (ends_candidate(d + (tau - min_lag))) cand[c++] = tau - 1;
    }

    // Acceptance does not depend on the choice, so a rejected frame skips it.
    if (c == 0) return 0.0;
    if (mode == 1 && !((max_lag - min_lag + 1) / c > min_lag)) return 0.0;

    double x[max_frame_length];
    for (int i = 0; i < n; ++i) x[i] = buf[i + n / 4] * sig.windows->analysis[i];
    // The sum of |x[i]| for score_bound, in eight chains that overlap (a
    // bound needs no order: any order's error is far within its margin).
    double part[8] = {};
    int i8 = 0;
    for (; i8 + 8 <= n; i8 += 8)
        for (int j = 0; j < 8; ++j) part[j] += std::fabs(x[i8 + j]);
    for (; i8 < n; ++i8) part[0] += std::fabs(x[i8]);
    const double reach =
        ((part[0] + part[1]) + (part[2] + part[3])) + ((part[4] + part[5]) + (part[6] + part[7]));
    int t = 0;
    double best = 0.0;
    double own[2 * max_frame_length];
    // Up to four candidates' sums at once, in the candidates' order. `own` is
    // refilled for each lag the cache does not hold, so such a lag goes alone.
    // A candidate whose bound is below the best score so far cannot win (it
    // would have to reach best), and best only grows: it is passed over.
    const PeriodKernels& kernels = period_kernels(sig.lanes);
    for (int k = 0; k < c;) {
        const double* tabs[4];
        int lags[4];
        int got = 0;
        for (; k < c && got < 4; ++k) {
            if (score_bound(reach, d[cand[k] - min_lag]) < best) continue;
            const double* tab = spectrum_values(sig.spectra, cand[k], n, own);
            if (tab == own && got > 0) break;  // filled again when its turn comes
            tabs[got] = tab;
            lags[got++] = cand[k];
            if (tab == own) {
                ++k;
                break;
            }
        }
        if (got == 0) continue;
        double s[4], co[4];
        kernels.spectrum_sums(x, tabs, got, n, s, co);
        for (int j = 0; j < got; ++j) {
            const double score =
                std::sqrt((co[j] * co[j] + s[j] * s[j]) / (d[lags[j] - min_lag] + 1e-07));
            if (score >= best) {  // the later lag wins a tie
                best = score;
                t = lags[j];
            }
        }
    }
    // Only a sample holding NaN scores no candidate at all.
    if (t == 0) return 0.0;

    const double a = n / 8 + p;
    const double lag = refine_lag(sig, t, a, m_count);
    return lag > 0 ? sig.rate / lag : 0.0;
}

}  // namespace velorin
