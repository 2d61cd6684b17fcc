// frq/freq_list.h: the frequency list record, its file beside the sample and
// the rule that places it there.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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

// The rule backwards: the sample a list path belongs to. "voice_wav.frq"
// gives "voice.wav" where that file exists, else "voice_wav" (a sample named
// so, "voice.aif.frq" gives "voice.aif"); a path that is not a list path is
// returned unchanged.
std::wstring sample_of_list(const std::wstring& list_path);

// Why a list was refused.
enum class ListFault {
    none,
    path_too_long,  // the derived list path does not fit
    missing,        // no list file
    stale,          // a read-only list older than its sample
    unreadable,     // the file cannot be opened or read
    too_short,      // shorter than the 40-byte header
    bad_magic,      // does not start with "FREQ000"
    bad_step,       // step <= 0
    bad_count,      // frame count <= 0
    cut_short,      // fewer frames than the header promises
    no_memory,
    // Readable, but not a voice sample's list (freq_list_plausible): velorin
    // renders with such a list, the voicebank tools refuse to draw or repair it.
    implausible_step,    // a step no analysis takes
    implausible_rate,    // a sample rate no sample has
    implausible_length,  // more sound than a day's
};

struct ListRefusal {
    ListFault fault = ListFault::none;
    int64_t bytes = 0;  // the file's size, where it was read
    int32_t step = 0;   // the header's step, count and rate, where it has them
    int32_t count = 0;
    int32_t rate = 0;
};

// The header a voice sample's list can have: a step of 1 to plausible_step_max
// samples, a rate of plausible_rate_min to plausible_rate_max Hz, and at most
// plausible_seconds_max of sound.
constexpr int32_t plausible_step_max = 16384;
constexpr int32_t plausible_rate_min = 1000;
constexpr int32_t plausible_rate_max = 1000000;
constexpr double plausible_seconds_max = 86400.0;
bool freq_list_plausible(const FreqList& list, ListRefusal* why = nullptr);

// One line of English for a refusal ("the list's step is 0, not above 0").
std::string list_refusal_text(const ListRefusal& why);

// Reads the list of a sample path or a list path. Null when the list is
// missing, unreadable or unusable: a wrong magic, a step <= 0, a count <= 0 or
// one the file does not hold are all treated like a missing file, so the list
// is generated anew. Given a sample path, also null when the sample is newer
// than a read-only list. *why, when given, says which.
FreqList* read_freq_list(const wchar_t* path, ListRefusal* why = nullptr);

// The file's content from `src`: null for a wrong magic, a step <= 0, a count
// <= 0 or one the bytes do not hold, with the reason in *why when given.
FreqList* freq_list_from(ByteSource& src, ListRefusal* why = nullptr);

// Writes the list beside the sample (or to the list path). The file is
// written under a temporary name in the same folder and renamed into place,
// so a reader sees the old file or the new one, never part of one. A
// read-only list file is left alone. 1 written, 0 not (nothing left behind).
int write_freq_list(const wchar_t* path, const FreqList* list);

// The file's bytes for a list (the guard entry is not stored).
std::vector<uint8_t> freq_list_bytes(const FreqList& list);

void free_freq_list(FreqList* list);  // null is ignored

// Owns a list and frees it.
struct FreqListFree {
    void operator()(FreqList* f) const { free_freq_list(f); }
};
using FreqListPtr = std::unique_ptr<FreqList, FreqListFree>;

}  // namespace velorin
