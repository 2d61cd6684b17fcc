// tests/driver/schedule_test.cpp: worker count, breath table, time map and
// the hand-out counts of the render schedule.
#include "driver/schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "tests/support/support.h"
#include "tests/support/synth_fixtures.h"

using namespace velorin;

TEST(Schedule, WorkerCountFromFlagAndProcessors) {
    EXPECT_EQ(worker_count(1, 8), 1);
    EXPECT_EQ(worker_count(64, 8), 64);
    EXPECT_EQ(worker_count(0, 1), 2);
    EXPECT_EQ(worker_count(65, 2), 4);
    EXPECT_EQ(worker_count(-3, 3), 3);
    EXPECT_EQ(worker_count(0, 64), 64);
    EXPECT_EQ(worker_count(0, 100), 64);
}

TEST(Schedule, BreathTableShapes) {
    std::vector<double> t(1024);
    build_breath_table(1.0, t.data());
    for (int k = 0; k < 1024; k += 97) EXPECT_DOUBLE_EQ(t[k], k * 0.04) << k;
    build_breath_table(0.5, t.data());
    EXPECT_DOUBLE_EQ(t[0], 0.5 * 1.5);
    EXPECT_DOUBLE_EQ(t[10], (10 * 0.5 * 0.04 + 0.5) * 1.5);
    build_breath_table(3.0, t.data());
    EXPECT_EQ(t[0], 0.0);
    EXPECT_DOUBLE_EQ(t[100], std::pow(100 * 0.04 / (2 * 0.1 + 1), 3.0 * 0.48));
}

namespace {
TimeMapInput region(double cons, double tail, double start, double end, int outlen) {
    TimeMapInput in;
    in.cons = cons;
    in.tail = tail;
    in.start_pos = start;
    in.end_pos = end;
    in.outlen = outlen;
    return in;
}
}  // namespace

TEST(TimeMap, ShortNoteWithoutFixedRegionsPlaysAtNaturalSpeed) {
    const TimeMap tm = build_time_map(region(0, 0, 1000, 40000, 10000));
    EXPECT_DOUBLE_EQ(tm.stretch_rate, 1.0);
    EXPECT_DOUBLE_EQ(tm.start_pos, 1000);
    EXPECT_DOUBLE_EQ(tm.end_pos, 1000 + 10000);
}

TEST(TimeMap, LongNoteSlowsTheWholeRegion) {
    const TimeMap tm = build_time_map(region(0, 0, 1000, 11000, 40000));
    EXPECT_DOUBLE_EQ(tm.stretch_rate, 10000.0 / 40000.0);
}

TEST(TimeMap, TailWithoutConsonantAnchorsAtTheEnd) {
    TimeMapInput in = region(0, 2000, 1000, 40000, 10000);
    in.r = 0.5;
    const TimeMap tm = build_time_map(in);
    const double P = 2000 / 1.0 / 0.5;
    const double Q = 10000 - P;
    EXPECT_DOUBLE_EQ(tm.start_pos, 40000 - 0.5 * Q - 2000);
    EXPECT_DOUBLE_EQ(tm.stretch_rate, 0.5);
    EXPECT_DOUBLE_EQ(tm.tail_rate, 0.5);
}

TEST(TimeMap, BothFixedRegionsShrinkToLeave256StretchSamples) {
    const TimeMap tm = build_time_map(region(600, 400, 0, 5000, 1256));
    // O + P = 1000 > 1256 - 256, so both shrink by 1000 / 1000.
    EXPECT_DOUBLE_EQ(tm.stretch_len, 256);
    EXPECT_DOUBLE_EQ(tm.head_len + tm.tail_len, 1000);
    EXPECT_DOUBLE_EQ(tm.head_rate, 1.0);
    EXPECT_DOUBLE_EQ(tm.stretch_rate, (5000 - 1000) / 256.0);

    const TimeMap tight = build_time_map(region(600, 400, 0, 5000, 400));
    const double s = (400 - 256) / 1000.0;
    EXPECT_DOUBLE_EQ(tight.head_len, 600 * s);
    EXPECT_DOUBLE_EQ(tight.tail_len, 400 * s);
    EXPECT_DOUBLE_EQ(tight.head_rate, 600 / (600 * s));
}

TEST(TimeMap, Exactly256SamplesWithBothRegionsKeepsFiniteRates) {
    TimeMapInput in = region(600, 400, 0, 5000, 256);
    in.head_velocity = 2.0;
    in.tail_velocity = 0.5;
    const TimeMap tm = build_time_map(in);
    EXPECT_DOUBLE_EQ(tm.head_len, 0);
    EXPECT_DOUBLE_EQ(tm.tail_len, 0);
    EXPECT_DOUBLE_EQ(tm.head_rate, 2.0);
    EXPECT_DOUBLE_EQ(tm.tail_rate, 0.5);
    EXPECT_TRUE(std::isfinite(tm.stretch_rate));
}

TEST(TimeMap, ReversePlaysTheTailFirstBackward) {
    TimeMapInput in = region(600, 400, 100, 5100, 2000);
    in.head_velocity = 2.0;
    const TimeMap fwd = build_time_map(in);
    in.reverse = true;
    const TimeMap rev = build_time_map(in);
    EXPECT_DOUBLE_EQ(rev.start_pos, fwd.end_pos);
    EXPECT_DOUBLE_EQ(rev.head_len, fwd.tail_len);
    EXPECT_DOUBLE_EQ(rev.stretch_len, fwd.stretch_len);
    EXPECT_DOUBLE_EQ(rev.head_rate, -fwd.tail_rate);
    EXPECT_DOUBLE_EQ(rev.stretch_rate, -fwd.stretch_rate);
    EXPECT_DOUBLE_EQ(rev.tail_rate, -fwd.head_rate);
    // Walking the reversed map over the note ends at the start of the region.
    double x = rev.start_pos;
    for (int j = 0; j < 2000; ++j) x += time_map_rate(rev, j);
    EXPECT_NEAR(x, 100, 2.0);
}

namespace {
// Counts the units each pass receives, without doing any synthesis work.
struct Counting {
    std::vector<double> sample = std::vector<double>(50000, 0.0);
    std::vector<double> freq = std::vector<double>(200, 220.0);
    std::vector<double> table = std::vector<double>(200, 0.0);
    std::vector<double> datbuf, outbuf, genposs, shape = std::vector<double>(1024);
    std::vector<FirstPassUnit> grains;
    std::vector<double> hann = std::vector<double>(128, 0.0), sine = std::vector<double>(1024, 0.0);
    std::vector<double> twiddles = std::vector<double>(2048, 0.0);
    std::vector<int32_t> bitrev = std::vector<int32_t>(64, 0);
    RenderShared sh;
    ScheduleSetup setup;
    Mutex* a = mutex_create();
    Mutex* b = mutex_create();

    Counting(int outlen, int workers, double breath) {
        datbuf.assign(outlen, 0.0);
        outbuf.assign(outlen, 0.0);
        genposs.assign(outlen / 256 + 8, 0.0);
        grains.assign(first_pass_units(outlen), FirstPassUnit());
        sh.sample = sample.data();
        sh.sample_frames = int64_t(sample.size());
        sh.freq = freq.data();
        sh.freq_count = 150;
        sh.freq_step = 256;
        sh.freq_avg = 220;
        sh.phase_table = table.data();
        sh.phase_frames = 150;
        sh.target_freq = 440;
        sh.outlen = outlen;
        sh.hann128 = hann.data();
        sh.sine1024 = sine.data();
        sh.twiddles = twiddles.data();
        sh.bitrev = bitrev.data();
        sh.breath_shape = shape.data();
        sh.datbuf = datbuf.data();
        sh.outbuf = outbuf.data();
        sh.datbuf_lock = a;
        sh.outbuf_lock = b;
        setup.workers = workers;
        setup.breath = breath;
        setup.genposs = genposs.data();
        setup.grains = grains.data();
    }
    ~Counting() {
        mutex_close(a);
        mutex_close(b);
    }
};
}  // namespace

TEST(Schedule, Note256HandsOutFourAndThreeUnits) {
    Counting c(256, 3, 0.0);
    TimeMap tm;
    tm.stretch_len = 256;
    tm.stretch_rate = 1.0;
    ScheduleReport rep;
    testing::internal::CaptureStderr();
    run_schedule(c.sh, tm, c.setup, &rep);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rep.first_units, 4);
    EXPECT_EQ(rep.second_units, 3);
    EXPECT_NE(err.find("i=3 tinx="), std::string::npos) << err;
    // genposs holds the source position of output sample 0 only.
    EXPECT_DOUBLE_EQ(c.genposs[0], 0.5 - 0.25 * 256);
    EXPECT_EQ(c.genposs[1], 0.0);
}

TEST(Schedule, SkippedSecondPassReportsTheWorkerCount) {
    Counting c(1000, 5, 0.0);
    c.setup.second_pass = false;
    TimeMap tm;
    tm.stretch_len = 1000;
    tm.stretch_rate = 1.0;
    ScheduleReport rep;
    testing::internal::CaptureStderr();
    run_schedule(c.sh, tm, c.setup, &rep);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rep.first_units, 16);
    EXPECT_EQ(rep.second_units, 0);
    EXPECT_EQ(err.rfind("i=5 tinx=", 0), 0u) << err;
}

TEST(Schedule, OneWorkerReceivesEveryUnit) {
    Counting c(5000, 1, 0.5);
    TimeMap tm;
    tm.stretch_len = 5000;
    tm.stretch_rate = 1.0;
    ScheduleReport rep;
    testing::internal::CaptureStderr();
    run_schedule(c.sh, tm, c.setup, &rep);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rep.first_units, (5000 + 63) / 64);
    EXPECT_EQ(rep.second_units, 5000 / 256 + 2);
    EXPECT_EQ(rep.last_slot, 0);
    EXPECT_EQ(err, "i=21 tinx=0\n");
}

// What a note asks of the system does not grow with its units: with one
// worker no thread sleeps or is woken at all, and beside workers a thread
// sleeps or wakes at most twice per run handed out, plus a few times per
// worker at the passes' ends. (Locks and events are the process's own, so
// nothing else enters the system per unit.)
TEST(Schedule, SleepsAndWakesArePerRunNotPerUnit) {
    for (int workers : {1, 3}) {
        for (int outlen : {4410, 44100, 132300}) {
            Counting c(outlen, workers, 0.5);
            TimeMap tm;
            tm.stretch_len = outlen;
            tm.stretch_rate = 1.0;
            ScheduleReport rep;
            const EventCounts before = event_counts();
            run_schedule(c.sh, tm, c.setup, &rep);
            const EventCounts after = event_counts();
            const int64_t sleeps = after.sleeps - before.sleeps, wakes = after.wakes - before.wakes;
            const int64_t bound =
                workers == 1 ? 0 : 2 * (rep.first_runs + rep.second_runs) + 4 * rep.takers;
            EXPECT_LE(sleeps, bound) << workers << " workers, " << outlen << " samples";
            EXPECT_LE(wakes, bound) << workers << " workers, " << outlen << " samples";
        }
    }
}

// The schedule with any number of workers gives what the passes give unit by
// unit in order: the same doubles with one taker and in datbuf (whose sums
// have two terms, so their order cannot matter), and outbuf up to the order
// of its four-term sums; with breath, each unit's noise is its window of the
// one stream, however the units were split into runs.
TEST(Schedule, WorkersGiveWhatThePassesGiveInOrder) {
    const std::vector<double> vowel = velorin_test::make_vowel(44100, 0.3, 200.0);
    // A list that moves, so the walk's lookups and the modulation matter.
    const std::vector<double> freq = {190.0, 200.0, 215.0, 1.0, 205.0, 198.0};
    const double settings[][2] = {{0.0, 0.0}, {0.5, 0.0}, {0.5, 0.7}};  // breath, modulation
    for (const auto& bm : settings) {
        const double breath = bm[0], modulation = bm[1];
        auto ref = velorin_test::make_scene(vowel, 44100, freq, 6000, 300.0);
        std::vector<double> genposs;
        std::vector<std::vector<double>> noise;
        for (const FirstPassUnit& u :
             velorin_test::first_pass_units(*ref, 3000.0, 1.0, modulation, &genposs))
            resampling_pass(ref->sh, u);
        const std::vector<SecondPassUnit> units2 =
            velorin_test::second_pass_units(*ref, genposs, breath, 1.1, false, modulation, &noise);
        for (const SecondPassUnit& u : units2) envelope_breath_pass(ref->sh, u);
        double peak = 0.0;
        for (double v : ref->outbuf) peak = std::max(peak, std::fabs(v));

        const int workers_processors[][2] = {{1, 4}, {4, 4}, {4, 2}, {64, 64}};
        for (const auto& wp : workers_processors) {
            SCOPED_TRACE(testing::Message()
                         << breath << " " << modulation << " " << wp[0] << " " << wp[1]);
            auto sc = velorin_test::make_scene(vowel, 44100, freq, 6000, 300.0);
            std::vector<double> gp(6000 / 256 + 8, 0.0);
            std::vector<FirstPassUnit> grains(first_pass_units(6000));
            ScheduleSetup setup;
            setup.workers = wp[0];
            setup.processors = wp[1];
            setup.gender = units2[0].gender;
            setup.breath = units2[0].breath;
            setup.voiced_gain = units2[0].voiced_gain;
            setup.noise_gain = units2[0].noise_gain;
            setup.genposs = gp.data();
            setup.grains = grains.data();
            setup.modulation = modulation;
            setup.say_counts = false;
            TimeMap tm;
            tm.start_pos = 3000.0;
            tm.stretch_len = 6000;
            tm.head_rate = tm.stretch_rate = tm.tail_rate = 1.0;
            run_schedule(sc->sh, tm, setup, nullptr);
            ASSERT_EQ(sc->datbuf, ref->datbuf);
            if (wp[0] == 1) {
                ASSERT_EQ(sc->outbuf, ref->outbuf);
            } else {
                for (size_t i = 0; i < sc->outbuf.size(); ++i)
                    ASSERT_NEAR(sc->outbuf[i], ref->outbuf[i], peak * 1e-12) << i;
            }
        }
    }
}

// The reach bounds every position the first pass's walk takes, and is close.
TEST(TimeMap, WalkReachBoundsTheWalk) {
    for (bool reverse : {false, true}) {
        for (int outlen : {256, 1000, 44100}) {
            TimeMapInput in = region(600, 400, 100, 9100, outlen);
            in.head_velocity = 2.0;
            in.reverse = reverse;
            const TimeMap tm = build_time_map(in);
            double x = tm.start_pos, most = x;
            for (int j = 0; j < outlen; ++j) {
                most = std::max(most, x);
                x += time_map_rate(tm, j);
            }
            const double reach = walk_reach(tm, outlen);
            EXPECT_GE(reach, most);
            EXPECT_LT(reach, most + 4.0);
        }
    }
}
