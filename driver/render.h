// driver/render.h: the render driver, from the parsed command line to the
// output file.
#pragma once

#include "driver/params.h"
#include "frq/freq_list.h"

namespace velorin {

// Where the time of a run went, in milliseconds (for benchmarks).
struct RenderStats {
    double first_pass_ms = 0.0;
    double second_pass_ms = 0.0;
    double passes_ms = 0.0;  // the timing line's figure
};

// The exit code of a run that loaded its input but leaves no note: the note
// was refused as too long, or its output could not be written.
constexpr int exit_failed = 1;

// One run after parsing: returns the exit code (99 when the input cannot be
// loaded, exit_failed when the note is refused or cannot be written, 0
// otherwise). May switch `params.verbose` (flag G).
int render_note(RenderParams& params, RenderStats* stats = nullptr);

}  // namespace velorin
