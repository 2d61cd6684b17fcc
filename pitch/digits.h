// pitch/digits.h: the 64-character digit alphabet shared by every pitch-bend text.
#pragma once

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

}  // namespace velorin
