// fuzz/fuzz_render_reader.cpp: the render passes' sinc reader on arbitrary
// widths, positions and data. Reads side by side give the scalar reader's
// very bits at every lane width this processor runs, and finite data read
// finite values. (A NaN in the data reads as NaN at every width, but which
// NaN's payload comes through depends on the order of the operands, as
// nothing after the reader can tell.)
#include <cmath>

#include "fuzz/fuzz_support.h"
#include "simd/simd.h"
#include "synth/render_reader.h"

using namespace velorin;

namespace {

double f64_at(const uint8_t* p) {
    double v;
    std::memcpy(&v, p, 8);
    return v;
}

}  // namespace

// Input: the width (8 bytes), channels and position count (1 byte each), the
// positions (8 bytes each), then the buffer's doubles.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 10) return 0;
    const double width = f64_at(data);
    // A read costs four taps per unit of width: the passes read with the
    // rate ratio, a few units at most.
    if (width > 1024.0) return 0;
    const int channels = 1 + data[8] % 3;
    const int n = 1 + data[9] % 24;
    if (size < 10 + 8 * size_t(n)) return 0;
    std::vector<double> x(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) x[size_t(i)] = f64_at(data + 10 + 8 * i);
    const size_t head = 10 + 8 * size_t(n);
    const int64_t frames = int64_t((size - head) / 8 / size_t(channels));
    std::vector<double> buf(size_t(frames * channels) + 1, 0.0);  // never empty
    bool tame = true;
    for (size_t i = 0; i + 1 < buf.size(); ++i) {
        buf[i] = f64_at(data + head + 8 * i);
        if (!(std::fabs(buf[i]) < 1e300)) tame = false;
    }
    std::vector<double> want(static_cast<size_t>(n)), got(want.size());
    for (int i = 0; i < n; ++i) {
        want[size_t(i)] = sinc_read_render(x[size_t(i)], buf.data(), width, channels, frames);
        if (tame && !std::isfinite(want[size_t(i)])) __builtin_trap();
    }
    for (SimdWidth lanes : {SimdWidth::scalar, SimdWidth::pair, SimdWidth::avx}) {
        if (int(lanes) > int(simd_width_available())) break;
        sinc_read_render_many(lanes, x.data(), n, buf.data(), width, channels, frames, got.data());
        for (int i = 0; i < n; ++i) {
            const double a = want[size_t(i)], b = got[size_t(i)];
            if (std::memcmp(&a, &b, 8) != 0 && !(std::isnan(a) && std::isnan(b))) __builtin_trap();
        }
    }
    return 0;
}
