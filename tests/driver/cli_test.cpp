// tests/driver/cli_test.cpp: the built program, run as a host runs it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/support.h"

namespace {

struct RunResult {
    int code = -1;  // exit code, -1 when the program did not exit normally
    std::string out;
    std::string err;
};

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The program in the build folder, or empty when the test runs outside ctest.
std::string program_path() {
    const char* dir = std::getenv("VELORIN_BIN_DIR");
    return dir ? std::string(dir) + "/velorin" : std::string();
}

// Runs the program with `args`; standard error goes through a file in `tmp`.
RunResult run_velorin(const velorin_test::TempDir& tmp, const std::vector<std::string>& args) {
    std::string command = quoted(program_path());
    for (const std::string& a : args) command += " " + quoted(a);
    const std::string err_path = tmp.file("stderr.txt");
    command += " 2>" + quoted(err_path) + " </dev/null";
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
        if (program_path().empty()) GTEST_SKIP() << "VELORIN_BIN_DIR is not set";
        if (!velorin_test::file_exists(program_path()))
            GTEST_SKIP() << "the program is not built: " << program_path();
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
