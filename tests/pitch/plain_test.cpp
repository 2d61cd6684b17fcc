// tests/pitch/plain_test.cpp: the plain pitch-bend string and the choice of form.
#include "pitch/plain.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pitch/curve.h"
#include "pitch/dispatch.h"
#include "tests/support/pitch_curves.h"

using namespace velorin;
using velorin_test::curve_points;
using velorin_test::make_curve;
using velorin_test::text_of;

namespace {

struct PlainCase {
    const wchar_t* text;
    std::vector<int> points;  // empty: no curve
};

class PlainDecode : public testing::TestWithParam<PlainCase> {};

TEST_P(PlainDecode, GivesThePointsOfTheString) {
    const PlainCase& c = GetParam();
    EXPECT_EQ(curve_points(decplain(c.text)), c.points) << "text '" << text_of(c.text) << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Examples, PlainDecode,
    testing::Values(PlainCase{L"AA", {0}}, PlainCase{L"A", {0}},
                    PlainCase{L"AB#3#AC", {1, 1, 1, 1, 2}}, PlainCase{L"#3#AB", {0, 0, 0, 1}},
                    PlainCase{L"#2#AB", {0, 0, 1}}, PlainCase{L"#0#AB", {1}},
                    PlainCase{L"#-4#AB", {1}}, PlainCase{L"AB#3", {1, 1, 1, 1}},
                    PlainCase{L"A#2#", {0, -640}}, PlainCase{L"//", {-1}}, PlainCase{L"f/", {2047}},
                    PlainCase{L"gA", {-2048}}, PlainCase{L"/w", {-16}}, PlainCase{L"==", {0}},
                    PlainCase{L"--AB", {0, 1}}, PlainCase{L"#5#", {0, 0, 0, 0, 0}},
                    PlainCase{L"#0#", {}}, PlainCase{L"", {}},
                    // No digits after '#': reading resumes two characters after it.
                    PlainCase{L"AB#xAC", {1, 2}}, PlainCase{L"AB#", {1}},
                    // Leading blanks and a sign belong to the number; any end character is skipped.
                    PlainCase{L"AB# 2xAC", {1, 1, 1, 2}}, PlainCase{L"AB#+1!AC", {1, 1, 2}},
                    PlainCase{L"\u3042\u3042AB", {0, 1}}));

TEST(PlainDecode, NullTextGivesNoCurve) { EXPECT_EQ(decplain(nullptr), nullptr); }

TEST(PlainDecode, HugeRunCountStopsAtTheCurveLimit) {
    const std::vector<int> p = curve_points(decplain(L"AB#99999999999999#AC"));
    ASSERT_EQ(p.size(), size_t(max_curve_points));
    EXPECT_EQ(p.front(), 1);
    EXPECT_EQ(p.back(), 1);  // the point after the run no longer fits
}

TEST(PlainDecode, LongStringKeepsTheFirstPoints) {
    std::wstring text;
    for (int i = 0; i < 40000; ++i) text += i < max_curve_points ? L"AB" : L"AC";
    const std::vector<int> p = curve_points(decplain(text.c_str()));
    ASSERT_EQ(p.size(), size_t(max_curve_points));
    EXPECT_EQ(p.back(), 1);
}

TEST(PlainEncode, WritesPairsAndRunMarks) {
    const auto enc = [](std::vector<int16_t> v) {
        std::unique_ptr<int16_t, void (*)(int16_t*)> c(make_curve(v), free_pitch_curve);
        wchar_t* t = encplain(c.get());
        const std::wstring s = t ? t : L"<none>";
        free_pitch_text(t);
        return s;
    };
    EXPECT_EQ(enc({5, 5}), L"AFAF");
    EXPECT_EQ(enc({5, 5, 5}), L"AF#2#");
    EXPECT_EQ(enc({2048}), L"gA");
    EXPECT_EQ(enc({0, 0, 0, 7, 7, 7, 7, -1}), L"AA#2#AH#3#//");
    EXPECT_EQ(enc({1, 2, 2}), L"ABACAC");
    EXPECT_EQ(enc({}), L"<none>");
    EXPECT_EQ(encplain(nullptr), nullptr);
}

TEST(PlainEncode, DecodesBackForPointsInRange) {
    velorin_test::CurveRand rng;
    for (int trial = 0; trial < 200; ++trial) {
        const std::vector<int16_t> v = velorin_test::random_curve(rng, trial % 6, -2048, 2047);
        std::unique_ptr<int16_t, void (*)(int16_t*)> c(make_curve(v), free_pitch_curve);
        wchar_t* t = encplain(c.get());
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(curve_points(decplain(t)), std::vector<int>(v.begin(), v.end()))
            << "trial " << trial << " text " << text_of(t);
        free_pitch_text(t);
    }
}

struct FormCase {
    const wchar_t* tempo;
    bool compressed;
    int variant;
    int order;
};

class PitchForm : public testing::TestWithParam<FormCase> {};

TEST_P(PitchForm, ReadsCodecAndOrderAfterTheStar) {
    const FormCase& c = GetParam();
    int variant = -7;
    int order = -7;
    ASSERT_EQ(select_pitch_form(c.tempo, &variant, &order), c.compressed) << text_of(c.tempo);
    if (!c.compressed) return;
    EXPECT_EQ(variant, c.variant) << text_of(c.tempo);
    EXPECT_EQ(order, c.order) << text_of(c.tempo);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, PitchForm,
    testing::Values(FormCase{L"!120*cmp3", true, 2, 3}, FormCase{L"!120*xyz1", true, 0, 1},
                    FormCase{L"!120*enc1", true, 1, 1}, FormCase{L"!120*hff", true, 3, 0},
                    FormCase{L"!120*hff2", true, 3, 2}, FormCase{L"!120", false, 0, 0},
                    FormCase{L"!120*HFF2", true, 0, 2}, FormCase{L"!120*enc-1", true, 1, -1},
                    FormCase{L"!120*enc 4", true, 1, 4},
                    FormCase{L"!120*cmp99999999999", true, 2, 2147483647},
                    FormCase{L"!120*hf", true, 0, 0}, FormCase{L"!120*", true, 0, 0},
                    FormCase{L"*enc2*cmp3", true, 1, 2}, FormCase{L"", false, 0, 0}));

TEST(PitchForm, NullTempoIsThePlainForm) {
    int variant = 0;
    int order = 0;
    EXPECT_FALSE(select_pitch_form(nullptr, &variant, &order));
}

}  // namespace
