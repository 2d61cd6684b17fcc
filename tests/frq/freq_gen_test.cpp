// tests/frq/freq_gen_test.cpp: frequency list generation.
#include "frq/freq_gen.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "frq/freq_list.h"
#include "frq/period.h"
#include "tests/support/frq_reference.h"
#include "tests/support/support.h"

namespace {

using velorin::FreqList;
using velorin_test::analysis_bytes;

using velorin_test::FreqListPtr;

struct Input {
    std::vector<uint8_t> bytes;
    int64_t data_bytes;
    int bits;
    int channels;
    int rate;
    int n;
    int step;
};

Input make_input(const std::vector<double>& x, int bits, int channels, int rate) {
    Input in{analysis_bytes(x, bits, channels, velorin_test::make_noise(rate, 1.0, 8000.0, 9)),
             int64_t(x.size()) * channels * (bits / 8),
             bits,
             channels,
             rate,
             0,
             0};
    in.n = rate <= 14999 ? 512 : rate <= 29999 ? 720 : rate <= 59999 ? 1024 : 2048;
    in.step = rate <= 14999 ? 64 : rate <= 29999 ? 128 : rate <= 59999 ? 256 : 512;
    return in;
}

// Generates quietly: the progress lines are checked in their own test.
FreqListPtr generate(const Input& in, int threads = 0) {
    testing::internal::CaptureStderr();
    FreqList* list = velorin::generate_freq_list(
        in.bytes.data(), in.data_bytes,
        {in.bits, in.channels, in.channels * (in.bits / 8), in.rate, in.n, in.step, 0, 0, threads});
    testing::internal::GetCapturedStderr();
    return FreqListPtr(list);
}

FreqListPtr reference(const Input& in) {
    return FreqListPtr(velorin_test::reference_freq_list(in.bytes.data(), in.data_bytes, in.bits,
                                                         in.channels, in.channels * (in.bits / 8),
                                                         in.rate, in.n, in.step, 0, 0));
}

void expect_identical(const FreqList& a, const FreqList& b) {
    ASSERT_EQ(a.count, b.count);
    EXPECT_EQ(a.step, b.step);
    EXPECT_EQ(a.sample_rate, b.sample_rate);
    EXPECT_EQ(std::memcmp(&a.freq_avg, &b.freq_avg, sizeof(double)), 0)
        << a.freq_avg << " " << b.freq_avg;
    EXPECT_EQ(std::memcmp(a.freq, b.freq, sizeof(double) * (a.count + 1)), 0);
    EXPECT_EQ(std::memcmp(a.amp, b.amp, sizeof(double) * (a.count + 1)), 0);
    for (int k = 0; k <= a.count; ++k) {
        ASSERT_EQ(a.freq[k], b.freq[k]) << "frame " << k;
        ASSERT_EQ(a.amp[k], b.amp[k]) << "frame " << k;
    }
}

// A vowel that starts with a breathy noise and ends in silence.
std::vector<double> onset_vowel_silence(int rate, double seconds, double f0) {
    std::vector<double> x = velorin_test::make_noise(rate, seconds * 0.2, 3000.0, 4);
    const std::vector<double> v = velorin_test::make_vowel(rate, seconds * 0.6, f0, 15000.0, 50.0);
    x.insert(x.end(), v.begin(), v.end());
    x.resize(static_cast<size_t>(seconds * rate), 0.0);
    return x;
}

TEST(FreqGen, SilenceIsUnvoicedAndAveragesToTheLowestFrequency) {
    const Input in = make_input(std::vector<double>(44100 / 2, 0.0), 16, 1, 44100);
    const FreqListPtr list = generate(in);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->count, 44100 / 2 / 256 + 1);
    for (int k = 0; k <= list->count; ++k) {
        EXPECT_EQ(list->freq[k], 0.0) << k;
        EXPECT_EQ(list->amp[k], 0.0) << k;
    }
    EXPECT_EQ(list->freq_avg, 44100.0 / 768);
    EXPECT_EQ(list->step, 256);
    EXPECT_EQ(list->sample_rate, 44100);
    EXPECT_EQ(list->extra_a, nullptr);
    EXPECT_EQ(list->extra_b, nullptr);
}

TEST(FreqGen, PrintsSettingsBoundsAndProgress) {
    std::setlocale(LC_ALL, "C.UTF-8");
    const Input in = make_input(std::vector<double>(1000, 0.0), 16, 1, 44100);
    testing::internal::CaptureStderr();
    FreqListPtr list(velorin::generate_freq_list(in.bytes.data(), in.data_bytes,
                                                 {16, 1, 2, 44100, 1024, 256, 0, 0, 1}));
    const std::string err = testing::internal::GetCapturedStderr();
    std::setlocale(LC_ALL, "C");
    ASSERT_TRUE(list);
    EXPECT_EQ(list->count, 4);  // 1000 / 256 + 1
    EXPECT_EQ(err,
              "N=1024 Step=256\n"
              "Data Size=2000\n"
              "Channels=1\n"
              "Block Align=2\n"
              "Samples per Sec=44100\n"
              "Bits per sample=16\n"
              "List Size=4\n"
              "Frequenz auf    57.421875Hz 768\n"
              "Frequenz bis zu 900.000000Hz 49\n"
              "Threads 1\n"
              "pass 1 0\t0.000000\t\r"
              "pass 1 1\t0.000000\t\r"
              "pass 1 2\t0.000000\t\r"
              "pass 1 3\t0.000000\t\r"
              "freq_avg=57.421875\t\t\t\t\n");
}

// With nsamp a multiple of step the last frame stands at nsamp itself: no
// worker visits it, and it stays unvoiced unless the second pass fills it.
TEST(FreqGen, FrameAtTheEndOfAWholeNumberOfStepsIsNotSearched) {
    const Input in = make_input(std::vector<double>(1024, 0.0), 16, 1, 44100);
    testing::internal::CaptureStderr();
    FreqListPtr list(velorin::generate_freq_list(in.bytes.data(), in.data_bytes,
                                                 {16, 1, 2, 44100, 1024, 256, 0, 0, 40}));
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->count, 5);
    EXPECT_EQ(list->freq[4], 0.0);
    EXPECT_NE(err.find("List Size=5\n"), std::string::npos);
    EXPECT_NE(err.find("Threads 32\n"), std::string::npos);  // at most 32 threads
    EXPECT_NE(err.find("pass 1 0\t"), std::string::npos);
    EXPECT_EQ(err.find("pass 1 1\t"), std::string::npos);  // thread 0 did frame 0 only
    EXPECT_EQ(err.find("pass 1 4\t"), std::string::npos);
}

// Given bounds are used in either order; the lag range follows them.
TEST(FreqGen, BoundsInEitherOrderGiveTheSameLagRange) {
    const Input in = make_input(std::vector<double>(600, 0.0), 16, 1, 48000);
    for (const auto& b : {std::pair<double, double>{100, 400}, {400, 100}}) {
        testing::internal::CaptureStderr();
        FreqListPtr list(velorin::generate_freq_list(
            in.bytes.data(), in.data_bytes, {16, 1, 2, 48000, 1024, 256, b.first, b.second, 2}));
        const std::string err = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(list);
        EXPECT_NE(err.find("Frequenz auf    100.000000Hz 480\n"), std::string::npos) << err;
        EXPECT_NE(err.find("Frequenz bis zu 400.000000Hz 120\n"), std::string::npos) << err;
        EXPECT_NE(err.find("Threads 2\n"), std::string::npos);
        EXPECT_EQ(list->freq_avg, 100.0);
    }
}

// Bounds far outside the voice's range clamp the lag range to the buffers
// (lag 0 up to 3N/4); nothing reads outside them.
TEST(FreqGen, ExtremeBoundsStayInsideTheBuffers) {
    const Input in = make_input(velorin_test::make_vowel(22050, 0.2, 230.0), 16, 1, 22050);
    for (const auto& b : {std::pair<double, double>{1e-9, 1e9}, {5000, 1e300}, {0.5, 0.7}}) {
        testing::internal::CaptureStderr();
        FreqListPtr list(velorin::generate_freq_list(
            in.bytes.data(), in.data_bytes, {16, 1, 2, 22050, 720, 128, b.first, b.second, 2}));
        testing::internal::GetCapturedStderr();
        ASSERT_TRUE(list);
        for (int k = 0; k <= list->count; ++k) EXPECT_TRUE(std::isfinite(list->freq[k]));
    }
}

TEST(FreqGen, FindsAVowelWithinHalfAPercent) {
    const double f0 = 185.0;
    const Input in = make_input(velorin_test::make_vowel(44100, 0.6, f0, 14000.0), 16, 1, 44100);
    const FreqListPtr list = generate(in);
    ASSERT_TRUE(list);
    // Frames whose buffers lie wholly inside the sample (the search reads from
    // 0.75 N - step / 4 before a frame, the refinement up to 1.25 N after it).
    int voiced = 0;
    for (int k = 0; k < list->count; ++k) {
        const int p = k * 256;
        if (p < 704 || p + 1280 > static_cast<int>(in.data_bytes / 2)) continue;
        EXPECT_GT(list->freq[k], 1.0) << "frame " << k;
        if (list->freq[k] <= 1) continue;
        ++voiced;
        EXPECT_NEAR(list->freq[k], f0, f0 * 0.005) << "frame " << k;
    }
    EXPECT_GT(voiced, 90);
    EXPECT_NEAR(list->freq_avg, f0, f0 * 0.005);
    EXPECT_EQ(list->freq[list->count], list->freq[list->count - 1]);
    EXPECT_EQ(list->amp[list->count], list->amp[list->count - 1]);
}

// Loud, steady frames dominate the average: a loud vowel at 203 Hz and a
// quiet one at 290 Hz average near 203, not near 246. (A synthetic vowel
// whose period times a small whole number is a whole number of samples is
// found an octave low: its difference vanishes there. These two are not.)
TEST(FreqGen, AverageWeighsLoudSteadyFrames) {
    std::vector<double> x = velorin_test::make_vowel(44100, 0.4, 203.0, 24000.0);
    const std::vector<double> quiet = velorin_test::make_vowel(44100, 0.4, 290.0, 1200.0);
    x.insert(x.end(), quiet.begin(), quiet.end());
    const FreqListPtr list = generate(make_input(x, 16, 1, 44100));
    ASSERT_TRUE(list);
    EXPECT_GT(list->freq_avg, 202.0);
    EXPECT_LT(list->freq_avg, 215.0);
    // The measure follows the loudness.
    EXPECT_GT(list->amp[20], 10 * list->amp[list->count - 20]);
}

// A frame the first pass rejects inside a voiced stretch (a burst of noise
// over the vowel) is filled by the second pass from its neighbours.
TEST(FreqGen, SecondPassFillsAGapInAVoicedStretch) {
    const int rate = 44100;
    std::vector<double> x = velorin_test::make_vowel(rate, 0.8, 160.0, 10000.0);
    const std::vector<double> burst = velorin_test::make_noise(rate, 0.012, 14000.0, 21);
    const int at = 100 * 256 - 300;
    for (size_t i = 0; i < burst.size(); ++i) x[at + i] += burst[i];
    const Input in = make_input(x, 16, 1, rate);
    velorin_test::PreparedSignal ps;
    velorin_test::prepare_signal(in.bytes, 16, 1, rate, 1024, 256, &ps);
    int gaps = 0;
    const FreqListPtr list = generate(in);
    ASSERT_TRUE(list);
    for (int k = 90; k < 110; ++k) {
        if (velorin::estimate_period(ps.sig, k * 256, 49, 768, 1) < 1) {
            ++gaps;
            EXPECT_NEAR(list->freq[k], 160.0, 160.0 * 0.02) << "frame " << k;
        }
    }
    EXPECT_GT(gaps, 0) << "the burst should defeat the first pass somewhere";
}

TEST(FreqGen, RejectsUnsupportedDepthsAndBrokenLayouts) {
    const std::vector<uint8_t> bytes(64000, 0);
    struct Bad {
        int bits, channels, block_align, rate, n, step;
        const char* message;
    };
    const Bad cases[] = {
        {12, 1, 2, 44100, 1024, 256, "unsupported bits per sample: 12\n"},
        {0, 1, 2, 44100, 1024, 256, "unsupported bits per sample: 0\n"},
        {16, 0, 2, 44100, 1024, 256, "unusable sample layout: 0 channels, block align 2\n"},
        {16, 2, 2, 44100, 1024, 256, "unusable sample layout: 2 channels, block align 2\n"},
        {16, 1, 0, 44100, 1024, 256, "unusable sample layout: 1 channels, block align 0\n"},
        {16, 1, 2, 44100, 4096, 256, "unusable analysis settings: N=4096 step=256 rate=44100\n"},
        {16, 1, 2, 44100, 4, 256, "unusable analysis settings: N=4 step=256 rate=44100\n"},
        {16, 1, 2, 44100, 1024, 0, "unusable analysis settings: N=1024 step=0 rate=44100\n"},
        {16, 1, 2, 0, 1024, 256, "unusable analysis settings: N=1024 step=256 rate=0\n"},
    };
    for (const Bad& b : cases) {
        testing::internal::CaptureStderr();
        FreqListPtr list(velorin::generate_freq_list(
            bytes.data(), 2000, {b.bits, b.channels, b.block_align, b.rate, b.n, b.step, 0, 0, 1}));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), b.message);
        EXPECT_FALSE(list);
    }
}

TEST(FreqGen, ThreadCountDoesNotChangeTheList) {
    const Input in = make_input(onset_vowel_silence(44100, 0.5, 247.0), 16, 1, 44100);
    const FreqListPtr one = generate(in, 1);
    const FreqListPtr three = generate(in, 3);
    ASSERT_TRUE(one && three);
    expect_identical(*one, *three);
}

struct IdentityCase {
    const char* name;
    int bits;
    int channels;
    int rate;
    double seconds;
    bool second_pass;  // the vowel's edges leave the second pass work to do
};

class ListIdentity : public testing::TestWithParam<IdentityCase> {};

// The whole list, threads, shared tables and all, equals the single-threaded
// straightforward evaluation bit for bit.
TEST_P(ListIdentity, EqualsTheStraightforwardEvaluation) {
    const IdentityCase c = GetParam();
    const Input in =
        make_input(onset_vowel_silence(c.rate, c.seconds, 207.0), c.bits, c.channels, c.rate);
    testing::internal::CaptureStderr();
    const FreqListPtr fast(velorin::generate_freq_list(
        in.bytes.data(), in.data_bytes,
        {in.bits, in.channels, in.channels * (in.bits / 8), in.rate, in.n, in.step, 0, 0, 2}));
    const std::string err = testing::internal::GetCapturedStderr();
    const FreqListPtr slow = reference(in);
    ASSERT_TRUE(fast && slow);
    expect_identical(*fast, *slow);
    if (c.second_pass) {
        EXPECT_NE(err.find("pass 2 "), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ListIdentity,
    testing::Values(IdentityCase{"i16_44100", 16, 1, 44100, 0.2, true},
                    IdentityCase{"u8_22050", 8, 1, 22050, 0.2, false},
                    IdentityCase{"i24_stereo_48000", 24, 2, 48000, 0.12, true},
                    IdentityCase{"f32_96000", 32, 1, 96000, 0.06, false},
                    IdentityCase{"f64_44100", 64, 1, 44100, 0.12, true},
                    IdentityCase{"i16_stereo_8000", 16, 2, 8000, 0.4, true},
                    // A low-pass wider than the whole sample (as from a corrupt
                    // rate): only the taps inside it are visited.
                    IdentityCase{"i16_400000_lowpass_past_both_ends", 16, 1, 400000, 0.002, false}),
    [](const testing::TestParamInfo<IdentityCase>& p) { return std::string(p.param.name); });

}  // namespace
