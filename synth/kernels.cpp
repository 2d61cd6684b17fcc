// synth/kernels.cpp: windowed-sinc readers, frame-series lookups, the source
// phase table and the phase-aligned source position.
#include "synth/kernels.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "audio/samples.h"
#include "platform/platform.h"
#include "synth/lane_kernels.h"
#include "synth/sinc_weight.h"

namespace velorin {

namespace {

// The tap range of a read at x with width b, or false when no tap can fall
// inside [0, frames), x is not a finite number or b is NaN or absurdly large.
// Deciding in double before the conversion keeps a huge or NaN position from
// being undefined behaviour; the accumulator of such a read would stay 0
// anyway.
bool tap_range(double x, double b, int64_t frames, int64_t* first, int64_t* last) {
    if (!std::isfinite(x) || !(b < 1e15)) return false;
    const double lo = std::ceil(x - 2.0 * b);
    const double hi = std::floor(x + 2.0 * b);
    if (hi < 0.0 || lo >= static_cast<double>(frames) || lo > hi) return false;
    *first = static_cast<int64_t>(lo);
    *last = static_cast<int64_t>(hi);
    return true;
}

// The reader of every format: `load(i)` returns sample i of channel 0.
// Taps outside [0, frames) keep their weight but read nothing.
template <typename Load>
double sinc_read(double x, double b, int channels, int64_t frames, Load load) {
    int64_t first = 0, last = -1;
    if (channels < 1 || !tap_range(x, b, frames, &first, &last)) return 0.0;
    const double k = sinc_pi / b;
    double acc = 0.0;
    double wsum = 0.0;
    for (int64_t i = first; i <= last; ++i) {
        const double h = (static_cast<double>(i) - x) * k;
        const double w = sinc_tap_weight(h);
        wsum += w;
        if (i >= 0 && i < frames) acc += w * load(i);
    }
    return acc / wsum;
}

// Frame-series entry k, with every index at or past `count` reading
// entry `end` (count for a plain series, min(frames, count) for the phase
// search), invalid values replaced.
double entry_or_fallback(const double* values, int64_t k, int count, int end, double lo, double bad,
                         double fallback) {
    const double v = k < count ? values[k] : values[end];
    // Written as !(v > lo) so that a NaN entry is invalid too.
    return (!(v > lo) || v == bad) ? fallback : v;
}

// floor(u) as a frame index clamped to 0..limit, and the fraction u - floor(u)
// (0 for a negative or NaN u). A huge u keeps its fraction but indexes `limit`.
void frame_of(double u, int64_t limit, int64_t* k, double* f) {
    if (!(u >= 0.0)) {  // negative or NaN
        *k = 0;
        *f = 0.0;
        return;
    }
    const double kd = std::floor(u);
    *f = std::isfinite(u) ? u - kd : 0.0;
    *k = kd >= static_cast<double>(limit) ? limit : static_cast<int64_t>(kd);
}

}  // namespace

double sinc_read_f64(double x, const double* data, double width, int channels, int64_t frames) {
    return sinc_read(x, width, channels, frames, [=](int64_t i) { return data[i * channels]; });
}

double sinc_read_i16(double x, const int16_t* data, double width, int channels, int64_t frames) {
    return sinc_read(x, width, channels, frames,
                     [=](int64_t i) { return static_cast<double>(data[i * channels]); });
}

double sinc_read_u8(double x, const uint8_t* data, double width, int channels, int64_t frames) {
    const double v = sinc_read(x, width, channels, frames,
                               [=](int64_t i) { return stored_u8(data + i * channels); });
    const AnalysisScaling s = analysis_scaling(8);
    return v * s.scale - s.offset;
}

double sinc_read_i24(double x, const uint8_t* data, double width, int channels, int64_t frames) {
    const double v = sinc_read(x, width, channels, frames,
                               [=](int64_t i) { return stored_i24(data + i * channels * 3); });
    return v * analysis_scaling(24).scale;
}

double sinc_read_f32(double x, const float* data, double width, int channels, int64_t frames) {
    // Through the bytes: raw data need not be aligned.
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(data);
    const double v = sinc_read(x, width, channels, frames,
                               [=](int64_t i) { return stored_f32(bytes + i * channels * 4); });
    return v * analysis_scaling(32).scale;
}

double series_value_at(double x, const double* values, int count, int step, double lo, double bad,
                       double fallback) {
    if (count < 0) count = 0;
    int64_t k = 0;
    double f = 0.0;
    frame_of(x / step, count, &k, &f);
    const double left = entry_or_fallback(values, k, count, count, lo, bad, fallback);
    const double right = entry_or_fallback(values, k + 1, count, count, lo, bad, fallback);
    return (1 - f) * left + f * right;
}

void build_phase_table(const double* freq, int count, int step, double freq_avg, int64_t ssize,
                       double rate, double* table, int frames) {
    build_phase_table_upto(freq, count, step, freq_avg, ssize, rate, table, frames,
                           std::numeric_limits<double>::quiet_NaN(), simd_width_available());
}

namespace {

// The phase table's term of sample j: series_value_at(j + 0.5 - step / 4)
// divided by the rate, computed as that function does. `v(k)` is frame k's
// valid value (frames at or past the list's end read its last entry).
template <typename Value>
double phase_term(int64_t j, int step, int n, double rate, Value v) {
    const double u = (j + 0.5 - 0.25 * step) / step;
    int64_t k = 0;
    double f = 0.0;
    if (u >= 0.0) {
        const double kd = std::floor(u);
        f = u - kd;
        k = kd >= static_cast<double>(n) ? n : static_cast<int64_t>(kd);
    }
    return ((1 - f) * v(k) + f * v(k + 1)) / rate;
}

// u of the sample at jd, as the frame's terms compute it.
inline double frame_term_u(const FrameTerms& ft, double jd) {
    const double num = jd + 0.5 - ft.q;
    return ft.inv != 0 ? num * ft.inv : num / ft.step;
}

// Adds the terms of entry e >= 1 (samples j..end - 1, end - j <= step) to
// `sum`. Such a sample's u lies in (e - 1, e + 1): floor(u) is e - 1 below
// the first sample whose u reaches e, and e from there on.
double add_entry_terms(int64_t e, int64_t j, int64_t end, int step, double rate, double a, double b,
                       double c, const LaneKernels& lk, double sum) {
    FrameTerms ft;
    ft.q = 0.25 * step;
    ft.step = step;
    ft.inv = (step & (step - 1)) == 0 ? 1.0 / step : 0.0;
    ft.rate = rate;
    const double ed = static_cast<double>(e);
    // u reaches e from sample e * step + ceil(step / 4 - 1/2) on; the two
    // loops settle it by u itself.
    const auto reaches = [&](int64_t i) { return frame_term_u(ft, static_cast<double>(i)) >= ed; };
    int64_t split = e * step + (int64_t(step) + 1) / 4;
    if (split > end) split = end;
    if (split < j) split = j;
    while (split > j && reaches(split - 1)) --split;
    while (split < end && !reaches(split)) ++split;
    ft.kd = ed - 1;
    ft.l = a;
    ft.r = b;
    sum = lk.add_frame_terms(ft, j, split, sum);
    ft.kd = ed;
    ft.l = b;
    ft.r = c;
    return lk.add_frame_terms(ft, split, end, sum);
}

}  // namespace

int build_phase_table_upto(const double* freq, int count, int step, double freq_avg, int64_t ssize,
                           double rate, double* table, int frames, double reach, SimdWidth lanes) {
    const LaneKernels& lk = lane_kernels(lanes);
    if (frames < 0) return frames;
    table[0] = 0.0;  // also the whole table of a sample shorter than one step
    if (step <= 0) {
        for (int k = 1; k <= frames; ++k) table[k] = 0.0;
        return frames;
    }
    // The sum of series_value_at(j + 0.5 - step / 4) / rate over every sample
    // j, in order of j, the terms computed as that function does, with the
    // entries of a frame looked up once per table entry instead of once per
    // sample.
    const int n = count < 0 ? 0 : count;
    const auto v = [freq, n, freq_avg](int64_t k) {
        return entry_or_fallback(freq, k, n, n, list_unvoiced_hz, list_missing_hz, freq_avg);
    };

    // Where to stop. A position up to `reach` anchors at frame k <= last and
    // takes a phase of at most table[k] + step * (the most cycles per sample
    // of any frame); the search for the aligned position then reads entries
    // only until one tops that phase plus one cycle.
    int64_t last = frames;
    double most = freq_avg;
    for (int k = 0; k <= n; ++k)
        if (freq[k] > list_unvoiced_hz && freq[k] != list_missing_hz && freq[k] > most)
            most = freq[k];
    const double most_cycles = step * (most / rate);
    const bool bounded = reach == reach && reach < static_cast<double>(frames) * step &&
                         freq_avg > 0 && std::isfinite(most_cycles) && most_cycles >= 0;
    if (bounded) last = reach < 0 ? 0 : static_cast<int64_t>(reach / step) + 1;
    double stop_above = 0.0;  // set once entry `last` is known

    double sum = 0.0;
    int64_t j = 0;
    for (int64_t entry = 0; j < ssize; ++entry) {
        if (entry <= frames) table[entry] = sum;
        if (bounded && entry == last) stop_above = sum + most_cycles + 2.0;
        if (bounded && entry > last && entry < frames && sum > stop_above)
            return static_cast<int>(entry);
        const int64_t end = ssize - j > step ? j + step : ssize;
        // Entry 0 holds the samples whose u is below 0; positions beyond
        // 2^31 samples (no WAV file has them) are left to the general form.
        if (entry == 0 || end > (int64_t(1) << 31)) {
            for (; j < end; ++j) sum += phase_term(j, step, n, rate, v);
            continue;
        }
        sum = add_entry_terms(entry, j, end, step, rate, v(entry - 1), v(entry), v(entry + 1), lk,
                              sum);
        j = end;
    }
    if (frames > 0) table[frames] = table[frames - 1];
    return frames;
}

double aligned_source_position(double p, double q, const double* freq, int count,
                               const double* table, int frames, int step, double lo, double bad,
                               double fallback, double rate) {
    if (count < 0) count = 0;
    if (frames < 0) frames = 0;
    // Entry `end` stands for every frame past the list; entry count takes the
    // place of entry frames when the table is longer than the list.
    const int end = frames < count ? frames : count;
    const auto cycles = [&](int64_t k) {
        return entry_or_fallback(freq, k, count, end, lo, bad, fallback) / rate;
    };

    int64_t k = 0;
    double f = 0.0;
    frame_of(p / step, frames, &k, &f);  // past the table: its last entry
    const double left = cycles(k);
    const double right = cycles(k + 1);
    const double phase = table[k] + step * f * (left + 0.5 * (right - left) * f);

    double target = (q - std::floor(q)) + std::floor(phase);
    const double other = phase > target ? target + 1 : target - 1;
    if (std::fabs(phase - target) > std::fabs(phase - other)) target = other;

    int64_t w = k;
    while (w > 0 && table[w] > target) --w;
    while (w < frames - 1 && target > table[w + 1]) ++w;

    const double left2 = cycles(w);
    const double right2 = cycles(w + 1);
    if (left2 != right2) {
        const double e = step * left2;
        const double fq = (right2 - left2) * step;
        const double g = e * e - 2 * fq * (table[w] - target);
        if (g > 0) f = (std::sqrt(g) - e) / fq;
    } else {
        f = (target - table[w]) / left2 / step;
    }
    return (w + f) * step;
}

double smoothing_weight(double x) {
    const double y = x * x;
    const double d = y - 2.25;
    return (y - 4) * (y - 1) * (d * d) / 20.25;
}

}  // namespace velorin
