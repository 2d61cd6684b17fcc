// fuzz/fuzz_support.h: helpers the fuzz entry points share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "audio/byte_source.h"
#include "audio/bytes.h"
#include "frq/freq_list.h"

namespace velorin {

// True when some 4-byte `id` in the input is followed by a size field above
// `limit`. Every chunk a reader can meet lies somewhere in the input, so
// refusing such inputs bounds what any chunk may claim. Big-endian sizes for
// AIFF, little-endian for RIFF.
inline bool claims_over(const uint8_t* data, size_t size, const char* id, uint32_t limit,
                        bool big_endian) {
    for (size_t i = 0; i + 8 <= size; ++i) {
        if (std::memcmp(data + i, id, 4) != 0) continue;
        const uint32_t n = big_endian ? be_u32(data + i + 4) : le_u32(data + i + 4);
        if (n > limit) return true;
    }
    return false;
}

// The input up to the first zero byte, split into lines, as wide arguments
// (bytes taken as Latin-1, so every input is some argument vector);
// `rest` gets the bytes after the zero byte.
inline std::vector<std::wstring> split_lines(const uint8_t* data, size_t size, size_t* rest) {
    std::vector<std::wstring> lines(1);
    size_t i = 0;
    for (; i < size && data[i] != 0; ++i) {
        if (data[i] == '\n')
            lines.emplace_back();
        else
            lines.back() += wchar_t(data[i]);
    }
    if (rest) *rest = i < size ? i + 1 : size;
    return lines;
}

// The list the bytes hold where velorin-frq takes it (read, and a header a
// voice sample's list can have); null otherwise.
inline FreqListPtr voicebank_list(const uint8_t* data, size_t size) {
    ByteSource src = memory_source(data, size);
    FreqListPtr list(freq_list_from(src));
    if (list && !freq_list_plausible(*list)) list.reset();
    return list;
}

}  // namespace velorin
