// audio/aiff.h: 16-bit AIFF samples for the analysis.
#pragma once

#include <cstdint>

#include "audio/wav.h"

namespace velorin {

// Reads a 16-bit AIFF file as the raw WAV reader reads a WAV file: the
// samples as interleaved signed 16-bit values in native order, followed by
// appended * channels zero values; `data_size` gets the bytes of the samples
// proper and `fmt` a 16-bit integer PCM format. Null on failure, with a wide
// message on standard output for a file that cannot be opened, is not an
// AIFF file or is not 16-bit. A "COMM" that claims more frames than the file
// holds is cut to the frames present (a partial last frame is padded with
// zeros). Release with release().
uint8_t* read_aiff_raw(const wchar_t* path, int appended, WavFormat* fmt, int64_t* data_size);
// The same from bytes already open (no message about opening).
uint8_t* aiff_raw_from(ByteSource& src, int appended, WavFormat* fmt, int64_t* data_size);

// The rate stored as an 80-bit extended float (10 bytes, big-endian), whole
// hertz; 0 when it is out of the 32-bit range.
uint32_t aiff_rate(const uint8_t* p);

}  // namespace velorin
