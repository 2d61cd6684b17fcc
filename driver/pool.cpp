// driver/pool.cpp: the render workers and the hand-out of runs of units.
#include "driver/pool.h"

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
    }
}

// Waits for the lowest idle slot; -1 when the pool has no threads or the wait
// fails.
int wait_idle(Pool& p) { return p.threaded ? wait_any(p.idle, p.n) : -1; }

}  // namespace

void pool_start(Pool& p, int n, RunUnits run, void* ctx) {
    p.n = n < 1 ? 1 : n > max_workers ? max_workers : n;
    p.run = run;
    p.ctx = ctx;
    p.threaded = true;
    for (int i = 0; i < p.n && p.threaded; ++i) {
        PoolSlot& s = p.slots[i];
        if (!s.start) s.start = event_create(false);
        if (!s.idle) s.idle = event_create(true);
        p.idle[i] = s.idle;
        if (!s.start || !s.idle) {
            p.threaded = false;
            break;
        }
        s.stop = 0;
        s.slot = i;
        s.pool = &p;
        event_reset(s.start);
        event_set(s.idle);
        s.thread = p.start_thread(worker_proc, &s);
        if (!s.thread) p.threaded = false;
    }
    if (!p.threaded) {
        p.threaded = true;  // stop what did start
        pool_stop(p);
        p.threaded = false;
    }
}

int run_length(int remaining, int n) {
    if (n < 1) n = 1;
    const int share = remaining / (2 * n);
    return share < 1 ? 1 : share;
}

HandOutReport pool_hand_out(Pool& p, int total, void (*prepare)(void*, int), void* prep_ctx) {
    HandOutReport rep;
    int next = 0;
    while (next < total) {
        int count = run_length(total - next, p.n);
        if (count > total - next) count = total - next;
        if (prepare) prepare(prep_ctx, next + count);
        const int k = wait_idle(p);
        if (k < 0) {
            p.run(p.ctx, next, count);
            rep.last_slot = 0;
        } else {
            PoolSlot& s = p.slots[k];
            s.first = next;
            s.count = count;
            s.stop = 0;
            event_reset(s.idle);
            event_set(s.start);
            rep.last_slot = k;
        }
        next += count;
        rep.units += count;
        ++rep.runs;
    }
    return rep;
}

void pool_stop(Pool& p) {
    if (!p.threaded) return;
    for (int t = 0; t < p.n; ++t) {
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
    for (Event*& e : p.idle) e = nullptr;
}

}  // namespace velorin
