// simd/simd.cpp: the lane width of a run.
#include "simd/simd.h"

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace velorin {

const char* simd_width_name(SimdWidth w) {
    switch (w) {
        case SimdWidth::avx512:
            return "avx512";
        case SimdWidth::avx:
            return "avx";
        case SimdWidth::pair:
#if defined(__aarch64__)
            return "neon";
#else
            return "sse2";
#endif
        default:
            return "scalar";
    }
}

int simd_widths_built(const SimdWidth** widths) {
    static const SimdWidth all[] = {SimdWidth::scalar, SimdWidth::pair, SimdWidth::avx,
                                    SimdWidth::avx512};
    *widths = all;
#if defined(__SSE2__)
    return 4;
#elif defined(__aarch64__) && defined(__ARM_NEON)
    return 2;
#else
    return 1;
#endif
}

SimdWidth simd_width_available() {
#if defined(__SSE2__)
    // An x86 build: its AVX and AVX-512 units are built with -mavx and
    // -mavx512f (CMakeLists.txt).
    static const SimdWidth best = cpu_has_avx512f() ? SimdWidth::avx512
                                  : cpu_has_avx()   ? SimdWidth::avx
                                                    : SimdWidth::pair;
    return best;
#elif defined(__aarch64__) && defined(__ARM_NEON)
    return SimdWidth::pair;  // NEON: part of every arm64 processor
#else
    return SimdWidth::scalar;
#endif
}

SimdWidth simd_width_capped(const char* request, SimdWidth available, SimdRequest* outcome) {
    *outcome = SimdRequest::none;
    if (!request || !*request) return available;
    const SimdWidth* widths;
    const int built = simd_widths_built(&widths);
    for (int i = 0; i < built; ++i) {
        const SimdWidth w = widths[i];
        if (std::strcmp(request, simd_width_name(w)) != 0) continue;
        const bool there = static_cast<int>(w) <= static_cast<int>(available);
        *outcome = there ? SimdRequest::taken : SimdRequest::unavailable;
        return there ? w : available;
    }
    *outcome = SimdRequest::unknown;
    return available;
}

namespace {

struct RunWidth {
    SimdWidth width = SimdWidth::scalar;
    std::string complaint;
};

const RunWidth& run_width() {
    static const RunWidth chosen = [] {
        std::wstring value;
        std::string request;
        if (env_get(L"VELORIN_SIMD", &value))
            for (wchar_t c : value) request += c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?';
        RunWidth r;
        SimdRequest outcome;
        const SimdWidth best = simd_width_available();
        r.width = simd_width_capped(request.c_str(), best, &outcome);
        if (outcome == SimdRequest::unavailable)
            r.complaint = "VELORIN_SIMD=" + request + " is not available here; using " +
                          simd_width_name(best) + ".";
        else if (outcome == SimdRequest::unknown) {
            const SimdWidth* widths;
            const int built = simd_widths_built(&widths);
            std::string names;
            for (int i = 0; i < built; ++i)
                names += std::string(i ? ", " : "") + simd_width_name(widths[i]);
            r.complaint = "VELORIN_SIMD=" + request + " is not a width (" + names + "); using " +
                          simd_width_name(best) + ".";
        }
        return r;
    }();
    return chosen;
}

}  // namespace

SimdWidth simd_width_for_run() { return run_width().width; }

const char* simd_width_complaint() { return run_width().complaint.c_str(); }

}  // namespace velorin
