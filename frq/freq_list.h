// frq/freq_list.h: the frequency list record, its file beside the sample and
// the rule that places it there.
#pragma once

#include <cstdint>
#include <string>

#include "audio/byte_source.h"

namespace velorin {

// One heap record; free_freq_list releases it with its arrays. `freq` and
// `amp` hold count + 1 entries: entry count repeats entry count - 1 (the guard
// entry), so a reader interpolating between frames k and k + 1 may take
// k + 1 == count without a bounds test.
struct FreqList {
    int32_t reserved = 0;
    int32_t step = 0;         // source samples between frames
    int32_t sample_rate = 0;  // Hz
    int32_t count = 0;        // frames
    double freq_avg = 0.0;    // Hz
    double* freq = nullptr;   // Hz per frame; 0 (or anything <= 1) is unvoiced
    double* amp = nullptr;    // amplitude per frame
    int32_t* extra_a = nullptr;
    int32_t* extra_b = nullptr;
};

// A new record with zeroed `freq` and `amp` arrays of count + 1 entries and
// `count` set (count >= 1), or null when memory runs out. Every list, read or
// generated, is made here, so that free_freq_list can release it.
FreqList* alloc_freq_list(int32_t count);

// The list path for a sample path or a list path. False when the derived path
// does not fit the 512-character buffer (it is rejected, never truncated).
// `is_list_path` tells whether `path` named a list file already (it ends in
// ".frq"; that path is used unchanged). Otherwise ".frq" is appended and the
// first ".wav.frq" in the result becomes "_wav.frq".
bool freq_list_path(const wchar_t* path, std::wstring* list_path, bool* is_list_path);

// Reads the list of a sample path or a list path. Null when the list is
// missing, unreadable or unusable: a wrong magic, a step <= 0, a count <= 0 or
// one the file does not hold are all treated like a missing file, so the list
// is generated anew. Given a sample path, also null when the sample is newer
// than a read-only list.
FreqList* read_freq_list(const wchar_t* path);

// The file's content from `src`: null for a wrong magic, a step <= 0, a count
// <= 0 or one the bytes do not hold.
FreqList* freq_list_from(ByteSource& src);

// Writes the list beside the sample (or to the list path). The file is
// written under a temporary name in the same folder and renamed into place,
// so a reader sees the old file or the new one, never part of one. A
// read-only list file is left alone. 1 written, 0 not (nothing left behind).
int write_freq_list(const wchar_t* path, const FreqList* list);

void free_freq_list(FreqList* list);  // null is ignored

}  // namespace velorin
