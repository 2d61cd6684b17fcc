// tests/synth/noise_test.cpp: the breath's noise stream.
#include "synth/noise.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace velorin;

TEST(Noise, NoiseFollowsTheRuntimeGeneratorFromStateOne) {
    // The first values of the generator as every build must draw them.
    CrtRand r;
    const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358};
    for (int e : expected) EXPECT_EQ(crt_rand(r), e);
    CrtRand n;
    EXPECT_DOUBLE_EQ(noise_value(n), 41 * 32768.0 / 32767.0 - 16384.0);
    // Uniform over -16384..16384.
    CrtRand m;
    double lo = 0, hi = 0;
    for (int i = 0; i < 100000; ++i) {
        const double v = noise_value(m);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    EXPECT_NEAR(lo, -16384.0, 2.0);
    EXPECT_NEAR(hi, 16384.0, 2.0);
}

// A run of second-pass units starts its noise by skipping the generator to
// its first block: the same state as drawing every value before it.
TEST(Noise, SkippingTheGeneratorMatchesDrawing) {
    for (uint64_t n : {0u, 1u, 2u, 255u, 256u, 768u, 44544u, 1000003u}) {
        CrtRand drawn, skipped;
        for (uint64_t i = 0; i < n; ++i) crt_rand(drawn);
        crt_rand_skip(skipped, n);
        EXPECT_EQ(skipped.state, drawn.state) << n;
    }
}

// The noise in bulk is the noise one value at a time, bit for bit, from any
// state, and leaves the generator where single draws leave it.
TEST(Noise, NoiseInBulkIsTheSameValuesAndState) {
    for (uint64_t skip : {0u, 1u, 767u, 44544u}) {
        for (int n : {0, 1, 2, 3, 256, 1023, 1024}) {
            CrtRand one, bulk;
            crt_rand_skip(one, skip);
            crt_rand_skip(bulk, skip);
            std::vector<double> want(static_cast<size_t>(n)), got(want.size() + 1, -1.0);
            for (double& v : want) v = noise_value(one);
            fill_noise(bulk, got.data(), n);
            if (n > 0) {  // an empty vector's data may be null, which memcmp must not get
                EXPECT_EQ(std::memcmp(got.data(), want.data(), want.size() * sizeof(double)), 0)
                    << skip << " " << n;
            }
            EXPECT_EQ(got[want.size()], -1.0) << n;  // nothing past the end
            EXPECT_EQ(bulk.state, one.state) << skip << " " << n;
        }
    }
}
