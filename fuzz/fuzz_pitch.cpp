// fuzz/fuzz_pitch.cpp: a tempo argument and a pitch-bend string through the
// form selection, the decoders and the text functions.
#include <vector>

#include "fuzz/fuzz_support.h"
#include "pitch/curve.h"
#include "pitch/dispatch.h"
#include "pitch/plain.h"

using namespace velorin;

// Input: the tempo argument, a newline, the pitch-bend string.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::wstring> lines = split_lines(data, size, nullptr);
    const std::wstring tempo = lines[0];
    std::wstring bend;
    for (size_t i = 1; i < lines.size(); ++i) bend += (i > 1 ? L"\n" : L"") + lines[i];

    int variant = 0, order = 0;
    const bool compressed = select_pitch_form(tempo.c_str(), &variant, &order);
    int16_t* curve = compressed ? decpitch(bend.c_str(), order, variant) : decplain(bend.c_str());
    if (curve) {
        if (curve[0] < 1) __builtin_trap();
        volatile int sum = 0;
        for (int k = 1; k <= curve[0]; ++k) sum = sum + curve[k];
        // Back to text in every form; the plain form is exact within 12 bits.
        wchar_t* plain = encplain(curve);
        int16_t* again = decplain(plain);
        if (!again || again[0] != curve[0]) __builtin_trap();
        for (int k = 1; k <= curve[0]; ++k)
            if (curve[k] >= -2048 && curve[k] <= 2047 && again[k] != curve[k]) __builtin_trap();
        free_pitch_curve(again);
        free_pitch_text(plain);
        // The full container packing of a curve of tens of thousands of points
        // takes most of a second under the fuzzer's instrumentation; shorter
        // curves reach the same code.
        if (curve[0] <= 2048)
            for (int v = 1; v <= 3; ++v) free_pitch_text(encpitch(curve, order, v));
    }
    free_pitch_curve(curve);

    // The text functions, into a buffer that may be too short.
    wchar_t out[64];
    const int n = decpitchtext(bend.c_str(), out, 64, order, variant);
    if (n < 0) __builtin_trap();
    if (bend.size() < 4096) {
        const int m = encpitchtext(bend.c_str(), out, 64, order, variant);
        if (m < 0) __builtin_trap();
    }
    return 0;
}
