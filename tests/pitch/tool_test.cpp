// tests/pitch/tool_test.cpp: the velorin-pitch program, run as a user runs it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/support.h"

namespace {

using velorin_test::shell_quoted;

// The built program, or empty (see built_program).
std::string tool_path(std::string* why = nullptr) {
    std::string ignored;
    return velorin_test::built_program("tools/velorin-pitch", why ? why : &ignored);
}

struct ToolRun {
    std::string out;  // standard output, or both streams with `merge`
    int code = -1;
};

std::string file_text(const std::string& path) {
    const std::vector<uint8_t> b = velorin_test::read_bytes(path);
    return std::string(b.begin(), b.end());
}

// Runs the program through the shell with `input` on its standard input; the
// streams and the exit code come back through files in the test's own folder.
class PitchTool : public testing::Test {
   protected:
    void SetUp() override {
        std::string why;
        ASSERT_FALSE(tool_path(&why).empty()) << why;
    }

    ToolRun run_tool(const std::vector<std::string>& args, const std::string& input = "",
                     bool merge = false) {
        std::string cmd = "printf '%s' " + shell_quoted(input) + " | " + shell_quoted(tool_path());
        for (const std::string& a : args) cmd += " " + shell_quoted(a);
        cmd += " >" + shell_quoted(dir.file("out"));
        cmd += merge ? " 2>&1" : " 2>" + shell_quoted(dir.file("err"));
        cmd += "; echo $? >" + shell_quoted(dir.file("rc"));
        ToolRun r;
        if (std::system(cmd.c_str()) != 0) return r;
        r.out = file_text(dir.file("out"));
        r.code = std::atoi(file_text(dir.file("rc")).c_str());
        return r;
    }

    velorin_test::TempDir dir;
};

TEST_F(PitchTool, DecodesWithTheFormTheTempoSelects) {
    ToolRun r = run_tool({"decode", "!120", "AB#3#AC"});
    EXPECT_EQ(r.out, "1 1 1 1 2\n");
    EXPECT_EQ(r.code, 0);
    r = run_tool({"decode", "!120*cmp1", "J"});
    EXPECT_EQ(r.out, "1 2\n");
    r = run_tool({"decode", "!120*xyz0", "$AF"});
    EXPECT_EQ(r.out, "0 0 0 5\n");
    r = run_tool({"decode", "!120", "#0#"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.code, 1);
}

TEST_F(PitchTool, KeepsCodecMessagesOffStandardOutput) {
    ToolRun r = run_tool({"decode", "!1*hff", "lCqhlCqh"});  // data that stops matching
    EXPECT_EQ(r.out.find("Huffman"), std::string::npos) << r.out;
    r = run_tool({"encode", "enc", "5", "1", "2"}, "", true);
    EXPECT_EQ(r.out, "encpitch: Argument 2 ist anomal.\n");
    EXPECT_EQ(r.code, 1);
}

TEST_F(PitchTool, EncodesPointsFromArgumentsOrStandardInput) {
    ToolRun r = run_tool({"encode", "cmp", "0", "1", "1", "1"});
    EXPECT_EQ(r.out, "J'B\n");
    EXPECT_EQ(r.code, 0);
    r = run_tool({"encode", "plain", "0"}, " 5\n5\t5 ");
    EXPECT_EQ(r.out, "AF#2#\n");
    r = run_tool({"encode", "hff", "0", "0", "1", "0"});
    EXPECT_EQ(r.out, "lCqh\n");
    r = run_tool({"encode", "hff", "0", "6", "6", "6"});  // every residual the same
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.code, 1);
    r = run_tool({"encode", "enc", "0"}, "");
    EXPECT_EQ(r.code, 1);
}

TEST_F(PitchTool, EncodeThenDecodeGivesThePointsBack) {
    const std::string points = "0 12 30 55 80 96 100 96 80 55 30 12 0 -1000 1000 0 0 0 0 0";
    for (const std::string form : {"enc", "cmp", "hff"}) {
        const ToolRun e = run_tool({"encode", form, "1"}, points);
        ASSERT_EQ(e.code, 0) << form;
        const std::string text = e.out.substr(0, e.out.size() - 1);
        const ToolRun d = run_tool({"decode", "!120*" + form + "1", text});
        EXPECT_EQ(d.out, points + "\n") << form << " " << text;
    }
}

TEST_F(PitchTool, BadUsageExitsWithTwo) {
    const std::vector<std::vector<std::string>> bad = {{},
                                                       {"decode", "!120"},
                                                       {"encode", "xyz", "0", "1"},
                                                       {"encode", "enc", "x", "1"},
                                                       {"encode", "enc", "0", "1.5"},
                                                       {"encode", "enc", "0", "40000"},
                                                       {"frobnicate"}};
    for (const auto& args : bad) {
        const ToolRun r = run_tool(args, "", true);
        EXPECT_EQ(r.code, 2) << (args.empty() ? "(none)" : args[0]);
        EXPECT_NE(r.out.find("usage: velorin-pitch"), std::string::npos);
    }
    const ToolRun help = run_tool({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("velorin-pitch decode TEMPO STRING"), std::string::npos);
    EXPECT_NE(help.out.find("velorin-pitch encode FORM ORDER"), std::string::npos);
}

}  // namespace
