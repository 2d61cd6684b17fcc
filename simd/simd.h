// simd/simd.h: how many doubles the kernels take at once, chosen once.
#pragma once

namespace velorin {

// The lane widths this build knows. Each kernel exists once, as a template
// over a lane type (simd/lanes.h), instantiated for every width the build
// compiles (synth/lane_kernels.h); a run takes one width for all of them.
// Every width gives the same bits: only the speed differs.
enum class SimdWidth : int {
    scalar = 1,  // one double: plain C++
    pair = 2,    // two: SSE2 on x86 (every x86-64 processor, and the i386 build's
                 // baseline), NEON on arm64 (every arm64 processor)
    avx = 4,     // four (x86 processors with AVX, chosen at run time)
    avx512 = 8,  // eight where it pays (the analysis's sums, the render reader), four
                 // elsewhere (AVX-512F)
};

// "scalar", "sse2" (x86) or "neon" (arm64), "avx", "avx512".
const char* simd_width_name(SimdWidth w);

// The widths this build compiles, narrowest first: scalar, pair, avx and
// avx512 on x86; scalar and pair on arm64; scalar elsewhere.
int simd_widths_built(const SimdWidth** widths);

// The widest width this build compiled that this processor and system run.
// Asked of the processor once per process.
SimdWidth simd_width_available();

// The width a run uses: simd_width_available(), capped by the environment
// variable VELORIN_SIMD (a name above) when it is set. A value
// that is unknown, or names a width this build or processor lacks, leaves
// the available width, and simd_width_complaint() then gives one line that
// says so (empty otherwise) for the program to print. Read once per process;
// any thread may ask.
SimdWidth simd_width_for_run();
const char* simd_width_complaint();

// How a VELORIN_SIMD value was taken.
enum class SimdRequest { none, taken, unavailable, unknown };

// The width for `request` (a VELORIN_SIMD value; null or empty: no cap) on a
// machine whose widest width is `available`. Pure; for the above and the
// tests.
SimdWidth simd_width_capped(const char* request, SimdWidth available, SimdRequest* outcome);

}  // namespace velorin
