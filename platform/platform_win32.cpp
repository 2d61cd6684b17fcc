// platform/platform_win32.cpp: the operating-system services on Windows, through Win32 and
// the C runtime directly.
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/platform.h"

namespace velorin {

// Events and mutexes live in the process: slim reader/writer locks and
// condition variables, never kernel objects. A kernel event or mutex costs a
// system call per set, reset, lock and unlock, and where the system is
// emulated in user space (Wine) each of those is a round trip to its server
// process: thousands per note, more than the note's own work. As on other
// systems, events share one lock; a thread that must sleep registers with the
// events it waits for, and setting an event wakes only those threads. A
// waiter first watches the flags for a short while, since a unit takes a few
// microseconds and a sleep and wake-up costs more.
namespace {
SRWLOCK event_lock = SRWLOCK_INIT;
std::atomic<int64_t> sleeps{0}, wakes{0};

struct Waiter {
    CONDITION_VARIABLE cv = CONDITION_VARIABLE_INIT;
};

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    YieldProcessor();
#endif
}

constexpr int spin_rounds_any = 50;
constexpr int spin_rounds_one = 200;
constexpr size_t waiters_max = MAXIMUM_WAIT_OBJECTS;

struct Locked {
    Locked() { AcquireSRWLockExclusive(&event_lock); }
    ~Locked() { ReleaseSRWLockExclusive(&event_lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};
}  // namespace

// The waiters are a fixed array: a worker that sleeps allocates nothing.
struct Event {
    std::atomic<bool> signalled{false};
    Waiter* waiters[waiters_max] = {};
    size_t count = 0;  // guarded by event_lock
};

struct Mutex {
    SRWLOCK lock = SRWLOCK_INIT;
};

Event* event_create(bool signalled) {
    Event* e = new (std::nothrow) Event;
    if (e) e->signalled.store(signalled);
    return e;
}

void event_set(Event* e) {
    if (!e) return;
    Locked g;
    e->signalled.store(true, std::memory_order_release);
    for (size_t i = 0; i < e->count; ++i) WakeConditionVariable(&e->waiters[i]->cv);
    wakes.fetch_add(int64_t(e->count), std::memory_order_relaxed);
}

void event_reset(Event* e) {
    if (!e) return;
    Locked g;
    e->signalled.store(false, std::memory_order_release);
}

namespace {
int first_signalled(Event* const* events, int count) {
    for (int i = 0; i < count; ++i)
        if (events[i]->signalled.load(std::memory_order_acquire)) return i;
    return -1;
}

bool add_waiter(Event* e, Waiter* w) {
    if (e->count >= waiters_max) return false;
    e->waiters[e->count++] = w;
    return true;
}

void remove_waiter(Event* e, Waiter* w) {
    for (size_t j = 0; j < e->count; ++j) {
        if (e->waiters[j] == w) {
            e->waiters[j] = e->waiters[--e->count];
            return;
        }
    }
}

// Waits (at most `ms` milliseconds; INFINITE: without end) for one of the
// events; the lowest signalled index, or -1 when the time ran out.
int wait_events(Event* const* events, int count, int spin_rounds, DWORD ms) {
    for (int round = 0; round < spin_rounds; ++round) {
        const int k = first_signalled(events, count);
        if (k >= 0) return k;
        cpu_relax();
    }
    const ULONGLONG limit = GetTickCount64() + ms;
    Waiter self;
    Locked g;
    for (;;) {
        const int k = first_signalled(events, count);
        if (k >= 0) return k;
        DWORD left = INFINITE;
        if (ms != INFINITE) {
            const ULONGLONG now = GetTickCount64();
            if (now >= limit) return -1;
            left = static_cast<DWORD>(limit - now);
        }
        bool heard = true;  // by every event; else the wait looks again each millisecond
        for (int i = 0; i < count; ++i) heard = add_waiter(events[i], &self) && heard;
        sleeps.fetch_add(1, std::memory_order_relaxed);
        SleepConditionVariableSRW(&self.cv, &event_lock, heard ? left : std::min<DWORD>(left, 1),
                                  0);
        for (int i = 0; i < count; ++i) remove_waiter(events[i], &self);
    }
}
}  // namespace

bool event_wait(Event* e) {
    if (!e) return false;
    Event* const one[1] = {e};
    return wait_events(one, 1, spin_rounds_one, INFINITE) == 0;
}

bool event_wait_ms(Event* e, int ms) {
    if (!e) return false;
    Event* const one[1] = {e};
    return wait_events(one, 1, 0, static_cast<DWORD>(ms < 0 ? 0 : ms)) == 0;
}

int wait_any(Event* const* events, int count) {
    if (!events || count <= 0 || count > MAXIMUM_WAIT_OBJECTS) return -1;
    for (int i = 0; i < count; ++i)
        if (!events[i]) return -1;
    return wait_events(events, count, spin_rounds_any, INFINITE);
}

void event_close(Event* e) { delete e; }

Mutex* mutex_create() { return new (std::nothrow) Mutex; }

void mutex_lock(Mutex* m) {
    if (m) AcquireSRWLockExclusive(&m->lock);
}

void mutex_unlock(Mutex* m) {
    if (m) ReleaseSRWLockExclusive(&m->lock);
}

void mutex_close(Mutex* m) { delete m; }

EventCounts event_counts() {
    EventCounts c;
    c.sleeps = sleeps.load(std::memory_order_relaxed);
    c.wakes = wakes.load(std::memory_order_relaxed);
    return c;
}

// The record outlives the thread: thread_join releases it after the wait, so the
// trampoline may read proc and arg at any time.
struct Thread {
    void (*proc)(void*);
    void* arg;
    HANDLE handle;
    Console* console;  // the starter's: the new thread speaks to it too
};

namespace {
unsigned __stdcall thread_entry(void* p) {
    Thread* t = static_cast<Thread*>(p);
    console_adopt(t->console);
    t->proc(t->arg);
    return 0;
}
}  // namespace

// _beginthreadex, not CreateThread, so that the C runtime sets up its per-thread state
// (errno, the strtok and rand state, the locale) for the new thread.
Thread* thread_start(void (*proc)(void*), void* arg) {
    if (!proc) return nullptr;
    Thread* t = new (std::nothrow) Thread{proc, arg, nullptr, console_current()};
    if (!t) return nullptr;
    const uintptr_t h = _beginthreadex(nullptr, 0, thread_entry, t, 0, nullptr);
    if (h == 0) {
        delete t;
        return nullptr;
    }
    t->handle = reinterpret_cast<HANDLE>(h);
    return t;
}

void thread_join(Thread* t) {
    if (!t) return;
    WaitForSingleObject(t->handle, INFINITE);
    CloseHandle(t->handle);
    delete t;
}

bool cpu_has_avx() {
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    return __builtin_cpu_supports("avx");
#else
    return false;
#endif
}

bool cpu_has_avx512f() {
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    return __builtin_cpu_supports("avx512f");  // also asks the system (XGETBV)
#else
    return false;
#endif
}

int processor_count() {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    return si.dwNumberOfProcessors > 0 ? static_cast<int>(si.dwNumberOfProcessors) : 1;
}

int64_t physical_memory() {
    MEMORYSTATUSEX m;
    m.dwLength = sizeof m;
    if (!GlobalMemoryStatusEx(&m)) return 0;
    return static_cast<int64_t>(m.ullTotalPhys);
}

// Windows maps fresh pages at their first use; nothing to do in bulk here.
bool memory_prefault(void* p, int64_t bytes) {
    (void)p;
    (void)bytes;
    return false;
}

int64_t perf_counter() {
    LARGE_INTEGER v;
    QueryPerformanceCounter(&v);
    return v.QuadPart;
}

int64_t perf_frequency() {
    LARGE_INTEGER v;
    QueryPerformanceFrequency(&v);
    return v.QuadPart;
}

FILE* file_open(const wchar_t* path, const wchar_t* mode) {
    if (!path || !mode) return nullptr;
    return _wfopen(path, mode);
}

namespace {

// The names Windows keeps for devices in every folder, with or without an
// extension: "nul", "con", "aux", "prn", "com1".."com9", "lpt1".."lpt9".
bool device_name(const wchar_t* path) {
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/' || *p == L':') name = p + 1;
    std::wstring base;
    for (const wchar_t* p = name; *p && *p != L'.'; ++p)
        base += (*p >= L'A' && *p <= L'Z') ? wchar_t(*p - L'A' + L'a') : *p;
    while (!base.empty() && (base.back() == L' ')) base.pop_back();
    if (base == L"nul" || base == L"con" || base == L"aux" || base == L"prn") return true;
    return base.size() == 4 &&
           (base.compare(0, 3, L"com") == 0 || base.compare(0, 3, L"lpt") == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

}  // namespace

// The 64-bit call by name: on the 32-bit build the plain _wstat has a 32-bit time_t.
bool file_status(const wchar_t* path, FileStatus* st) {
    if (!path || !st) return false;
    if (device_name(path)) {  // exists in every folder; _wstat64 may not say so
        *st = FileStatus{};
        st->exists = true;
        st->owner_write = true;
        return true;
    }
    struct _stat64 s;
    if (_wstat64(path, &s) != 0) {
        *st = FileStatus{};
        return false;
    }
    st->exists = true;
    st->mtime = static_cast<int64_t>(s.st_mtime);
    st->owner_write = (s.st_mode & _S_IWRITE) != 0;
    st->folder = (s.st_mode & _S_IFDIR) != 0;
    st->regular = (s.st_mode & _S_IFREG) != 0;
    return true;
}

int64_t file_size(FILE* f) {
    struct _stat64 s;
    if (!f || _fstat64(_fileno(f), &s) != 0 || (s.st_mode & _S_IFREG) == 0) return -1;
    return static_cast<int64_t>(s.st_size);
}

bool file_seek(FILE* f, int64_t offset) {
    return f && offset >= 0 && _fseeki64(f, offset, SEEK_SET) == 0;
}

int64_t file_tell(FILE* f) { return f ? static_cast<int64_t>(_ftelli64(f)) : -1; }

// _wrename refuses an existing target on Windows; MoveFileExW replaces it.
bool file_rename(const wchar_t* from, const wchar_t* to) {
    if (!from || !to) {
        errno = EINVAL;
        return false;
    }
    if (MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING) != 0) return true;
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            errno = ENOENT;
            break;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            errno = EACCES;
            break;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            errno = ENOSPC;
            break;
        case ERROR_NOT_SAME_DEVICE:
            errno = EXDEV;
            break;
        default:
            errno = EIO;
    }
    return false;
}

bool file_remove(const wchar_t* path) { return path && _wremove(path) == 0; }

int process_id() { return _getpid(); }

bool env_get(const wchar_t* name, std::wstring* value) {
    if (!name) return false;
    const wchar_t* v = _wgetenv(name);
    if (!v) return false;
    if (value) *value = v;
    return true;
}

void locale_from_environment() { _wsetlocale(LC_ALL, L""); }

struct Child {
    HANDLE process;
    FILE* out;
};

namespace {

// One argument as the C runtime's command-line parser will read it back:
// quoted when empty or holding white space or a quote; inside the quotes a
// run of backslashes is literal unless a quote follows it, where each
// backslash is doubled and the quote escaped, and a run at the end is
// doubled before the closing quote. The command interpreter is not involved,
// so '%', '^', '&' and the like are plain characters.
std::wstring quote_argument(const std::wstring& a) {
    if (!a.empty() && a.find_first_of(L" \t\n\v\"") == std::wstring::npos) return a;
    std::wstring q = L"\"";
    size_t backslashes = 0;
    for (wchar_t ch : a) {
        if (ch == L'\\') {
            ++backslashes;
            continue;
        }
        q.append(ch == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        q += ch;
    }
    q.append(2 * backslashes, L'\\');
    q += L'"';
    return q;
}

}  // namespace

// The decoder is started directly, with its standard output on an anonymous
// pipe and its standard input on NUL; only those two handles and standard
// error are meant for it.
Child* child_start(const std::vector<std::wstring>& argv) {
    if (argv.empty() || argv[0].empty()) return nullptr;
    std::wstring line;
    for (size_t i = 0; i < argv.size(); ++i) {
        if (argv[i].find(L'\0') != std::wstring::npos) return nullptr;
        if (i > 0) line += L' ';
        line += quote_argument(argv[i]);
    }
    SECURITY_ATTRIBUTES inherit;
    inherit.nLength = sizeof inherit;
    inherit.lpSecurityDescriptor = nullptr;
    inherit.bInheritHandle = TRUE;
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return nullptr;
    // Our end stays ours: a decoder holding it would never see the pipe close.
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul;
    si.hStdOutput = write_end;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    std::vector<wchar_t> cmd(line.begin(), line.end());
    cmd.push_back(L'\0');
    const BOOL started =
        nul != INVALID_HANDLE_VALUE &&
        CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(write_end);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (!started) {
        CloseHandle(read_end);
        return nullptr;
    }
    CloseHandle(pi.hThread);
    // Binary mode: a text-mode stream would end at the first 0x1A byte and
    // turn CR LF into LF inside the sample data.
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(read_end), _O_RDONLY | _O_BINARY);
    FILE* out = fd >= 0 ? _wfdopen(fd, L"rb") : nullptr;
    Child* c = out ? new (std::nothrow) Child{pi.hProcess, out} : nullptr;
    if (!c) {
        if (out)
            std::fclose(out);
        else if (fd >= 0)
            _close(fd);
        else
            CloseHandle(read_end);
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hProcess);
    }
    return c;
}

FILE* child_stdout(Child* c) { return c ? c->out : nullptr; }

int child_finish(Child* c, int wait_ms) {
    if (!c) return -1;
    if (c->out) std::fclose(c->out);
    int status = -1;
    if (WaitForSingleObject(c->process, wait_ms < 0 ? 0 : DWORD(wait_ms)) != WAIT_OBJECT_0) {
        TerminateProcess(c->process, 1);
        WaitForSingleObject(c->process, INFINITE);
    } else {
        DWORD code = 0;
        if (GetExitCodeProcess(c->process, &code)) status = static_cast<int>(code);
    }
    CloseHandle(c->process);
    delete c;
    return status;
}

bool file_set_mtime(const wchar_t* path, int64_t mtime) {
    if (!path) return false;
    HANDLE h = CreateFileW(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    // 100-nanosecond intervals since 1601.
    const uint64_t t = static_cast<uint64_t>(mtime + 11644473600LL) * 10000000ULL;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    const bool ok = SetFileTime(h, nullptr, nullptr, &ft) != 0;
    CloseHandle(h);
    return ok;
}

bool folder_list(const wchar_t* path, std::vector<FolderEntry>* entries) {
    if (!path || !entries) return false;
    entries->clear();
    std::wstring pattern = path;
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if (std::wcscmp(fd.cFileName, L".") == 0 || std::wcscmp(fd.cFileName, L"..") == 0) continue;
        FolderEntry fe;
        fe.name = fd.cFileName;
        fe.folder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entries->push_back(fe);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    std::sort(entries->begin(), entries->end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return true;
}

wchar_t path_separator() { return L'\\'; }

bool stream_is_terminal(FILE* stream) {
    if (!stream) return false;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

// The interruption flag and the temporary files a second interruption removes. The
// console handler runs on a thread of its own, so it may use any call.
namespace {
constexpr int temp_slots = 64;
constexpr int temp_path_chars = 1024;
std::atomic<int> interrupt_count{0};
std::atomic<bool> watching{false};        // only a program that watches keeps the registry
std::atomic<int> temp_state[temp_slots];  // 0 free, 1 being filled, 2 registered
wchar_t temp_paths[temp_slots][temp_path_chars];

BOOL WINAPI on_console_event(DWORD) {
    if (interrupt_count.fetch_add(1) == 0) return TRUE;
    for (int i = 0; i < temp_slots; ++i)
        if (temp_state[i].load() == 2) DeleteFileW(temp_paths[i]);
    ExitProcess(130);
    return TRUE;
}
}  // namespace

void interrupt_watch() {
    watching.store(true);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool interrupt_requested() { return interrupt_count.load() > 0; }

int temp_file_register(const wchar_t* path) {
    if (!path || !watching.load()) return -1;
    const size_t n = std::wcslen(path);
    if (n >= size_t(temp_path_chars)) return -1;
    for (int i = 0; i < temp_slots; ++i) {
        int expected = 0;
        if (!temp_state[i].compare_exchange_strong(expected, 1)) continue;
        std::wmemcpy(temp_paths[i], path, n + 1);
        temp_state[i].store(2);
        return i;
    }
    return -1;
}

void temp_file_forget(int slot) {
    if (slot >= 0 && slot < temp_slots) temp_state[slot].store(0);
}

void stdout_binary() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

// Windows has no broken-pipe signal: the write fails with EPIPE or EINVAL.
void broken_pipe_is_an_error() {}

}  // namespace velorin
