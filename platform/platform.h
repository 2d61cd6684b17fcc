// platform/platform.h: the operating-system services velorin uses.
//
// One header, one implementation per system (POSIX and Win32), chosen at
// compile time. Nothing here prints or decides: messages, retries and
// fallbacks belong to the caller. Paths are wide strings everywhere.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace velorin {

struct Event;  // manual-reset event
struct Mutex;
struct Thread;
struct Child;  // a started decoder process

// --- Events and waiting -------------------------------------------------
Event* event_create(bool signalled);  // null on failure
void event_set(Event* e);
void event_reset(Event* e);
bool event_wait(Event* e);  // waits without time-out; false on failure
// Waits at most `ms` milliseconds; true when the event is signalled.
bool event_wait_ms(Event* e, int ms);
// Waits until one of the events is signalled and returns the lowest
// signalled index; -1 on failure (bad arguments or a failed system call).
int wait_any(Event* const* events, int count);
void event_close(Event* e);  // null is ignored
// Events and mutexes are the process's own on every system: setting,
// resetting, locking and unlocking enter the kernel only where a thread must
// sleep or be woken. Counted since the process started, for the tests: waits
// that went to sleep (the event was not set within the short watch before)
// and the sleeping threads that event_set woke.
struct EventCounts {
    int64_t sleeps = 0;
    int64_t wakes = 0;
};
EventCounts event_counts();

// --- Mutexes ------------------------------------------------------------
Mutex* mutex_create();      // null on failure
void mutex_lock(Mutex* m);  // null is ignored
void mutex_unlock(Mutex* m);
void mutex_close(Mutex* m);  // null is ignored

// --- Threads ------------------------------------------------------------
// Starts proc(arg) on a new thread through the C runtime's thread start.
// Null when the thread cannot be started.
Thread* thread_start(void (*proc)(void*), void* arg);
void thread_join(Thread* t);  // waits for the end, then releases the handle

int processor_count();  // at least 1

// True when the processor and the system both support AVX (256-bit double
// lanes). On Linux this asks what the C runtime found at start, so the
// process does not query the processor again (each query is slow in a
// virtual machine).
bool cpu_has_avx();
// AVX-512F, with the system saving its registers.
bool cpu_has_avx512f();

// The machine's installed memory in bytes; 0 when the system does not say.
int64_t physical_memory();

// Maps the pages of bytes at p (memory of this process, already allocated)
// for writing in one call, as the first write to each would, without changing
// what they hold: one call instead of a fault per page. False when the system
// offers no such call (the pages are then mapped by their first use). A
// buffer of 8 MiB or more is also offered huge pages where the system gives
// them on request.
bool memory_prefault(void* p, int64_t bytes);

// --- Time -----------------------------------------------------------------
int64_t perf_counter();    // high-resolution counter reading
int64_t perf_frequency();  // counts per second

// --- Files ----------------------------------------------------------------
struct FileStatus {
    bool exists = false;
    int64_t mtime = 0;  // seconds since the epoch
    bool owner_write = false;
    bool folder = false;  // a directory rather than a file
    // A plain file (not a folder, a device such as "nul" or /dev/null, or a
    // pipe): only a plain file may be replaced by renaming another over it.
    bool regular = false;
};

// fopen with a wide path and a wide mode ("rb", "wb", ...).
FILE* file_open(const wchar_t* path, const wchar_t* mode);
// False when the status cannot be read (the file does not exist, among others).
bool file_status(const wchar_t* path, FileStatus* st);
// The size in bytes of the plain file open as `f`, or -1 when it is not a
// plain file (a pipe, a device) or the system does not say. 64-bit sizes and
// positions on every build.
int64_t file_size(FILE* f);
// Moves `f` to byte `offset` from its start. False when the stream cannot
// seek (a pipe) or the offset is negative.
bool file_seek(FILE* f, int64_t offset);
// The position of `f` in bytes from its start, or -1 when it has none.
int64_t file_tell(FILE* f);
// Moves `from` over `to`, replacing it in one step. False on failure, with
// errno telling why (on Windows too).
bool file_rename(const wchar_t* from, const wchar_t* to);
bool file_remove(const wchar_t* path);
int process_id();
// Sets a file's modification time (seconds since the epoch). False on failure.
bool file_set_mtime(const wchar_t* path, int64_t mtime);

// --- Folders ----------------------------------------------------------------
struct FolderEntry {
    std::wstring name;  // without the folder
    bool folder = false;
};
// The entries of a folder without "." and "..", sorted by name (code point
// order). False when the folder cannot be read.
bool folder_list(const wchar_t* path, std::vector<FolderEntry>* entries);
// The separator a path is joined with ('/' on POSIX, '\\' on Windows).
wchar_t path_separator();

// --- Terminal and interruption ----------------------------------------------
// True when the stream is an interactive terminal (console on Windows).
bool stream_is_terminal(FILE* stream);
// From the first call on, an interruption (Ctrl-C, Ctrl-Break, SIGTERM, the
// console closing) no longer ends the process: it sets a flag the program
// polls with interrupt_requested() to stop cleanly. A second interruption
// removes the registered temporary files and ends the process (exit code 130).
void interrupt_watch();
bool interrupt_requested();
// Registers a temporary file to be removed when the process is ended by a
// second interruption; returns a slot for temp_file_forget, or -1 when every
// slot is taken or the path is too long (the file is then simply not known).
// The registry is the program's: before interrupt_watch, and so in a process
// that never watches (one that uses the library), nothing is registered.
int temp_file_register(const wchar_t* path);
void temp_file_forget(int slot);  // -1 is ignored

// --- Environment and locale -------------------------------------------------
// True and the value when the variable is set (even to an empty text).
bool env_get(const wchar_t* name, std::wstring* value);
// Switches every locale category to the user's default (setlocale(LC_ALL, "")).
void locale_from_environment();

// --- Decoder processes ----------------------------------------------------
// Starts a decoder with its standard output on a pipe. POSIX: exec of argv[0]
// with this argument vector, no shell in between, so no character of an
// argument has a meaning of its own. Windows: the template's command line,
// CreateProcessW with the argument vector quoted by the C runtime's rules (no
// command interpreter in between) and standard input from NUL. Null when it
// cannot start.
Child* child_start(const std::vector<std::wstring>& argv);
FILE* child_stdout(Child* c);  // binary stream of the child's standard output
// Closes the pipe, waits up to wait_ms for the child to end, then ends it by
// force; always reaps it and releases `c`. Returns the exit status, or -1.
int child_finish(Child* c, int wait_ms);

// --- Standard streams -------------------------------------------------------
void stdout_binary();  // binary mode on standard output (WAV to "-")
// A write to a pipe whose reader is gone fails (errno EPIPE) instead of
// ending the process by a signal. Started decoders still get the default.
void broken_pipe_is_an_error();

// Paths and arguments between the system's bytes and our wide strings. POSIX:
// UTF-8, whatever the locale; a byte that is not valid UTF-8 travels as the
// wide character 0xDC00 + byte and comes back unchanged, so every path given
// on the command line round-trips. Windows: the system is wide already; the
// same conversion (with surrogate pairs) serves texts that arrive as bytes.
std::string narrow_text(const wchar_t* text);
std::wstring widen_text(const char* text);

// A POSIX entry point's arguments through widen_text, handed to wide_main;
// returns its result.
int main_with_wide_args(int argc, char** argv, int (*wide_main)(int, wchar_t**));

}  // namespace velorin
