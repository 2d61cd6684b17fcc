// tools/frq/analyse.cpp: velorin-frq analyse: the lists of many samples, several
// at once, with a progress line on a terminal.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "audio/decoder_pipe.h"
#include "frq/sample_analysis.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "simd/simd.h"
#include "tools/frq/commands.h"
#include "tools/frq/files.h"

namespace velorin {

namespace {

struct Analysis {
    std::vector<std::wstring> todo;
    size_t total = 0;  // samples found, up-to-date ones included
    size_t up_to_date = 0;
    int threads = 0;  // per analysis; 0: one per processor
    bool terminal = false;
    int64_t start = 0;
    Mutex* lock = nullptr;
    Event* finished = nullptr;  // set when the last worker ends
    // Guarded by lock:
    int running = 0;  // workers
    size_t next = 0;
    size_t done = 0;
    size_t analysed = 0;
    std::wstring current;
    std::vector<Failure> failures;
    size_t drawn = 0;  // width of the last progress line
};

std::string clock_text(double seconds) {
    const long s = std::lround(std::max(0.0, seconds));
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

// The progress bar, redrawn in place; called under the lock.
void draw_progress(Analysis* a) {
    const size_t n = a->todo.size();
    const double elapsed = seconds_since(a->start);
    const int width = 24;
    const int filled = n ? int(double(a->done) / double(n) * width) : width;
    std::string bar =
        "[" + std::string(size_t(filled), '#') + std::string(size_t(width - filled), '.') + "]";
    char head[128];
    const std::string left =
        a->done > 0 ? clock_text(elapsed / double(a->done) * double(n - a->done)) : "?";
    std::snprintf(head, sizeof head, " %zu/%zu  %s elapsed  %s left  ", a->done, n,
                  clock_text(elapsed).c_str(), left.c_str());
    std::wstring line = widen_text((bar + head).c_str());
    std::wstring name = a->current;
    const size_t room = line.size() < 78 ? 78 - line.size() : 0;
    if (name.size() > room)
        name = (room > 3 ? L"..." + name.substr(name.size() - (room - 3)) : L"");
    line += name;
    const size_t shown = line.size();
    if (shown < a->drawn) line += std::wstring(a->drawn - shown, L' ');
    a->drawn = shown;
    tell_wide(stderr, (L"\r" + line).c_str());
}

void analyse_one(Analysis* a, const std::wstring& path) {
    std::string reason;
    bool written = false;
    FreqListPtr list(obtain_freq_list(path.c_str(), &written, simd_width_for_run(), a->threads));
    const std::wstring ext = lower_extension(path.c_str());
    if (interrupt_requested() && ext != L".wav" && ext != L".aif" && ext != L".aiff") {
        // Ctrl-C on a terminal reaches the decoder too, which may have stopped early:
        // a list of part of the sample is no list, so none is left.
        if (list) file_remove(list_path_of(path).c_str());
        return;
    }
    if (!list)
        reason = analysis_fault(path);
    else if (!written)
        reason = "its list cannot be written (is the folder or the list read-only?)";
    mutex_lock(a->lock);
    ++a->done;
    if (reason.empty()) {
        ++a->analysed;
        if (!a->terminal) tell_text(stderr, L"analysed " + path + L"\n");
    } else {
        a->failures.push_back({path, reason});
        if (a->terminal) tell(stderr, "\n");
        tell_text(stderr, L"failed " + path + L": " + widen_text(reason.c_str()) + L"\n");
        a->drawn = 0;
    }
    if (a->terminal) draw_progress(a);
    mutex_unlock(a->lock);
}

void analysis_worker(void* arg) {
    Analysis* a = static_cast<Analysis*>(arg);
    for (;;) {
        mutex_lock(a->lock);
        if (a->next >= a->todo.size() || interrupt_requested()) {
            if (--a->running == 0) event_set(a->finished);
            mutex_unlock(a->lock);
            return;
        }
        const std::wstring path = a->todo[a->next++];
        a->current = path;
        if (a->terminal) draw_progress(a);
        mutex_unlock(a->lock);
        analyse_one(a, path);
    }
}

bool list_up_to_date(const std::wstring& sample) {
    const std::wstring lp = list_path_of(sample);
    FileStatus ss, ls;
    if (lp.empty() || !file_status(sample.c_str(), &ss) || !file_status(lp.c_str(), &ls))
        return false;
    if (ls.mtime < ss.mtime) return false;
    FreqListPtr l(read_freq_list(lp.c_str()));  // a damaged list is analysed again
    return l != nullptr;
}

// Runs `jobs` workers over a.todo and waits for them, redrawing the
// progress line on a terminal; with no thread at all, this one does the work.
void run_workers(Analysis& a, int jobs) {
    if (a.terminal) draw_progress(&a);
    std::vector<Thread*> threads;
    a.running = jobs;
    for (int i = 0; i < jobs; ++i) {
        Thread* t = thread_start(analysis_worker, &a);
        if (t) {
            threads.push_back(t);
        } else {
            mutex_lock(a.lock);
            if (--a.running == 0) event_set(a.finished);
            mutex_unlock(a.lock);
        }
    }
    if (threads.empty()) {
        a.running = 1;
        analysis_worker(&a);
    }
    // The clock on the progress line moves on while the samples take their time.
    while (!event_wait_ms(a.finished, 500)) {
        if (!a.terminal) continue;
        mutex_lock(a.lock);
        draw_progress(&a);
        mutex_unlock(a.lock);
    }
    for (Thread* t : threads) thread_join(t);
    if (a.terminal) tell(stderr, "\n");
}

// The summary on standard output; the exit code.
int summarise_analysis(const Analysis& a, int jobs) {
    const bool stopped = interrupt_requested();
    char line[160];
    std::snprintf(line, sizeof line,
                  "analysed %zu, up to date %zu, failed %zu (%.1f s, %d at once)\n", a.analysed,
                  a.up_to_date, a.failures.size(), seconds_since(a.start), jobs);
    tell(stdout, line);
    for (const Failure& f : a.failures)
        tell_text(stdout, L"  failed: " + f.path + L": " + widen_text(f.reason.c_str()) + L"\n");
    if (stopped) {
        const size_t left = a.todo.size() - a.done;
        tell(stderr, ("interrupted: " + std::to_string(left) + " samples not analysed\n").c_str());
        return 130;
    }
    return a.failures.empty() ? 0 : 1;
}

}  // namespace

int analyse_command(const std::vector<std::wstring>& paths, int jobs, bool force, int threads) {
    interrupt_watch();
    Analysis a;
    a.threads = threads;
    a.start = perf_counter();
    std::vector<Failure> failures;
    const std::vector<std::wstring> samples = gather(paths, &failures);
    a.total = samples.size();
    for (const std::wstring& s : samples) {
        if (!force && list_up_to_date(s))
            ++a.up_to_date;
        else
            a.todo.push_back(s);
    }
    a.failures = failures;
    for (const Failure& f : failures)
        tell_text(stderr, L"failed " + f.path + L": " + widen_text(f.reason.c_str()) + L"\n");
    a.terminal = stream_is_terminal(stderr);
    a.lock = mutex_create();
    a.finished = event_create(false);
    if (!a.lock || !a.finished) {
        tell(stderr, "velorin-frq: out of resources\n");
        return 1;
    }
    if (jobs <= 0) jobs = processor_count();
    jobs = static_cast<int>(std::min<size_t>(size_t(jobs), std::max<size_t>(a.todo.size(), 1)));
    if (!a.todo.empty())
        run_workers(a, jobs);
    else if (a.total > 0)
        tell(stdout,
             ("nothing to analyse: all " + std::to_string(a.total) + " lists are up to date\n")
                 .c_str());
    event_close(a.finished);
    mutex_close(a.lock);
    return summarise_analysis(a, jobs);
}

}  // namespace velorin
