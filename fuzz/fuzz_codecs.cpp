// fuzz/fuzz_codecs.cpp: each codec's decoder on arbitrary text, and its
// encoder on what the decoder gave.
#include <string>

#include "fuzz/fuzz_support.h"
#include "pitch/codecs.h"
#include "pitch/curve.h"

using namespace velorin;

namespace {

using Decode = int16_t* (*)(const std::wstring&, int);
using Encode = std::wstring (*)(const int16_t*, int);

void check(Decode decode, Encode encode, bool exact, const std::wstring& text, int order) {
    int16_t* curve = decode(text, order);
    if (!curve) return;
    if (curve[0] < 1) __builtin_trap();
    // Re-encoding tens of thousands of points costs most of a second under
    // the fuzzer's instrumentation; shorter curves reach the same code.
    if (curve[0] > 2048) {
        free_pitch_curve(curve);
        return;
    }
    const std::wstring again_text = encode(curve, order);
    int16_t* again = again_text.empty() ? nullptr : decode(again_text, order);
    // The "hff" codec is exact for every curve it encodes.
    if (exact && again) {
        if (again[0] != curve[0]) __builtin_trap();
        for (int k = 1; k <= curve[0]; ++k)
            if (again[k] != curve[k]) __builtin_trap();
    }
    free_pitch_curve(again);
    free_pitch_curve(curve);
}

}  // namespace

// Input: one byte for the order (-1..6), then the codec text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int order = data[0] % 8 - 1;
    std::wstring text;
    for (size_t i = 1; i < size; ++i) text += wchar_t(data[i]);
    check(enc_decode, enc_encode, false, text, order);
    check(cmp_decode, cmp_encode, false, text, order);
    check(hff_decode, hff_encode, true, text, order);
    return 0;
}
