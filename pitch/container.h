// pitch/container.h: the two layers every compressed pitch-bend text shares.
#pragma once

#include <cstddef>
#include <string>

namespace velorin {

// An expanding layer stops at this many characters, as if memory had run
// out: a few characters can ask for thousands, and no text that an encoder
// writes for a curve of max_curve_points points comes near it.
constexpr size_t max_expanded_length = size_t(1) << 20;

// Back-reference packing (outer layer). A mark '[', ']', '{' or '}' and two
// digits D, E copy E + 4 (or E + 68 for the braces) characters from D + 1 (or
// D + 65 for ']' and '}') characters back, overlapping its own output.
// expandrefs stops at a mark that is cut short, holds a non-digit or reaches
// before the start of the output; the text so far is the result.
// packrefs writes the longest earlier match of 4 or more characters (the
// nearest on a tie) as a mark; empty for an empty input. Both pure.
std::wstring expandrefs(const std::wstring& text);
std::wstring packrefs(const std::wstring& text);

// Zero-run packing (inner layer): '$' + D stands for D + 3 characters 'A',
// '#' + D1 + D2 (low digit first) for D1 + 64 * D2 + 67. expandzeros stops at
// a mark that is cut short or holds a non-digit; packzeros writes runs of
// three or more, splitting runs longer than a '#' mark it writes carries.
// Empty for an empty input. Both pure.
std::wstring expandzeros(const std::wstring& text);
std::wstring packzeros(const std::wstring& text);

}  // namespace velorin
