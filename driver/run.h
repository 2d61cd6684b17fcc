// driver/run.h: the program's entry point, independent of how the system
// hands over the command line.
#pragma once

namespace velorin {

// One run of velorin: wide arguments in, exit code out (99 for the usage
// banner and for an input that cannot be loaded, 0 otherwise).
int velorin_main(int argc, wchar_t** argv);

}  // namespace velorin
