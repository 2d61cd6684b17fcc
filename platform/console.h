// platform/console.h: all console output of velorin.
//
// Narrow text goes out as it is; wide text is converted through the user's
// locale (set while the command line is parsed) and written as bytes, so the
// standard streams never change orientation and narrow and wide text may mix.
// A wide character the locale cannot express is written as '?'.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>

namespace velorin {

// Where the text said goes. The process has one console, the standard streams; a
// call made on someone else's behalf (the library's calls) gives its thread a console
// of its own for the time of the call (ConsoleScope), and every thread that thread
// starts (thread_start) speaks to that console too. The settings below belong to the
// console, so two calls at once never see each other's.
struct Console {
    // Null: the standard streams. Otherwise every text goes here instead, as bytes, with
    // the stream it was meant for; called from any of the call's threads, so the sink
    // does its own locking.
    void (*sink)(void* context, FILE* stream, const char* bytes, size_t size) = nullptr;
    void* context = nullptr;
    std::atomic<bool> keep_stdout_clean{false};
    std::atomic<bool> muted{false};
};

// The console of the calling thread: the one its ConsoleScope or its starter gave it,
// else the process's.
Console* console_current();
// Makes `console` (null: the process's) the calling thread's; returns the one before.
Console* console_adopt(Console* console);

class ConsoleScope {
   public:
    explicit ConsoleScope(Console* console) : before_(console_adopt(console)) {}
    ~ConsoleScope() { console_adopt(before_); }
    ConsoleScope(const ConsoleScope&) = delete;
    ConsoleScope& operator=(const ConsoleScope&) = delete;

   private:
    Console* before_;
};

void say(FILE* stream, const char* text);
void sayf(FILE* stream, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void say_wide(FILE* stream, const wchar_t* text);
// Wide printf: mind "%ls" for wide strings.
void say_widef(FILE* stream, const wchar_t* format, ...);

// The settings of the calling thread's console. While set, everything said on
// standard output goes to standard error instead. The driver sets it when the
// WAV stream itself goes to standard output, so that no message can corrupt the
// stream. Set before any worker starts.
void console_keep_stdout_clean(bool on);
bool console_stdout_is_clean();

// While set, say, sayf, say_wide and say_widef write nothing: a tool that runs
// the libraries mutes their messages and progress lines and writes its own
// through tell and tell_wide, which always write.
void console_mute(bool on);
void tell(FILE* stream, const char* text);
void tell_wide(FILE* stream, const wchar_t* text);

}  // namespace velorin
