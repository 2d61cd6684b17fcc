// tests/audio/aiff_test.cpp: the 16-bit AIFF reader.
#include "audio/aiff.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>

#include "platform/mem.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/support.h"

using namespace velorin;
using namespace velorin_test;

namespace {

using Aiff = RawData;

void load(const TempDir& dir, const std::vector<uint8_t>& file, int appended, Aiff* a) {
    std::setlocale(LC_ALL, "C.UTF-8");
    write_bytes(dir.file("in.aif"), file);
    testing::internal::CaptureStdout();
    a->p = read_aiff_raw(dir.wfile("in.aif").c_str(), appended, &a->fmt, &a->size);
    a->out = testing::internal::GetCapturedStdout();
}

std::vector<int16_t> ramp(int n, int channels) {
    std::vector<int16_t> v(size_t(n) * channels);
    for (size_t i = 0; i < v.size(); ++i) v[i] = int16_t(int(i) * 37 - 20000);
    return v;
}

TEST(AiffReader, ThousandMonoFramesWithAnalysisTail) {
    TempDir dir;
    const auto v = ramp(1000, 1);
    Aiff a;
    load(dir, aiff_file({comm_chunk(1, 1000, 16, 44100), ssnd_chunk(v)}), 4096, &a);
    ASSERT_NE(a.p, nullptr);
    EXPECT_EQ(a.out, "");
    EXPECT_EQ(a.size, 2000);
    EXPECT_EQ(a.fmt.rate, 44100u);
    EXPECT_EQ(a.fmt.block_align, 2);
    EXPECT_EQ(a.fmt.byte_rate, 88200u);
    EXPECT_EQ(a.fmt.bits, 16);
    EXPECT_EQ(a.fmt.format_tag, 1);
    EXPECT_EQ(a.fmt.chunk_size, 16u);
    EXPECT_EQ(std::memcmp(a.fmt.id, "fmt ", 4), 0);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(a.value(i), v[i]) << i;
    for (int i = 1000; i < 5096; ++i) ASSERT_EQ(a.value(i), 0) << i;
}

TEST(AiffReader, StereoAfterOtherChunksWithPadBytes) {
    TempDir dir;
    const auto v = ramp(300, 2);
    Aiff a;
    // "NAME" of odd size is followed by its pad byte, which must be skipped.
    load(dir,
         aiff_file({{"NAME", {'v', 'o', 'x'}},
                    comm_chunk(2, 300, 16, 22050),
                    {"ANNO", {}},
                    ssnd_chunk(v)}),
         10, &a);
    ASSERT_NE(a.p, nullptr);
    EXPECT_EQ(a.fmt.channels, 2);
    EXPECT_EQ(a.fmt.block_align, 4);
    EXPECT_EQ(a.fmt.rate, 22050u);
    EXPECT_EQ(a.fmt.byte_rate, 22050u * 4);
    EXPECT_EQ(a.size, 1200);
    for (int i = 0; i < 600; ++i) ASSERT_EQ(a.value(i), v[i]) << i;
    for (int i = 600; i < 620; ++i) ASSERT_EQ(a.value(i), 0) << i;
}

TEST(AiffReader, OffsetBytesAreSkipped) {
    TempDir dir;
    RawChunk ssnd = ssnd_chunk({0x1234, -2});
    ssnd.body[3] = 4;  // offset 4
    ssnd.body.insert(ssnd.body.begin() + 8, 4, 0xEE);
    Aiff a;
    load(dir, aiff_file({comm_chunk(1, 2, 16, 8000), ssnd}), 0, &a);
    ASSERT_NE(a.p, nullptr);
    EXPECT_EQ(a.size, 4);
    EXPECT_EQ(a.value(0), 0x1234);
    EXPECT_EQ(a.value(1), -2);
}

TEST(AiffReader, CommAfterSsndLeavesTheDefaults) {
    TempDir dir;
    Aiff a;
    load(dir, aiff_file({ssnd_chunk(ramp(10, 2)), comm_chunk(2, 10, 16, 48000)}), 4096, &a);
    ASSERT_NE(a.p, nullptr);
    EXPECT_EQ(a.size, 0);
    EXPECT_EQ(a.fmt.channels, 1);
    EXPECT_EQ(a.fmt.rate, 44100u);
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(a.value(i), 0);
}

TEST(AiffReader, ClaimBeyondTheFileIsCutToTheFramesPresent) {
    TempDir dir;
    const auto v = ramp(101, 2);
    std::vector<uint8_t> file = aiff_file({comm_chunk(2, 4000000000u, 16, 44100), ssnd_chunk(v)});
    file.pop_back();  // half of the last value: its frame is padded with zeros
    Aiff a;
    load(dir, file, 5, &a);
    ASSERT_NE(a.p, nullptr);
    EXPECT_EQ(a.size, 101 * 4);
    EXPECT_EQ(a.value(200), v[200]);
    EXPECT_EQ(a.value(201), 0);
    for (int i = 202; i < 212; ++i) EXPECT_EQ(a.value(i), 0);
}

TEST(AiffReader, NoSoundChunkGivesNothingSilently) {
    TempDir dir;
    Aiff a;
    load(dir, aiff_file({comm_chunk(1, 10, 16, 44100)}), 0, &a);
    EXPECT_EQ(a.p, nullptr);
    EXPECT_EQ(a.out, "");
    Aiff cut;
    auto file = aiff_file({comm_chunk(1, 10, 16, 44100), ssnd_chunk(ramp(10, 1))});
    file.resize(12 + 26 + 12);  // the "SSND" header without its offset fields
    load(dir, file, 0, &cut);
    EXPECT_EQ(cut.p, nullptr);
}

struct RefusedCase {
    const char* name;
    std::vector<uint8_t> file;
    const char* message;
};

class AiffRefused : public testing::TestWithParam<RefusedCase> {};

TEST_P(AiffRefused, PrintsItsMessage) {
    TempDir dir;
    Aiff a;
    load(dir, GetParam().file, 4096, &a);
    EXPECT_EQ(a.p, nullptr);
    EXPECT_EQ(a.out, GetParam().message);
}

std::vector<uint8_t> aifc() { return aiff_file({comm_chunk(1, 1, 16, 44100)}, "AIFC"); }

INSTANTIATE_TEST_SUITE_P(
    Files, AiffRefused,
    testing::Values(
        RefusedCase{"EightBit",
                    aiff_file({comm_chunk(1, 4, 8, 44100), ssnd_chunk({1, 2}), {"ANNO", {1}}}),
                    "16ビットフォーマットではありません\n"},
        RefusedCase{"TwentyFourBit",
                    aiff_file({comm_chunk(1, 2, 24, 44100), ssnd_chunk({1, 2, 3})}),
                    "16ビットフォーマットではありません\n"},
        RefusedCase{"Wav", wav_bytes_i16({1, 2, 3}, 1, 44100),
                    "最初のchunkはFROMでなければなりません 46464952 \n"},
        RefusedCase{"Aifc", aifc(), "AIFFファイルではありません 43464941 \n"},
        RefusedCase{"ZeroChannels", aiff_file({comm_chunk(0, 4, 16, 44100), ssnd_chunk({1, 2})}),
                    ""},
        RefusedCase{"AbsurdChannels",
                    aiff_file({comm_chunk(30000, 4, 16, 44100), ssnd_chunk({1, 2})}), ""},
        RefusedCase{"RateZero", aiff_file({comm_chunk(1, 4, 16, 0), ssnd_chunk({1, 2})}), ""}),
    [](const testing::TestParamInfo<RefusedCase>& i) { return std::string(i.param.name); });

TEST(AiffReader, MissingFileMessage) {
    std::setlocale(LC_ALL, "C.UTF-8");
    TempDir dir;
    WavFormat fmt;
    int64_t n = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(read_aiff_raw(dir.wfile("none.aif").c_str(), 0, &fmt, &n), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ファイルが開けません\n");
}

TEST(AiffRate, ExtendedFloatToWholeHertz) {
    const uint8_t r44100[10] = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(aiff_rate(r44100), 44100u);
    const uint8_t r8000[10] = {0x40, 0x0B, 0xFA, 0x00, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(aiff_rate(r8000), 8000u);
    const uint8_t one[10] = {0x3F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(aiff_rate(one), 1u);
    // Exponents that would shift by 32 or more, either way, give 0.
    const uint8_t tiny[10] = {0x3F, 0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(aiff_rate(tiny), 0u);
    const uint8_t huge[10] = {0x40, 0x3F, 0x80, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(aiff_rate(huge), 0u);
}

}  // namespace
