// tests/pitch/container_test.cpp: back-reference and zero-run packing.
#include "pitch/container.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pitch/digits.h"
#include "tests/support/pitch_curves.h"

using namespace velorin;
using velorin_test::CurveRand;
using velorin_test::rand_between;
using velorin_test::text_of;

namespace {

std::wstring a_run(size_t n) { return std::wstring(n, L'A'); }

std::wstring xy_times(int n) {
    std::wstring s;
    for (int i = 0; i < n; ++i) s += L"xy";
    return s;
}

// The greedy packer written as plainly as it is defined: at each position,
// follow every distance to the end of its match.
std::wstring reference_packrefs(const std::wstring& s) {
    std::wstring out;
    for (size_t p = 0; p < s.size();) {
        size_t best = 0, best_d = 0;
        for (size_t d = 1; d <= 128 && d <= p; ++d) {
            size_t len = 0;
            while (p + len < s.size() && s[p + len] == s[p + len - d]) ++len;
            if (len > best) best = len, best_d = d;
        }
        if (best < 4) {
            out += s[p++];
            continue;
        }
        if (best > 131) best = 131;
        const bool far = best_d > 64, lng = best > 67;
        out += far ? (lng ? L'}' : L']') : (lng ? L'{' : L'[');
        out += pitch_alphabet[best_d - (far ? 65 : 1)];
        out += pitch_alphabet[best - (lng ? 68 : 4)];
        p += best;
    }
    return out;
}

// Texts with repeats at many distances: periodic stretches with defects,
// runs of 'A' and noise, over the characters a codec text may hold.
std::wstring repetitive_text(CurveRand& r) {
    static const wchar_t chars[] = L"AAAABCg/!@$#'";
    std::wstring s;
    const int pieces = rand_between(r, 1, 6);
    for (int k = 0; k < pieces; ++k) {
        const int kind = rand_between(r, 0, 2);
        if (kind == 0) {
            s += a_run(size_t(rand_between(r, 1, 300)));
        } else if (kind == 1) {
            std::wstring unit;
            const int period =
                rand_between(r, 0, 1) ? rand_between(r, 1, 8) : rand_between(r, 60, 130);
            for (int i = 0; i < period; ++i) unit += chars[rand_between(r, 0, 12)];
            const int len = rand_between(r, 1, 400);
            for (int i = 0; i < len; ++i) {
                wchar_t c = unit[size_t(i) % unit.size()];
                if (rand_between(r, 0, 150) == 0) c = L'z';
                s += c;
            }
        } else {
            const int len = rand_between(r, 1, 40);
            for (int i = 0; i < len; ++i) s += chars[rand_between(r, 0, 12)];
        }
    }
    return s;
}

struct LayerCase {
    const wchar_t* in;
    std::wstring out;
};

class ExpandRefs : public testing::TestWithParam<LayerCase> {};

TEST_P(ExpandRefs, CopiesFromTheOutputAndStopsAtABrokenMark) {
    EXPECT_EQ(expandrefs(GetParam().in), GetParam().out) << text_of(GetParam().in);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ExpandRefs,
    testing::Values(LayerCase{L"AB[BC", L"ABABABAB"}, LayerCase{L"AB[", L"AB"},
                    LayerCase{L"AB[A", L"AB"}, LayerCase{L"AB[-A", L"AB"},
                    LayerCase{L"AB[A-", L"AB"}, LayerCase{L"x[AGyz", L"xxxxxxxxxxxyz"},
                    // Braces add 64 to the length.
                    LayerCase{L"xy{BA", xy_times(35)},
                    // A mark reaching before the start of the output ends the text there.
                    LayerCase{L"AB[CAxy", L"AB"}, LayerCase{L"[AA", L""},
                    LayerCase{L"AB]AAC", L"AB"}, LayerCase{L"$#!@'", L"$#!@'"},
                    LayerCase{L"", L""}));

TEST(ExpandRefs, FarMarksReachBackUpToOneHundredTwentyEightCharacters) {
    std::wstring head;
    for (int i = 0; i < 128; ++i) head += pitch_alphabet[i % 64];
    // ']' distance 65 + 63, length 4 + 0; '}' distance 65 + 0, length 68 + 63.
    EXPECT_EQ(expandrefs(head + L"]/A"), head + head.substr(0, 4));
    const std::wstring far = expandrefs(head + L"}A/");
    ASSERT_EQ(far.size(), head.size() + 131);
    for (size_t i = head.size(); i < far.size(); ++i) ASSERT_EQ(far[i], far[i - 65]) << i;
}

TEST(ExpandRefs, ExpansionStopsAtTheLengthLimit) {
    std::wstring bomb = L"A";
    for (int i = 0; i < 40000; ++i) bomb += L"{A/";  // 131 more each
    EXPECT_EQ(expandrefs(bomb).size(), max_expanded_length);
}

class ExpandZeros : public testing::TestWithParam<LayerCase> {};

TEST_P(ExpandZeros, RestoresRunsOfAAndStopsAtABrokenMark) {
    EXPECT_EQ(expandzeros(GetParam().in), GetParam().out) << text_of(GetParam().in);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ExpandZeros,
    testing::Values(LayerCase{L"B$AC", L"BAAAC"}, LayerCase{L"#AA", a_run(67)},
                    LayerCase{L"#//", a_run(4162)}, LayerCase{L"$/", a_run(66)},
                    LayerCase{L"x#BBy", L"x" + a_run(1 + 64 + 67) + L"y"}, LayerCase{L"B$", L"B"},
                    LayerCase{L"B$-C", L"B"}, LayerCase{L"B#A", L"B"}, LayerCase{L"B#A!", L"B"},
                    LayerCase{L"B#", L"B"}, LayerCase{L"![]@'-", L"![]@'-"}, LayerCase{L"", L""}));

TEST(ExpandZeros, ExpansionStopsAtTheLengthLimit) {
    std::wstring bomb;
    for (int i = 0; i < 1000; ++i) bomb += L"#//";
    EXPECT_EQ(expandzeros(bomb), a_run(max_expanded_length));
}

class PackZeros : public testing::TestWithParam<LayerCase> {};

TEST_P(PackZeros, WritesRunsOfThreeOrMoreAsMarks) {
    EXPECT_EQ(packzeros(GetParam().in), GetParam().out) << text_of(GetParam().in);
}

const std::wstring run_66 = a_run(66), run_67 = a_run(67), run_2114 = a_run(2114),
                   run_2115 = a_run(2115), run_4230 = a_run(4230), run_4231 = a_run(4231);

INSTANTIATE_TEST_SUITE_P(
    Examples, PackZeros,
    testing::Values(LayerCase{L"BAAC", L"BAAC"}, LayerCase{L"BAAAC", L"B$AC"},
                    LayerCase{L"AB", L"AB"}, LayerCase{run_66.c_str(), L"$/"},
                    LayerCase{run_67.c_str(), L"#AA"}, LayerCase{run_2114.c_str(), L"#/f"},
                    // Longer runs: full marks, then the rest by the same rule.
                    LayerCase{run_2115.c_str(), L"#/fA"}, LayerCase{run_4230.c_str(), L"#/f#/fAA"},
                    LayerCase{run_4231.c_str(), L"#/f#/f$A"}, LayerCase{L"", L""}));

TEST(PackZeros, ExpandsBackToTheSameText) {
    CurveRand r;
    for (int trial = 0; trial < 300; ++trial) {
        std::wstring s;
        const int pieces = rand_between(r, 1, 8);
        for (int k = 0; k < pieces; ++k) {
            s += a_run(size_t(rand_between(r, 0, 3) == 0 ? rand_between(r, 60, 9000)
                                                         : rand_between(r, 1, 70)));
            s += L"B!@'gz"[rand_between(r, 0, 5)];
        }
        ASSERT_EQ(expandzeros(packzeros(s)), s) << "trial " << trial;
    }
}

TEST(PackRefs, WritesMatchesOfFourOrMore) {
    EXPECT_EQ(packrefs(L"ABABABAB"), L"AB[BC");
    EXPECT_EQ(packrefs(L"ABAB"), L"ABAB");
    EXPECT_EQ(packrefs(L"ABCABCD"), L"ABCABCD");
    EXPECT_EQ(packrefs(L"ABCDABCD"), L"ABCD[DA");
    EXPECT_EQ(packrefs(L"x" + a_run(200)), L"xA{A/{AA");  // 131 of the 199, then the other 68
    EXPECT_EQ(packrefs(L""), L"");
}

TEST(PackRefs, MatchesThePlainGreedyDefinition) {
    CurveRand r;
    for (int trial = 0; trial < 300; ++trial) {
        const std::wstring s = repetitive_text(r);
        const std::wstring packed = packrefs(s);
        ASSERT_EQ(packed, reference_packrefs(s)) << "trial " << trial;
        ASSERT_EQ(expandrefs(packed), s) << "trial " << trial;
    }
}

}  // namespace
