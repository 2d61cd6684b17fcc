// driver/schedule.cpp: the worker pool and the main thread's hand-out loops.
#include "driver/schedule.h"

#include <cmath>

#include "platform/console.h"
#include "platform/mem.h"
#include "platform/platform.h"
#include "synth/kernels.h"

namespace velorin {

int worker_count(int thread_request, int processors) {
    if (thread_request >= 1 && thread_request <= 64) return thread_request;
    if (processors > 64) return 64;
    if (processors >= 3) return processors;
    if (processors < 1) processors = 1;
    return 2 * processors;
}

void build_breath_table(double alpha, double* table) {
    const double a = alpha;
    if (a <= 1) {
        for (int k = 0; k < 1024; ++k) table[k] = (k * a * 0.04 + (1 - a)) * (2 - a);
        return;
    }
    table[0] = 0;
    for (int k = 1; k < 1024; ++k) table[k] = std::pow(k * 0.04 / ((a - 1) * 0.1 + 1), a * 0.48);
}

TimeMap build_time_map(const TimeMapInput& in) {
    TimeMap tm;
    const double r = in.r;
    const double cons = in.cons;
    const double tail = in.tail;
    const double L = in.end_pos - in.start_pos;
    tm.start_pos = in.start_pos;
    tm.end_pos = in.end_pos;
    double O = cons / in.head_velocity / r;
    double P = tail / in.tail_velocity / r;
    double Q = in.outlen - O - P;

    if (tail == 0) {
        if (r * Q > L - cons) {
            tm.stretch_rate = (L - cons) / Q;  // the middle is slowed to fill the note
        } else if (Q > 0) {
            tm.stretch_rate = r;  // natural speed; the used region gets shorter
            tm.end_pos = tm.start_pos + cons + r * Q;
        } else {
            tm.stretch_rate = r;
            tm.end_pos = tm.start_pos + (Q + O) * in.head_velocity * r;
        }
        tm.head_rate = r * in.head_velocity;
        tm.tail_rate = r;
    } else if (cons == 0) {
        // A tail without a consonant: the region is anchored at its end.
        if (Q > 0) {
            tm.start_pos = tm.end_pos - r * Q - tail;
        } else {
            tm.start_pos = tm.end_pos - (P + O) * in.tail_velocity * r;
        }
        tm.stretch_rate = r;
        tm.head_rate = r;
        tm.tail_rate = r * in.tail_velocity;
    } else {
        // The stretch region never gets fewer than 256 output samples: both
        // fixed regions shrink by the same factor to make room.
        if (Q < 256) {
            const double s = (in.outlen - 256) / (P + O);
            O *= s;
            P *= s;
            Q = 256;
        }
        tm.stretch_rate = (L - cons - tail) / Q;
        // With a note of exactly 256 samples both fixed regions shrink to
        // nothing; their rate is then the region's natural one, which keeps
        // the rates finite (a region of length 0 plays at most one sample).
        tm.head_rate = O > 0 ? cons / O : r * in.head_velocity;
        tm.tail_rate = P > 0 ? tail / P : r * in.tail_velocity;
    }
    tm.head_len = O;
    tm.stretch_len = Q;
    tm.tail_len = P;

    if (in.reverse) {
        // Read backward from the end of the used region: the tail comes
        // first and the consonant last, both reversed.
        const double head_rate = tm.head_rate;
        tm.start_pos = tm.end_pos;
        tm.head_len = P;
        tm.tail_len = O;
        tm.head_rate = -tm.tail_rate;
        tm.stretch_rate = -tm.stretch_rate;
        tm.tail_rate = -head_rate;
    }
    return tm;
}

namespace {

constexpr int max_slots = 64;

struct Pool;

struct WorkerArg {
    Pool* pool;
    int slot;
};

struct Pool {
    const RenderShared* sh = nullptr;
    void (*pass)(const RenderShared&, const WorkUnit&) = nullptr;
    int n = 0;
    bool threaded = false;  // false: units run on the calling thread
    WorkUnit units[max_slots];
    Event* start[max_slots] = {};
    Event* idle[max_slots] = {};
    Thread* threads[max_slots] = {};
    WorkerArg args[max_slots];
};

void run_unit(const Pool& p, WorkUnit& u) {
    p.pass(*p.sh, u);
    if (u.noise) {
        release(u.noise);
        u.noise = nullptr;
    }
}

void worker_proc(void* arg) {
    WorkerArg* a = static_cast<WorkerArg*>(arg);
    Pool& p = *a->pool;
    const int i = a->slot;
    for (;;) {
        if (!event_wait(p.start[i])) return;
        WorkUnit& u = p.units[i];
        if (u.stop == -1) return;
        run_unit(p, u);
        event_reset(p.start[i]);
        event_set(p.idle[i]);
    }
}

void close_events(Pool& p) {
    for (int i = 0; i < max_slots; ++i) {
        event_close(p.start[i]);
        event_close(p.idle[i]);
        p.start[i] = p.idle[i] = nullptr;
    }
}

// Waits for every slot's last unit, then ends its thread.
void stop_pool(Pool& p) {
    if (!p.threaded) return;
    for (int t = 0; t < p.n; ++t) {
        if (!p.threads[t]) continue;
        event_wait(p.idle[t]);
        p.units[t].stop = -1;
        event_set(p.start[t]);
        thread_join(p.threads[t]);
        p.threads[t] = nullptr;
    }
}

// Starts the pool's threads for one pass. The events are created once, for
// the first pass, and reused by the second. When an event or a thread cannot
// be had, the threads already started are stopped and the pass runs on the
// calling thread.
void start_pool(Pool& p, void (*pass)(const RenderShared&, const WorkUnit&)) {
    p.pass = pass;
    p.threaded = true;
    for (int i = 0; i < p.n && p.threaded; ++i) {
        if (!p.start[i]) p.start[i] = event_create(false);
        if (!p.idle[i]) p.idle[i] = event_create(true);
        if (!p.start[i] || !p.idle[i]) {
            p.threaded = false;
            break;
        }
        p.units[i].stop = 0;
        p.units[i].slot = i;
        p.units[i].noise = nullptr;
        event_reset(p.start[i]);
        event_set(p.idle[i]);
        p.args[i] = WorkerArg{&p, i};
        p.threads[i] = thread_start(worker_proc, &p.args[i]);
        if (!p.threads[i]) p.threaded = false;
    }
    if (!p.threaded) {
        p.threaded = true;  // stop what did start
        stop_pool(p);
        p.threaded = false;
    }
}

// Hands `fill` to the next idle worker (lowest idle slot first) and returns
// the slot; runs it on the calling thread when the pool is not threaded or
// the wait fails.
int hand_out(Pool& p, const WorkUnit& fill) {
    int k = p.threaded ? wait_any(p.idle, p.n) : -1;
    if (k < 0) {
        WorkUnit u = fill;
        run_unit(p, u);
        return 0;
    }
    WorkUnit& u = p.units[k];
    const int32_t slot = u.slot;
    u = fill;
    u.slot = slot;
    u.stop = 0;
    event_reset(p.idle[k]);
    event_set(p.start[k]);
    return k;
}

}  // namespace

void run_schedule(RenderShared& sh, const TimeMap& tm, const ScheduleSetup& setup,
                  ScheduleReport* report) {
    Pool p;
    p.sh = &sh;
    p.n = setup.workers < 1 ? 1 : setup.workers > max_slots ? max_slots : setup.workers;
    ScheduleReport rep;

    // First pass: walk every output sample on this thread, hand a unit to a
    // worker every 64 samples.
    start_pool(p, resampling_pass);
    rep.threaded = p.threaded;
    double x = tm.start_pos;
    double phase = 0.0;
    for (int j = 0; j < sh.outlen; ++j) {
        const double s = x + 0.5 - 0.25 * sh.freq_step;
        const double f =
            pitch_at(sh, j - 0.5) / modulation_factor(sh, freq_at(sh, s), setup.modulation);
        if (j % 64 == 0) {
            if (j % 256 == 0) setup.genposs[j / 256] = s;
            WorkUnit u;
            u.out_index = j;
            u.src_pos = s;
            u.out_phase = phase;
            u.target_freq = f;
            u.modulation = setup.modulation;
            rep.last_slot = hand_out(p, u);
            ++rep.first_units;
        }
        x += time_map_rate(tm, j);
        phase += f / 44100;
    }
    stop_pool(p);
    rep.first_end_count = perf_counter();

    if (!setup.second_pass) {
        rep.end_count = rep.first_end_count;
        sayf(stderr, "i=%d tinx=%d\n", p.n, rep.last_slot);
        close_events(p);
        if (report) *report = rep;
        return;
    }

    // Between the passes: the noise history and the breath shaping table.
    CrtRand rng;
    double history[1024] = {};
    if (setup.breath > 0) {
        for (int i = 256; i < 1024; ++i) history[i] = noise_value(rng);
        build_breath_table(setup.breath_alpha, setup.breath_shape);
    }

    // The fields every second-pass unit shares. Units are filled from this
    // copy, never from a slot's record, which its worker may be using.
    WorkUnit second;
    second.gender = setup.gender;
    second.breath = setup.breath;
    second.voiced_gain = setup.voiced_gain;
    second.noise_gain = setup.noise_gain;
    second.no_filter = setup.no_filter ? 1 : 0;
    second.modulation = setup.modulation;
    start_pool(p, envelope_breath_pass);
    if (!p.threaded) rep.threaded = false;

    // Second pass: one unit per 256 output samples, two more than fit, each
    // with its own block of the continuous noise stream.
    const int units = sh.outlen / 256 + 2;
    for (int u = 0; u < units; ++u) {
        WorkUnit fill = second;
        if (setup.breath > 0) {
            double* block = alloc_zeroed<double>(1024);
            for (int i = 0; i < 1024; ++i) {
                history[i] = i < 768 ? history[i + 256] : noise_value(rng);
                if (block) block[i] = history[i];
            }
            fill.noise = block;
        }
        fill.out_index = u * 256;
        fill.src_pos = setup.genposs[u];
        rep.last_slot = hand_out(p, fill);
        ++rep.second_units;
    }
    sayf(stderr, "i=%d tinx=%d\n", rep.second_units, rep.last_slot);
    stop_pool(p);
    rep.end_count = perf_counter();
    close_events(p);
    if (report) *report = rep;
}

}  // namespace velorin
