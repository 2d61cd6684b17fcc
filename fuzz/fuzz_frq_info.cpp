// fuzz/fuzz_frq_info.cpp: velorin-frq info and info --csv on arbitrary list bytes.
// What they print is bounded by the frames the bytes hold.
#include "frq/freq_list.h"
#include "fuzz/fuzz_support.h"
#include "tools/frq/commands.h"
#include "tools/frq/summary.h"

using namespace velorin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FreqListPtr list = voicebank_list(data, size);
    if (!list) return 0;
    const ListSummary s = summarise(*list);
    if (s.voiced > 0 && !(s.lowest <= s.median && s.median <= s.highest)) __builtin_trap();
    const std::string info = info_text(*list, s);
    const std::string csv = csv_text(nullptr, *list, s);
    // No double takes more than about 330 characters in full.
    if (info.size() > 4096 + 1024 * s.suspicious.size()) __builtin_trap();
    if (csv.size() > 160 * size_t(list->count)) __builtin_trap();
    return 0;
}
