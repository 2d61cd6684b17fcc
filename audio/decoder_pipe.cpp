// audio/decoder_pipe.cpp: the decoder table and the reader of a decoder's
// WAV stream.
#include "audio/decoder_pipe.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "audio/byte_source.h"
#include "audio/bytes.h"
#include "audio/grow_buffer.h"
#include "platform/console.h"
#include "platform/mem.h"
#include "platform/platform.h"

namespace velorin {

namespace {

// One row per decoder, searched in order. The arguments are the command
// template's parts: the decoder, the options before the sample path, the
// path as one argument, the options after it. Passing them as a vector, not
// as one command line, lets no character of a file name act as syntax.
struct DecoderRow {
    const wchar_t* extension;
    const wchar_t* variable;
    const wchar_t* before[2];
    const wchar_t* after[2];
};

const DecoderRow decoder_table[] = {
    {L".flac", L"flacpath", {L"--decode", L"--stdout"}, {nullptr, nullptr}},
    {L".mp3", L"lamepath", {L"--decode", L"--mp3input"}, {L"-", nullptr}},
    {L".ogg", L"oggdecpath", {L"--stdout", nullptr}, {nullptr, nullptr}},
    {L".aac", L"faadpath", {L"-w", nullptr}, {nullptr, nullptr}},
    {L".m4a", L"faadpath", {L"-w", nullptr}, {nullptr, nullptr}},
    {L".aac", L"nerodecpath", {L"-if", nullptr}, {L"-of", L"-"}},
    {L".m4a", L"nerodecpath", {L"-if", nullptr}, {L"-of", L"-"}},
};

}  // namespace

std::wstring lower_extension(const wchar_t* path) {
    std::wstring ext;
    const wchar_t* dot = path ? std::wcsrchr(path, L'.') : nullptr;
    if (!dot) return ext;
    for (const wchar_t* p = dot; *p; ++p)
        ext += (*p >= L'A' && *p <= L'Z') ? wchar_t(*p - L'A' + L'a') : *p;
    return ext;
}

bool decoder_command(const wchar_t* path, std::vector<std::wstring>* argv) {
    if (!path) return false;
    const std::wstring ext = lower_extension(path);
    if (ext.empty()) return false;
    for (const DecoderRow& row : decoder_table) {
        std::wstring program;
        if (ext != row.extension || !env_get(row.variable, &program)) continue;
        argv->clear();
        argv->push_back(program);
        for (const wchar_t* a : row.before)
            if (a) argv->push_back(a);
        argv->push_back(path);
        for (const wchar_t* a : row.after)
            if (a) argv->push_back(a);
        return true;
    }
    return false;
}

uint8_t* decoder_stream_from(ByteSource& src, int appended, WavFormat* fmt, int64_t* data_size) {
    *fmt = WavFormat{};
    *data_size = 0;
    if (appended < 0) appended = 0;
    uint8_t head[44];
    if (source_read(src, head, sizeof head) != sizeof head || !same_id(head, "RIFF") ||
        !same_id(head + 8, "WAVE")) {
        say_wide(stdout, L"失敗\n");
        return nullptr;
    }
    // The first 44 bytes are taken for the canonical header, whatever chunks
    // the decoder really wrote.
    WavFormat f;
    parse_fmt_chunk(head + 12, head + 20, &f);
    if (!wav_format_usable(f)) return nullptr;

    GrowBuffer data;
    bool ok = grow_read(data, src, -1, 1024);
    const int64_t size = data.size;
    if (ok) ok = grow_zeros(data, int64_t(appended) * f.block_align);
    if (ok) ok = grow_reserve(data, 1);
    if (!ok) {
        grow_free(data);
        return nullptr;
    }
    *fmt = f;
    *data_size = size;
    return data.data;
}

uint8_t* read_pipe_wav(const std::vector<std::wstring>& argv, int appended, WavFormat* fmt,
                       int64_t* data_size, int wait_ms) {
    *fmt = WavFormat{};
    *data_size = 0;
    Child* child = child_start(argv);
    if (!child) return nullptr;
    ByteSource src = stream_source(child_stdout(child));
    uint8_t* out = decoder_stream_from(src, appended, fmt, data_size);
    // The decoder's exit status is not looked at: what it wrote is the result.
    child_finish(child, wait_ms);
    return out;
}

uint8_t* read_decoded(const wchar_t* path, int appended, WavFormat* fmt, int64_t* data_size,
                      int wait_ms) {
    *fmt = WavFormat{};
    *data_size = 0;
    if (!path) return nullptr;
    if (lower_extension(path) == L".wav") return read_wav_raw(path, appended, fmt, data_size);
    std::vector<std::wstring> argv;
    if (!decoder_command(path, &argv)) return nullptr;
    return read_pipe_wav(argv, appended, fmt, data_size, wait_ms);
}

}  // namespace velorin
