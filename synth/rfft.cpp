// synth/rfft.cpp: in-place real FFT of a power-of-two block, and its tables.
#include "synth/rfft.h"

#include <cmath>
#include <utility>

namespace velorin {

namespace {

constexpr double two_pi = 6.283185307179586;

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

void build_twiddles(double* twiddles, int n) {
    if (n < 1) return;
    const double d = two_pi / n;
    for (int i = 0; i < n; ++i) {
        twiddles[2 * i] = std::cos(i * d);
        twiddles[2 * i + 1] = std::sin(i * d);
    }
}

void build_bitrev(int n, int32_t* bitrev) {
    if (n <= 2 || bitrev[0] != 0) return;
    int l = n;
    int m = 1;
    do {
        l /= 2;
        for (int j = 0; j < m; ++j) bitrev[m + j] = bitrev[j] + l;
        m *= 2;
    } while (2 * m < l);
}

void build_windows(double* hann, double* sine, int n) {
    if (n < 1) return;
    const double d = two_pi / n;
    for (int i = 0; i < n; ++i) {
        hann[i] = 0.5 - 0.5 * std::cos(i * d);
        sine[i] = std::sin(i * (d * 0.5));
    }
}

void rfft_forward(int n, double* a, const double* twiddles, const int32_t* bitrev) {
    bitrev_permute(n, a, bitrev);
    for (int size = 2; size <= n; size *= 2) {
        const int half = size / 2;
        const int quarter = size / 4;
        const int stride = n / size;
        for (int b = 0; b < n; b += size) {
            const double x0 = a[b];
            const double x1 = a[b + half];
            a[b + half] = x0 - x1;
            a[b] = x0 + x1;
            for (int j = 1; j < quarter; ++j) {
                const double c = twiddles[2 * (j * stride)];
                const double s = twiddles[2 * (j * stride) + 1];
                const int i1 = b + j, i2 = b + half - j, i3 = b + half + j, i4 = b + size - j;
                const double a1 = a[i1], a2 = a[i2], a3 = a[i3], a4 = a[i4];
                const double t1 = a4 * c + a3 * s;
                const double t2 = a3 * c - a4 * s;
                a[i3] = t1 - a2;
                a[i4] = t1 + a2;
                a[i2] = a1 - t2;
                a[i1] = a1 + t2;
            }
        }
    }
}

void rfft_inverse(int n, double* a, const double* twiddles, const int32_t* bitrev) {
    a[0] = a[0] * 0.5;
    if (n >= 2) a[n / 2] = a[n / 2] * 0.5;
    for (int size = n; size >= 2; size /= 2) {
        const int half = size / 2;
        const int quarter = size / 4;
        const int stride = n / size;
        for (int b = 0; b < n; b += size) {
            const double x0 = a[b];
            const double x1 = a[b + half];
            a[b] = x0 + x1;
            a[b + half] = x0 - x1;
            for (int j = 1; j < quarter; ++j) {
                const double c = twiddles[2 * (j * stride)];
                const double s = twiddles[2 * (j * stride) + 1];
                const int i1 = b + j, i2 = b + half - j, i3 = b + half + j, i4 = b + size - j;
                const double a1 = a[i1], a2 = a[i2], a3 = a[i3], a4 = a[i4];
                const double p = a3 + a4;
                const double q = a1 - a2;
                a[i1] = a1 + a2;
                a[i2] = a4 - a3;
                a[i3] = p * s + q * c;
                a[i4] = p * c - q * s;
            }
        }
    }
    bitrev_permute(n, a, bitrev);
}

}  // namespace velorin
