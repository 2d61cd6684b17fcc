// tests/tools/frq_tool_test.cpp: the velorin-frq and velorin-demo programs, run as a
// user runs them: whole folders, bad input, repairs in place, interruptions, clicks.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "frq/freq_list.h"
#include "frq/sample_analysis.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "tests/support/support.h"

namespace {

namespace fs = std::filesystem;
using velorin::FreqList;
using velorin_test::read_bytes;
using velorin_test::shell_quoted;

// A program of this build; the tests fail when it is missing (CMake builds it first).
std::string program(const char* name, std::string* why = nullptr) {
    std::string ignored;
    return velorin_test::built_program(std::string("tools/") + name, why ? why : &ignored);
}

std::string text_of(const std::string& path) {
    const std::vector<uint8_t> b = read_bytes(path);
    return std::string(b.begin(), b.end());
}

void write_vowel(const std::string& path, double f0, double seconds) {
    velorin_test::write_bytes(
        path, velorin_test::wav_bytes_i16(
                  velorin_test::to_i16(velorin_test::make_vowel(44100, seconds, f0)), 1, 44100));
}

struct ToolRun {
    std::string out, err;
    int code = -1;
};

class FrqTool : public testing::Test {
   protected:
    void SetUp() override {
        std::string why;
        ASSERT_FALSE(program("velorin-frq", &why).empty()) << why;
        ASSERT_FALSE(program("velorin-demo", &why).empty()) << why;
        velorin::console_mute(true);
    }
    void TearDown() override { velorin::console_mute(false); }

    ToolRun run(const std::vector<std::string>& args, const char* tool = "velorin-frq") {
        std::string cmd = "cd " + shell_quoted(dir.path) + " && (" + limits + "exec " +
                          shell_quoted(program(tool));
        for (const std::string& a : args) cmd += " " + shell_quoted(a);
        cmd += ") >" + shell_quoted(dir.file("out")) + " 2>" + shell_quoted(dir.file("err")) +
               "; echo $? >" + shell_quoted(dir.file("rc"));
        ToolRun r;
        if (std::system(cmd.c_str()) != 0) return r;
        r.out = text_of(dir.file("out"));
        r.err = text_of(dir.file("err"));
        r.code = std::atoi(text_of(dir.file("rc")).c_str());
        return r;
    }

    // A small voicebank: names with a space and a non-ASCII letter, a subfolder.
    void make_bank() {
        fs::create_directories(dir.file("bank/sub ü"));
        write_vowel(dir.file("bank/a 220.wav"), 220.0, 0.5);
        write_vowel(dir.file("bank/sub ü/ö 150.wav"), 150.0, 0.4);
        write_vowel(dir.file("bank/b 330.wav"), 330.0, 0.3);
    }

    velorin_test::TempDir dir;
    std::string limits;  // shell commands run before the program (ulimit)
};

TEST_F(FrqTool, AnalyseWritesVelorinsListsThenKeepsThemUnlessForced) {
    make_bank();
    ToolRun r = run({"analyse", "-j", "2", "bank"});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("analysed 3, up to date 0, failed 0"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("analysed bank/sub ü/ö 150.wav"), std::string::npos)
        << r.err;  // not a terminal
    // The same bytes as velorin's own generation path writes for a copy of each sample.
    for (const char* name : {"a 220", "sub ü/ö 150", "b 330"}) {
        const std::string sample = dir.file(std::string("bank/") + name + ".wav");
        const std::string copy = dir.file("copy.wav");
        fs::copy_file(sample, copy, fs::copy_options::overwrite_existing);
        velorin::free_freq_list(
            velorin::obtain_freq_list(velorin::widen_text(copy.c_str()).c_str()));
        EXPECT_EQ(read_bytes(dir.file(std::string("bank/") + name + "_wav.frq")),
                  read_bytes(dir.file("copy_wav.frq")))
            << name;
    }
    r = run({"analyse", "bank"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("nothing to analyse: all 3 lists are up to date"), std::string::npos)
        << r.out;
    r = run({"analyse", "--force", "bank/a 220.wav", "bank"});  // a sample named twice counts once
    EXPECT_NE(r.out.find("analysed 3, up to date 0"), std::string::npos) << r.out;
}

TEST_F(FrqTool, BadInputIsReportedAndNothingIsDamaged) {
    make_bank();
    fs::create_directories(dir.file("empty"));
    velorin_test::write_bytes(dir.file("bank/broken.wav"), {'R', 'I', 'F', 'F', 1, 2});
    // A read-only list of another sample stands where b's list would go.
    ASSERT_EQ(run({"analyse", "bank/a 220.wav"}).code, 0);
    fs::copy_file(dir.file("bank/a 220_wav.frq"), dir.file("bank/b 330_wav.frq"));
    chmod(dir.file("bank/b 330_wav.frq").c_str(), 0444);
    const std::vector<uint8_t> sample = read_bytes(dir.file("bank/b 330.wav"));

    ToolRun r = run({"analyse", "--force", "bank", "empty", "missing"});
    EXPECT_EQ(r.code, 1);
    for (const char* want : {"failed: bank/broken.wav: not a sample velorin can read",
                             "failed: bank/b 330.wav: its list cannot be written",
                             "failed: empty: no samples in this folder",
                             "failed: missing: no such file or folder", "failed 4"})
        EXPECT_NE(r.out.find(want), std::string::npos) << want << "\n" << r.out;
    EXPECT_EQ(read_bytes(dir.file("bank/b 330.wav")), sample);
    if (geteuid() != 0) {  // a read-only folder holds nobody back who runs as root
        fs::create_directories(dir.file("locked"));
        write_vowel(dir.file("locked/c.wav"), 220.0, 0.3);
        chmod(dir.file("locked").c_str(), 0555);
        r = run({"analyse", "locked"});
        chmod(dir.file("locked").c_str(), 0755);
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.out.find("locked/c.wav: its list cannot be written"), std::string::npos)
            << r.out;
        EXPECT_EQ(
            std::distance(fs::directory_iterator(dir.file("locked")), fs::directory_iterator()), 1);
    }

    // Lists that are not lists: info and plot say what is wrong.
    velorin_test::write_bytes(dir.file("short_wav.frq"), {'F', 'R', 'E', 'Q'});
    std::vector<uint8_t> cut = read_bytes(dir.file("bank/a 220_wav.frq"));
    cut.resize(cut.size() - 20);
    velorin_test::write_bytes(dir.file("cut_wav.frq"), cut);
    std::vector<uint8_t> magic = read_bytes(dir.file("bank/a 220_wav.frq"));
    magic[0] = 'X';
    velorin_test::write_bytes(dir.file("magic_wav.frq"), magic);
    const std::pair<const char*, const char*> lists[] = {
        {"short_wav.frq", "too short for its 40-byte header"},
        {"cut_wav.frq", "cut short"},
        {"magic_wav.frq", "does not start with \"FREQ000\""}};
    for (const auto& l : lists) {
        for (const char* cmd : {"info", "plot"}) {
            r = run({cmd, l.first});
            EXPECT_EQ(r.code, 1) << cmd << " " << l.first;
            EXPECT_NE(r.err.find(l.second), std::string::npos) << cmd << " " << r.err;
        }
    }
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {}, {"analyse"}, {"analyse", "-j", "0", "bank"}, {"frobnicate"}})
        EXPECT_EQ(run(bad).code, 2) << (bad.empty() ? "(none)" : bad.back());
    EXPECT_EQ(run({"--help"}).code, 0);
}

TEST_F(FrqTool, InfoFindsAnOctaveJumpAndFixRepairsItInPlace) {
    // The demo's vowel, and the same with 30 ms an octave up in the middle.
    ASSERT_EQ(run({"voice", "steady.wav", "220", "0.8"}, "velorin-demo").code, 0);
    ASSERT_EQ(run({"jump", "jump.wav", "220", "0.8"}, "velorin-demo").code, 0);
    ToolRun r = run({"info", "steady.wav", "jump.wav"});
    ASSERT_EQ(r.code, 0) << r.err;
    const size_t second = r.out.find("jump.wav");
    EXPECT_NE(r.out.substr(0, second).find("suspicious  0 frames"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(second).find("suspicious  0 frames"), std::string::npos) << r.out;
    r = run({"info", "--csv", "jump_wav.frq"});
    EXPECT_EQ(r.out.rfind("time_ms,frequency_hz,amplitude,voiced,suspicious\n", 0), 0u);
    EXPECT_NE(r.out.find(",1,1\n"), std::string::npos);

    // A good list with frames doubled and halved by hand.
    const std::wstring list_path = velorin::widen_text(dir.file("steady_wav.frq").c_str());
    FreqList* good = velorin::read_freq_list(list_path.c_str());
    ASSERT_TRUE(good);
    FreqList* bad = velorin::read_freq_list(list_path.c_str());
    const int frames[] = {40, 41, 90, 100};
    for (int k : frames) bad->freq[k] *= k < 90 ? 2.0 : 0.5;
    ASSERT_EQ(velorin::write_freq_list(list_path.c_str(), bad), 1);
    const std::vector<uint8_t> damaged = read_bytes(dir.file("steady_wav.frq"));
    r = run({"fix", "--dry-run", "steady_wav.frq"});
    EXPECT_NE(r.out.find("frame 41"), std::string::npos) << r.out;
    EXPECT_EQ(read_bytes(dir.file("steady_wav.frq")), damaged);
    r = run({"fix", "steady.wav"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("4 frames repaired"), std::string::npos) << r.out;
    FreqList* fixed = velorin::read_freq_list(list_path.c_str());
    ASSERT_TRUE(fixed);
    for (int k = 0; k < good->count; ++k) {
        EXPECT_NEAR(fixed->freq[k] / (good->freq[k] > 1 ? good->freq[k] : 1.0),
                    good->freq[k] > 1 ? 1.0 : fixed->freq[k], 0.01)
            << k;
        if (std::find(std::begin(frames), std::end(frames), k) == std::end(frames)) {
            EXPECT_EQ(fixed->freq[k], bad->freq[k]) << k;
        }
        EXPECT_EQ(fixed->amp[k], good->amp[k]) << k;
    }
    struct stat ls, ss;
    ASSERT_EQ(stat(dir.file("steady_wav.frq").c_str(), &ls), 0);
    ASSERT_EQ(stat(dir.file("steady.wav").c_str(), &ss), 0);
    EXPECT_GE(ls.st_mtime, ss.st_mtime);
    EXPECT_NE(run({"analyse", "steady.wav"}).out.find("nothing to analyse"), std::string::npos);
    for (FreqList* l : {good, bad, fixed}) velorin::free_freq_list(l);
}

// A list file: header, then (frequency, amplitude) per frame.
std::vector<uint8_t> list_file(int32_t step, int32_t rate, const std::vector<double>& hz) {
    std::vector<uint8_t> b(40, 0);
    std::memcpy(b.data(), "FREQ0003", 8);
    const auto put = [&b](size_t at, const void* v, size_t n) { std::memcpy(&b[at], v, n); };
    const int32_t count = int32_t(hz.size());
    put(8, &step, 4);
    put(20, &rate, 4);
    put(36, &count, 4);
    for (double f : hz) {
        const double amp = 0.5;
        b.resize(b.size() + 16);
        std::memcpy(&b[b.size() - 16], &f, 8);
        std::memcpy(&b[b.size() - 8], &amp, 8);
    }
    return b;
}

// The limits a hostile list's command must keep: 256 MiB of address space and
// a second of CPU. Not the address space where the sanitizers' shadow memory
// or an emulator's guest space needs more (the i386 and arm64 builds, where
// their programs run under qemu), and ten seconds of CPU under the emulator.
std::string work_limits() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    const bool sanitized = true;
#else
    const bool sanitized = false;
#endif
#if defined(__aarch64__)
    const char* emulator = "/proc/sys/fs/binfmt_misc/qemu-aarch64";
#else
    const char* emulator = sizeof(void*) == 4 ? "/proc/sys/fs/binfmt_misc/qemu-i386" : "";
#endif
    const bool emulated = *emulator && text_of(emulator).find("enabled") == 0;
    return std::string(sanitized || emulated ? "" : "ulimit -v 262144; ") +
           (emulated ? "ulimit -t 10; " : "ulimit -t 1; ");
}

// Lists as hostile as a downloaded voicebank's: each command on each one ends
// within a second of CPU and 256 MiB of address space, says what it refused,
// writes nothing non-finite and leaves no file half-written; the good sample
// beside them is drawn and reported as before.
TEST_F(FrqTool, HostileListsAreRefusedOrHandledWithinBoundedWork) {
    write_vowel(dir.file("good.wav"), 220.0, 0.4);
    ASSERT_EQ(run({"analyse", "good.wav"}).code, 0);
    const double big = 1.7e308;
    std::vector<double> long_curve(5000);
    for (size_t k = 0; k < long_curve.size(); ++k) long_curve[k] = k % 3 ? 220.0 + k % 7 : 0.0;
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        int code;          // of info, plot and fix
        const char* said;  // on standard error, or on standard output when the code is 0
    } const cases[] = {
        {"runaway", list_file(2147483647, 1, {220.0}), 1, "step is 2147483647 samples"},
        {"runaway100", list_file(2147483647, 1, std::vector<double>(100, 220.0)), 1,
         "step is 2147483647 samples"},
        {"crawl", list_file(256, 1, {220.0}), 1, "sample rate is 1 Hz"},
        {"forever", list_file(16384, 1000, std::vector<double>(10000, 220.0)), 1,
         "46 hours of sound"},
        {"octave_to_inf", list_file(256, 44100, {2.5, big, big, big}), 0, ""},
        {"near_max", list_file(256, 44100, {1e308, 1.5e308}), 0, "median 1250000000000000013"},
        {"long", list_file(16384, 1000, long_curve), 0, ""},
    };
    limits = work_limits();
    for (const Case& c : cases) {
        const std::string list = std::string(c.name) + "_wav.frq";
        velorin_test::write_bytes(dir.file(list), c.bytes);
        for (const char* cmd : {"info", "plot", "fix"}) {
            const ToolRun r = run({cmd, list});
            EXPECT_EQ(r.code, c.code) << cmd << " " << c.name << ": " << r.err;
            const std::string& said = c.code ? r.err : r.out;
            if (std::string(cmd) == "info" || c.code != 0) {
                EXPECT_NE(said.find(c.said), std::string::npos) << cmd << " " << c.name << said;
            }
            if (c.code != 0) {
                EXPECT_NE(r.err.find(list), std::string::npos) << r.err;
            }
        }
        // fix moved nothing (a move to infinity is no move), and the picture is small.
        EXPECT_EQ(read_bytes(dir.file(list)), c.bytes) << c.name;
        if (c.code == 0) {
            EXPECT_LT(fs::file_size(dir.file(std::string(c.name) + "_wav.svg")), 1u << 20);
        }
    }
    // The report of a folder with a good sample and one whose list runs away.
    fs::create_directories(dir.file("bank"));
    fs::copy_file(dir.file("good.wav"), dir.file("bank/good.wav"));
    fs::copy_file(dir.file("good.wav"), dir.file("bank/bad.wav"));
    velorin_test::write_bytes(dir.file("bank/bad_wav.frq"), cases[0].bytes);
    const ToolRun r = run({"report", "bank", "-o", "page.html"});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.err.find("bank/bad.wav: the list's step is 2147483647"), std::string::npos)
        << r.err;
    const std::string page = text_of(dir.file("page.html"));
    EXPECT_NE(page.find("the list&#39;s step is 2147483647"), std::string::npos);
    EXPECT_NE(page.find("<svg"), std::string::npos);  // the good sample's picture
    for (const auto& e : fs::directory_iterator(dir.path))
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
}

// Ctrl-C, once (the samples in progress are finished) and twice (the process ends at
// once): every list is complete or absent, and no temporary file is left.
TEST_F(FrqTool, InterruptedAnalysisLeavesNoTornListsOrTemporaryFiles) {
    fs::create_directories(dir.file("bank"));
    write_vowel(dir.file("bank/s000.wav"), 180.0, 1.5);
    for (int i = 1; i < 40; ++i)
        fs::copy_file(dir.file("bank/s000.wav"),
                      dir.file("bank/s" + std::to_string(100 + i) + ".wav"));
    ASSERT_EQ(run({"analyse", "bank/s000.wav"}).code, 0);
    const std::vector<uint8_t> reference = read_bytes(dir.file("bank/s000_wav.frq"));
    for (int signals : {1, 2}) {
        for (const auto& e : fs::directory_iterator(dir.file("bank")))
            if (e.path().extension() == ".frq") fs::remove(e.path());
        const std::string frq = program("velorin-frq"), bank = dir.file("bank");
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            freopen("/dev/null", "w", stdout);
            freopen("/dev/null", "w", stderr);
            execl(frq.c_str(), frq.c_str(), "analyse", "-j", "2", bank.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        // Once the first list is there the handler is in place.
        const auto any_list = [&]() {
            for (const auto& e : fs::directory_iterator(bank))
                if (e.path().extension() == ".frq") return true;
            return false;
        };
        for (int wait = 0; wait < 4000 && !any_list(); ++wait) usleep(2500);
        for (int s = 0; s < signals; ++s) {
            kill(pid, SIGINT);
            usleep(2000);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_TRUE(WEXITSTATUS(status) == 130 || WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
        int lists = 0;
        for (const auto& e : fs::directory_iterator(dir.file("bank"))) {
            const std::string name = e.path().filename().string();
            EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
            if (e.path().extension() != ".frq") continue;
            ++lists;
            EXPECT_EQ(read_bytes(e.path().string()), reference) << name;
        }
        EXPECT_LT(lists, 40) << "interrupted too late to tell";
    }
}

// The demo's join: butted notes click, an equal-power crossfade does not.
TEST_F(FrqTool, CrossfadedJoinsDoNotClick) {
    write_vowel(dir.file("n1.wav"), 220.0, 0.3);
    write_vowel(dir.file("n2.wav"), 277.0, 0.3);
    ToolRun butted = run({"join", "p.wav", "n1.wav", "n2.wav", "n1.wav"}, "velorin-demo");
    EXPECT_EQ(butted.code, 1);
    EXPECT_NE(butted.out.find("CLICK"), std::string::npos) << butted.out;
    ToolRun faded =
        run({"join", "--overlap", "20", "p.wav", "n1.wav", "n2.wav", "n1.wav"}, "velorin-demo");
    EXPECT_EQ(faded.code, 0) << faded.out;
    EXPECT_EQ(faded.out.find("CLICK"), std::string::npos) << faded.out;
}

}  // namespace
