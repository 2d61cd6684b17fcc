// pitch/plain.h: the plain pitch-bend string, two base64 digits per point.
#pragma once

#include <cstdint>

#include "pitch/curve.h"

namespace velorin {

// Reads the plain form: a point is two digits, high first, holding a 12-bit
// two's-complement value; '#n#' repeats the last point n more times.
// Characters outside the alphabet are zero digits, so every string decodes
// to something; a string that yields no points (empty, '#0#') gives null. At
// most max_curve_points points are kept. A heap curve (free_pitch_curve).
int16_t* decplain(const wchar_t* text);

// The inverse for points in -2048..2047 (others wrap modulo 4096): a heap
// string the caller releases with free_pitch_text, or null when N <= 0.
// Pure and reentrant.
wchar_t* encplain(const int16_t* curve);

}  // namespace velorin
