// audio/bytes.h: little- and big-endian fields decoded from bytes.
#pragma once

#include <cstdint>
#include <cstring>

namespace velorin {

inline uint16_t le_u16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t le_u32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline double le_f64(const uint8_t* p) {
    uint64_t u = le_u32(p) | uint64_t(le_u32(p + 4)) << 32;
    double d;
    std::memcpy(&d, &u, sizeof d);
    return d;
}
inline float le_f32(const uint8_t* p) {
    uint32_t u = le_u32(p);
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}
inline uint16_t be_u16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t be_u32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

inline void put_le_u16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put_le_u32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void put_le_f64(uint8_t* p, double d) {
    uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    put_le_u32(p, uint32_t(u));
    put_le_u32(p + 4, uint32_t(u >> 32));
}

inline bool same_id(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

}  // namespace velorin
