// tests/driver/pool_test.cpp: the hand-out of runs of units to the worker pool.
#include "driver/pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "driver/schedule.h"

using namespace velorin;

namespace {

// Counts how often each unit runs and checks that none runs before the main
// thread has prepared it.
struct Tally {
    int total = 0;
    std::unique_ptr<std::atomic<int>[]> runs;
    std::atomic<int> prepared{0};
    std::atomic<int> early{0};
    std::atomic<int> done{0};
    std::vector<int> order;  // filled only with one taker
    bool keep_order = false;
    std::atomic<int> by_caller{0};        // units run on the calling thread
    std::atomic<int> last_by_caller{-1};  // 1: the last unit ran on the calling thread
    Event* caller_ran = nullptr;          // when set: workers hold their runs until it is
    const Tally* before = nullptr;        // a pass that must be complete first
    std::atomic<int> too_soon{0};         // units run while it was not
    explicit Tally(int n);
};

// Set on the thread that makes tallies, the calling thread; workers never do.
// (A thread-local mark, since some C++ runtimes give every thread that
// std::thread did not start the same id.)
thread_local bool made_here = false;

Tally::Tally(int n) : total(n), runs(new std::atomic<int>[n]) {
    for (int i = 0; i < n; ++i) runs[i] = 0;
    made_here = true;
}

void run_units(void* ctx, int first, int count) {
    Tally& t = *static_cast<Tally*>(ctx);
    const bool caller = made_here;
    // Bounded, so that a fault fails the test instead of hanging it.
    if (!caller && t.caller_ran) event_wait_ms(t.caller_ran, 10000);
    for (int u = first; u < first + count; ++u) {
        if (u >= t.prepared) ++t.early;
        if (t.before && t.before->done != t.before->total) ++t.too_soon;
        ++t.runs[u];
        if (t.keep_order) t.order.push_back(u);
        if (caller) ++t.by_caller;
        if (u == t.total - 1) t.last_by_caller = caller ? 1 : 0;
        ++t.done;
    }
    if (caller && t.caller_ran) event_set(t.caller_ran);
}

void prepare(void* ctx, int end) {
    Tally& t = *static_cast<Tally*>(ctx);
    EXPECT_GT(end, t.prepared.load());
    t.prepared = end;
}

void expect_every_unit_once(const Tally& t, const HandOutReport& rep) {
    EXPECT_EQ(rep.units, t.total);
    EXPECT_EQ(t.prepared, t.total);
    EXPECT_EQ(t.early, 0);
    EXPECT_EQ(rep.own_units, t.by_caller);
    // The slot of the last unit is 0 exactly when the calling thread ran it.
    EXPECT_EQ(rep.last_slot == 0, t.last_by_caller == 1);
    for (int u = 0; u < t.total; ++u) ASSERT_EQ(t.runs[u], 1) << u;
}

int failing_after = 0;
Thread* start_some(void (*proc)(void*), void* arg) {
    return failing_after-- > 0 ? thread_start(proc, arg) : nullptr;
}

HandOutReport hand_out_all(Tally& t, int workers, int processors,
                           StartThread start = thread_start) {
    Pool p;
    p.start_thread = start;
    p.processors = processors;
    pool_start(p, workers, run_units, &t);
    const HandOutReport rep = pool_hand_out(p, t.total, prepare, &t);
    pool_stop(p);
    pool_close(p);
    return rep;
}

}  // namespace

TEST(Pool, RunsCoverEveryUnitOnce) {
    for (int outlen : {256, 257, 1000, 441000}) {
        for (int total : {first_pass_units(outlen), second_pass_units(outlen)}) {
            for (int workers : {1, 2, 4, 64}) {
                for (int processors : {2, 64}) {
                    SCOPED_TRACE(testing::Message()
                                 << outlen << " " << total << " " << workers << " " << processors);
                    Tally t(total);
                    const HandOutReport rep = hand_out_all(t, workers, processors);
                    expect_every_unit_once(t, rep);
                    // The slot of the last unit is one that runs units.
                    EXPECT_GE(rep.last_slot, 0);
                    EXPECT_LT(rep.last_slot, std::min(workers, processors));
                    // Far fewer hand-overs than units once there are many units.
                    if (total > 100) {
                        EXPECT_LT(rep.runs, total / 4 + 4 * workers);
                    }
                }
            }
        }
    }
}

// One taker, by flag S1 or on one processor: the calling thread runs every
// unit, in order, and is slot 0.
TEST(Pool, OneTakerRunsUnitsInOrderOnTheCallingThread) {
    const int workers_processors[][2] = {{1, 2}, {1, 64}, {4, 1}};
    for (const auto& wp : workers_processors) {
        SCOPED_TRACE(testing::Message() << wp[0] << " " << wp[1]);
        Tally t(first_pass_units(44100));
        t.keep_order = true;
        const HandOutReport rep = hand_out_all(t, wp[0], wp[1]);
        ASSERT_EQ(int(t.order.size()), t.total);
        for (int u = 0; u < t.total; ++u) ASSERT_EQ(t.order[u], u);
        EXPECT_EQ(rep.own_units, t.total);
        EXPECT_EQ(rep.runs, 0);
        EXPECT_EQ(rep.last_slot, 0);
    }
}

TEST(Pool, FailedThreadStartRunsEveryUnitOnTheCallingThread) {
    for (int started : {0, 2}) {
        failing_after = started;
        Tally t(second_pass_units(10000));
        t.keep_order = true;
        const HandOutReport rep = hand_out_all(t, 4, 4, start_some);
        expect_every_unit_once(t, rep);
        ASSERT_EQ(int(t.order.size()), t.total);
        for (int u = 0; u < t.total; ++u) EXPECT_EQ(t.order[u], u);
        EXPECT_EQ(rep.last_slot, 0);
    }
}

// While every worker is busy the calling thread runs units itself: here the
// workers hold their runs until it has run one.
TEST(Pool, CallingThreadRunsUnitsWhileWorkersAreBusy) {
    for (int processors : {2, 4}) {
        Event* gate = event_create(false);
        ASSERT_NE(gate, nullptr);
        Tally t(first_pass_units(44100));
        t.caller_ran = gate;
        const HandOutReport rep = hand_out_all(t, 4, processors);
        expect_every_unit_once(t, rep);
        EXPECT_GT(rep.own_units, 0);
        EXPECT_GT(rep.runs, 0);
        event_close(gate);
    }
}

// The same threads serve a second pass, which starts only once every unit of
// the first is done.
TEST(Pool, SwitchWaitsForThePassBeforeTheNext) {
    Tally one(first_pass_units(44100));
    Tally two(second_pass_units(44100));
    two.before = &one;
    Pool p;
    p.processors = 4;
    pool_start(p, 4, run_units, &one);
    const HandOutReport r1 = pool_hand_out(p, one.total, prepare, &one);
    pool_switch(p, run_units, &two);
    EXPECT_EQ(one.done, one.total);
    const HandOutReport r2 = pool_hand_out(p, two.total, prepare, &two);
    pool_stop(p);
    pool_close(p);
    expect_every_unit_once(one, r1);
    expect_every_unit_once(two, r2);
    EXPECT_EQ(two.too_soon, 0);
}

TEST(Pool, RunsShrinkTowardsTheEnd) {
    EXPECT_EQ(run_length(689, 4), 86);
    EXPECT_EQ(run_length(8, 4), 1);
    EXPECT_EQ(run_length(0, 4), 1);
    EXPECT_EQ(run_length(100, 0), 50);
}
