// tests/support/win_posix_shim.h: the few POSIX calls the tests use, for the Windows builds.
//
// Force-included into every test source of a Windows build (tests/CMakeLists.txt), so the
// tests themselves stay free of system conditionals. Nothing here exists on POSIX systems.
#pragma once

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/utime.h>

// An empty value removes the variable on Windows; the tests never set one.
inline int setenv(const char* name, const char* value, int overwrite) {
    if (!overwrite && getenv(name)) return 0;
    return _putenv_s(name, value) == 0 ? 0 : -1;
}

inline int unsetenv(const char* name) { return _putenv_s(name, "") == 0 ? 0 : -1; }

// The tests fill a timeval from a time_t. The Windows one holds the seconds in a 32-bit
// long, which would narrow them, so the tests get one with 64-bit seconds by that name.
struct velorin_timeval {
    long long tv_sec;
    long tv_usec;
};
#define timeval velorin_timeval

// Pipes as the C runtime has them; no symbolic links (the tests that need one
// skip).
inline int pipe(int fds[2]) { return _pipe(fds, 65536, _O_BINARY); }
inline int symlink(const char*, const char*) { return -1; }

// Whole seconds only, as the file status reports them.
inline int utimes(const char* path, const struct timeval tv[2]) {
    struct __utimbuf64 t;
    t.actime = tv[0].tv_sec;
    t.modtime = tv[1].tv_sec;
    return _utime64(path, &t);
}
#endif
