// audio/aiff.cpp: 16-bit AIFF samples for the analysis.
#include "audio/aiff.h"

#include <cstdio>
#include <cstring>

#include "audio/byte_source.h"
#include "audio/bytes.h"
#include "audio/grow_buffer.h"
#include "platform/console.h"
#include "platform/mem.h"
#include "platform/platform.h"

namespace velorin {

namespace {

// A chunk body of `size` bytes is followed by a pad byte when `size` is odd.
uint64_t padded(uint64_t size) { return size + (size & 1); }

struct Comm {
    int channels = 1;
    uint32_t frames = 0;
    int bits = 16;
    uint32_t rate = 44100;
};

// The sample frames of an "SSND" chunk, the source positioned after its
// offset and block size fields. The frame count is cut to what the source
// holds, so a corrupt "COMM" cannot make us allocate more than it supplies.
uint8_t* read_frames(ByteSource& src, const Comm& c, int appended, int64_t* data_size) {
    const int64_t frame_bytes = int64_t(c.channels) * 2;
    GrowBuffer raw;
    bool ok = grow_read(raw, src, int64_t(c.frames) * frame_bytes, 65536);
    const int64_t held = (raw.size + frame_bytes - 1) / frame_bytes;
    const int64_t frames = held < int64_t(c.frames) ? held : int64_t(c.frames);
    raw.size -= raw.size & 1;  // half a value at the end reads as 0, like the missing rest
    const int64_t whole_values = raw.size / 2;
    if (ok) ok = grow_zeros(raw, frames * frame_bytes - raw.size);
    if (ok) ok = grow_zeros(raw, int64_t(appended) * frame_bytes);
    if (ok) ok = grow_reserve(raw, 1);
    if (!ok) {
        grow_free(raw);
        return nullptr;
    }
    for (int64_t i = 0; i < whole_values; ++i) {
        const int16_t v = static_cast<int16_t>(be_u16(raw.data + 2 * i));
        std::memcpy(raw.data + 2 * i, &v, 2);
    }
    *data_size = frames * frame_bytes;
    return raw.data;
}

}  // namespace

uint32_t aiff_rate(const uint8_t* p) {
    const int e = be_u16(p) & 0x7FFF;
    const uint32_t m = be_u32(p + 2);
    const int shift = 16414 - e;  // 0x401E: the exponent of a 32-bit whole number
    if (shift < 0 || shift > 31) return 0;
    return m >> shift;
}

uint8_t* read_aiff_raw(const wchar_t* path, int appended, WavFormat* fmt, int64_t* data_size) {
    *fmt = WavFormat{};
    *data_size = 0;
    FILE* f = file_open(path, L"rb");
    if (!f) {
        say_wide(stdout, L"ファイルが開けません\n");
        return nullptr;
    }
    ByteSource src = stream_source(f);
    uint8_t* out = aiff_raw_from(src, appended, fmt, data_size);
    std::fclose(f);
    return out;
}

uint8_t* aiff_raw_from(ByteSource& src, int appended, WavFormat* fmt, int64_t* data_size) {
    *fmt = WavFormat{};
    *data_size = 0;
    if (appended < 0) appended = 0;
    // A short header leaves zeros in place of the missing bytes, and the
    // message shows what there was.
    uint8_t head[8] = {};
    if (source_read(src, head, sizeof head) < 4 || !same_id(head, "FORM")) {
        say_widef(stdout, L"最初のchunkはFROMでなければなりません %x \n", le_u32(head));
        return nullptr;
    }
    uint8_t form[4] = {};
    if (source_read(src, form, sizeof form) != sizeof form || !same_id(form, "AIFF")) {
        say_widef(stdout, L"AIFFファイルではありません %x \n", le_u32(form));
        return nullptr;
    }

    Comm c;
    uint8_t* out = nullptr;
    for (;;) {
        uint8_t chunk[8];
        if (source_read(src, chunk, sizeof chunk) != sizeof chunk) break;
        const uint32_t size = be_u32(chunk + 4);
        if (same_id(chunk, "COMM")) {
            uint8_t body[18];
            if (source_read(src, body, sizeof body) != sizeof body) break;
            c.channels = static_cast<int16_t>(be_u16(body));
            c.frames = be_u32(body + 2);
            c.bits = static_cast<int16_t>(be_u16(body + 6));
            c.rate = aiff_rate(body + 8);
            if (size > 18 && !source_skip(src, padded(size) - 18)) break;
        } else if (same_id(chunk, "SSND")) {
            uint8_t body[8];
            if (source_read(src, body, sizeof body) != sizeof body) break;
            const bool usable = c.channels >= 1 && c.channels <= max_channels && c.rate > 0;
            if (usable) {
                // An offset past the end leaves no frames to read, and
                // read_frames cuts the count to those.
                source_skip(src, be_u32(body));
                out = read_frames(src, c, appended, data_size);
            }
            break;
        } else if (!source_skip(src, padded(size))) {
            break;
        }
    }

    if (c.bits != 16) {
        say_wide(stdout, L"16ビットフォーマットではありません\n");
        release(out);
        *data_size = 0;
        return nullptr;
    }
    if (!out) {
        *data_size = 0;
        return nullptr;
    }
    std::memcpy(fmt->id, "fmt ", 4);
    fmt->chunk_size = 16;
    fmt->format_tag = 1;
    fmt->channels = static_cast<uint16_t>(c.channels);
    fmt->rate = c.rate;
    fmt->bits = 16;
    fmt->block_align = static_cast<uint16_t>(c.channels * 2);
    fmt->byte_rate = c.rate * fmt->block_align;
    return out;
}

}  // namespace velorin
