// tests/support/audio_fixtures.h: RIFF/WAVE and AIFF file images built byte by
// byte, so tests can state exactly what a reader is given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velorin_test {

struct RawChunk {
    std::string id;             // four characters
    std::vector<uint8_t> body;  // stored as is, no pad byte added
    int64_t size = -1;          // the size field; -1: body.size()
};

// "RIFF", the size of what follows, "WAVE", then the chunks in order.
std::vector<uint8_t> riff_wave(const std::vector<RawChunk>& chunks);
// A "fmt " chunk body of 16 bytes (plus `extra` bytes after the six fields).
std::vector<uint8_t> fmt_body(int tag, int channels, int rate, int block_align, int bits,
                              int extra = 0);
RawChunk fmt_chunk(int tag, int channels, int rate, int block_align, int bits);

// "FORM", the size of what follows, the form type, then the chunks in order;
// an odd-sized chunk gets its pad byte.
std::vector<uint8_t> aiff_file(const std::vector<RawChunk>& chunks,
                               const std::string& form = "AIFF");
// A "COMM" chunk: channels, frames, bits and a rate that is a whole number.
RawChunk comm_chunk(int channels, uint32_t frames, int bits, uint32_t rate);
// An "SSND" chunk with offset 0 and big-endian 16-bit samples.
RawChunk ssnd_chunk(const std::vector<int16_t>& samples);

void append_le16(std::vector<uint8_t>& b, uint16_t v);
void append_le32(std::vector<uint8_t>& b, uint32_t v);

}  // namespace velorin_test
