// tests/driver/process_test.cpp: the built program run as hosts run it: the
// WAV stream on standard output, and several notes of one sample at once.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "frq/freq_list.h"
#include "platform/platform.h"
#include "tests/support/support.h"

using namespace velorin_test;

namespace {

std::string program(std::string* why) { return built_program("velorin", why); }

// Runs a shell command line in `cwd`, returning its standard output and exit code.
std::string capture(const std::string& cwd, const std::string& cmd, int* code) {
    FILE* p = popen(("cd '" + cwd + "' && " + cmd).c_str(), "r");
    std::string out;
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = pclose(p);
    *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

struct ProcessFixture : testing::Test {
    TempDir dir;
    std::string why;
    std::string exe = program(&why);
    void SetUp() override {
        ASSERT_FALSE(exe.empty()) << why;
        write_bytes(dir.file("voice.wav"),
                    wav_bytes_i16(to_i16(make_vowel(44100, 0.8, 230.0)), 1, 44100));
    }
};

}  // namespace

TEST_F(ProcessFixture, StandardOutputCarriesTheWavStreamAlone) {
    int code = -1;
    // The first run writes the list; the 'G' runs below rewrite it.
    capture(dir.path, "'" + exe + "' voice.wav file.wav A4 100 S1 0 400 2>/dev/null", &code);
    ASSERT_EQ(code, 0);
    const std::vector<uint8_t> file = read_bytes(dir.file("file.wav"));
    ASSERT_EQ(file.size(), 44u + 2u * 17640u);

    std::string out =
        capture(dir.path, "'" + exe + "' voice.wav - A4 100 S1 0 400 2>err.txt", &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.end()), file);

    // With 'G' and a host's batch file present the report comes back on,
    // and the notice, the analysis lines and the timing go to standard error.
    write_bytes(dir.file("temp.bat"), {'r', 'e', 'm', '\n'});
    out = capture(dir.path, "'" + exe + "' voice.wav - A4 100 S1G 0 400 2>err.txt", &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.end()), file);
    const std::vector<uint8_t> err = read_bytes(dir.file("err.txt"));
    const std::string text(err.begin(), err.end());
    EXPECT_NE(text.find("NOTICE!"), std::string::npos) << text;
    EXPECT_NE(text.find("src freq avg. = "), std::string::npos) << text;
    EXPECT_NE(text.find("This process took  "), std::string::npos) << text;
}

TEST_F(ProcessFixture, NotesStartedTogetherShareOneListFile) {
    // Several notes of a sample without a list, started at the same moment:
    // each analyses it, and the folder ends with one whole list and no
    // temporary file.
    const int runs = 4;
    std::vector<FILE*> procs;
    for (int i = 0; i < runs; ++i) {
        const std::string cmd = "cd '" + dir.path + "' && '" + exe + "' voice.wav out" +
                                std::to_string(i) + ".wav A4 100 n 0 300 >/dev/null 2>&1; echo $?";
        procs.push_back(popen(cmd.c_str(), "r"));
    }
    for (FILE* p : procs) {
        ASSERT_NE(p, nullptr);
        char buf[16] = {};
        ASSERT_NE(std::fgets(buf, sizeof buf, p), nullptr);
        EXPECT_EQ(std::string(buf), "0\n");
        pclose(p);
    }
    for (int i = 0; i < runs; ++i)
        EXPECT_EQ(read_bytes(dir.file("out" + std::to_string(i) + ".wav")).size(),
                  44u + 2u * 13230u);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path))
        names.push_back(e.path().filename().string());
    for (const std::string& n : names) EXPECT_EQ(n.find(".tmp"), std::string::npos) << n;
    velorin::FreqList* list = velorin::read_freq_list(dir.wfile("voice_wav.frq").c_str());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count, 35280 / 256 + 1);
    EXPECT_EQ(read_bytes(dir.file("voice_wav.frq")).size(), 40u + 16u * size_t(list->count));
    velorin::free_freq_list(list);
}

namespace {

std::string text_of(const std::string& path) {
    const std::vector<uint8_t> b = read_bytes(path);
    return std::string(b.begin(), b.end());
}

std::vector<std::string> temporary_files(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().filename().string().find(".tmp") != std::string::npos)
            names.push_back(e.path().filename().string());
    return names;
}

}  // namespace

// An output that cannot be written ends the run with exit code 1 and a
// message naming the path and the reason, and leaves no part of a file: not
// in place of an earlier note, not as a temporary file beside it.
TEST_F(ProcessFixture, OutputThatCannotBeWrittenIsAnError) {
    const std::string old_note = "an earlier note";
    write_bytes(dir.file("old.wav"), std::vector<uint8_t>(old_note.begin(), old_note.end()));
    std::filesystem::create_directory(dir.file("folder.wav"));
    struct Case {
        const char* what;
        std::string shell;    // runs the program with $V for its path, stderr to err.txt
        const char* message;  // the start of standard error
        const char* reason;
    };
    const std::string note = " voice.wav OUT A4 100 nS1 0 400 2>err.txt";
    auto with = [&](const std::string& out) {
        std::string s = "V='" + exe + "'; \"$V\"" + note;
        return s.replace(s.find("OUT"), 3, out);
    };
    const Case cases[] = {
        {"missing folder", with("no/such/o.wav"),
         "Cannot write no/such/o.wav: ", "No such file or directory"},
        {"full device", with("/dev/full"), "Cannot write /dev/full: ", "No space left on device"},
        // A file size limit stops the write half-way, like a full disk.
        {"write cut short", "trap '' XFSZ; ulimit -f 20; " + with("old.wav"),
         "Cannot write old.wav: ", "File too large"},
        {"a folder in the way", with("folder.wav"), "Cannot write folder.wav: ", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int code = -1;
        capture(dir.path, "(" + c.shell + ")", &code);
        EXPECT_EQ(code, 1);
        const std::string err = text_of(dir.file("err.txt"));
        // (The analysis of the sample speaks first.)
        EXPECT_NE(err.find(std::string(c.message) + c.reason), std::string::npos) << err;
        EXPECT_EQ(text_of(dir.file("old.wav")), old_note);
        EXPECT_TRUE(std::filesystem::is_directory(dir.file("folder.wav")));
        EXPECT_TRUE(temporary_files(dir.path).empty());
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("no")));
}

TEST_F(ProcessFixture, ClosedPipeOnStandardOutputEndsWithExitCodeOne) {
    // The note is larger than a pipe holds, so the writer meets the closed end.
    int code = -1;
    capture(dir.path,
            "{ '" + exe +
                "' voice.wav - A4 100 nS1 0 3000 2>err.txt; echo $? >code.txt; } | "
                "head -c 100 >/dev/null",
            &code);
    EXPECT_EQ(text_of(dir.file("code.txt")), "1\n");
    EXPECT_NE(text_of(dir.file("err.txt")).find("Cannot write standard output: Broken pipe\n"),
              std::string::npos);
}

TEST_F(ProcessFixture, NoteTooLongForAWavFileIsRefusedAtOnce) {
    // 2147483647 ms saturates to 2^31 - 1 output samples: 4 GiB of 16-bit data.
    for (const char* length : {"2147483647", "1e8"}) {
        int code = -1;
        capture(dir.path, "'" + exe + "' voice.wav o.wav A4 100 n 0 " + length + " 2>err.txt",
                &code);
        EXPECT_EQ(code, 1);
        EXPECT_EQ(text_of(dir.file("err.txt")),
                  "Note too long: 2147483647 samples do not fit a WAV file.\n");
        EXPECT_FALSE(std::filesystem::exists(dir.file("o.wav")));
        EXPECT_FALSE(std::filesystem::exists(dir.file("voice_wav.frq")));  // no analysis either
    }
}
