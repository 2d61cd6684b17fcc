// driver/schedule.h: the render schedule: the hand-out of both passes' units
// to the worker pool, the time walk just ahead of the first pass's and a
// window of the noise stream with each of the second pass's.
#pragma once

#include <cstdint>

#include "driver/pool.h"
#include "driver/time_map.h"
#include "synth/passes.h"

namespace velorin {

// What the schedule needs besides the passes' shared context.
struct ScheduleSetup {
    int workers = 1;
    double modulation = 0.0;
    double gender = 1.0;
    double breath = 0.5;
    double voiced_gain = 0.0;
    double noise_gain = 0.0;
    bool no_filter = false;
    bool second_pass = true;          // false: the output is datbuf itself
    double* genposs = nullptr;        // outlen / 256 + 8 entries, zeroed
    FirstPassUnit* grains = nullptr;  // first_pass_units(outlen) entries, filled here
    StartThread start_thread = thread_start;
    int processors = 0;      // 0: as the system reports (tests set their own)
    bool say_counts = true;  // false: the caller writes the "i=%d tinx=%d" line
    // true: every page of datbuf and outbuf is mapped already; otherwise the
    // time walk maps them as it goes.
    bool buffers_mapped = false;
};

struct ScheduleReport {
    int first_units = 0;
    int second_units = 0;
    int first_runs = 0;           // hand-overs of the first pass
    int second_runs = 0;          // hand-overs of the second pass
    int last_slot = 0;            // slot of the last unit handed out
    int workers = 0;              // worker count of the pool
    int takers = 1;               // slots that ran units: the calling thread + worker threads
    int own_units = 0;            // units the calling thread ran, both passes
    bool threaded = true;         // false when only the calling thread ran units
    int64_t first_end_count = 0;  // performance counter after the first pass stopped
    int64_t end_count = 0;        // performance counter after the last worker stopped
};

// Runs the first pass into sh.datbuf and, when setup.second_pass, the second
// pass into sh.outbuf, with setup.workers slots, handing units out in runs;
// the calling thread is slot 0 and runs units itself whenever no worker is
// idle, and the same worker threads serve both passes. Writes the
// "i=%d tinx=%d" line to standard error: tinx is the slot that ran the last
// unit, 0 when the calling thread did. When events or threads cannot be
// created, every unit runs on the calling thread instead, in order.
// sh.breath_shape must be built before (when the breath runs).
void run_schedule(RenderShared& sh, const TimeMap& tm, const ScheduleSetup& setup,
                  ScheduleReport* report);

}  // namespace velorin
