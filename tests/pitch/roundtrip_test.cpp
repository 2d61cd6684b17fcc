// tests/pitch/roundtrip_test.cpp: every codec and order, curve to text and back, and broken texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "pitch/curve.h"
#include "pitch/dispatch.h"
#include "pitch/plain.h"
#include "tests/support/pitch_curves.h"

using namespace velorin;
using namespace velorin_test;

namespace {

constexpr int enc_variant = 1, cmp_variant = 2, hff_variant = 3;

// Residuals of the delta order, computed here from their definition.
std::vector<int64_t> residuals_of(const std::vector<int>& x, int order) {
    std::vector<int64_t> r;
    for (size_t j = 0; j < x.size(); ++j) {
        int m = order <= 0 ? 0 : order > 3 ? 3 : order;
        if (size_t(m) > j) m = int(j);
        int64_t p = 0;
        if (m == 1) p = x[j - 1];
        if (m == 2) p = 2 * int64_t(x[j - 1]) - x[j - 2];
        if (m == 3) p = 3 * int64_t(x[j - 1]) - 3 * int64_t(x[j - 2]) + x[j - 3];
        r.push_back(x[j] - p);
    }
    return r;
}

int64_t limited(int64_t r) { return r < -2048 ? -2048 : r > 2047 ? 2047 : r; }
int64_t as_16_bits(int64_t r) { return static_cast<int16_t>(static_cast<uint16_t>(r)); }
bool same_16_bits(int64_t a, int64_t b) { return as_16_bits(a) == as_16_bits(b); }

std::vector<int> round_trip(const std::vector<int16_t>& points, int order, int variant,
                            std::wstring* text) {
    int16_t* curve = make_curve(points);
    wchar_t* t = encpitch(curve, order, variant);
    free_pitch_curve(curve);
    *text = t ? t : L"";
    std::vector<int> back =
        t ? curve_points(decpitch(t, order, variant)) : std::vector<int>{-99999};
    free_pitch_text(t);
    return back;
}

class PitchRoundTrip : public testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(PitchRoundTrip, DecodesBackExactlyWhereTheFormatCarriesTheCurve) {
    const int variant = std::get<0>(GetParam());
    const int order = std::get<1>(GetParam());
    CurveRand rng;
    rng.state += uint32_t(variant * 97 + order * 13);
    int exact = 0;
    for (int trial = 0; trial < 90; ++trial) {
        const int kind = trial % curve_kind_count;
        const bool wide = kind == extreme && trial % 12 == extreme;
        const std::vector<int16_t> points =
            random_curve(rng, kind, wide ? -32768 : -2400, wide ? 32767 : 2400);
        const std::vector<int> x(points.begin(), points.end());
        const std::vector<int64_t> r = residuals_of(x, order);
        std::wstring text;
        const std::vector<int> back = round_trip(points, order, variant, &text);
        const std::string where = "trial " + std::to_string(trial) + " kind " +
                                  std::to_string(kind) + " text " + text_of(text).substr(0, 200);
        if (variant == hff_variant) {
            bool all_equal = true;
            for (const int64_t v : r) all_equal = all_equal && same_16_bits(v, r[0]);
            if (all_equal) {
                EXPECT_TRUE(text.empty()) << where;
                continue;
            }
            ASSERT_EQ(back, x) << where;
            ++exact;
            continue;
        }
        bool in_range = true;
        for (const int64_t v : r) in_range = in_range && v >= -2048 && v <= 2047;
        if (in_range) {
            ASSERT_EQ(back, x) << where;
            ++exact;
            continue;
        }
        // Out of range the residuals are limited, and what comes back is
        // exactly the curve of the limited residuals.
        ASSERT_EQ(back.size(), x.size()) << where;
        const std::vector<int64_t> got = residuals_of(back, order);
        for (size_t j = 0; j < r.size(); ++j) {
            const int64_t want = variant == enc_variant ? limited(as_16_bits(r[j])) : limited(r[j]);
            ASSERT_TRUE(same_16_bits(got[j], want)) << where << " residual " << j;
        }
    }
    EXPECT_GT(exact, 40);
}

INSTANTIATE_TEST_SUITE_P(AllCodecsAndOrders, PitchRoundTrip,
                         testing::Combine(testing::Values(enc_variant, cmp_variant, hff_variant),
                                          testing::Range(-1, 5)));

class PitchTruncated : public testing::TestWithParam<int> {};

// Cutting a text short keeps the points before the cut: both container
// layers stop at a broken mark, and the enc and cmp units stand alone.
TEST_P(PitchTruncated, PrefixDecodesToAPrefix) {
    const int variant = GetParam();
    std::vector<int16_t> points;
    CurveRand rng;
    for (int kind = 0; kind < curve_kind_count; ++kind) {
        const std::vector<int16_t> part = random_curve(rng, kind, -2048, 2047);
        points.insert(points.end(), part.begin(),
                      part.begin() + (part.size() < 300 ? part.size() : 300));
    }
    std::wstring text;
    const std::vector<int> full = round_trip(points, 1, variant, &text);
    ASSERT_EQ(full.size(), points.size());
    size_t last = 0;
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        const std::vector<int> part =
            curve_points(decpitch(text.substr(0, cut).c_str(), 1, variant));
        ASSERT_LE(part.size(), full.size()) << cut;
        ASSERT_TRUE(std::equal(part.begin(), part.end(), full.begin())) << "cut " << cut;
        ASSERT_GE(part.size(), last) << "cut " << cut;
        last = part.size();
    }
}

INSTANTIATE_TEST_SUITE_P(EncAndCmp, PitchTruncated, testing::Values(enc_variant, cmp_variant));

// Any text at all: no crash, no read out of bounds (the sanitizer builds
// watch), at most the curve limit, and the codec's messages only.
class PitchGarbled : public testing::TestWithParam<int> {};

TEST_P(PitchGarbled, AnyTextGivesABoundedCurveOrNone) {
    const int variant = GetParam();
    static const wchar_t chars[] = L"AAAB/g+9$#!@'[]{}*-= \u00e9\u3042\U0001F3B5";
    constexpr int nchars = sizeof chars / sizeof chars[0] - 1;
    CurveRand rng;
    std::vector<std::wstring> texts;
    for (int trial = 0; trial < 400; ++trial) {
        std::wstring t;
        const int len = rand_between(rng, 0, trial % 10 == 0 ? 3000 : 40);
        for (int i = 0; i < len; ++i) t += chars[rand_between(rng, 0, nchars - 1)];
        texts.push_back(t);
    }
    // Valid texts with a few characters changed, dropped or doubled.
    for (int trial = 0; trial < 100; ++trial) {
        const std::vector<int16_t> points =
            random_curve(rng, trial % curve_kind_count, -3000, 3000);
        int16_t* curve = make_curve(points);
        wchar_t* t = variant == 0 ? encplain(curve) : encpitch(curve, trial % 4, variant);
        free_pitch_curve(curve);
        if (!t) continue;
        std::wstring s = t;
        free_pitch_text(t);
        for (int k = 0; k < 3 && !s.empty(); ++k) {
            const size_t at = size_t(rand_between(rng, 0, int(s.size()) - 1));
            const int how = rand_between(rng, 0, 2);
            if (how == 0) s[at] = chars[rand_between(rng, 0, nchars - 1)];
            if (how == 1) s.erase(at, 1);
            if (how == 2) s.insert(at, 1, s[at]);
        }
        texts.push_back(s);
    }
    for (size_t i = 0; i < texts.size(); ++i) {
        testing::internal::CaptureStdout();
        int16_t* c = variant == 0 ? decplain(texts[i].c_str())
                                  : decpitch(texts[i].c_str(), int(i % 5), variant);
        const std::string said = testing::internal::GetCapturedStdout();
        if (c) {
            EXPECT_GE(c[0], 1) << i;
        }
        free_pitch_curve(c);
        if (variant == hff_variant) {
            EXPECT_TRUE(said.empty() || said == "[Huffman-Code ist kaputt!]") << said;
        } else {
            EXPECT_EQ(said, "") << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PlainAndCodecs, PitchGarbled,
                         testing::Values(0, enc_variant, cmp_variant, hff_variant));

// A few characters can stand for millions: the layers stop at their limit
// and the decoders at the curve limit.
TEST(PitchExpansion, MarksThatMultiplyStopAtTheLimits) {
    std::wstring bomb = L"#//";
    for (int i = 0; i < 20000; ++i) bomb += L"{C/";  // copies of the mark itself
    const std::vector<int> enc = curve_points(decpitch(bomb.c_str(), 0, enc_variant));
    EXPECT_EQ(enc, std::vector<int>(size_t(max_curve_points), 0));
    const std::vector<int> cmp = curve_points(decpitch(bomb.c_str(), 0, cmp_variant));
    EXPECT_EQ(cmp, std::vector<int>(size_t(max_curve_points), 0));
    EXPECT_EQ(decpitch(bomb.c_str(), 0, hff_variant), nullptr);  // all zero bits: no table
}

TEST(PitchExpansion, LongestCurveSurvivesEveryCodec) {
    CurveRand rng;
    std::vector<int16_t> points;
    while (points.size() < size_t(max_curve_points)) {
        const std::vector<int16_t> part = random_curve(rng, int(points.size() % 5), -2048, 2047);
        points.insert(points.end(), part.begin(), part.end());
    }
    points.resize(size_t(max_curve_points));
    const std::vector<int> x(points.begin(), points.end());
    for (const int variant : {enc_variant, cmp_variant, hff_variant}) {
        std::wstring text;
        EXPECT_EQ(round_trip(points, 0, variant, &text), x) << "variant " << variant;
    }
}

}  // namespace
