// driver/time_map.h: which source position feeds each output sample: the
// head (consonant), stretch and tail regions of the note and their rates.
#pragma once

namespace velorin {

// Where the note starts in the source, how long (in output samples) the head,
// stretch and tail regions are, and how many input samples one output sample
// advances in each.
struct TimeMap {
    double start_pos = 0.0;
    double end_pos = 0.0;
    double head_len = 0.0;
    double stretch_len = 0.0;
    double tail_len = 0.0;
    double head_rate = 0.0;
    double stretch_rate = 0.0;
    double tail_rate = 0.0;
};

struct TimeMapInput {
    double cons = 0.0;  // consonant (head) region, input samples
    double tail = 0.0;  // tail region, input samples
    double start_pos = 0.0;
    double end_pos = 0.0;
    double head_velocity = 1.0;
    double tail_velocity = 1.0;
    int outlen = 0;
    double r = 1.0;  // input rate / 44100
    bool reverse = false;
};

TimeMap build_time_map(const TimeMapInput& in);

// The rate of output sample j under the time map.
inline double time_map_rate(const TimeMap& tm, int j) {
    if (j <= tm.head_len) return tm.head_rate;
    if (j <= tm.head_len + tm.stretch_len) return tm.stretch_rate;
    return tm.tail_rate;
}

// The largest source position the walk over samples 0..outlen - 1 takes,
// with room for the rounding of the walk's running sum; NaN when the map is
// not finite.
double walk_reach(const TimeMap& tm, int outlen);
// The smallest such position, with the same room; NaN when not finite.
double walk_floor(const TimeMap& tm, int outlen);

}  // namespace velorin
