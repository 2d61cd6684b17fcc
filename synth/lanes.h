// synth/lanes.h: the lane types, the only place that names vector
// instructions.
//
// A kernel is written once as a template over a lane type V and instantiated
// per width: lanes::Scalar (one double), lanes::Sse2 (two) and lanes::Avx
// (four). Every operation below is one IEEE operation per lane (or a move of
// doubles), never a fused multiply-add, so a kernel gives each lane the very
// bits of the plain loop it stands for, whatever the width. A width's type
// exists only where the compiler is allowed that width's instructions: the
// AVX kernels live in their own translation units, built with -mavx
// (width_avx.cpp); see simd.h for how a run picks its width.
//
// Everything here has internal linkage, so a function compiled for AVX in
// one translation unit never stands in for the same function of another.
//
// To add a width: a type with the members and free functions of the others,
// a translation unit that instantiates the kernels with it (built with the
// width's flags), and an entry in SimdWidth.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__AVX__)
#include <immintrin.h>
#endif

namespace velorin {
namespace lanes {
namespace {

// ---- One double ----------------------------------------------------------

struct Scalar {
    static constexpr int n = 1;
    static constexpr int full = 1;  // bits() with every lane set
    double v;

    struct Mask {
        bool m;
    };

    static Scalar load(const double* p) { return {*p}; }
    static Scalar splat(double x) { return {x}; }
    static Scalar zero() { return {0.0}; }
    // first, first + 1, ... (whole numbers: exact)
    static Scalar ramp(double first) { return {first}; }
    // base[idx[k]] in lane k
    static Scalar gather(const double* base, const size_t* idx) { return {base[idx[0]]}; }
    static Scalar from(const double* lane) { return {lane[0]}; }
};

inline void store(double* p, Scalar a) { *p = a.v; }
inline Scalar operator+(Scalar a, Scalar b) { return {a.v + b.v}; }
inline Scalar operator-(Scalar a, Scalar b) { return {a.v - b.v}; }
inline Scalar operator*(Scalar a, Scalar b) { return {a.v * b.v}; }
inline Scalar operator/(Scalar a, Scalar b) { return {a.v / b.v}; }
inline Scalar sqrt(Scalar a) { return {std::sqrt(a.v)}; }
inline Scalar abs(Scalar a) { return {std::fabs(a.v)}; }
inline Scalar min(Scalar a, Scalar b) { return {a.v < b.v ? a.v : b.v}; }
inline Scalar negate(Scalar a) { return {-a.v}; }
inline Scalar reverse(Scalar a) { return a; }
// floor(a) for 0 <= a < 2^31, where the truncating conversion is the floor.
inline Scalar floor_small(Scalar a) { return {static_cast<double>(static_cast<int32_t>(a.v))}; }
// floor and ceiling for -1 < a < 2^31; the sign of a zero may differ from
// std::floor's, so use them only where the result is compared or converted.
inline Scalar floor_near(Scalar a) {
    const double t = static_cast<double>(static_cast<int32_t>(a.v));
    return {t > a.v ? t - 1.0 : t};
}
inline Scalar ceil_near(Scalar a) {
    const double t = static_cast<double>(static_cast<int32_t>(a.v));
    return {t < a.v ? t + 1.0 : t};
}
inline Scalar::Mask gt(Scalar a, Scalar b) { return {a.v > b.v}; }
inline Scalar::Mask lt(Scalar a, Scalar b) { return {a.v < b.v}; }
inline Scalar::Mask le(Scalar a, Scalar b) { return {a.v <= b.v}; }
inline Scalar::Mask eq(Scalar a, Scalar b) { return {a.v == b.v}; }
inline Scalar::Mask ne(Scalar a, Scalar b) { return {a.v != b.v}; }  // true for NaN
inline Scalar::Mask operator&(Scalar::Mask a, Scalar::Mask b) { return {a.m && b.m}; }
inline int bits(Scalar::Mask a) { return a.m ? 1 : 0; }
inline Scalar select(Scalar::Mask m, Scalar a, Scalar b) { return m.m ? a : b; }
// Lanes of `a` that are whole numbers from 0 to 2^32 - 1, as integers.
inline void whole(Scalar a, size_t* out) {
    out[0] = static_cast<uint32_t>(static_cast<int64_t>(a.v));
}
inline void lanes_of(Scalar a, double* out) { out[0] = a.v; }
// sum + lane 0 + lane 1 + ..., in that order
inline double add_in_order(double sum, Scalar a) { return sum + a.v; }
// Rows of four doubles, one per lane, as four columns: c[k] holds element
// k of every lane's row.
inline void columns(const double* const* rows, Scalar* c) {
    for (int k = 0; k < 4; ++k) c[k] = {rows[0][k]};
}
// p[2k] = a[k], p[2k + 1] = b[k]
inline void store_zipped(double* p, Scalar a, Scalar b) {
    p[0] = a.v;
    p[1] = b.v;
}
// lane k of `even` is lane 2k of the pair (a, b), lane k of `odd` lane 2k + 1.
inline void unzip(Scalar a, Scalar b, Scalar* even, Scalar* odd) {
    *even = a;
    *odd = b;
}

#if defined(__SSE2__)
// ---- Two doubles (SSE2) ----------------------------------------------------

struct Sse2 {
    static constexpr int n = 2;
    static constexpr int full = 3;  // bits() with every lane set
    __m128d v;

    struct Mask {
        __m128d m;
    };

    static Sse2 load(const double* p) { return {_mm_loadu_pd(p)}; }
    static Sse2 splat(double x) { return {_mm_set1_pd(x)}; }
    static Sse2 zero() { return {_mm_setzero_pd()}; }
    static Sse2 ramp(double first) { return {_mm_set_pd(first + 1, first)}; }
    static Sse2 gather(const double* base, const size_t* idx) {
        return {_mm_set_pd(base[idx[1]], base[idx[0]])};
    }
    static Sse2 from(const double* lane) { return {_mm_loadu_pd(lane)}; }
};

inline void store(double* p, Sse2 a) { _mm_storeu_pd(p, a.v); }
inline Sse2 operator+(Sse2 a, Sse2 b) { return {_mm_add_pd(a.v, b.v)}; }
inline Sse2 operator-(Sse2 a, Sse2 b) { return {_mm_sub_pd(a.v, b.v)}; }
inline Sse2 operator*(Sse2 a, Sse2 b) { return {_mm_mul_pd(a.v, b.v)}; }
inline Sse2 operator/(Sse2 a, Sse2 b) { return {_mm_div_pd(a.v, b.v)}; }
inline Sse2 sqrt(Sse2 a) { return {_mm_sqrt_pd(a.v)}; }
inline Sse2 abs(Sse2 a) { return {_mm_andnot_pd(_mm_set1_pd(-0.0), a.v)}; }
inline Sse2 min(Sse2 a, Sse2 b) { return {_mm_min_pd(a.v, b.v)}; }
inline Sse2 negate(Sse2 a) { return {_mm_xor_pd(a.v, _mm_set1_pd(-0.0))}; }
inline Sse2 reverse(Sse2 a) { return {_mm_shuffle_pd(a.v, a.v, 1)}; }
inline Sse2 floor_small(Sse2 a) { return {_mm_cvtepi32_pd(_mm_cvttpd_epi32(a.v))}; }
inline Sse2 floor_near(Sse2 a) {
    const __m128d t = _mm_cvtepi32_pd(_mm_cvttpd_epi32(a.v));
    return {_mm_sub_pd(t, _mm_and_pd(_mm_cmpgt_pd(t, a.v), _mm_set1_pd(1.0)))};
}
inline Sse2 ceil_near(Sse2 a) {
    const __m128d t = _mm_cvtepi32_pd(_mm_cvttpd_epi32(a.v));
    return {_mm_add_pd(t, _mm_and_pd(_mm_cmplt_pd(t, a.v), _mm_set1_pd(1.0)))};
}
inline Sse2::Mask gt(Sse2 a, Sse2 b) { return {_mm_cmpgt_pd(a.v, b.v)}; }
inline Sse2::Mask lt(Sse2 a, Sse2 b) { return {_mm_cmplt_pd(a.v, b.v)}; }
inline Sse2::Mask le(Sse2 a, Sse2 b) { return {_mm_cmple_pd(a.v, b.v)}; }
inline Sse2::Mask eq(Sse2 a, Sse2 b) { return {_mm_cmpeq_pd(a.v, b.v)}; }
inline Sse2::Mask ne(Sse2 a, Sse2 b) { return {_mm_cmpneq_pd(a.v, b.v)}; }
inline Sse2::Mask operator&(Sse2::Mask a, Sse2::Mask b) { return {_mm_and_pd(a.m, b.m)}; }
inline int bits(Sse2::Mask a) { return _mm_movemask_pd(a.m); }
// (Masks rather than a blend, which the compiler may turn into branches.)
inline Sse2 select(Sse2::Mask m, Sse2 a, Sse2 b) {
    return {_mm_or_pd(_mm_and_pd(m.m, a.v), _mm_andnot_pd(m.m, b.v))};
}
inline void whole(Sse2 a, size_t* out) {
    // Through a double's pattern: 2^52 + w holds w in its low 32 bits.
    uint32_t b[4];
    _mm_storeu_pd(reinterpret_cast<double*>(b), _mm_add_pd(a.v, _mm_set1_pd(4503599627370496.0)));
    out[0] = b[0];
    out[1] = b[2];
}
inline void lanes_of(Sse2 a, double* out) { _mm_storeu_pd(out, a.v); }
inline double add_in_order(double sum, Sse2 a) {
    sum += _mm_cvtsd_f64(a.v);
    return sum + _mm_cvtsd_f64(_mm_unpackhi_pd(a.v, a.v));
}
inline void columns(const double* const* rows, Sse2* c) {
    const __m128d a0 = _mm_loadu_pd(rows[0]), a1 = _mm_loadu_pd(rows[1]);
    const __m128d b0 = _mm_loadu_pd(rows[0] + 2), b1 = _mm_loadu_pd(rows[1] + 2);
    c[0] = {_mm_unpacklo_pd(a0, a1)};
    c[1] = {_mm_unpackhi_pd(a0, a1)};
    c[2] = {_mm_unpacklo_pd(b0, b1)};
    c[3] = {_mm_unpackhi_pd(b0, b1)};
}
inline void store_zipped(double* p, Sse2 a, Sse2 b) {
    _mm_storeu_pd(p, _mm_unpacklo_pd(a.v, b.v));
    _mm_storeu_pd(p + 2, _mm_unpackhi_pd(a.v, b.v));
}
inline void unzip(Sse2 a, Sse2 b, Sse2* even, Sse2* odd) {
    *even = {_mm_unpacklo_pd(a.v, b.v)};
    *odd = {_mm_unpackhi_pd(a.v, b.v)};
}
#endif

#if defined(__AVX__)
// ---- Four doubles (AVX) ----------------------------------------------------

struct Avx {
    static constexpr int n = 4;
    static constexpr int full = 15;  // bits() with every lane set
    __m256d v;

    struct Mask {
        __m256d m;
    };

    static Avx load(const double* p) { return {_mm256_loadu_pd(p)}; }
    static Avx splat(double x) { return {_mm256_set1_pd(x)}; }
    static Avx zero() { return {_mm256_setzero_pd()}; }
    static Avx ramp(double first) {
        return {_mm256_set_pd(first + 3, first + 2, first + 1, first)};
    }
    static Avx gather(const double* base, const size_t* idx) {
        return {_mm256_set_pd(base[idx[3]], base[idx[2]], base[idx[1]], base[idx[0]])};
    }
    static Avx from(const double* lane) { return {_mm256_loadu_pd(lane)}; }
};

inline void store(double* p, Avx a) { _mm256_storeu_pd(p, a.v); }
inline Avx operator+(Avx a, Avx b) { return {_mm256_add_pd(a.v, b.v)}; }
inline Avx operator-(Avx a, Avx b) { return {_mm256_sub_pd(a.v, b.v)}; }
inline Avx operator*(Avx a, Avx b) { return {_mm256_mul_pd(a.v, b.v)}; }
inline Avx operator/(Avx a, Avx b) { return {_mm256_div_pd(a.v, b.v)}; }
inline Avx sqrt(Avx a) { return {_mm256_sqrt_pd(a.v)}; }
inline Avx abs(Avx a) { return {_mm256_andnot_pd(_mm256_set1_pd(-0.0), a.v)}; }
inline Avx min(Avx a, Avx b) { return {_mm256_min_pd(a.v, b.v)}; }
inline Avx negate(Avx a) { return {_mm256_xor_pd(a.v, _mm256_set1_pd(-0.0))}; }
inline Avx reverse(Avx a) { return {_mm256_permute_pd(_mm256_permute2f128_pd(a.v, a.v, 1), 5)}; }
inline Avx floor_small(Avx a) { return {_mm256_floor_pd(a.v)}; }
inline Avx floor_near(Avx a) { return {_mm256_floor_pd(a.v)}; }
inline Avx ceil_near(Avx a) { return {_mm256_ceil_pd(a.v)}; }
inline Avx::Mask gt(Avx a, Avx b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_GT_OQ)}; }
inline Avx::Mask lt(Avx a, Avx b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_LT_OQ)}; }
inline Avx::Mask le(Avx a, Avx b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_LE_OQ)}; }
inline Avx::Mask eq(Avx a, Avx b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_EQ_OQ)}; }
inline Avx::Mask ne(Avx a, Avx b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_NEQ_UQ)}; }
inline Avx::Mask operator&(Avx::Mask a, Avx::Mask b) { return {_mm256_and_pd(a.m, b.m)}; }
inline int bits(Avx::Mask a) { return _mm256_movemask_pd(a.m); }
inline Avx select(Avx::Mask m, Avx a, Avx b) {
    return {_mm256_or_pd(_mm256_and_pd(m.m, a.v), _mm256_andnot_pd(m.m, b.v))};
}
inline void whole(Avx a, size_t* out) {
    // Through a double's pattern (no conversion instruction, no extraction
    // from the register): 2^52 + w holds w in its low 32 bits. The buffer is
    // unaligned: some targets do not align the stack beyond 16 bytes.
    uint32_t b[8];
    _mm256_storeu_pd(reinterpret_cast<double*>(b),
                     _mm256_add_pd(a.v, _mm256_set1_pd(4503599627370496.0)));
    for (int k = 0; k < 4; ++k) out[k] = b[2 * k];
}
inline void lanes_of(Avx a, double* out) { _mm256_storeu_pd(out, a.v); }
inline double add_in_order(double sum, Avx a) {
    const __m128d lo = _mm256_castpd256_pd128(a.v), hi = _mm256_extractf128_pd(a.v, 1);
    sum += _mm_cvtsd_f64(lo);
    sum += _mm_cvtsd_f64(_mm_unpackhi_pd(lo, lo));
    sum += _mm_cvtsd_f64(hi);
    return sum + _mm_cvtsd_f64(_mm_unpackhi_pd(hi, hi));
}
inline void columns(const double* const* rows, Avx* c) {
    const __m256d a0 = _mm256_loadu_pd(rows[0]), a1 = _mm256_loadu_pd(rows[1]);
    const __m256d a2 = _mm256_loadu_pd(rows[2]), a3 = _mm256_loadu_pd(rows[3]);
    const __m256d e01 = _mm256_unpacklo_pd(a0, a1), o01 = _mm256_unpackhi_pd(a0, a1);
    const __m256d e23 = _mm256_unpacklo_pd(a2, a3), o23 = _mm256_unpackhi_pd(a2, a3);
    c[0] = {_mm256_permute2f128_pd(e01, e23, 0x20)};
    c[1] = {_mm256_permute2f128_pd(o01, o23, 0x20)};
    c[2] = {_mm256_permute2f128_pd(e01, e23, 0x31)};
    c[3] = {_mm256_permute2f128_pd(o01, o23, 0x31)};
}
inline void store_zipped(double* p, Avx a, Avx b) {
    const __m256d lo = _mm256_unpacklo_pd(a.v, b.v), hi = _mm256_unpackhi_pd(a.v, b.v);
    _mm256_storeu_pd(p, _mm256_permute2f128_pd(lo, hi, 0x20));
    _mm256_storeu_pd(p + 4, _mm256_permute2f128_pd(lo, hi, 0x31));
}
inline void unzip(Avx a, Avx b, Avx* even, Avx* odd) {
    const __m256d t0 = _mm256_permute2f128_pd(a.v, b.v, 0x20);
    const __m256d t1 = _mm256_permute2f128_pd(a.v, b.v, 0x31);
    *even = {_mm256_unpacklo_pd(t0, t1)};
    *odd = {_mm256_unpackhi_pd(t0, t1)};
}
#endif

}  // namespace
}  // namespace lanes
}  // namespace velorin
