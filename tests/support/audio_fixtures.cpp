// tests/support/audio_fixtures.cpp: RIFF/WAVE and AIFF file images.
#include "tests/support/audio_fixtures.h"

namespace velorin_test {

void append_le16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void append_le32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
static void append_be16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}
static void append_be32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 3; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}
static void append_id(std::vector<uint8_t>& b, const std::string& id) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(i < int(id.size()) ? id[i] : ' '));
}

std::vector<uint8_t> riff_wave(const std::vector<RawChunk>& chunks) {
    std::vector<uint8_t> body;
    append_id(body, "WAVE");
    for (const RawChunk& c : chunks) {
        append_id(body, c.id);
        append_le32(body, static_cast<uint32_t>(c.size >= 0 ? c.size : int64_t(c.body.size())));
        body.insert(body.end(), c.body.begin(), c.body.end());
    }
    std::vector<uint8_t> b;
    append_id(b, "RIFF");
    append_le32(b, static_cast<uint32_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

std::vector<uint8_t> fmt_body(int tag, int channels, int rate, int block_align, int bits,
                              int extra) {
    std::vector<uint8_t> b;
    append_le16(b, uint16_t(tag));
    append_le16(b, uint16_t(channels));
    append_le32(b, uint32_t(rate));
    append_le32(b, uint32_t(rate) * uint32_t(block_align));
    append_le16(b, uint16_t(block_align));
    append_le16(b, uint16_t(bits));
    b.insert(b.end(), size_t(extra), 0);
    return b;
}

RawChunk fmt_chunk(int tag, int channels, int rate, int block_align, int bits) {
    return RawChunk{"fmt ", fmt_body(tag, channels, rate, block_align, bits)};
}

std::vector<uint8_t> aiff_file(const std::vector<RawChunk>& chunks, const std::string& form) {
    std::vector<uint8_t> body;
    append_id(body, form);
    for (const RawChunk& c : chunks) {
        append_id(body, c.id);
        append_be32(body, static_cast<uint32_t>(c.size >= 0 ? c.size : int64_t(c.body.size())));
        body.insert(body.end(), c.body.begin(), c.body.end());
        if (c.body.size() % 2) body.push_back(0);
    }
    std::vector<uint8_t> b;
    append_id(b, "FORM");
    append_be32(b, static_cast<uint32_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

RawChunk comm_chunk(int channels, uint32_t frames, int bits, uint32_t rate) {
    std::vector<uint8_t> b;
    append_be16(b, uint16_t(channels));
    append_be32(b, frames);
    append_be16(b, uint16_t(bits));
    // 80-bit extended: the highest set bit of the rate becomes the explicit
    // leading mantissa bit.
    int top = 31;
    while (top > 0 && !(rate >> top)) --top;
    append_be16(b, uint16_t(16383 + top));
    append_be32(b, rate << (31 - top));
    append_be32(b, 0);
    return RawChunk{"COMM", b};
}

RawChunk ssnd_chunk(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> b;
    append_be32(b, 0);
    append_be32(b, 0);
    for (int16_t s : samples) append_be16(b, uint16_t(s));
    return RawChunk{"SSND", b};
}

}  // namespace velorin_test
