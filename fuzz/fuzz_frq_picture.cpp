// fuzz/fuzz_frq_picture.cpp: the picture velorin-frq plot draws of arbitrary
// list bytes, without its sample (no image inside). Its size is bounded by the
// picture's pixels, not by what the list claims.
#include "frq/freq_list.h"
#include "fuzz/fuzz_support.h"
#include "tools/frq/picture.h"
#include "tools/frq/summary.h"

using namespace velorin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FreqListPtr list = voicebank_list(data, size);
    if (!list) return 0;
    const ListSummary s = summarise(*list);
    const std::string svg = plot_svg(SampleWave{}, *list, s, "list");
    if (svg.size() > (size_t(1) << 20)) __builtin_trap();
    return 0;
}
