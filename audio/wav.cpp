// audio/wav.cpp: RIFF/WAVE readers (render and raw) and the WAV writer.
#include "audio/wav.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "audio/byte_source.h"
#include "audio/bytes.h"
#include "audio/grow_buffer.h"
#include "audio/output_file.h"
#include "audio/samples.h"
#include "platform/console.h"
#include "platform/mem.h"
#include "platform/platform.h"

namespace velorin {

namespace {

// Pieces in which sample data is read; the formats themselves are decoded
// sample by sample from memory.
constexpr int64_t read_piece = 65536;

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

// The sizes of the render reader's "data" chunk of `size` bytes. False when
// its frames cannot be counted in a signed 32-bit number.
struct DataSizes {
    int64_t frames = 0;
    int64_t limit = 0;  // stored bytes of the values the conversion reads
    int64_t claim = 0;  // what the chunk claims: the larger of those and its own size
};

bool data_sizes(uint32_t size, const WavFormat& fmt, DataSizes* d) {
    d->frames = size / fmt.block_align;
    // Negative as a signed frame count: no sample buffer can be indexed by it.
    if (d->frames > INT32_MAX) return false;
    const int bps = stored_bytes(fmt.bits);
    const int64_t need = d->frames * fmt.channels * bps;
    // Bytes of the claim that are not converted (an unknown bit depth, a
    // block align wider than the samples) are still checked against the file.
    d->claim = need > int64_t(size) ? need : int64_t(size);
    d->limit = bps > 0 ? need : 0;
    return true;
}

// A claim far beyond the file is a corrupt size; a smaller shortfall reads
// as zeros.
bool claim_held(const DataSizes& d, int64_t held) { return d.claim - held <= max_data_shortfall; }

// The render reader's "data" chunk of `size` bytes, the source positioned at
// its body: the stored bytes the conversion reads, and the frame count.
bool read_stored_data(ByteSource& src, uint32_t size, const WavFormat& fmt, GrowBuffer* raw,
                      int64_t* frames_out) {
    DataSizes d;
    if (!data_sizes(size, fmt, &d)) return false;
    if (!grow_read(*raw, src, d.limit, read_piece)) {
        grow_free(*raw);
        return false;
    }
    int64_t held = raw->size;
    uint8_t scratch[4096];
    while (held < d.claim) {
        const size_t got = source_read(src, scratch, sizeof scratch);
        if (got == 0) break;
        held += static_cast<int64_t>(got);
    }
    if (!claim_held(d, held)) {
        grow_free(*raw);
        return false;
    }
    *frames_out = d.frames;
    return true;
}

// Converts the values (interleaved samples) from..to - 1 of the stored bytes
// into out[from..to - 1]; values the file does not hold stay as they are.
template <int Bits>
void convert_run(const uint8_t* raw, int format_tag, int64_t from, int64_t n, double* out) {
    for (int64_t i = from; i < n; ++i)
        out[i] = render_sample_value(raw + i * (Bits / 8), Bits, format_tag);
}

void convert_values(const uint8_t* raw, int64_t raw_size, const WavFormat& fmt, int64_t from,
                    int64_t to, double* out) {
    const int bps = stored_bytes(fmt.bits);
    if (bps <= 0) return;
    const int64_t whole = raw_size / bps;  // samples the file really holds
    const int64_t n = whole < to ? whole : to;
    if (from < 0) from = 0;
    // One loop per depth, so that the depth is not decided again per value.
    switch (fmt.bits) {
        case 8:
            return convert_run<8>(raw, fmt.format_tag, from, n, out);
        case 16:
            return convert_run<16>(raw, fmt.format_tag, from, n, out);
        case 24:
            return convert_run<24>(raw, fmt.format_tag, from, n, out);
        case 32:
            return convert_run<32>(raw, fmt.format_tag, from, n, out);
        default:
            return convert_run<64>(raw, fmt.format_tag, from, n, out);
    }
}

// The same, the stored bytes read from `src` (byte 0 of the data at
// `data_at`) in pieces; values it fails to give stay as they are.
void convert_values_from(ByteSource src, int64_t data_at, int64_t raw_size, const WavFormat& fmt,
                         int64_t from, int64_t to, double* out) {
    const int bps = stored_bytes(fmt.bits);
    if (bps <= 0) return;
    const int64_t whole = raw_size / bps;
    const int64_t n = whole < to ? whole : to;
    int64_t i = from < 0 ? 0 : from;
    if (i >= n || !source_seek(src, data_at + i * bps)) return;
    // Large pieces: a stream reads them mostly straight into the buffer.
    const int64_t piece_values = read_piece / bps;
    std::vector<uint8_t> piece(static_cast<size_t>(piece_values * bps));
    while (i < n) {
        const int64_t want = n - i < piece_values ? n - i : piece_values;
        const int64_t got =
            static_cast<int64_t>(source_read(src, piece.data(), static_cast<size_t>(want * bps))) /
            bps;
        convert_values(piece.data(), got * bps, fmt, 0, got, out + i);
        i += got;
        if (got < want) return;
    }
}

double* read_sample_data(ByteSource& src, uint32_t size, const WavFormat& fmt, int appended,
                         int64_t* ssize) {
    GrowBuffer raw;
    int64_t frames = 0;
    if (!read_stored_data(src, size, fmt, &raw, &frames)) return nullptr;
    double* out = alloc_zeroed<double>((frames + appended) * fmt.channels);
    if (!out) {
        grow_free(raw);
        return nullptr;
    }
    convert_values(raw.data, raw.size, fmt, 0, frames * fmt.channels, out);
    grow_free(raw);
    *ssize = frames;
    return out;
}

// The raw reader's "data" chunk of `size` bytes.
uint8_t* read_raw_data(ByteSource& src, uint32_t size, const WavFormat& fmt, int appended,
                       int64_t* data_size) {
    GrowBuffer raw;
    bool ok;
    if (size == 0xFFFFFFFFu) {
        // The size was not known when the file was written: the data runs to
        // the end of the file.
        ok = grow_read(raw, src, -1, 4096);
        *data_size = raw.size;
    } else {
        ok = grow_read(raw, src, size, read_piece);
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

// Walks the chunks after the RIFF header up to the first "data" chunk. True,
// with the source at the chunk's body and `size` its claimed size, when a
// "fmt " chunk came first and its format is usable. The render reader ends
// the walk at an empty chunk (`empty_ends`), even before "data"; the raw
// reader walks on. Neither skips a pad byte after an odd size.
bool find_data_chunk(ByteSource& src, bool empty_ends, WavFormat* fmt, uint32_t* size) {
    bool have_fmt = false;
    for (;;) {
        uint8_t chunk[8];
        if (source_read(src, chunk, sizeof chunk) != sizeof chunk) return false;
        *size = le_u32(chunk + 4);
        if (*size == 0 && empty_ends) return false;
        if (same_id(chunk, "fmt ")) {
            // A chunk shorter than 16 bytes still gives 16: the fields run
            // on into what follows.
            uint8_t body[16];
            if (source_read(src, body, sizeof body) != sizeof body) return false;
            parse_fmt_chunk(chunk, body, fmt);
            have_fmt = true;
            if (*size > 16 && !source_skip(src, *size - 16)) return false;
        } else if (same_id(chunk, "data")) {
            return have_fmt && wav_format_usable(*fmt);
        } else if (!source_skip(src, *size)) {
            return false;
        }
    }
}

}  // namespace

void parse_fmt_chunk(const uint8_t* header, const uint8_t* body, WavFormat* fmt) {
    std::memcpy(fmt->id, header, 4);
    fmt->chunk_size = le_u32(header + 4);
    fmt->format_tag = le_u16(body);
    fmt->channels = le_u16(body + 2);
    fmt->rate = le_u32(body + 4);
    fmt->byte_rate = le_u32(body + 8);
    fmt->block_align = le_u16(body + 12);
    fmt->bits = le_u16(body + 14);
}

bool wav_format_usable(const WavFormat& fmt) {
    return fmt.channels >= 1 && fmt.channels <= max_channels && fmt.block_align >= 1 &&
           fmt.block_align <= max_block_align && fmt.channels <= fmt.block_align && fmt.rate > 0;
}

namespace {

// The RIFF header and the chunks up to "data" as the render reader walks
// them; true with the source at the data body and its size.
bool render_data_from(ByteSource& src, WavFormat* fmt, uint32_t* data_size) {
    uint8_t head[12] = {};
    if (source_read(src, head, sizeof head) != sizeof head || !same_id(head, "RIFF") ||
        !same_id(head + 8, "WAVE")) {
        say(stderr, "file format error(2).\n");
        return false;
    }
    return find_data_chunk(src, true, fmt, data_size);
}

// The rest of a "data" chunk of `size` bytes read into memory, the source
// positioned at its body.
bool read_whole_stored(ByteSource& src, uint32_t size, const WavFormat& fmt, int64_t* ssize,
                       StoredSamples* out) {
    GrowBuffer raw;
    int64_t frames = 0;
    if (!read_stored_data(src, size, fmt, &raw, &frames)) return false;
    if (!grow_reserve(raw, 1)) {  // a valid pointer even for no bytes at all
        grow_free(raw);
        return false;
    }
    out->raw = raw.data;
    out->raw_size = raw.size;
    *ssize = frames;
    return true;
}

}  // namespace

double* wav_samples_from(ByteSource& src, int appended, WavFormat* fmt, int64_t* ssize) {
    *fmt = WavFormat{};
    *ssize = 0;
    if (appended < 0) appended = 0;
    uint32_t size = 0;
    if (!render_data_from(src, fmt, &size)) return nullptr;
    return read_sample_data(src, size, *fmt, appended, ssize);
}

double* read_wav_samples(const wchar_t* path, int appended, WavFormat* fmt, int64_t* ssize) {
    *fmt = WavFormat{};
    *ssize = 0;
    FILE* f = file_open(path, L"rb");
    if (!f) return nullptr;
    ByteSource src = stream_source(f);
    double* out = wav_samples_from(src, appended, fmt, ssize);
    std::fclose(f);
    return out;
}

bool read_wav_stored(const wchar_t* path, WavFormat* fmt, int64_t* ssize, StoredSamples* out) {
    *fmt = WavFormat{};
    *ssize = 0;
    *out = StoredSamples{};
    FILE* f = file_open(path, L"rb");
    if (!f) return false;
    ByteSource src = stream_source(f);
    uint32_t size = 0;
    const bool ok =
        render_data_from(src, fmt, &size) && read_whole_stored(src, size, *fmt, ssize, out);
    std::fclose(f);
    return ok;
}

bool wav_stored_from(ByteSource& src, WavFormat* fmt, int64_t* ssize, StoredSamples* out) {
    *fmt = WavFormat{};
    *ssize = 0;
    *out = StoredSamples{};
    uint32_t size = 0;
    if (!render_data_from(src, fmt, &size)) return false;
    const int64_t at = source_tell(src);
    const int64_t total = source_size(src);
    // A source that cannot say where it is or how long it is: read it all.
    if (at < 0 || total < 0) return read_whole_stored(src, size, *fmt, ssize, out);
    DataSizes d;
    if (!data_sizes(size, *fmt, &d)) return false;
    // The checks of the whole read, made by the numbers: the bytes it would
    // find from the data's body to the end.
    const int64_t there = total > at ? total - at : 0;
    if (!claim_held(d, there < d.claim ? there : d.claim)) return false;
    out->raw_size = there < d.limit ? there : d.limit;
    out->source = src;
    out->data_at = at;
    *ssize = d.frames;
    return true;
}

bool open_wav_stored(const wchar_t* path, WavFormat* fmt, int64_t* ssize, StoredSamples* out) {
    *fmt = WavFormat{};
    *ssize = 0;
    *out = StoredSamples{};
    FILE* f = file_open(path, L"rb");
    if (!f) return false;
    ByteSource src = stream_source(f);
    const bool ok = wav_stored_from(src, fmt, ssize, out);
    if (ok && !out->raw) {
        out->close_file = true;  // the bytes are read from it as they are converted
    } else {
        std::fclose(f);
        out->source = ByteSource{};
    }
    return ok;
}

void convert_stored_frames(const StoredSamples& s, const WavFormat& fmt, int64_t ssize,
                           int64_t first, int64_t last, double* out) {
    if (first < 0) first = 0;
    if (last > ssize) last = ssize;
    if (first >= last) return;
    if (s.raw)
        convert_values(s.raw, s.raw_size, fmt, first * fmt.channels, last * fmt.channels, out);
    else if (s.source.file || s.source.data)
        convert_values_from(s.source, s.data_at, s.raw_size, fmt, first * fmt.channels,
                            last * fmt.channels, out);
}

void release_stored(StoredSamples* s) {
    if (!s) return;
    if (s->close_file && s->source.file) std::fclose(s->source.file);
    release(s->raw);
    *s = StoredSamples{};
}

uint8_t* wav_raw_from(ByteSource& src, int appended, WavFormat* fmt, int64_t* data_size) {
    *fmt = WavFormat{};
    *data_size = 0;
    if (appended < 0) appended = 0;
    uint8_t head[12] = {};
    const size_t got = source_read(src, head, sizeof head);
    if (got < 4 || !same_id(head, "RIFF")) {
        say(stderr, "file format error.\n");
        return nullptr;
    }
    if (got < sizeof head || !same_id(head + 8, "WAVE")) {
        say(stderr, "file format error(2).\n");
        return nullptr;
    }
    uint32_t size = 0;
    if (!find_data_chunk(src, false, fmt, &size)) return nullptr;
    return read_raw_data(src, size, *fmt, appended, data_size);
}

uint8_t* read_wav_raw(const wchar_t* path, int appended, WavFormat* fmt, int64_t* data_size) {
    *fmt = WavFormat{};
    *data_size = 0;
    FILE* f = file_open(path, L"rb");
    if (!f) return nullptr;
    ByteSource src = stream_source(f);
    uint8_t* out = wav_raw_from(src, appended, fmt, data_size);
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

namespace {

// The 16-bit form of samples x[0 .. n - 1], each as encode_sample makes it
// (not a number: 0; clamped; truncated towards zero), in blocks whose
// conversions the compiler can run side by side. Returns how many it wrote;
// encode_sample does the rest.
int encode_16_block(const double* x, int n, uint8_t* p) {
    constexpr int block = 256;
    int32_t t[block];
    int i = 0;
    for (; i + block <= n; i += block) {
        for (int k = 0; k < block; ++k) {
            const double v = x[i + k];
            const double below = v < 32767.0 ? v : 32767.0;  // NaN: 32767, then dropped
            const double within = below > -32768.0 ? below : -32768.0;
            t[k] = v == v ? static_cast<int32_t>(within) : 0;
        }
        for (int k = 0; k < block; ++k) put_le_u16(p + 2 * (i + k), static_cast<uint16_t>(t[k]));
    }
    return i;
}

}  // namespace

void samples_to_16(const double* x, int64_t n, int16_t* out) {
    for (int64_t i = 0; i < n; ++i) {
        uint8_t bytes[2];
        encode_sample(x[i], 16, 1, bytes);
        out[i] = static_cast<int16_t>(le_u16(bytes));
    }
}

int64_t write_wav(const wchar_t* path, const double* samples, int64_t count, int bits, int channels,
                  int rate, int format, int* error) {
    if (error) *error = 0;
    auto fail = [error](int code) -> int64_t {
        if (error) *error = code;
        return -1;
    };
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32 && bits != 64) return fail(EINVAL);
    if (count < 0 || channels < 1 || channels > 65535 || rate < 0) return fail(EINVAL);
    const int64_t values = count * channels;
    const int64_t data_size = int64_t(bits / 8) * count * channels;
    if (data_size > max_wav_data) return fail(wav_too_large);
    if (values > 0 && !samples) return fail(EINVAL);

    OutputFile file;
    if (!output_open(path, &file)) return fail(errno);
    FILE* f = file.stream;

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
    // Header and samples go into one buffer of up to 1 MiB, written whole
    // each time it is full, past the stream's own buffer: a note is one write
    // call. Standard output keeps its buffering.
    const int bytes = bits / 8;  // per value
    const int64_t room = std::min<int64_t>(int64_t(1) << 20, int64_t(sizeof head) + data_size);
    std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[static_cast<size_t>(room)]);
    if (!buf) {
        output_close(&file, false);
        return fail(ENOMEM);
    }
    memory_prefault(buf.get(), room);  // every byte is written: one call maps the pages
    if (!file.to_stdout) std::setvbuf(f, nullptr, _IONBF, 0);
    std::memcpy(buf.get(), head, sizeof head);
    int64_t used = sizeof head;
    bool ok = true;
    for (int64_t i = 0; ok && (i < values || used > 0);) {
        const int64_t k = std::min(values - i, (room - used) / bytes);
        uint8_t* p = buf.get() + used;
        const int64_t fast = bits == 16 ? encode_16_block(samples + i, static_cast<int>(k), p) : 0;
        for (int64_t d = fast; d < k; ++d)
            encode_sample(samples[i + d], bits, format, p + d * bytes);
        used += k * bytes;
        i += k;
        ok = std::fwrite(buf.get(), 1, static_cast<size_t>(used), f) == static_cast<size_t>(used);
        used = 0;
    }
    const int write_error = ok ? 0 : errno;
    if (!output_close(&file, ok)) return fail(write_error ? write_error : errno);
    return data_size + 44;
}

bool write_note(const wchar_t* path, const double* samples, int64_t count) {
    int error = 0;
    if (write_wav(path, samples, count, 16, 1, 44100, 1, &error) >= 0) return true;
    const std::string name =
        path && std::wcscmp(path, L"-") == 0 ? std::string("standard output") : narrow_text(path);
    const char* reason = error == wav_too_large ? "too large for a WAV file" : std::strerror(error);
    sayf(stderr, "Cannot write %s: %s\n", name.c_str(), reason);
    return false;
}

}  // namespace velorin
