// pitch/codecs.h: the three residual codecs of the compressed pitch-bend forms.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velorin {

// Each codec writes the residuals of the delta order `order` (none for
// order <= 0, 1..3 as given, 3 above that) of a pitch curve as codec text,
// and reads such text back into a curve. The texts here are the codec's own;
// decpitch and encpitch add the container layers around them.
//
// Decoders return a heap curve (release with free_pitch_curve) or null when
// the text yields no points; they never fail on content, and keep at most
// max_curve_points points. Encoders return an empty text when they have
// none to give. All are reentrant.

// "enc": one residual per digit (-32..31), '!' + digit, '@' + two digits,
// zero runs as '$' + digit or '#' + two digits. Characters outside the
// alphabet and the marks are skipped; a unit cut short ends the text.
// Exact for residuals in -2048..2047; larger ones are limited. An order of
// 5 or more prints a message on standard output and gives no text.
int16_t* enc_decode(const std::wstring& text, int order);
std::wstring enc_encode(const int16_t* curve, int order);

// "cmp": two residuals in -4..3 share a digit; others take '\'' + digit,
// '!' + digit or '@' + two digits. Any other character, or a unit cut short,
// ends the text. Exact for residuals in -2048..2047; larger ones are limited.
int16_t* cmp_decode(const std::wstring& text, int order);
std::wstring cmp_encode(const int16_t* curve, int order);

// "hff": a canonical Huffman code of the 16-bit residuals, its table ahead
// of the data, carried six bits per digit with a three-bit trailer telling
// the filler length. Exact for every curve it encodes. A curve whose
// residuals are all equal gives no text: the format could not carry its
// length. The decoder gives no curve for a malformed table (no entries, a
// code longer than 31 bits, a table past the end of the bits) and prints
// a message on standard output when the data stops matching the table.
int16_t* hff_decode(const std::wstring& text, int order);
std::wstring hff_encode(const int16_t* curve, int order);

// The canonical "hff" codes for code lengths in nondecreasing order: a
// counter, shifted left whenever the length grows and counting up after each
// entry; each code is the counter's low `length` bits, first bit most significant.
std::vector<uint32_t> hff_canonical_codes(const std::vector<int>& lengths);

}  // namespace velorin
