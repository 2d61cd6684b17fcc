// tests/synth/passes_test.cpp: the two render passes, checked against their
// straightforward evaluation and on signals with known answers.
#include "synth/passes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "synth/kernels.h"
#include "synth/lane_kernels.h"
#include "synth/render_reader.h"
#include "synth/rfft.h"
#include "tests/support/support.h"
#include "tests/support/synth_fixtures.h"
#include "tests/support/synth_reference.h"

using namespace velorin;
using velorin_test::make_scene;
using velorin_test::SynthScene;

namespace {

constexpr int kRate = 44100;

double max_abs_diff(const std::vector<double>& a, const std::vector<double>& b) {
    double m = 0;
    for (size_t i = 0; i < a.size(); ++i) m = std::max(m, std::fabs(a[i] - b[i]));
    return m;
}

double max_abs(const std::vector<double>& a, size_t from = 0, size_t to = SIZE_MAX) {
    double m = 0;
    for (size_t i = from; i < std::min(to, a.size()); ++i) m = std::max(m, std::fabs(a[i]));
    return m;
}

struct RenderCase {
    double rate;
    double target;
    double breath;
    double gender;
    bool no_filter;
    double modulation;
};

class PassesAgainstReference : public testing::TestWithParam<RenderCase> {};

}  // namespace

// Both passes over a synthetic vowel, fast and straightforward, one unit at a
// time in the same order: the output on the 16-bit scale agrees far inside
// one step.
TEST_P(PassesAgainstReference, OutputAgreesWellInsideOneStep) {
    const RenderCase c = GetParam();
    const int outlen = 6000;
    const std::vector<double> src =
        velorin_test::make_vowel(static_cast<int>(c.rate), 0.25, 180.0, 12000.0, 30.0);
    auto fast = make_scene(src, c.rate, {180.0}, outlen, c.target);
    auto ref = make_scene(src, c.rate, {180.0}, outlen, c.target);
    // A wobble in the list, with one missing frame, exercises the lookups.
    for (size_t k = 0; k < fast->freq.size(); ++k) {
        const double f = k == 7 ? 55.0 : 180.0 + 6.0 * std::sin(k * 0.9);
        fast->freq[k] = ref->freq[k] = f;
    }
    std::vector<double> genposs;
    const auto units1 =
        velorin_test::first_pass_units(*fast, 800.0, 0.8 * fast->sh.r, c.modulation, &genposs);
    for (const FirstPassUnit& u : units1) velorin_test::reference_resampling_pass(ref->sh, u);
    EXPECT_GT(max_abs(ref->datbuf), 1000.0);
    std::vector<double> first_width;  // every width gives the same bits
    for (SimdWidth lanes : velorin_test::every_width()) {
        fast->sh.lanes = lanes;
        std::fill(fast->datbuf.begin(), fast->datbuf.end(), 0.0);
        for (const FirstPassUnit& u : units1) resampling_pass(fast->sh, u);
        EXPECT_LT(max_abs_diff(fast->datbuf, ref->datbuf), 1e-4);
        if (first_width.empty()) first_width = fast->datbuf;
        ASSERT_EQ(0, std::memcmp(fast->datbuf.data(), first_width.data(), outlen * sizeof(double)))
            << simd_width_name(lanes);
    }

    // The second pass of both reads the same datbuf, so that its own
    // difference is seen.
    fast->datbuf = ref->datbuf;
    std::vector<std::vector<double>> noise;
    const auto units2 = velorin_test::second_pass_units(*fast, genposs, c.breath, c.gender,
                                                        c.no_filter, c.modulation, &noise);
    // The straightforward pass reading the sample as the fast one does: the
    // same bits at every width, unit by unit (lanes, fused loops and the
    // integer floor change no result).
    auto same = make_scene(src, c.rate, {180.0}, outlen, c.target);
    std::copy(fast->freq.begin(), fast->freq.end(), same->freq.begin());
    same->datbuf = ref->datbuf;
    std::vector<std::vector<double>> same_after;  // same's output after each unit
    for (const SecondPassUnit& u : units2) {
        velorin_test::reference_envelope_breath_pass(ref->sh, u);
        velorin_test::reference_envelope_breath_pass(same->sh, u, true);
        same_after.push_back(same->outbuf);
    }
    for (SimdWidth lanes : velorin_test::every_width()) {
        fast->sh.lanes = lanes;
        std::fill(fast->outbuf.begin(), fast->outbuf.end(), 0.0);
        for (size_t k = 0; k < units2.size(); ++k) {
            envelope_breath_pass(fast->sh, units2[k]);
            ASSERT_EQ(
                0, std::memcmp(fast->outbuf.data(), same_after[k].data(), outlen * sizeof(double)))
                << "unit at " << units2[k].out_index << " " << simd_width_name(lanes);
        }
    }
    EXPECT_LT(max_abs_diff(fast->outbuf, ref->outbuf), 1e-3);
    EXPECT_GT(max_abs(ref->outbuf), 100.0);
}

INSTANTIATE_TEST_SUITE_P(Settings, PassesAgainstReference,
                         testing::Values(RenderCase{44100, 262.0, 0.5, 1.0, false, 0.0},
                                         RenderCase{44100, 440.0, 0.0, 1.0, false, 1.0},
                                         RenderCase{48000, 200.0, 0.8, 1.122, false, 0.5},
                                         RenderCase{44100, 330.0, 0.3, 0.891, false, 0.0},
                                         RenderCase{22050, 150.0, 0.5, 1.0, true, 0.0},
                                         RenderCase{96000, 300.0, 1.0, 0.707, false, 0.0},
                                         RenderCase{44100, 220.0, 0.0, 1.414, false, 0.3}));

// ---------------------------------------------------------------------------
// First pass

namespace {

// A scene whose source is a ramp, so that a read shows roughly where it was
// taken (the tapered kernel does not reproduce a ramp exactly).
std::unique_ptr<SynthScene> ramp_scene(double rate, double f, int outlen, double target) {
    std::vector<double> src(20000);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<double>(i);
    return make_scene(src, rate, {f}, outlen, target);
}

// The grain a unit adds, alone in a zeroed datbuf, without its window:
// g[k] belongs to output sample out_index - 64 + k (k = 1..127).
std::vector<double> unwindowed_grain(SynthScene& sc, const FirstPassUnit& u) {
    std::fill(sc.datbuf.begin(), sc.datbuf.end(), 0.0);
    resampling_pass(sc.sh, u);
    std::vector<double> g(128, 0.0);
    for (int k = 1; k < 128; ++k) g[k] = sc.datbuf[u.out_index - 64 + k] / sc.w128.hann[k];
    return g;
}

double anchor_of(const SynthScene& sc, const FirstPassUnit& u) {
    const RenderShared& sh = sc.sh;
    return aligned_source_position(u.src_pos, u.out_phase, sh.freq, sh.freq_count, sh.phase_table,
                                   sh.phase_frames, sh.freq_step, 1.0, 55.0, sh.freq_avg, sh.rate);
}

// Checks that grain samples k0..k1 - 1 were read at x0 + (k - k0) * step.
void expect_reads(const SynthScene& sc, const std::vector<double>& g, int k0, int k1, double x0,
                  double step) {
    const double w = std::max(1.0, sc.sh.r);
    for (int k = k0; k < k1; ++k) {
        const double x = x0 + (k - k0) * step;
        EXPECT_NEAR(g[k], sinc_read_f64(x, sc.sh.sample, w, 1, sc.sh.sample_frames), 1e-6)
            << "grain sample " << k;
    }
}

// The whole grain on one grid: sample 64 at the anchor.
void expect_read_at_steps(const SynthScene& sc, const std::vector<double>& g, double anchor,
                          double step) {
    expect_reads(sc, g, 1, 128, anchor - 63 * step, step);
}

}  // namespace

// Without a pitch curve, the grain steps through the source at (target / F)
// * r, around an anchor near src_pos whose source phase is out_phase plus
// whole cycles.
TEST(ResamplingPass, ConstantSourceFrequencyGivesAConstantStep) {
    for (double rate : {44100.0, 48000.0}) {
        auto sc = ramp_scene(rate, 200.0, 2000, 300.0);
        FirstPassUnit u;
        u.out_index = 512;
        u.src_pos = 6000.3;
        u.out_phase = 12.25;
        u.target_freq = 300.0;
        const double c = anchor_of(*sc, u);
        EXPECT_LE(std::fabs(c - u.src_pos), 0.5 * rate / 200.0 + 1e-9);
        const double cycles = c * 200.0 / rate;
        EXPECT_NEAR(cycles - std::floor(cycles), 0.25, 1e-9);
        expect_read_at_steps(*sc, unwindowed_grain(*sc, u), c, (300.0 / 200.0) * (rate / 44100));
    }
}

// With modulation 1 the step is (target / freq_avg) * r wherever the source
// frequency wanders; frames marked 55.0 read as freq_avg. (The first step
// back from the anchor is target / F at the anchor: the unit's target is
// already divided by the modulation factor.)
TEST(ResamplingPass, ModulationOneAndMissingFramesStepWithTheAverage) {
    auto sc = ramp_scene(44100, 200.0, 2000, 300.0);
    for (size_t k = 0; k < sc->freq.size(); ++k) sc->freq[k] = k % 2 ? 180.0 : 220.0;
    sc->sh.freq_avg = 200.0;
    FirstPassUnit u;
    u.out_index = 512;
    u.src_pos = 6000.0;
    u.target_freq = 300.0;
    u.modulation = 1.0;
    const double c = anchor_of(*sc, u);
    const double fc = series_value_at(c, sc->freq.data(), sc->sh.freq_count, 256, 1.0, 55.0, 200.0);
    const std::vector<double> g = unwindowed_grain(*sc, u);
    expect_reads(*sc, g, 64, 128, c, 1.5);
    expect_reads(*sc, g, 1, 64, c - 300.0 / fc - 62 * 1.5, 1.5);

    std::fill(sc->freq.begin(), sc->freq.end(), 55.0);
    u.modulation = 0.0;
    expect_read_at_steps(*sc, unwindowed_grain(*sc, u), anchor_of(*sc, u), 1.5);
}

TEST(ResamplingPass, PitchCurveSetsTheStep) {
    auto sc = ramp_scene(44100, 200.0, 4000, 300.0);
    sc->pitch.assign(17, 400.0);  // 16 points of 256 samples, then the target
    sc->pitch[16] = 300.0;
    sc->sh.pitch_freq = sc->pitch.data();
    sc->sh.pitch_count = 16;
    sc->sh.pitch_step = 256;
    FirstPassUnit u;
    u.out_index = 1024;
    u.src_pos = 6000.0;
    u.target_freq = 400.0;
    expect_read_at_steps(*sc, unwindowed_grain(*sc, u), anchor_of(*sc, u), 2.0);
}

// The grain is the scalar walk's positions read one at a time and windowed,
// to the bit, wherever the reads are batched: a wobbling list with a missing
// frame, modulation, a bend, and the wider kernel of a 48 kHz input.
TEST(ResamplingPass, GrainIsTheScalarWalkReadOneByOneBitForBitAtEveryWidth) {
    struct Case {
        double rate, modulation;
        bool bend;
    };
    for (const Case c : {Case{44100, 0.0, false}, Case{44100, 0.7, true}, Case{48000, 0.3, true}}) {
        auto sc = make_scene(velorin_test::make_vowel(static_cast<int>(c.rate), 0.3, 190.0), c.rate,
                             {190.0}, 3000, 300.0);
        for (size_t k = 0; k < sc->freq.size(); ++k)
            sc->freq[k] = k == 25 ? 55.0 : 190.0 + 9.0 * std::sin(k * 0.7);
        if (c.bend) {
            for (int k = 0; k <= 12; ++k) sc->pitch.push_back(280.0 + 5.0 * k);
            sc->sh.pitch_freq = sc->pitch.data();
            sc->sh.pitch_count = 12;
            sc->sh.pitch_step_inv = step_reciprocal(256);
        }
        const RenderShared& sh = sc->sh;
        FirstPassUnit u;
        u.out_index = 1500;
        u.src_pos = 6400.7;
        u.out_phase = 3.4;
        u.target_freq = 301.5;
        u.modulation = c.modulation;
        const double x0 = anchor_of(*sc, u);
        double a = x0, b = x0 - (u.target_freq / freq_at(sh, x0)) * sh.r;
        std::vector<double> want(128);
        for (int i = 0; i < 64; ++i) {
            const double w = std::max(1.0, sh.r);
            want[64 + i] =
                sinc_read_render(a, sh.sample, w, 1, sh.sample_frames) * sh.hann128[64 + i];
            want[63 - i] =
                sinc_read_render(b, sh.sample, w, 1, sh.sample_frames) * sh.hann128[63 - i];
            const double fa = freq_at(sh, a), fb = freq_at(sh, b);
            a += (pitch_at(sh, u.out_index + i + 0.5) / fa) * sh.r /
                 modulation_factor(sh, fa, u.modulation);
            b -= (pitch_at(sh, u.out_index - i - 1.5) / fb) * sh.r /
                 modulation_factor(sh, fb, u.modulation);
        }
        for (SimdWidth lanes : velorin_test::every_width()) {
            sc->sh.lanes = lanes;
            std::fill(sc->datbuf.begin(), sc->datbuf.end(), 0.0);
            resampling_pass(sh, u);
            for (int k = 0; k < 128; ++k)
                ASSERT_EQ(sc->datbuf[u.out_index - 64 + k], want[k])
                    << k << " rate " << c.rate << " " << simd_width_name(lanes);
        }
    }
}

// ---------------------------------------------------------------------------
// Second pass

namespace {

std::unique_ptr<SynthScene> vowel_scene(int outlen, double target) {
    return make_scene(velorin_test::make_vowel(kRate, 0.3, 200.0), kRate, {200.0}, outlen, target);
}

SecondPassUnit second_unit(int j0, double src_pos, double breath, double gender, bool no_filter,
                           double* noise) {
    SecondPassUnit u;
    u.out_index = j0;
    u.src_pos = src_pos;
    u.gender = gender;
    u.breath = breath;
    u.voiced_gain = (no_filter ? 0.6 : 0.001220703125) * (breath < 0.5 ? 1 : 2 * (1 - breath));
    u.noise_gain = std::min(breath, 0.5) * 0.18 * 0.001220703125;
    u.no_filter = no_filter ? 1 : 0;
    u.noise = breath > 0 ? noise : nullptr;
    return u;
}

std::vector<double> noise_block() { return velorin_test::make_noise(1024, 1.0, 16384.0, 7); }

void fill_datbuf_with_vowel(SynthScene& sc, double f0) {
    const std::vector<double> v = velorin_test::make_vowel(kRate, 0.2, f0, 8000.0);
    for (size_t i = 0; i < sc.datbuf.size(); ++i) sc.datbuf[i] = v[i % v.size()];
}

}  // namespace

TEST(EnvelopeBreathPass, SilentBlockStaysSilentWithoutBreath) {
    auto sc = vowel_scene(4096, 300.0);
    std::vector<double> n = noise_block();
    envelope_breath_pass(sc->sh, second_unit(1024, 3000.0, 0.0, 1.0, false, n.data()));
    envelope_breath_pass(sc->sh, second_unit(1024, 3000.0, 0.0, 1.3, false, n.data()));
    for (double v : sc->outbuf) EXPECT_EQ(v, 0.0);
}

TEST(EnvelopeBreathPass, NoFilterWithBreathPassesTheVoicedBlockTimesSineSquared) {
    for (double breath : {0.3, 0.7}) {
        auto sc = vowel_scene(4096, 300.0);
        fill_datbuf_with_vowel(*sc, 300.0);
        std::vector<double> n = noise_block();
        SecondPassUnit u = second_unit(2048, 3000.0, breath, 1.0, true, n.data());
        u.noise_gain = 0.0;  // leave out the breath part to see the voiced part alone
        envelope_breath_pass(sc->sh, u);
        const double gain = 0.6 * (breath < 0.5 ? 1 : 2 * (1 - breath));
        for (int k = 0; k < 1024; ++k) {
            const double s = sc->w1024.sine[k];
            EXPECT_NEAR(sc->outbuf[1536 + k], sc->datbuf[1536 + k] * s * s * gain, 1e-9) << k;
        }
        EXPECT_EQ(sc->outbuf[1535], 0.0);
        EXPECT_EQ(sc->outbuf[2560], 0.0);
    }
}

// Flag B100: the voiced gain is 0, so what comes out is the breath alone,
// the same with any datbuf.
TEST(EnvelopeBreathPass, FullBreathLeavesOnlyTheBreath) {
    auto a = vowel_scene(4096, 300.0);
    auto b = vowel_scene(4096, 300.0);
    fill_datbuf_with_vowel(*a, 300.0);
    std::vector<double> n = noise_block();
    envelope_breath_pass(a->sh, second_unit(2048, 3000.0, 1.0, 1.0, false, n.data()));
    envelope_breath_pass(b->sh, second_unit(2048, 3000.0, 1.0, 1.0, false, n.data()));
    EXPECT_EQ(a->outbuf, b->outbuf);
    EXPECT_GT(max_abs(a->outbuf), 0.0);
}

// With gender 1.0 every bin takes the source's envelope as it is. A datbuf
// that holds the source's own samples at twice their level, at the source's
// pitch, has four times the source's power in every smoothed bin: each bin's
// gain is 1/2, and the block comes back at the source's level.
TEST(EnvelopeBreathPass, GenderOneCopiesTheSourceEnvelopeBinForBin) {
    auto sc = vowel_scene(4096, 200.0);
    const int j0 = 2048, p = 6000;
    for (int i = 0; i < 1024; ++i) sc->datbuf[j0 - 512 + i] = 2.0 * sc->sample[p - 512 + i];
    const SecondPassUnit u = second_unit(j0, p, 0.0, 1.0, false, nullptr);
    envelope_breath_pass(sc->sh, u);
    for (int k = 0; k < 1024; ++k) {
        const double s = sc->w1024.sine[k];
        const double want = u.voiced_gain * 512.0 * sc->sample[p - 512 + k] * s * s;
        EXPECT_NEAR(sc->outbuf[j0 - 512 + k], want, 1e-6) << k;
    }
}

namespace {

// Power of the block a unit added, in bins 380..409 and 420..511 (the two
// sides of 512 / 1.25), over a white-noise source and datbuf.
void band_powers(double gender, double* below, double* above) {
    auto sc =
        make_scene(velorin_test::make_noise(kRate, 0.3, 8000.0, 5), kRate, {200.0}, 4096, 200.0);
    const std::vector<double> wn = velorin_test::make_noise(kRate, 0.1, 8000.0, 3);
    for (size_t i = 0; i < sc->datbuf.size(); ++i) sc->datbuf[i] = wn[i];
    envelope_breath_pass(sc->sh, second_unit(2048, 6000.0, 0.0, gender, false, nullptr));
    std::vector<double> d(sc->outbuf.begin() + 1536, sc->outbuf.begin() + 2560);
    const velorin_test::RfftTables& t = sc->tables;
    rfft_forward(SimdWidth::scalar, 1024, d.data(), t.twiddles.data(), t.bitrev.data());
    *below = *above = 0;
    for (int k = 380; k < 512; ++k) {
        const double pk = d[k] * d[k] + d[1024 - k] * d[1024 - k];
        if (k < 405) *below += pk;
        if (k > 420) *above += pk;
    }
}

}  // namespace

// A bin that would take its envelope from n * gender >= 512 gets gain 0.
TEST(EnvelopeBreathPass, GenderAboveOneSilencesTheTopBins) {
    double below1, above1, below, above;
    band_powers(1.0, &below1, &above1);
    band_powers(1.25, &below, &above);
    EXPECT_GT(below, 0.1 * below1);
    EXPECT_LT(above, 1e-4 * above1);
}

TEST(EnvelopeBreathPass, FirstBlockAddsOnlyOutputZeroTo511) {
    auto sc = vowel_scene(4096, 300.0);
    fill_datbuf_with_vowel(*sc, 300.0);
    std::vector<double> n = noise_block();
    envelope_breath_pass(sc->sh, second_unit(0, 100.0, 0.5, 1.0, false, n.data()));
    EXPECT_GT(max_abs(sc->outbuf, 0, 512), 0.0);
    EXPECT_EQ(max_abs(sc->outbuf, 512), 0.0);
}

TEST(EnvelopeBreathPass, BlocksPastTheEndDropWhatLiesBeyondOutlen) {
    auto sc = vowel_scene(1000, 300.0);
    fill_datbuf_with_vowel(*sc, 300.0);
    std::vector<double> guarded(1200, -3.0);
    std::copy(sc->outbuf.begin(), sc->outbuf.end(), guarded.begin());
    sc->sh.outbuf = guarded.data();
    std::vector<double> n = noise_block();
    envelope_breath_pass(sc->sh, second_unit(768, 5000.0, 0.5, 1.0, false, n.data()));
    envelope_breath_pass(sc->sh, second_unit(1024, 0.0, 0.5, 0.8, false, n.data()));
    for (int i = 1000; i < 1200; ++i) EXPECT_EQ(guarded[i], -3.0) << i;
    EXPECT_GT(max_abs(std::vector<double>(guarded.begin() + 256, guarded.begin() + 1000)), 0.0);
}

// ---------------------------------------------------------------------------
// Unusable frequency data (all frames invalid with an average of 0 or NaN, a
// NaN target, an anchor far past the end) renders finite numbers and reads
// nothing outside the buffers (the sanitizer builds check the reads).

TEST(Passes, DegenerateFrequenciesRenderFiniteOutput) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (double avg : {0.0, nan}) {
        auto sc = vowel_scene(3000, 300.0);
        std::fill(sc->freq.begin(), sc->freq.end(), nan);
        sc->sh.freq_avg = avg;
        std::vector<double> genposs;
        auto units = velorin_test::first_pass_units(*sc, 100.0, 1.0, 0.5, &genposs);
        units.back().src_pos = 1e12;
        units.back().target_freq = nan;
        for (const FirstPassUnit& u : units) resampling_pass(sc->sh, u);
        std::vector<std::vector<double>> noise;
        for (const SecondPassUnit& u :
             velorin_test::second_pass_units(*sc, genposs, 0.5, 1.1, false, 0.5, &noise))
            envelope_breath_pass(sc->sh, u);
        for (int i = 0; i < 3000; ++i) {
            ASSERT_TRUE(std::isfinite(sc->datbuf[i])) << "avg " << avg << " datbuf " << i;
            ASSERT_TRUE(std::isfinite(sc->outbuf[i])) << "avg " << avg << " outbuf " << i;
        }
    }
}

// Units run on several threads at once add into the shared buffers under
// their locks; only the order of the additions changes.
namespace {

template <typename Unit>
struct Worker {
    const RenderShared* sh;
    std::vector<Unit> units;
};

void run_unit(const RenderShared& sh, const FirstPassUnit& u) { resampling_pass(sh, u); }
void run_unit(const RenderShared& sh, const SecondPassUnit& u) { envelope_breath_pass(sh, u); }

template <typename Unit>
void run_worker(void* arg) {
    const Worker<Unit>* w = static_cast<const Worker<Unit>*>(arg);
    for (const Unit& u : w->units) run_unit(*w->sh, u);
}

template <typename Unit>
void run_threaded(const RenderShared& sh, const std::vector<Unit>& units) {
    std::vector<Worker<Unit>> workers(4, Worker<Unit>{&sh, {}});
    for (size_t i = 0; i < units.size(); ++i) workers[i % 4].units.push_back(units[i]);
    std::vector<Thread*> threads;
    for (Worker<Unit>& w : workers) threads.push_back(thread_start(run_worker<Unit>, &w));
    for (Thread* t : threads) thread_join(t);
}

}  // namespace

TEST(Passes, ThreadedUnitsAddUpToTheSameOutput) {
    auto one = vowel_scene(5000, 250.0);
    auto many = vowel_scene(5000, 250.0);
    std::vector<double> genposs;
    const auto units1 = velorin_test::first_pass_units(*one, 200.0, 1.0, 0.0, &genposs);
    for (const FirstPassUnit& u : units1) resampling_pass(one->sh, u);
    run_threaded(many->sh, units1);
    EXPECT_LT(max_abs_diff(one->datbuf, many->datbuf), 1e-9);

    many->datbuf = one->datbuf;
    std::vector<std::vector<double>> noise;
    const auto units2 =
        velorin_test::second_pass_units(*one, genposs, 0.5, 1.0, false, 0.0, &noise);
    for (const SecondPassUnit& u : units2) envelope_breath_pass(one->sh, u);
    run_threaded(many->sh, units2);
    EXPECT_LT(max_abs_diff(one->outbuf, many->outbuf), 1e-9);
}

// A sample shorter than one frame step: a list of no frames, a one-entry
// phase table, and a note much longer than the sample.
TEST(Passes, SampleShorterThanOneStepRenders) {
    auto sc =
        make_scene(velorin_test::make_vowel(kRate, 0.002, 200.0), kRate, {200.0}, 3000, 300.0);
    ASSERT_EQ(sc->sh.freq_count, 0);
    ASSERT_EQ(sc->sh.phase_frames, 0);
    std::vector<double> genposs;
    for (const FirstPassUnit& u : velorin_test::first_pass_units(*sc, 0.0, 1.0, 0.0, &genposs))
        resampling_pass(sc->sh, u);
    std::vector<std::vector<double>> noise;
    for (const SecondPassUnit& u :
         velorin_test::second_pass_units(*sc, genposs, 0.5, 1.0, false, 0.0, &noise))
        envelope_breath_pass(sc->sh, u);
    EXPECT_GT(max_abs(sc->datbuf, 0, 64), 0.0);
    for (double v : sc->outbuf) ASSERT_TRUE(std::isfinite(v));
}

// The series lookups of the passes multiply by the reciprocal of a
// power-of-two step; they give series_value_at's very doubles.
TEST(SeriesLookup, PowerOfTwoStepGivesTheSameDoubles) {
    EXPECT_EQ(step_reciprocal(256), 1.0 / 256);
    EXPECT_EQ(step_reciprocal(720), 0.0);
    EXPECT_EQ(step_reciprocal(0), 0.0);
    std::vector<double> v(41);
    for (int k = 0; k <= 40; ++k) v[k] = k % 6 == 2 ? 55.0 : k % 7 == 3 ? 0.5 : 100 + 37.1 * k;
    for (int step : {1, 64, 128, 256, 512, 2048}) {
        const double inv = step_reciprocal(step);
        for (double x : {-3.0, -0.0, 0.0, 0.3, std::nan(""), 1e300, -1e300, 40.0 * step,
                         39.5 * step, 41.0 * step + 1})
            EXPECT_EQ((SeriesReader{v.data(), 40, step, inv, 1.0, 55.0, 200.0}.at(x)),
                      series_value_at(x, v.data(), 40, step, 1.0, 55.0, 200.0))
                << step << " " << x;
        for (int i = 0; i < 2000; ++i) {
            const double x = i * step * 0.0213 + i * 1e-7;
            ASSERT_EQ((SeriesReader{v.data(), 40, step, inv, 1.0, 55.0, 200.0}.at(x)),
                      series_value_at(x, v.data(), 40, step, 1.0, 55.0, 200.0));
        }
    }
}

// The lookups floor by integer conversion where that is exact and fall back
// to std::floor elsewhere; alone and in pairs they give series_value_at's
// very bits at every width, the sign of a zero included (-0.0 as the
// fallback shows it).
TEST(SeriesLookup, EdgePositionsAloneAndInPairsGiveTheSameBits) {
    const auto bits = [](double v) {
        uint64_t b;
        std::memcpy(&b, &v, 8);
        return b;
    };
    std::vector<double> v(41);
    for (int k = 0; k <= 40; ++k) v[k] = k % 5 == 0 ? 0.5 : k % 7 == 3 ? 55.0 : 100 + 37.1 * k;
    const double two31 = 2147483648.0, inf = std::numeric_limits<double>::infinity();
    for (int step : {1, 256}) {
        const double inv = step_reciprocal(step);
        std::vector<double> xs = {-3.0, -0.0,         0.0, 1e-300, 0.3,   1.0,
                                  7.0,  std::nan(""), inf, -inf,   1e300, -1e300};
        for (double steps : {5.0, 39.5, 40.0, 41.0, two31 - 1, two31 - 0.5, two31, two31 + 1,
                             2 * two31, 9007199254740992.0})
            for (double d : {-1.0, 0.0, 1.0}) xs.push_back(steps * step + d * 0.25);
        for (double fallback : {200.0, -0.0}) {
            const SeriesReader sr{v.data(), 40, step, inv, 1.0, 55.0, fallback};
            for (double x0 : xs) {
                const double want0 = series_value_at(x0, v.data(), 40, step, 1.0, 55.0, fallback);
                ASSERT_EQ(bits(sr.at(x0)), bits(want0)) << step << " " << x0;
                for (double x1 : xs) {
                    const double want1 =
                        series_value_at(x1, v.data(), 40, step, 1.0, 55.0, fallback);
                    const double in[4] = {x0, x1, x1, x0}, want[4] = {want0, want1, want1, want0};
                    for (SimdWidth lanes : velorin_test::every_width()) {
                        double got[4];
                        lane_kernels(lanes).series_many(sr, in, 4, got);
                        for (int l = 0; l < 4; ++l)
                            ASSERT_EQ(bits(got[l]), bits(want[l]))
                                << step << " " << x0 << " " << x1 << " " << simd_width_name(lanes);
                    }
                }
            }
        }
    }
}

// A unit whose reads reach input frames outside the converted ranges says so;
// reads inside one range, or wholly outside the input, do not.
TEST(ReadCheck, ReadsOutsideTheConvertedFramesAreNoticed) {
    RenderShared sh;
    std::atomic<bool> missed(false);
    sh.missed = &missed;
    sh.sample_frames = 100000;
    sh.ready_first[0] = 0;
    sh.ready_last[0] = 5000;
    sh.ready_first[1] = 40000;
    sh.ready_last[1] = 60000;
    struct Case {
        double lo, hi;
        bool missed;
    };
    for (const Case& c :
         {Case{10, 4000, false}, Case{41000, 59000, false}, Case{-900, -50, false},
          Case{200000, 300000, false}, Case{4000, 4997, true}, Case{39990, 50000, true},
          Case{3000, 45000, true}, Case{59990, 200000, true}}) {
        missed = false;
        ReadSpan span;
        span.add(c.lo);
        span.add(std::nan(""));
        span.add(c.hi);
        check_reads(sh, span, 1.0);
        EXPECT_EQ(missed.load(), c.missed) << c.lo << " " << c.hi;
    }
}
