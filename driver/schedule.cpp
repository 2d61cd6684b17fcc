// driver/schedule.cpp: the main thread's side of both passes: the time walk
// that makes the first pass's units, the second pass's noise, and the
// hand-out.
#include "driver/schedule.h"

#include <algorithm>

#include "platform/console.h"
#include "platform/platform.h"
#include "synth/lane_kernels.h"

namespace velorin {

int worker_count(int thread_request, int processors) {
    if (thread_request >= 1 && thread_request <= 64) return thread_request;
    if (processors > 64) return 64;
    if (processors >= 3) return processors;
    if (processors < 1) processors = 1;
    return 2 * processors;
}

namespace {

// The first pass's walk over every output sample: the source position moves
// by the time map's rate, the output phase by the target frequency. It runs
// on the main thread ahead of the hand-out and fills the units' table.
//
// As it goes it also maps the pages of the buffers the passes add into, by
// writing zeros over them (they are zeroed already), unless the caller mapped
// them in bulk before (buffers_mapped): a page first read and then written
// faults twice, and the second fault, taken under the buffer's lock, makes the
// kernel flush the other processors' address caches while the other workers
// wait for the lock. The grain of the unit at j adds into datbuf j - 64 ..
// j + 63, so the walk at j writes datbuf j + 128 .. j + 191, where no unit
// made so far adds; outbuf is not touched before the second pass.
struct TimeWalk {
    const RenderShared* sh = nullptr;
    const TimeMap* tm = nullptr;
    double modulation = 0.0;
    PitchRules rules;  // with that modulation
    double* genposs = nullptr;
    FirstPassUnit* units = nullptr;
    int j = 0;                // next output sample
    double x = 0.0;           // source position of sample j
    double phase = 0.0;       // output phase of sample j, cycles
    int made = 0;             // units filled
    bool map_pages = true;    // false: mapped in bulk before the walk
    bool map_outbuf = false;  // false: outbuf is datbuf (no second pass)
};

void map_pages_ahead(const TimeWalk& w, int j) {
    const RenderShared& sh = *w.sh;
    const int n = sh.outlen;
    std::fill(sh.datbuf + std::min(n, j + 2 * first_pass_hop),
              sh.datbuf + std::min(n, j + 3 * first_pass_hop), 0.0);
    if (w.map_outbuf) std::fill(sh.outbuf + j, sh.outbuf + std::min(n, j + first_pass_hop), 0.0);
}

// Walks on until `end` units are made (or the note ends), one hop at a time:
// the source positions of the hop first (a running sum), then their
// frequencies side by side, then the phase (another running sum). Each value
// is the one the walk sample by sample gives.
void walk_until(void* ctx, int end) {
    TimeWalk& w = *static_cast<TimeWalk*>(ctx);
    const RenderShared& sh = *w.sh;
    const double lead = 0.25 * sh.freq_step;
    while (w.made < end && w.j < sh.outlen) {
        const int j0 = w.j;
        const int n = std::min(sh.outlen, (j0 / first_pass_hop + 1) * first_pass_hop) - j0;
        double s[first_pass_hop], f[first_pass_hop], dphase[first_pass_hop];
        double x = w.x;
        for (int i = 0; i < n; ++i) {
            s[i] = x + 0.5 - lead;
            x += time_map_rate(*w.tm, j0 + i);
        }
        lane_kernels(sh.lanes).target_frequencies(w.rules, j0, n, s, f, dphase);
        if (j0 % first_pass_hop == 0) {
            if (w.map_pages) map_pages_ahead(w, j0);
            if (j0 % second_pass_hop == 0) w.genposs[j0 / second_pass_hop] = s[0];
            FirstPassUnit& u = w.units[w.made++];
            u.out_index = j0;
            u.src_pos = s[0];
            u.out_phase = w.phase;
            u.target_freq = f[0];
            u.modulation = w.modulation;
        }
        for (int i = 0; i < n; ++i) w.phase += dphase[i];
        w.x = x;
        w.j = j0 + n;
    }
}

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
    TimeWalk walk;
    walk.sh = &sh;
    walk.tm = &tm;
    walk.modulation = setup.modulation;
    walk.rules = pitch_rules(sh, setup.modulation);
    walk.genposs = setup.genposs;
    walk.units = setup.grains;
    walk.x = tm.start_pos;
    walk.map_pages = !setup.buffers_mapped;
    walk.map_outbuf = setup.second_pass && sh.outbuf != sh.datbuf;
    FirstPassWork first{&sh, setup.grains};
    pool_start(p, setup.workers, run_first, &first);
    rep.threaded = p.threaded;
    rep.takers = p.takers;
    rep.workers = p.n;
    const HandOutReport h1 = pool_hand_out(p, first_pass_units(sh.outlen), walk_until, &walk);
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
