// audio/decoder_pipe.h: compressed samples for the analysis, decoded by an
// external program that writes a WAV stream to its standard output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/wav.h"

namespace velorin {

// How long a decoder may take to end once its stream is over, before it is
// ended by force.
constexpr int decoder_wait_ms = 3000;

// The text of `path` from its last ".", ASCII letters in lower case; empty
// when there is no ".". Readers are chosen by it.
std::wstring lower_extension(const wchar_t* path);

// The decoder's argument vector for a sample path, by its extension (the text
// from the last ".", any case) and the first matching row of the decoder table
// whose environment variable is set ("flacpath", "lamepath", "oggdecpath",
// "faadpath", "nerodecpath"): the variable's value, the decoder's fixed
// options and the sample path as one argument. False when no row applies.
bool decoder_command(const wchar_t* path, std::vector<std::wstring>* argv);

// Runs one decoder and reads its stream: a 44-byte canonical WAV header (the
// "fmt " fields at offset 12; the "data" size is ignored), then the samples to
// the end of the stream. Returns the sample bytes followed by appended *
// block_align zero bytes, `fmt`, and the byte count of the samples proper, or
// null: silently when the decoder cannot start or its format is unusable,
// with "失敗\n" (wide, standard output) when the stream does not start with a
// RIFF/WAVE header. A decoder that fails after a valid header yields what it
// wrote. The decoder is always waited for, up to `wait_ms` after its stream
// ends, then ended. Release the result with release().
uint8_t* read_pipe_wav(const std::vector<std::wstring>& argv, int appended, WavFormat* fmt,
                       int64_t* data_size, int wait_ms = decoder_wait_ms);

// The stream part of read_pipe_wav: header and samples from `src`, the same
// results and messages.
uint8_t* decoder_stream_from(ByteSource& src, int appended, WavFormat* fmt, int64_t* data_size);

// Raw sample data of any sample the decoders can read: ".wav" through the raw
// WAV reader, other extensions through decoder_command and read_pipe_wav.
// Null, without a message, when no decoder applies.
uint8_t* read_decoded(const wchar_t* path, int appended, WavFormat* fmt, int64_t* data_size,
                      int wait_ms = decoder_wait_ms);

}  // namespace velorin
