// platform/console.h: all console output of velorin.
//
// Narrow text goes out as it is; wide text is converted through the user's
// locale (set while the command line is parsed) and written as bytes, so the
// standard streams never change orientation and narrow and wide text may mix.
// A wide character the locale cannot express is written as '?'.
#pragma once

#include <cstdio>

namespace velorin {

void say(FILE* stream, const char* text);
void sayf(FILE* stream, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void say_wide(FILE* stream, const wchar_t* text);
// Wide printf: mind "%ls" for wide strings.
void say_widef(FILE* stream, const wchar_t* format, ...);

// While set, everything said on standard output goes to standard error
// instead. The driver sets it when the WAV stream itself goes to standard
// output, so that no message can corrupt the stream. Set on the main thread
// before any worker starts.
void console_keep_stdout_clean(bool on);
bool console_stdout_is_clean();

// While set, say, sayf, say_wide and say_widef write nothing: a tool that runs
// the libraries mutes their messages and progress lines and writes its own
// through tell and tell_wide, which always write.
void console_mute(bool on);
void tell(FILE* stream, const char* text);
void tell_wide(FILE* stream, const wchar_t* text);

}  // namespace velorin
