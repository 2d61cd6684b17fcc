// fuzz/fuzz_decoder_stream.cpp: a decoder's output stream on arbitrary bytes.
#include "audio/decoder_pipe.h"
#include "fuzz/fuzz_support.h"
#include "platform/mem.h"

using namespace velorin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteSource src = memory_source(data, size);
    WavFormat fmt;
    int64_t bytes = -1;
    uint8_t* raw = decoder_stream_from(src, 8, &fmt, &bytes);
    if (raw) {
        volatile uint8_t sum = 0;
        for (int64_t i = 0; i < bytes + 8 * int64_t(fmt.block_align); ++i) sum = sum ^ raw[i];
        if (bytes != int64_t(size) - 44) __builtin_trap();
    }
    release(raw);
    return 0;
}
