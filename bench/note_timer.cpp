// bench/note_timer.cpp: times whole processes as a host starts them: each
// command in turn, alternating, for a number of rounds; prints the median CPU
// time (user + system, of the process and its threads) and wall time per
// command, and each one's ratio to a reference command.
//
// usage: note_timer ROUNDS REF-LABEL -- LABEL CMD ARGS... [:: LABEL CMD ARGS...]...
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Command {
    std::string label;
    std::vector<char*> argv;
    std::vector<double> cpu_ms, wall_ms;
    int failures = 0;
    int exit_code = 0;  // the status a run must end with
};

double now_ms() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

double ms_of(const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec * 1e-3; }

// Runs the command with its output streams thrown away; false when it could
// not start or did not exit with 0.
bool run_once(Command& c) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    const double t0 = now_ms();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, c.argv[0], &fa, nullptr, c.argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return false;
    int status = 0;
    rusage ru;
    if (wait4(pid, &status, 0, &ru) != pid) return false;
    const double t1 = now_ms();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != c.exit_code) return false;
    c.wall_ms.push_back(t1 - t0);
    c.cpu_ms.push_back(ms_of(ru.ru_utime) + ms_of(ru.ru_stime));
    return true;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

int usage() {
    std::fputs(
        "usage: note_timer ROUNDS REF-LABEL -- LABEL CMD ARGS... [:: LABEL CMD ARGS...]...\n"
        "Runs the commands in turn, ROUNDS times, and prints the median CPU and wall\n"
        "time of each in milliseconds, and their ratios to the command REF-LABEL.\n"
        "A command's first argument --exit=N names the exit status its runs must end\n"
        "with (default 0), e.g. for a banner.\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        usage();
        return 0;
    }
    if (argc < 6 || std::strcmp(argv[3], "--") != 0) return usage();
    const int rounds = std::atoi(argv[1]);
    const std::string ref = argv[2];
    if (rounds < 1) return usage();
    std::vector<Command> cmds;
    for (int i = 4; i < argc; ++i) {
        if (!std::strcmp(argv[i], "::") || cmds.empty()) {
            if (!std::strcmp(argv[i], "::")) ++i;
            if (i >= argc) return usage();
            cmds.push_back(Command{argv[i], {}, {}, {}});
            continue;
        }
        if (cmds.back().argv.empty() && !std::strncmp(argv[i], "--exit=", 7)) {
            cmds.back().exit_code = std::atoi(argv[i] + 7);
            continue;
        }
        cmds.back().argv.push_back(argv[i]);
    }
    for (Command& c : cmds) {
        if (c.argv.empty()) return usage();
        c.argv.push_back(nullptr);
    }
    // One warm-up round fills the page cache; it is not counted.
    for (Command& c : cmds) {
        if (!run_once(c)) {
            std::fprintf(stderr, "note_timer: %s failed\n", c.label.c_str());
            return 1;
        }
        c.cpu_ms.clear();
        c.wall_ms.clear();
    }
    for (int r = 0; r < rounds; ++r)
        for (Command& c : cmds)
            if (!run_once(c)) ++c.failures;
    const Command* rc = nullptr;
    for (const Command& c : cmds)
        if (c.label == ref) rc = &c;
    const double ref_cpu = rc ? median(rc->cpu_ms) : 0.0;
    const double ref_wall = rc ? median(rc->wall_ms) : 0.0;
    std::printf("%-34s %9s %9s %9s %9s\n", "command", "cpu ms", "wall ms", "cpu/ref", "wall/ref");
    for (const Command& c : cmds) {
        const double cpu = median(c.cpu_ms), wall = median(c.wall_ms);
        std::printf("%-34s %9.1f %9.1f %9.2f %9.2f", c.label.c_str(), cpu, wall,
                    ref_cpu > 0 ? cpu / ref_cpu : 0.0, ref_wall > 0 ? wall / ref_wall : 0.0);
        if (c.failures) std::printf("  (%d failed runs)", c.failures);
        std::printf("\n");
    }
    for (const Command& c : cmds)
        if (c.failures) return 1;
    return 0;
}
