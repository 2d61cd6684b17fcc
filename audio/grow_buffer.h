// audio/grow_buffer.h: a byte buffer that grows as a stream is read, for the
// readers that cannot know beforehand how much a file or a pipe holds.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "audio/byte_source.h"

namespace velorin {

// Bytes [0, size) hold data; the storage comes from malloc/realloc, so the
// finished buffer is handed out and freed with release() from platform/mem.h.
// Growth failures are reported, never thrown.
struct GrowBuffer {
    uint8_t* data = nullptr;
    int64_t size = 0;
    int64_t capacity = 0;
};

// Makes room for at least `n` bytes in total. False when memory runs out.
inline bool grow_reserve(GrowBuffer& b, int64_t n) {
    if (n <= b.capacity) return true;
    if (n < 0 || static_cast<uint64_t>(n) > SIZE_MAX) return false;
    int64_t cap = b.capacity > 0 ? b.capacity : 4096;
    while (cap < n) cap = cap > INT64_MAX / 2 ? n : cap * 2;
    if (static_cast<uint64_t>(cap) > SIZE_MAX) cap = n;
    void* p = std::realloc(b.data, static_cast<size_t>(cap));
    if (!p) return false;
    b.data = static_cast<uint8_t*>(p);
    b.capacity = cap;
    return true;
}

// Reads from `src` in pieces of `piece` bytes until `limit` bytes are held (a
// negative limit: until the stream ends). Growing by pieces keeps the memory in
// step with what the stream really supplies, whatever a header claims.
// False only when memory runs out; a short stream is not an error here.
inline bool grow_read(GrowBuffer& b, ByteSource& src, int64_t limit, int64_t piece) {
    for (;;) {
        int64_t want = piece;
        if (limit >= 0) {
            if (b.size >= limit) return true;
            if (limit - b.size < want) want = limit - b.size;
        }
        if (!grow_reserve(b, b.size + want)) return false;
        size_t got = source_read(src, b.data + b.size, static_cast<size_t>(want));
        b.size += static_cast<int64_t>(got);
        if (got < static_cast<size_t>(want)) return true;
    }
}

// Appends `n` zero bytes.
inline bool grow_zeros(GrowBuffer& b, int64_t n) {
    if (n < 0 || !grow_reserve(b, b.size + n)) return false;
    if (n == 0) return true;  // the storage may not exist yet
    std::memset(b.data + b.size, 0, static_cast<size_t>(n));
    b.size += n;
    return true;
}

inline void grow_free(GrowBuffer& b) {
    std::free(b.data);
    b = GrowBuffer{};
}

}  // namespace velorin
