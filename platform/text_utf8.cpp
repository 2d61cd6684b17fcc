// platform/text_utf8.cpp: paths and arguments between UTF-8 bytes and wide
// strings, the same code on every system.
//
// A byte that is not valid UTF-8 travels as the wide character 0xDC00 + byte
// and comes back unchanged, so texts round-trip alike everywhere. Where
// wchar_t is 16 bits wide (Windows), characters past U+FFFF are surrogate
// pairs; where it is 32 bits wide, each is one wchar_t.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace velorin {

namespace {

constexpr bool wide_is_utf16 = sizeof(wchar_t) == 2;

void append_utf8(std::string& out, uint32_t c) {
    if (c >= 0xDC80 && c <= 0xDCFF) {
        out += static_cast<char>(c - 0xDC00);  // an escaped byte
    } else if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | ((c >> 18) & 0x07));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string narrow_text(const wchar_t* text) {
    std::string out;
    if (!text) return out;
    for (const wchar_t* p = text; *p; ++p) {
        uint32_t c = wide_is_utf16 ? static_cast<uint16_t>(*p) : static_cast<uint32_t>(*p);
        if (wide_is_utf16) {
            const uint32_t next = static_cast<uint16_t>(p[1]);
            if (c >= 0xD800 && c <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
                ++p;
            }
        }
        append_utf8(out, c);
    }
    return out;
}

std::wstring widen_text(const char* text) {
    std::wstring out;
    if (!text) return out;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        const unsigned char b = *p;
        const int len = b < 0x80         ? 1
                        : (b >> 5) == 6  ? 2
                        : (b >> 4) == 14 ? 3
                        : (b >> 3) == 30 ? 4
                                         : 0;
        uint32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = len > 0;
        for (int i = 1; ok && i < len; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                ok = false;
            else
                c = (c << 6) | (p[i] & 0x3F);
        }
        // Overlong forms, surrogates and values past Unicode are escaped byte
        // by byte, so that narrowing gives back exactly the bytes read.
        if (ok && ((len == 2 && c < 0x80) || (len == 3 && c < 0x800) ||
                   (len == 4 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c <= 0xDFFF)))
            ok = false;
        if (!ok) {
            out += static_cast<wchar_t>(0xDC00 + b);
            ++p;
            continue;
        }
        if (wide_is_utf16 && c >= 0x10000) {
            out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<wchar_t>(c);
        }
        p += len;
    }
    return out;
}

int main_with_wide_args(int argc, char** argv, int (*wide_main)(int, wchar_t**)) {
    std::vector<std::wstring> wide;
    for (int i = 0; i < argc; ++i) wide.push_back(widen_text(argv[i]));
    std::vector<wchar_t*> ptrs;
    for (std::wstring& w : wide) ptrs.push_back(&w[0]);
    ptrs.push_back(nullptr);
    return wide_main(argc, ptrs.data());
}

}  // namespace velorin
