// audio/wav.cpp: RIFF/WAVE readers (render and raw) and the WAV writer.
#include "audio/wav.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

#include "audio/bytes.h"
#include "audio/grow_buffer.h"
#include "audio/samples.h"
#include "platform/console.h"
#include "platform/mem.h"
#include "platform/platform.h"

namespace velorin {

namespace {

// Pieces in which sample data is read; the formats themselves are decoded
// sample by sample from memory.
constexpr int64_t read_piece = 65536;

// The six fields after a "fmt " chunk's size, 16 bytes.
void parse_fmt_fields(const uint8_t* p, WavFormat* fmt) {
    fmt->format_tag = le_u16(p);
    fmt->channels = le_u16(p + 2);
    fmt->rate = le_u32(p + 4);
    fmt->byte_rate = le_u32(p + 8);
    fmt->block_align = le_u16(p + 12);
    fmt->bits = le_u16(p + 14);
}

// Stored bytes per sample of the bit depths the render reader converts; 0 for
// the others, which read nothing and give 0.
int stored_bytes(int bits) {
    switch (bits) {
        case 8:
            return 1;
        case 16:
            return 2;
        case 24:
            return 3;
        case 32:
            return 4;
        case 64:
            return 8;
        default:
            return 0;
    }
}

// The render reader's "data" chunk of `size` bytes, the file positioned at
// its body.
double* read_sample_data(FILE* f, uint32_t size, const WavFormat& fmt, int appended,
                         int64_t* ssize) {
    const int64_t frames = size / fmt.block_align;
    // Negative as a signed frame count: no sample buffer can be indexed by it.
    if (frames > INT32_MAX) return nullptr;
    const int bps = stored_bytes(fmt.bits);
    const int64_t values = frames * fmt.channels;
    const int64_t need = values * bps;
    // What the chunk claims, in the bytes the conversion reads and in the
    // chunk's own size; a claim far beyond the file is a corrupt size.
    const int64_t claim = need > int64_t(size) ? need : int64_t(size);
    const int64_t limit = bps > 0 ? need : 0;

    GrowBuffer raw;
    if (!grow_read(raw, f, limit, read_piece)) {
        grow_free(raw);
        return nullptr;
    }
    int64_t held = raw.size;
    // Bytes of the claim that are not converted (an unknown bit depth, a
    // block align wider than the samples) are still checked against the file.
    uint8_t scratch[4096];
    while (held < claim) {
        const size_t got = std::fread(scratch, 1, sizeof scratch, f);
        if (got == 0) break;
        held += static_cast<int64_t>(got);
    }
    if (claim - held > max_data_shortfall) {
        grow_free(raw);
        return nullptr;
    }
    double* out = alloc_zeroed<double>((frames + appended) * fmt.channels);
    if (!out) {
        grow_free(raw);
        return nullptr;
    }
    if (bps > 0) {
        const int64_t whole = raw.size / bps;  // samples the file really holds
        const int64_t n = whole < values ? whole : values;
        for (int64_t i = 0; i < n; ++i)
            out[i] = render_sample_value(raw.data + i * bps, fmt.bits, fmt.format_tag);
    }
    grow_free(raw);
    *ssize = frames;
    return out;
}

// The raw reader's "data" chunk of `size` bytes.
uint8_t* read_raw_data(FILE* f, uint32_t size, const WavFormat& fmt, int appended,
                       int64_t* data_size) {
    GrowBuffer raw;
    bool ok;
    if (size == 0xFFFFFFFFu) {
        // The size was not known when the file was written: the data runs to
        // the end of the file.
        ok = grow_read(raw, f, -1, 4096);
        *data_size = raw.size;
    } else {
        ok = grow_read(raw, f, size, read_piece);
        if (ok && int64_t(size) - raw.size > max_data_shortfall) ok = false;
        if (ok) ok = grow_zeros(raw, int64_t(size) - raw.size);
        *data_size = size;
    }
    if (ok) ok = grow_zeros(raw, int64_t(appended) * fmt.block_align);
    if (ok) ok = grow_reserve(raw, 1);  // a valid pointer even for no bytes at all
    if (!ok) {
        grow_free(raw);
        *data_size = 0;
        return nullptr;
    }
    return raw.data;
}

}  // namespace

bool wav_format_usable(const WavFormat& fmt) {
    return fmt.channels >= 1 && fmt.channels <= max_channels && fmt.block_align >= 1 &&
           fmt.block_align <= max_block_align && fmt.channels <= fmt.block_align && fmt.rate > 0;
}

double* read_wav_samples(const wchar_t* path, int appended, WavFormat* fmt, int64_t* ssize) {
    *fmt = WavFormat{};
    *ssize = 0;
    if (appended < 0) appended = 0;
    FILE* f = file_open(path, L"rb");
    if (!f) return nullptr;

    uint8_t head[12] = {};
    if (std::fread(head, 1, sizeof head, f) != sizeof head || !same_id(head, "RIFF") ||
        !same_id(head + 8, "WAVE")) {
        say(stderr, "file format error(2).\n");
        std::fclose(f);
        return nullptr;
    }

    bool have_fmt = false;
    double* out = nullptr;
    for (;;) {
        uint8_t chunk[8];
        if (std::fread(chunk, 1, sizeof chunk, f) != sizeof chunk) break;
        const uint32_t size = le_u32(chunk + 4);
        if (size == 0) break;  // an empty chunk ends the walk, even before "data"
        if (same_id(chunk, "fmt ")) {
            uint8_t body[16];
            std::memcpy(fmt->id, chunk, 4);
            fmt->chunk_size = size;
            if (std::fread(body, 1, sizeof body, f) != sizeof body) break;
            parse_fmt_fields(body, fmt);
            have_fmt = true;
            if (size > 16 && !skip_bytes(f, size - 16)) break;
        } else if (same_id(chunk, "data")) {
            if (have_fmt && wav_format_usable(*fmt))
                out = read_sample_data(f, size, *fmt, appended, ssize);
            break;
        } else if (!skip_bytes(f, size)) {
            break;  // no pad byte after an odd size: the readers never skip one
        }
    }
    std::fclose(f);
    return out;
}

uint8_t* read_wav_raw(const wchar_t* path, int appended, WavFormat* fmt, int64_t* data_size) {
    *fmt = WavFormat{};
    *data_size = 0;
    if (appended < 0) appended = 0;
    FILE* f = file_open(path, L"rb");
    if (!f) return nullptr;

    uint8_t head[12] = {};
    const size_t got = std::fread(head, 1, sizeof head, f);
    if (got < 4 || !same_id(head, "RIFF")) {
        say(stderr, "file format error.\n");
        std::fclose(f);
        return nullptr;
    }
    if (got < sizeof head || !same_id(head + 8, "WAVE")) {
        say(stderr, "file format error(2).\n");
        std::fclose(f);
        return nullptr;
    }

    bool have_fmt = false;
    uint8_t* out = nullptr;
    uint8_t id[4];
    // Unlike the render reader, an empty chunk does not end this walk.
    while (std::fread(id, 1, 4, f) == 4) {
        uint8_t sz[4];
        if (std::fread(sz, 1, 4, f) != 4) break;
        const uint32_t size = le_u32(sz);
        if (same_id(id, "fmt ")) {
            uint8_t body[16];
            std::memcpy(fmt->id, id, 4);
            fmt->chunk_size = size;
            if (std::fread(body, 1, sizeof body, f) != sizeof body) break;
            parse_fmt_fields(body, fmt);
            have_fmt = true;
            if (size > 16 && !skip_bytes(f, size - 16)) break;
        } else if (same_id(id, "data")) {
            if (have_fmt && wav_format_usable(*fmt))
                out = read_raw_data(f, size, *fmt, appended, data_size);
            break;
        } else if (!skip_bytes(f, size)) {
            break;
        }
    }
    std::fclose(f);
    return out;
}

namespace {

// One sample of the 16-bit scale in the stored form; returns the bytes used.
int encode_sample(double x, int bits, int format, uint8_t* p) {
    if (std::isnan(x)) x = 0.0;  // not a number: silence
    switch (bits) {
        case 8: {
            // 128.5: the reader's centre 127.5 plus 1/2, so truncation rounds.
            double t = x * 0.00390625 + 128.5;
            if (t > 255) t = 255;
            if (t < 0) t = 0;
            p[0] = static_cast<uint8_t>(static_cast<int>(t));
            return 1;
        }
        case 16: {
            if (x > 32767) x = 32767;
            if (x < -32768) x = -32768;
            put_le_u16(p, static_cast<uint16_t>(static_cast<int16_t>(x)));
            return 2;
        }
        case 24: {
            double t = x * 256;
            if (t > 8388607) t = 8388607;
            if (t < -8388608) t = -8388608;
            const uint32_t v = static_cast<uint32_t>(static_cast<int32_t>(t));
            p[0] = uint8_t(v);
            p[1] = uint8_t(v >> 8);
            p[2] = uint8_t(v >> 16);
            return 3;
        }
        case 32: {
            if (format == 3) {
                const float v = static_cast<float>(x / float_full_scale_render);
                uint32_t u;
                std::memcpy(&u, &v, sizeof u);
                put_le_u32(p, u);
                return 4;
            }
            double t = x * 65536;
            if (t > 2147483647.0) t = 2147483647.0;
            if (t < -2147483648.0) t = -2147483648.0;
            put_le_u32(p, static_cast<uint32_t>(static_cast<int32_t>(t)));
            return 4;
        }
        default:  // 64
            put_le_f64(p, x / float_full_scale_render);
            return 8;
    }
}

}  // namespace

int64_t write_wav(const wchar_t* path, const double* samples, int64_t count, int bits, int channels,
                  int rate, int format) {
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32 && bits != 64) return -1;
    if (count < 0 || channels < 1 || channels > 65535 || rate < 0) return -1;
    const int64_t values = count * channels;
    const int64_t data_size = int64_t(bits / 8) * count * channels;
    if (data_size > int64_t(0xFFFFFFFFu) - 36 || (values > 0 && !samples)) return -1;

    const bool to_stdout = path && std::wcscmp(path, L"-") == 0;
    FILE* f = nullptr;
    if (to_stdout) {
        stdout_binary();
        f = stdout;
    } else {
        f = file_open(path, L"wb");
        if (!f) return -1;
    }

    const uint32_t block = static_cast<uint32_t>(bits * channels / 8);
    uint8_t head[44];
    std::memcpy(head, "RIFF", 4);
    put_le_u32(head + 4, static_cast<uint32_t>(data_size + 36));
    std::memcpy(head + 8, "WAVE", 4);
    std::memcpy(head + 12, "fmt ", 4);
    put_le_u32(head + 16, 16);
    put_le_u16(head + 20, format == 3 ? 3 : 1);
    put_le_u16(head + 22, static_cast<uint16_t>(channels));
    put_le_u32(head + 24, static_cast<uint32_t>(rate));
    put_le_u32(head + 28, static_cast<uint32_t>(rate) * block);
    put_le_u16(head + 32, static_cast<uint16_t>(block));
    put_le_u16(head + 34, static_cast<uint16_t>(bits));
    std::memcpy(head + 36, "data", 4);
    put_le_u32(head + 40, static_cast<uint32_t>(data_size));
    bool ok = std::fwrite(head, 1, sizeof head, f) == sizeof head;

    // Converted in blocks, so the stream sees a few large writes.
    std::vector<uint8_t> block_bytes(4096 * 8);
    for (int64_t i = 0; ok && i < values;) {
        size_t used = 0;
        for (int k = 0; k < 4096 && i < values; ++k, ++i)
            used +=
                static_cast<size_t>(encode_sample(samples[i], bits, format, &block_bytes[used]));
        ok = std::fwrite(block_bytes.data(), 1, used, f) == used;
    }
    if (to_stdout) {
        if (std::fflush(f) != 0) ok = false;
    } else if (std::fclose(f) != 0) {
        ok = false;
    }
    return ok ? data_size + 44 : -1;
}

}  // namespace velorin
