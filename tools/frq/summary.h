// tools/frq/summary.h: what velorin-frq reads out of a frequency list: the
// summary, the octave jumps and their repair, note names.
#pragma once

#include <string>
#include <vector>

#include "frq/freq_list.h"

namespace velorin {

// A frame is voiced when its frequency is above 1 Hz, as every reader of a list takes it.
inline bool frame_voiced(double hz) { return hz > 1.0; }

// The nearest note of a frequency as "A4 +3 cents" ("-" for an unvoiced value).
std::string note_name(double hz);

// Octave jumps. Consecutive voiced frames (unvoiced frames between them are
// skipped) form runs while each is within 600 cents of the one before. A run of
// at most max_jump_frames frames, shorter than the runs on either side of it,
// whose frames are more than 600 cents away from the voiced frames on both
// sides of it (or from the one side at an end of the list), is suspicious.
// For one frame this is: more than 600 cents away from both voiced neighbours.
constexpr int max_jump_frames = 8;
constexpr double jump_cents = 600.0;

struct SuspiciousFrame {
    int frame = 0;
    double reference_hz = 0.0;  // the neighbours' pitch (geometric mean)
};
std::vector<SuspiciousFrame> find_octave_jumps(const FreqList& list);

struct ListSummary {
    int count = 0;
    int step = 0;
    int sample_rate = 0;
    double freq_avg = 0.0;
    int voiced = 0;
    double lowest = 0.0, median = 0.0, highest = 0.0;  // voiced frames; 0 when none
    std::vector<SuspiciousFrame> suspicious;
};
ListSummary summarise(const FreqList& list);
double voiced_share(const ListSummary& s);  // 0..1
double frame_ms(const FreqList& list, int frame);

// A suspicious frame moved by the whole number of octaves that brings it
// closest to its reference; its frequency unchanged when that number is 0 or
// the moved value would not be finite or would leave the frequencies an
// analysis at the list's rate gives (analysis_range).
double octave_fixed(double hz, double reference_hz, int sample_rate);

}  // namespace velorin
