// tests/driver/params_test.cpp: reading the command line into the render parameters.
#include "driver/params.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "pitch/curve.h"
#include "pitch/dispatch.h"

using velorin::RenderParams;

namespace {

// Neutral fillers: each reads back as the default of its field, so a test can set one
// position and leave the ones before it as if they were absent.
const wchar_t* const neutral[14] = {L"velorin", L"in.wav", L"out.wav", L"265", L"100",
                                    L"",        L"0",      L"0",       L"0",   L"0",
                                    L"100",     L"0",      L"!120",    L""};

// Runs parse_invocation on the program name plus positions 1..last, taking `set`
// where given and the neutral filler elsewhere. Standard output is captured.
struct Parsed {
    RenderParams p;
    int code = -1;
    std::string out;
};

Parsed parse(std::map<int, std::wstring> set, int last = 0) {
    for (const auto& kv : set) last = std::max(last, kv.first);
    std::vector<std::wstring> args;
    for (int i = 0; i <= last; ++i) args.push_back(set.count(i) ? set[i] : neutral[i]);
    std::vector<wchar_t*> argv;
    for (std::wstring& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    Parsed r;
    testing::internal::CaptureStdout();
    r.code = velorin::parse_invocation(static_cast<int>(args.size()), argv.data(), &r.p);
    r.out = testing::internal::GetCapturedStdout();
    std::setlocale(LC_ALL, "C");
    return r;
}

double hz_at_cents(double base, int cents) { return base * std::pow(2.0, cents * (1.0 / 1200)); }

}  // namespace

TEST(UsageBanner, ProgramNameAloneOrNoOutputPathGivesBannerAnd99) {
    const std::string first = sizeof(void*) == 8 ? "velorin.exe ver0.05 test for x64\n"
                                                 : "velorin.exe ver0.05 test for x86\n";
    for (int last : {0, 1}) {
        const Parsed r = parse({}, last);
        EXPECT_EQ(r.code, 99);
        EXPECT_EQ(r.out.substr(0, first.size()), first);
        EXPECT_GT(r.out.size(), first.size() + 1);
        EXPECT_EQ(r.out.back(), '\n');
    }
    const Parsed r = parse({}, 2);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.p.input_path, L"in.wav");
    EXPECT_EQ(r.p.output_path, L"out.wav");
}

TEST(ParseInvocation, DefaultsWhenOnlyPathsAreGiven) {
    const RenderParams p = parse({}, 2).p;
    EXPECT_EQ(p.target_freq, 265.0);
    EXPECT_EQ(p.outlen, 0);
    EXPECT_EQ(p.volume, 1.0);
    EXPECT_EQ(p.breath, 0.5);
    EXPECT_EQ(p.breath_alpha, 0.5);
    EXPECT_EQ(p.peak_strength, 0.86);
    EXPECT_TRUE(p.verbose);
    EXPECT_TRUE(p.pitch_freq.empty());
    EXPECT_EQ(p.pitch_step, 256);
    // The neutral fillers must really be neutral, or the other tests prove less.
    const RenderParams q = parse({}, 13).p;
    EXPECT_EQ(q.target_freq, p.target_freq);
    EXPECT_EQ(q.head_velocity, 1.0);
    EXPECT_EQ(q.tail_velocity, 1.0);
    EXPECT_EQ(q.volume, 1.0);
    EXPECT_EQ(q.outlen, 0);
}

struct NumberCase {
    int position;
    const wchar_t* text;
    double RenderParams::*field;
    double expected;
};
class PositionalNumber : public testing::TestWithParam<NumberCase> {};

TEST_P(PositionalNumber, ReadsAs) {
    const NumberCase& c = GetParam();
    EXPECT_EQ(parse({{c.position, c.text}}).p.*(c.field), c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, PositionalNumber,
    testing::Values(NumberCase{10, L"250", &RenderParams::volume, 2.0},
                    NumberCase{10, L"-10", &RenderParams::volume, 0.0},
                    NumberCase{10, L"50", &RenderParams::volume, 50 * 0.01},
                    NumberCase{11, L"-30", &RenderParams::modulation, -30 * 0.01},
                    NumberCase{6, L"12.5", &RenderParams::offset_ms, 12.5},
                    NumberCase{9, L"-20", &RenderParams::cutoff_ms, -20.0},
                    NumberCase{3, L"a4", &RenderParams::target_freq, 0.0},
                    NumberCase{3, L"440.5", &RenderParams::target_freq, 440.5},
                    NumberCase{3, L"A4", &RenderParams::target_freq, 440.0},
                    NumberCase{4, L"100/50", &RenderParams::head_velocity, 1.0},
                    NumberCase{4, L"100/50", &RenderParams::tail_velocity, std::pow(2.0, -0.5)},
                    NumberCase{4, L"150", &RenderParams::head_velocity, std::pow(2.0, 0.5)},
                    NumberCase{4, L"150", &RenderParams::tail_velocity, std::pow(2.0, 0.5)},
                    NumberCase{4, L"0", &RenderParams::head_velocity, 0.5},
                    NumberCase{8, L"40/25", &RenderParams::consonant_ms, 40.0},
                    NumberCase{8, L"40/25", &RenderParams::tail_ms, 25.0}));

class Length : public testing::TestWithParam<std::pair<const wchar_t*, int>> {};

TEST_P(Length, GivesOutlen) {
    EXPECT_EQ(parse({{7, GetParam().first}}).p.outlen, GetParam().second) << GetParam().first;
}

// 1e300 ms and NaN must not reach an undefined conversion to int.
INSTANTIATE_TEST_SUITE_P(Ms, Length,
                         testing::Values(std::make_pair(L"5.8", 256), std::make_pair(L"5.7", 252),
                                         std::make_pair(L"1000", 44100), std::make_pair(L"xyz", 0),
                                         std::make_pair(L"1e300", INT_MAX),
                                         std::make_pair(L"-1e300", INT_MIN),
                                         std::make_pair(L"nan", 0)));

TEST(ParseInvocation, StandardOutputOrFlagNSilencesTheReport) {
    EXPECT_FALSE(parse({{2, L"-"}}).p.verbose);
    EXPECT_FALSE(parse({{5, L"Bn"}}).p.verbose);
    EXPECT_TRUE(parse({{2, L"--"}, {5, L"N"}}).p.verbose);
}

struct FlagCase {
    const wchar_t* flags;
    double RenderParams::*field;
    double expected;
};
class NumberFlag : public testing::TestWithParam<FlagCase> {};

TEST_P(NumberFlag, SetsField) {
    const FlagCase& c = GetParam();
    EXPECT_EQ(parse({{5, c.flags}}).p.*(c.field), c.expected) << c.flags;
}

INSTANTIATE_TEST_SUITE_P(
    Flags, NumberFlag,
    testing::Values(
        FlagCase{L"B55.9", &RenderParams::breath, 55 * 0.01},
        FlagCase{L"B-3.9", &RenderParams::breath, -3 * 0.01},
        FlagCase{L"BN", &RenderParams::breath, 0.0}, FlagCase{L"B", &RenderParams::breath, 0.0},
        FlagCase{L"B150", &RenderParams::breath, 150 * 0.01},
        FlagCase{L"Y0B20H5B70", &RenderParams::breath, 20 * 0.01},
        FlagCase{L"a-5", &RenderParams::breath_alpha, 0.0},
        FlagCase{L"a2000", &RenderParams::breath_alpha, 10.0},
        FlagCase{L"a150", &RenderParams::breath_alpha, 150 * 0.01},
        FlagCase{L"g-20", &RenderParams::gender, std::pow(10.0, -20 * 0.005)},
        FlagCase{L"P50", &RenderParams::peak_strength, 50 * 0.01},
        FlagCase{L"i100", &RenderParams::tail_ms, 1.0},
        FlagCase{L"v200", &RenderParams::tail_velocity, 2.0},
        FlagCase{L"v200", &RenderParams::head_velocity, 1.0},
        FlagCase{L"t200", &RenderParams::target_freq, 265.0},
        FlagCase{L"t-201", &RenderParams::target_freq, 265.0},
        FlagCase{L"t-200", &RenderParams::target_freq, 265.0 * std::pow(2.0, -200 / 1200.0)},
        FlagCase{L"t199", &RenderParams::target_freq, 265.0 * std::pow(2.0, 199 / 1200.0)},
        FlagCase{L"B1e300", &RenderParams::breath, INT_MAX * 0.01}));

TEST(Flags, PresenceLettersAndThreadRequest) {
    const RenderParams p = parse({{5, L"g5NRG"}}).p;
    EXPECT_TRUE(p.no_filter);
    EXPECT_TRUE(p.reverse);
    EXPECT_TRUE(p.regenerate);
    const RenderParams none = parse({{5, L"grgnbp"}}).p;  // case matters
    EXPECT_FALSE(none.no_filter || none.reverse || none.regenerate);
    EXPECT_EQ(parse({{5, L"S64"}}).p.thread_request, 64);
    EXPECT_EQ(parse({{5, L"S7.9"}}).p.thread_request, 7);
    for (const wchar_t* automatic : {L"S0", L"S65", L"S-3", L"B5"}) {
        const int n = parse({{5, automatic}}).p.thread_request;
        EXPECT_FALSE(n >= 1 && n <= 64) << automatic;
    }
}

TEST(Flags, ArgumentOrderDecidesTailAndTuning) {
    // Flag v overrides argument 4; argument 8's tail overrides flag i.
    const RenderParams p = parse({{4, L"100/50"}, {5, L"v0i100"}, {8, L"40/25"}}).p;
    EXPECT_EQ(p.tail_velocity, 0.5);
    EXPECT_EQ(p.tail_ms, 25.0);
    EXPECT_EQ(parse({{5, L"i100"}, {8, L"40"}}).p.tail_ms, 1.0);
    // Flag t tunes a note name as much as a number.
    EXPECT_EQ(parse({{3, L"A4"}, {5, L"t-200"}}).p.target_freq,
              440.0 * std::pow(2.0, -200 / 1200.0));
}

struct NoteCase {
    const wchar_t* name;
    double x;  // semitones from A4 as single precision leaves them
};
class NoteName : public testing::TestWithParam<NoteCase> {};

TEST_P(NoteName, GivesHz) {
    const NoteCase& c = GetParam();
    EXPECT_EQ(velorin::note_name_to_hz(c.name), 440.0 * std::pow(2.0, c.x * 0.0833333333333333))
        << c.name;
}

// 'C99999999999' saturates the octave at the 32-bit range; 12 times that wraps to -12,
// so the note number is 0, whatever the width of the local `long`.
INSTANTIATE_TEST_SUITE_P(
    Names, NoteName,
    testing::Values(NoteCase{L"A4", 0}, NoteCase{L"C4", -9}, NoteCase{L"A#3", -11},
                    NoteCase{L"Bb3", -11}, NoteCase{L"a4", 0}, NoteCase{L"A4+50", 0.5},
                    NoteCase{L"A4-30", -0.3000030517578125}, NoteCase{L"H4", -9},
                    NoteCase{L"C-1", -69}, NoteCase{L"A4x", 0}, NoteCase{L"A+4", 0},
                    NoteCase{L"C99999999999", -69}, NoteCase{L"A99999999999", -60},
                    NoteCase{L"C-99999999999", -57}, NoteCase{L"", -57}));

TEST(NoteName, FactorIsTheShortDecimalNotOneTwelfth) {
    EXPECT_EQ(velorin::note_name_to_hz(L"A4"), 440.0);
    EXPECT_NE(velorin::note_name_to_hz(L"C4"), 440.0 * std::pow(2.0, -9.0 / 12));
}

TEST(PitchBend, PlainCurveBecomesFrequenciesWithUnbentLastEntry) {
    // 'AB' 1, '#3#' three more 1, 'f/' 2047, 'gA' -2048.
    const RenderParams p = parse({{3, L"A4"}, {12, L"!120"}, {13, L"AB#3#f/gA"}}).p;
    EXPECT_EQ(p.tempo, 120);
    EXPECT_EQ(p.pitch_step, 230);
    ASSERT_EQ(p.pitch_count, 6);
    ASSERT_EQ(p.pitch_freq.size(), 7u);
    const int cents[6] = {1, 1, 1, 1, 2047, -2048};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(p.pitch_freq[k], hz_at_cents(440.0, cents[k])) << k;
    EXPECT_EQ(p.pitch_freq[6], 440.0);
    // The series is built from the tuned target.
    const RenderParams t = parse({{5, L"t100"}, {12, L"!120"}, {13, L"AA"}}).p;
    ASSERT_EQ(t.pitch_freq.size(), 2u);
    EXPECT_EQ(t.pitch_freq[0], t.target_freq);
    EXPECT_EQ(t.pitch_freq[1], 265.0 * std::pow(2.0, 100 / 1200.0));
}

struct CompressedCase {
    const wchar_t* tempo;
    int order;    // as the tempo argument names them
    int variant;  // for the encoder
};
class CompressedBend : public testing::TestWithParam<CompressedCase> {};

// The tempo argument names codec and delta order after a '*'; the tempo number stops there.
TEST_P(CompressedBend, ReachesTheSeries) {
    const CompressedCase& c = GetParam();
    const int16_t curve[6] = {5, 10, 20, 30, -40, -40};
    wchar_t* text = velorin::encpitch(curve, c.order, c.variant);
    ASSERT_NE(text, nullptr);
    const std::wstring bend = text;
    velorin::free_pitch_text(text);
    const RenderParams p = parse({{3, L"A4"}, {12, c.tempo}, {13, bend}}).p;
    EXPECT_EQ(p.tempo, 120);
    EXPECT_EQ(p.pitch_step, 230);
    ASSERT_EQ(p.pitch_count, 5) << c.tempo;
    ASSERT_EQ(p.pitch_freq.size(), 6u);
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(p.pitch_freq[k], hz_at_cents(440.0, curve[k + 1])) << c.tempo << " " << k;
    EXPECT_EQ(p.pitch_freq[5], 440.0);
}

INSTANTIATE_TEST_SUITE_P(Codecs, CompressedBend,
                         testing::Values(CompressedCase{L"!120*enc2", 2, 1},
                                         CompressedCase{L"!120*cmp1", 1, 2},
                                         CompressedCase{L"!120*hff3", 3, 3},
                                         CompressedCase{L"!120*xyz0", 0, 1}));

struct TempoCase {
    const wchar_t* tempo;
    int tempo_read;
    int pitch_step;
};
class Tempo : public testing::TestWithParam<TempoCase> {};

TEST_P(Tempo, GivesPitchStep) {
    const TempoCase& c = GetParam();
    const RenderParams p = parse({{12, c.tempo}, {13, L"AA"}}).p;
    EXPECT_EQ(p.tempo, c.tempo_read) << c.tempo;
    EXPECT_EQ(p.pitch_step, c.pitch_step) << c.tempo;
    EXPECT_EQ(p.pitch_count, 1);
}

// '120' loses its first digit; 70000 wraps to 4464 like a 16-bit value; 1e10 saturates
// the int, which as 16 bits is -1.
INSTANTIATE_TEST_SUITE_P(Tempi, Tempo,
                         testing::Values(TempoCase{L"!120", 120, 230}, TempoCase{L"!0", 0, 256},
                                         TempoCase{L"120", 20, 1378},
                                         TempoCase{L"!120.9", 120, 230}, TempoCase{L"!1", 1, 27563},
                                         TempoCase{L"!-5", -5, 256}, TempoCase{L"!70000", 4464, 6},
                                         TempoCase{L"!1e10", -1, 256}, TempoCase{L"", 0, 256}));

TEST(PitchBend, NoCurveKeepsStep256) {
    for (const wchar_t* bend : {L"", L"#0#"}) {
        const RenderParams p = parse({{12, L"!120"}, {13, bend}}).p;
        EXPECT_TRUE(p.pitch_freq.empty());
        EXPECT_EQ(p.pitch_count, 0);
        EXPECT_EQ(p.pitch_step, 256);
    }
    // Without argument 13 the tempo is not even read.
    const RenderParams p = parse({{12, L"!120"}}).p;
    EXPECT_EQ(p.tempo, 0);
    EXPECT_TRUE(p.pitch_freq.empty());
}

TEST(ParseInvocation, OddTextsNeverFail) {
    const std::vector<std::map<int, std::wstring>> odd = {
        {{13, L""}, {1, L""}, {2, L""}, {3, L""}, {4, L""}, {5, L""}, {8, L""}, {12, L""}},
        {{3, L"G#"}, {4, L"/"}, {5, L"tvgaBPiS"}, {8, L"/"}, {12, L"*"}, {13, L"#"}},
        {{3, L"Ab"}, {12, L"!1*h"}, {13, L"A"}},
        {{12, L"!1*hff"}, {13, L"$$$"}},
        {{12, L"*enc-99999999999"}, {13, L"#99999999999#"}},
    };
    for (const auto& args : odd) EXPECT_EQ(parse(args).code, 0);
}

// Under a locale with a decimal comma, the length and everything after it read the
// user's way, while volume, modulation, offset and cutoff are read before the switch.
TEST(ParseInvocation, LocaleSwitchComesAfterOffsetAndBeforeLength) {
    const char* comma_locale = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if (std::setlocale(LC_ALL, name)) {
            comma_locale = name;
            break;
        }
    }
    std::setlocale(LC_ALL, "C");
    if (!comma_locale) GTEST_SKIP() << "no locale with a decimal comma is installed";
    const char* saved = std::getenv("LC_ALL");
    const std::string saved_value = saved ? saved : "";
    setenv("LC_ALL", comma_locale, 1);
    const RenderParams p =
        parse({{3, L"440.5"}, {6, L"12.5"}, {7, L"12.5"}, {10, L"12.5"}, {11, L"12,5"}}).p;
    const RenderParams q = parse({{7, L"12,5"}, {9, L"12,5"}}).p;
    if (saved) {
        setenv("LC_ALL", saved_value.c_str(), 1);
    } else {
        unsetenv("LC_ALL");
    }
    EXPECT_EQ(p.offset_ms, 12.5);
    EXPECT_EQ(p.outlen, 530);  // ceil(12 * 44.1)
    EXPECT_EQ(p.volume, 12.5 * 0.01);
    EXPECT_EQ(p.modulation, 12 * 0.01);
    EXPECT_EQ(p.target_freq, 440.0);
    EXPECT_EQ(q.outlen, 552);  // ceil(12.5 * 44.1)
    EXPECT_EQ(q.cutoff_ms, 12.0);
}
