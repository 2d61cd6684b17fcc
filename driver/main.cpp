// driver/main.cpp: the system's entry point, handing wide arguments to
// velorin_main.
#include "driver/run.h"
#include "platform/platform.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return velorin::velorin_main(argc, argv); }
#else
int main(int argc, char** argv) {
    return velorin::main_with_wide_args(argc, argv, velorin::velorin_main);
}
#endif
