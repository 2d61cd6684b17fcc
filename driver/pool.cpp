// driver/pool.cpp: the render workers and the hand-out of runs of units.
#include "driver/pool.h"

#include <algorithm>

namespace velorin {

int worker_count(int thread_request, int processors) {
    if (thread_request >= 1 && thread_request <= 64) return thread_request;
    if (processors > 64) return 64;
    if (processors >= 3) return processors;
    if (processors < 1) processors = 1;
    return 2 * processors;
}

namespace {

// The shortest run an idle worker gets while the units are being prepared,
// and how many units the calling thread prepares per unit it runs.
constexpr int quick_run = 8;
constexpr int walk_ahead = 8;

// Takes the next run of prepared units for a taker: at most `most` units, or
// when most is 0 a worker's share of what is left. Returns its length, 0 when
// no prepared unit is left.
int take_run(Pool& p, int most, int* first) {
    int n = p.next.load(std::memory_order_acquire);
    for (;;) {
        const int avail = p.ready.load(std::memory_order_acquire) - n;
        if (avail <= 0) return 0;
        const int want = most > 0 ? most : run_length(p.total - n, p.takers);
        const int count = std::min(want, avail);
        if (p.next.compare_exchange_weak(n, n + count, std::memory_order_acq_rel,
                                         std::memory_order_acquire)) {
            *first = n;
            return count;
        }
    }
}

void note_last(Pool& p, int first, int count, int slot) {
    if (first + count == p.total) p.last_slot.store(slot, std::memory_order_relaxed);
}

// A worker runs the run it was handed, then takes the next prepared runs
// itself while there are any; only then does it go idle and sleep.
void worker_proc(void* arg) {
    PoolSlot& s = *static_cast<PoolSlot*>(arg);
    Pool& p = *s.pool;
    for (;;) {
        if (!event_wait(s.start)) return;
        if (s.stop == -1) return;
        int first = s.first;
        int count = s.count;
        while (count > 0) {
            p.run(p.ctx, first, count);
            note_last(p, first, count, s.slot);
            count = take_run(p, 0, &first);
            if (count > 0) p.worker_runs.fetch_add(1, std::memory_order_relaxed);
        }
        event_reset(s.start);
        event_set(s.idle);
        s.busy.store(0, std::memory_order_release);
    }
}

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
    p.total = total;
    p.next.store(0, std::memory_order_relaxed);
    p.last_slot.store(0, std::memory_order_relaxed);
    p.worker_runs.store(0, std::memory_order_relaxed);
    int ready = prepare ? 0 : total;  // units prepared
    p.ready.store(ready, std::memory_order_release);
    auto make_ready = [&](int end) {
        end = std::min(end, total);
        if (end <= ready) return;
        if (prepare) prepare(prep_ctx, end);
        ready = end;
        p.ready.store(ready, std::memory_order_release);
    };
    for (;;) {
        const int next = p.next.load(std::memory_order_acquire);
        if (next >= total) break;
        const int k = idle_worker(p);
        const int share = std::min(run_length(total - next, p.takers), total - next);
        int first = 0;
        if (k == 0) {
            // Alone, the calling thread runs everything as one run; beside
            // workers it takes one unit at a time, preparing a little more
            // each time, up to a worker's share, so that the next worker to
            // look finds its run ready.
            const int most = p.takers == 1 ? total - next : 1;
            make_ready(std::max(next + most, std::min(next + share, ready + walk_ahead)));
            const int count = take_run(p, most, &first);
            if (count == 0) continue;
            p.run(p.ctx, first, count);
            note_last(p, first, count, 0);
            rep.own_units += count;
        } else {
            // An idle worker waits while its run is prepared, so it gets what
            // is ready (at least a few units) rather than a full share.
            make_ready(next + (prepare ? std::min(share, std::max(ready - next, quick_run)) : 0));
            const int count = take_run(p, share, &first);
            if (count == 0) continue;
            PoolSlot& s = p.slots[k];
            s.first = first;
            s.count = count;
            s.stop = 0;
            event_reset(s.idle);
            s.busy.store(1, std::memory_order_relaxed);
            event_set(s.start);
            ++rep.runs;
        }
    }
    wait_all_idle(p);
    rep.units = p.next.load(std::memory_order_relaxed);
    rep.runs += p.worker_runs.load(std::memory_order_relaxed);
    rep.last_slot = p.last_slot.load(std::memory_order_relaxed);
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
