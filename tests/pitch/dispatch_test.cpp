// tests/pitch/dispatch_test.cpp: the compressed-form entry points and their text variants.
#include "pitch/dispatch.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "pitch/curve.h"
#include "tests/support/pitch_curves.h"

using namespace velorin;
using velorin_test::curve_points;
using velorin_test::make_curve;

namespace {

std::wstring encpitch_of(const std::vector<int16_t>& points, int order, int variant) {
    int16_t* c = make_curve(points);
    wchar_t* t = encpitch(c, order, variant);
    free_pitch_curve(c);
    const std::wstring s = t ? t : L"<none>";
    free_pitch_text(t);
    return s;
}

TEST(DecPitch, UnknownVariantsReadTheEncForm) {
    const std::vector<int> want = {0, 1, 33};
    for (const int variant : {-3, 0, 1, 4, 99})
        EXPECT_EQ(curve_points(decpitch(L"AB!B", 0, variant)), want) << variant;
    EXPECT_EQ(curve_points(decpitch(L"AB!B", 0, 2)), (std::vector<int>{0, 0, 0, 1, 33}));
}

TEST(DecPitch, OrdersBelowOneAndAboveThreeAreTheEdgeOrders) {
    const auto points = [](int order, int variant) {
        return curve_points(decpitch(L"JJJJ", order, variant));
    };
    for (const int variant : {1, 2}) {
        EXPECT_EQ(points(-1, variant), points(0, variant));
        EXPECT_EQ(points(4, variant), points(3, variant));
        EXPECT_EQ(points(1000, variant), points(3, variant));
        EXPECT_NE(points(2, variant), points(3, variant));
    }
    EXPECT_EQ(points(2, 1), (std::vector<int>{9, 18, 36, 63}));
    EXPECT_EQ(points(3, 1), (std::vector<int>{9, 18, 36, 72}));
}

TEST(DecPitch, ExpandsBothLayersBeforeTheCodec) {
    // "[AC": one character back, six times; then '$B' adds four 'A'.
    EXPECT_EQ(curve_points(decpitch(L"B[AC$B", 0, 1)),
              (std::vector<int>{1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0}));
    // Zero marks that a back-reference copies are still zero marks.
    EXPECT_EQ(curve_points(decpitch(L"$AB[CA", 0, 1)).size(), 3u + 1 + 3 + 1);
    EXPECT_EQ(decpitch(L"", 0, 1), nullptr);
    EXPECT_EQ(decpitch(nullptr, 0, 3), nullptr);
    EXPECT_EQ(decpitch(L"[AA", 0, 1), nullptr);
}

TEST(EncPitch, PacksTheCodecText) {
    EXPECT_EQ(encpitch_of({0, 0, 0, 5}, 0, 1), L"$AF");
    EXPECT_EQ(encpitch_of({0, 0, 0, 0, 0, 0, 1}, 0, 2), L"$A'B");  // "AAA'B"
    EXPECT_EQ(encpitch_of(std::vector<int16_t>(300, 1), 0, 1),
              L"B{A/{A/[Ah");  // 1 + 131 + 131 + 37
    testing::internal::CaptureStdout();
    EXPECT_EQ(encpitch_of({1, 2, 3, 4, 5}, 5, 1), L"<none>");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "encpitch: Argument 2 ist anomal.\n");
    EXPECT_EQ(encpitch_of({}, 0, 1), L"<none>");
    EXPECT_EQ(encpitch_of({7, 7}, 0, 3), L"<none>");
}

TEST(EncPitchText, ReadsNumbersAndCopiesLikeABoundedCopy) {
    wchar_t buf[8];
    std::wmemset(buf, L'x', 8);
    EXPECT_EQ(encpitchtext(L"0  0 0 5", buf, 8, 0, 1), 3);
    EXPECT_EQ(std::wstring(buf, 8), std::wstring(L"$AF\0\0\0\0\0", 8));
    std::wmemset(buf, L'x', 8);
    EXPECT_EQ(encpitchtext(L"0 0 0 5", buf, 2, 0, 1), 3);  // cut short, no terminator
    EXPECT_EQ(std::wstring(buf, 3), L"$Ax");
    EXPECT_EQ(encpitchtext(L"0 0 0 5", nullptr, 8, 0, 1), 3);
    EXPECT_EQ(encpitchtext(L"0 0 0 5", buf, 0, 0, 1), 3);
    EXPECT_EQ(encpitchtext(L"0 0 0 5", buf, -4, 0, 1), 3);
    // Halves round up; a token that is no number is 0; an unknown variant is "enc".
    std::wmemset(buf, L'x', 8);
    EXPECT_EQ(encpitchtext(L" 0.5 -1.5 -0.6 abc ", buf, 8, 0, 9), 4);
    EXPECT_EQ(std::wstring(buf), L"B//A");
    EXPECT_EQ(encpitchtext(L" 0.5 -1.5 -0.6 abc ", buf, 8, 0, 1), 4);
    EXPECT_EQ(encpitchtext(L"1 1 1", buf, 8, 0, 2), 3);
    EXPECT_EQ(std::wstring(buf), L"J'B");
}

TEST(EncPitchText, NothingToEncodeGivesLengthZero) {
    wchar_t buf[4] = {L'x', L'x', L'x', L'x'};
    EXPECT_EQ(encpitchtext(L"", buf, 4, 0, 1), 0);
    EXPECT_EQ(std::wstring(buf, 4), std::wstring(4, L'\0'));
    EXPECT_EQ(encpitchtext(L"   ", buf, 4, 0, 1), 0);
    EXPECT_EQ(encpitchtext(nullptr, buf, 4, 0, 1), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(encpitchtext(L"1 2", buf, 4, 7, 1), 0);  // order too high for "enc"
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "encpitch: Argument 2 ist anomal.\n");
}

TEST(DecPitchText, WritesThePointsSeparatedBySpaces) {
    wchar_t buf[16];
    std::wmemset(buf, L'x', 16);
    EXPECT_EQ(decpitchtext(L"AB@Ah", buf, 16, 0, 1), 9);
    EXPECT_EQ(std::wstring(buf), L"0 1 -2048");
    EXPECT_EQ(decpitchtext(L"AB@Ah", buf, 4, 0, 1), 9);
    EXPECT_EQ(std::wstring(buf, 4), L"0 1 ");
    EXPECT_EQ(decpitchtext(L"J", buf, 16, 1, 2), 3);
    EXPECT_EQ(std::wstring(buf), L"1 2");
    std::wmemset(buf, L'x', 16);
    EXPECT_EQ(decpitchtext(L"!", buf, 16, 0, 1), 0);
    EXPECT_EQ(std::wstring(buf, 16), std::wstring(16, L'\0'));
}

TEST(PitchText, EncodeThenDecodeGivesTheNumbersBack) {
    const wchar_t* numbers = L"0 -5 -12 -20 -20 -20 -11 0 14 30 47 63 80 96 96 96 96 400 -300";
    wchar_t packed[256];
    wchar_t back[256];
    for (const int variant : {1, 2, 3}) {
        for (int order = 0; order <= 3; ++order) {
            const int n = encpitchtext(numbers, packed, 256, order, variant);
            ASSERT_GT(n, 0);
            ASSERT_LT(n, 256);
            EXPECT_EQ(decpitchtext(packed, back, 256, order, variant), int(std::wcslen(numbers)));
            EXPECT_EQ(std::wstring(back), numbers) << variant << " " << order;
        }
    }
}

}  // namespace
