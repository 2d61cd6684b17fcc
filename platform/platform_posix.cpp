// platform/platform_posix.cpp: the operating-system services on Linux and
// other POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
// (The C runtime's header spells its results as C's _Bool, which clang's
// C++ does not know; clang builds ask the processor instead.)
#if defined(__GLIBC__) && (defined(__x86_64__) || defined(__i386__)) && !defined(__clang__) && \
    __has_include(<sys/platform/x86.h>)
#include <sys/platform/x86.h>
#define VELORIN_RUNTIME_CPU_FEATURES 1
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "platform/console.h"
#include "platform/platform.h"

extern char** environ;

namespace velorin {

// Events share one lock. A thread that must sleep registers itself with the
// events it waits for, and setting an event wakes only those threads. Handing
// a unit to a worker and hearing back from it happen thousands of times per
// note, and most units take a few microseconds, so a waiter first watches the
// flags for a short while before it sleeps: a sleep and wake-up costs more
// than the unit itself.
namespace {
std::mutex& event_lock() {
    static std::mutex m;
    return m;
}

// A sleeping thread's wake-up. Each wait has its own on its stack: it is
// registered with the events and removed again under the lock before the wait
// returns, and a thread-local one would register a destructor at the
// thread's first wait, which allocates.
struct Waiter {
    std::condition_variable cv;
};

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

// Rounds of watching before sleeping. The main thread waits for an idle
// worker, which is busy with a whole run of units, so it watches only
// briefly; idle workers wait for the next run, which follows soon.
constexpr int spin_rounds_any = 50;
constexpr int spin_rounds_one = 200;

std::atomic<int64_t> sleeps{0}, wakes{0};
}  // namespace

struct Event {
    std::atomic<bool> signalled;
    std::vector<Waiter*> waiters;  // guarded by event_lock()
};

// Room for this many waiters is made when the event is created, so that a
// worker thread that sleeps on it allocates nothing: its first allocation
// would set up a heap of its own (a large mapping, trimmed, then faulted in).
constexpr size_t waiters_reserved = 4;

Event* event_create(bool signalled) {
    Event* e = new (std::nothrow) Event;
    if (!e) return nullptr;
    e->signalled.store(signalled);
    try {
        e->waiters.reserve(waiters_reserved);
    } catch (...) {
        delete e;
        return nullptr;
    }
    return e;
}

void event_set(Event* e) {
    if (!e) return;
    std::lock_guard<std::mutex> g(event_lock());
    e->signalled.store(true, std::memory_order_release);
    for (Waiter* w : e->waiters) w->cv.notify_one();
    wakes.fetch_add(int64_t(e->waiters.size()), std::memory_order_relaxed);
}

void event_reset(Event* e) {
    if (!e) return;
    std::lock_guard<std::mutex> g(event_lock());
    e->signalled.store(false, std::memory_order_release);
}

namespace {
int first_signalled(Event* const* events, int count) {
    for (int i = 0; i < count; ++i)
        if (events[i]->signalled.load(std::memory_order_acquire)) return i;
    return -1;
}

int wait_events(Event* const* events, int count, int spin_rounds) {
    for (int round = 0; round < spin_rounds; ++round) {
        const int k = first_signalled(events, count);
        if (k >= 0) return k;
        cpu_relax();
    }
    Waiter self;
    std::unique_lock<std::mutex> g(event_lock());
    for (;;) {
        const int k = first_signalled(events, count);
        if (k >= 0) return k;
        for (int i = 0; i < count; ++i) events[i]->waiters.push_back(&self);
        sleeps.fetch_add(1, std::memory_order_relaxed);
        self.cv.wait(g);
        for (int i = 0; i < count; ++i) {
            std::vector<Waiter*>& ws = events[i]->waiters;
            for (size_t j = 0; j < ws.size(); ++j) {
                if (ws[j] == &self) {
                    ws.erase(ws.begin() + long(j));
                    break;
                }
            }
        }
    }
}
}  // namespace

bool event_wait(Event* e) {
    if (!e) return false;
    Event* const one[1] = {e};
    return wait_events(one, 1, spin_rounds_one) == 0;
}

bool event_wait_ms(Event* e, int ms) {
    if (!e) return false;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    Waiter self;
    std::unique_lock<std::mutex> g(event_lock());
    while (!e->signalled.load(std::memory_order_acquire)) {
        e->waiters.push_back(&self);
        sleeps.fetch_add(1, std::memory_order_relaxed);
        const bool timed_out = self.cv.wait_until(g, limit) == std::cv_status::timeout;
        std::vector<Waiter*>& ws = e->waiters;
        for (size_t j = 0; j < ws.size(); ++j) {
            if (ws[j] == &self) {
                ws.erase(ws.begin() + long(j));
                break;
            }
        }
        if (timed_out) break;
    }
    return e->signalled.load(std::memory_order_acquire);
}

int wait_any(Event* const* events, int count) {
    if (!events || count <= 0) return -1;
    for (int i = 0; i < count; ++i)
        if (!events[i]) return -1;
    return wait_events(events, count, spin_rounds_any);
}

void event_close(Event* e) { delete e; }

EventCounts event_counts() {
    EventCounts c;
    c.sleeps = sleeps.load(std::memory_order_relaxed);
    c.wakes = wakes.load(std::memory_order_relaxed);
    return c;
}

struct Mutex {
    std::mutex m;
};

Mutex* mutex_create() { return new (std::nothrow) Mutex; }
void mutex_lock(Mutex* m) {
    if (m) m->m.lock();
}
void mutex_unlock(Mutex* m) {
    if (m) m->m.unlock();
}
void mutex_close(Mutex* m) { delete m; }

// A thread started directly, so that the new thread frees nothing the
// starting one allocated: its first call into the heap would set up a heap
// of its own, and a worker that allocates nothing never does.
struct Thread {
    pthread_t t;
    void (*proc)(void*) = nullptr;
    void* arg = nullptr;
    Console* console = nullptr;  // the starter's: the new thread speaks to it too
};

namespace {
void* thread_main(void* arg) {
    const Thread* t = static_cast<const Thread*>(arg);
    console_adopt(t->console);
    t->proc(t->arg);
    return nullptr;
}
}  // namespace

Thread* thread_start(void (*proc)(void*), void* arg) {
    Thread* t = new (std::nothrow) Thread;
    if (!t) return nullptr;
    t->proc = proc;
    t->arg = arg;
    t->console = console_current();
    if (pthread_create(&t->t, nullptr, thread_main, t) != 0) {
        delete t;
        return nullptr;
    }
    return t;
}

void thread_join(Thread* t) {
    if (!t) return;
    pthread_join(t->t, nullptr);
    delete t;
}

// Asked once per process: the system reads a file for it each time.
bool cpu_has_avx() {
#if defined(VELORIN_RUNTIME_CPU_FEATURES)
    return CPU_FEATURE_ACTIVE(AVX);
#elif (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    return __builtin_cpu_supports("avx");
#else
    return false;
#endif
}

bool cpu_has_avx512f() {
#if defined(VELORIN_RUNTIME_CPU_FEATURES)
    return CPU_FEATURE_ACTIVE(AVX512F);
#elif (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    return __builtin_cpu_supports("avx512f");  // also asks the system (XGETBV)
#else
    return false;
#endif
}

int processor_count() {
    static const int count = [] {
        const long n = sysconf(_SC_NPROCESSORS_ONLN);
        return n > 0 ? static_cast<int>(n) : 1;
    }();
    return count;
}

int64_t perf_counter() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t perf_frequency() { return 1000000000; }

int64_t physical_memory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page <= 0) return 0;
    return static_cast<int64_t>(pages) * page;
}

// Linux 5.14 and later; older kernels refuse the advice.
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

bool memory_prefault(void* p, int64_t bytes) {
#if defined(__linux__)
    if (!p || bytes <= 0) return false;
    const long page = sysconf(_SC_PAGESIZE);
    if (page <= 0) return false;
    // The pages holding the first and the last byte belong to the buffer's
    // mapping, so the range widened to whole pages lies inside it.
    const uintptr_t at = reinterpret_cast<uintptr_t>(p);
    const uintptr_t first = at - at % static_cast<uintptr_t>(page);
    const uintptr_t end = at + static_cast<uintptr_t>(bytes);
    // A buffer of several megabytes takes whole huge pages where the system
    // offers them for the asking: a fault (or a map) per 2 MiB instead of
    // per page, and fewer misses of the address cache.
    constexpr uintptr_t huge = uintptr_t{1} << 21;
    if (bytes >= 4 * static_cast<int64_t>(huge)) {
        const uintptr_t lo = (at + huge - 1) & ~(huge - 1), hi = (at + bytes) & ~(huge - 1);
        if (hi > lo) madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_HUGEPAGE);
    }
    return madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE) == 0;
#else
    (void)p;
    (void)bytes;
    return false;
#endif
}

FILE* file_open(const wchar_t* path, const wchar_t* mode) {
    if (!path || !mode) return nullptr;
    return std::fopen(narrow_text(path).c_str(), narrow_text(mode).c_str());
}

bool file_status(const wchar_t* path, FileStatus* st) {
    if (!path || !st) return false;
    struct stat s;
    if (::stat(narrow_text(path).c_str(), &s) != 0) {
        *st = FileStatus{};
        return false;
    }
    st->exists = true;
    st->mtime = static_cast<int64_t>(s.st_mtime);
    st->owner_write = (s.st_mode & S_IWUSR) != 0;
    st->folder = S_ISDIR(s.st_mode);
    st->regular = S_ISREG(s.st_mode);
    return true;
}

// glibc's 64-bit forms, so that 32-bit builds reach past 2 GiB as well.
#if defined(__GLIBC__)
int64_t file_size(FILE* f) {
    struct stat64 s;
    if (!f || ::fstat64(fileno(f), &s) != 0 || !S_ISREG(s.st_mode)) return -1;
    return static_cast<int64_t>(s.st_size);
}

bool file_seek(FILE* f, int64_t offset) {
    return f && offset >= 0 && ::fseeko64(f, static_cast<off64_t>(offset), SEEK_SET) == 0;
}

int64_t file_tell(FILE* f) { return f ? static_cast<int64_t>(::ftello64(f)) : -1; }
#else
int64_t file_size(FILE* f) {
    struct stat s;
    if (!f || ::fstat(fileno(f), &s) != 0 || !S_ISREG(s.st_mode)) return -1;
    return static_cast<int64_t>(s.st_size);
}

bool file_seek(FILE* f, int64_t offset) {
    if (!f || offset < 0 || static_cast<int64_t>(static_cast<off_t>(offset)) != offset)
        return false;
    return ::fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
}

int64_t file_tell(FILE* f) { return f ? static_cast<int64_t>(::ftello(f)) : -1; }
#endif

bool file_rename(const wchar_t* from, const wchar_t* to) {
    return std::rename(narrow_text(from).c_str(), narrow_text(to).c_str()) == 0;
}

bool file_remove(const wchar_t* path) { return std::remove(narrow_text(path).c_str()) == 0; }

int process_id() { return static_cast<int>(getpid()); }

bool file_set_mtime(const wchar_t* path, int64_t mtime) {
    if (!path) return false;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // access time unchanged
    times[1].tv_sec = static_cast<time_t>(mtime);
    times[1].tv_nsec = 0;
    return utimensat(AT_FDCWD, narrow_text(path).c_str(), times, 0) == 0;
}

bool folder_list(const wchar_t* path, std::vector<FolderEntry>* entries) {
    if (!path || !entries) return false;
    entries->clear();
    const std::string dir = narrow_text(path);
    DIR* d = opendir(dir.c_str());
    if (!d) return false;
    while (const dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        FolderEntry fe;
        fe.name = widen_text(e->d_name);
        bool folder = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat s;  // follows links, as opening the entry would
            folder = ::stat((dir + "/" + e->d_name).c_str(), &s) == 0 && S_ISDIR(s.st_mode);
        }
        fe.folder = folder;
        entries->push_back(fe);
    }
    closedir(d);
    std::sort(entries->begin(), entries->end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return true;
}

wchar_t path_separator() { return L'/'; }

bool stream_is_terminal(FILE* stream) { return stream && isatty(fileno(stream)) == 1; }

// The interruption flag and the temporary files a second interruption removes.
// The handler only reads slots whose state says they are complete, and uses
// nothing but unlink and _exit, which are safe in a signal handler.
namespace {
constexpr int temp_slots = 64;
constexpr int temp_path_bytes = 2048;
volatile sig_atomic_t interrupt_count = 0;
std::atomic<bool> watching{false};        // only a program that watches keeps the registry
std::atomic<int> temp_state[temp_slots];  // 0 free, 1 being filled, 2 registered
char temp_paths[temp_slots][temp_path_bytes];

void on_interrupt(int) {
    interrupt_count = interrupt_count + 1;
    if (interrupt_count < 2) return;
    for (int i = 0; i < temp_slots; ++i)
        if (temp_state[i].load() == 2) unlink(temp_paths[i]);
    _exit(130);
}
}  // namespace

void interrupt_watch() {
    watching.store(true);
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
}

bool interrupt_requested() { return interrupt_count > 0; }

int temp_file_register(const wchar_t* path) {
    if (!path || !watching.load()) return -1;
    const std::string bytes = narrow_text(path);
    if (bytes.size() >= size_t(temp_path_bytes)) return -1;
    for (int i = 0; i < temp_slots; ++i) {
        int expected = 0;
        if (!temp_state[i].compare_exchange_strong(expected, 1)) continue;
        std::memcpy(temp_paths[i], bytes.c_str(), bytes.size() + 1);
        temp_state[i].store(2);
        return i;
    }
    return -1;
}

void temp_file_forget(int slot) {
    if (slot >= 0 && slot < temp_slots) temp_state[slot].store(0);
}

bool env_get(const wchar_t* name, std::wstring* value) {
    const char* v = std::getenv(narrow_text(name).c_str());
    if (!v) return false;
    if (value) *value = widen_text(v);
    return true;
}

void locale_from_environment() { std::setlocale(LC_ALL, ""); }

struct Child {
    pid_t pid;
    FILE* out;
};

Child* child_start(const std::vector<std::wstring>& argv) {
    if (argv.empty() || argv[0].empty()) return nullptr;
    std::vector<std::string> args;
    for (const std::wstring& a : argv) args.push_back(narrow_text(a.c_str()));
    std::vector<char*> ptrs;
    for (std::string& a : args) ptrs.push_back(&a[0]);
    ptrs.push_back(nullptr);

    int fds[2];
    if (pipe(fds) != 0) return nullptr;
    // The child must not inherit our read end: a decoder that forks helpers
    // would otherwise keep the pipe open.
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&fa, fds[1]);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // A decoder gets the default action for a broken pipe back, whatever
    // this process chose for itself: it is how a decoder learns that we
    // stopped reading.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, ptrs[0], &fa, &attr, ptrs.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return nullptr;
    }
    FILE* out = fdopen(fds[0], "rb");
    if (!out) {
        close(fds[0]);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return nullptr;
    }
    Child* c = new (std::nothrow) Child{pid, out};
    if (!c) {
        std::fclose(out);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return c;
}

FILE* child_stdout(Child* c) { return c ? c->out : nullptr; }

int child_finish(Child* c, int wait_ms) {
    if (!c) return -1;
    if (c->out) std::fclose(c->out);
    int status = 0;
    pid_t done = 0;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
        done = waitpid(c->pid, &status, WNOHANG);
        if (done != 0 || std::chrono::steady_clock::now() >= limit) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (done == 0) {
        kill(c->pid, SIGKILL);
        done = waitpid(c->pid, &status, 0);
    }
    delete c;
    if (done <= 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void stdout_binary() {}  // POSIX streams are binary already

void broken_pipe_is_an_error() { signal(SIGPIPE, SIG_IGN); }

}  // namespace velorin
