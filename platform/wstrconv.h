// platform/wstrconv.h: the standard wide-string conversions as the Windows
// target has them.
//
// A `long` there is 32 bits, so integer readings saturate at the 32-bit range;
// these helpers give that result on every build, whatever the width of the
// local `long`. Header-only, so that folders without a link dependency on the
// platform library can use them.
#pragma once

#include <cstdint>
#include <cwchar>

namespace velorin {

// wcstol with the result saturated to the 32-bit range.
inline int32_t wcstol32(const wchar_t* s, wchar_t** end, int base) {
    long long v = std::wcstoll(s, end, base);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// The standard wide string-to-int (base 10, saturating; no digits gives 0).
inline int32_t wtoi32(const wchar_t* s) { return wcstol32(s, nullptr, 10); }

// The standard wide string-to-double (locale-dependent decimal separator).
inline double wtof(const wchar_t* s) { return std::wcstod(s, nullptr); }

}  // namespace velorin
