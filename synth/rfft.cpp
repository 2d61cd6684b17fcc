// synth/rfft.cpp: in-place real FFT of a power-of-two block.
#include "synth/rfft.h"

#include <cstdint>
#include <utility>

#include "synth/lane_kernels.h"

namespace velorin {

namespace {

// The sizes whose transforms need no permutation (synth/rfft_lanes.h).
constexpr int min_gathered = 64, max_gathered = 2048;

// The final (m, l) of the bit-reversal table's construction for size n:
// m == l for even powers of two, 2m == l for odd ones.
void bitrev_shape(int n, int* m_out, int* l_out) {
    int l = n;
    int m = 1;
    do {
        l /= 2;
        m *= 2;
    } while (2 * m < l);
    *m_out = m;
    *l_out = l;
}

// Puts the block into bit-reversed order. Each k < m pairs with every j < k
// through the table's offsets; for odd powers of two the upper half of every
// pair of rows is swapped the same way, m further on.
void bitrev_permute(int n, double* a, const int32_t* ip) {
    if (n <= 2) return;
    int m = 0, l = 0;
    bitrev_shape(n, &m, &l);
    const bool odd = 2 * m == l;
    for (int k = 1; k < m; ++k) {
        for (int j = 0; j < k; ++j) {
            std::swap(a[j + ip[k]], a[k + ip[j]]);
            if (odd) std::swap(a[j + ip[k] + m], a[k + ip[j] + m]);
        }
    }
}

}  // namespace

void rfft_forward(SimdWidth lanes, int n, double* a, const double* twiddles,
                  const int32_t* bitrev) {
    const LaneKernels& k = lane_kernels(lanes);
    if (n >= min_gathered && n <= max_gathered) return k.rfft_forward_gathered(n, a, twiddles);
    bitrev_permute(n, a, bitrev);
    k.rfft_forward_stages(n, 2, a, twiddles);
}

void rfft_inverse(SimdWidth lanes, int n, double* a, const double* twiddles,
                  const int32_t* bitrev) {
    a[0] = a[0] * 0.5;
    if (n >= 2) a[n / 2] = a[n / 2] * 0.5;
    const LaneKernels& k = lane_kernels(lanes);
    if (n >= min_gathered && n <= max_gathered) return k.rfft_inverse_gathered(n, a, twiddles);
    k.rfft_inverse_stages(n, n, 2, a, twiddles);
    bitrev_permute(n, a, bitrev);
}

}  // namespace velorin
