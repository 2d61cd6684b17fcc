// driver/note_size.h: the largest note a run takes on.
#pragma once

#include <cstdint>

namespace velorin {

// The peak memory of a run in bytes, by its buffers: the loaded sample
// (`sample_frames` frames of `channels` doubles plus the appended frames),
// then either the analysis of the sample or the render buffers of an
// `outlen`-sample note, whichever is larger.
int64_t note_memory(int64_t outlen, int64_t sample_frames, int channels);

// True when the note can be rendered and written: its samples fit a WAV file
// (4 GiB of data) and note_memory is within `physical` bytes (0: unknown, not
// checked). Otherwise false after one of "Note too long: %ld samples do not
// fit a WAV file.\n" or "Note too long: it needs %lld MiB of memory, the
// machine has %lld MiB.\n" on standard error.
bool note_size_ok(int64_t outlen, int64_t sample_frames, int channels, int64_t physical);

}  // namespace velorin
