// platform/platform_win32.cpp: the operating-system services on Windows, through Win32 and
// the C runtime directly.
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

#include <clocale>
#include <cstdlib>
#include <cwchar>
#include <new>

#include "platform/platform.h"

namespace velorin {

// Event and Mutex are never defined: their pointers are the Win32 handles themselves.
namespace {
HANDLE handle_of(Event* e) { return reinterpret_cast<HANDLE>(e); }
HANDLE handle_of(Mutex* m) { return reinterpret_cast<HANDLE>(m); }
}  // namespace

Event* event_create(bool signalled) {
    return reinterpret_cast<Event*>(CreateEventW(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr));
}

void event_set(Event* e) {
    if (e) SetEvent(handle_of(e));
}

void event_reset(Event* e) {
    if (e) ResetEvent(handle_of(e));
}

bool event_wait(Event* e) {
    return e && WaitForSingleObject(handle_of(e), INFINITE) == WAIT_OBJECT_0;
}

// WaitForMultipleObjects reports the smallest index among the signalled objects, which is
// the "lowest signalled index" that callers rely on.
int wait_any(Event* const* events, int count) {
    if (!events || count <= 0 || count > MAXIMUM_WAIT_OBJECTS) return -1;
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    for (int i = 0; i < count; ++i) {
        if (!events[i]) return -1;
        handles[i] = handle_of(events[i]);
    }
    const DWORD r = WaitForMultipleObjects(static_cast<DWORD>(count), handles, FALSE, INFINITE);
    if (r >= WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + static_cast<DWORD>(count))
        return static_cast<int>(r - WAIT_OBJECT_0);
    return -1;
}

void event_close(Event* e) {
    if (e) CloseHandle(handle_of(e));
}

Mutex* mutex_create() { return reinterpret_cast<Mutex*>(CreateMutexW(nullptr, FALSE, nullptr)); }

void mutex_lock(Mutex* m) {
    if (m) WaitForSingleObject(handle_of(m), INFINITE);
}

void mutex_unlock(Mutex* m) {
    if (m) ReleaseMutex(handle_of(m));
}

void mutex_close(Mutex* m) {
    if (m) CloseHandle(handle_of(m));
}

// The record outlives the thread: thread_join releases it after the wait, so the
// trampoline may read proc and arg at any time.
struct Thread {
    void (*proc)(void*);
    void* arg;
    HANDLE handle;
};

namespace {
unsigned __stdcall thread_entry(void* p) {
    Thread* t = static_cast<Thread*>(p);
    t->proc(t->arg);
    return 0;
}
}  // namespace

// _beginthreadex, not CreateThread, so that the C runtime sets up its per-thread state
// (errno, the strtok and rand state, the locale) for the new thread.
Thread* thread_start(void (*proc)(void*), void* arg) {
    if (!proc) return nullptr;
    Thread* t = new (std::nothrow) Thread{proc, arg, nullptr};
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

int processor_count() {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    return si.dwNumberOfProcessors > 0 ? static_cast<int>(si.dwNumberOfProcessors) : 1;
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

// The 64-bit call by name: on the 32-bit build the plain _wstat has a 32-bit time_t.
bool file_status(const wchar_t* path, FileStatus* st) {
    if (!path || !st) return false;
    struct _stat64 s;
    if (_wstat64(path, &s) != 0) {
        *st = FileStatus{};
        return false;
    }
    st->exists = true;
    st->mtime = static_cast<int64_t>(s.st_mtime);
    st->owner_write = (s.st_mode & _S_IWRITE) != 0;
    return true;
}

// _wrename refuses an existing target on Windows; MoveFileExW replaces it.
bool file_rename(const wchar_t* from, const wchar_t* to) {
    if (!from || !to) return false;
    return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
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
    FILE* out;
};

// The command interpreter receives "\"a\" \"b\" ..." wrapped in one more pair of quotes:
// with more than two quotes on its line it strips the first and the last, and the inner
// quotes survive. An argument that holds a quote itself could end its quoting early, so
// it is refused rather than escaped (the interpreter knows no escape for it).
Child* child_start(const std::vector<std::wstring>& argv) {
    if (argv.empty() || argv[0].empty()) return nullptr;
    std::wstring line = L"\"";
    for (size_t i = 0; i < argv.size(); ++i) {
        if (argv[i].find(L'"') != std::wstring::npos) return nullptr;
        if (i > 0) line += L' ';
        line += L'"';
        line += argv[i];
        line += L'"';
    }
    line += L'"';
    // Binary mode: a text-mode pipe would end the stream at the first 0x1A byte and turn
    // CR LF into LF inside the sample data.
    FILE* out = _wpopen(line.c_str(), L"rb");
    if (!out) return nullptr;
    Child* c = new (std::nothrow) Child{out};
    if (!c) _pclose(out);
    return c;
}

FILE* child_stdout(Child* c) { return c ? c->out : nullptr; }

// _pclose waits for the command interpreter, and so for the decoder, without a time limit:
// the C runtime's pipe gives no handle to the process to end it by force, so wait_ms has
// no effect here.
int child_finish(Child* c, int wait_ms) {
    (void)wait_ms;
    if (!c) return -1;
    const int status = c->out ? _pclose(c->out) : -1;
    delete c;
    return status;
}

void stdout_binary() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace velorin
