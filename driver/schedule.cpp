// driver/schedule.cpp: the main thread's side of both passes: the hand-out of
// their units, the time walk just ahead of the first pass's and a window of
// the noise stream with each of the second pass's.
#include "driver/schedule.h"

#include <algorithm>

#include "platform/console.h"
#include "platform/platform.h"
#include "synth/noise.h"

namespace velorin {

namespace {

struct FirstPassWork {
    const RenderShared* sh;
    const FirstPassUnit* units;
};

void run_first(void* ctx, int first, int count) {
    const FirstPassWork& w = *static_cast<const FirstPassWork*>(ctx);
    for (int u = first; u < first + count; ++u) resampling_pass(*w.sh, w.units[u]);
}

// Every second-pass unit is the template with its own block start, source
// position and window of the noise stream.
struct SecondPassWork {
    const RenderShared* sh;
    SecondPassUnit common;
    const double* genposs;
    bool breath;  // false: no noise
};

// The noise of the second pass is one stream of draws: a history of 1024
// values whose last 768 are drawn first, which each unit shifts by 256 and
// tops up with 256 new draws before taking the whole history as its block.
// So block u is values u * 256 .. u * 256 + 1023 of the stream. A run makes
// its first block by skipping the generator to it; later blocks are windows
// further along a longer buffer, which is moved back only when full, so no
// thread waits for the stream and nothing is allocated.
void run_second(void* ctx, int first, int count) {
    const SecondPassWork& w = *static_cast<const SecondPassWork*>(ctx);
    constexpr int block = 1024;
    constexpr int hop = second_pass_hop;
    constexpr int room = block + 4 * hop;  // a move every fourth unit, 8 KiB more stack
    double noise[room];
    int at = 0;  // start of the current block in noise
    CrtRand rng;
    if (w.breath) {
        crt_rand_skip(rng, uint64_t(first) * hop);
        fill_noise(rng, noise, block);
    }
    for (int u = first; u < first + count; ++u) {
        if (w.breath && u > first) {
            if (at + block + hop > room) {
                std::copy(noise + at + hop, noise + at + block, noise);
                at = 0;
            } else {
                at += hop;
            }
            fill_noise(rng, noise + at + block - hop, hop);
        }
        SecondPassUnit unit = w.common;
        unit.out_index = u * hop;
        unit.src_pos = w.genposs[u];
        unit.noise = w.breath ? noise + at : nullptr;
        envelope_breath_pass(*w.sh, unit);
    }
}

}  // namespace

void run_schedule(RenderShared& sh, const TimeMap& tm, const ScheduleSetup& setup,
                  ScheduleReport* report) {
    Pool p;
    p.start_thread = setup.start_thread;
    p.processors = setup.processors;
    ScheduleReport rep;

    // First pass: the main thread walks the output samples just ahead of the
    // runs it hands out.
    TimeWalk walk =
        time_walk_start(sh, tm, setup.modulation, setup.genposs, setup.grains,
                        !setup.buffers_mapped, setup.second_pass && sh.outbuf != sh.datbuf);
    FirstPassWork first{&sh, setup.grains};
    pool_start(p, setup.workers, run_first, &first);
    rep.threaded = p.threaded;
    rep.takers = p.takers;
    rep.workers = p.n;
    const HandOutReport h1 = pool_hand_out(p, first_pass_units(sh.outlen), time_walk_until, &walk);
    rep.first_units = h1.units;
    rep.first_runs = h1.runs;
    rep.own_units = h1.own_units;
    rep.last_slot = h1.last_slot;

    if (!setup.second_pass) {
        pool_stop(p);
        rep.first_end_count = rep.end_count = perf_counter();
        if (setup.say_counts) sayf(stderr, "i=%d tinx=%d\n", p.n, rep.last_slot);
        pool_close(p);
        if (report) *report = rep;
        return;
    }

    const int units = second_pass_units(sh.outlen);
    SecondPassWork second;
    second.sh = &sh;
    second.common.gender = setup.gender;
    second.common.breath = setup.breath;
    second.common.voiced_gain = setup.voiced_gain;
    second.common.noise_gain = setup.noise_gain;
    second.common.no_filter = setup.no_filter ? 1 : 0;
    second.common.modulation = setup.modulation;
    second.genposs = setup.genposs;
    second.breath = setup.breath > 0;
    // The first pass's threads run the second pass too, once each has
    // finished its last grain.
    pool_switch(p, run_second, &second);
    rep.first_end_count = perf_counter();
    const HandOutReport h2 = pool_hand_out(p, units, nullptr, nullptr);
    rep.second_units = h2.units;
    rep.second_runs = h2.runs;
    rep.own_units += h2.own_units;
    rep.last_slot = h2.last_slot;
    if (setup.say_counts) sayf(stderr, "i=%d tinx=%d\n", rep.second_units, rep.last_slot);
    pool_stop(p);
    rep.end_count = perf_counter();
    pool_close(p);
    if (report) *report = rep;
}

}  // namespace velorin
