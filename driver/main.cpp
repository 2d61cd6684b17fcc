// driver/main.cpp: the system's entry point, handing wide arguments to
// velorin_main.
#include <string>
#include <vector>

#include "driver/run.h"
#include "platform/platform.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return velorin::velorin_main(argc, argv); }
#else
int main(int argc, char** argv) {
    std::vector<std::wstring> wide;
    for (int i = 0; i < argc; ++i) wide.push_back(velorin::widen_text(argv[i]));
    std::vector<wchar_t*> ptrs;
    for (std::wstring& w : wide) ptrs.push_back(&w[0]);
    ptrs.push_back(nullptr);
    return velorin::velorin_main(argc, ptrs.data());
}
#endif
