// audio/output_file.h: files written whole or not at all.
#pragma once

#include <cstdio>
#include <string>

namespace velorin {

// A file under construction. A plain file is written under a temporary name
// in the same folder and renamed over its path when complete, so a reader
// sees the old file or the new one, never part of one, and a failed write
// leaves an earlier file as it was; the temporary file is known to the
// interruption handler, so a process ended meanwhile leaves none behind.
// Standard output (the path "-") and paths
// that are not plain files (a device such as "nul" or /dev/null, a pipe) are
// written in place.
struct OutputFile {
    FILE* stream = nullptr;
    std::wstring path;
    std::wstring temporary;  // empty when written in place
    bool to_stdout = false;
    int slot = -1;  // the temporary file's registration for an interruption
};

// A name beside `path` that no other writer uses at the same time: the
// process id tells processes apart, a counter the writes of one process.
std::wstring temporary_name(const std::wstring& path);

// Opens the stream. False when it cannot be created or `path` is a read-only
// file (errno tells why).
bool output_open(const wchar_t* path, OutputFile* out);

// Closes the stream and, when `ok` and the stream took every byte, moves the
// file into place; otherwise removes the temporary file. True when the file
// is in place. On false errno tells why (unchanged when `ok` was false).
bool output_close(OutputFile* out, bool ok);

}  // namespace velorin
