// tests/audio/decoder_pipe_test.cpp: the decoder table, the pipe reader with
// stand-in decoders, the choice of reader for the analysis, and, when they
// are installed, real decoders.
#include "audio/decoder_pipe.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "audio/analysis_loader.h"
#include "platform/mem.h"
#include "platform/platform.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/support.h"

using namespace velorin;
using namespace velorin_test;

namespace {

using Decoded = RawData;

// A stand-in decoder: a shell script in the test's folder.
std::string script(const TempDir& dir, const std::string& name, const std::string& body) {
    write_script(dir.file(name), body);
    return dir.file(name);
}

// Writes `wav` into the folder and returns a decoder that records its
// arguments (one a line, in `<name>.args`) and writes that file.
std::string cat_decoder(const TempDir& dir, const std::string& name,
                        const std::vector<uint8_t>& wav) {
    write_bytes(dir.file(name + ".wav"), wav);
    return script(dir, name,
                  "printf '%s\\n' \"$@\" > '" + dir.file(name + ".args") + "'\ncat '" +
                      dir.file(name + ".wav") + "'\n");
}

std::vector<std::string> lines_of(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream f(path);
    for (std::string line; std::getline(f, line);) lines.push_back(line);
    return lines;
}

void decode(const std::wstring& path, Decoded* d, int wait_ms = decoder_wait_ms) {
    std::setlocale(LC_ALL, "C.UTF-8");
    testing::internal::CaptureStdout();
    d->p = read_decoded(path.c_str(), 16, &d->fmt, &d->size, wait_ms);
    d->out = testing::internal::GetCapturedStdout();
}

// --- the table ----------------------------------------------------------------

struct RowCase {
    const char* name;
    const wchar_t* sample;
    const char* variable;
    std::vector<std::wstring> options_before;
    std::vector<std::wstring> options_after;
};

class DecoderTable : public testing::TestWithParam<RowCase> {};

TEST_P(DecoderTable, BuildsTheDecodersArguments) {
    DecoderEnv env;
    const RowCase& c = GetParam();
    std::vector<std::wstring> argv;
    EXPECT_FALSE(decoder_command(c.sample, &argv));
    env.set(c.variable, "/opt/dec oder/bin");
    ASSERT_TRUE(decoder_command(c.sample, &argv));
    std::vector<std::wstring> want = {L"/opt/dec oder/bin"};
    want.insert(want.end(), c.options_before.begin(), c.options_before.end());
    want.push_back(c.sample);
    want.insert(want.end(), c.options_after.begin(), c.options_after.end());
    EXPECT_EQ(argv, want);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DecoderTable,
    testing::Values(RowCase{"Flac", L"my voice.FLAC", "flacpath", {L"--decode", L"--stdout"}, {}},
                    RowCase{"Mp3", L"a/b.mp3", "lamepath", {L"--decode", L"--mp3input"}, {L"-"}},
                    RowCase{"Ogg", L"b.Ogg", "oggdecpath", {L"--stdout"}, {}},
                    RowCase{"AacFaad", L"b.aac", "faadpath", {L"-w"}, {}},
                    RowCase{"M4aFaad", L"b.m4a", "faadpath", {L"-w"}, {}},
                    RowCase{"AacNero", L"b.aac", "nerodecpath", {L"-if"}, {L"-of", L"-"}},
                    RowCase{"M4aNero", L"b.M4A", "nerodecpath", {L"-if"}, {L"-of", L"-"}}),
    [](const testing::TestParamInfo<RowCase>& i) { return std::string(i.param.name); });

TEST(DecoderTableOrder, FirstRowWithItsVariableSetWins) {
    DecoderEnv env;
    TempDir dir;
    const std::string faad = cat_decoder(dir, "faad", wav_bytes_i16({1, 2, 3}, 1, 44100));
    const std::string nero = cat_decoder(dir, "nero", wav_bytes_i16({4, 5}, 2, 48000));
    env.set("faadpath", faad);
    env.set("nerodecpath", nero);
    Decoded both;
    decode(dir.wfile("v.m4a"), &both);
    ASSERT_NE(both.p, nullptr);
    EXPECT_EQ(both.size, 6);
    EXPECT_EQ(lines_of(faad + ".args"), (std::vector<std::string>{"-w", dir.file("v.m4a")}));

    env.unset("faadpath");
    Decoded second;
    decode(dir.wfile("v.m4a"), &second);
    ASSERT_NE(second.p, nullptr);
    EXPECT_EQ(second.size, 4);
    EXPECT_EQ(second.fmt.channels, 2);
    EXPECT_EQ(second.fmt.rate, 48000u);
    EXPECT_EQ(lines_of(nero + ".args"),
              (std::vector<std::string>{"-if", dir.file("v.m4a"), "-of", "-"}));
}

TEST(DecoderTableOrder, NothingAppliesGivesNothingSilently) {
    DecoderEnv env;
    TempDir dir;
    for (const char* name : {"v.flac", "v.mp3", "v.wma", "voice", "v."}) {
        Decoded d;
        decode(dir.wfile(name), &d);
        EXPECT_EQ(d.p, nullptr) << name;
        EXPECT_EQ(d.out, "") << name;
    }
    // A variable naming no program gives nothing. Whether that shows as a
    // process that cannot start (silent) or one that writes nothing ("失敗")
    // is the system's affair, so only the result is pinned.
    env.set("flacpath", dir.file("no-such-decoder"));
    Decoded d;
    decode(dir.wfile("v.flac"), &d);
    EXPECT_EQ(d.p, nullptr);
}

// --- the stream -----------------------------------------------------------------

TEST(DecoderPipe, StreamAfterTheHeaderIsTheDataWithAppendedFrames) {
    DecoderEnv env;
    TempDir dir;
    std::vector<int16_t> v(5000);
    for (size_t i = 0; i < v.size(); ++i) v[i] = int16_t(i * 11);
    auto wav = wav_bytes_i16(v, 2, 32000);
    wav[40] = 7;  // the "data" size is not used: the stream length decides
    env.set("flacpath", cat_decoder(dir, "flac", wav));
    Decoded d;
    decode(dir.wfile("v.flac"), &d);
    ASSERT_NE(d.p, nullptr);
    EXPECT_EQ(d.size, 10000);
    EXPECT_EQ(d.fmt.block_align, 4);
    EXPECT_EQ(d.fmt.bits, 16);
    EXPECT_EQ(d.fmt.chunk_size, 16u);
    EXPECT_EQ(std::memcmp(d.fmt.id, "fmt ", 4), 0);
    EXPECT_EQ(std::memcmp(d.p, wav.data() + 44, 10000), 0);
    for (int i = 0; i < 16 * 4; ++i) ASSERT_EQ(d.p[10000 + i], 0);
}

TEST(DecoderPipe, DecoderWritingNothingFails) {
    DecoderEnv env;
    TempDir dir;
    env.set("oggdecpath", script(dir, "dec", "exit 0\n"));
    Decoded d;
    decode(dir.wfile("v.ogg"), &d);
    EXPECT_EQ(d.p, nullptr);
    EXPECT_EQ(d.out, "失敗\n");
    // Something that is not a WAV stream fails the same way.
    env.set("oggdecpath", script(dir, "dec2", "echo 'not a wav stream at all, really not'\n"));
    Decoded e;
    decode(dir.wfile("v.ogg"), &e);
    EXPECT_EQ(e.p, nullptr);
    EXPECT_EQ(e.out, "失敗\n");
}

TEST(DecoderPipe, DecoderFailingAfterTheHeaderYieldsWhatItWrote) {
    DecoderEnv env;
    TempDir dir;
    write_bytes(dir.file("part.wav"), wav_bytes_i16({10, 20, 30}, 1, 44100));
    env.set("lamepath", script(dir, "dec", "cat '" + dir.file("part.wav") + "'\nexit 3\n"));
    Decoded d;
    decode(dir.wfile("v.mp3"), &d);
    ASSERT_NE(d.p, nullptr);
    EXPECT_EQ(d.size, 6);
    EXPECT_EQ(d.p[2], 20);
}

TEST(DecoderPipe, UnusableFormatGivesNothing) {
    DecoderEnv env;
    TempDir dir;
    auto wav = wav_bytes_i16({1, 2}, 1, 44100);
    wav[32] = 0;  // block align 0
    env.set("flacpath", cat_decoder(dir, "dec", wav));
    Decoded d;
    decode(dir.wfile("v.flac"), &d);
    EXPECT_EQ(d.p, nullptr);
}

TEST(DecoderPipe, SampleNameReachesTheDecoderAsOneUnchangedArgument) {
    DecoderEnv env;
    TempDir dir;
    const std::string flac = cat_decoder(dir, "flac", wav_bytes_i16({1}, 1, 44100));
    env.set("flacpath", flac);
    const std::string name = "a \"b\" 'c' $(touch pwned) `touch pwned2`; touch pwned3 & x.flac";
    // Anything a shell ran would act in the current folder: make that ours.
    char* old_cwd = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    Decoded d;
    decode(dir.wfile(name), &d);
    ASSERT_EQ(chdir(old_cwd), 0);
    std::free(old_cwd);
    ASSERT_NE(d.p, nullptr);
    EXPECT_EQ(lines_of(flac + ".args"),
              (std::vector<std::string>{"--decode", "--stdout", dir.file(name)}));
    for (const char* f : {"pwned", "pwned2", "pwned3"}) EXPECT_FALSE(file_exists(dir.file(f))) << f;
}

TEST(DecoderPipe, DecoderThatClosesItsOutputButLingersIsEnded) {
    DecoderEnv env;
    TempDir dir;
    write_bytes(dir.file("x.wav"), wav_bytes_i16({5, 6, 7, 8}, 1, 44100));
    env.set("oggdecpath",
            script(dir, "dec", "cat '" + dir.file("x.wav") + "'\nexec 1>&-\nexec sleep 60\n"));
    Decoded d;
    const auto start = std::chrono::steady_clock::now();
    decode(dir.wfile("v.ogg"), &d, 100);
    const auto waited = std::chrono::steady_clock::now() - start;
    ASSERT_NE(d.p, nullptr);
    EXPECT_EQ(d.size, 8);
    // Ended after the 100 ms given, not after the default wait nor the sleep;
    // the rest of the margin is for starting the script on a busy machine.
    EXPECT_LT(waited, std::chrono::milliseconds(1500));
    EXPECT_LT(100, decoder_wait_ms);
}

// --- the choice of reader for the analysis ----------------------------------------

TEST(AnalysisLoader, ExtensionChoosesTheReader) {
    DecoderEnv env;
    std::setlocale(LC_ALL, "C.UTF-8");
    TempDir dir;
    const auto wav = wav_bytes_i16({1, 2, 3}, 1, 44100);
    const auto aiff = aiff_file({comm_chunk(1, 2, 16, 44100), ssnd_chunk({7, 8})});
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        int64_t size;  // -1: nothing
        const char* out;
    } cases[] = {
        {"a.wav", wav, 6, ""},
        {"b.WaV", wav, 6, ""},
        {"c.aif", aiff, 4, ""},
        {"d.AIFF", aiff, 4, ""},
        {"e.aif", wav, -1, "最初のchunkはFROMでなければなりません 46464952 \n"},
        // No decoder variable is set: every other name gives nothing.
        {"f.flac", wav, -1, ""},
        {"noext", wav, -1, ""},
    };
    for (const auto& c : cases) {
        write_bytes(dir.file(c.name), c.bytes);
        WavFormat fmt;
        int64_t size = -1;
        testing::internal::CaptureStdout();
        uint8_t* p = read_for_analysis(dir.wfile(c.name).c_str(), 4096, &fmt, &size);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out) << c.name;
        if (c.size < 0) {
            EXPECT_EQ(p, nullptr) << c.name;
        } else {
            ASSERT_NE(p, nullptr) << c.name;
            EXPECT_EQ(size, c.size) << c.name;
            EXPECT_EQ(fmt.block_align, 2) << c.name;
        }
        release(p);
    }
    // With the variable set, a name without "." still finds no row.
    env.set("flacpath", cat_decoder(dir, "dec", wav));
    WavFormat fmt;
    int64_t size = 0;
    EXPECT_EQ(read_for_analysis(dir.wfile("noext").c_str(), 0, &fmt, &size), nullptr);
    uint8_t* p = read_for_analysis(dir.wfile("g.Flac").c_str(), 0, &fmt, &size);
    EXPECT_NE(p, nullptr);
    release(p);
}

// --- real decoders, where installed ---------------------------------------------

class RealDecoder : public testing::TestWithParam<RealCodec> {};

TEST_P(RealDecoder, DecodesASyntheticVowel) {
    const RealCodec& c = GetParam();
    if (!codec_installed(c)) GTEST_SKIP() << c.name << " programs are not installed";
    DecoderEnv env;
    TempDir dir;
    const std::vector<int16_t> pcm = to_i16(make_vowel(44100, 0.6, 196.0, 12000.0, 30.0));
    const std::string out = encode_and_select(c, pcm, env, dir.path);
    ASSERT_NE(out, "");

    WavFormat fmt;
    int64_t size = 0;
    testing::internal::CaptureStderr();  // decoders chat on standard error
    uint8_t* p = read_decoded(widen_text(out.c_str()).c_str(), 4096, &fmt, &size);
    testing::internal::GetCapturedStderr();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(fmt.channels, 1);
    EXPECT_EQ(fmt.rate, 44100u);
    EXPECT_EQ(fmt.bits, 16);
    const int64_t frames = size / 2;
    if (c.lossless) {
        ASSERT_EQ(frames, int64_t(pcm.size()));
        EXPECT_EQ(std::memcmp(p, pcm.data(), pcm.size() * 2), 0);
    } else {
        EXPECT_LT(std::llabs(frames - int64_t(pcm.size())), 4000);
        std::vector<double> a(pcm.begin(), pcm.end());
        std::vector<double> b(static_cast<size_t>(frames));
        for (int64_t i = 0; i < frames; ++i) {
            int16_t v;
            std::memcpy(&v, p + 2 * i, 2);
            b[size_t(i)] = v;
        }
        double r = 0;
        best_lag(a, b, 1200, &r);
        EXPECT_GT(r, 0.95);
    }
    for (int i = 0; i < 4096 * 2; ++i) ASSERT_EQ(p[size + i], 0);
    release(p);
}

INSTANTIATE_TEST_SUITE_P(Installed, RealDecoder, testing::ValuesIn(real_codecs()),
                         [](const testing::TestParamInfo<RealCodec>& i) {
                             return std::string(i.param.name);
                         });

}  // namespace
