// tests/pitch/codecs_test.cpp: the units of the enc, cmp and hff codec texts.
#include "pitch/codecs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pitch/curve.h"
#include "pitch/digits.h"
#include "tests/support/pitch_curves.h"

using namespace velorin;
using velorin_test::curve_points;
using velorin_test::make_curve;
using velorin_test::text_of;

namespace {

using Decoder = int16_t* (*)(const std::wstring&, int);
using Encoder = std::wstring (*)(const int16_t*, int);

std::vector<int> zeros(int n) { return std::vector<int>(size_t(n), 0); }

std::wstring encode(Encoder e, const std::vector<int16_t>& points, int order = 0) {
    int16_t* c = make_curve(points);
    const std::wstring t = e(c, order);
    free_pitch_curve(c);
    return t;
}

struct DecodeCase {
    Decoder decode;
    const wchar_t* text;
    int order;
    std::vector<int> points;  // empty: no curve
};

class CodecDecode : public testing::TestWithParam<DecodeCase> {};

TEST_P(CodecDecode, ReadsTheUnits) {
    const DecodeCase& c = GetParam();
    EXPECT_EQ(curve_points(c.decode(c.text, c.order)), c.points)
        << "text '" << text_of(c.text) << "' order " << c.order;
}

INSTANTIATE_TEST_SUITE_P(
    Enc, CodecDecode,
    testing::Values(
        DecodeCase{enc_decode, L"AB", 0, {0, 1}}, DecodeCase{enc_decode, L"AB", 1, {0, 1}},
        DecodeCase{enc_decode, L"BB", 1, {1, 2}}, DecodeCase{enc_decode, L"g", 0, {-32}},
        DecodeCase{enc_decode, L"f", 0, {31}}, DecodeCase{enc_decode, L"!A", 0, {32}},
        DecodeCase{enc_decode, L"!f", 0, {63}}, DecodeCase{enc_decode, L"!g", 0, {-64}},
        DecodeCase{enc_decode, L"!/", 0, {-33}}, DecodeCase{enc_decode, L"@AA", 0, {64}},
        DecodeCase{enc_decode, L"@//", 0, {-65}}, DecodeCase{enc_decode, L"@Ah", 0, {-2048}},
        DecodeCase{enc_decode, L"@/f", 0, {2111}}, DecodeCase{enc_decode, L"@Ag", 0, {-2112}},
        DecodeCase{enc_decode, L"$A", 0, zeros(3)}, DecodeCase{enc_decode, L"#AA", 0, zeros(67)},
        DecodeCase{enc_decode, L"#//", 0, zeros(4162)}, DecodeCase{enc_decode, L"A-B", 0, {0, 1}},
        DecodeCase{enc_decode, L"!", 0, {}}, DecodeCase{enc_decode, L"B!-C", 0, {1}},
        // '@' with a non-digit low digit is skipped with it; one at the end ends the text.
        DecodeCase{enc_decode, L"@-B", 0, {1}}, DecodeCase{enc_decode, L"B@", 0, {1}},
        DecodeCase{enc_decode, L"B@A", 0, {1}}, DecodeCase{enc_decode, L"B@A-C", 0, {1}},
        DecodeCase{enc_decode, L"B$", 0, {1}}, DecodeCase{enc_decode, L"B#A", 0, {1}},
        DecodeCase{enc_decode, L"B#A-", 0, {1}}, DecodeCase{enc_decode, L"", 0, {}},
        // Orders ramp up from the start: 1, 2 then 3 earlier points.
        DecodeCase{enc_decode, L"BBBB", 3, {1, 2, 4, 8}},
        DecodeCase{enc_decode, L"BBBB", 99, {1, 2, 4, 8}},
        DecodeCase{enc_decode, L"BBBB", 2, {1, 2, 4, 7}},
        DecodeCase{enc_decode, L"BBBB", -1, {1, 1, 1, 1}},
        // Rebuilt points wrap to 16 bits.
        DecodeCase{enc_decode,
                   L"@/e@/e@/e@/e@/e@/e@/e@/e",
                   2,
                   {2047, 4094, 8188, 14329, 22517, 32752, -20502, -6173}},
        DecodeCase{enc_decode, L"@/e#AA", 1, std::vector<int>(68, 2047)}));

INSTANTIATE_TEST_SUITE_P(
    Cmp, CodecDecode,
    testing::Values(
        DecodeCase{cmp_decode, L"A", 0, zeros(2)}, DecodeCase{cmp_decode, L"AA", 0, zeros(4)},
        DecodeCase{cmp_decode, L"J", 0, {1, 1}}, DecodeCase{cmp_decode, L"J", 1, {1, 2}},
        DecodeCase{cmp_decode, L"7", 0, {-1, 3}}, DecodeCase{cmp_decode, L"g", 0, {-4, 0}},
        DecodeCase{cmp_decode, L"'/", 0, {-1}}, DecodeCase{cmp_decode, L"'g", 0, {-32}},
        DecodeCase{cmp_decode, L"'f", 0, {31}}, DecodeCase{cmp_decode, L"!A", 0, {32}},
        DecodeCase{cmp_decode, L"!g", 0, {-64}}, DecodeCase{cmp_decode, L"@AA", 0, {64}},
        DecodeCase{cmp_decode, L"@Ah", 0, {-2048}},
        DecodeCase{cmp_decode, L"AB$C", 0, {0, 0, 0, 1}}, DecodeCase{cmp_decode, L"J-J", 0, {1, 1}},
        DecodeCase{cmp_decode, L"J'", 0, {1, 1}}, DecodeCase{cmp_decode, L"J'-", 0, {1, 1}},
        DecodeCase{cmp_decode, L"J@A", 0, {1, 1}}, DecodeCase{cmp_decode, L"J@-A", 0, {1, 1}},
        DecodeCase{cmp_decode, L"'", 0, {}}, DecodeCase{cmp_decode, L"-J", 0, {}},
        DecodeCase{cmp_decode, L"JJ", 2, {1, 2, 4, 7}}));

TEST(EncEncode, WritesTheShortestUnits) {
    EXPECT_EQ(encode(enc_encode, {0, 0, 0, 5}), L"$AF");
    EXPECT_EQ(encode(enc_encode, {40}), L"!I");
    EXPECT_EQ(encode(enc_encode, {-2000}), L"@wh");
    EXPECT_EQ(encode(enc_encode, {3000}), L"@/e");  // limited to 2047
    EXPECT_EQ(encode(enc_encode, {-3000}), L"@Ah");
    EXPECT_EQ(encode(enc_encode, {31, -32, 63, -33, 64, -65}), L"fg!f!/@AA@//");
    EXPECT_EQ(encode(enc_encode, {0}), L"A");
    EXPECT_EQ(encode(enc_encode, {0, 0, 7}), L"AAH");
    EXPECT_EQ(encode(enc_encode, {1, 2, 3, 4, 5}, 1), L"BBBBB");
    EXPECT_EQ(encode(enc_encode, {1, 2, 3, 4, 5}, 2), L"BB$A");
    EXPECT_EQ(encode(enc_encode, {}), L"");
    EXPECT_EQ(enc_encode(nullptr, 0), L"");
}

TEST(EncEncode, WritesZeroRunsAsCounts) {
    EXPECT_EQ(encode(enc_encode, std::vector<int16_t>(66, 0)), L"$/");
    EXPECT_EQ(encode(enc_encode, std::vector<int16_t>(67, 0)), L"#AA");
    EXPECT_EQ(encode(enc_encode, std::vector<int16_t>(2114, 0)), L"#/f");
    EXPECT_EQ(encode(enc_encode, std::vector<int16_t>(2117, 0)), L"#/f$A");
    std::vector<int16_t> v(5000, 0);
    v.push_back(3);
    EXPECT_EQ(curve_points(enc_decode(encode(enc_encode, v), 0)),
              std::vector<int>(v.begin(), v.end()));
}

TEST(EncEncode, ResidualZeroInSixteenBitsJoinsTheZeroRun) {
    // Order 3 over these points gives the residual 65536 at the fourth point.
    const std::vector<int16_t> v = {0, 0, 0, 0, 0, 0, 32767, -32768, 32767};
    const std::wstring t = encode(enc_encode, v, 3);
    EXPECT_EQ(t.find(L"$AA"), std::wstring::npos) << text_of(t);
}

TEST(EncEncode, OrderFiveOrMoreIsRefusedWithAMessage) {
    testing::internal::CaptureStdout();
    const std::wstring t5 = encode(enc_encode, {1, 2}, 5);
    const std::wstring t9 = encode(enc_encode, {1, 2}, 9);
    const std::wstring t4 = encode(enc_encode, {1, 2}, 4);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "encpitch: Argument 2 ist anomal.\nencpitch: Argument 2 ist anomal.\n");
    EXPECT_EQ(t5, L"");
    EXPECT_EQ(t9, L"");
    EXPECT_EQ(t4, L"BB");
}

TEST(CmpEncode, PairsSmallResiduals) {
    EXPECT_EQ(encode(cmp_encode, {1, 1}), L"J");
    EXPECT_EQ(encode(cmp_encode, {1, 1, 1}), L"J'B");
    EXPECT_EQ(encode(cmp_encode, {1, 10}), L"'B'K");
    EXPECT_EQ(encode(cmp_encode, {-4, 3, -1, 0}), L"j4");
    EXPECT_EQ(encode(cmp_encode, {-4, 40, -2000, 3000}), L"'8!I@wh@/e");
    EXPECT_EQ(encode(cmp_encode, {0, 0, 0, 0, 0}), L"AA'A");
    EXPECT_EQ(encode(cmp_encode, {5, 6, 7, 8}, 1), L"'FJ'B");
    EXPECT_EQ(encode(cmp_encode, {}), L"");
}

TEST(HffCodes, AreCanonical) {
    EXPECT_EQ(hff_canonical_codes({1, 1}), (std::vector<uint32_t>{0b0, 0b1}));
    EXPECT_EQ(hff_canonical_codes({1, 2, 2}), (std::vector<uint32_t>{0b0, 0b10, 0b11}));
    EXPECT_EQ(hff_canonical_codes({1, 3, 3, 3, 3}),
              (std::vector<uint32_t>{0b0, 0b100, 0b101, 0b110, 0b111}));
    EXPECT_EQ(hff_canonical_codes({0}), (std::vector<uint32_t>{0}));
    EXPECT_EQ(hff_canonical_codes({2, 2, 3, 5}),
              (std::vector<uint32_t>{0b00, 0b01, 0b100, 0b10100}));
}

// An "hff" text built field by field, independently of the codec.
struct HffText {
    std::string bits;  // '0' and '1'

    HffText& raw(const std::string& b) {
        bits += b;
        return *this;
    }
    HffText& exp_golomb(uint64_t u, int k) {
        const uint64_t t = u + (uint64_t(1) << k);
        std::string b;
        for (uint64_t x = t; x; x >>= 1) b.insert(b.begin(), char('0' + (x & 1)));
        bits += std::string(b.size() - size_t(k) - 1, '0') + b;
        return *this;
    }
    HffText& entry(int symbol, int length_step) {
        exp_golomb(symbol >= 0 ? 2 * uint64_t(symbol) : 2 * uint64_t(-symbol) - 1, 3);
        return exp_golomb(uint64_t(length_step), 0);
    }
    // Six bits per digit plus the trailer.
    std::wstring text() const {
        std::string b = bits;
        const size_t filler = (6 - b.size() % 6) % 6;
        b += std::string(filler, '0');
        std::wstring out;
        for (size_t i = 0; i < b.size(); i += 6)
            out += pitch_alphabet[std::stoi(b.substr(i, 6), nullptr, 2)];
        if (b.empty()) return L"D";
        if (filler <= 2) return out + pitch_alphabet[filler + 3];
        out.back() = pitch_alphabet[strict_digit(out.back()) + int(filler) - 3];
        return out;
    }
};

TEST(HffDecode, ReadsTableAndData) {
    // Three entries of lengths 1, 2, 2: codes 0, 10, 11.
    HffText h;
    h.exp_golomb(3, 4).entry(0, 1).entry(-5, 1).entry(700, 0).raw(
        "0"
        "10"
        "11"
        "0"
        "11");
    EXPECT_EQ(curve_points(hff_decode(h.text(), 0)), (std::vector<int>{0, -5, 700, 0, 700}));
    EXPECT_EQ(curve_points(hff_decode(h.text(), 1)), (std::vector<int>{0, -5, 695, 695, 1395}));
}

TEST(HffDecode, TrailerCutsTheFiller) {
    HffText exact;  // 18 bits: three digits and 'D'
    exact.exp_golomb(2, 4).entry(3, 1).entry(1, 0).raw("1");
    ASSERT_EQ(exact.bits.size(), 18u);
    const std::wstring t = exact.text();
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t.back(), L'D');
    EXPECT_EQ(curve_points(hff_decode(t, 0)), (std::vector<int>{1}));
    HffText nine;  // 21 bits: four digits, the last with three bits of filler and 0
    nine.exp_golomb(2, 4).entry(3, 1).entry(1, 0).raw("1011");
    const std::wstring t9 = nine.text();
    ASSERT_EQ(t9.size(), 4u);
    EXPECT_EQ(strict_digit(t9.back()) & 7, 0);
    EXPECT_EQ(curve_points(hff_decode(t9, 0)), (std::vector<int>{1, 3, 1, 1}));
}

TEST(HffDecode, MalformedTablesGiveNoCurve) {
    HffText no_entries;
    no_entries.exp_golomb(0, 4).entry(1, 1).raw("0000");
    EXPECT_EQ(hff_decode(no_entries.text(), 0), nullptr);
    HffText too_long;  // a code of 32 bits
    too_long.exp_golomb(2, 4).entry(1, 1).entry(2, 31).raw("0000");
    EXPECT_EQ(hff_decode(too_long.text(), 0), nullptr);
    HffText longest;  // 31 bits is still a code
    longest.exp_golomb(2, 4).entry(1, 1).entry(2, 30).raw(
        "0"
        "1" +
        std::string(30, '0'));
    EXPECT_EQ(curve_points(hff_decode(longest.text(), 0)), (std::vector<int>{1, 2}));
    HffText cut;  // three entries announced, two given
    cut.exp_golomb(3, 4).entry(1, 1).entry(2, 0);
    EXPECT_EQ(hff_decode(cut.text(), 0), nullptr);
    HffText huge;  // more entries than the bits could hold
    huge.exp_golomb(uint64_t(1) << 40, 4).entry(1, 1);
    EXPECT_EQ(hff_decode(huge.text(), 0), nullptr);
    EXPECT_EQ(hff_decode(L"D", 0), nullptr);
    EXPECT_EQ(hff_decode(L"", 0), nullptr);
    EXPECT_EQ(hff_decode(L"/", 0), nullptr);  // the trailer claims more bits than there are
    EXPECT_EQ(hff_decode(std::wstring(5000, L'A'), 0), nullptr);
}

TEST(HffDecode, UnmatchedDataKeepsWhatCameBeforeWithAMessage) {
    // Codes 0 and 10 only; "11" matches nothing.
    HffText h;
    h.exp_golomb(2, 4).entry(4, 1).entry(9, 1).raw(
        "0"
        "10"
        "11"
        "0");
    testing::internal::CaptureStdout();
    const std::vector<int> p = curve_points(hff_decode(h.text(), 0));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[Huffman-Code ist kaputt!]");
    EXPECT_EQ(p, (std::vector<int>{4, 9}));
    // A character outside the alphabet is six 1-bits.
    HffText g;
    g.exp_golomb(2, 4).entry(4, 1).entry(9, 1).raw(
        "0"
        "10"
        "0"
        "10"
        "0"
        "10"
        "0"
        "10"
        "0");
    ASSERT_EQ(g.bits.size(), 36u);  // no filler: the trailer is a digit of its own
    std::wstring t = g.text();
    t.insert(t.size() - 1, L"-");
    testing::internal::CaptureStdout();
    EXPECT_EQ(curve_points(hff_decode(t, 0)), (std::vector<int>{4, 9, 4, 9, 4, 9, 4, 9, 4}));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[Huffman-Code ist kaputt!]");
}

TEST(HffDecode, ZeroLengthCodeStopsAtTheCurveLimit) {
    HffText h;
    h.exp_golomb(1, 4).entry(7, 0).raw("1");
    const std::vector<int> p = curve_points(hff_decode(h.text(), 0));
    ASSERT_EQ(p.size(), 32767u);
    EXPECT_EQ(p[0], 7);
}

TEST(HffEncode, BuildsTheCodeFromTheCounts) {
    // Residuals 0, 1, 0: counts 2 and 1, both one bit long; 20 bits in all.
    EXPECT_EQ(encode(hff_encode, {0, 1, 0}), L"lCqh");
    // Equal counts keep ascending value order, and the tree joins from the
    // end, so the smallest value gets the short code.
    HffText h;
    h.exp_golomb(3, 4).entry(-2, 1).entry(5, 1).entry(9, 0).raw(
        "10"
        "0"
        "11");
    EXPECT_EQ(encode(hff_encode, {5, -2, 9}), h.text());
}

TEST(HffEncode, SkewedCountsGiveLongerCodesToRareValues) {
    // Counts 8, 4, 2, 1, 1 give lengths 1, 2, 3, 4, 4 (codes 0, 10, 110, 1110, 1111).
    std::vector<int16_t> v;
    for (int i = 0; i < 8; ++i) v.push_back(3);
    for (int i = 0; i < 4; ++i) v.push_back(-1);
    for (int i = 0; i < 2; ++i) v.push_back(20);
    v.push_back(-300);
    v.push_back(100);
    HffText h;
    h.exp_golomb(5, 4).entry(3, 1).entry(-1, 1).entry(20, 1).entry(-300, 1).entry(100, 0);
    h.raw(
        "00000000"
        "10101010"
        "110110"
        "1110"
        "1111");
    EXPECT_EQ(encode(hff_encode, v), h.text());
}

TEST(HffEncode, AllResidualsEqualGivesNoText) {
    EXPECT_EQ(encode(hff_encode, {5}), L"");
    EXPECT_EQ(encode(hff_encode, {5, 5, 5}), L"");
    EXPECT_EQ(encode(hff_encode, {1, 2, 3, 4}, 1), L"");
    EXPECT_EQ(encode(hff_encode, {}), L"");
}

}  // namespace
