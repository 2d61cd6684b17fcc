// audio/wav.h: RIFF/WAVE reading (as doubles for rendering, as raw bytes for
// the analysis) and writing.
#pragma once

#include <cstdint>

namespace velorin {

// The fields of a "fmt " chunk, in file order. Filled by every audio reader.
struct WavFormat {
    char id[4] = {0, 0, 0, 0};
    uint32_t chunk_size = 0;
    uint16_t format_tag = 0;  // 1 integer PCM, 3 floating point
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint32_t byte_rate = 0;
    uint16_t block_align = 0;
    uint16_t bits = 0;
};

// Render reader. Returns (ssize + appended) * channels interleaved doubles on
// the 16-bit scale, the appended frames 0.0, or null (with the reader's
// message where it has one). Release with release().
double* read_wav_samples(const wchar_t* path, int appended, WavFormat* fmt, int64_t* ssize);

// Raw reader for the analysis: the "data" bytes as stored, followed by
// appended * block_align zero bytes; `data_size` gets the byte count of the
// data proper. Null on failure. Release with release().
uint8_t* read_wav_raw(const wchar_t* path, int appended, WavFormat* fmt, int64_t* data_size);

// Writes `count` samples (16-bit scale) as a WAV file, or to standard output
// for the path "-". Returns data size + 44, or -1 when the file cannot be
// created.
int64_t write_wav(const wchar_t* path, const double* samples, int64_t count, int bits,
                  int channels, int rate, int format);

}  // namespace velorin
