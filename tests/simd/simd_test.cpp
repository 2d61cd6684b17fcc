// tests/simd/simd_test.cpp: the run's lane width and its cap.
#include "simd/simd.h"

#include <gtest/gtest.h>

using velorin::SimdRequest;
using velorin::SimdWidth;

// VELORIN_SIMD caps the width; a width the machine lacks, or a word that is
// none, leaves the widest and says so.
TEST(SimdWidth, RequestCapsTheAvailableWidth) {
    struct Case {
        const char* request;
        SimdWidth available, want;
        SimdRequest outcome;
    };
    const char* pair = velorin::simd_width_name(SimdWidth::pair);  // "sse2" or "neon"
    const Case cases[] = {
        {nullptr, SimdWidth::pair, SimdWidth::pair, SimdRequest::none},
        {"", SimdWidth::pair, SimdWidth::pair, SimdRequest::none},
        {"scalar", SimdWidth::pair, SimdWidth::scalar, SimdRequest::taken},
        {pair, SimdWidth::pair, SimdWidth::pair, SimdRequest::taken},
        {pair, SimdWidth::scalar, SimdWidth::scalar, SimdRequest::unavailable},
        {"fast", SimdWidth::pair, SimdWidth::pair, SimdRequest::unknown},
#if defined(__SSE2__)
        {nullptr, SimdWidth::avx, SimdWidth::avx, SimdRequest::none},
        {"scalar", SimdWidth::avx, SimdWidth::scalar, SimdRequest::taken},
        {"sse2", SimdWidth::avx, SimdWidth::pair, SimdRequest::taken},
        {"avx", SimdWidth::avx, SimdWidth::avx, SimdRequest::taken},
        {"avx", SimdWidth::pair, SimdWidth::pair, SimdRequest::unavailable},
        {"AVX", SimdWidth::avx, SimdWidth::avx, SimdRequest::unknown},
        {"neon", SimdWidth::avx, SimdWidth::avx, SimdRequest::unknown},
        {"avx", SimdWidth::avx512, SimdWidth::avx, SimdRequest::taken},
        {"avx512", SimdWidth::avx512, SimdWidth::avx512, SimdRequest::taken},
        {"avx512", SimdWidth::avx, SimdWidth::avx, SimdRequest::unavailable},
#else
        // x86's widths are no widths of this build.
        {"sse2", SimdWidth::pair, SimdWidth::pair, SimdRequest::unknown},
        {"avx", SimdWidth::pair, SimdWidth::pair, SimdRequest::unknown},
#endif
    };
    for (const Case& c : cases) {
        SimdRequest outcome;
        EXPECT_EQ(velorin::simd_width_capped(c.request, c.available, &outcome), c.want)
            << (c.request ? c.request : "(unset)");
        EXPECT_EQ(outcome, c.outcome) << (c.request ? c.request : "(unset)");
    }
}
