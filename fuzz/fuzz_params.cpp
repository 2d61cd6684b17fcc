// fuzz/fuzz_params.cpp: the command-line parser on arbitrary argument vectors.
#include <cmath>
#include <vector>

#include "driver/params.h"
#include "fuzz/fuzz_support.h"

using namespace velorin;

// Input: one argument per line, the program name not included.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::wstring> args = split_lines(data, size, nullptr);
    args.insert(args.begin(), L"velorin");
    std::vector<wchar_t*> argv;
    for (std::wstring& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    RenderParams p;
    const int code = parse_invocation(static_cast<int>(args.size()), argv.data(), &p);
    if (code != 0 && code != 99) __builtin_trap();
    if (code == 0) {
        if (p.pitch_count < 0 ||
            (p.pitch_count > 0 && p.pitch_freq.size() != size_t(p.pitch_count) + 1))
            __builtin_trap();
        if (p.volume < 0 || p.volume > 2) __builtin_trap();
    }
    return 0;
}
