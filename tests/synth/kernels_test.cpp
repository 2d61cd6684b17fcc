// tests/synth/kernels_test.cpp: frame-series lookups, the source phase table,
// the phase-aligned source position and the spectrum smoothing.
#include "synth/kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "synth/smoothed_power.h"
#include "tests/support/synth_fixtures.h"
#include "tests/support/synth_reference.h"

using namespace velorin;

namespace {

const double nan_value = std::numeric_limits<double>::quiet_NaN();

double lookup(double x, const std::vector<double>& v) {
    return series_value_at(x, v.data(), static_cast<int>(v.size()) - 1, 100, 1.0, 55.0, 300.0);
}

}  // namespace

TEST(SeriesValueAt, InterpolatesLinearlyBetweenFrames) {
    const std::vector<double> v = {200, 210, 230, 260, 999};
    EXPECT_EQ(lookup(0, v), 200.0);
    EXPECT_EQ(lookup(100, v), 210.0);
    EXPECT_DOUBLE_EQ(lookup(150, v), 220.0);
    EXPECT_DOUBLE_EQ(lookup(275, v), 252.5);
}

TEST(SeriesValueAt, InvalidValuesReadAsTheFallback) {
    // <= lo, == bad and NaN are invalid; 55.0 only when it is exactly 55.
    const std::vector<double> v = {1.0, 55.0, 0.5, nan_value, 55.000001, -3.0, 400};
    EXPECT_EQ(lookup(0, v), 300.0);
    EXPECT_EQ(lookup(100, v), 300.0);
    EXPECT_EQ(lookup(200, v), 300.0);
    EXPECT_EQ(lookup(300, v), 300.0);
    EXPECT_EQ(lookup(400, v), 55.000001);
    EXPECT_DOUBLE_EQ(lookup(350, v), 0.5 * 300.0 + 0.5 * 55.000001);
    EXPECT_EQ(lookup(500, v), 300.0);
}

TEST(SeriesValueAt, PositionsBeforeTheStartAndPastTheEnd) {
    const std::vector<double> v = {200, 210, 230, 260, 280};  // count 4, entry 4 the end value
    EXPECT_EQ(lookup(-0.5, v), 200.0);
    EXPECT_EQ(lookup(-1e9, v), 200.0);
    EXPECT_DOUBLE_EQ(lookup(350, v), 0.5 * 260 + 0.5 * 280);  // frame 3 to the end value
    EXPECT_EQ(lookup(400, v), 280.0);
    EXPECT_EQ(lookup(123456.0, v), 280.0);
    EXPECT_EQ(lookup(1e300, v), 280.0);
    EXPECT_EQ(lookup(std::numeric_limits<double>::infinity(), v), 280.0);
    EXPECT_EQ(lookup(nan_value, v), 200.0);
    const std::vector<double> bad_start = {1.0, 210, 230, 260, 280};
    EXPECT_EQ(lookup(-5, bad_start), 300.0);
}

TEST(SeriesValueAt, EmptySeriesReadsItsEndValue) {
    const std::vector<double> v = {250};
    EXPECT_EQ(lookup(-3, v), 250.0);
    EXPECT_EQ(lookup(0, v), 250.0);
    EXPECT_EQ(lookup(1000, v), 250.0);
}

// ---------------------------------------------------------------------------

namespace {

constexpr int kStep = 256;
constexpr double kRate = 44100.0;

struct PhaseSetup {
    std::vector<double> freq;
    std::vector<double> table;
    int frames;
};

PhaseSetup constant_setup(double f, int64_t ssize) {
    PhaseSetup s;
    s.frames = static_cast<int>(ssize / kStep);
    s.freq.assign(s.frames + 1, f);
    s.table.assign(s.frames + 1, -1.0);
    build_phase_table(s.freq.data(), s.frames, kStep, f, ssize, kRate, s.table.data(), s.frames);
    return s;
}

double aligned(const PhaseSetup& s, double p, double q) {
    return aligned_source_position(p, q, s.freq.data(), static_cast<int>(s.freq.size()) - 1,
                                   s.table.data(), s.frames, kStep, 1.0, 55.0, 200.0, kRate);
}

}  // namespace

TEST(PhaseTable, ConstantFrequencyGrowsByOneFramesCyclesPerEntry) {
    const PhaseSetup s = constant_setup(220.0, 10 * kStep + 100);
    ASSERT_EQ(s.frames, 10);
    for (int k = 0; k < 10; ++k) EXPECT_NEAR(s.table[k], k * kStep * 220.0 / kRate, 1e-9) << k;
    EXPECT_EQ(s.table[10], s.table[9]);  // the last entry repeats its predecessor
}

TEST(PhaseTable, FollowsAChangingFrequencyAndNeverDecreases) {
    std::vector<double> freq = {100, 200, 55.0, 0.0, 1.0, 300};
    std::vector<double> table(6, -1.0);
    build_phase_table(freq.data(), 5, kStep, 150.0, 5 * kStep, kRate, table.data(), 5);
    EXPECT_EQ(table[0], 0.0);
    for (int k = 1; k < 6; ++k) EXPECT_GE(table[k], table[k - 1]);
    // Frames 2 to 4 are missing and read as the average. (Each sample is
    // looked up a quarter step early, so entry 3 to 4 reads only them.)
    EXPECT_NEAR(table[4] - table[3], kStep * 150.0 / kRate, 1e-12);
    EXPECT_GT(table[3] - table[2], kStep * 150.0 / kRate);
}

// The table holds the very doubles of the sum of series_value_at over every
// sample, whatever the step (powers of two and others, where the frame of a
// sample changes at another point of each entry), rate, list length, invalid
// frames and however many terms are computed side by side.
TEST(PhaseTable, SameDoublesAsTheSumOfEverySample) {
    struct Case {
        int step, count, frames;
        int64_t extra;
        double rate;
    };
    for (const Case& c : {Case{256, 40, 40, 77, 44100.0}, Case{128, 30, 45, 0, 22050.0},
                          Case{512, 50, 20, 300, 96000.0}, Case{64, 0, 3, 5, 8000.0},
                          Case{100, 40, 40, 33, 44100.0}, Case{1, 20, 500, 0, 44100.0},
                          Case{2, 300, 300, 1, 48000.0}, Case{3, 200, 200, 2, 44100.0},
                          Case{7, 90, 100, 6, 11025.0}, Case{441, 12, 15, 440, 44100.0}}) {
        std::vector<double> freq(c.count + 1);
        for (int k = 0; k <= c.count; ++k)
            freq[k] = k % 7 == 3 ? 55.0 : k % 11 == 5 ? 0.5 : 180 + 13.7 * k;
        const int64_t ssize = int64_t(c.frames) * c.step + c.extra;
        std::vector<double> plain(c.frames + 1, -1.0);
        double sum = 0.0;
        for (int64_t j = 0; j < ssize; ++j) {
            if (j % c.step == 0 && j / c.step <= c.frames) plain[j / c.step] = sum;
            sum += series_value_at(j + 0.5 - 0.25 * c.step, freq.data(), c.count, c.step, 1.0, 55.0,
                                   201.5) /
                   c.rate;
        }
        if (c.frames > 0) plain[c.frames] = plain[c.frames - 1];
        for (SimdWidth lanes : velorin_test::every_width()) {
            std::vector<double> table(c.frames + 1, -1.0);
            build_phase_table_upto(freq.data(), c.count, c.step, 201.5, ssize, c.rate, table.data(),
                                   c.frames, std::nan(""), lanes);
            for (int k = 0; k <= c.frames; ++k)
                ASSERT_EQ(table[k], plain[k])
                    << c.step << " " << simd_width_name(lanes) << " " << k;
        }
    }
}

// A table built only as far as a reach gives every position up to the reach
// the same aligned position as the whole table.
TEST(PhaseTable, PartialTableServesEveryPositionUpToItsReach) {
    const int frames = 400;
    std::vector<double> freq(frames + 1);
    for (int k = 0; k <= frames; ++k) freq[k] = k % 9 == 4 ? 0.0 : 150 + 90 * std::sin(k * 0.07);
    const int64_t ssize = int64_t(frames) * kStep + 31;
    std::vector<double> whole(frames + 1), part(frames + 1, 0.0);
    build_phase_table(freq.data(), frames, kStep, 170.0, ssize, kRate, whole.data(), frames);
    for (double reach : {-50.0, 700.0, 20000.3, 90000.0}) {
        std::fill(part.begin(), part.end(), 0.0);
        const int e = build_phase_table_upto(freq.data(), frames, kStep, 170.0, ssize, kRate,
                                             part.data(), frames, reach, simd_width_available());
        ASSERT_LT(e, frames) << reach;
        for (int k = 0; k <= e; ++k) ASSERT_EQ(part[k], whole[k]) << k;
        for (double p = -10.0; p <= reach; p += 37.3)
            for (double q : {0.0, 0.3, 0.97})
                ASSERT_EQ(aligned_source_position(p, q, freq.data(), frames, part.data(), frames,
                                                  kStep, 1.0, 55.0, 170.0, kRate),
                          aligned_source_position(p, q, freq.data(), frames, whole.data(), frames,
                                                  kStep, 1.0, 55.0, 170.0, kRate))
                    << reach << " " << p;
    }
    EXPECT_EQ(build_phase_table_upto(freq.data(), frames, kStep, 170.0, ssize, kRate, part.data(),
                                     frames, std::nan(""), SimdWidth::scalar),
              frames);
}

TEST(PhaseTable, SampleShorterThanOneStepHasOneEntry) {
    std::vector<double> freq = {200.0};
    std::vector<double> guarded = {-7.0, -1.0, -7.0};
    build_phase_table(freq.data(), 0, kStep, 200.0, 100, kRate, guarded.data() + 1, 0);
    EXPECT_EQ(guarded[1], 0.0);
    EXPECT_EQ(guarded[0], -7.0);
    EXPECT_EQ(guarded[2], -7.0);
    guarded[1] = -1.0;
    build_phase_table(freq.data(), 0, kStep, 200.0, 0, kRate, guarded.data() + 1, 0);
    EXPECT_EQ(guarded[1], 0.0);
}

// With a constant frequency the aligned position has the target phase's
// fraction, and lies at most half a period from p.
TEST(AlignedSourcePosition, MatchesTheTargetPhaseWithinHalfAPeriod) {
    const double f = 200.0;
    const PhaseSetup s = constant_setup(f, 40 * kStep);
    const double period = kRate / f;
    for (double p = 0.0; p < 38 * kStep; p += 97.3) {
        for (double q : {0.0, 0.25, 0.5, 0.75, 3.9, 17.125}) {
            const double x = aligned(s, p, q);
            const double cycles = x * f / kRate;
            double d = (cycles - std::floor(cycles)) - (q - std::floor(q));
            d -= std::round(d);
            EXPECT_NEAR(d, 0.0, 1e-9) << "p=" << p << " q=" << q;
            EXPECT_LE(std::fabs(x - p), 0.5 * period + 1e-6) << "p=" << p << " q=" << q;
        }
    }
}

TEST(AlignedSourcePosition, FollowsALinearFrequencyChange) {
    // The frequency rises by 20 Hz per frame: the phase inside a frame is a
    // quadratic, and the position's phase still has the target's fraction.
    PhaseSetup s;
    s.frames = 30;
    for (int k = 0; k <= 30; ++k) s.freq.push_back(150.0 + 20.0 * k);
    s.table.assign(31, 0.0);
    for (int k = 1; k <= 30; ++k)
        s.table[k] = s.table[k - 1] + kStep * (s.freq[k - 1] + s.freq[k]) * 0.5 / kRate;
    s.table[30] = s.table[29];
    for (double p = 300.0; p < 28 * kStep; p += 311.7) {
        const double x = aligned(s, p, 0.4);
        const int k = static_cast<int>(x / kStep);
        const double f = x / kStep - k;
        const double l = s.freq[k] / kRate, r = s.freq[k + 1] / kRate;
        const double phase = s.table[k] + kStep * f * (l + 0.5 * (r - l) * f);
        EXPECT_NEAR(phase - std::floor(phase), 0.4, 1e-9) << p;
    }
}

// Positions past the table, a table longer than the list, a one-entry table
// and unusable inputs: the result is a number and nothing is read outside the
// arrays (the sanitizer builds check the reads).
TEST(AlignedSourcePosition, StaysInsideItsTables) {
    const PhaseSetup s = constant_setup(200.0, 8 * kStep);
    for (double p : {8.0 * kStep, 9.5 * kStep, 1e7, 1e300})
        EXPECT_TRUE(std::isfinite(aligned(s, p, 0.3))) << p;
    EXPECT_TRUE(std::isfinite(aligned(s, -500.0, 0.3)));

    // The list has fewer frames than the table: entry count stands in.
    std::vector<double> short_list = {200, 200, 200, 200};
    const double x = aligned_source_position(7.5 * kStep, 0.3, short_list.data(), 3, s.table.data(),
                                             s.frames, kStep, 1.0, 55.0, 200.0, kRate);
    EXPECT_TRUE(std::isfinite(x));

    std::vector<double> one = {0.0};
    std::vector<double> freq = {200.0};
    for (double p : {0.0, 50.0, 5000.0})
        EXPECT_TRUE(std::isfinite(aligned_source_position(p, 0.7, freq.data(), 0, one.data(), 0,
                                                          kStep, 1.0, 55.0, 200.0, kRate)));
    aligned(s, nan_value, 0.3);
    aligned(s, 1000.0, nan_value);
}

// ---------------------------------------------------------------------------

TEST(SmoothingWeight, ValuesOfThePolynomial) {
    EXPECT_EQ(smoothing_weight(0.0), 1.0);
    EXPECT_EQ(smoothing_weight(1.0), 0.0);
    EXPECT_EQ(smoothing_weight(-1.0), 0.0);
    EXPECT_DOUBLE_EQ(smoothing_weight(0.5), 3.75 * 0.75 * 4.0 / 20.25);
    for (double x = 0.05; x < 1.0; x += 0.05) {
        EXPECT_EQ(smoothing_weight(x), smoothing_weight(-x));
        EXPECT_LT(smoothing_weight(x), smoothing_weight(x - 0.05));
        EXPECT_GT(smoothing_weight(x), 0.0);
    }
}

// The smoothing sums with the weights computed once per width and the bins
// side by side; the result equals the sum written bin by bin, bit for bit.
TEST(SmoothedSpectrum, EqualsThePerBinSumExactly) {
    std::vector<double> p(spectrum_bins);
    for (int k = 0; k < spectrum_bins; ++k) p[k] = std::exp(std::sin(k * 0.37) * 6.0) + k * 0.01;
    for (SimdWidth lanes : velorin_test::every_width())
        for (double w : {0.3, 1.0, 1.5, 3.7, 8.55, 14.3, 40.0, 333.3}) {
            std::vector<double> fast(spectrum_bins), ref(spectrum_bins);
            smoothed_spectrum(lanes, p.data(), w, fast.data());
            velorin_test::reference_smoothed_spectrum(p.data(), w, ref.data());
            for (int k = 0; k < spectrum_bins; ++k)
                ASSERT_EQ(fast[k], ref[k])
                    << "width " << w << " bin " << k << " " << simd_width_name(lanes);
        }
}

// The power spectrum (four bins at a time where it can) and its smoothing in
// one call: the doubles of the power written bin by bin, smoothed as above.
TEST(SmoothedSpectrum, PowerAndSmoothingInOneCallEqualTheSteps) {
    std::vector<double> x(spectrum_block), p(spectrum_bins), fast(spectrum_bins);
    std::vector<double> ref(spectrum_bins);
    for (int i = 0; i < spectrum_block; ++i) x[i] = std::sin(i * 0.91) * (1000.0 + i);
    for (int k = 0; k < spectrum_bins; ++k)
        p[k] = k == 0 || k == 512 ? x[k] * x[k] : x[k] * x[k] + x[1024 - k] * x[1024 - k];
    for (SimdWidth lanes : velorin_test::every_width()) {
        power_spectrum(lanes, x.data(), fast.data());
        EXPECT_EQ(0, std::memcmp(fast.data(), p.data(), spectrum_bins * sizeof(double)));
        for (double w : {0.5, 1.0, 7.2, 14.3, 33.9, 500.0}) {
            smoothed_power_spectrum(lanes, x.data(), w, fast.data());
            velorin_test::reference_smoothed_spectrum(p.data(), w, ref.data());
            EXPECT_EQ(0, std::memcmp(fast.data(), ref.data(), spectrum_bins * sizeof(double)))
                << "width " << w << " " << simd_width_name(lanes);
        }
    }
}

TEST(SmoothedSpectrum, MirrorsAtBinZeroAndStopsAt512) {
    std::vector<double> p(spectrum_bins, 0.0), out(spectrum_bins);
    p[2] = 1.0;
    smoothed_spectrum(SimdWidth::scalar, p.data(), 5.0, out.data());
    // Bin 0 sees bin 2 at t = 2 and, mirrored, at t = -2.
    EXPECT_EQ(out[0], 2 * smoothing_weight(0.4));
    EXPECT_EQ(out[1], smoothing_weight(0.2) + smoothing_weight(-0.6));
    EXPECT_EQ(out[7], smoothing_weight(-1.0));
    EXPECT_EQ(out[8], 0.0);

    std::fill(p.begin(), p.end(), 1.0);
    smoothed_spectrum(SimdWidth::scalar, p.data(), 3.0, out.data());
    double full = 0;
    for (int t = -3; t <= 3; ++t) full += smoothing_weight(t / 3.0);
    EXPECT_EQ(out[200], full);
    EXPECT_LT(out[512], out[511]);  // truncated sums near the top
    // A width below 1 keeps only the centre bin, with weight 1.
    smoothed_spectrum(SimdWidth::scalar, p.data(), 0.6, out.data());
    EXPECT_EQ(out[100], 1.0);
}
