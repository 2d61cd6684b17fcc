// fuzz/fuzz_frq_fix.cpp: velorin-frq fix on arbitrary list bytes. A repair
// moves only suspicious frames, only to finite values an analysis can give,
// and writes a list that velorin's reader takes back unchanged.
#include <cmath>

#include "frq/freq_list.h"
#include "frq/sample_analysis.h"
#include "fuzz/fuzz_support.h"
#include "tools/frq/commands.h"
#include "tools/frq/summary.h"

using namespace velorin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FreqListPtr list = voicebank_list(data, size);
    if (!list) return 0;
    const std::vector<uint8_t> before = freq_list_bytes(*list);
    const ListSummary s = summarise(*list);
    std::string lines;
    const int changed = fix_frames(list.get(), s, &lines);
    double lowest = 0, highest = 0;
    analysis_range(list->sample_rate, &lowest, &highest);
    int moved = 0;
    std::vector<char> suspicious(size_t(list->count), 0);
    for (const SuspiciousFrame& f : s.suspicious) suspicious[size_t(f.frame)] = 1;
    const std::vector<uint8_t> after = freq_list_bytes(*list);
    if (after.size() != before.size()) __builtin_trap();
    for (int32_t k = 0; k < list->count; ++k) {
        const size_t at = 40 + 16 * size_t(k);
        if (std::memcmp(&before[at], &after[at], 8) == 0) continue;
        ++moved;
        const double hz = list->freq[k];
        if (!suspicious[size_t(k)] || !std::isfinite(hz) || hz < lowest || hz > highest)
            __builtin_trap();
    }
    if (moved != changed) __builtin_trap();
    // The written bytes are a list velorin reads back, the same bytes again.
    ByteSource back_src = memory_source(after.data(), after.size());
    FreqListPtr back(freq_list_from(back_src));
    if (!back || freq_list_bytes(*back) != after) __builtin_trap();
    return 0;
}
