// pitch/digits.h: the 64-character digit alphabet shared by every pitch-bend
// text, and the units built of its digits that the "enc" and "cmp" codecs and
// the zero-run layer share.
#pragma once

#include <cstddef>
#include <string>

namespace velorin {

constexpr wchar_t pitch_alphabet[] =
    L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Strict reading: 0..63, or -1 for any character outside the alphabet.
inline int strict_digit(wchar_t c) {
    if (c >= L'A' && c <= L'Z') return c - L'A';
    if (c >= L'a' && c <= L'z') return c - L'a' + 26;
    if (c >= L'0' && c <= L'9') return c - L'0' + 52;
    if (c == L'+') return 62;
    if (c == L'/') return 63;
    return -1;
}

// Lenient reading of the plain form: a character outside the alphabet is 0.
inline int lenient_digit(wchar_t c) {
    const int d = strict_digit(c);
    return d < 0 ? 0 : d;
}

// The character of a digit value; only the low six bits count.
inline wchar_t digit_char(int value) { return pitch_alphabet[value & 63]; }

// --- Units shared by the "enc" and "cmp" codecs and the zero-run layer ---

// The longest zero run one '#' unit is written with. The reader accepts up
// to 4162, but writers keep the high digit below 32; longer runs take several units.
constexpr size_t max_zero_unit = 2114;

// A run of zero residuals (or characters 'A'): "A", "AA", '$' + digit of
// run - 3, or '#' + low and high digit of run - 67; longer runs are split
// into full '#' units followed by the rest.
inline void put_zero_run(std::wstring& out, size_t run) {
    for (; run > max_zero_unit; run -= max_zero_unit) {
        out += L'#';
        out += digit_char(static_cast<int>((max_zero_unit - 67) % 64));
        out += digit_char(static_cast<int>((max_zero_unit - 67) / 64));
    }
    if (run <= 2) {
        out.append(run, L'A');
    } else if (run <= 66) {
        out += L'$';
        out += digit_char(static_cast<int>(run - 3));
    } else {
        out += L'#';
        out += digit_char(static_cast<int>((run - 67) % 64));
        out += digit_char(static_cast<int>((run - 67) / 64));
    }
}

inline int limit_residual(int r) { return r < -2048 ? -2048 : r > 2047 ? 2047 : r; }

// A residual outside -32..31, already limited: '!' + one digit for
// 32..63 and -64..-33, '@' + low and high digit otherwise.
inline void put_wide_residual(std::wstring& out, int r) {
    if (r >= 32 && r <= 63) {
        out += L'!';
        out += digit_char(r - 32);
    } else if (r >= -64 && r <= -33) {
        out += L'!';
        out += digit_char(r + 96);
    } else {
        const int v = r >= 64 ? r - 64 : r + 4160;
        out += L'@';
        out += digit_char(v % 64);
        out += digit_char(v / 64);
    }
}

// The values of the units above, from their digits.
inline int six_bit_value(int d) { return d <= 31 ? d : d - 64; }
inline int bang_value(int d) { return d <= 31 ? d + 32 : d - 96; }
inline int at_value(int lo, int hi) {
    const int v = lo + 64 * hi;
    return v <= 2047 ? v + 64 : v - 4160;
}

}  // namespace velorin
