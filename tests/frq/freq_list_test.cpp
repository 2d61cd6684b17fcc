// tests/frq/freq_list_test.cpp: the frequency list file, its path rule and
// its atomic replacement.
#include "frq/freq_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>

#include "audio/analysis_loader.h"
#include "audio/bytes.h"
#include "audio/wav.h"
#include "frq/freq_gen.h"
#include "frq/sample_analysis.h"
#include "platform/mem.h"
#include "platform/platform.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/frq_reference.h"
#include "tests/support/support.h"

using namespace velorin;
using namespace velorin_test;

namespace {

FreqListPtr make_list(int count) {
    FreqListPtr list(alloc_freq_list(count));
    list->step = 256;
    list->sample_rate = 44100;
    list->freq_avg = 261.625565;
    for (int k = 0; k < count; ++k) {
        list->freq[k] = k % 5 == 0 ? 0.0 : 200.0 + k * 0.37;
        list->amp[k] = 1000.0 / (k + 1);
    }
    list->freq[count] = list->freq[count - 1];
    list->amp[count] = list->amp[count - 1];
    return list;
}

std::vector<uint8_t> list_bytes(const char* magic, int32_t step, int32_t count, int records) {
    std::vector<uint8_t> b(40 + 16 * size_t(records));
    std::memcpy(b.data(), magic, 8);
    put_le_u32(&b[8], uint32_t(step));
    put_le_f64(&b[12], 150.5);
    put_le_u32(&b[20], 22050);
    put_le_u32(&b[36], uint32_t(count));
    for (int k = 0; k < records; ++k) {
        put_le_f64(&b[40 + 16 * k], 100.0 + k);
        put_le_f64(&b[48 + 16 * k], 2.0 * k);
    }
    return b;
}

void set_mtime(const std::string& path, time_t t) {
    struct timeval tv[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(utimes(path.c_str(), tv), 0);
}

std::vector<std::string> names_in(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path))
        names.push_back(e.path().filename().string());
    return names;
}

// --- the path rule --------------------------------------------------------------

struct PathCase {
    const wchar_t* in;
    const wchar_t* out;
    bool is_list;
};

class FreqListPath : public testing::TestWithParam<PathCase> {};

TEST_P(FreqListPath, DerivesTheListBesideTheSample) {
    std::wstring out;
    bool is_list = !GetParam().is_list;
    ASSERT_TRUE(freq_list_path(GetParam().in, &out, &is_list));
    EXPECT_EQ(out, GetParam().out);
    EXPECT_EQ(is_list, GetParam().is_list);
}

INSTANTIATE_TEST_SUITE_P(Names, FreqListPath,
                         testing::Values(PathCase{L"dir/voice.wav", L"dir/voice_wav.frq", false},
                                         PathCase{L"dir/voice_wav.frq", L"dir/voice_wav.frq", true},
                                         PathCase{L"voice.aiff", L"voice.aiff.frq", false},
                                         PathCase{L"voice.aif", L"voice.aif.frq", false},
                                         // The ".wav.frq" test is case-sensitive.
                                         PathCase{L"voice.WAV", L"voice.WAV.frq", false},
                                         PathCase{L"voice", L"voice.frq", false},
                                         PathCase{L"a.wav.b.wav", L"a.wav.b_wav.frq", false},
                                         PathCase{L"v.frq", L"v.frq", true},
                                         // Only the end of the name tells a list path.
                                         PathCase{L"d.frq.frq/v.wav", L"d.frq.frq/v_wav.frq",
                                                  false}));

// The rule backwards gives the sample back: "_wav" becomes ".wav" where that
// file is there; other lists lose ".frq"; a sample path stays as it is.
TEST(FreqListPath, SampleOfAListIsTheRuleBackwards) {
    TempDir dir;
    write_bytes(dir.file("voice.wav"), {1});
    const std::wstring d = dir.wfile("");
    const std::pair<std::wstring, std::wstring> cases[] = {
        {d + L"voice_wav.frq", d + L"voice.wav"},
        {d + L"other_wav.frq", d + L"other_wav"},
        {d + L"voice.aif.frq", d + L"voice.aif"},
        {d + L"voice.wav", d + L"voice.wav"},
        {d + L"v.frq", d + L"v"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sample_of_list(c.first), c.second) << narrow_text(c.first.c_str());
    std::wstring list;
    ASSERT_TRUE(freq_list_path((d + L"voice.wav").c_str(), &list, nullptr));
    EXPECT_EQ(sample_of_list(list), d + L"voice.wav");
}

TEST(FreqListPathLimit, OverLongPathIsRejectedNotTruncated) {
    std::wstring out = L"unchanged";
    // 507 + ".frq" is 511 characters: the longest that fits with its terminator.
    const std::wstring fits(507, L'a');
    EXPECT_TRUE(freq_list_path(fits.c_str(), &out, nullptr));
    EXPECT_EQ(out.size(), 511u);
    const std::wstring too_long(508, L'a');
    out = L"unchanged";
    EXPECT_FALSE(freq_list_path(too_long.c_str(), &out, nullptr));
    EXPECT_EQ(out, L"unchanged");
    EXPECT_EQ(read_freq_list(too_long.c_str()), nullptr);
    FreqListPtr list = make_list(3);
    EXPECT_EQ(write_freq_list(too_long.c_str(), list.get()), 0);
}

// --- reading and writing ------------------------------------------------------

TEST(FreqListFile, WriteThenReadRestoresFieldsAndGuardEntry) {
    TempDir dir;
    FreqListPtr list = make_list(37);
    ASSERT_EQ(write_freq_list(dir.wfile("voice.wav").c_str(), list.get()), 1);
    const auto bytes = read_bytes(dir.file("voice_wav.frq"));
    ASSERT_EQ(bytes.size(), 40u + 16 * 37);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "FREQ0003");
    for (int i = 24; i < 36; ++i) EXPECT_EQ(bytes[i], 0) << i;

    for (const char* name : {"voice.wav", "voice_wav.frq"}) {
        testing::internal::CaptureStdout();
        FreqListPtr back(read_freq_list(dir.wfile(name).c_str()));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        ASSERT_TRUE(back) << name;
        EXPECT_EQ(back->step, 256);
        EXPECT_EQ(back->sample_rate, 44100);
        EXPECT_EQ(back->count, 37);
        EXPECT_EQ(back->freq_avg, 261.625565);
        EXPECT_EQ(back->reserved, 0);
        EXPECT_EQ(back->extra_a, nullptr);
        for (int k = 0; k <= 37; ++k) {
            EXPECT_EQ(back->freq[k], list->freq[k]) << k;
            EXPECT_EQ(back->amp[k], list->amp[k]) << k;
        }
    }
}

TEST(FreqListFile, TrailingBytesAndOtherVersionDigitReadTheSame) {
    TempDir dir;
    auto b = list_bytes("FREQ0007", 128, 4, 4);
    for (uint8_t x = 1; x <= 5; ++x) b.push_back(x);
    write_bytes(dir.file("v_wav.frq"), b);
    FreqListPtr list(read_freq_list(dir.wfile("v_wav.frq").c_str()));
    ASSERT_TRUE(list);
    EXPECT_EQ(list->step, 128);
    EXPECT_EQ(list->sample_rate, 22050);
    EXPECT_EQ(list->freq_avg, 150.5);
    ASSERT_EQ(list->count, 4);
    EXPECT_EQ(list->freq[3], 103.0);
    EXPECT_EQ(list->freq[4], 103.0);
    EXPECT_EQ(list->amp[4], 6.0);
}

struct BadListCase {
    const char* name;
    std::vector<uint8_t> bytes;
    ListFault fault;
    const char* says;  // the start of the reason's text
};

class FreqListRejected : public testing::TestWithParam<BadListCase> {};

// A list the reader refuses reads like a missing file, and the refusal says why.
TEST_P(FreqListRejected, LikeAMissingFileWithItsReason) {
    TempDir dir;
    write_bytes(dir.file("v_wav.frq"), GetParam().bytes);
    ListRefusal why;
    EXPECT_EQ(read_freq_list(dir.wfile("v_wav.frq").c_str(), &why), nullptr);
    EXPECT_EQ(why.fault, GetParam().fault);
    const std::string text = list_refusal_text(why);
    EXPECT_EQ(text.rfind(GetParam().says, 0), 0u) << text;
}

std::vector<uint8_t> cut(std::vector<uint8_t> b, size_t n) {
    b.resize(n);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Corrupt, FreqListRejected,
    testing::Values(
        BadListCase{"WrongMagic", list_bytes("FRQ00003", 256, 2, 2), ListFault::bad_magic,
                    "the list does not start with \"FREQ000\""},
        BadListCase{"CountZero", list_bytes("FREQ0003", 256, 0, 0), ListFault::bad_count,
                    "the list's frame count is 0, not above 0"},
        BadListCase{"CountNegative", list_bytes("FREQ0003", 256, -5, 2), ListFault::bad_count,
                    "the list's frame count is -5"},
        BadListCase{"CountAbsurd", list_bytes("FREQ0003", 256, 0x7FFFFFFF, 2), ListFault::cut_short,
                    "the list is cut short: its header promises 2147483647 frames, the file "
                    "holds 2"},
        BadListCase{"StepZero", list_bytes("FREQ0003", 0, 2, 2), ListFault::bad_step,
                    "the list's step is 0, not above 0"},
        BadListCase{"StepNegative", list_bytes("FREQ0003", -256, 2, 2), ListFault::bad_step,
                    "the list's step is -256"},
        BadListCase{"TableCut", cut(list_bytes("FREQ0003", 256, 3, 3), 40 + 47),
                    ListFault::cut_short, "the list is cut short: its header promises 3"},
        BadListCase{"HeaderCut", cut(list_bytes("FREQ0003", 256, 3, 3), 39), ListFault::too_short,
                    "the list is too short for its 40-byte header (39 bytes)"},
        BadListCase{"Empty", {}, ListFault::too_short, "the list is too short"}),
    [](const testing::TestParamInfo<BadListCase>& i) { return std::string(i.param.name); });

// A voice sample's list: a step up to 16384 samples, a rate of 1 kHz to 1 MHz
// and at most a day of sound, each end with its reason (velorin-frq refuses
// the rest; velorin still reads them).
TEST(FreqListPlausible, EachLimitAtItsEdge) {
    const struct {
        int32_t step, rate, count;
        ListFault fault;
        const char* says;
    } cases[] = {
        {16384, 1000, 5273, ListFault::none, "the list is usable"},
        {16385, 44100, 1, ListFault::implausible_step, "the list's step is 16385 samples"},
        {256, 999, 1, ListFault::implausible_rate, "the list's sample rate is 999 Hz"},
        {256, 1000001, 1, ListFault::implausible_rate, "the list's sample rate is 1000001 Hz"},
        {256, 1000000, 1, ListFault::none, "the list is usable"},
        {16384, 1000, 5274, ListFault::implausible_length, "the list claims 24 hours of sound"},
        {0, 44100, 1, ListFault::bad_step, "the list's step is 0"},
    };
    for (const auto& c : cases) {
        FreqListPtr l(alloc_freq_list(c.count));
        ASSERT_TRUE(l);
        l->step = c.step;
        l->sample_rate = c.rate;
        ListRefusal why;
        EXPECT_EQ(freq_list_plausible(*l, &why), c.fault == ListFault::none) << c.says;
        EXPECT_EQ(why.fault, c.fault) << c.says;
        EXPECT_EQ(list_refusal_text(why).rfind(c.says, 0), 0u) << list_refusal_text(why);
    }
}

// --- messages --------------------------------------------------------------------

TEST(FreqListMessages, MissingListAndNullList) {
    std::setlocale(LC_ALL, "C.UTF-8");
    TempDir dir;
    testing::internal::CaptureStdout();
    EXPECT_EQ(read_freq_list(dir.wfile("voice.wav").c_str()), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "FRQ-Datei hat nicht gefunden.\n");
    // Given the list path itself, a missing file is silent.
    testing::internal::CaptureStdout();
    EXPECT_EQ(read_freq_list(dir.wfile("voice_wav.frq").c_str()), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    testing::internal::CaptureStdout();
    EXPECT_EQ(write_freq_list(dir.wfile("voice.wav").c_str(), nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "FreqList ist Null.\n");
    EXPECT_TRUE(names_in(dir).empty());
}

// --- staleness and protection ---------------------------------------------------

TEST(FreqListStaleness, NewerSampleAndReadOnlyListGivesNothing) {
    TempDir dir;
    write_bytes(dir.file("v.wav"), wav_bytes_i16({1, 2, 3}, 1, 44100));
    FreqListPtr list = make_list(5);
    ASSERT_EQ(write_freq_list(dir.wfile("v.wav").c_str(), list.get()), 1);
    const std::string frq = dir.file("v_wav.frq");
    set_mtime(frq, 1000000);
    set_mtime(dir.file("v.wav"), 2000000);

    // Writable list: a newer sample does not prevent reading.
    FreqListPtr a(read_freq_list(dir.wfile("v.wav").c_str()));
    EXPECT_TRUE(a);

    ASSERT_EQ(chmod(frq.c_str(), 0444), 0);
    EXPECT_EQ(read_freq_list(dir.wfile("v.wav").c_str()), nullptr);
    // Given the list path, no dates are compared.
    FreqListPtr b(read_freq_list(dir.wfile("v_wav.frq").c_str()));
    EXPECT_TRUE(b);
    // An older sample with a read-only list reads normally.
    set_mtime(dir.file("v.wav"), 500000);
    FreqListPtr c(read_freq_list(dir.wfile("v.wav").c_str()));
    EXPECT_TRUE(c);

    // The writer leaves a read-only list alone and leaves nothing behind.
    const auto before = read_bytes(frq);
    FreqListPtr other = make_list(9);
    EXPECT_EQ(write_freq_list(dir.wfile("v.wav").c_str(), other.get()), 0);
    EXPECT_EQ(read_bytes(frq), before);
    EXPECT_EQ(names_in(dir).size(), 2u);
    // The analysis of the sample still gives its list, and says it was not written.
    bool written = true;
    FreqListPtr analysed(obtain_freq_list(dir.wfile("v.wav").c_str(), &written));
    EXPECT_TRUE(analysed);
    EXPECT_FALSE(written);
    EXPECT_EQ(read_bytes(frq), before);
    ASSERT_EQ(chmod(frq.c_str(), 0644), 0);
    FreqListPtr again(obtain_freq_list(dir.wfile("v.wav").c_str(), &written));
    EXPECT_TRUE(written);
}

// --- atomic replacement ---------------------------------------------------------

TEST(FreqListWrite, ReplacesTheOldFileAndLeavesNoTemporary) {
    TempDir dir;
    FreqListPtr first = make_list(50);
    FreqListPtr second = make_list(3);
    ASSERT_EQ(write_freq_list(dir.wfile("v.wav").c_str(), first.get()), 1);
    ASSERT_EQ(write_freq_list(dir.wfile("v_wav.frq").c_str(), second.get()), 1);
    EXPECT_EQ(read_bytes(dir.file("v_wav.frq")).size(), 40u + 16 * 3);
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"v_wav.frq"});
}

TEST(FreqListWrite, FailedWriteKeepsTheOldFile) {
    TempDir dir;
    FreqListPtr first = make_list(4);
    ASSERT_EQ(write_freq_list(dir.wfile("v.wav").c_str(), first.get()), 1);
    const auto before = read_bytes(dir.file("v_wav.frq"));
    // A list whose arrays are missing cannot be written; nor can a folder
    // that does not exist.
    FreqList broken;
    broken.count = 3;
    broken.step = 256;
    EXPECT_EQ(write_freq_list(dir.wfile("v.wav").c_str(), &broken), 0);
    EXPECT_EQ(write_freq_list(dir.wfile("none/v.wav").c_str(), first.get()), 0);
    EXPECT_EQ(read_bytes(dir.file("v_wav.frq")), before);
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"v_wav.frq"});
}

TEST(FreqListWrite, RenameFailureRemovesTheTemporary) {
    TempDir dir;
    // The list's name is taken by a folder: the temporary is written, the
    // rename fails, and nothing is left behind.
    std::filesystem::create_directories(dir.file("v_wav.frq") + "/x");
    FreqListPtr list = make_list(4);
    EXPECT_EQ(write_freq_list(dir.wfile("v.wav").c_str(), list.get()), 0);
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"v_wav.frq"});
}

// --- lists of decoded samples ------------------------------------------------------

// The list the analysis makes of 16-bit mono data at 44100 Hz (frame length
// and step as the analysis path chooses them for that rate).
FreqListPtr analyse(const std::vector<int16_t>& pcm) {
    std::vector<int16_t> data(pcm);
    data.resize(pcm.size() + 4096, 0);
    testing::internal::CaptureStderr();  // progress lines
    FreqListPtr list(generate_freq_list(reinterpret_cast<const uint8_t*>(data.data()),
                                        int64_t(pcm.size()) * 2,
                                        {16, 1, 2, 44100, 1024, 256, 0, 0, 2}));
    testing::internal::GetCapturedStderr();
    return list;
}

class DecodedSampleFreqList : public testing::TestWithParam<RealCodec> {};

TEST_P(DecodedSampleFreqList, MatchesTheListOfTheOriginal) {
    const RealCodec& c = GetParam();
    if (!codec_installed(c)) GTEST_SKIP() << c.name << " programs are not installed";
    DecoderEnv env;
    TempDir dir;
    // Short, because the emulated builds run the analysis slowly; the vibrato
    // still sweeps the pitch by 80 cents.
    const std::vector<int16_t> pcm = to_i16(make_vowel(44100, 0.4, 196.0, 12000.0, 40.0));
    const std::string coded = encode_and_select(c, pcm, env, dir.path);
    ASSERT_NE(coded, "");

    WavFormat fmt;
    int64_t size = 0;
    testing::internal::CaptureStderr();
    uint8_t* raw = read_for_analysis(widen_text(coded.c_str()).c_str(), 4096, &fmt, &size);
    testing::internal::GetCapturedStderr();
    ASSERT_NE(raw, nullptr);
    ASSERT_EQ(fmt.block_align, 2);
    std::vector<int16_t> decoded(size_t(size / 2));
    std::memcpy(decoded.data(), raw, decoded.size() * 2);
    release(raw);

    // A lossy decoder's output starts late by its codec delay; line it up
    // with the original so frame k of both lists describes the same sound.
    std::vector<int16_t> aligned(pcm.size(), 0);
    const int lag =
        c.lossless ? 0
                   : best_lag(std::vector<double>(pcm.begin(), pcm.end()),
                              std::vector<double>(decoded.begin(), decoded.end()), 1200, nullptr);
    for (size_t i = 0; i < aligned.size(); ++i) {
        const int64_t j = int64_t(i) + lag;
        if (j >= 0 && j < int64_t(decoded.size())) aligned[i] = decoded[size_t(j)];
    }
    if (c.lossless) {
        EXPECT_EQ(decoded, pcm);
    }

    static const FreqListPtr want = analyse(pcm);  // the same for every codec
    FreqListPtr got = analyse(aligned);
    ASSERT_TRUE(want);
    ASSERT_TRUE(got);
    ASSERT_EQ(got->count, want->count);
    EXPECT_EQ(got->step, want->step);
    const double tolerance = c.lossless ? 0.01 : 0.03;
    int voiced = 0, close = 0;
    for (int k = 0; k < want->count; ++k) {
        if (want->freq[k] <= 1) continue;
        ++voiced;
        if (std::fabs(got->freq[k] - want->freq[k]) <= tolerance * want->freq[k]) ++close;
    }
    ASSERT_GT(voiced, want->count / 2);
    EXPECT_GE(close, 0.95 * voiced) << close << " of " << voiced << " voiced frames";
}

INSTANTIATE_TEST_SUITE_P(Installed, DecodedSampleFreqList, testing::ValuesIn(real_codecs()),
                         [](const testing::TestParamInfo<RealCodec>& i) {
                             return std::string(i.param.name);
                         });

}  // namespace
