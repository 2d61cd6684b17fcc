// driver/run.cpp: one run of velorin, from the command line to the output.
#include "driver/run.h"

#include <cstdio>

#include "platform/console.h"

namespace velorin {

int velorin_main(int argc, wchar_t** argv) {
    (void)argv;
    if (argc <= 1) {
        sayf(stdout, "velorin.exe ver%d.%02d test for x%d\n", 0, 5, sizeof(void*) == 8 ? 64 : 86);
        return 99;
    }
    return 0;
}

}  // namespace velorin
