// tests/driver/cli_test.cpp: the built program, run as a host runs it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "simd/simd.h"
#include "tests/support/support.h"

namespace {

struct RunResult {
    int code = -1;  // exit code, -1 when the program did not exit normally
    std::string out;
    std::string err;
};

using velorin_test::shell_quoted;

// The program in the build folder, or empty (see built_program).
std::string program_path(std::string* why = nullptr) {
    std::string ignored;
    return velorin_test::built_program("velorin", why ? why : &ignored);
}

// Runs the program with `args`; standard error goes through a file in `tmp`.
RunResult run_velorin(const velorin_test::TempDir& tmp, const std::vector<std::string>& args) {
    std::string command = shell_quoted(program_path());
    for (const std::string& a : args) command += " " + shell_quoted(a);
    const std::string err_path = tmp.file("stderr.txt");
    command += " 2>" + shell_quoted(err_path) + " </dev/null";
    RunResult r;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return r;
    char buf[4096];
    size_t got = 0;
    while ((got = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, got);
    const int status = pclose(pipe);
    if (status != -1 && WIFEXITED(status)) r.code = WEXITSTATUS(status);
    const std::vector<uint8_t> err = velorin_test::read_bytes(err_path);
    r.err.assign(err.begin(), err.end());
    return r;
}

class Cli : public testing::Test {
   protected:
    void SetUp() override {
        std::string why;
        ASSERT_FALSE(program_path(&why).empty()) << why;
    }
    velorin_test::TempDir tmp;
};

const std::string banner_first_line = sizeof(void*) == 8 ? "velorin.exe ver0.05 test for x64\n"
                                                         : "velorin.exe ver0.05 test for x86\n";

}  // namespace

TEST_F(Cli, NoArgumentsOrNoOutputPathPrintsBannerAndExits99) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{tmp.file("voice.wav")}}) {
        const RunResult r = run_velorin(tmp, args);
        EXPECT_EQ(r.code, 99) << args.size() << " arguments";
        EXPECT_EQ(r.out.substr(0, banner_first_line.size()), banner_first_line);
        EXPECT_EQ(r.err, "");
    }
}

// A lane width VELORIN_SIMD cannot give is named once on standard error; the
// run goes on at the widest width.
TEST_F(Cli, SimdValueItCannotTakeIsNamedOnStandardError) {
    const velorin::SimdWidth* widths;
    const int built = velorin::simd_widths_built(&widths);
    std::string names;  // "scalar, sse2, avx, avx512" on x86
    for (int i = 0; i < built; ++i)
        names += std::string(i ? ", " : "") + velorin::simd_width_name(widths[i]);
    for (const char* value : {"fast", "avx512000"}) {
        const std::string err =
            velorin_test::command_output(std::string("VELORIN_SIMD=") + value + " " +
                                         shell_quoted(program_path()) + " 2>&1 >/dev/null");
        EXPECT_EQ(err.find(std::string("VELORIN_SIMD=") + value + " is not a width (" + names +
                           "); using "),
                  0u)
            << err;
        EXPECT_EQ(err.find('\n'), err.size() - 1) << err;  // one line
    }
}

// Inputs the render reader cannot load end the run with 99 before anything is written.
struct BadInput {
    const char* name;
    std::vector<uint8_t> bytes;  // empty: the file is not created
    const char* err;
};

void PrintTo(const BadInput& c, std::ostream* os) { *os << c.name; }

class CliBadInput : public Cli, public testing::WithParamInterface<BadInput> {};

TEST_P(CliBadInput, Exits99WithMessage) {
    const BadInput& c = GetParam();
    const std::string input = tmp.file(c.name);
    if (!c.bytes.empty()) velorin_test::write_bytes(input, c.bytes);
    const std::string output = tmp.file("out.wav");
    const RunResult r = run_velorin(tmp, {input, output, "A4", "100", "", "0", "500"});
    EXPECT_EQ(r.code, 99);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(velorin_test::file_exists(output));
}

std::vector<uint8_t> ascii(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

// A RIFF/WAVE head whose only chunk is "fmt ": no "data" chunk is ever reached.
std::vector<uint8_t> wav_without_data() {
    std::vector<uint8_t> b = velorin_test::wav_bytes_i16({100, -100}, 1, 44100);
    b.resize(36);
    b[4] = 28;  // RIFF size of what is left
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, CliBadInput,
    testing::Values(BadInput{"missing.wav", {}, "Datei hat nicht gefunden.\n"},
                    BadInput{"voice.aif",
                             ascii(std::string("FORM\0\0\0\x1a"
                                               "AIFFCOMM\0\0\0\x12",
                                               20) +
                                   std::string(18, '\0')),
                             "file format error(2).\nDatei hat nicht gefunden.\n"},
                    BadInput{"text.wav", ascii("this is not a sound at all\n"),
                             "file format error(2).\nDatei hat nicht gefunden.\n"},
                    BadInput{"nodata.wav", wav_without_data(), "Datei hat nicht gefunden.\n"}),
    [](const testing::TestParamInfo<BadInput>& p) {
        const std::string n = p.param.name;
        return n.substr(0, n.find('.'));
    });
