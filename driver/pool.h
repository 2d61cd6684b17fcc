// driver/pool.h: the render workers: one thread per slot, each slot with its
// record, a start event and an idle event. The main thread hands runs of
// consecutive units to idle slots.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace velorin {

constexpr int max_workers = 64;

// Runs units first .. first + count - 1, in that order.
using RunUnits = void (*)(void* ctx, int first, int count);
// The thread start the pool uses (thread_start; tests put a failing one in).
using StartThread = Thread* (*)(void (*proc)(void*), void* arg);

struct Pool;

// One per slot. The main thread writes it only while the slot's idle event
// is set; the worker reads it once its start event is set.
struct PoolSlot {
    int32_t first = 0;  // first unit of the run
    int32_t count = 0;  // units in the run
    int32_t slot = 0;
    int32_t stop = 0;  // -1 ends the worker
    Pool* pool = nullptr;
    Event* start = nullptr;  // manual reset, not signalled at first
    Event* idle = nullptr;   // manual reset, signalled at first
    Thread* thread = nullptr;
};

struct Pool {
    int n = 1;              // workers, 1..max_workers
    bool threaded = false;  // false: runs go to the calling thread, in order
    RunUnits run = nullptr;
    void* ctx = nullptr;
    StartThread start_thread = thread_start;
    PoolSlot slots[max_workers];
    Event* idle[max_workers] = {};  // the slots' idle events, for waiting on any one
};

// Starts n workers (clamped to 1..max_workers) for one pass that runs units
// through `run`. Events are created on the first start and reused by later
// ones. When an event or a thread cannot be had, the threads already started
// are stopped and the pass runs on the calling thread (threaded stays false).
void pool_start(Pool& p, int n, RunUnits run, void* ctx);

// The length of the next run when `remaining` units are left for n workers:
// an even share of half of what is left, so that runs shrink towards the end
// and every worker stays busy until the last unit; at least 1.
int run_length(int remaining, int n);

// What a pass's hand-out did.
struct HandOutReport {
    int units = 0;      // units handed out
    int runs = 0;       // hand-overs
    int last_slot = 0;  // slot of the run with the last unit
};

// Hands units 0 .. total - 1 out in runs, each to the lowest idle slot.
// Before a run that ends at unit `end` is handed out, prepare(prep_ctx, end)
// is called (when not null) so that the caller can make units up to end
// ready. Without threads the runs go to the calling thread, in order.
HandOutReport pool_hand_out(Pool& p, int total, void (*prepare)(void* prep_ctx, int end),
                            void* prep_ctx);

// Waits for every slot's last run, then ends its thread.
void pool_stop(Pool& p);

// Closes the events (after the last pass).
void pool_close(Pool& p);

}  // namespace velorin
