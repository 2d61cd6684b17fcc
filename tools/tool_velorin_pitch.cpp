// tools/tool_velorin_pitch.cpp: velorin-pitch, pitch-bend strings decoded to points and back.
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "pitch/curve.h"
#include "pitch/dispatch.h"
#include "pitch/plain.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "platform/wstrconv.h"

namespace {

using namespace velorin;

const char usage_text[] =
    "usage: velorin-pitch decode TEMPO STRING\n"
    "       velorin-pitch encode plain|enc|cmp|hff ORDER [POINT ...]\n"
    "       velorin-pitch --help\n";

const char help_text[] =
    "velorin-pitch decodes and encodes the pitch-bend strings of velorin.\n"
    "\n"
    "velorin-pitch decode TEMPO STRING\n"
    "  Reads STRING as velorin reads its last argument, with the form chosen by\n"
    "  the tempo argument TEMPO: without '*' (as in !120) the plain form, else\n"
    "  the codec and delta order after the '*' (as in !120*cmp2). Prints the\n"
    "  points in cents on one line; exit 1 when the string gives no curve.\n"
    "\n"
    "velorin-pitch encode FORM ORDER [POINT ...]\n"
    "  Writes the points (whole cents, -32768..32767; read from standard input\n"
    "  when none are given) in FORM: plain, enc, cmp or hff, with delta order\n"
    "  ORDER (ignored for plain). Prints the string on one line; exit 1 when\n"
    "  the form cannot carry the curve (for instance hff when every delta is\n"
    "  the same, or enc with an order of 5 or more).\n"
    "\n"
    "Messages of the codecs go to standard error. Bad usage exits with 2.\n";

int bad_usage(const char* problem) {
    say(stderr, "velorin-pitch: ");
    say(stderr, problem);
    say(stderr, "\n");
    say(stderr, usage_text);
    return 2;
}

// A whole token holding a decimal integer in lo..hi.
bool read_integer(const wchar_t* s, int32_t lo, int32_t hi, int32_t* value) {
    wchar_t* end = nullptr;
    const int32_t v = wcstol32(s, &end, 10);
    if (end == s || *end != 0 || v < lo || v > hi) return false;
    *value = v;
    return true;
}

std::vector<std::wstring> stdin_tokens() {
    std::string bytes;
    char buf[4096];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, stdin)) > 0) bytes.append(buf, got);
    std::vector<std::wstring> tokens;
    std::string token;
    for (const char c : bytes + " ") {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
            if (!token.empty()) tokens.push_back(widen_text(token.c_str()));
            token.clear();
        } else {
            token += c;
        }
    }
    return tokens;
}

int decode_command(const wchar_t* tempo, const wchar_t* text) {
    int variant = 0;
    int order = 0;
    console_keep_stdout_clean(true);  // codec messages to standard error
    int16_t* curve = select_pitch_form(tempo, &variant, &order) ? decpitch(text, order, variant)
                                                                : decplain(text);
    console_keep_stdout_clean(false);
    if (!curve) return 1;
    std::string line;
    for (int k = 1; k <= curve[0]; ++k) {
        if (k > 1) line += ' ';
        line += std::to_string(curve[k]);
    }
    free_pitch_curve(curve);
    say(stdout, (line + "\n").c_str());
    return 0;
}

int encode_command(const wchar_t* form, const wchar_t* order_arg, std::vector<std::wstring> args) {
    int variant = 0;
    if (std::wcscmp(form, L"plain") == 0) {
        variant = 0;
    } else if (std::wcscmp(form, L"enc") == 0) {
        variant = 1;
    } else if (std::wcscmp(form, L"cmp") == 0) {
        variant = 2;
    } else if (std::wcscmp(form, L"hff") == 0) {
        variant = 3;
    } else {
        return bad_usage("FORM is one of plain, enc, cmp, hff");
    }
    int32_t order = 0;
    if (!read_integer(order_arg, INT32_MIN, INT32_MAX, &order))
        return bad_usage("ORDER is a whole number");
    if (args.empty()) args = stdin_tokens();
    if (args.size() > 32767) return bad_usage("at most 32767 points");
    std::vector<int16_t> curve(args.size() + 1);
    curve[0] = static_cast<int16_t>(args.size());
    for (size_t i = 0; i < args.size(); ++i) {
        int32_t v = 0;
        if (!read_integer(args[i].c_str(), -32768, 32767, &v))
            return bad_usage("a POINT is a whole number of cents in -32768..32767");
        curve[i + 1] = static_cast<int16_t>(v);
    }
    console_keep_stdout_clean(true);
    wchar_t* text = variant == 0 ? encplain(curve.data()) : encpitch(curve.data(), order, variant);
    console_keep_stdout_clean(false);
    if (!text) return 1;
    say(stdout, (narrow_text(text) + "\n").c_str());
    free_pitch_text(text);
    return 0;
}

int pitch_tool_main(int argc, wchar_t** argv) {
    locale_from_environment();
    if (argc == 2 && std::wcscmp(argv[1], L"--help") == 0) {
        say(stdout, help_text);
        return 0;
    }
    if (argc == 4 && std::wcscmp(argv[1], L"decode") == 0) return decode_command(argv[2], argv[3]);
    if (argc >= 4 && std::wcscmp(argv[1], L"encode") == 0)
        return encode_command(argv[2], argv[3], std::vector<std::wstring>(argv + 4, argv + argc));
    return bad_usage("unknown command or wrong number of arguments");
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return pitch_tool_main(argc, argv); }
#else
int main(int argc, char** argv) {
    return velorin::main_with_wide_args(argc, argv, pitch_tool_main);
}
#endif
