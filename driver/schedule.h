// driver/schedule.h: the render schedule: the worker pool, the first-pass time
// walk, the noise stream and the breath shaping table of the second pass.
#pragma once

#include <cstdint>

#include "synth/passes.h"

namespace velorin {

// The C runtime's generator, reproduced so that every build and host draws the
// same noise. Never seeded: the state starts at 1.
struct CrtRand {
    uint32_t state = 1;
};

inline int crt_rand(CrtRand& r) {
    r.state = r.state * 214013u + 2531011u;
    return static_cast<int>((r.state >> 16) & 0x7fff);
}

// One noise value, uniform in -16384..16384.
inline double noise_value(CrtRand& r) { return crt_rand(r) * 32768.0 / 32767.0 - 16384.0; }

// Worker count from flag S and the processors the system reports.
int worker_count(int thread_request, int processors);

// The breath shaping table (1024 entries) for the tilt `alpha` (flag a).
void build_breath_table(double alpha, double* table);

// The time map: where the note starts in the source, how long (in output
// samples) the head, stretch and tail regions are, and how many input samples
// one output sample advances in each.
struct TimeMap {
    double start_pos = 0.0;
    double end_pos = 0.0;
    double head_len = 0.0;     // O
    double stretch_len = 0.0;  // Q
    double tail_len = 0.0;     // P
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

// What the schedule needs besides the passes' shared context.
struct ScheduleSetup {
    int workers = 1;
    double modulation = 0.0;
    double gender = 1.0;
    double breath = 0.5;
    double breath_alpha = 0.5;
    double voiced_gain = 0.0;
    double noise_gain = 0.0;
    bool no_filter = false;
    bool second_pass = true;  // false: the output is datbuf itself
    double* genposs = nullptr;  // outlen / 256 + 8 entries, zeroed
    double* breath_shape = nullptr;  // 1024 entries, filled here when breath > 0
};

struct ScheduleReport {
    int first_units = 0;
    int second_units = 0;
    int last_slot = 0;  // slot of the last unit handed out
    bool threaded = true;  // false when the pool could not be set up
    int64_t first_end_count = 0;  // performance counter after the first pass stopped
    int64_t end_count = 0;        // performance counter after the last worker stopped
};

// Runs the first pass into sh.datbuf and, when setup.second_pass, the second
// pass into sh.outbuf, on setup.workers threads. Writes the "i=%d tinx=%d"
// line to standard error. When events or threads cannot be created, every
// unit runs on the calling thread instead, in order. A noise block that
// cannot be allocated leaves its unit without breath.
void run_schedule(RenderShared& sh, const TimeMap& tm, const ScheduleSetup& setup,
                  ScheduleReport* report);

}  // namespace velorin
