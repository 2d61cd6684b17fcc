// pitch/pitch_curve.h: the pitch curve and the entry points the driver uses.
//
// A pitch curve is a heap array of signed 16-bit values: element 0 holds the
// number of points N, elements 1..N the points in cents. Whoever receives one
// releases it with free_pitch_curve.
#pragma once

#include <cstdint>

namespace velorin {

void free_pitch_curve(int16_t* curve);  // null is ignored

// The encoders hand back heap strings; their receiver releases them here.
void free_pitch_text(wchar_t* text);  // null is ignored

// Plain form: null when the string yields no points.
int16_t* decplain(const wchar_t* text);

// The compressed forms: variant 3 "hff", 2 "cmp", anything else "enc".
int16_t* decpitch(const wchar_t* text, int order, int variant);

// Reads the codec choice from the tempo argument: false when it holds no "*"
// (plain form); otherwise true with the variant (3 "hff", 2 "cmp", 1 "enc",
// 0 other) and the delta order.
bool select_pitch_form(const wchar_t* tempo, int* variant, int* order);

}  // namespace velorin
