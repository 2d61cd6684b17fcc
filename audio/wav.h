// audio/wav.h: RIFF/WAVE reading (as doubles for rendering, as raw bytes for
// the analysis) and writing.
#pragma once

#include <cstdint>
#include <cstdio>

#include "audio/byte_source.h"

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

// Limits every audio reader applies before it allocates: more channels than
// this, or a frame wider than this, is taken for a corrupt header.
constexpr int max_channels = 256;
constexpr int max_block_align = 2048;
// A "data" chunk may claim more bytes than its file holds (the missing
// samples read as 0), but by no more than this.
constexpr int64_t max_data_shortfall = int64_t(64) << 20;

// True when the format can be read without dividing by zero or allocating
// absurd amounts: 1..max_channels channels, a block align of 1..max_block_align
// bytes and at least one byte per channel, and a rate above 0.
bool wav_format_usable(const WavFormat& fmt);

// The fields of a "fmt " chunk from its 8-byte header (id and size) and the
// first 16 bytes of its body.
void parse_fmt_chunk(const uint8_t* header, const uint8_t* body, WavFormat* fmt);

// Render reader. Returns (ssize + appended) * channels interleaved doubles on
// the 16-bit scale, the appended frames 0.0, or null (with the reader's
// message where it has one). Release with release(). Unreadable (null, no
// message): a "data" chunk before "fmt ", an unusable format, more than
// 2^31 - 1 frames, or a "data" chunk that claims more than max_data_shortfall
// bytes beyond the end of the file; a smaller shortfall reads as zeros.
// The path form opens the file and reads it by pieces; a file that cannot
// be opened gives null without a message.
double* read_wav_samples(const wchar_t* path, int appended, WavFormat* fmt, int64_t* ssize);
double* wav_samples_from(ByteSource& src, int appended, WavFormat* fmt, int64_t* ssize);

// The render reader in two steps, for a caller that converts only the part
// of a long sample that it needs. read_wav_stored reads the "data" bytes with
// read_wav_samples's checks and messages (false where that returns null);
// convert_stored_frames then writes frames first..last - 1 (clamped to
// 0..ssize) into `out`, a buffer laid out as read_wav_samples's (frame i at
// out[i * channels]), with the very values read_wav_samples gives them.
// open_wav_stored makes the same checks from the header's sizes and the
// file's size, and leaves the bytes in the file, open, to be read by
// convert_stored_frames where it converts; a file that cannot seek or tell
// its size (a pipe) is read whole instead. wav_stored_from does the same on
// a source the caller keeps (open, and unread elsewhere) until the release.
// Values the file does not hold (or fails to give) stay as `out` holds
// them. Release every form with release_stored.
struct StoredSamples {
    uint8_t* raw = nullptr;   // the bytes in memory, or null when they are read from `source`
    int64_t raw_size = 0;     // stored bytes of the converted values the file holds
    ByteSource source;        // where the bytes are read as they are converted
    int64_t data_at = 0;      // position in `source` of the first stored byte
    bool close_file = false;  // release_stored closes source.file (open_wav_stored's own)
};
bool read_wav_stored(const wchar_t* path, WavFormat* fmt, int64_t* ssize, StoredSamples* out);
bool open_wav_stored(const wchar_t* path, WavFormat* fmt, int64_t* ssize, StoredSamples* out);
bool wav_stored_from(ByteSource& src, WavFormat* fmt, int64_t* ssize, StoredSamples* out);
void convert_stored_frames(const StoredSamples& s, const WavFormat& fmt, int64_t ssize,
                           int64_t first, int64_t last, double* out);
void release_stored(StoredSamples* s);  // closes the file, releases the bytes

// Raw reader for the analysis: the "data" bytes as stored, followed by
// appended * block_align zero bytes; `data_size` gets the byte count of the
// data proper. Null on failure. Release with release(). The same rules for
// unreadable files as the render reader; a data size of 0xFFFFFFFF reads to
// the end of the file.
uint8_t* read_wav_raw(const wchar_t* path, int appended, WavFormat* fmt, int64_t* data_size);
uint8_t* wav_raw_from(ByteSource& src, int appended, WavFormat* fmt, int64_t* data_size);

// The most "data" bytes a WAV file can hold: its sizes are 32-bit, and the
// RIFF size counts 36 bytes of header besides the data.
constexpr int64_t max_wav_data = int64_t(0xFFFFFFFFu) - 36;
constexpr int wav_too_large = -1;  // write_wav's reason for data beyond max_wav_data

// Writes `count` frames of `channels` interleaved samples each (16-bit scale;
// `samples` holds count * channels values) as a WAV file, or to standard
// output for the path "-". `bits` is 8, 16, 24, 32 or 64; `format` 3 with 32
// bits writes floats. A value that is not a number is written as silence.
// The file is written whole or not at all (see OutputFile): a failed write
// leaves no part of a file, and an earlier file at the path stays as it was.
// Returns data size + 44, or -1 when the file cannot be created or written,
// the bit depth is not one of those, or the data would not fit 32-bit sizes;
// `error` (when given) then gets the reason: wav_too_large for the size,
// otherwise an errno value (EINVAL for bad arguments); 0 on success.
int64_t write_wav(const wchar_t* path, const double* samples, int64_t count, int bits, int channels,
                  int rate, int format, int* error = nullptr);

// The 16-bit values write_wav stores for samples x[0 .. n - 1] at 16 bits: not
// a number gives 0, the rest is clamped and truncated towards zero.
void samples_to_16(const double* x, int64_t n, int16_t* out);

// The program's note: `count` samples as a 44100 Hz 16-bit mono integer WAV
// through write_wav. False after "Cannot write %s: %s\n" (the path, or
// "standard output" for "-", and the reason) on standard error.
bool write_note(const wchar_t* path, const double* samples, int64_t count);

}  // namespace velorin
