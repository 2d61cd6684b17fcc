// tests/audio/wav_test.cpp: the WAV render reader, raw reader and writer.
#include "audio/wav.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

#include "platform/mem.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/support.h"

using namespace velorin;
using namespace velorin_test;

namespace {

struct Samples {
    double* p = nullptr;
    WavFormat fmt;
    int64_t ssize = -1;
    ~Samples() { release(p); }
};

using Raw = RawData;

void load(const TempDir& dir, const std::vector<uint8_t>& file, int appended, Samples* s) {
    write_bytes(dir.file("in.wav"), file);
    s->p = read_wav_samples(dir.wfile("in.wav").c_str(), appended, &s->fmt, &s->ssize);
}

void load(const TempDir& dir, const std::vector<uint8_t>& file, int appended, Raw* r) {
    write_bytes(dir.file("in.wav"), file);
    r->p = read_wav_raw(dir.wfile("in.wav").c_str(), appended, &r->fmt, &r->size);
}

std::vector<uint8_t> pcm16(const std::vector<int16_t>& v) {
    std::vector<uint8_t> b;
    for (int16_t x : v) append_le16(b, uint16_t(x));
    return b;
}

// --- conversion of every stored format ---------------------------------------

struct DepthCase {
    const char* name;
    int tag;
    int bits;
    std::vector<uint8_t> stored;  // one mono sample after another
    std::vector<double> expected;
};

std::vector<uint8_t> f32_bytes(std::initializer_list<float> v) {
    std::vector<uint8_t> b;
    for (float x : v) {
        uint32_t u;
        std::memcpy(&u, &x, 4);
        append_le32(b, u);
    }
    return b;
}

std::vector<uint8_t> f64_bytes(std::initializer_list<double> v) {
    std::vector<uint8_t> b;
    for (double x : v) {
        uint64_t u;
        std::memcpy(&u, &x, 8);
        append_le32(b, uint32_t(u));
        append_le32(b, uint32_t(u >> 32));
    }
    return b;
}

class WavDepth : public testing::TestWithParam<DepthCase> {};

TEST_P(WavDepth, RenderReaderConvertsToSixteenBitScale) {
    const DepthCase& c = GetParam();
    TempDir dir;
    const int align = c.bits / 8;
    Samples s;
    load(dir, riff_wave({fmt_chunk(c.tag, 1, 44100, align, c.bits), {"data", c.stored}}), 4, &s);
    ASSERT_NE(s.p, nullptr);
    ASSERT_EQ(s.ssize, int64_t(c.expected.size()));
    for (size_t i = 0; i < c.expected.size(); ++i)
        EXPECT_EQ(s.p[i], c.expected[i]) << "sample " << i;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(s.p[c.expected.size() + i], 0.0);
    EXPECT_EQ(s.fmt.bits, c.bits);
    EXPECT_EQ(s.fmt.format_tag, c.tag);
}

TEST_P(WavDepth, RawReaderKeepsStoredBytes) {
    const DepthCase& c = GetParam();
    TempDir dir;
    const int align = c.bits / 8;
    Raw r;
    load(dir, riff_wave({fmt_chunk(c.tag, 1, 44100, align, c.bits), {"data", c.stored}}), 3, &r);
    ASSERT_NE(r.p, nullptr);
    ASSERT_EQ(r.size, int64_t(c.stored.size()));
    EXPECT_EQ(std::memcmp(r.p, c.stored.data(), c.stored.size()), 0);
    for (int i = 0; i < 3 * align; ++i) EXPECT_EQ(r.p[c.stored.size() + i], 0);
}

// Converting a part of the stored data gives those frames the values of the
// whole conversion and leaves every other one alone.
TEST_P(WavDepth, PartOfTheStoredDataConvertsToTheSameValues) {
    const DepthCase& c = GetParam();
    TempDir dir;
    const int align = c.bits / 8;
    std::vector<uint8_t> stored;  // the case's samples as two-channel frames
    for (int k = 0; k < 2; ++k) stored.insert(stored.end(), c.stored.begin(), c.stored.end());
    write_bytes(dir.file("in.wav"),
                riff_wave({fmt_chunk(c.tag, 2, 44100, 2 * align, c.bits), {"data", stored}}));
    Samples whole;
    whole.p = read_wav_samples(dir.wfile("in.wav").c_str(), 2, &whole.fmt, &whole.ssize);
    ASSERT_NE(whole.p, nullptr);
    // Read whole, left in the file, and left in a copy of its bytes in memory.
    const std::vector<uint8_t> bytes = read_bytes(dir.file("in.wav"));
    for (int form = 0; form < 3; ++form) {
        StoredSamples st;
        WavFormat fmt;
        int64_t ssize = 0;
        ByteSource src = memory_source(bytes.data(), bytes.size());
        const std::wstring path = dir.wfile("in.wav");
        ASSERT_TRUE(form == 0   ? read_wav_stored(path.c_str(), &fmt, &ssize, &st)
                    : form == 1 ? open_wav_stored(path.c_str(), &fmt, &ssize, &st)
                                : wav_stored_from(src, &fmt, &ssize, &st));
        EXPECT_EQ(ssize, whole.ssize);
        EXPECT_EQ(st.raw != nullptr, form == 0);
        for (int64_t first = -1; first <= ssize; ++first) {
            for (int64_t last = first; last <= ssize + 2; ++last) {
                std::vector<double> part((ssize + 2) * 2, -7.0);
                convert_stored_frames(st, fmt, ssize, first, last, part.data());
                for (int64_t i = 0; i < int64_t(part.size()); ++i) {
                    const bool inside = i / 2 >= first && i / 2 < last && i / 2 < ssize;
                    ASSERT_EQ(part[i], inside ? whole.p[i] : -7.0)
                        << form << " " << first << " " << last << " " << i;
                }
            }
        }
        release_stored(&st);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllDepths, WavDepth,
    testing::Values(
        DepthCase{"u8", 1, 8, {0, 255, 128, 127}, {-32640.0, 32640.0, 128.0, -128.0}},
        DepthCase{"i16", 1, 16, pcm16({-32768, 1, 32767, -2}), {-32768.0, 1.0, 32767.0, -2.0}},
        DepthCase{"i24",
                  1,
                  24,
                  {0x00, 0x00, 0x80, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
                  {-32768.0, 1.0, -0.00390625, 8388607 * 0.00390625}},
        DepthCase{"i32",
                  1,
                  32,
                  {0, 0, 0, 0x80, 0, 0, 1, 0, 0x01, 0, 0, 0},
                  {-32768.0, 1.0, 0.0000152587890625}},
        DepthCase{"f32",
                  3,
                  32,
                  f32_bytes({1.0f, -0.5f, 0.1f}),
                  {32767.5, -16383.75, double(0.1f) * 32767.5}},
        // Any tag but 1 with 32 bits is read as float.
        DepthCase{"f32ext", 0xFFFE, 32, f32_bytes({0.25f}), {8191.875}},
        DepthCase{"f64", 3, 64, f64_bytes({1.0, -0.1}), {32767.5, -0.1 * 32767.5}}),
    [](const testing::TestParamInfo<DepthCase>& i) { return std::string(i.param.name); });

// --- the render reader's layout rules -----------------------------------------

TEST(WavRenderReader, MonoThousandFramesGetsAppendedZeros) {
    TempDir dir;
    std::vector<int16_t> v(1000);
    for (int i = 0; i < 1000; ++i) v[i] = int16_t(i * 7 - 3000);
    write_bytes(dir.file("v.wav"), wav_bytes_i16(v, 1, 44100));
    WavFormat fmt;
    int64_t ssize = 0;
    double* p = read_wav_samples(dir.wfile("v.wav").c_str(), 2048, &fmt, &ssize);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(ssize, 1000);
    EXPECT_EQ(fmt.rate, 44100u);
    EXPECT_EQ(fmt.channels, 1);
    EXPECT_EQ(std::memcmp(fmt.id, "fmt ", 4), 0);
    EXPECT_EQ(fmt.chunk_size, 16u);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(p[i], v[i]);
    for (int i = 1000; i < 3048; ++i) ASSERT_EQ(p[i], 0.0);
    release(p);
}

TEST(WavRenderReader, StereoStaysInterleaved) {
    TempDir dir;
    Samples s;
    load(dir, wav_bytes_i16({1, -1, 2, -2, 3, -3}, 2, 22050), 2, &s);
    ASSERT_NE(s.p, nullptr);
    EXPECT_EQ(s.ssize, 3);
    const double want[] = {1, -1, 2, -2, 3, -3, 0, 0, 0, 0};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(s.p[i], want[i]);
}

TEST(WavRenderReader, EighteenByteFmtAndUnknownChunksAreSkipped) {
    TempDir dir;
    Samples s;
    // An odd-sized chunk is followed directly by the next one: no pad byte.
    load(dir,
         riff_wave({{"LIST", {1, 2, 3}},
                    {"fmt ", fmt_body(1, 1, 48000, 2, 16, 2)},
                    {"junk", std::vector<uint8_t>(5000, 0xAA)},
                    {"data", pcm16({5, 6})}}),
         0, &s);
    ASSERT_NE(s.p, nullptr);
    EXPECT_EQ(s.fmt.chunk_size, 18u);
    EXPECT_EQ(s.fmt.rate, 48000u);
    EXPECT_EQ(s.ssize, 2);
    EXPECT_EQ(s.p[0], 5.0);
    EXPECT_EQ(s.p[1], 6.0);
}

TEST(WavRenderReader, EmptyChunkBeforeDataGivesNothingButRawReaderGoesOn) {
    TempDir dir;
    const auto file =
        riff_wave({fmt_chunk(1, 1, 44100, 2, 16), {"cue ", {}}, {"data", pcm16({9, 8})}});
    Samples s;
    load(dir, file, 0, &s);
    EXPECT_EQ(s.p, nullptr);
    Raw r;
    load(dir, file, 0, &r);
    ASSERT_NE(r.p, nullptr);
    EXPECT_EQ(r.size, 4);
    EXPECT_EQ(r.p[0], 9);
}

TEST(WavRenderReader, UnknownBitDepthReadsZeros) {
    TempDir dir;
    Samples s;
    load(dir, riff_wave({fmt_chunk(1, 1, 44100, 2, 12), {"data", pcm16({100, 200, 300})}}), 1, &s);
    ASSERT_NE(s.p, nullptr);
    EXPECT_EQ(s.ssize, 3);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(s.p[i], 0.0);
}

TEST(WavRenderReader, DataClaimingMoreThanTheFileReadsMissingSamplesAsZero) {
    TempDir dir;
    Samples s;
    load(dir, riff_wave({fmt_chunk(1, 1, 44100, 2, 16), {"data", pcm16({7, 8, 9}), 2000}}), 16, &s);
    ASSERT_NE(s.p, nullptr);
    EXPECT_EQ(s.ssize, 1000);
    EXPECT_EQ(s.p[2], 9.0);
    for (int i = 3; i < 1016; ++i) ASSERT_EQ(s.p[i], 0.0);
    Raw r;
    load(dir, riff_wave({fmt_chunk(1, 1, 44100, 2, 16), {"data", pcm16({7, 8, 9}), 2000}}), 16, &r);
    ASSERT_NE(r.p, nullptr);
    EXPECT_EQ(r.size, 2000);
    EXPECT_EQ(r.p[4], 9);
    for (int i = 6; i < 2032; ++i) ASSERT_EQ(r.p[i], 0);
}

TEST(WavRenderReader, HalfSampleAtTheEndIsZero) {
    TempDir dir;
    Samples s;
    load(dir, riff_wave({fmt_chunk(1, 1, 44100, 2, 16), {"data", {1, 0, 2}, 4}}), 0, &s);
    ASSERT_NE(s.p, nullptr);
    EXPECT_EQ(s.ssize, 2);
    EXPECT_EQ(s.p[0], 1.0);
    EXPECT_EQ(s.p[1], 0.0);
}

// A sample read where the note converts it holds the whole reader's values
// wherever it is converted: a long sample in parts near its start, middle and
// end, whatever the chunks around the data and a data size that is not the
// file's.
TEST(WavRenderReader, SampleLeftInTheFileConvertsToTheWholeReadersValues) {
    std::vector<uint8_t> long_data(3 * 70001 * 2);
    for (size_t i = 0; i < long_data.size(); ++i) long_data[i] = uint8_t(i * 7919 >> 3);
    const struct {
        const char* name;
        std::vector<uint8_t> file;
    } cases[] = {
        {"i16 stereo", riff_wave({fmt_chunk(1, 2, 44100, 4, 16), {"data", long_data}})},
        {"i24 stereo, chunks around", riff_wave({{"LIST", {1, 2, 3}},
                                                 fmt_chunk(1, 2, 48000, 6, 24),
                                                 {"data", long_data},
                                                 {"cue ", std::vector<uint8_t>(100, 5)}})},
        {"u8 mono, claims beyond the file",
         riff_wave({fmt_chunk(1, 1, 22050, 1, 8), {"data", long_data, 1000000}})},
        {"f32, half a frame at the end",
         riff_wave(
             {fmt_chunk(3, 1, 44100, 4, 32), {"data", {long_data.begin(), long_data.end() - 2}}})},
        {"unknown depth", riff_wave({fmt_chunk(1, 1, 44100, 2, 12), {"data", long_data}})},
        // The most a size may claim beyond the file, counted in the chunk's
        // own size where frames are wider than their samples.
        {"claims the most beyond the file",
         riff_wave({fmt_chunk(1, 1, 44100, 2048, 16),
                    {"data", long_data, int64_t(long_data.size()) + max_data_shortfall}})},
    };
    for (const auto& c : cases) {
        TempDir dir;
        Samples whole;
        load(dir, c.file, 0, &whole);
        ASSERT_NE(whole.p, nullptr) << c.name;
        StoredSamples st;
        WavFormat fmt;
        int64_t ssize = 0;
        ASSERT_TRUE(open_wav_stored(dir.wfile("in.wav").c_str(), &fmt, &ssize, &st)) << c.name;
        ASSERT_EQ(ssize, whole.ssize) << c.name;
        EXPECT_EQ(std::memcmp(&fmt, &whole.fmt, sizeof fmt), 0) << c.name;
        const int ch = fmt.channels;
        // Zeros, as the render's buffer; a mark where nothing is converted.
        std::vector<double> part(size_t(ssize) * ch, 0.0);
        part[size_t(ssize / 2 + 6000) * ch] = -7.0;
        for (int64_t first : {int64_t(0), ssize / 2 - 4097, ssize - 5000}) {
            convert_stored_frames(st, fmt, ssize, first, first + 9000, part.data());
            const int64_t from = first * ch, to = std::min(first + 9000, ssize) * ch;
            // The same bits: stored floats may be NaNs.
            ASSERT_EQ(std::memcmp(&part[from], &whole.p[from], size_t(to - from) * 8), 0)
                << c.name << " " << first;
        }
        EXPECT_EQ(part[size_t(ssize / 2 + 6000) * ch], -7.0) << c.name;
        release_stored(&st);
    }
}

// --- files both readers refuse ------------------------------------------------

struct BadCase {
    const char* name;
    std::vector<uint8_t> file;
};

class WavUnreadable : public testing::TestWithParam<BadCase> {};

TEST_P(WavUnreadable, BothReadersGiveNothing) {
    TempDir dir;
    testing::internal::CaptureStderr();
    Samples s;
    load(dir, GetParam().file, 2048, &s);
    Raw r;
    load(dir, GetParam().file, 4096, &r);
    // The reader that leaves the samples in the file judges by the numbers.
    WavFormat fmt;
    int64_t ssize = 0;
    StoredSamples st;
    EXPECT_FALSE(open_wav_stored(dir.wfile("in.wav").c_str(), &fmt, &ssize, &st));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(s.p, nullptr);
    EXPECT_EQ(r.p, nullptr);
    EXPECT_EQ(st.source.file, nullptr);
    EXPECT_EQ(err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Corrupt, WavUnreadable,
    testing::Values(
        BadCase{"DataBeforeFmt",
                riff_wave({{"data", pcm16({1, 2})}, fmt_chunk(1, 1, 44100, 2, 16)})},
        BadCase{"NoDataChunk", riff_wave({fmt_chunk(1, 1, 44100, 2, 16)})},
        BadCase{"BlockAlignZero", riff_wave({fmt_chunk(1, 1, 44100, 0, 16), {"data", pcm16({1})}})},
        BadCase{"ChannelsZero", riff_wave({fmt_chunk(1, 0, 44100, 2, 16), {"data", pcm16({1})}})},
        BadCase{"RateZero", riff_wave({fmt_chunk(1, 1, 0, 2, 16), {"data", pcm16({1})}})},
        BadCase{"AbsurdChannels",
                riff_wave({fmt_chunk(1, 60000, 44100, 1, 8), {"data", {1, 2, 3, 4}}})},
        BadCase{"MoreChannelsThanBytes",
                riff_wave({fmt_chunk(1, 200, 44100, 100, 8), {"data", {1, 2, 3, 4}}})},
        // A size 64 MiB and more beyond the file is taken for corruption.
        BadCase{"HugeDataClaim",
                riff_wave({fmt_chunk(1, 1, 44100, 1, 8), {"data", {1, 2}, 0xFFFFFFF0}})},
        BadCase{"ClaimBeyondTheShortfall",
                riff_wave({fmt_chunk(1, 1, 44100, 2, 16),
                           {"data", {1, 2}, 2 + max_data_shortfall + 2}})},
        BadCase{"WideFramesClaimBeyondTheShortfall",
                riff_wave({fmt_chunk(1, 1, 44100, 2048, 16),
                           {"data", {1, 2}, 2 + max_data_shortfall + 1}})},
        BadCase{"HugeClaimUnknownDepth",
                riff_wave({fmt_chunk(1, 1, 44100, 1, 12), {"data", {1, 2}, 0xFFFFFFF0}})},
        BadCase{"TruncatedFmt", {'R', 'I', 'F', 'F', 0,   0,  0, 0, 'W', 'A', 'V',
                                 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,   1,   0}},
        BadCase{"OtherChunkRunsPastEnd",
                riff_wave({fmt_chunk(1, 1, 44100, 2, 16), {"LIST", {1, 2}, 100}})}),
    [](const testing::TestParamInfo<BadCase>& i) { return std::string(i.param.name); });

TEST(WavReaders, MissingFileGivesNothingSilently) {
    TempDir dir;
    WavFormat fmt;
    int64_t n = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(read_wav_samples(dir.wfile("none.wav").c_str(), 0, &fmt, &n), nullptr);
    EXPECT_EQ(read_wav_raw(dir.wfile("none.wav").c_str(), 0, &fmt, &n), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(WavReaders, WrongHeaderMessages) {
    TempDir dir;
    auto notriff = wav_bytes_i16({1, 2}, 1, 44100);
    std::memcpy(notriff.data(), "RIFX", 4);
    auto notwave = wav_bytes_i16({1, 2}, 1, 44100);
    std::memcpy(notwave.data() + 8, "AVI ", 4);
    const struct {
        std::vector<uint8_t> file;
        const char* render_msg;
        const char* raw_msg;
    } cases[] = {
        {notriff, "file format error(2).\n", "file format error.\n"},
        {notwave, "file format error(2).\n", "file format error(2).\n"},
        {{'R', 'I'}, "file format error(2).\n", "file format error.\n"},
        {{'R', 'I', 'F', 'F', 4, 0}, "file format error(2).\n", "file format error(2).\n"}};
    for (const auto& c : cases) {
        Samples s;
        testing::internal::CaptureStderr();
        load(dir, c.file, 0, &s);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.render_msg);
        EXPECT_EQ(s.p, nullptr);
        WavFormat fmt;
        int64_t ssize = 0;
        StoredSamples st;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(open_wav_stored(dir.wfile("in.wav").c_str(), &fmt, &ssize, &st));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.render_msg);
        Raw r;
        testing::internal::CaptureStderr();
        load(dir, c.file, 0, &r);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.raw_msg);
        EXPECT_EQ(r.p, nullptr);
    }
}

// --- the raw reader -----------------------------------------------------------

TEST(WavRawReader, UnknownSizeReadsToTheEndAndAppendsZeros) {
    TempDir dir;
    std::vector<uint8_t> data(10000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 13 + 1);
    Raw r;
    load(dir, riff_wave({fmt_chunk(1, 2, 44100, 4, 16), {"data", data, 0xFFFFFFFF}}), 100, &r);
    ASSERT_NE(r.p, nullptr);
    EXPECT_EQ(r.size, 10000);
    EXPECT_EQ(std::memcmp(r.p, data.data(), data.size()), 0);
    for (int i = 0; i < 400; ++i) ASSERT_EQ(r.p[10000 + i], 0) << i;
}

TEST(WavRawReader, EmptyDataGivesOnlyTheAppendedFrames) {
    TempDir dir;
    Raw r;
    load(dir, riff_wave({fmt_chunk(1, 1, 44100, 2, 16), {"data", {}}}), 4096, &r);
    ASSERT_NE(r.p, nullptr);
    EXPECT_EQ(r.size, 0);
    for (int i = 0; i < 8192; ++i) ASSERT_EQ(r.p[i], 0);
}

// --- the writer ---------------------------------------------------------------

TEST(WavWriter, HeaderOfTwoHundredFiftySixMonoSamples) {
    TempDir dir;
    std::vector<double> x(256, 100.0);
    EXPECT_EQ(write_wav(dir.wfile("o.wav").c_str(), x.data(), 256, 16, 1, 44100, 1), 556);
    const auto b = read_bytes(dir.file("o.wav"));
    ASSERT_EQ(b.size(), 556u);
    const std::vector<uint8_t> head(b.begin(), b.begin() + 44);
    std::vector<uint8_t> want = {'R', 'I', 'F', 'F'};
    append_le32(want, 548);
    for (char c : std::string("WAVEfmt ")) want.push_back(uint8_t(c));
    append_le32(want, 16);
    append_le16(want, 1);
    append_le16(want, 1);
    append_le32(want, 44100);
    append_le32(want, 88200);
    append_le16(want, 2);
    append_le16(want, 16);
    for (char c : std::string("data")) want.push_back(uint8_t(c));
    append_le32(want, 512);
    EXPECT_EQ(head, want);
}

struct WriteCase {
    const char* name;
    int bits;
    int format;
    std::vector<double> in;
    std::vector<uint8_t> out;
};

class WavWrite : public testing::TestWithParam<WriteCase> {};

TEST_P(WavWrite, ConvertsAndClamps) {
    const WriteCase& c = GetParam();
    TempDir dir;
    const int64_t n = int64_t(c.in.size());
    EXPECT_EQ(write_wav(dir.wfile("o.wav").c_str(), c.in.data(), n, c.bits, 1, 44100, c.format),
              44 + int64_t(c.out.size()));
    const auto b = read_bytes(dir.file("o.wav"));
    ASSERT_EQ(b.size(), 44 + c.out.size());
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 44, b.end()), c.out);
    EXPECT_EQ(b[20], c.format == 3 ? 3 : 1);
    EXPECT_EQ(b[34], c.bits);
}

const double nan_value = std::numeric_limits<double>::quiet_NaN();
const double inf_value = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    AllDepths, WavWrite,
    testing::Values(
        WriteCase{"u8", 8, 1, {0, 32767, -32768, 1000, nan_value}, {128, 255, 0, 132, 128}},
        WriteCase{"i16",
                  16,
                  1,
                  {1.9, -1.9, 40000, -40000, nan_value, inf_value},
                  {1, 0, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x80, 0, 0, 0xFF, 0x7F}},
        WriteCase{"i24",
                  24,
                  1,
                  {1.5, -1.0, 1e9, nan_value},
                  {0x80, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0}},
        WriteCase{"i32", 32, 1, {0.5, -1e9}, {0x00, 0x80, 0, 0, 0, 0, 0, 0x80}},
        // The float forms divide by 32767.5: full scale is exactly 1.
        WriteCase{"f32", 32, 3, {32767.5, -16383.75}, {0, 0, 0x80, 0x3F, 0, 0, 0, 0xBF}},
        WriteCase{"f64", 64, 1, {-32767.5}, {0, 0, 0, 0, 0, 0, 0xF0, 0xBF}}),
    [](const testing::TestParamInfo<WriteCase>& i) { return std::string(i.param.name); });

// The 16-bit writer converts several samples at a time: every edge value in
// every position, with the lengths leaving every possible remainder, and a
// file larger than the writer's buffer.
TEST(WavWriter, SixteenBitEdgesInEveryPositionOfABlock) {
    const double edges[] = {nan_value, inf_value, -inf_value, 32767.999, 32768,
                            -32768.5,  -32769,    -0.0,       -0.999,    0.999,
                            1e300,     -1e-300,   12345.5,    -12345.5,  -32767.5};
    const auto straightforward = [](double x) {
        if (std::isnan(x)) x = 0;
        x = std::min(32767.0, std::max(-32768.0, x));
        return static_cast<uint16_t>(static_cast<int16_t>(std::trunc(x)));
    };
    TempDir dir;
    for (int n : {1, 3, 4, 5, 7, 8, 15, 4095, 4097, 600001}) {  // the last past 1 MiB
        std::vector<double> x(static_cast<size_t>(n));
        std::vector<uint8_t> want;
        for (int i = 0; i < n; ++i) {
            x[size_t(i)] = edges[size_t(i * 7 + n) % std::size(edges)];
            append_le16(want, straightforward(x[size_t(i)]));
        }
        ASSERT_EQ(write_wav(dir.wfile("o.wav").c_str(), x.data(), n, 16, 1, 44100, 1), 44 + 2 * n);
        const auto b = read_bytes(dir.file("o.wav"));
        EXPECT_EQ(std::vector<uint8_t>(b.begin() + 44, b.end()), want) << n;
    }
}

TEST(WavWriter, WrittenFileReadsBack) {
    TempDir dir;
    const std::vector<double> x = make_vowel(44100, 0.1, 220.0);
    std::vector<double> want(x.size());
    for (size_t i = 0; i < x.size(); ++i) want[i] = std::trunc(x[i]);
    ASSERT_GT(write_wav(dir.wfile("o.wav").c_str(), x.data(), int64_t(x.size()), 16, 1, 44100, 1),
              0);
    WavFormat fmt;
    int64_t ssize = 0;
    double* p = read_wav_samples(dir.wfile("o.wav").c_str(), 0, &fmt, &ssize);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(ssize, int64_t(x.size()));
    for (size_t i = 0; i < x.size(); ++i) ASSERT_EQ(p[i], want[i]) << i;
    release(p);
}

TEST(WavWriter, StereoFramesCountInTheSizes) {
    TempDir dir;
    const double x[] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(write_wav(dir.wfile("o.wav").c_str(), x, 3, 16, 2, 8000, 1), 44 + 12);
    const auto b = read_bytes(dir.file("o.wav"));
    ASSERT_EQ(b.size(), 56u);
    EXPECT_EQ(b[32], 4);                            // block align
    EXPECT_EQ(b[28] | b[29] << 8, 32000 & 0xFFFF);  // byte rate, low half
}

TEST(WavWriter, DashWritesToStandardOutput) {
    const double x[] = {1, -1};
    testing::internal::CaptureStdout();
    const int64_t n = write_wav(L"-", x, 2, 16, 1, 44100, 1);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(n, 48);
    ASSERT_EQ(out.size(), 48u);
    EXPECT_EQ(out.substr(0, 4), "RIFF");
    EXPECT_EQ(out.substr(44), std::string("\x01\x00\xFF\xFF", 4));
}

TEST(WavWriter, RefusesWhatItCannotWrite) {
    TempDir dir;
    const double x[] = {1};
    EXPECT_EQ(write_wav(dir.wfile("no/such/folder.wav").c_str(), x, 1, 16, 1, 44100, 1), -1);
    EXPECT_EQ(write_wav(dir.wfile("o.wav").c_str(), x, 1, 12, 1, 44100, 1), -1);
    EXPECT_FALSE(file_exists(dir.file("o.wav")));
}

}  // namespace
