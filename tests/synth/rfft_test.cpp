// tests/synth/rfft_test.cpp: the real transform pair, its tables and windows.
#include "synth/rfft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "platform/platform.h"
#include "synth/portable_trig.h"
#include "tests/support/synth_fixtures.h"
#include "tests/support/synth_reference.h"

using namespace velorin;
using velorin_test::make_rfft_tables;
using velorin_test::RfftTables;

namespace {

constexpr double two_pi = 6.283185307179586;

void forward(const RfftTables& t, std::vector<double>& a,
             SimdWidth lanes = simd_width_available()) {
    rfft_forward(lanes, t.n, a.data(), t.twiddles.data(), t.bitrev.data());
}
void inverse(const RfftTables& t, std::vector<double>& a,
             SimdWidth lanes = simd_width_available()) {
    rfft_inverse(lanes, t.n, a.data(), t.twiddles.data(), t.bitrev.data());
}

// The layout written as an O(n^2) sum: cosine parts at k, sine parts at n - k.
std::vector<double> naive_forward(const std::vector<double>& x) {
    const int n = static_cast<int>(x.size());
    std::vector<double> a(n, 0.0);
    for (int k = 0; k <= n / 2; ++k) {
        double c = 0, s = 0;
        for (int t = 0; t < n; ++t) {
            const double ph = two_pi * static_cast<double>((static_cast<long>(k) * t) % n) / n;
            c += x[t] * std::cos(ph);
            s += x[t] * std::sin(ph);
        }
        a[k] = c;
        if (k > 0 && k < n / 2) a[n - k] = s;
    }
    return a;
}

std::vector<double> test_block(int n) {
    std::vector<double> x(n);
    for (int i = 0; i < n; ++i) x[i] = std::sin(i * 0.1234) * 100.0 + ((i * 7919) % 61) - 30.0;
    return x;
}

unsigned reverse_bits(unsigned v, int bits) {
    unsigned r = 0;
    for (int b = 0; b < bits; ++b) r |= ((v >> b) & 1u) << (bits - 1 - b);
    return r;
}

}  // namespace

TEST(RfftTables, BitReversalTableFor1024) {
    const RfftTables t = make_rfft_tables(1024);
    const int32_t head[8] = {0, 512, 256, 768, 128, 640, 384, 896};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(t.bitrev[i], head[i]);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(t.bitrev[i], static_cast<int32_t>(reverse_bits(i, 5)) * 32);
    for (size_t i = 32; i < t.bitrev.size(); ++i) EXPECT_EQ(t.bitrev[i], 0) << i;
}

TEST(RfftTables, BitReversalNotRebuiltOverANonZeroTable) {
    std::vector<int32_t> ip(40, 0);
    ip[0] = 5;
    build_bitrev(1024, ip.data());
    EXPECT_EQ(ip[1], 0);
}

// The tables' sines and cosines are the true values within about half a unit
// in the last place, computed without the C runtime so every build holds the
// same doubles; near pi/2 too, where the cosine is tiny.
TEST(RfftTables, TwiddlesAndWindowsHoldAccurateValues) {
    const RfftTables t = make_rfft_tables(1024);
    const double d = two_pi / 1024;
    for (int i = 0; i < 1024; ++i) {
        EXPECT_NEAR(t.twiddles[2 * i], std::cos(i * d), 1.2e-16) << i;
        EXPECT_NEAR(t.twiddles[2 * i + 1], std::sin(i * d), 1.2e-16) << i;
    }
    EXPECT_EQ(t.twiddles[0], 1.0);
    EXPECT_EQ(t.twiddles[1], 0.0);
    EXPECT_EQ(t.twiddles[2 * 256], 6.123233995736766e-17);  // cos of the double nearest pi/2
    EXPECT_EQ(t.twiddles[2 * 256 + 1], 1.0);
    EXPECT_EQ(t.twiddles[2 * 512], -1.0);
    EXPECT_EQ(t.twiddles[2 * 768 + 1], -1.0);

    const velorin_test::Windows w = velorin_test::make_windows(128);
    EXPECT_EQ(w.hann[0], 0.0);
    EXPECT_EQ(w.hann[64], 1.0);
    EXPECT_EQ(w.sine[64], 1.0);
    EXPECT_NEAR(w.sine[32], std::sqrt(0.5), 1.2e-16);
    for (int i = 0; i < 64; ++i) EXPECT_NEAR(w.hann[i] + w.hann[i + 64], 1.0, 5e-16) << i;
}

// The compiler's tables for the sizes the program uses are the run-time
// evaluation, bit for bit (a compiler folding a step differently would show
// here first); other sizes are evaluated at run time.
TEST(RfftTables, CompiledTablesAreTheRunTimeEvaluation) {
    for (int n : {1024, 128, 256}) {
        SCOPED_TRACE(n);
        std::vector<double> tw(2 * n), tw_run(2 * n), hann(n), sine(n), hann_run(n), sine_run(n);
        build_twiddles(tw.data(), n);
        build_twiddles_computed(tw_run.data(), n);
        EXPECT_EQ(0, std::memcmp(tw.data(), tw_run.data(), tw.size() * sizeof(double)));
        build_windows(hann.data(), sine.data(), n);
        build_windows_computed(hann_run.data(), sine_run.data(), n);
        EXPECT_EQ(0, std::memcmp(hann.data(), hann_run.data(), hann.size() * sizeof(double)));
        EXPECT_EQ(0, std::memcmp(sine.data(), sine_run.data(), sine.size() * sizeof(double)));
    }
}

// Every size's permutation is the standard bit reversal, for even and odd
// powers of two.
class RfftSize : public testing::TestWithParam<int> {};

TEST_P(RfftSize, ForwardMatchesNaiveSums) {
    const int n = GetParam();
    const RfftTables t = make_rfft_tables(n);
    std::vector<double> a = test_block(n);
    const std::vector<double> want = naive_forward(a);
    forward(t, a);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(a[i], want[i], 1e-9 * n * 100) << "position " << i;
}

TEST_P(RfftSize, ForwardThenInverseScalesByHalfN) {
    const int n = GetParam();
    const RfftTables t = make_rfft_tables(n);
    const std::vector<double> x = test_block(n);
    std::vector<double> a = x;
    forward(t, a);
    inverse(t, a);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(a[i], x[i] * (n / 2), 1e-9 * n) << "position " << i;
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, RfftSize, testing::Values(4, 8, 16, 32, 64, 128, 512, 1024));

TEST(Rfft, ImpulseGivesOnesInTheCosineHalf) {
    const RfftTables t = make_rfft_tables(1024);
    std::vector<double> a(1024, 0.0);
    a[0] = 1.0;
    forward(t, a);
    for (int i = 0; i < 1024; ++i) EXPECT_EQ(a[i], i <= 512 ? 1.0 : 0.0) << "position " << i;
}

TEST(Rfft, ConstantGoesToBinZeroAndBack) {
    const RfftTables t = make_rfft_tables(1024);
    std::vector<double> a(1024, 0.75);
    forward(t, a);
    for (int i = 0; i < 1024; ++i) EXPECT_EQ(a[i], i == 0 ? 768.0 : 0.0) << "position " << i;
    inverse(t, a);
    for (int i = 0; i < 1024; ++i) EXPECT_EQ(a[i], 384.0) << "position " << i;
}

TEST(Rfft, CosineAndSineOfBinKLandAtKAndNMinusK) {
    constexpr int n = 1024;
    const RfftTables t = make_rfft_tables(n);
    for (int k : {1, 37, 255, 511}) {
        std::vector<double> c(n), s(n);
        for (int i = 0; i < n; ++i) {
            c[i] = std::cos(two_pi * k * i / n);
            s[i] = std::sin(two_pi * k * i / n);
        }
        forward(t, c);
        forward(t, s);
        for (int j = 0; j < n; ++j) {
            EXPECT_NEAR(c[j], j == k ? n / 2.0 : 0.0, 1e-9) << "cos k=" << k << " position " << j;
            EXPECT_NEAR(s[j], j == n - k ? n / 2.0 : 0.0, 1e-9)
                << "sin k=" << k << " position " << j;
        }
    }
}

TEST(Rfft, NyquistBinIsASingleValue) {
    const RfftTables t = make_rfft_tables(1024);
    std::vector<double> a(1024);
    for (int i = 0; i < 1024; ++i) a[i] = (i % 2) ? -1.0 : 1.0;
    forward(t, a);
    for (int j = 0; j < 1024; ++j) EXPECT_NEAR(a[j], j == 512 ? 1024.0 : 0.0, 1e-9) << j;
}

TEST(PortableTrig, FollowsTheRuntimeWithinAUnitInTheLastPlace) {
    for (double x = -1000.0; x < 1000.0; x += 0.3779) {
        EXPECT_NEAR(portable_sin(x), std::sin(x), 2.3e-16) << x;
        EXPECT_NEAR(portable_cos(x), std::cos(x), 2.3e-16) << x;
    }
    EXPECT_EQ(portable_sin(0.0), 0.0);
    EXPECT_EQ(portable_cos(0.0), 1.0);
    EXPECT_EQ(portable_cos(6.283185307179586), 1.0);
}

// The transforms give the very doubles of their stages run one butterfly at a
// time on the bit-reversed block, whichever lanes carry the butterflies.
TEST(Rfft, SameBitsAsTheButterfliesOneAtATime) {
    for (int n : {4, 8, 16, 64, 512, 1024}) {
        const RfftTables t = make_rfft_tables(n);
        int bits = 0;
        while ((1 << bits) < n) ++bits;
        const auto reversed = [bits](int i) {
            int r = 0;
            for (int b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
            return r;
        };
        std::vector<double> x(n), ref(n);
        for (int i = 0; i < n; ++i) x[i] = std::sin(i * 0.731) * 1000 + (i % 7) * 13.25;
        for (int i = 0; i < n; ++i) ref[i] = x[reversed(i)];
        velorin_test::reference_rfft_stages(n, ref.data(), t.twiddles.data());
        std::vector<double> back = ref;
        velorin_test::reference_rfft_inverse_stages(n, back.data(), t.twiddles.data());
        for (SimdWidth lanes : velorin_test::every_width()) {
            std::vector<double> y = x;
            forward(t, y, lanes);
            for (int i = 0; i < n; ++i) ASSERT_EQ(y[i], ref[i]) << n << " " << i;
            inverse(t, y, lanes);
            for (int i = 0; i < n; ++i) ASSERT_EQ(y[i], back[reversed(i)]) << n << " " << i;
        }
    }
}

uint64_t bits_of(double v) {
    uint64_t b = 0;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// Random blocks of every magnitude, subnormal to near overflow, give the very
// bits of the stages run one butterfly at a time at every lane width, and the values around the
// block stay as they were. The sizes take every path: the one-by-one stages
// below 16 and above 2048, one block or several side by side in the fused
// first and last stages.
class RfftSameBits : public testing::TestWithParam<int> {};

TEST_P(RfftSameBits, RandomBlocksForwardAndInverse) {
    const int n = GetParam();
    const RfftTables t = make_rfft_tables(n);
    int bits = 0;
    while ((1 << bits) < n) ++bits;
    std::mt19937_64 rng(static_cast<uint64_t>(n));
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    constexpr int guard = 5;
    for (const double scale : {1.0, 4.0e4, 1.0e-310, 1.0e290}) {
        std::vector<double> x(n + 2 * guard), y(n + 2 * guard);
        for (double& v : x) v = uniform(rng) * scale;
        for (double& v : y) v = uniform(rng) * scale;
        std::vector<double> want(n), back(y.begin() + guard, y.end() - guard);
        for (int i = 0; i < n; ++i) want[i] = x[guard + reverse_bits(i, bits)];
        velorin_test::reference_rfft_stages(n, want.data(), t.twiddles.data());
        velorin_test::reference_rfft_inverse_stages(n, back.data(), t.twiddles.data());
        const std::vector<double> x0 = x, y0 = y;
        for (SimdWidth lanes : velorin_test::every_width()) {
            x = x0;
            y = y0;
            rfft_forward(lanes, n, x.data() + guard, t.twiddles.data(), t.bitrev.data());
            rfft_inverse(lanes, n, y.data() + guard, t.twiddles.data(), t.bitrev.data());
            for (int i = 0; i < n; ++i) {
                ASSERT_EQ(bits_of(x[guard + i]), bits_of(want[i]))
                    << "forward " << scale << " " << i;
                ASSERT_EQ(bits_of(y[guard + i]), bits_of(back[reverse_bits(i, bits)]))
                    << "inverse " << scale << " " << i;
            }
            for (int g = 0; g < guard; ++g) {
                for (const int i : {g, n + guard + g}) {
                    EXPECT_EQ(bits_of(x[i]), bits_of(x0[i])) << "forward wrote " << i - guard;
                    EXPECT_EQ(bits_of(y[i]), bits_of(y0[i])) << "inverse wrote " << i - guard;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPath, RfftSameBits,
                         testing::Values(2, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096));

// Round trips of one block, scaled back each time, as one thread runs them.
struct RoundTrips {
    const RfftTables* tables = nullptr;
    std::vector<double> block;
};

void run_round_trips(void* arg) {
    RoundTrips* job = static_cast<RoundTrips*>(arg);
    const double back = 2.0 / job->tables->n;  // a power of two: exact
    for (int round = 0; round < 200; ++round) {
        forward(*job->tables, job->block);
        inverse(*job->tables, job->block);
        for (double& v : job->block) v *= back;
    }
}

// Threads transforming their own blocks at once, with the two sizes the
// programs use, get the very bits each block gets alone.
TEST(RfftThreads, EachBlockGetsTheBitsItGetsAlone) {
    const RfftTables small = make_rfft_tables(1024), large = make_rfft_tables(2048);
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<RoundTrips> jobs(6), alone;
    for (size_t i = 0; i < jobs.size(); ++i) {
        jobs[i].tables = i % 2 ? &large : &small;
        jobs[i].block.resize(static_cast<size_t>(jobs[i].tables->n));
        for (double& v : jobs[i].block) v = uniform(rng);
    }
    alone = jobs;
    for (RoundTrips& job : alone) run_round_trips(&job);
    std::vector<Thread*> threads;
    for (RoundTrips& job : jobs) threads.push_back(thread_start(run_round_trips, &job));
    for (Thread* t : threads) {
        ASSERT_NE(t, nullptr);
        thread_join(t);
    }
    for (size_t i = 0; i < jobs.size(); ++i)
        for (size_t k = 0; k < jobs[i].block.size(); ++k)
            ASSERT_EQ(bits_of(jobs[i].block[k]), bits_of(alone[i].block[k])) << i << " " << k;
}
