// bench/library_timer.cpp: 100 one-second notes from one sample, rendered by 100
// velorin processes and by the library in this process (one sample handle,
// one note after another), alternating, for a number of rounds. Prints the median
// CPU time (user + system, all threads) of each way and their ratio. Both ways
// write each note to a file; the handle is opened (its list read) once a round.
//
// usage: library_timer VELORIN SAMPLE [ROUNDS]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "velorin/velorin.h"

extern char** environ;

namespace {

constexpr int notes = 100;
const char* const names[] = {"C3", "D3", "E3", "F3", "G3", "A3", "B3", "C4", "D4", "E4"};

double ms_of(const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec * 1e-3; }

double self_cpu_ms() {
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ms_of(ru.ru_utime) + ms_of(ru.ru_stime);
}

// The CPU of `notes` processes, one after another; negative when one fails.
double processes(const char* velorin, const std::string& sample, const std::string& out) {
    double cpu = 0;
    for (int i = 0; i < notes; ++i) {
        std::vector<std::string> args{velorin, sample, out,  names[i % 10], "100", "",
                                      "0",     "1000", "60", "0",           "100", "0"};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        const int rc = posix_spawn(&pid, velorin, &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        int status = 0;
        rusage ru;
        if (rc != 0 || wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0)
            return -1;
        cpu += ms_of(ru.ru_utime) + ms_of(ru.ru_stime);
    }
    return cpu;
}

double in_process(const std::string& sample, const std::string& out) {
    const double start = self_cpu_ms();
    velorin_error err;
    velorin_sample* s = velorin_sample_open(sample.c_str(), VELORIN_LIST_BESIDE, nullptr, &err);
    if (!s) return -1;
    for (int i = 0; i < notes; ++i) {
        velorin_note n;
        velorin_note_init(&n);
        n.pitch_hz = velorin_note_hz(names[i % 10]);
        n.length_ms = 1000;
        n.consonant_ms = 60;
        if (velorin_render_file(s, &n, out.c_str(), nullptr, &err) != VELORIN_OK) {
            velorin_sample_close(s);
            return -1;
        }
    }
    velorin_sample_close(s);
    return self_cpu_ms() - start;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: library_timer VELORIN SAMPLE [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    const std::string sample = argv[2];
    const std::string out = sample + ".timer.wav";
    std::vector<double> spawned, library;
    for (int r = 0; r < rounds; ++r) {
        const double a = processes(argv[1], sample, out);
        const double b = in_process(sample, out);
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "library_timer: a render failed\n");
            return 1;
        }
        spawned.push_back(a);
        library.push_back(b);
    }
    std::remove(out.c_str());
    const double p = median(spawned), l = median(library);
    std::printf("%d one-second notes, median of %d rounds, CPU ms:\n", notes, rounds);
    std::printf("  velorin processes  %9.1f  (%.2f ms a note)\n", p, p / notes);
    std::printf("  library, one handle %8.1f  (%.2f ms a note)\n", l, l / notes);
    std::printf("  ratio library / processes: %.2f\n", l / p);
    return 0;
}
