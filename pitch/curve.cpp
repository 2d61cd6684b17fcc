// pitch/curve.cpp: heap curves and texts, and the delta-order prediction.
#include "pitch/curve.h"

#include <cstring>

#include "platform/mem.h"

namespace velorin {

namespace {

int effective_order(int order, size_t j) {  // j counts from 0 here
    if (order <= 0) return 0;
    const int m = order > 3 ? 3 : order;
    return static_cast<size_t>(m) < j ? m : static_cast<int>(j);
}

// The prediction for point j from the points before it. 64-bit, so that
// three times a predicted value of any rebuilt or given point cannot overflow.
template <typename T>
int64_t predict(const T* x, size_t j, int order) {
    switch (effective_order(order, j)) {
        case 1:
            return int64_t(x[j - 1]);
        case 2:
            return 2 * int64_t(x[j - 1]) - int64_t(x[j - 2]);
        case 3:
            return 3 * int64_t(x[j - 1]) - 3 * int64_t(x[j - 2]) + int64_t(x[j - 3]);
        default:
            return 0;
    }
}

}  // namespace

void free_pitch_curve(int16_t* curve) { release(curve); }

int16_t* new_pitch_curve(const std::vector<int16_t>& points) {
    if (points.empty()) return nullptr;
    const int n = points.size() > size_t(max_curve_points) ? max_curve_points
                                                           : static_cast<int>(points.size());
    int16_t* curve = alloc_zeroed<int16_t>(n + 1);
    if (!curve) return nullptr;
    curve[0] = static_cast<int16_t>(n);
    std::memcpy(curve + 1, points.data(), sizeof(int16_t) * n);
    return curve;
}

wchar_t* new_pitch_text(const std::wstring& text) {
    if (text.empty()) return nullptr;
    wchar_t* out = alloc_zeroed<wchar_t>(static_cast<int64_t>(text.size()) + 1);
    if (!out) return nullptr;
    std::memcpy(out, text.data(), sizeof(wchar_t) * text.size());
    return out;
}

void free_pitch_text(wchar_t* text) { release(text); }

std::vector<int32_t> delta_residuals(const int16_t* curve, int order) {
    std::vector<int32_t> r;
    if (!curve || curve[0] <= 0) return r;
    const int16_t* x = curve + 1;
    const size_t n = static_cast<size_t>(curve[0]);
    r.resize(n);
    for (size_t j = 0; j < n; ++j) r[j] = static_cast<int32_t>(x[j] - predict(x, j, order));
    return r;
}

// The codecs differ in whether the prediction uses the rebuilt values before
// or after they are narrowed to 16 bits. The prediction is an integer
// combination of earlier points, so both readings agree modulo 2^16, and the
// stored 16-bit point is the same either way; one routine serves all three.
std::vector<int16_t> rebuild_points(const std::vector<int32_t>& residuals, int order) {
    std::vector<int16_t> x(residuals.size());
    for (size_t j = 0; j < residuals.size(); ++j) {
        const uint64_t v = uint64_t(int64_t(residuals[j])) + uint64_t(predict(x.data(), j, order));
        x[j] = static_cast<int16_t>(static_cast<uint16_t>(v));
    }
    return x;
}

}  // namespace velorin
