// tests/frq/period_test.cpp: the per-frame period estimate against its straightforward form.
#include "frq/period.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "frq/period_kernels.h"
#include "synth/kernels.h"
#include "tests/support/frq_reference.h"
#include "tests/support/support.h"
#include "tests/support/synth_fixtures.h"

namespace {

using velorin::estimate_period;
using velorin_test::analysis_bytes;
using velorin_test::PreparedSignal;

// Analysis settings by rate, as the driver chooses them.
void settings_for(int rate, int* n, int* step) {
    if (rate <= 14999) {
        *n = 512;
        *step = 64;
    } else if (rate <= 29999) {
        *n = 720;
        *step = 128;
    } else if (rate <= 59999) {
        *n = 1024;
        *step = 256;
    } else {
        *n = 2048;
        *step = 512;
    }
}

TEST(AnalysisWindows, MatchTheRaisedCosineFormulas) {
    std::vector<velorin::AnalysisWindows> w(1);
    for (int n : {512, 720, 1024, 2048}) {
        velorin::build_analysis_windows(n, &w[0]);
        const std::vector<double> aw = velorin_test::reference_analysis_window(n);
        const std::vector<double> ew = velorin_test::reference_energy_window(n);
        for (int i = 0; i < n; ++i) ASSERT_EQ(w[0].analysis[i], aw[i]) << n << " " << i;
        for (int j = 0; j <= n + n / 2; ++j) ASSERT_EQ(w[0].energy[j], ew[j]) << n << " " << j;
        EXPECT_EQ(w[0].energy[0], 0.0);
        EXPECT_NEAR(w[0].energy[n + n / 2], 0.0, 1e-15);
    }
}

// The low-passed signal shared by all frames equals the reader at every
// integer position, including the first ones, where taps fall before the start.
// The difference function side by side: every lag of every range, whatever
// its first lag's parity and however far its last group runs past the top
// lag (up to 3 N / 4, where the reads reach the ends of the buffer), is the
// plain ordered sum, bit for bit, and nothing is written outside the room
// the caller gives (one value before, 32 after).
TEST(LagDifferences, EveryLagOfEveryRangeIsThePlainSum) {
    for (const int n : {720, 1024}) {
        velorin::AnalysisWindows w;
        velorin::build_analysis_windows(n, &w);
        const int l = n + n / 2, c = n / 8 + n / 4, m_count = n / 2 + n / 4;
        const std::vector<double> buf = velorin_test::make_noise(l, 1.0, 1.0, 7);  // l values
        auto plain = [&](int tau) {
            double s = 0.0;
            for (int m = 0; m < m_count; ++m) {
                const double diff =
                    buf[size_t(c - tau / 2 + m)] - buf[size_t(c - tau / 2 + m + tau)];
                s += w.energy_even[m] * (diff * diff);
            }
            return s;
        };
        std::vector<double> want(size_t(m_count) + 1);
        for (int tau = 0; tau <= m_count; ++tau) want[size_t(tau)] = plain(tau);
        for (const velorin::SimdWidth lanes : velorin_test::every_width()) {
            const auto kernel = velorin::period_kernels(lanes).lag_differences;
            if (!kernel) continue;
            for (int max_lag = m_count - 3; max_lag <= m_count; ++max_lag)
                for (int min_lag = max_lag - 70; min_lag <= max_lag; ++min_lag) {
                    std::vector<double> d(size_t(max_lag - min_lag) + 1 + 1 + 32 + 1, -1.0);
                    EXPECT_EQ(kernel(buf.data(), w.energy_even, n, min_lag & ~1, min_lag, max_lag,
                                     0, d.data() + 1),
                              max_lag + 1);
                    for (int tau = min_lag; tau <= max_lag; ++tau)
                        ASSERT_EQ(d[size_t(tau - min_lag) + 1], want[size_t(tau)])
                            << velorin::simd_width_name(lanes) << " n " << n << " lags " << min_lag
                            << ".." << max_lag << " lag " << tau;
                    if (min_lag % 2 == 0) {
                        EXPECT_EQ(d.front(), -1.0);
                    }
                    EXPECT_EQ(d.back(), -1.0);
                }
            // Stopping at a count of candidates: the lags done are the plain
            // sums, and an early stop has found that many.
            int early = 0;
            for (const int stop_at : {1, 2, 4, 9}) {
                const int min_lag = 49, max_lag = m_count;
                std::vector<double> d(size_t(max_lag - min_lag) + 1 + 1 + 32 + 1, -1.0);
                double* d0 = d.data() + 1;
                const int next = kernel(buf.data(), w.energy_even, n, min_lag & ~1, min_lag,
                                        max_lag, stop_at, d0);
                ASSERT_LE(next, max_lag + 1);
                for (int tau = min_lag; tau < next; ++tau)
                    ASSERT_EQ(d0[tau - min_lag], want[size_t(tau)]) << stop_at << " lag " << tau;
                const int found = velorin::count_candidates(d0, min_lag, min_lag, next - 1);
                if (next <= max_lag) {
                    EXPECT_GE(found, stop_at);
                    ++early;
                }
            }
            EXPECT_GT(early, 0) << velorin::simd_width_name(lanes);
        }
    }
}

TEST(Lowpass, EqualsTheReaderAtEveryPosition) {
    const std::vector<double> x = velorin_test::make_noise(44100, 0.05, 20000.0, 7);
    const std::vector<uint8_t> bytes = analysis_bytes(x, 16, 1);
    const auto* data = reinterpret_cast<const int16_t*>(bytes.data());
    const int64_t frames = int64_t(x.size()) + 4096;
    for (velorin::SimdWidth lanes : velorin_test::every_width()) {
        PreparedSignal ps;
        velorin_test::prepare_signal(bytes, 16, 1, 44100, 1024, 256, &ps, lanes);
        for (int q = 0; q < static_cast<int>(x.size()); ++q)
            ASSERT_EQ(ps.sig.lowpassed[q], velorin::sinc_read_i16(q, data, 47.0, 1, frames)) << q;
    }
}

struct Case {
    const char* name;
    int bits;
    int channels;
    int rate;
    int signal;  // 0 vowel with vibrato, 1 noise, 2 silence, 3 vowel then noise then silence,
                 // 4 clicks
};

// Clicks every 196th of a second, then one lone click. A frame holding one
// click has |C + iS| equal to the sum of |x| at every lag, the most a
// candidate's score can reach: the bound that passes candidates over meets
// the scores themselves there.
std::vector<double> make_clicks(int rate, double seconds) {
    std::vector<double> x(static_cast<size_t>(seconds * rate), 0.0);
    const size_t period = static_cast<size_t>(rate / 196.0);
    for (size_t i = 0; i < x.size() / 2; i += period) x[i] = 24000.0;
    x[x.size() * 3 / 4] = -30000.0;
    return x;
}

std::vector<double> make_signal(const Case& c, double seconds) {
    switch (c.signal) {
        case 0:
            return velorin_test::make_vowel(c.rate, seconds, 196.0, 12000.0, 40.0, 5.5);
        case 1:
            return velorin_test::make_noise(c.rate, seconds, 9000.0, 3);
        case 2:
            return std::vector<double>(static_cast<size_t>(seconds * c.rate), 0.0);
        case 4:
            return make_clicks(c.rate, seconds);
        default: {
            std::vector<double> x = velorin_test::make_vowel(c.rate, seconds / 2, 311.0, 15000.0);
            const std::vector<double> nz = velorin_test::make_noise(c.rate, seconds / 4, 4000.0);
            x.insert(x.end(), nz.begin(), nz.end());
            x.resize(static_cast<size_t>(seconds * c.rate), 0.0);
            return x;
        }
    }
}

class PeriodIdentity : public testing::TestWithParam<Case> {};

// Every frame, both modes, full and narrow lag ranges: the fast estimate
// returns exactly the straightforward one.
TEST_P(PeriodIdentity, FastEstimateEqualsStraightforwardEvaluation) {
    const Case c = GetParam();
    int n = 0, step = 0;
    settings_for(c.rate, &n, &step);
    // A few frames suffice: the first ones (reading before the start), the
    // last (reading the zero frames) and a voiced middle.
    const double seconds = c.rate > 60000 ? 0.03 : 0.06;
    const std::vector<double> x = make_signal(c, seconds);
    const std::vector<double> other = velorin_test::make_noise(c.rate, seconds, 20000.0, 11);
    const std::vector<uint8_t> bytes = analysis_bytes(x, c.bits, c.channels, other);
    const std::vector<double> aw = velorin_test::reference_analysis_window(n);
    const std::vector<double> ew = velorin_test::reference_energy_window(n);
    const int nsamp = static_cast<int>(x.size());
    const int min_lag = static_cast<int>(c.rate / 900.0);
    const int max_lag = std::min(static_cast<int>(c.rate / 52.0), n / 2 + n / 4);
    // Pass two's narrow range around the vowel's period.
    const int lo = static_cast<int>(std::floor(0.9091 * c.rate / 196.0));
    const int hi = std::min(n / 2 + n / 4, static_cast<int>(std::ceil(1.1 * c.rate / 196.0)));
    std::vector<double> first_pass, second_pass;
    for (int p = 0; p <= nsamp; p += step) {
        first_pass.push_back(velorin_test::reference_estimate_period(
            p, min_lag, max_lag, bytes.data(), nsamp, c.bits, c.channels, c.rate, n, step, 1, aw,
            ew));
        second_pass.push_back(velorin_test::reference_estimate_period(
            p, lo, hi, bytes.data(), nsamp, c.bits, c.channels, c.rate, n, step, 2, aw, ew));
    }
    int voiced = 0;
    for (velorin::SimdWidth lanes : velorin_test::every_width()) {
        PreparedSignal ps;
        velorin_test::prepare_signal(bytes, c.bits, c.channels, c.rate, n, step, &ps, lanes);
        const char* width = velorin::simd_width_name(lanes);
        for (int p = 0, k = 0; p <= nsamp; p += step, ++k) {
            const double fast = estimate_period(ps.sig, p, min_lag, max_lag, 1);
            ASSERT_EQ(fast, first_pass[k]) << "mode 1, position " << p << ", " << width;
            if (fast > 0) ++voiced;
            ASSERT_EQ(estimate_period(ps.sig, p, lo, hi, 2), second_pass[k])
                << "mode 2, position " << p << ", " << width;
        }
    }
    if (c.signal == 0) {
        EXPECT_GT(voiced, 0);
    }
    if (c.signal == 2) {
        EXPECT_EQ(voiced, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PeriodIdentity,
    testing::Values(Case{"u8", 8, 1, 44100, 0}, Case{"i16", 16, 1, 44100, 0},
                    Case{"i24", 24, 1, 44100, 0}, Case{"f32", 32, 1, 44100, 0},
                    Case{"f64", 64, 1, 44100, 0}, Case{"i16_stereo", 16, 2, 44100, 0},
                    Case{"i24_stereo", 24, 2, 48000, 3}, Case{"i16_22050", 16, 1, 22050, 0},
                    Case{"f32_96000", 32, 1, 96000, 0}, Case{"i16_8000", 16, 1, 8000, 3},
                    Case{"i16_noise", 16, 1, 44100, 1}, Case{"u8_noise", 8, 1, 22050, 1},
                    Case{"i16_silence", 16, 1, 44100, 2}, Case{"i16_mixed", 16, 1, 44100, 3},
                    Case{"i16_clicks", 16, 1, 44100, 4}, Case{"f64_clicks", 64, 1, 44100, 4}),
    [](const testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

// A frame with one nonzero value v has |C + iS| = |v| at every lag, up to
// rounding: the scores meet their bound there, also where the squares round
// to subnormals, and whatever the difference.
TEST(EstimatePeriod, ScoreBoundHoldsWhereScoresMeetIt) {
    for (double v : {1.0, -8837.5, 24000.0, 1.5e-162, -3.1e-160, 7e-170, 1e150})
        for (int i : {1, 444, 1023})
            for (int lag = 49; lag <= 768; ++lag)
                for (double dt : {0.0, 1e-300, 3e-8, 1.0, 1e12}) {
                    const double w = 6.28318530717958 / lag;
                    const double s = v * std::sin(i * w), c = v * std::cos(i * w);
                    const double score = std::sqrt((c * c + s * s) / (dt + 1e-07));
                    ASSERT_LE(score, velorin::score_bound(std::fabs(v), dt))
                        << v << " at " << i << ", lag " << lag << ", d " << dt;
                }
    EXPECT_EQ(velorin::score_bound(1.0, -1.0), HUGE_VAL);
    EXPECT_FALSE(velorin::score_bound(NAN, 1.0) < 1.0);
}

// A silent frame has no strict local minimum and therefore no period.
TEST(EstimatePeriod, SilentFrameHasNoPeriod) {
    const std::vector<uint8_t> bytes = analysis_bytes(std::vector<double>(8000, 0.0), 16, 1);
    PreparedSignal ps;
    velorin_test::prepare_signal(bytes, 16, 1, 44100, 1024, 256, &ps);
    EXPECT_EQ(estimate_period(ps.sig, 2048, 49, 768, 1), 0.0);
    EXPECT_EQ(estimate_period(ps.sig, 2048, 49, 768, 2), 0.0);
}

TEST(EstimatePeriod, EmptyLagRangeSearchesNothing) {
    const std::vector<double> x = velorin_test::make_vowel(44100, 0.2, 220.0);
    const std::vector<uint8_t> bytes = analysis_bytes(x, 16, 1);
    PreparedSignal ps;
    velorin_test::prepare_signal(bytes, 16, 1, 44100, 1024, 256, &ps);
    EXPECT_GT(estimate_period(ps.sig, 4096, 180, 220, 2), 0.0);
    EXPECT_EQ(estimate_period(ps.sig, 4096, 221, 220, 2), 0.0);
}

// A sine of period P samples has one minimum of the difference function at
// every multiple of P. Between lags 49 and 768 the first pass accepts 720 / c
// > 49, so at most 14 candidates: period 54 gives 14 (accepted), period 51
// gives 15 (rejected as noise). The second pass accepts both.
TEST(EstimatePeriod, FirstPassAcceptsAtMostFourteenCandidates) {
    for (int period : {54, 51}) {
        std::vector<double> x(44100 / 4);
        for (size_t i = 0; i < x.size(); ++i)
            x[i] = 30000.0 * std::sin(6.283185307179586 * static_cast<double>(i) / period);
        const std::vector<uint8_t> bytes = analysis_bytes(x, 16, 1);
        PreparedSignal ps;
        velorin_test::prepare_signal(bytes, 16, 1, 44100, 1024, 256, &ps);
        const double first = estimate_period(ps.sig, 4096, 49, 768, 1);
        const double second = estimate_period(ps.sig, 4096, 49, 768, 2);
        EXPECT_NEAR(second, 44100.0 / period, 0.5) << period;
        if (period == 54)
            EXPECT_EQ(first, second);
        else
            EXPECT_EQ(first, 0.0);
    }
}

// A clean vowel is found within a fraction of a percent, in every format.
TEST(EstimatePeriod, FindsTheFundamentalOfAVowel) {
    for (int bits : {8, 16, 24, 32, 64}) {
        const double f0 = 233.0;
        const std::vector<double> x = velorin_test::make_vowel(44100, 0.3, f0, 14000.0);
        const std::vector<uint8_t> bytes = analysis_bytes(x, bits, 1);
        PreparedSignal ps;
        velorin_test::prepare_signal(bytes, bits, 1, 44100, 1024, 256, &ps);
        for (int p = 2048; p < 10000; p += 256) {
            const double f = estimate_period(ps.sig, p, 49, 768, 1);
            EXPECT_NEAR(f, f0, f0 * 0.005) << bits << " bits at " << p;
        }
    }
}

}  // namespace
