// fuzz/fuzz_wav_raw.cpp: the raw WAV reader of the analysis on arbitrary bytes.
#include "audio/wav.h"
#include "fuzz/fuzz_support.h"
#include "platform/mem.h"

using namespace velorin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A size that is not 0xFFFFFFFF is padded with zeros up to 64 MiB past
    // the bytes; keep such claims small. 0xFFFFFFFF reads to the end.
    for (size_t i = 0; i + 8 <= size; ++i)
        if (std::memcmp(data + i, "data", 4) == 0) {
            const uint32_t n = le_u32(data + i + 4);
            if (n != 0xFFFFFFFFu && n > (1u << 20)) return 0;
        }
    ByteSource src = memory_source(data, size);
    WavFormat fmt;
    int64_t bytes = -1;
    uint8_t* raw = wav_raw_from(src, 8, &fmt, &bytes);
    if (raw) {
        volatile uint8_t sum = 0;
        for (int64_t i = 0; i < bytes + 8 * int64_t(fmt.block_align); ++i) sum = sum ^ raw[i];
        if (bytes < 0 || !wav_format_usable(fmt)) __builtin_trap();
    }
    release(raw);
    return 0;
}
