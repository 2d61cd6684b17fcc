// tests/support/audio_fixtures.h: RIFF/WAVE and AIFF file images built byte by
// byte, so tests can state exactly what a reader is given; stand-in and real
// decoders for the decoder tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "audio/wav.h"
#include "platform/mem.h"

namespace velorin_test {

// Raw sample data as a reader returns it, released with the record; `out`
// holds what the reader printed where a test captures it.
struct RawData {
    uint8_t* p = nullptr;
    velorin::WavFormat fmt;
    int64_t size = -1;
    std::string out;
    RawData() = default;
    RawData(const RawData&) = delete;
    RawData& operator=(const RawData&) = delete;
    ~RawData() { velorin::release(p); }
    int16_t value(int64_t i) const {  // 16-bit sample i
        int16_t v;
        std::memcpy(&v, p + 2 * i, 2);
        return v;
    }
};

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

// Clears the decoder variables ("flacpath", ...) for one test and puts back
// what was there when it goes.
class DecoderEnv {
   public:
    DecoderEnv();
    ~DecoderEnv();
    DecoderEnv(const DecoderEnv&) = delete;
    DecoderEnv& operator=(const DecoderEnv&) = delete;
    void set(const char* name, const std::string& value);
    void unset(const char* name);

   private:
    std::vector<std::string> saved_;
    std::vector<bool> was_set_;
};

// An executable "#!/bin/sh" script with this body at `path`.
void write_script(const std::string& path, const std::string& body);

// A lossless or lossy codec installed on this machine: an encoder program and
// the decoder that the decoder table's row runs (through an adapter script
// when the installed decoder takes other options).
struct RealCodec {
    const char* name;
    const char* extension;  // ".flac", ".mp3", ".ogg"
    const char* variable;   // the decoder table's variable
    bool lossless;
};
const std::vector<RealCodec>& real_codecs();
// True when the codec's programs are installed in /usr/bin.
bool codec_installed(const RealCodec& c);
// Encodes `wav_path` into `out_path`; true on success.
bool codec_encode(const RealCodec& c, const std::string& wav_path, const std::string& out_path);
// Points the codec's variable at its decoder; an adapter script, when one is
// needed, is written into `folder`.
void codec_select(const RealCodec& c, DecoderEnv& env, const std::string& folder);
// Writes `pcm` (mono, 44100 Hz) as "in.wav" into `folder`, encodes it into
// "voice" + the codec's extension there and selects the codec's decoder.
// The coded file's path, or "" when the encoder failed.
std::string encode_and_select(const RealCodec& c, const std::vector<int16_t>& pcm, DecoderEnv& env,
                              const std::string& folder);

// The lag (b against a, within -max_lag..max_lag) with the largest normalised
// correlation over the middle of a (half of it, at most 8192 samples), and
// that correlation.
int best_lag(const std::vector<double>& a, const std::vector<double>& b, int max_lag,
             double* correlation);

}  // namespace velorin_test
