// pitch/plain.cpp: decoding and encoding the plain pitch-bend string.
#include "pitch/plain.h"

#include <cwchar>
#include <string>
#include <vector>

#include "pitch/curve.h"
#include "pitch/digits.h"
#include "platform/wstrconv.h"

namespace velorin {

int16_t* decplain(const wchar_t* text) {
    if (!text) return nullptr;
    const size_t len = std::wcslen(text);
    std::vector<int16_t> points;
    size_t i = 0;
    while (i < len && points.size() < size_t(max_curve_points)) {
        if (text[i] == L'#') {
            wchar_t* end = nullptr;
            const int32_t n = wcstol32(text + i + 1, &end, 10);
            // The character that ends the number (normally the closing '#') is
            // skipped whatever it is; without digits, end stays right after the '#'.
            i = static_cast<size_t>(end - text) + 1;
            const int16_t last = points.empty() ? int16_t(0) : points.back();
            // The cap bounds the memory a huge count could ask for.
            const size_t room = size_t(max_curve_points) - points.size();
            if (n > 0) points.insert(points.end(), size_t(n) < room ? size_t(n) : room, last);
            continue;
        }
        const int h = lenient_digit(text[i]);
        const int l = i + 1 < len ? lenient_digit(text[i + 1]) : 0;  // odd length: low digit 0
        const int r = h * 64 + l;
        points.push_back(static_cast<int16_t>(r <= 2047 ? r : r - 4096));
        i += 2;
    }
    return new_pitch_curve(points);
}

namespace {

void put_point(std::wstring& out, int16_t v) {
    const unsigned u = static_cast<uint16_t>(v);
    out += digit_char(static_cast<int>(u >> 6));
    out += digit_char(static_cast<int>(u));
}

void flush_repeats(std::wstring& out, int repeats, int16_t prev) {
    if (repeats == 1) {
        put_point(out, prev);
    } else if (repeats >= 2) {
        out += L'#';
        out += std::to_wstring(repeats);
        out += L'#';
    }
}

}  // namespace

wchar_t* encplain(const int16_t* curve) {
    if (!curve || curve[0] <= 0) return nullptr;
    const int n = curve[0];
    std::wstring out;
    int repeats = 0;
    for (int k = 1; k <= n; ++k) {
        if (k > 1 && curve[k] == curve[k - 1]) {
            ++repeats;
            continue;
        }
        flush_repeats(out, repeats, k > 1 ? curve[k - 1] : int16_t(0));
        repeats = 0;
        put_point(out, curve[k]);
    }
    flush_repeats(out, repeats, curve[n]);
    return new_pitch_text(out);
}

}  // namespace velorin
