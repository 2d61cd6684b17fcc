// pitch/codec_enc.cpp: the variable-length residual codec ("enc").
#include <vector>

#include "pitch/codecs.h"
#include "pitch/curve.h"
#include "pitch/digits.h"
#include "platform/console.h"

namespace velorin {

int16_t* enc_decode(const std::wstring& text, int order) {
    std::vector<int32_t> r;
    const size_t n = text.size();
    const auto digit_at = [&](size_t i) { return i < n ? strict_digit(text[i]) : -1; };
    const auto add_zeros = [&](size_t run) {
        const size_t room = size_t(max_curve_points) - r.size();
        r.insert(r.end(), run < room ? run : room, 0);
    };
    size_t i = 0;
    while (i < n && r.size() < size_t(max_curve_points)) {
        const wchar_t c = text[i];
        const int d = strict_digit(c);
        if (d >= 0) {
            r.push_back(six_bit_value(d));
            i += 1;
        } else if (c == L'!') {
            const int d1 = digit_at(i + 1);
            if (d1 < 0) break;
            r.push_back(bang_value(d1));
            i += 2;
        } else if (c == L'@') {
            if (i + 1 >= n) break;
            const int lo = digit_at(i + 1);
            if (lo < 0) {  // skipped together with the '@'; reading goes on after it
                i += 2;
                continue;
            }
            const int hi = digit_at(i + 2);
            if (hi < 0) break;
            r.push_back(at_value(lo, hi));
            i += 3;
        } else if (c == L'$') {
            const int d1 = digit_at(i + 1);
            if (d1 < 0) break;
            add_zeros(size_t(d1) + 3);
            i += 2;
        } else if (c == L'#') {
            const int lo = digit_at(i + 1);
            const int hi = digit_at(i + 2);
            if (lo < 0 || hi < 0) break;
            add_zeros(size_t(lo) + 64 * size_t(hi) + 67);
            i += 3;
        } else {
            i += 1;  // not part of the code
        }
    }
    return new_pitch_curve(rebuild_points(r, order));
}

std::wstring enc_encode(const int16_t* curve, int order) {
    if (order >= 5) {
        say_wide(stdout, L"encpitch: Argument 2 ist anomal.\n");
        return std::wstring();
    }
    std::wstring out;
    size_t zeros = 0;
    for (const int32_t full : delta_residuals(curve, order)) {
        // A residual is written as its 16-bit value. One that is zero there
        // (a multiple of 65536) joins the zero run: written alone as "A" after
        // a '$' or '#' unit whose digits end in 'A', the zero-run packing
        // would fold it into that unit's digits.
        const int r = static_cast<int16_t>(static_cast<uint16_t>(full));
        if (r == 0) {
            ++zeros;
            continue;
        }
        put_zero_run(out, zeros);
        zeros = 0;
        const int v = limit_residual(r);
        if (v >= -32 && v <= 31) {
            out += digit_char(v);
        } else {
            put_wide_residual(out, v);
        }
    }
    put_zero_run(out, zeros);
    return out;
}

}  // namespace velorin
