// audio/aiff.cpp: 16-bit AIFF samples for the analysis.
#include "audio/aiff.h"

#include <cstdio>
#include <cstring>

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

// The sample frames of an "SSND" chunk, the file positioned after its offset
// and block size fields. The frame count is cut to what the file holds, so a
// corrupt "COMM" cannot make us allocate more than the file supplies.
uint8_t* read_frames(FILE* f, const Comm& c, int appended, int64_t* data_size) {
    const int64_t frame_bytes = int64_t(c.channels) * 2;
    GrowBuffer raw;
    bool ok = grow_read(raw, f, int64_t(c.frames) * frame_bytes, 65536);
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
    if (appended < 0) appended = 0;
    FILE* f = file_open(path, L"rb");
    if (!f) {
        say_wide(stdout, L"ファイルが開けません\n");
        return nullptr;
    }

    uint8_t head[8] = {};
    std::fread(head, 1, sizeof head, f);
    if (!same_id(head, "FORM")) {
        say_widef(stdout, L"最初のchunkはFROMでなければなりません %x \n", le_u32(head));
        std::fclose(f);
        return nullptr;
    }
    uint8_t form[4] = {};
    std::fread(form, 1, sizeof form, f);
    if (!same_id(form, "AIFF")) {
        say_widef(stdout, L"AIFFファイルではありません %x \n", le_u32(form));
        std::fclose(f);
        return nullptr;
    }

    Comm c;
    uint8_t* out = nullptr;
    for (;;) {
        uint8_t chunk[8];
        if (std::fread(chunk, 1, sizeof chunk, f) != sizeof chunk) break;
        const uint32_t size = be_u32(chunk + 4);
        if (same_id(chunk, "COMM")) {
            uint8_t body[18];
            if (std::fread(body, 1, sizeof body, f) != sizeof body) break;
            c.channels = static_cast<int16_t>(be_u16(body));
            c.frames = be_u32(body + 2);
            c.bits = static_cast<int16_t>(be_u16(body + 6));
            c.rate = aiff_rate(body + 8);
            if (size > 18 && !skip_bytes(f, padded(size) - 18)) break;
        } else if (same_id(chunk, "SSND")) {
            uint8_t body[8];
            if (std::fread(body, 1, sizeof body, f) != sizeof body) break;
            const bool usable = c.channels >= 1 && c.channels <= max_channels && c.rate > 0;
            if (usable) {
                // An offset past the end leaves the file with no frames to
                // read, and read_frames cuts the count to those.
                skip_bytes(f, be_u32(body));
                out = read_frames(f, c, appended, data_size);
            }
            break;
        } else if (!skip_bytes(f, padded(size))) {
            break;
        }
    }
    std::fclose(f);

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
