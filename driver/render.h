// driver/render.h: the render driver, from the parsed command line to the
// output file.
#pragma once

#include "audio/wav.h"
#include "driver/params.h"
#include "frq/freq_list.h"
#include "platform/mem.h"

namespace velorin {

// Where the time of a run went, in milliseconds (for benchmarks).
struct RenderStats {
    double first_pass_ms = 0.0;
    double second_pass_ms = 0.0;
    double passes_ms = 0.0;  // the timing line's figure
    bool note_written = false;
};

// The exit code of a run that loaded its input but leaves no note: the note
// was refused as too long, or its output could not be written.
constexpr int exit_failed = 1;

// One run after parsing: returns the exit code (99 when the input cannot be
// loaded, exit_failed when the note is refused or cannot be written, 0
// otherwise). May switch `params.verbose` (flag G).
int render_note(RenderParams& params, RenderStats* stats = nullptr);

// A sample loaded whole for any number of notes: every frame converted (with
// the zero frames the readers look into appended), read-only while notes
// render from it, on any threads.
struct LoadedSample {
    Buffer<double> frames;  // (ssize + 2048) * channels doubles on the 16-bit scale
    WavFormat fmt;
    int64_t ssize = 0;
};

// Loads a WAV file as render_note reads it; false when render_note could not
// load it either. load_sample_from converts stored bytes the caller holds
// (open_wav_stored's or wav_stored_from's).
bool load_sample(const wchar_t* path, LoadedSample* out);
bool load_sample_from(const StoredSamples& stored, const WavFormat& fmt, int64_t ssize,
                      LoadedSample* out);

// A rendered note: `count` samples on the 16-bit scale, normalised, as
// render_note would write them.
struct NoteSamples {
    Buffer<double> samples;
    int64_t count = 0;
};

// One note from a loaded sample and its list, with render_note's checks,
// messages and numbers; params' paths and `regenerate` are not read. -1 with
// the note in `note`, otherwise the exit code render_note would give (0 for a
// region refused, exit_failed for a note too long or memory refused).
int render_loaded(const RenderParams& params, const LoadedSample& sample, const FreqList& list,
                  NoteSamples* note, RenderStats* stats = nullptr);

}  // namespace velorin
