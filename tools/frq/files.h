// tools/frq/files.h: the samples and lists velorin-frq works on, and how it
// writes and says things.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "frq/freq_list.h"

namespace velorin {

std::string utf8(const std::wstring& w);
// printf into a string of whatever length the text needs (C99 formats, %zu
// included, on every system).
std::string text_printf(const char* format, ...)
#if defined(__MINGW32__)
    __attribute__((format(gnu_printf, 1, 2)))
#elif defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
void tell_text(FILE* stream, const std::wstring& text);
double seconds_since(int64_t start);  // since a perf_counter reading

// A sample is what velorin's analysis loader reads.
bool is_sample(const std::wstring& path);

// A path that could not be taken, and why.
struct Failure {
    std::wstring path;
    std::string reason;
};

// Samples under a folder, depth first, by name.
void walk(const std::wstring& folder, std::vector<std::wstring>* samples,
          std::vector<Failure>* failures);

// The samples the command line names (folders walked); what is not a sample
// is a failure. Each sample once.
std::vector<std::wstring> gather(const std::vector<std::wstring>& paths,
                                 std::vector<Failure>* failures);

// The list path of a sample or list path (empty when too long), and whether
// a path names a list.
std::wstring list_path_of(const std::wstring& path);
bool is_list_path(const std::wstring& path);

// Why the analysis of a sample gave nothing.
std::string analysis_fault(const std::wstring& path);

// The list velorin would use for a sample or a list path; for a sample
// without a list, the analysis makes one (and writes it, as velorin would).
// Null with the reason, also for a list that is no voice sample's
// (freq_list_plausible): the commands bound their work by a plausible header.
FreqList* load_list(const std::wstring& path, std::string* why);

// The list file at a list path, as load_list takes it, never analysed anew.
FreqList* read_list_file(const std::wstring& list_path, std::string* why);

// Text written whole or not at all (audio/output_file.h).
bool write_text_file(const std::wstring& path, const std::string& text);

// The last part of a path.
std::wstring file_name(const std::wstring& path);

}  // namespace velorin
