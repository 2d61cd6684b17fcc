// tests/driver/pool_test.cpp: the hand-out of runs of units to the worker pool.
#include "driver/pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "driver/schedule.h"

using namespace velorin;

namespace {

// Counts how often each unit runs and checks that none runs before the main
// thread has prepared it.
struct Tally {
    std::unique_ptr<std::atomic<int>[]> runs;
    std::atomic<int> prepared{0};
    std::atomic<int> early{0};
    std::vector<int> order;  // filled only with one worker
    bool keep_order = false;
    explicit Tally(int total) : runs(new std::atomic<int>[total]) {
        for (int i = 0; i < total; ++i) runs[i] = 0;
    }
};

void run_units(void* ctx, int first, int count) {
    Tally& t = *static_cast<Tally*>(ctx);
    for (int u = first; u < first + count; ++u) {
        if (u >= t.prepared) ++t.early;
        ++t.runs[u];
        if (t.keep_order) t.order.push_back(u);
    }
}

void prepare(void* ctx, int end) {
    Tally& t = *static_cast<Tally*>(ctx);
    EXPECT_GT(end, t.prepared.load());
    t.prepared = end;
}

int failing_after = 0;
Thread* start_some(void (*proc)(void*), void* arg) {
    return failing_after-- > 0 ? thread_start(proc, arg) : nullptr;
}

HandOutReport hand_out_all(Tally& t, int total, int workers, StartThread start = thread_start) {
    Pool p;
    p.start_thread = start;
    pool_start(p, workers, run_units, &t);
    const HandOutReport rep = pool_hand_out(p, total, prepare, &t);
    pool_stop(p);
    pool_close(p);
    return rep;
}

}  // namespace

TEST(Pool, RunsCoverEveryUnitOnce) {
    for (int outlen : {256, 257, 1000, 441000}) {
        for (int total : {first_pass_units(outlen), second_pass_units(outlen)}) {
            for (int workers : {1, 2, 4, 64}) {
                SCOPED_TRACE(testing::Message() << outlen << " " << total << " " << workers);
                Tally t(total);
                const HandOutReport rep = hand_out_all(t, total, workers);
                EXPECT_EQ(rep.units, total);
                EXPECT_EQ(t.prepared, total);
                EXPECT_EQ(t.early, 0);
                for (int u = 0; u < total; ++u) ASSERT_EQ(t.runs[u], 1) << u;
                EXPECT_GE(rep.last_slot, 0);
                EXPECT_LT(rep.last_slot, workers);
                // Far fewer hand-overs than units once there are many units.
                if (total > 100) {
                    EXPECT_LT(rep.runs, total / 4 + 4 * workers);
                }
            }
        }
    }
}

TEST(Pool, OneWorkerRunsUnitsInOrder) {
    const int total = first_pass_units(44100);
    Tally t(total);
    t.keep_order = true;
    const HandOutReport rep = hand_out_all(t, total, 1);
    ASSERT_EQ(int(t.order.size()), total);
    for (int u = 0; u < total; ++u) ASSERT_EQ(t.order[u], u);
    EXPECT_EQ(rep.last_slot, 0);
}

TEST(Pool, FailedThreadStartRunsEveryUnitOnTheCallingThread) {
    for (int started : {0, 2}) {
        failing_after = started;
        const int total = second_pass_units(10000);
        Tally t(total);
        t.keep_order = true;
        const HandOutReport rep = hand_out_all(t, total, 4, start_some);
        EXPECT_EQ(rep.units, total);
        ASSERT_EQ(int(t.order.size()), total);
        for (int u = 0; u < total; ++u) EXPECT_EQ(t.order[u], u);
    }
}

TEST(Pool, RunsShrinkTowardsTheEnd) {
    EXPECT_EQ(run_length(689, 4), 86);
    EXPECT_EQ(run_length(8, 4), 1);
    EXPECT_EQ(run_length(0, 4), 1);
    EXPECT_EQ(run_length(100, 0), 50);
}
