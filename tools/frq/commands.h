// tools/frq/commands.h: velorin-frq's commands, each returning its exit code
// (0 success, 1 anything failed, 130 interrupted).
#pragma once

#include <string>
#include <vector>

#include "frq/freq_list.h"
#include "tools/frq/summary.h"

namespace velorin {

// Writes the list of every sample under the paths, `jobs` at once (0: the
// processor count), each analysis on `threads` threads (0: one per
// processor); lists at least as new as their sample are kept unless `force`.
int analyse_command(const std::vector<std::wstring>& paths, int jobs, bool force, int threads = 0);

// The summary and octave jumps of samples or lists, or one CSV row per frame.
int info_command(const std::vector<std::wstring>& files, bool csv);

// Moves the octave jumps back, in place (`dry_run`: only says what it would).
int fix_command(const std::vector<std::wstring>& files, bool dry_run);

// One SVG picture of a sample or list (`out` empty: beside the list).
int plot_command(const std::wstring& file, std::wstring out);

// The pieces of info and fix, on a list in memory.
std::string info_text(const FreqList& l, const ListSummary& s);  // after the path's line
std::string csv_text(const std::wstring* path, const FreqList& l, const ListSummary& s);
// Moves each suspicious frame back (octave_fixed) and says so in *lines, one
// line per frame moved; the number of frames moved.
int fix_frames(FreqList* l, const ListSummary& s, std::string* lines);

// One HTML page of every sample of a folder, worst first.
int report_command(const std::wstring& folder, const std::wstring& out);

}  // namespace velorin
