// tests/support/pitch_curves.h: pitch curves for the codec tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velorin_test {

// A heap pitch curve holding `points`, released with free_pitch_curve; N = 0
// for an empty vector (a curve no decoder would return).
int16_t* make_curve(const std::vector<int16_t>& points);

// The points of `curve`, which is released; empty for null.
std::vector<int> curve_points(int16_t* curve);

// Narrow text for failure messages; characters outside ASCII show as '?'.
std::string text_of(const wchar_t* text);
std::string text_of(const std::wstring& text);

// A small deterministic generator, so every build draws the same curves.
struct CurveRand {
    uint32_t state = 12345;
};
uint32_t next_rand(CurveRand& r);
int rand_between(CurveRand& r, int lo, int hi);  // inclusive

// Curve kinds for the round trips.
enum CurveKind {
    smooth_bend = 0,  // a slow glide between two targets
    vibrato,          // a sine around a level
    steps,            // flat stretches with jumps between them
    zero_runs,        // long runs of 0 with short bursts
    extreme,          // values anywhere in lo..hi
    jitter,           // a random walk of small steps
    curve_kind_count
};

// 1..600 points (zero_runs up to about 9000) of the given kind, each
// limited to lo..hi.
std::vector<int16_t> random_curve(CurveRand& r, int kind, int lo, int hi);

}  // namespace velorin_test
