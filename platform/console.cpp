// platform/console.cpp: narrow and wide console text.
#include "platform/console.h"

#include <atomic>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace velorin {

namespace {
std::atomic<bool> keep_stdout_clean{false};
std::atomic<bool> muted{false};

FILE* target(FILE* stream) {
    if (stream == stdout && keep_stdout_clean.load()) return stderr;
    return stream;
}
}  // namespace

void console_keep_stdout_clean(bool on) { keep_stdout_clean.store(on); }
bool console_stdout_is_clean() { return keep_stdout_clean.load(); }

void console_mute(bool on) { muted.store(on); }

void tell(FILE* stream, const char* text) {
    if (!text) return;
    FILE* out = target(stream);
    std::fputs(text, out);
    std::fflush(out);
}

void say(FILE* stream, const char* text) {
    if (!text || muted.load()) return;
    FILE* out = target(stream);
    std::fputs(text, out);
    std::fflush(out);
}

void sayf(FILE* stream, const char* format, ...) {
    if (muted.load()) return;
    FILE* out = target(stream);
    va_list ap;
    va_start(ap, format);
    std::vfprintf(out, format, ap);
    va_end(ap);
    std::fflush(out);
}

void say_wide(FILE* stream, const wchar_t* text) {
    if (!text || muted.load()) return;
    tell_wide(stream, text);
}

void tell_wide(FILE* stream, const wchar_t* text) {
    if (!text) return;
    std::string bytes;
    std::mbstate_t state{};
    char buf[MB_LEN_MAX];
    for (const wchar_t* p = text; *p; ++p) {
        size_t n = std::wcrtomb(buf, *p, &state);
        if (n == static_cast<size_t>(-1)) {
            state = std::mbstate_t{};
            bytes += '?';
        } else {
            bytes.append(buf, n);
        }
    }
    FILE* out = target(stream);
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fflush(out);
}

void say_widef(FILE* stream, const wchar_t* format, ...) {
    if (muted.load()) return;
    std::vector<wchar_t> buf(512);
    for (;;) {
        va_list ap;
        va_start(ap, format);
        int n = std::vswprintf(buf.data(), buf.size(), format, ap);
        va_end(ap);
        if (n >= 0) break;
        if (buf.size() > (1u << 20)) return;  // a broken format, not a long text
        buf.resize(buf.size() * 4);
    }
    say_wide(stream, buf.data());
}

}  // namespace velorin
