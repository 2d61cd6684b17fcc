// driver/time_map.h: which source position feeds each output sample: the
// head (consonant), stretch and tail regions of the note and their rates.
#pragma once

#include "synth/passes.h"

namespace velorin {

// Output samples per first-pass unit and per second-pass unit.
constexpr int first_pass_hop = 64;
constexpr int second_pass_hop = 256;

// Units of each pass for a note of outlen samples: one grain every 64 output
// samples; one block every 256, two more than fit.
inline int first_pass_units(int outlen) { return (outlen + first_pass_hop - 1) / first_pass_hop; }
inline int second_pass_units(int outlen) { return outlen / second_pass_hop + 2; }

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

// The first pass's walk over every output sample: the source position moves
// by the time map's rate, the output phase by the target frequency. It runs
// on the main thread just ahead of the hand-out, a hop at a time, and fills
// the units' table: first-pass units and the second pass's source positions.
// With `map_pages` it also maps the pages of the buffers the passes add
// into as it goes (see time_map.cpp); `map_outbuf` false: there is no second
// pass, or outbuf is datbuf.
struct TimeWalk {
    const RenderShared* sh = nullptr;
    const TimeMap* tm = nullptr;
    double modulation = 0.0;
    PitchRules rules;                // with that modulation
    double* genposs = nullptr;       // outlen / 256 + 8 entries: second-pass source positions
    FirstPassUnit* units = nullptr;  // first_pass_units(outlen) entries
    int j = 0;                       // next output sample
    double x = 0.0;                  // source position of sample j
    double phase = 0.0;              // output phase of sample j, cycles
    int made = 0;                    // units filled
    bool map_pages = true;
    bool map_outbuf = false;
};

TimeWalk time_walk_start(const RenderShared& sh, const TimeMap& tm, double modulation,
                         double* genposs, FirstPassUnit* units, bool map_pages, bool map_outbuf);

// Walks on until `end` units are made (or the note ends); `walk` is a
// TimeWalk. The hand-out calls it before it gives those units out.
void time_walk_until(void* walk, int end);

}  // namespace velorin
