// tests/windows/stand_in_decoder.cpp: a stand-in for the FLAC decoder in the Windows runs.
//
// Called as `decoder --decode --stdout PATH`, like the real one, it copies PATH (a WAV file
// under another name) to standard output in binary mode. Any other command line ends with
// exit code 2, so a run that reaches the analysis proves that the quoted command line came
// through intact, a path with spaces, non-ASCII letters, '%', '^' and '&' included.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 4 || std::wcscmp(argv[1], L"--decode") != 0 ||
        std::wcscmp(argv[2], L"--stdout") != 0) {
        std::fputs("stand-in decoder: unexpected command line\n", stderr);
        return 2;
    }
    FILE* in = _wfopen(argv[3], L"rb");
    if (!in) {
        std::fputs("stand-in decoder: cannot open the sample\n", stderr);
        return 3;
    }
    _setmode(_fileno(stdout), _O_BINARY);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) std::fwrite(buf, 1, n, stdout);
    std::fclose(in);
    std::fflush(stdout);
    return 0;
}
