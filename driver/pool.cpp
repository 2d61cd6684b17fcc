// driver/pool.cpp: the render workers and the hand-out of runs of units.
#include "driver/pool.h"

#include <algorithm>

namespace velorin {

namespace {

void worker_proc(void* arg) {
    PoolSlot& s = *static_cast<PoolSlot*>(arg);
    Pool& p = *s.pool;
    for (;;) {
        if (!event_wait(s.start)) return;
        if (s.stop == -1) return;
        p.run(p.ctx, s.first, s.count);
        event_reset(s.start);
        event_set(s.idle);
        s.busy.store(0, std::memory_order_release);
    }
}

// The shortest run an idle worker gets while the units are being prepared,
// and how many units the calling thread prepares per unit it runs.
constexpr int quick_run = 8;
constexpr int walk_ahead = 8;

// The lowest worker slot that is idle, or 0 (the calling thread) when every
// worker is busy.
int idle_worker(const Pool& p) {
    for (int k = 1; k < p.takers; ++k)
        if (p.slots[k].busy.load(std::memory_order_acquire) == 0) return k;
    return 0;
}

// Waits until every worker has finished its run.
void wait_all_idle(Pool& p) {
    for (int k = 1; k < p.takers; ++k) event_wait(p.slots[k].idle);
}

}  // namespace

void pool_start(Pool& p, int n, RunUnits run, void* ctx) {
    p.n = std::min(std::max(n, 1), max_workers);
    p.run = run;
    p.ctx = ctx;
    const int processors = p.processors > 0 ? p.processors : processor_count();
    p.takers = std::min(p.n, std::max(processors, 1));
    p.threaded = true;
    for (int i = 1; i < p.takers; ++i) {
        PoolSlot& s = p.slots[i];
        if (!s.start) s.start = event_create(false);
        if (!s.idle) s.idle = event_create(true);
        if (!s.start || !s.idle) {
            p.threaded = false;
            break;
        }
        s.stop = 0;
        s.slot = i;
        s.pool = &p;
        s.busy.store(0, std::memory_order_relaxed);
        event_reset(s.start);
        event_set(s.idle);
        s.thread = p.start_thread(worker_proc, &s);
        if (!s.thread) {
            p.threaded = false;
            break;
        }
    }
    if (!p.threaded) {
        pool_stop(p);  // ends what did start
        p.takers = 1;
    }
    p.threaded = p.takers > 1;
}

void pool_switch(Pool& p, RunUnits run, void* ctx) {
    wait_all_idle(p);
    p.run = run;
    p.ctx = ctx;
}

int run_length(int remaining, int n) {
    if (n < 1) n = 1;
    const int share = remaining / (2 * n);
    return share < 1 ? 1 : share;
}

HandOutReport pool_hand_out(Pool& p, int total, void (*prepare)(void*, int), void* prep_ctx) {
    HandOutReport rep;
    int next = 0;
    int ready = 0;  // units prepared
    auto make_ready = [&](int end) {
        if (end <= ready) return;
        if (prepare) prepare(prep_ctx, end);
        ready = end;
    };
    while (next < total) {
        const int k = idle_worker(p);
        const int share = std::min(run_length(total - next, p.takers), total - next);
        // Alone, the calling thread runs everything as one run.
        int count = p.takers == 1 ? total - next : 1;
        if (k == 0) {
            // The calling thread prepares a little more than its own unit
            // each time, up to the next worker's share, so that the next
            // idle worker finds its run ready.
            make_ready(std::max(next + count, std::min(next + share, ready + walk_ahead)));
            p.run(p.ctx, next, count);
            rep.own_units += count;
        } else {
            // An idle worker waits while its run is prepared, so it gets what
            // is ready (at least a few units) rather than a full share.
            count = prepare ? std::min(share, std::max(ready - next, quick_run)) : share;
            make_ready(next + count);
            PoolSlot& s = p.slots[k];
            s.first = next;
            s.count = count;
            s.stop = 0;
            event_reset(s.idle);
            s.busy.store(1, std::memory_order_relaxed);
            event_set(s.start);
            ++rep.runs;
        }
        next += count;
        rep.units += count;
        if (next == total) rep.last_slot = k;
    }
    return rep;
}

void pool_stop(Pool& p) {
    for (int t = 1; t < max_workers; ++t) {
        PoolSlot& s = p.slots[t];
        if (!s.thread) continue;
        event_wait(s.idle);
        s.stop = -1;
        event_set(s.start);
        thread_join(s.thread);
        s.thread = nullptr;
    }
}

void pool_close(Pool& p) {
    for (PoolSlot& s : p.slots) {
        event_close(s.start);
        event_close(s.idle);
        s.start = s.idle = nullptr;
    }
}

}  // namespace velorin
