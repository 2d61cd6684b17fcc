// simd/lanes.h: the lane types, the only place that names vector
// instructions.
//
// A kernel is written once as a template over a lane type V and instantiated
// per width: lanes::Scalar (one double, plain C++), lanes::Pair (two),
// lanes::Avx (four) and lanes::Avx512 (eight, for the kernels where it
// pays). Every operation below is one IEEE operation per lane (or a move of
// doubles), never a fused multiply-add, so a kernel gives each lane the very
// bits of the plain loop it stands for, whatever the width. A width's type
// exists only where the compiler is allowed that width's instructions: the
// AVX and AVX-512 kernels live in their own translation units, built with
// -mavx and -mavx512f (width_avx.cpp, width_avx512.cpp); see simd.h for how
// a run picks its width.
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
#if defined(__AVX__) || defined(__AVX512F__)
#include <immintrin.h>
#endif
#if defined(__aarch64__) && defined(__ARM_NEON)
#include <arm_neon.h>
#endif

// Hints for the kernels: a function always inlined into its caller, and a
// loop of up to 16 steps unrolled whole, so that its values stay in registers.
#if defined(__GNUC__)
#define VELORIN_LANES_INLINE inline __attribute__((always_inline))
#define VELORIN_LANES_UNROLL16 _Pragma("GCC unroll 16")
#else
#define VELORIN_LANES_INLINE inline
#define VELORIN_LANES_UNROLL16
#endif

namespace velorin {
namespace lanes {
namespace {

// ---- Plain C++: N doubles in an array ----------------------------------------
// Plain<1> is the scalar width; Plain<2> serves kernels that walk two chains
// side by side where the build or the run has no vector lanes.

template <int N>
struct PlainMask {
    bool m[N];
};

template <int N>
struct Plain {
    using Half = Plain<(N > 1 ? N / 2 : 1)>;  // the next narrower width, for tails
    static constexpr int n = N;
    static constexpr int full = (1 << N) - 1;  // bits() with every lane set
    double v[N];

    using Mask = PlainMask<N>;

    static Plain load(const double* p) {
        Plain r;
        for (int k = 0; k < N; ++k) r.v[k] = p[k];
        return r;
    }
    static Plain splat(double x) {
        Plain r;
        for (double& e : r.v) e = x;
        return r;
    }
    static Plain zero() { return splat(0.0); }
    // first, first + 1, ... (whole numbers: exact)
    static Plain ramp(double first) {
        Plain r;
        for (int k = 0; k < N; ++k) r.v[k] = first + k;
        return r;
    }
    // base[idx[k]] in lane k
    static Plain gather(const double* base, const size_t* idx) {
        Plain r;
        for (int k = 0; k < N; ++k) r.v[k] = base[idx[k]];
        return r;
    }
    static Plain from(const double* lane) { return load(lane); }
};

template <int N, class F>
inline Plain<N> each(Plain<N> a, Plain<N> b, F f) {
    Plain<N> r;
    for (int k = 0; k < N; ++k) r.v[k] = f(a.v[k], b.v[k]);
    return r;
}
template <int N, class F>
inline PlainMask<N> test(Plain<N> a, Plain<N> b, F f) {
    PlainMask<N> r;
    for (int k = 0; k < N; ++k) r.m[k] = f(a.v[k], b.v[k]);
    return r;
}
// The truncation of x where it converts to 32 bits; x itself elsewhere (a
// lane a kernel does not use).
inline double truncated(double x) {
    return x > -2147483649.0 && x < 2147483648.0 ? static_cast<double>(static_cast<int32_t>(x)) : x;
}

template <int N>
inline void store(double* p, Plain<N> a) {
    for (int k = 0; k < N; ++k) p[k] = a.v[k];
}
template <int N>
inline Plain<N> operator+(Plain<N> a, Plain<N> b) {
    return each(a, b, [](double x, double y) { return x + y; });
}
template <int N>
inline Plain<N> operator-(Plain<N> a, Plain<N> b) {
    return each(a, b, [](double x, double y) { return x - y; });
}
template <int N>
inline Plain<N> operator*(Plain<N> a, Plain<N> b) {
    return each(a, b, [](double x, double y) { return x * y; });
}
template <int N>
inline Plain<N> operator/(Plain<N> a, Plain<N> b) {
    return each(a, b, [](double x, double y) { return x / y; });
}
template <int N>
inline Plain<N> sqrt(Plain<N> a) {
    return each(a, a, [](double x, double) { return std::sqrt(x); });
}
template <int N>
inline Plain<N> abs(Plain<N> a) {
    return each(a, a, [](double x, double) { return std::fabs(x); });
}
template <int N>
inline Plain<N> min(Plain<N> a, Plain<N> b) {  // as the processors' minimum: b unless a < b
    return each(a, b, [](double x, double y) { return x < y ? x : y; });
}
// -a in the odd lanes, a in the even ones.
template <int N>
inline Plain<N> negate_odd(Plain<N> a) {
    for (int k = 1; k < N; k += 2) a.v[k] = -a.v[k];
    return a;
}
// Lane k is lane N - 1 - k.
template <int N>
inline Plain<N> reverse(Plain<N> a) {
    Plain<N> r;
    for (int k = 0; k < N; ++k) r.v[k] = a.v[N - 1 - k];
    return r;
}
// floor(a) for 0 <= a < 2^31, where the truncating conversion is the floor.
template <int N>
inline Plain<N> floor_small(Plain<N> a) {
    return each(a, a, [](double x, double) { return truncated(x); });
}
// floor and ceiling for -1 < a < 2^31; the sign of a zero may differ from
// std::floor's, so use them only where the result is compared or converted.
template <int N>
inline Plain<N> floor_near(Plain<N> a) {
    return each(a, a, [](double x, double) {
        const double t = truncated(x);
        return t > x ? t - 1.0 : t;
    });
}
template <int N>
inline Plain<N> ceil_near(Plain<N> a) {
    return each(a, a, [](double x, double) {
        const double t = truncated(x);
        return t < x ? t + 1.0 : t;
    });
}
template <int N>
inline PlainMask<N> gt(Plain<N> a, Plain<N> b) {
    return test(a, b, [](double x, double y) { return x > y; });
}
template <int N>
inline PlainMask<N> lt(Plain<N> a, Plain<N> b) {
    return test(a, b, [](double x, double y) { return x < y; });
}
template <int N>
inline PlainMask<N> le(Plain<N> a, Plain<N> b) {
    return test(a, b, [](double x, double y) { return x <= y; });
}
template <int N>
inline PlainMask<N> eq(Plain<N> a, Plain<N> b) {
    return test(a, b, [](double x, double y) { return x == y; });
}
template <int N>
inline PlainMask<N> ne(Plain<N> a, Plain<N> b) {  // true for NaN
    return test(a, b, [](double x, double y) { return x != y; });
}
template <int N>
inline PlainMask<N> operator&(PlainMask<N> a, PlainMask<N> b) {
    for (int k = 0; k < N; ++k) a.m[k] = a.m[k] && b.m[k];
    return a;
}
// Bit k set where lane k's mask is.
template <int N>
inline int bits(PlainMask<N> a) {
    int r = 0;
    for (int k = 0; k < N; ++k) r |= a.m[k] ? 1 << k : 0;
    return r;
}
template <int N>
inline PlainMask<N> reverse(PlainMask<N> a) {
    PlainMask<N> r;
    for (int k = 0; k < N; ++k) r.m[k] = a.m[N - 1 - k];
    return r;
}
// m ? a : b, lane by lane
template <int N>
inline Plain<N> select(PlainMask<N> m, Plain<N> a, Plain<N> b) {
    for (int k = 0; k < N; ++k) a.v[k] = m.m[k] ? a.v[k] : b.v[k];
    return a;
}
// Lanes of `a` that are whole numbers from 0 to 2^31 - 1, as integers.
template <int N>
inline void whole(Plain<N> a, size_t* out) {
    for (int k = 0; k < N; ++k)
        out[k] = a.v[k] >= 0.0 && a.v[k] < 4294967296.0 ? static_cast<uint32_t>(a.v[k]) : 0;
}
template <int N>
inline void lanes_of(Plain<N> a, double* out) {
    store(out, a);
}
// sum + lane 0 + lane 1 + ..., in that order
template <int N>
inline double add_in_order(double sum, Plain<N> a) {
    for (double x : a.v) sum += x;
    return sum;
}
// Rows of four doubles, one per lane, as four columns: c[j] holds element j
// of every lane's row.
template <int N>
inline void columns(const double* const* rows, Plain<N>* c) {
    for (int j = 0; j < 4; ++j)
        for (int k = 0; k < N; ++k) c[j].v[k] = rows[k][j];
}
// p[2k] = a[k], p[2k + 1] = b[k]
template <int N>
inline void store_zipped(double* p, Plain<N> a, Plain<N> b) {
    for (int k = 0; k < N; ++k) {
        p[2 * k] = a.v[k];
        p[2 * k + 1] = b.v[k];
    }
}
// Lane k of `even` is lane 2k of the lanes of a followed by those of b, lane
// k of `odd` lane 2k + 1.
template <int N>
inline void unzip(Plain<N> a, Plain<N> b, Plain<N>* even, Plain<N>* odd) {
    double all[2 * N];
    store(all, a);
    store(all + N, b);
    for (int k = 0; k < N; ++k) {
        even->v[k] = all[2 * k];
        odd->v[k] = all[2 * k + 1];
    }
}

// Lane k of *even is p[k * step], of *odd p[k * step + 1]: pairs loaded whole.
template <int N>
inline void load_pairs(const double* p, int step, Plain<N>* even, Plain<N>* odd) {
    for (int k = 0; k < N; ++k) {
        even->v[k] = p[k * step];
        odd->v[k] = p[k * step + 1];
    }
}
// out[i] lane t is in[t] lane i: an N x N block turned over.
template <int N>
inline void transpose(const Plain<N>* in, Plain<N>* out) {
    for (int i = 0; i < N; ++i)
        for (int t = 0; t < N; ++t) out[i].v[t] = in[t].v[i];
}

using Scalar = Plain<1>;

#if defined(__SSE2__)
// ---- Two doubles (SSE2) ----------------------------------------------------

struct Sse2 {
    using Half = Plain<1>;
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
inline Sse2 negate_odd(Sse2 a) { return {_mm_xor_pd(a.v, _mm_set_pd(-0.0, 0.0))}; }
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
inline Sse2::Mask reverse(Sse2::Mask a) { return {_mm_shuffle_pd(a.m, a.m, 1)}; }
// (Masks rather than a blend, which the compiler may turn into branches.)
inline Sse2 select(Sse2::Mask m, Sse2 a, Sse2 b) {
    return {_mm_or_pd(_mm_and_pd(m.m, a.v), _mm_andnot_pd(m.m, b.v))};
}
inline void whole(Sse2 a, size_t* out) {
    const __m128i w = _mm_cvttpd_epi32(a.v);  // exact below 2^31
    out[0] = static_cast<uint32_t>(_mm_cvtsi128_si32(w));
    out[1] = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(w, 4)));
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
inline void load_pairs(const double* p, int step, Sse2* even, Sse2* odd) {
    const __m128d a = _mm_loadu_pd(p), b = _mm_loadu_pd(p + step);
    *even = {_mm_unpacklo_pd(a, b)};
    *odd = {_mm_unpackhi_pd(a, b)};
}
inline void transpose(const Sse2* in, Sse2* out) {
    out[0] = {_mm_unpacklo_pd(in[0].v, in[1].v)};
    out[1] = {_mm_unpackhi_pd(in[0].v, in[1].v)};
}
inline void unzip(Sse2 a, Sse2 b, Sse2* even, Sse2* odd) {
    *even = {_mm_unpacklo_pd(a.v, b.v)};
    *odd = {_mm_unpackhi_pd(a.v, b.v)};
}
#elif defined(__aarch64__) && defined(__ARM_NEON)
// ---- Two doubles (NEON, arm64) ---------------------------------------------
// Each operation is the IEEE operation the SSE2 type makes. The minimum and
// the conversions are spelled out where NEON's own instruction differs: vminq
// treats NaN and signed zeros its own way, so min() selects as SSE2's does;
// floor_small converts through integers as SSE2's does, and floor_near and
// ceil_near round as AVX's do (frintm, frintp), within the domains above.

struct Neon {
    using Half = Plain<1>;
    static constexpr int n = 2;
    static constexpr int full = 3;  // bits() with every lane set
    float64x2_t v;

    struct Mask {
        uint64x2_t m;
    };

    static Neon load(const double* p) { return {vld1q_f64(p)}; }
    static Neon splat(double x) { return {vdupq_n_f64(x)}; }
    static Neon zero() { return {vdupq_n_f64(0.0)}; }
    static Neon ramp(double first) {
        const double r[2] = {first, first + 1};
        return {vld1q_f64(r)};
    }
    static Neon gather(const double* base, const size_t* idx) {
        const double r[2] = {base[idx[0]], base[idx[1]]};
        return {vld1q_f64(r)};
    }
    static Neon from(const double* lane) { return {vld1q_f64(lane)}; }
};

inline void store(double* p, Neon a) { vst1q_f64(p, a.v); }
inline Neon operator+(Neon a, Neon b) { return {vaddq_f64(a.v, b.v)}; }
inline Neon operator-(Neon a, Neon b) { return {vsubq_f64(a.v, b.v)}; }
inline Neon operator*(Neon a, Neon b) { return {vmulq_f64(a.v, b.v)}; }
inline Neon operator/(Neon a, Neon b) { return {vdivq_f64(a.v, b.v)}; }
inline Neon sqrt(Neon a) { return {vsqrtq_f64(a.v)}; }
inline Neon abs(Neon a) { return {vabsq_f64(a.v)}; }
inline Neon min(Neon a, Neon b) { return {vbslq_f64(vcltq_f64(a.v, b.v), a.v, b.v)}; }
inline Neon negate_odd(Neon a) {
    const uint64x2_t sign = vcombine_u64(vcreate_u64(0), vcreate_u64(0x8000000000000000ull));
    return {vreinterpretq_f64_u64(veorq_u64(vreinterpretq_u64_f64(a.v), sign))};
}
inline Neon reverse(Neon a) { return {vextq_f64(a.v, a.v, 1)}; }
inline Neon floor_small(Neon a) { return {vcvtq_f64_s64(vcvtq_s64_f64(a.v))}; }
inline Neon floor_near(Neon a) { return {vrndmq_f64(a.v)}; }
inline Neon ceil_near(Neon a) { return {vrndpq_f64(a.v)}; }
inline Neon::Mask gt(Neon a, Neon b) { return {vcgtq_f64(a.v, b.v)}; }
inline Neon::Mask lt(Neon a, Neon b) { return {vcltq_f64(a.v, b.v)}; }
inline Neon::Mask le(Neon a, Neon b) { return {vcleq_f64(a.v, b.v)}; }
inline Neon::Mask eq(Neon a, Neon b) { return {vceqq_f64(a.v, b.v)}; }
inline Neon::Mask ne(Neon a, Neon b) {  // true for NaN
    return {vreinterpretq_u64_u32(vmvnq_u32(vreinterpretq_u32_u64(vceqq_f64(a.v, b.v))))};
}
inline Neon::Mask operator&(Neon::Mask a, Neon::Mask b) { return {vandq_u64(a.m, b.m)}; }
inline int bits(Neon::Mask a) {
    return static_cast<int>((vgetq_lane_u64(a.m, 0) & 1) | (vgetq_lane_u64(a.m, 1) & 2));
}
inline Neon::Mask reverse(Neon::Mask a) { return {vextq_u64(a.m, a.m, 1)}; }
inline Neon select(Neon::Mask m, Neon a, Neon b) { return {vbslq_f64(m.m, a.v, b.v)}; }
inline void whole(Neon a, size_t* out) {
    const int64x2_t w = vcvtq_s64_f64(a.v);  // exact for whole numbers below 2^31
    out[0] = static_cast<uint32_t>(vgetq_lane_s64(w, 0));
    out[1] = static_cast<uint32_t>(vgetq_lane_s64(w, 1));
}
inline void lanes_of(Neon a, double* out) { vst1q_f64(out, a.v); }
inline double add_in_order(double sum, Neon a) {
    sum += vgetq_lane_f64(a.v, 0);
    return sum + vgetq_lane_f64(a.v, 1);
}
inline void columns(const double* const* rows, Neon* c) {
    const float64x2_t a0 = vld1q_f64(rows[0]), a1 = vld1q_f64(rows[1]);
    const float64x2_t b0 = vld1q_f64(rows[0] + 2), b1 = vld1q_f64(rows[1] + 2);
    c[0] = {vzip1q_f64(a0, a1)};
    c[1] = {vzip2q_f64(a0, a1)};
    c[2] = {vzip1q_f64(b0, b1)};
    c[3] = {vzip2q_f64(b0, b1)};
}
inline void store_zipped(double* p, Neon a, Neon b) {
    vst1q_f64(p, vzip1q_f64(a.v, b.v));
    vst1q_f64(p + 2, vzip2q_f64(a.v, b.v));
}
inline void load_pairs(const double* p, int step, Neon* even, Neon* odd) {
    const float64x2_t a = vld1q_f64(p), b = vld1q_f64(p + step);
    *even = {vzip1q_f64(a, b)};
    *odd = {vzip2q_f64(a, b)};
}
inline void transpose(const Neon* in, Neon* out) {
    out[0] = {vzip1q_f64(in[0].v, in[1].v)};
    out[1] = {vzip2q_f64(in[0].v, in[1].v)};
}
inline void unzip(Neon a, Neon b, Neon* even, Neon* odd) {
    *even = {vzip1q_f64(a.v, b.v)};
    *odd = {vzip2q_f64(a.v, b.v)};
}
#endif

// The two-double width of this build; where the compiler has neither SSE2
// nor NEON it is plain C++, compiled but never chosen (simd_width_available).
#if defined(__SSE2__)
using Pair = Sse2;
#elif defined(__aarch64__) && defined(__ARM_NEON)
using Pair = Neon;
#else
using Pair = Plain<2>;
#endif

#if !defined(__AVX__)
// Where this unit is built without AVX the four-double width is plain C++,
// compiled but never chosen.
using Avx = Plain<4>;
#else
// ---- Four doubles (AVX) ----------------------------------------------------

struct Avx {
    using Half = Pair;
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
inline Avx negate_odd(Avx a) { return {_mm256_xor_pd(a.v, _mm256_set_pd(-0.0, 0.0, -0.0, 0.0))}; }
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
inline Avx::Mask reverse(Avx::Mask a) {
    return {_mm256_permute_pd(_mm256_permute2f128_pd(a.m, a.m, 1), 5)};
}
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
inline void load_pairs(const double* p, int step, Avx* even, Avx* odd) {
    const __m256d x = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(p)),
                                           _mm_loadu_pd(p + 2 * step), 1);  // p0 p1 p2s p2s+1
    const __m256d y = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(p + step)),
                                           _mm_loadu_pd(p + 3 * step), 1);  // ps ps+1 p3s p3s+1
    *even = {_mm256_unpacklo_pd(x, y)};
    *odd = {_mm256_unpackhi_pd(x, y)};
}
inline void transpose(const Avx* in, Avx* out) {
    const __m256d t0 = _mm256_unpacklo_pd(in[0].v, in[1].v);  // in0[0] in1[0] in0[2] in1[2]
    const __m256d t1 = _mm256_unpackhi_pd(in[0].v, in[1].v);  // in0[1] in1[1] in0[3] in1[3]
    const __m256d t2 = _mm256_unpacklo_pd(in[2].v, in[3].v);
    const __m256d t3 = _mm256_unpackhi_pd(in[2].v, in[3].v);
    out[0] = {_mm256_permute2f128_pd(t0, t2, 0x20)};
    out[1] = {_mm256_permute2f128_pd(t1, t3, 0x20)};
    out[2] = {_mm256_permute2f128_pd(t0, t2, 0x31)};
    out[3] = {_mm256_permute2f128_pd(t1, t3, 0x31)};
}
inline void unzip(Avx a, Avx b, Avx* even, Avx* odd) {
    const __m256d t0 = _mm256_permute2f128_pd(a.v, b.v, 0x20);
    const __m256d t1 = _mm256_permute2f128_pd(a.v, b.v, 0x31);
    *even = {_mm256_unpacklo_pd(t0, t1)};
    *odd = {_mm256_unpackhi_pd(t0, t1)};
}
#endif

#if !defined(__AVX512F__)
// Where this unit is built without AVX-512 the eight-double width is plain
// C++, compiled but never chosen.
using Avx512 = Plain<8>;
#else
// ---- Eight doubles (AVX-512F) ---------------------------------------------
// The operations of the analysis's sums (frq/width_avx512.cpp) and of the
// render reader (synth/width_avx512.cpp); the render's other kernels run
// four wide at this width (synth/lane_kernels.cpp). AVX-512F alone: masks
// are a bit per lane, and rounding, blends and moves have their own forms.

struct Avx512 {
    using Half = Avx;
    static constexpr int n = 8;
    static constexpr int full = 255;  // bits() with every lane set
    __m512d v;

    struct Mask {
        __mmask8 m;
    };

    static Avx512 load(const double* p) { return {_mm512_loadu_pd(p)}; }
    static Avx512 splat(double x) { return {_mm512_set1_pd(x)}; }
    static Avx512 zero() { return {_mm512_setzero_pd()}; }
    static Avx512 gather(const double* base, const size_t* idx) {
        return {_mm512_set_pd(base[idx[7]], base[idx[6]], base[idx[5]], base[idx[4]], base[idx[3]],
                              base[idx[2]], base[idx[1]], base[idx[0]])};
    }
    static Avx512 from(const double* lane) { return {_mm512_loadu_pd(lane)}; }
};

inline void store(double* p, Avx512 a) { _mm512_storeu_pd(p, a.v); }
inline Avx512 operator+(Avx512 a, Avx512 b) { return {_mm512_add_pd(a.v, b.v)}; }
inline Avx512 operator-(Avx512 a, Avx512 b) { return {_mm512_sub_pd(a.v, b.v)}; }
inline Avx512 operator*(Avx512 a, Avx512 b) { return {_mm512_mul_pd(a.v, b.v)}; }
inline Avx512 operator/(Avx512 a, Avx512 b) { return {_mm512_div_pd(a.v, b.v)}; }
inline Avx512 abs(Avx512 a) { return {_mm512_abs_pd(a.v)}; }
// Some operations in their masked forms with every lane set: the same
// instructions, without the unmasked forms' undefined source, which GCC 12
// warns of.
inline Avx512 min(Avx512 a, Avx512 b) { return {_mm512_mask_min_pd(a.v, 255, a.v, b.v)}; }
inline Avx512 floor_small(Avx512 a) {
    return {_mm512_mask_roundscale_pd(a.v, 255, a.v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC)};
}
inline Avx512 floor_near(Avx512 a) { return floor_small(a); }
inline Avx512 ceil_near(Avx512 a) {
    return {_mm512_mask_roundscale_pd(a.v, 255, a.v, _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC)};
}
inline Avx512::Mask gt(Avx512 a, Avx512 b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_GT_OQ)}; }
inline Avx512::Mask lt(Avx512 a, Avx512 b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_LT_OQ)}; }
inline Avx512::Mask le(Avx512 a, Avx512 b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_LE_OQ)}; }
inline Avx512::Mask eq(Avx512 a, Avx512 b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_EQ_OQ)}; }
inline Avx512::Mask operator&(Avx512::Mask a, Avx512::Mask b) {
    return {static_cast<__mmask8>(a.m & b.m)};
}
inline int bits(Avx512::Mask a) { return a.m; }
inline Avx512 select(Avx512::Mask m, Avx512 a, Avx512 b) {
    return {_mm512_mask_blend_pd(m.m, b.v, a.v)};
}
inline void whole(Avx512 a, size_t* out) {
    // As Avx's: 2^52 + w holds w in its low 32 bits.
    uint32_t b[16];
    _mm512_storeu_pd(reinterpret_cast<double*>(b),
                     _mm512_add_pd(a.v, _mm512_set1_pd(4503599627370496.0)));
    for (int k = 0; k < 8; ++k) out[k] = b[2 * k];
}
inline void lanes_of(Avx512 a, double* out) { _mm512_storeu_pd(out, a.v); }
// Columns 0 to 3 of eight rows of four: rows k and k + 4 share a register,
// each half transposed as Avx's columns do, the halves' pairs then gathered.
inline void columns(const double* const* rows, Avx512* c) {
    __m512d z[4];
    const __m512d none = _mm512_setzero_pd();
    for (int k = 0; k < 4; ++k) {
        const __m512d low = _mm512_mask_insertf64x4(none, 255, none, _mm256_loadu_pd(rows[k]), 0);
        z[k] = _mm512_mask_insertf64x4(low, 255, low, _mm256_loadu_pd(rows[k + 4]), 1);
    }
    const __m512d e01 = _mm512_mask_unpacklo_pd(z[0], 255, z[0], z[1]);
    const __m512d o01 = _mm512_mask_unpackhi_pd(z[0], 255, z[0], z[1]);
    const __m512d e23 = _mm512_mask_unpacklo_pd(z[2], 255, z[2], z[3]);
    const __m512d o23 = _mm512_mask_unpackhi_pd(z[2], 255, z[2], z[3]);
    const __m512i low = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0);
    const __m512i high = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
    c[0] = {_mm512_permutex2var_pd(e01, low, e23)};
    c[1] = {_mm512_permutex2var_pd(o01, low, o23)};
    c[2] = {_mm512_permutex2var_pd(e01, high, e23)};
    c[3] = {_mm512_permutex2var_pd(o01, high, o23)};
}
#endif

}  // namespace
}  // namespace lanes
}  // namespace velorin
