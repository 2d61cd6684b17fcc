// driver/run.cpp: one run of velorin, from the command line to the output.
#include "driver/run.h"

#include "driver/params.h"
#include "driver/render.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "simd/simd.h"

namespace velorin {

int velorin_main(int argc, wchar_t** argv) {
    // A host that stops reading the WAV stream gets an exit code, not a
    // process ended by a signal.
    broken_pipe_is_an_error();
    // A VELORIN_SIMD value that cannot be taken is said once; the run goes on.
    if (*simd_width_complaint()) sayf(stderr, "%s\n", simd_width_complaint());
    RenderParams params;
    const int code = parse_invocation(argc, argv, &params);
    if (code != 0) return code;
    return render_note(params);
}

}  // namespace velorin
