// driver/run.cpp: one run of velorin, from the command line to the output.
#include "driver/run.h"

#include "driver/params.h"
#include "driver/render.h"

namespace velorin {

int velorin_main(int argc, wchar_t** argv) {
    RenderParams params;
    const int code = parse_invocation(argc, argv, &params);
    if (code != 0) return code;
    return render_note(params);
}

}  // namespace velorin
