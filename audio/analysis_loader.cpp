// audio/analysis_loader.cpp: the choice of reader for the pitch analysis.
#include "audio/analysis_loader.h"

#include <string>
#include <vector>

#include "audio/aiff.h"
#include "audio/decoder_pipe.h"

namespace velorin {

uint8_t* read_for_analysis(const wchar_t* path, int appended, WavFormat* fmt, int64_t* data_size) {
    *fmt = WavFormat{};
    *data_size = 0;
    if (!path) return nullptr;
    const std::wstring ext = lower_extension(path);
    if (ext == L".wav") return read_wav_raw(path, appended, fmt, data_size);
    if (ext == L".aif" || ext == L".aiff") return read_aiff_raw(path, appended, fmt, data_size);
    return read_decoded(path, appended, fmt, data_size);
}

bool analysis_reads(const wchar_t* path) {
    if (!path) return false;
    const std::wstring ext = lower_extension(path);
    if (ext == L".wav" || ext == L".aif" || ext == L".aiff") return true;
    std::vector<std::wstring> argv;
    return decoder_command(path, &argv);
}

}  // namespace velorin
