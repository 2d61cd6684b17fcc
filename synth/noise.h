// synth/noise.h: the breath's noise: the C runtime's generator, reproduced so
// that every build and host draws the same values.
#pragma once

#include <cstdint>

namespace velorin {

// The C runtime's generator, reproduced so that every build and host draws the
// same noise. Never seeded: the state starts at 1.
struct CrtRand {
    uint32_t state = 1;
};

inline int crt_rand(CrtRand& r) {
    r.state = r.state * 214013u + 2531011u;
    return static_cast<int>((r.state >> 16) & 0x7fff);
}

// Moves the generator on by n draws at once (the same state as n calls).
inline void crt_rand_skip(CrtRand& r, uint64_t n) {
    uint32_t mul = 214013u, add = 2531011u;  // one draw: state * mul + add
    uint32_t skip_mul = 1u, skip_add = 0u;   // the draws taken so far
    for (; n > 0; n >>= 1) {
        if (n & 1) {
            skip_mul *= mul;
            skip_add = skip_add * mul + add;
        }
        add = add * (mul + 1u);  // twice the current step
        mul *= mul;
    }
    r.state = r.state * skip_mul + skip_add;
}

// One noise value, uniform in -16384..16384.
inline double noise_of_draw(int draw) { return draw * 32768.0 / 32767.0 - 16384.0; }
inline double noise_value(CrtRand& r) { return noise_of_draw(crt_rand(r)); }

// The next n noise values into out[0 .. n - 1] and the generator moved on by
// n draws: the same as n calls of noise_value, in two chains of every second
// draw, so that the conversions need not wait for each draw.
void fill_noise(CrtRand& r, double* out, int n);

}  // namespace velorin
