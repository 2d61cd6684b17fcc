// bench/bench_render.cpp: a 1-second note rendered from a 1-second 44.1 kHz
// sample whose frequency list is in place: the two passes, the run after
// parsing, and the whole process as a host starts it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver/params.h"
#include "driver/render.h"
#include "frq/freq_list.h"
#include "frq/sample_analysis.h"
#include "platform/platform.h"
#include "tests/support/support.h"

extern char** environ;

namespace {

struct Setup {
    velorin_test::TempDir dir;
    std::string voice = dir.file("voice.wav");
    std::string out = dir.file("note.wav");
    Setup() {
        velorin_test::write_bytes(
            voice, velorin_test::wav_bytes_i16(velorin_test::to_i16(velorin_test::make_vowel(
                                                   44100, 1.0, 220.0, 12000.0, 30.0, 5.5)),
                                               1, 44100));
        velorin::FreqList* list =
            velorin::obtain_freq_list(velorin::widen_text(voice.c_str()).c_str());
        velorin::free_freq_list(list);
    }
};

Setup& setup() {
    static Setup s;
    return s;
}

// 1000 ms note, the whole region, no fixed regions, default breath and threads.
std::vector<std::string> note_args(const Setup& s) {
    return {"velorin", s.voice, s.out, "A3", "100", "n", "0", "1000", "0", "0", "100", "0"};
}

void silence_stderr() {
    static bool done = false;
    if (done) return;
    done = true;
    const int fd = open("/dev/null", O_WRONLY);
    if (fd >= 0) dup2(fd, 2);
}

void BM_render_note(benchmark::State& state) {
    Setup& s = setup();
    silence_stderr();
    const std::vector<std::string> args = note_args(s);
    double first = 0, second = 0, passes = 0;
    for (auto _ : state) {
        std::vector<std::wstring> w;
        for (const std::string& a : args) w.push_back(velorin::widen_text(a.c_str()));
        std::vector<wchar_t*> p;
        for (std::wstring& x : w) p.push_back(&x[0]);
        p.push_back(nullptr);
        velorin::RenderParams params;
        velorin::parse_invocation(int(w.size()), p.data(), &params);
        velorin::RenderStats stats;
        velorin::render_note(params, &stats);
        first += stats.first_pass_ms;
        second += stats.second_pass_ms;
        passes += stats.passes_ms;
    }
    const double n = double(state.iterations());
    state.counters["first_pass_ms"] = first / n;
    state.counters["second_pass_ms"] = second / n;
    state.counters["passes_ms"] = passes / n;
}
BENCHMARK(BM_render_note)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_render_note_process(benchmark::State& state) {
    Setup& s = setup();
    char self[4096];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0) {
        state.SkipWithError("no /proc/self/exe");
        return;
    }
    self[len] = 0;
    std::string exe = self;
    exe = exe.substr(0, exe.rfind('/')) + "/../velorin";
    std::vector<std::string> args = note_args(s);
    args[0] = exe;
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    for (auto _ : state) {
        pid_t pid;
        if (posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ) != 0) {
            state.SkipWithError("cannot start velorin");
            break;
        }
        int status = 0;
        waitpid(pid, &status, 0);
    }
    posix_spawn_file_actions_destroy(&fa);
}
BENCHMARK(BM_render_note_process)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
