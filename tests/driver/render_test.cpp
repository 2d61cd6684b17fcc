// tests/driver/render_test.cpp: whole notes rendered from synthetic voices,
// checked at the signal level.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "audio/wav.h"
#include "driver/run.h"
#include "frq/freq_list.h"
#include "pitch/dispatch.h"
#include "pitch/plain.h"
#include "platform/console.h"
#include "platform/mem.h"
#include "platform/platform.h"
#include "tests/support/support.h"

using namespace velorin;
using namespace velorin_test;

namespace {

int run(const std::vector<std::wstring>& args) {
    std::vector<std::wstring> a = {L"velorin"};
    a.insert(a.end(), args.begin(), args.end());
    std::vector<wchar_t*> p;
    for (std::wstring& s : a) p.push_back(&s[0]);
    p.push_back(nullptr);
    const int code = velorin_main(int(a.size()), p.data());
    std::setlocale(LC_ALL, "C");
    return code;
}

// Runs quietly: the report and the progress lines are not what these tests look at.
int run_quiet(const std::vector<std::wstring>& args) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int code = run(args);
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    return code;
}

std::vector<double> read_output(const std::wstring& path, WavFormat* fmt = nullptr) {
    WavFormat f;
    int64_t n = 0;
    double* x = read_wav_samples(path.c_str(), 0, &f, &n);
    std::vector<double> out;
    if (x) out.assign(x, x + n * std::max<int>(1, f.channels));
    release(x);
    if (fmt) *fmt = f;
    return out;
}

void write_voice(const std::string& path, const std::vector<double>& x, int rate = 44100) {
    write_bytes(path, wav_bytes_i16(to_i16(x), 1, rate));
}

double cents(double f, double ref) { return 1200.0 * std::log2(f / ref); }

// Median pitch over windows of the steady middle of a note.
double steady_f0(const std::vector<double>& y, double fmin, double fmax) {
    std::vector<double> f;
    const int len = 2048;
    for (int s = int(y.size() / 4); s + len + 1200 < int(y.size() * 3 / 4); s += 1024)
        f.push_back(estimate_f0(y, 44100, s, len, fmin, fmax));
    if (f.empty()) return 0.0;
    std::sort(f.begin(), f.end());
    return f[f.size() / 2];
}

// Highest normalised autocorrelation over lags of 60..1000 Hz: near 1 for a
// sung note, low for noise.
double periodicity(const std::vector<double>& y, int start, int len) {
    double best = 0.0;
    for (int lag = 44; lag < 735; ++lag) {
        double s = 0, e0 = 0, e1 = 0;
        for (int i = 0; i < len; ++i) {
            s += y[start + i] * y[start + i + lag];
            e0 += y[start + i] * y[start + i];
            e1 += y[start + i + lag] * y[start + i + lag];
        }
        if (e0 > 0 && e1 > 0) best = std::max(best, s / std::sqrt(e0 * e1));
    }
    return best;
}

struct VoiceFixture : testing::Test {
    TempDir dir;
    std::wstring voice = dir.wfile("voice.wav");
    void SetUp() override { write_voice(dir.file("voice.wav"), make_vowel(44100, 1.2, 220.0)); }
    std::wstring out(const char* name) { return dir.wfile(name); }
};

}  // namespace

TEST_F(VoiceFixture, NoteAtA4HasItsPitchAndLength) {
    ASSERT_EQ(run_quiet({voice, out("a4.wav"), L"A4", L"100", L"", L"100", L"800", L"50", L"100",
                         L"100", L"0"}),
              0);
    WavFormat fmt;
    const std::vector<double> y = read_output(out("a4.wav"), &fmt);
    EXPECT_EQ(fmt.rate, 44100u);
    EXPECT_EQ(fmt.bits, 16);
    EXPECT_EQ(fmt.channels, 1);
    ASSERT_EQ(y.size(), size_t(std::ceil(800 * 44.1)));
    EXPECT_NEAR(cents(steady_f0(y, 300, 700), 440.0), 0.0, 10.0);
    // The analysis wrote the list beside the sample.
    EXPECT_TRUE(file_exists(dir.file("voice_wav.frq")));
}

// A voice recorded at another rate sings the note at its pitch too: the rate
// ratio reaches the passes and the time map as a fraction.
TEST(RenderRates, NoteFromOtherRatesHasItsPitch) {
    for (int rate : {22050, 48000}) {
        TempDir dir;
        write_voice(dir.file("v.wav"), make_vowel(rate, 1.2, 220.0), rate);
        ASSERT_EQ(run_quiet({dir.wfile("v.wav"), dir.wfile("o.wav"), L"A4", L"100", L"", L"100",
                             L"800", L"50", L"100", L"100", L"0"}),
                  0);
        const std::vector<double> y = read_output(dir.wfile("o.wav"));
        ASSERT_EQ(y.size(), size_t(std::ceil(800 * 44.1)));
        EXPECT_NEAR(cents(steady_f0(y, 300, 700), 440.0), 0.0, 10.0) << rate;
    }
}

TEST_F(VoiceFixture, BendOf100CentsRaisesTheNote) {
    // Every point +100 cents ("Bk" is 100), repeated past the end of the note.
    ASSERT_EQ(run_quiet({voice, out("bend.wav"), L"A4", L"100", L"", L"100", L"800", L"50", L"100",
                         L"100", L"0", L"!120", L"Bk#300#"}),
              0);
    const std::vector<double> y = read_output(out("bend.wav"));
    EXPECT_NEAR(cents(steady_f0(y, 300, 700), 440.0), 100.0, 10.0);
}

TEST_F(VoiceFixture, GenderMovesTheSpectralEnvelope) {
    double centroid[3];
    const wchar_t* flags[3] = {L"g-30", L"", L"g30"};
    for (int i = 0; i < 3; ++i) {
        const std::wstring o = out(("g" + std::to_string(i) + ".wav").c_str());
        ASSERT_EQ(run_quiet({voice, o, L"A3", L"100", flags[i], L"100", L"600", L"0", L"100",
                             L"100", L"0"}),
                  0);
        const std::vector<double> y = read_output(o);
        centroid[i] = spectral_centroid(y, 44100, int(y.size() / 2) - 2048, 4096);
    }
    // The source's own envelope: a note at the source's pitch with no shift.
    std::vector<double> src = make_vowel(44100, 1.2, 220.0);
    const double source = spectral_centroid(src, 44100, 20000, 4096);
    EXPECT_NEAR(centroid[1] / source, 1.0, 0.12);
    EXPECT_GT(centroid[0], centroid[1] * 1.08);
    EXPECT_LT(centroid[2], centroid[1] / 1.08);
}

TEST_F(VoiceFixture, FullBreathLeavesOnlyNoise) {
    ASSERT_EQ(run_quiet({voice, out("b0.wav"), L"A3", L"100", L"B0", L"100", L"600", L"0", L"100"}),
              0);
    ASSERT_EQ(
        run_quiet({voice, out("b100.wav"), L"A3", L"100", L"B100", L"100", L"600", L"0", L"100"}),
        0);
    const std::vector<double> voiced = read_output(out("b0.wav"));
    const std::vector<double> breath = read_output(out("b100.wav"));
    const int mid = int(voiced.size() / 2) - 2048;
    EXPECT_GT(periodicity(voiced, mid, 2048), 0.9);
    EXPECT_LT(periodicity(breath, mid, 2048), 0.6);
    EXPECT_GT(rms(breath, mid, 2048), 100.0);  // there is breath, normalised up
}

TEST_F(VoiceFixture, NoFilterWithoutBreathSkipsTheSecondPass) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int code =
        run({voice, out("n.wav"), L"A3", L"100", L"NB0S3", L"100", L"600", L"0", L"100"});
    testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, 0);
    // Without a second pass the line names the worker count.
    EXPECT_NE(err.find("i=3 tinx="), std::string::npos) << err;
    const std::vector<double> y = read_output(out("n.wav"));
    EXPECT_GT(periodicity(y, int(y.size() / 2) - 2048, 2048), 0.9);
}

TEST_F(VoiceFixture, ReversePlaysTheEndFirst) {
    // A voice that is loud at its start and quiet at its end.
    std::vector<double> x = make_vowel(44100, 1.2, 220.0);
    for (size_t i = 0; i < x.size(); ++i) x[i] *= 1.0 - 0.9 * double(i) / double(x.size());
    write_voice(dir.file("fade.wav"), x);
    const std::wstring fade = dir.wfile("fade.wav");
    for (const wchar_t* flags : {L"P0", L"P0R"}) {
        const std::wstring o = out(std::wstring(flags) == L"P0" ? "fwd.wav" : "rev.wav");
        ASSERT_EQ(run_quiet({fade, o, L"A3", L"100", flags, L"0", L"1000", L"0", L"0"}), 0);
    }
    const std::vector<double> fwd = read_output(out("fwd.wav"));
    const std::vector<double> rev = read_output(out("rev.wav"));
    const int q = int(fwd.size() / 4);
    EXPECT_GT(rms(fwd, 0, q), 2.0 * rms(fwd, 3 * q, q));
    EXPECT_LT(2.0 * rms(rev, 0, q), rms(rev, 3 * q, q));
}

TEST_F(VoiceFixture, FullPeakStrengthPutsThePeakAt16384) {
    ASSERT_EQ(
        run_quiet({voice, out("p.wav"), L"A3", L"100", L"P100", L"100", L"600", L"0", L"100"}), 0);
    const std::vector<double> y = read_output(out("p.wav"));
    double peak = 0;
    for (double v : y) peak = std::max(peak, std::fabs(v));
    EXPECT_NEAR(peak, 16384.0, 1.0);
}

TEST(RenderEdge, SilentSampleGivesSilentNoteWithoutNaN) {
    TempDir dir;
    write_voice(dir.file("silence.wav"), std::vector<double>(44100, 0.0));
    ASSERT_EQ(run_quiet({dir.wfile("silence.wav"), dir.wfile("o.wav"), L"A4", L"100", L"P100", L"0",
                         L"300"}),
              0);
    const std::vector<uint8_t> bytes = read_bytes(dir.file("o.wav"));
    ASSERT_EQ(bytes.size(), 44u + 2u * size_t(std::ceil(300 * 44.1)));
    EXPECT_TRUE(std::all_of(bytes.begin() + 44, bytes.end(), [](uint8_t b) { return b == 0; }));
}

TEST(RenderEdge, TinySamplesAndRegionsPastTheEndRenderSafely) {
    TempDir dir;
    // Shorter than one frame step of the analysis.
    write_voice(dir.file("tiny.wav"), make_vowel(44100, 0.004, 220.0));
    EXPECT_EQ(run_quiet({dir.wfile("tiny.wav"), dir.wfile("t.wav"), L"A4", L"100", L"", L"0",
                         L"500", L"0", L"0"}),
              0);
    EXPECT_EQ(read_output(dir.wfile("t.wav")).size(), size_t(std::ceil(500 * 44.1)));
    // A negative cutoff reaching far past the end of the sample, a long note.
    write_voice(dir.file("v.wav"), make_vowel(44100, 0.5, 220.0));
    EXPECT_EQ(run_quiet({dir.wfile("v.wav"), dir.wfile("l.wav"), L"C3", L"100", L"R", L"100",
                         L"3000", L"20", L"-5000", L"100", L"100"}),
              0);
    EXPECT_EQ(read_output(dir.wfile("l.wav")).size(), size_t(std::ceil(3000 * 44.1)));
    // A region starting before the sample.
    EXPECT_EQ(run_quiet({dir.wfile("v.wav"), dir.wfile("b.wav"), L"C3", L"100", L"", L"-300",
                         L"600", L"0", L"-100"}),
              0);
}

TEST(RenderEdge, ChecksEndTheRunWithTheirMessages) {
    TempDir dir;
    write_voice(dir.file("v.wav"), make_vowel(44100, 0.5, 220.0));
    struct Case {
        std::vector<std::wstring> args;
        const char* message;
    } cases[] = {
        {{L"A4", L"100", L"", L"0", L"5.7"}, "Output length is too short.\n"},
        {{L"A4", L"100", L"", L"600", L"100"}, "No samples available.\n"},
        {{L"A4", L"100", L"", L"0", L"100", L"400/200", L"0"}, "No stretchable range.\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::wstring> args = {dir.wfile("v.wav"), dir.wfile("x.wav")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(run(args), 0);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
        EXPECT_FALSE(file_exists(dir.file("x.wav")));
    }
    // 5.8 ms is 256 samples: accepted.
    EXPECT_EQ(run_quiet({dir.wfile("v.wav"), dir.wfile("y.wav"), L"A4", L"100", L"", L"0", L"5.8"}),
              0);
    EXPECT_EQ(read_output(dir.wfile("y.wav")).size(), 256u);
}

TEST(RenderEdge, RegenerateWithoutHostBatchKeepsOnlyTheParameterReport) {
    TempDir dir;
    write_voice(dir.file("v.wav"), make_vowel(44100, 0.5, 220.0));
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(run({dir.wfile("v.wav"), dir.wfile("o.wav"), L"A4", L"100", L"G", L"0", L"300"}), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("breathy  =0.5000\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("NOTICE"), std::string::npos) << out;
    EXPECT_EQ(out.find("src freq avg."), std::string::npos) << out;
    EXPECT_EQ(out.find("This process took"), std::string::npos) << out;
    EXPECT_TRUE(file_exists(dir.file("v_wav.frq")));
}

TEST(RenderEdge, ExistingListIsReadWithoutAnalysis) {
    TempDir dir;
    write_voice(dir.file("v.wav"), make_vowel(44100, 0.5, 220.0));
    ASSERT_EQ(
        run_quiet({dir.wfile("v.wav"), dir.wfile("a.wav"), L"A4", L"100", L"S1", L"0", L"300"}), 0);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(run({dir.wfile("v.wav"), dir.wfile("b.wav"), L"A4", L"100", L"S1", L"0", L"300"}), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("N=1024 Step=256"), std::string::npos) << err;
    EXPECT_NE(out.find("src freq avg. = "), std::string::npos) << out;
    EXPECT_NE(out.find("This process took  "), std::string::npos) << out;
    // One worker: two runs give the same file.
    EXPECT_EQ(read_bytes(dir.file("a.wav")), read_bytes(dir.file("b.wav")));
}

TEST(RenderEdge, UnloadableInputEndsWith99) {
    TempDir dir;
    write_bytes(dir.file("bad.wav"), {'F', 'O', 'R', 'M', 0, 0, 0, 0, 'A', 'I', 'F', 'F'});
    testing::internal::CaptureStderr();
    EXPECT_EQ(run({dir.wfile("bad.wav"), dir.wfile("o.wav"), L"A4"}), 99);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Datei hat nicht gefunden.\n"), std::string::npos) << err;
    testing::internal::CaptureStderr();
    EXPECT_EQ(run({dir.wfile("missing.wav"), dir.wfile("o.wav"), L"A4"}), 99);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Datei hat nicht gefunden.\n");
}

namespace {

// Writes `bytes` into a pipe and closes it; stops early when the reader is gone.
struct PipeWriter {
    int fd;
    const std::vector<uint8_t>* bytes;
};

void write_all(void* arg) {
    const PipeWriter& w = *static_cast<PipeWriter*>(arg);
    for (size_t at = 0; at < w.bytes->size();) {
        const auto n = write(w.fd, w.bytes->data() + at, unsigned(w.bytes->size() - at));
        if (n <= 0) break;
        at += size_t(n);
    }
    close(w.fd);
}

}  // namespace

// A note from part of a long sample is the note of the whole sample: the same
// file through a pipe, which cannot seek and so is read whole, renders the
// same bytes. Notes near the start, in the middle and at the end; 16-bit mono,
// 24-bit stereo and 8-bit mono.
TEST(RenderLong, NoteFromPartOfALongSampleIsTheWholeSamplesNote) {
    TempDir dir;
    int probe[2];
    if (pipe(probe) != 0) GTEST_SKIP() << "no pipes";
    close(probe[0]);
    close(probe[1]);
    if (symlink("/dev/null", dir.file("probe").c_str()) != 0) GTEST_SKIP() << "no symbolic links";
    broken_pipe_is_an_error();  // a writer whose reader is gone gets an error, not a signal
    const std::vector<double> voice = make_vowel(44100, 4.0, 196.0, 12000.0, 40.0);
    const struct { int bits, channels; } formats[] = {{16, 1}, {24, 2}, {8, 1}};
    for (const auto& format : formats) {
        const int bits = format.bits, channels = format.channels;
        std::vector<double> x;
        for (size_t i = 0; i < voice.size(); ++i)
            for (int k = 0; k < channels; ++k) x.push_back(k == 0 ? voice[i] : -0.5 * voice[i]);
        ASSERT_GT(write_wav(dir.wfile("long.wav").c_str(), x.data(), int64_t(voice.size()), bits,
                            channels, 44100, 1),
                  0);
        const std::vector<uint8_t> bytes = read_bytes(dir.file("long.wav"));
        std::remove(dir.file("long_wav.frq").c_str());
        for (const wchar_t* offset : {L"0", L"1900", L"3650"}) {
            const std::vector<std::wstring> note = {L"A4", L"100",  L"S1B40", offset, L"300",
                                                    L"0",  L"-300", L"100",   L"20",  L"!120"};
            std::vector<std::wstring> args = {dir.wfile("long.wav"), dir.wfile("part.wav")};
            args.insert(args.end(), note.begin(), note.end());
            ASSERT_EQ(run_quiet(args), 0);
            // The file's list serves the pipe as well.
            write_bytes(dir.file("piped_wav.frq"), read_bytes(dir.file("long_wav.frq")));

            int fds[2];
            ASSERT_EQ(pipe(fds), 0);
            const std::string piped = dir.file("piped.wav");
            std::remove(piped.c_str());
            ASSERT_EQ(symlink(("/dev/fd/" + std::to_string(fds[0])).c_str(), piped.c_str()), 0);
            PipeWriter w{fds[1], &bytes};
            Thread* writer = thread_start(write_all, &w);
            ASSERT_NE(writer, nullptr);
            args = {dir.wfile("piped.wav"), dir.wfile("whole.wav")};
            args.insert(args.end(), note.begin(), note.end());
            EXPECT_EQ(run_quiet(args), 0);
            close(fds[0]);
            thread_join(writer);
            EXPECT_EQ(read_bytes(dir.file("part.wav")), read_bytes(dir.file("whole.wav")))
                << bits << " " << channels << " " << narrow_text(offset);
        }
    }
}

TEST_F(VoiceFixture, CompressedBendRendersLikeThePlainOne) {
    // A scoop and a vibrato, 160 points.
    std::vector<int16_t> curve = {160};
    for (int k = 0; k < 160; ++k)
        curve.push_back(int16_t(k < 20 ? -150 + 7 * k : 40 * std::sin(k * 0.35)));
    wchar_t* plain = encplain(curve.data());
    ASSERT_NE(plain, nullptr);
    ASSERT_EQ(run_quiet({voice, out("plain.wav"), L"A3", L"100", L"S1", L"100", L"700", L"0",
                         L"100", L"100", L"0", L"!120", plain}),
              0);
    free_pitch_text(plain);
    const std::vector<uint8_t> expected = read_bytes(dir.file("plain.wav"));
    ASSERT_EQ(expected.size(), 44u + 2u * 30870u);
    struct Form {
        const wchar_t* name;
        int variant;
    } forms[] = {{L"enc", 1}, {L"cmp", 2}, {L"hff", 3}};
    for (const Form& f : forms) {
        for (int order : {0, 2}) {
            wchar_t* text = encpitch(curve.data(), order, f.variant);
            ASSERT_NE(text, nullptr);
            const std::wstring tempo = std::wstring(L"!120*") + f.name + std::to_wstring(order);
            ASSERT_EQ(run_quiet({voice, out("c.wav"), L"A3", L"100", L"S1", L"100", L"700", L"0",
                                 L"100", L"100", L"0", tempo, text}),
                      0);
            free_pitch_text(text);
            EXPECT_EQ(read_bytes(dir.file("c.wav")), expected) << f.variant << " order " << order;
        }
    }
}
