// fuzz/fuzz_render.cpp: a whole render of a small WAV file with arbitrary
// arguments: short notes, one worker.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/params.h"
#include "driver/render.h"
#include "fuzz/fuzz_support.h"
#include "platform/platform.h"

using namespace velorin;

namespace {

// A folder of this process's own for the sample, its list and the note,
// removed at exit. Plain characters: it must outlive every destructor.
char work_path[4096];

void remove_work_dir() {
    for (const char* name : {"/in.wav", "/in_wav.frq", "/out.wav"})
        std::remove((std::string(work_path) + name).c_str());
    rmdir(work_path);
}

std::string work_dir() {
    if (!work_path[0]) {
        const char* base = std::getenv("TMPDIR");
        const std::string t = std::string(base && *base ? base : "/tmp") + "/velorin-fuzz-XXXXXX";
        if (t.size() >= sizeof work_path) std::abort();
        std::copy(t.begin(), t.end(), work_path);
        if (!mkdtemp(work_path)) std::abort();
        std::atexit(remove_work_dir);
    }
    return work_path;
}

}  // namespace

// Input: arguments 3 to 13 (pitch to pitch-bend string), one per line, a
// zero byte, then the bytes of the input sample.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384) return 0;
    size_t at = 0;
    std::vector<std::wstring> args = split_lines(data, size, &at);
    const uint8_t* wav = data + at;
    const size_t wav_size = size - at;
    // Every claim of the sample stays near what the input holds.
    if (claims_over(wav, wav_size, "data", 32768, false)) return 0;
    // The render reads the sample through a kernel as wide as the rate ratio:
    // a header claiming gigahertz makes each output sample cost that much.
    for (size_t i = 0; i + 16 <= wav_size; ++i)
        if (std::memcmp(wav + i, "fmt ", 4) == 0 && le_u32(wav + i + 12) > 400000) return 0;

    const std::string in = work_dir() + "/in.wav";
    const std::string list = work_dir() + "/in_wav.frq";
    const std::string out = work_dir() + "/out.wav";
    std::remove(list.c_str());
    std::remove(out.c_str());
    FILE* f = std::fopen(in.c_str(), "wb");
    if (!f) std::abort();
    if (wav_size > 0 && std::fwrite(wav, 1, wav_size, f) != wav_size) std::abort();
    std::fclose(f);

    args.insert(args.begin(), {L"velorin", widen_text(in.c_str()), widen_text(out.c_str())});
    if (args.size() > 14) args.resize(14);
    std::vector<wchar_t*> argv;
    for (std::wstring& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    RenderParams p;
    if (parse_invocation(static_cast<int>(args.size()), argv.data(), &p) != 0) return 0;
    // A short note on one worker keeps each input to milliseconds.
    if (p.outlen > 4096) p.outlen = 256 + p.outlen % 3841;
    p.thread_request = 1;
    render_note(p);
    return 0;
}
