// driver/pool.h: the render workers: slots 0 .. n - 1, each with its record,
// a start event and an idle event. Slot 0 is the calling thread itself, which
// prepares units and runs them whenever no worker is idle; the other slots
// have a thread each, as many as the processors can run beside the calling
// thread. Workers take further runs of prepared units themselves.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace velorin {

constexpr int max_workers = 64;

// Worker count from flag S and the processors the system reports.
int worker_count(int thread_request, int processors);

// Runs units first .. first + count - 1, in that order.
using RunUnits = void (*)(void* ctx, int first, int count);
// The thread start the pool uses (thread_start; tests put a failing one in).
using StartThread = Thread* (*)(void (*proc)(void*), void* arg);

struct Pool;

// One per slot. The main thread writes it only while the slot is idle (busy
// 0, idle event set); the worker reads it once its start event is set. The
// worker sets its idle event before it clears busy, so a slot seen not busy
// is idle in every sense.
struct PoolSlot {
    int32_t first = 0;  // first unit of the run
    int32_t count = 0;  // units in the run
    int32_t slot = 0;
    int32_t stop = 0;          // -1 ends the worker
    std::atomic<int> busy{0};  // 1 from the hand-out until the worker is idle again
    Pool* pool = nullptr;
    Event* start = nullptr;  // manual reset, not signalled at first
    Event* idle = nullptr;   // manual reset, signalled at first
    Thread* thread = nullptr;
};

struct Pool {
    int n = 1;              // workers (slots), 1..max_workers
    int takers = 1;         // slots that run units: the calling thread + threads
    int processors = 0;     // 0: as the system reports; tests set their own
    bool threaded = false;  // false: runs go to the calling thread, in order
    RunUnits run = nullptr;
    void* ctx = nullptr;
    StartThread start_thread = thread_start;
    PoolSlot slots[max_workers];

    // The pass being handed out.
    int total = 0;                    // units of the pass
    std::atomic<int> next{0};         // first unit nobody has taken
    std::atomic<int> ready{0};        // units prepared
    std::atomic<int> last_slot{0};    // slot that ran the last unit
    std::atomic<int> worker_runs{0};  // runs workers took themselves
};

// Sets up n workers (clamped to 1..max_workers) for a pass that runs units
// through `run`: slot 0 is the calling thread, and slots 1 .. takers - 1 get a
// thread each, where takers = min(n, processors), so that no more threads
// compete for the processors than there are. Events are created on the first
// start and reused by later ones. When an event or a thread cannot be had,
// the threads already started are stopped and the pass runs on the calling
// thread alone (threaded false, takers 1).
void pool_start(Pool& p, int n, RunUnits run, void* ctx);

// Lets the same threads run units through `run` for the next pass (once
// every worker is idle).
void pool_switch(Pool& p, RunUnits run, void* ctx);

// The length of the next run when `remaining` units are left for n takers:
// an even share of half of what is left, so that runs shrink towards the end
// and every worker stays busy until the last unit; at least 1.
int run_length(int remaining, int n);

// What a pass's hand-out did.
struct HandOutReport {
    int units = 0;      // units handed out
    int runs = 0;       // runs the worker threads ran (handed to them or taken)
    int own_units = 0;  // units the calling thread ran (slot 0)
    int last_slot = 0;  // slot that ran the last unit; 0: the calling thread
};

// Runs units 0 .. total - 1 and returns once every one has run. A worker
// that finishes a run takes the next run of prepared units itself (its share
// of what is left, run_length); one that finds none goes idle, and the
// calling thread hands the lowest idle worker a run through its record and
// start event. Otherwise the calling thread takes the next unit itself, runs
// it and looks again; so nobody waits while prepared units are left. Before
// units up to `end` (exclusive) can be taken, prepare(prep_ctx, end) is
// called on the calling thread (when not null, with `end` rising) so that the
// caller can make them ready; the calling thread prepares a few units ahead
// of its own, and an idle worker gets what is ready (at least a few units)
// rather than waiting for a full share to be prepared. With one taker the
// calling thread runs every unit, in order, as one run.
HandOutReport pool_hand_out(Pool& p, int total, void (*prepare)(void* prep_ctx, int end),
                            void* prep_ctx);

// Waits for every worker's last run, then ends its thread.
void pool_stop(Pool& p);

// Closes the events (after the last pass).
void pool_close(Pool& p);

}  // namespace velorin
