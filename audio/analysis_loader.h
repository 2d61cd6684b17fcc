// audio/analysis_loader.h: the sample as the pitch analysis reads it, loaded by
// the reader its extension calls for.
#pragma once

#include <cstdint>

#include "audio/wav.h"

namespace velorin {

// Raw interleaved sample data followed by `appended` zero frames, its format
// and its size in bytes without the appended frames, or null. The extension
// (the text from the last ".", any case) chooses: ".wav" the raw WAV reader,
// ".aif" and ".aiff" the AIFF reader, anything else (no "." too) the external
// decoders. Release the result with release().
uint8_t* read_for_analysis(const wchar_t* path, int appended, WavFormat* fmt, int64_t* data_size);

// True when read_for_analysis has a reader for the path by its extension: ".wav",
// ".aif", ".aiff", or a compressed form whose decoder variable is set. Tools that
// choose the samples of a folder ask this.
bool analysis_reads(const wchar_t* path);

}  // namespace velorin
