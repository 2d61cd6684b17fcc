// pitch/curve.h: the pitch curve, its heap texts and its delta residuals.
//
// A pitch curve is a heap array of signed 16-bit values: element 0 holds the
// number of points N, elements 1..N the points in cents. Whoever receives one
// releases it with free_pitch_curve; the encoders' heap texts are released
// with free_pitch_text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velorin {

// Element 0 of a curve is a signed 16-bit count, so every decoder keeps at
// most this many points and drops the rest.
constexpr int max_curve_points = 32767;

void free_pitch_curve(int16_t* curve);  // null is ignored
void free_pitch_text(wchar_t* text);    // null is ignored

// A new heap curve holding `points` (at most max_curve_points of them), or
// null when there are none or memory runs out. Release with free_pitch_curve.
int16_t* new_pitch_curve(const std::vector<int16_t>& points);

// A heap copy of `text`, zero-terminated; null when `text` is empty or memory
// runs out. Release with free_pitch_text.
wchar_t* new_pitch_text(const std::wstring& text);

// The residuals of the delta order for points x(1..N) of `curve`, in full
// integers: r(j) = x(j) - P(j), with P of order min(order, j - 1), none for
// order <= 0 and order 3 for any order above 3. Empty for a null curve or N <= 0.
std::vector<int32_t> delta_residuals(const int16_t* curve, int order);

// The inverse: rebuilds the points from residuals, first to last, each
// stored as a signed 16-bit value (wrapping on overflow).
std::vector<int16_t> rebuild_points(const std::vector<int32_t>& residuals, int order);

}  // namespace velorin
