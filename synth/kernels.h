// synth/kernels.h: windowed-sinc readers, frame-series lookups, the source
// phase table and the phase-aligned source position.
//
// All pure functions of their arguments: no state, no allocation, callable
// from any number of threads at once.
#pragma once

#include <cstdint>

#include "simd/simd.h"

namespace velorin {

// Channel 0 of interleaved `data` at fractional position `x` (in frames),
// through a cosine-tapered sinc spanning 2 * width frames on each side.
// `frames` is the number of frames in the buffer: taps outside [0, frames)
// keep their weight but read nothing, so the result fades at the ends.
double sinc_read_f64(double x, const double* data, double width, int channels, int64_t frames);
// The same on raw sample data, each returning a value on the 16-bit scale.
double sinc_read_i16(double x, const int16_t* data, double width, int channels, int64_t frames);
double sinc_read_u8(double x, const uint8_t* data, double width, int channels, int64_t frames);
double sinc_read_i24(double x, const uint8_t* data, double width, int channels, int64_t frames);
double sinc_read_f32(double x, const float* data, double width, int channels, int64_t frames);

// How the synthesis reads a frequency list's `freq` (lo and bad below): an
// entry at or below 1 Hz is unvoiced, and an entry of exactly 55 Hz counts as
// missing as well; both read as the list's average frequency.
constexpr double list_unvoiced_hz = 1.0;
constexpr double list_missing_hz = 55.0;

// The interpolated value of a frame series (count + 1 values, one every
// `step` samples) at sample position x. A value <= lo or == bad (or NaN)
// is invalid and reads as `fallback`. Positions before 0 read entry 0,
// positions at or past count * step entry count.
double series_value_at(double x, const double* values, int count, int step, double lo, double bad,
                       double fallback);

// Fills the source phase table: frames + 1 entries, frames = ssize / step,
// entry k the source cycles from sample 0 to sample k * step; the last entry
// repeats the one before it. With frames = 0 the single entry is 0.
void build_phase_table(const double* freq, int count, int step, double freq_avg, int64_t ssize,
                       double rate, double* table, int frames);

// The first entries of the same table, as far as positions up to sample
// position `reach` can read them through aligned_source_position: entries
// 0..E, E the first entry past frame reach / step whose value tops every
// phase such a position can take by two cycles (or frames). Returns E; the
// entries past it are left as they are. Entries 0..E hold the same doubles as
// build_phase_table gives them. A reach that is not a number builds all.
// The terms are computed `lanes` side by side (simd/simd.h); every width
// gives the same doubles.
int build_phase_table_upto(const double* freq, int count, int step, double freq_avg, int64_t ssize,
                           double rate, double* table, int frames, double reach, SimdWidth lanes);

// The source position near p whose source phase has the fractional part of
// the target phase q. `freq` holds count + 1 values, `table` frames + 1;
// neither is read outside its entries: positions past the table use its last
// entry, and frames past the list read entry min(frames, count).
double aligned_source_position(double p, double q, const double* freq, int count,
                               const double* table, int frames, int step, double lo, double bad,
                               double fallback, double rate);

// (y - 4)(y - 1)(y - 2.25)^2 / 20.25 with y = x^2: 1 at 0, 0 at |x| = 1.
double smoothing_weight(double x);

}  // namespace velorin
