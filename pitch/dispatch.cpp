// pitch/dispatch.cpp: selecting and running the compressed pitch-bend forms.
#include "pitch/dispatch.h"

#include <cmath>
#include <cwchar>
#include <string>
#include <vector>

#include "pitch/codecs.h"
#include "pitch/container.h"
#include "pitch/curve.h"
#include "platform/wstrconv.h"

namespace velorin {

bool select_pitch_form(const wchar_t* tempo, int* variant, int* order) {
    const wchar_t* star = tempo ? std::wcschr(tempo, L'*') : nullptr;
    if (!star) return false;
    int v = 0;
    int o = 0;
    const wchar_t* name = star + 1;
    // Fewer than three characters after the '*' name no codec and no order.
    if (name[0] && name[1] && name[2]) {
        if (std::wcsncmp(name, L"hff", 3) == 0) {
            v = 3;
        } else if (std::wcsncmp(name, L"cmp", 3) == 0) {
            v = 2;
        } else if (std::wcsncmp(name, L"enc", 3) == 0) {
            v = 1;
        }
        o = wtoi32(name + 3);
    }
    if (variant) *variant = v;
    if (order) *order = o;
    return true;
}

int16_t* decpitch(const wchar_t* text, int order, int variant) {
    if (!text || !*text) return nullptr;
    const std::wstring codec_text = expandzeros(expandrefs(text));
    if (variant == 2) return cmp_decode(codec_text, order);
    if (variant == 3) return hff_decode(codec_text, order);
    return enc_decode(codec_text, order);
}

wchar_t* encpitch(const int16_t* curve, int order, int variant) {
    const std::wstring codec_text = variant == 2   ? cmp_encode(curve, order)
                                    : variant == 3 ? hff_encode(curve, order)
                                                   : enc_encode(curve, order);
    return new_pitch_text(packrefs(packzeros(codec_text)));
}

namespace {

// Whole cents from a number, half up. Out of the 32-bit range (or not a
// number) the conversion gives the integer-indefinite value of the target
// CPU, whose low 16 bits are 0; within it the value wraps to 16 bits.
int16_t cents_from(double x) {
    const double v = std::floor(x + 0.5);
    if (!(v >= -2147483648.0 && v < 2147483648.0)) return 0;
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<int64_t>(v)));
}

// The bounded wide-string copy: at most `size` characters of `text`, the rest
// of the buffer zero, no terminator when `text` fills it. Returns the full length.
int copy_bounded(const std::wstring& text, wchar_t* out, int size) {
    if (out && size > 0) {
        for (size_t i = 0; i < size_t(size); ++i) out[i] = i < text.size() ? text[i] : L'\0';
    }
    return static_cast<int>(text.size());
}

}  // namespace

int encpitchtext(const wchar_t* text, wchar_t* out, int size, int order, int variant) {
    std::vector<int16_t> points;
    std::wstring token;
    for (const wchar_t* p = text; p && *p; ++p) {
        if (*p != L' ') token += *p;
        if ((*p == L' ' || p[1] == 0) && !token.empty()) {
            points.push_back(cents_from(wtof(token.c_str())));  // not a number: 0
            token.clear();
        }
    }
    if (points.size() > size_t(max_curve_points)) points.resize(size_t(max_curve_points));
    if (variant < 1 || variant > 3) variant = 1;
    std::wstring encoded;
    if (int16_t* curve = new_pitch_curve(points)) {
        if (wchar_t* t = encpitch(curve, order, variant)) {
            encoded = t;
            free_pitch_text(t);
        }
        free_pitch_curve(curve);
    }
    return copy_bounded(encoded, out, size);
}

int decpitchtext(const wchar_t* text, wchar_t* out, int size, int order, int variant) {
    std::wstring numbers;
    if (int16_t* curve = decpitch(text, order, variant)) {
        for (int k = 1; k <= curve[0]; ++k) {
            if (k > 1) numbers += L' ';
            numbers += std::to_wstring(curve[k]);
        }
        free_pitch_curve(curve);
    }
    return copy_bounded(numbers, out, size);
}

}  // namespace velorin
