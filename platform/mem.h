// platform/mem.h: the run's big buffers.
//
// alloc_zeroed<T>(n) returns n zeroed elements, or null when the size
// overflows or memory runs out: an allocation failure is reported by the
// caller, never a crash. release(p) frees such a buffer (null is ignored);
// Buffer<T> owns one and releases it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace velorin {

template <typename T>
T* alloc_zeroed(int64_t n) {
    if (n < 0) return nullptr;
    if (n == 0) n = 1;  // a valid, distinct pointer even for empty buffers
    if (static_cast<uint64_t>(n) > SIZE_MAX / sizeof(T)) return nullptr;
    return static_cast<T*>(std::calloc(static_cast<size_t>(n), sizeof(T)));
}

template <typename T>
void release(T* p) {
    std::free(const_cast<void*>(static_cast<const void*>(p)));
}

template <typename T>
struct Released {
    void operator()(T* p) const { release(p); }
};
template <typename T>
using Buffer = std::unique_ptr<T, Released<T>>;

}  // namespace velorin
