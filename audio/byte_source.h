// audio/byte_source.h: the bytes a reader parses, from memory or from an open
// stream, taken in pieces.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace velorin {

// Either a span of bytes in memory (`file` null) or an open stream. The
// parsers see nothing but read and skip, so one parser serves a file read
// piece by piece, a decoder's pipe and a buffer handed in by a test.
struct ByteSource {
    const uint8_t* data = nullptr;
    int64_t size = 0;  // bytes in `data`
    int64_t pos = 0;   // next byte of `data` to read
    FILE* file = nullptr;
};

inline ByteSource memory_source(const uint8_t* data, size_t size) {
    ByteSource s;
    s.data = data;
    s.size = data ? static_cast<int64_t>(size) : 0;
    return s;
}

inline ByteSource stream_source(FILE* f) {
    ByteSource s;
    s.file = f;
    return s;
}

// Copies up to `n` bytes to `dst` and returns how many there were; fewer
// than `n` only at the end of the bytes.
inline size_t source_read(ByteSource& s, void* dst, size_t n) {
    if (s.file) return std::fread(dst, 1, n, s.file);
    const int64_t left = s.size - s.pos;
    const size_t got = static_cast<uint64_t>(left) < n ? static_cast<size_t>(left) : n;
    if (got > 0) std::memcpy(dst, s.data + s.pos, got);
    s.pos += static_cast<int64_t>(got);
    return got;
}

// Reads and drops `n` bytes. False when the bytes end first.
inline bool source_skip(ByteSource& s, uint64_t n) {
    if (!s.file) {
        const uint64_t left = static_cast<uint64_t>(s.size - s.pos);
        s.pos = n > left ? s.size : s.pos + static_cast<int64_t>(n);
        return n <= left;
    }
    uint8_t scratch[4096];
    while (n > 0) {
        size_t want = n < sizeof scratch ? static_cast<size_t>(n) : sizeof scratch;
        if (std::fread(scratch, 1, want, s.file) != want) return false;
        n -= want;
    }
    return true;
}

// The position of the next byte from the start of the bytes, or -1 when a
// stream cannot tell (a pipe).
inline int64_t source_tell(const ByteSource& s) { return s.file ? file_tell(s.file) : s.pos; }

// How many bytes there are in all, or -1 when a stream cannot say (it is not
// a plain file).
inline int64_t source_size(const ByteSource& s) { return s.file ? file_size(s.file) : s.size; }

// Moves to byte `pos` from the start. False when a stream cannot seek or pos
// lies outside bytes in memory; the position is then unspecified.
inline bool source_seek(ByteSource& s, int64_t pos) {
    if (s.file) return file_seek(s.file, pos);
    if (pos < 0 || pos > s.size) return false;
    s.pos = pos;
    return true;
}

}  // namespace velorin
