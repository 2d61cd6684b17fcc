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
Console process_console;
thread_local Console* thread_console = nullptr;

// Every text goes out through here: to the console's sink, or to the stream.
void emit(Console* c, FILE* stream, const char* bytes, size_t size) {
    if (stream == stdout && c->keep_stdout_clean.load()) stream = stderr;
    if (c->sink) {
        c->sink(c->context, stream, bytes, size);
        return;
    }
    std::fwrite(bytes, 1, size, stream);
    std::fflush(stream);
}
}  // namespace

Console* console_current() { return thread_console ? thread_console : &process_console; }

Console* console_adopt(Console* console) {
    Console* before = thread_console;
    thread_console = console;
    return before;
}

void console_keep_stdout_clean(bool on) { console_current()->keep_stdout_clean.store(on); }
bool console_stdout_is_clean() { return console_current()->keep_stdout_clean.load(); }

void console_mute(bool on) { console_current()->muted.store(on); }

void tell(FILE* stream, const char* text) {
    if (text) emit(console_current(), stream, text, std::strlen(text));
}

void say(FILE* stream, const char* text) {
    Console* c = console_current();
    if (text && !c->muted.load()) emit(c, stream, text, std::strlen(text));
}

void sayf(FILE* stream, const char* format, ...) {
    Console* c = console_current();
    if (c->muted.load()) return;
    char small[512];
    va_list ap;
    va_start(ap, format);
    const int n = std::vsnprintf(small, sizeof small, format, ap);
    va_end(ap);
    if (n < 0) return;
    if (size_t(n) < sizeof small) {
        emit(c, stream, small, size_t(n));
        return;
    }
    std::vector<char> big(size_t(n) + 1);
    va_start(ap, format);
    std::vsnprintf(big.data(), big.size(), format, ap);
    va_end(ap);
    emit(c, stream, big.data(), size_t(n));
}

void say_wide(FILE* stream, const wchar_t* text) {
    if (!text || console_current()->muted.load()) return;
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
    emit(console_current(), stream, bytes.data(), bytes.size());
}

void say_widef(FILE* stream, const wchar_t* format, ...) {
    if (console_current()->muted.load()) return;
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
