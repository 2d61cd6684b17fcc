// fuzz/fuzz_freq_list.cpp: the frequency list reader on arbitrary bytes.
#include "frq/freq_list.h"
#include "fuzz/fuzz_support.h"

using namespace velorin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteSource src = memory_source(data, size);
    FreqList* list = freq_list_from(src);
    if (list) {
        if (list->count < 1 || list->step < 1) __builtin_trap();
        if (int64_t(size) < 40 + 16 * int64_t(list->count)) __builtin_trap();
        // The guard entry repeats the last frame.
        volatile double sum = 0;
        for (int32_t k = 0; k <= list->count; ++k) sum = sum + list->freq[k] + list->amp[k];
        if (std::memcmp(&list->freq[list->count], &list->freq[list->count - 1], 8) != 0)
            __builtin_trap();
    }
    free_freq_list(list);
    return 0;
}
