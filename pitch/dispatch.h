// pitch/dispatch.h: the compressed pitch-bend forms as a whole, curve to text and back.
#pragma once

#include <cstdint>

#include "pitch/curve.h"

namespace velorin {

// Reads the codec choice from the tempo argument: false when it holds no "*"
// (plain form); otherwise true with the variant (3 "hff", 2 "cmp", 1 "enc",
// 0 other) and the delta order.
bool select_pitch_form(const wchar_t* tempo, int* variant, int* order);

// Back-reference expansion, then zero-run expansion, then the codec of the
// variant (3 "hff", 2 "cmp", anything else "enc"): a heap curve
// (free_pitch_curve), or null when the text yields no points.
int16_t* decpitch(const wchar_t* text, int order, int variant);

// Codec text of the chosen variant (3 "hff", 2 "cmp", anything else "enc"),
// then zero-run packing, then back-reference packing. A heap string the caller
// releases with free_pitch_text, or null when the codec gives no text.
// Reentrant; the codecs print their messages on standard output.
wchar_t* encpitch(const int16_t* curve, int order, int variant);

// `text` holds numbers separated by spaces (each read as a decimal number,
// rounded half up to whole cents); they are encoded as by encpitch and
// copied into `out` like a bounded wide-string copy: at most `size`
// characters, zero-filled after the text, unterminated when the text fills
// the buffer. Returns the full length of the encoded text (0 when there is
// none), so that a caller sees truncation. A null `out` or size <= 0 copies nothing.
int encpitchtext(const wchar_t* text, wchar_t* out, int size, int order, int variant);

// Decodes `text` as decpitch does and writes the points as decimal numbers
// separated by single spaces, with the same copy and length rules.
int decpitchtext(const wchar_t* text, wchar_t* out, int size, int order, int variant);

}  // namespace velorin
