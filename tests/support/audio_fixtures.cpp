// tests/support/audio_fixtures.cpp: RIFF/WAVE and AIFF file images.
#include "tests/support/audio_fixtures.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include "tests/support/support.h"

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

namespace {
const char* const decoder_variables[] = {"flacpath", "lamepath", "oggdecpath", "faadpath",
                                         "nerodecpath"};
}

DecoderEnv::DecoderEnv() {
    for (const char* v : decoder_variables) {
        const char* old = std::getenv(v);
        saved_.push_back(old ? old : "");
        was_set_.push_back(old != nullptr);
        unsetenv(v);
    }
}

DecoderEnv::~DecoderEnv() {
    for (size_t i = 0; i < saved_.size(); ++i) {
        if (was_set_[i])
            setenv(decoder_variables[i], saved_[i].c_str(), 1);
        else
            unsetenv(decoder_variables[i]);
    }
}

void DecoderEnv::set(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }
void DecoderEnv::unset(const char* name) { unsetenv(name); }

void write_script(const std::string& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body;
    chmod(path.c_str(), 0755);
}

const std::vector<RealCodec>& real_codecs() {
    static const std::vector<RealCodec> codecs = {{"Flac", ".flac", "flacpath", true},
                                                  {"Mp3", ".mp3", "lamepath", false},
                                                  {"Ogg", ".ogg", "oggdecpath", false}};
    return codecs;
}

namespace {
struct CodecPrograms {
    const char* encoder;
    const char* decoder;
};
CodecPrograms programs(const RealCodec& c) {
    const std::string n = c.name;
    if (n == "Flac") return {"/usr/bin/flac", "/usr/bin/flac"};
    if (n == "Mp3") return {"/usr/bin/lame", "/usr/bin/lame"};
    return {"/usr/bin/oggenc", "/usr/bin/oggdec"};
}
}  // namespace

bool codec_installed(const RealCodec& c) {
    const CodecPrograms p = programs(c);
    return access(p.encoder, X_OK) == 0 && access(p.decoder, X_OK) == 0;
}

bool codec_encode(const RealCodec& c, const std::string& wav_path, const std::string& out_path) {
    const std::string n = c.name;
    std::string cmd;
    if (n == "Flac")
        cmd = "flac -s -f -o '" + out_path + "' '" + wav_path + "'";
    else if (n == "Mp3")
        cmd = "lame --quiet '" + wav_path + "' '" + out_path + "'";
    else
        cmd = "oggenc -Q -o '" + out_path + "' '" + wav_path + "'";
    cmd = "PATH=/usr/bin:/bin " + cmd + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

std::string encode_and_select(const RealCodec& c, const std::vector<int16_t>& pcm, DecoderEnv& env,
                              const std::string& folder) {
    const std::string wav = folder + "/in.wav";
    const std::string coded = folder + "/voice" + c.extension;
    write_bytes(wav, wav_bytes_i16(pcm, 1, 44100));
    if (!codec_encode(c, wav, coded)) return "";
    codec_select(c, env, folder);
    return coded;
}

void codec_select(const RealCodec& c, DecoderEnv& env, const std::string& folder) {
    if (std::string(c.name) == "Ogg") {
        // This oggdec writes to standard output with "-o -" rather than the
        // row's "--stdout": adapt the command line.
        const std::string adapter = folder + "/oggdec-adapter";
        write_script(adapter,
                     "[ \"$1\" = --stdout ] || exit 2\nexec /usr/bin/oggdec -Q -o - \"$2\"\n");
        env.set(c.variable, adapter);
    } else {
        env.set(c.variable, programs(c).decoder);
    }
}

int best_lag(const std::vector<double>& a, const std::vector<double>& b, int max_lag,
             double* correlation) {
    double best = -2.0;
    int best_at = 0;
    // At most 8192 samples from the middle: enough to lock on, cheap enough
    // for the emulated builds.
    const int n = std::min(int(a.size()) / 2, 8192);
    const int start = (int(a.size()) - n) / 2;
    for (int lag = -max_lag; lag <= max_lag; ++lag) {
        double ab = 0, aa = 0, bb = 0;
        for (int i = start; i < start + n; ++i) {
            const int j = i + lag;
            const double y = j >= 0 && j < int(b.size()) ? b[j] : 0.0;
            ab += a[i] * y;
            aa += a[i] * a[i];
            bb += y * y;
        }
        const double r = aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : -1.0;
        if (r > best) {
            best = r;
            best_at = lag;
        }
    }
    if (correlation) *correlation = best;
    return best_at;
}

}  // namespace velorin_test
