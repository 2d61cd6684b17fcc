// tests/tools/frq_summary_test.cpp: octave jumps, their repair and note names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "audio/analysis_loader.h"
#include "tools/frq/summary.h"

namespace {

using namespace velorin;

using ListPtr = velorin::FreqListPtr;

// A sung 220 Hz with vibrato: 20 unvoiced frames, 160 voiced, 20 unvoiced, 100 voiced.
ListPtr steady_list() {
    ListPtr l(alloc_freq_list(300));
    l->step = 256;
    l->sample_rate = 44100;
    l->freq_avg = 220.0;
    for (int k = 0; k < 300; ++k) {
        const bool voiced = (k >= 20 && k < 180) || k >= 200;
        l->freq[k] = voiced ? 220.0 * std::exp2(0.3 * std::sin(k * 0.2) / 12.0) : 0.0;
        l->amp[k] = 1000.0 + k;
    }
    return l;
}

TEST(OctaveJumps, FoundWhereFramesJumpedAndRepairedToWithinOnePercent) {
    struct Case {
        const char* what;
        std::vector<int> frames;
        double factor;
        bool suspicious;
    };
    const Case cases[] = {
        {"steady vowel", {}, 1.0, false},
        {"one frame doubled", {60}, 2.0, true},
        {"three frames halved", {100, 101, 102}, 0.5, true},
        {"eight frames two octaves up", {120, 121, 122, 123, 124, 125, 126, 127}, 4.0, true},
        {"first voiced frame after a gap", {200}, 2.0, true},
        {"last frame of the list", {299}, 0.5, true},
        {"nine frames: a note, not a jump",
         {130, 131, 132, 133, 134, 135, 136, 137, 138},
         2.0,
         false},
        {"520 cents: within reach of its neighbours", {70}, 1.35, false},
    };
    for (const Case& c : cases) {
        ListPtr good = steady_list();
        ListPtr l = steady_list();
        for (int k : c.frames) l->freq[k] *= c.factor;
        const std::vector<SuspiciousFrame> found = find_octave_jumps(*l);
        std::vector<int> frames;
        for (const SuspiciousFrame& f : found) frames.push_back(f.frame);
        EXPECT_EQ(frames, c.suspicious ? c.frames : std::vector<int>{}) << c.what;
        for (const SuspiciousFrame& f : found)
            l->freq[f.frame] = octave_fixed(l->freq[f.frame], f.reference_hz, 44100);
        for (int k = 0; k < 300; ++k) {
            const bool moved =
                c.suspicious && std::find(c.frames.begin(), c.frames.end(), k) != c.frames.end();
            if (moved) {
                EXPECT_NEAR(l->freq[k] / good->freq[k], 1.0, 0.01) << c.what << " frame " << k;
            } else if (std::find(c.frames.begin(), c.frames.end(), k) == c.frames.end()) {
                EXPECT_EQ(l->freq[k], good->freq[k]) << c.what << " frame " << k;  // untouched
            }
            EXPECT_EQ(l->amp[k], good->amp[k]);
        }
    }
}

TEST(OctaveJumps, SummaryCountsVoicedFramesAndTheirRange) {
    ListPtr l = steady_list();
    l->freq[60] *= 2.0;
    const ListSummary s = summarise(*l);
    EXPECT_EQ(s.voiced, 260);
    EXPECT_NEAR(voiced_share(s), 260.0 / 300.0, 1e-12);
    EXPECT_NEAR(s.median, 220.0, 3.0);
    EXPECT_NEAR(s.highest, 2 * l->freq[60] / 2, 1e-9);
    EXPECT_LT(s.lowest, 220.0);
    ASSERT_EQ(s.suspicious.size(), 1u);
    EXPECT_NEAR(frame_ms(*l, 60), 60 * 256 * 1000.0 / 44100, 1e-9);
}

// A move that would leave the frequencies an analysis gives at the list's rate
// (57.3 Hz to 44.1 kHz at 44.1 kHz), or overflow, is no move.
TEST(OctaveJumps, MovesStayFiniteAndWithinTheAnalysisRange) {
    const struct {
        double hz, reference, want;
    } cases[] = {{440.0, 220.0, 220.0},
                 {110.0, 230.0, 220.0},
                 {2.5, 1.7e308, 2.5},
                 {20.0, 2e5, 20.0},
                 {600.0, 36.0, 600.0}};
    for (const auto& c : cases)
        EXPECT_EQ(octave_fixed(c.hz, c.reference, 44100), c.want) << c.hz << " " << c.reference;
    ListPtr l(alloc_freq_list(2));
    l->freq[0] = 1e308;
    l->freq[1] = 1.5e308;
    EXPECT_EQ(summarise(*l).median, 1.25e308);  // not the overflowed sum's half
}

TEST(FrqNoteName, NearestNoteAndCents) {
    EXPECT_EQ(note_name(440.0), "A4 +0 cents");
    EXPECT_EQ(note_name(261.6255653), "C4 +0 cents");
    EXPECT_EQ(note_name(440.0 * std::exp2(30 / 1200.0)), "A4 +30 cents");
    EXPECT_EQ(note_name(440.0 * std::exp2(-70 / 1200.0)), "G#4 +30 cents");
    EXPECT_EQ(note_name(55.0), "A1 +0 cents");
    EXPECT_EQ(note_name(0.0), "-");
    EXPECT_EQ(note_name(1.0), "-");
}

}  // namespace

namespace {

// The samples velorin-frq takes from a folder: those the analysis loader reads.
TEST(AnalysisReads, ByExtensionAndDecoderVariable) {
    unsetenv("flacpath");
    const std::pair<const wchar_t*, bool> without[] = {
        {L"a.wav", true},   {L"B.WAV", true},      {L"c.aif", true},  {L"d.AIFF", true},
        {L"e.flac", false}, {L"a_wav.frq", false}, {L"noext", false}, {L"dir.wav/x.txt", false}};
    for (const auto& c : without) EXPECT_EQ(velorin::analysis_reads(c.first), c.second) << c.first;
    setenv("flacpath", "/bin/true", 1);
    EXPECT_TRUE(velorin::analysis_reads(L"e.flac"));
    EXPECT_FALSE(velorin::analysis_reads(L"e.mp3"));
    unsetenv("flacpath");
}

}  // namespace
