// fuzz/fuzz_wav_samples.cpp: the render reader on arbitrary bytes.
#include <cstring>
#include <vector>

#include "audio/wav.h"
#include "fuzz/fuzz_support.h"
#include "platform/mem.h"

using namespace velorin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A "data" chunk may claim 64 MiB beyond the bytes it holds; such a
    // claim is read in full as silence and would cost seconds per input.
    if (claims_over(data, size, "data", 1 << 20, false)) return 0;
    ByteSource src = memory_source(data, size);
    WavFormat fmt;
    int64_t ssize = -1;
    double* x = wav_samples_from(src, 16, &fmt, &ssize);
    if (x) {
        // Every frame, the appended ones included, must be readable.
        volatile double sum = 0;
        for (int64_t i = 0; i < (ssize + 16) * fmt.channels; ++i) sum = sum + x[i];
        if (ssize < 0 || !wav_format_usable(fmt)) __builtin_trap();
    }
    // The reader that leaves the samples in place accepts exactly the same
    // bytes and converts every frame to the same value (the same bits: a
    // stored float may be a NaN).
    ByteSource again = memory_source(data, size);
    WavFormat sfmt;
    int64_t sframes = -1;
    StoredSamples st;
    const bool stored = wav_stored_from(again, &sfmt, &sframes, &st);
    if (stored != (x != nullptr)) __builtin_trap();
    if (x) {
        if (sframes != ssize) __builtin_trap();
        std::vector<double> part(size_t((ssize + 16) * fmt.channels), 0.0);
        convert_stored_frames(st, sfmt, sframes, 0, sframes, part.data());
        if (std::memcmp(part.data(), x, part.size() * sizeof(double)) != 0) __builtin_trap();
    }
    release_stored(&st);
    release(x);
    return 0;
}
