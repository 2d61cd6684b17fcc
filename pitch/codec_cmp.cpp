// pitch/codec_cmp.cpp: the paired small-residual codec ("cmp").
#include <vector>

#include "pitch/codecs.h"
#include "pitch/curve.h"
#include "pitch/digits.h"

namespace velorin {

namespace {

int three_bit_value(int v) { return v <= 3 ? v : v - 8; }

void put_single(std::wstring& out, int32_t full) {
    const int r = limit_residual(full);
    if (r >= -32 && r <= 31) {
        out += L'\'';
        out += digit_char(r);
    } else {
        put_wide_residual(out, r);
    }
}

}  // namespace

int16_t* cmp_decode(const std::wstring& text, int order) {
    std::vector<int32_t> r;
    const size_t n = text.size();
    const auto digit_at = [&](size_t i) { return i < n ? strict_digit(text[i]) : -1; };
    size_t i = 0;
    while (i < n && r.size() < size_t(max_curve_points)) {
        const wchar_t c = text[i];
        const int d = strict_digit(c);
        if (d >= 0) {
            r.push_back(three_bit_value(d >> 3));
            if (r.size() < size_t(max_curve_points)) r.push_back(three_bit_value(d & 7));
            i += 1;
        } else if (c == L'\'' || c == L'!') {
            const int d1 = digit_at(i + 1);
            if (d1 < 0) break;
            r.push_back(c == L'!' ? bang_value(d1) : six_bit_value(d1));
            i += 2;
        } else if (c == L'@') {
            const int lo = digit_at(i + 1);
            const int hi = digit_at(i + 2);
            if (lo < 0 || hi < 0) break;
            r.push_back(at_value(lo, hi));
            i += 3;
        } else {
            break;  // a character outside the code ends the text
        }
    }
    return new_pitch_curve(rebuild_points(r, order));
}

std::wstring cmp_encode(const int16_t* curve, int order) {
    std::wstring out;
    int pending = -1;  // the 3-bit code waiting for a partner
    for (const int32_t r : delta_residuals(curve, order)) {
        if (r >= -4 && r <= 3) {
            const int code = r >= 0 ? r : r + 8;
            if (pending >= 0) {
                out += digit_char(pending * 8 + code);
                pending = -1;
            } else {
                pending = code;
            }
            continue;
        }
        if (pending >= 0) put_single(out, three_bit_value(pending));
        pending = -1;
        put_single(out, r);
    }
    if (pending >= 0) put_single(out, three_bit_value(pending));
    return out;
}

}  // namespace velorin
