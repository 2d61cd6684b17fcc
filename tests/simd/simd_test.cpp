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
    const Case cases[] = {
        {nullptr, SimdWidth::avx, SimdWidth::avx, SimdRequest::none},
        {"", SimdWidth::sse2, SimdWidth::sse2, SimdRequest::none},
        {"scalar", SimdWidth::avx, SimdWidth::scalar, SimdRequest::taken},
        {"sse2", SimdWidth::avx, SimdWidth::sse2, SimdRequest::taken},
        {"avx", SimdWidth::avx, SimdWidth::avx, SimdRequest::taken},
        {"avx", SimdWidth::sse2, SimdWidth::sse2, SimdRequest::unavailable},
        {"sse2", SimdWidth::scalar, SimdWidth::scalar, SimdRequest::unavailable},
        {"AVX", SimdWidth::avx, SimdWidth::avx, SimdRequest::unknown},
        {"fast", SimdWidth::sse2, SimdWidth::sse2, SimdRequest::unknown},
        {"avx", SimdWidth::avx512, SimdWidth::avx, SimdRequest::taken},
        {"avx512", SimdWidth::avx512, SimdWidth::avx512, SimdRequest::taken},
        {"avx512", SimdWidth::avx, SimdWidth::avx, SimdRequest::unavailable},
    };
    for (const Case& c : cases) {
        SimdRequest outcome;
        EXPECT_EQ(velorin::simd_width_capped(c.request, c.available, &outcome), c.want)
            << (c.request ? c.request : "(unset)");
        EXPECT_EQ(outcome, c.outcome) << (c.request ? c.request : "(unset)");
    }
}
