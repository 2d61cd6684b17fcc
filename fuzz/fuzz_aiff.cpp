// fuzz/fuzz_aiff.cpp: the AIFF reader on arbitrary bytes.
#include "audio/aiff.h"
#include "fuzz/fuzz_support.h"
#include "platform/mem.h"

using namespace velorin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteSource src = memory_source(data, size);
    WavFormat fmt;
    int64_t bytes = -1;
    uint8_t* raw = aiff_raw_from(src, 8, &fmt, &bytes);
    if (raw) {
        // The frames are cut to what the bytes hold.
        if (bytes < 0 || bytes > int64_t(size) + fmt.block_align) __builtin_trap();
        volatile uint8_t sum = 0;
        for (int64_t i = 0; i < bytes + 8 * int64_t(fmt.block_align); ++i) sum = sum ^ raw[i];
    }
    release(raw);
    return 0;
}
