// platform/platform_win32.cpp: the operating-system services on Windows, through Win32 and
// the C runtime directly.
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

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

int64_t physical_memory() {
    MEMORYSTATUSEX m;
    m.dwLength = sizeof m;
    if (!GlobalMemoryStatusEx(&m)) return 0;
    return static_cast<int64_t>(m.ullTotalPhys);
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
    return base.size() == 4 && (base.compare(0, 3, L"com") == 0 || base.compare(0, 3, L"lpt") == 0) &&
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
    st->regular = (s.st_mode & _S_IFREG) != 0;
    return true;
}

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
    const BOOL started = nul != INVALID_HANDLE_VALUE &&
                         CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &si, &pi);
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

void stdout_binary() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

// Windows has no broken-pipe signal: the write fails with EPIPE or EINVAL.
void broken_pipe_is_an_error() {}

// UTF-8 and UTF-16, with the same escape for stray bytes as on POSIX (a byte that is not
// valid UTF-8 travels as the wide character 0xDC00 + byte), so texts round-trip alike on
// both systems. Four-byte sequences become surrogate pairs here.
std::string narrow_text(const wchar_t* text) {
    std::string out;
    if (!text) return out;
    for (const wchar_t* p = text; *p; ++p) {
        uint32_t c = static_cast<uint16_t>(*p);
        const uint32_t next = static_cast<uint16_t>(p[1]);
        if (c >= 0xD800 && c <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            ++p;
        }
        if (c >= 0xDC80 && c <= 0xDCFF) {
            out += static_cast<char>(c - 0xDC00);
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | ((c >> 18) & 0x07));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::wstring widen_text(const char* text) {
    std::wstring out;
    if (!text) return out;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        const unsigned char b = *p;
        const int len = b < 0x80          ? 1
                        : (b >> 5) == 6   ? 2
                        : (b >> 4) == 14  ? 3
                        : (b >> 3) == 30  ? 4
                                          : 0;
        uint32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = len > 0;
        for (int i = 1; ok && i < len; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                ok = false;
            else
                c = (c << 6) | (p[i] & 0x3F);
        }
        // Overlong forms, surrogates and values past Unicode are escaped byte by byte, so
        // that narrowing gives back exactly the bytes read.
        if (ok && ((len == 2 && c < 0x80) || (len == 3 && c < 0x800) ||
                   (len == 4 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c <= 0xDFFF)))
            ok = false;
        if (!ok) {
            out += static_cast<wchar_t>(0xDC00 + b);
            ++p;
            continue;
        }
        if (c >= 0x10000) {
            out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<wchar_t>(c);
        }
        p += len;
    }
    return out;
}

}  // namespace velorin
