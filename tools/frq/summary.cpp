// tools/frq/summary.cpp: summary, octave jumps and note names of a frequency list.
#include "tools/frq/summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "frq/sample_analysis.h"

namespace velorin {

namespace {

double cents(double a, double b) { return 1200.0 * std::log2(a / b); }

struct Run {
    std::vector<int> frames;  // voiced frames, in order
};

std::vector<Run> voiced_runs(const FreqList& list) {
    std::vector<Run> runs;
    int last = -1;
    for (int k = 0; k < list.count; ++k) {
        if (!frame_voiced(list.freq[k])) continue;
        if (last < 0 || std::fabs(cents(list.freq[k], list.freq[last])) > jump_cents)
            runs.emplace_back();
        runs.back().frames.push_back(k);
        last = k;
    }
    return runs;
}

}  // namespace

std::string note_name(double hz) {
    if (!frame_voiced(hz) || !std::isfinite(hz)) return "-";
    static const char* const names[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                          "F#", "G",  "G#", "A",  "A#", "B"};
    const double n = 69.0 + 12.0 * std::log2(hz / 440.0);
    const long nearest = std::lround(n);
    const int off = static_cast<int>(std::lround((n - double(nearest)) * 100.0));
    const int pc = static_cast<int>(((nearest % 12) + 12) % 12);
    const long octave = (nearest - pc) / 12 - 1;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s%ld %+d cents", names[pc], octave, off);
    return buf;
}

std::vector<SuspiciousFrame> find_octave_jumps(const FreqList& list) {
    std::vector<SuspiciousFrame> out;
    const std::vector<Run> runs = voiced_runs(list);
    for (size_t r = 0; r < runs.size(); ++r) {
        const std::vector<int>& fr = runs[r].frames;
        const bool has_before = r > 0, has_after = r + 1 < runs.size();
        if (fr.size() > size_t(max_jump_frames) || (!has_before && !has_after)) continue;
        if ((has_before && runs[r - 1].frames.size() <= fr.size()) ||
            (has_after && runs[r + 1].frames.size() <= fr.size()))
            continue;
        // The voiced frames right before and after the run.
        const double before = has_before ? list.freq[runs[r - 1].frames.back()] : 0.0;
        const double after = has_after ? list.freq[runs[r + 1].frames.front()] : 0.0;
        const double reference = has_before && has_after ? std::sqrt(before * after)
                                 : has_before            ? before
                                                         : after;
        bool far = true;
        for (int k : fr) {
            if ((has_before && std::fabs(cents(list.freq[k], before)) <= jump_cents) ||
                (has_after && std::fabs(cents(list.freq[k], after)) <= jump_cents))
                far = false;
        }
        if (!far) continue;
        for (int k : fr) out.push_back(SuspiciousFrame{k, reference});
    }
    return out;
}

ListSummary summarise(const FreqList& list) {
    ListSummary s;
    s.count = list.count;
    s.step = list.step;
    s.sample_rate = list.sample_rate;
    s.freq_avg = list.freq_avg;
    std::vector<double> voiced;
    for (int k = 0; k < list.count; ++k)
        if (frame_voiced(list.freq[k])) voiced.push_back(list.freq[k]);
    s.voiced = static_cast<int>(voiced.size());
    if (!voiced.empty()) {
        std::sort(voiced.begin(), voiced.end());
        s.lowest = voiced.front();
        s.highest = voiced.back();
        const size_t m = voiced.size() / 2;
        // Halves first: the sum of two frames near the largest double overflows.
        // (For frames above 1 Hz this is the very double 0.5 * (a + b) gives.)
        s.median = voiced.size() % 2 ? voiced[m] : 0.5 * voiced[m - 1] + 0.5 * voiced[m];
    }
    s.suspicious = find_octave_jumps(list);
    return s;
}

double voiced_share(const ListSummary& s) { return s.count > 0 ? double(s.voiced) / s.count : 0.0; }

double frame_ms(const FreqList& list, int frame) {
    return list.sample_rate > 0 ? 1000.0 * double(frame) * list.step / list.sample_rate : 0.0;
}

double octave_fixed(double hz, double reference_hz, int sample_rate) {
    const double octaves = std::round(std::log2(reference_hz / hz));
    if (octaves == 0.0 || !std::isfinite(octaves)) return hz;
    const double moved = hz * std::exp2(octaves);
    double lowest = 0.0, highest = 0.0;
    analysis_range(sample_rate, &lowest, &highest);
    return std::isfinite(moved) && moved >= lowest && moved <= highest ? moved : hz;
}

}  // namespace velorin
