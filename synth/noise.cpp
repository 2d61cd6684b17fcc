// synth/noise.cpp: the breath's noise in bulk.
#include "synth/noise.h"

namespace velorin {

void fill_noise(CrtRand& r, double* out, int n) {
    if (n < 2) {
        for (int i = 0; i < n; ++i) out[i] = noise_value(r);
        return;
    }
    // Two chains of every second draw: state * mul2 + add2 is two draws on.
    constexpr uint32_t mul = 214013u, add = 2531011u;
    constexpr uint32_t mul2 = mul * mul, add2 = add * mul + add;
    uint32_t a = r.state * mul + add;  // draw i
    uint32_t b = a * mul + add;        // draw i + 1
    int i = 0;
    for (;;) {
        out[i] = noise_of_draw(static_cast<int>((a >> 16) & 0x7fff));
        out[i + 1] = noise_of_draw(static_cast<int>((b >> 16) & 0x7fff));
        i += 2;
        if (i + 2 > n) break;
        a = a * mul2 + add2;
        b = b * mul2 + add2;
    }
    r.state = b;
    if (i < n) out[i] = noise_value(r);  // an odd count leaves one
}

}  // namespace velorin
