// synth/envelope_pass.cpp: the second render pass, one 1024-sample block per
// unit with the source's formant envelope and breath.
#include <algorithm>
#include <cmath>

#if defined(__SSE2__) || defined(__x86_64__)
#include <immintrin.h>
#define VELORIN_ENVELOPE_SSE2 1
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#define VELORIN_ENVELOPE_AVX 1
#endif

#include "platform/platform.h"
#include "synth/kernels.h"
#include "synth/passes.h"
#include "synth/render_reader.h"
#include "synth/rfft.h"
#include "synth/smoothed_power.h"

namespace velorin {

namespace {

constexpr int block = spectrum_block;
constexpr int half = block / 2;
constexpr int bins = spectrum_bins;

// Reads per call of the reader: the positions and values of one batch, 4 KiB,
// stay on the stack.
constexpr int batch = 256;

// 1.4 harmonic spacings of a 1024-point transform at 44100 Hz, in bins per Hz.
constexpr double harmonic_width = 1433.6;

#ifdef VELORIN_ENVELOPE_AVX
// Four lanes at a time for processors with AVX. Every lane makes the same
// operations on the same doubles as the loops they stand for, so the results
// are the same bits.

__attribute__((target("avx"))) inline __m256d reverse4(__m256d v) {
    return _mm256_permute_pd(_mm256_permute2f128_pd(v, v, 1), 5);
}

// out[i] = a[i] * b[i] for i = 0 .. n - 1; n a multiple of 4.
__attribute__((target("avx"), noinline)) void products_avx(const double* a, const double* b, int n,
                                                           double* out) {
    for (int i = 0; i < n; i += 4)
        _mm256_storeu_pd(out + i, _mm256_mul_pd(_mm256_loadu_pd(a + i), _mm256_loadu_pd(b + i)));
}

// out[-i] = a[i] * b[-i] for i = 0 .. n - 1, written downwards from out and
// read downwards from b; n a multiple of 4.
__attribute__((target("avx"), noinline)) void products_down_avx(const double* a, const double* b,
                                                                int n, double* out) {
    for (int i = 0; i < n; i += 4) {
        const __m256d x = reverse4(_mm256_loadu_pd(a + i));  // a[i + 3] .. a[i]
        _mm256_storeu_pd(out - i - 3, _mm256_mul_pd(x, _mm256_loadu_pd(b - i - 3)));
    }
}

// Positions p + (i0 + k) r into at[k] and p - (i0 + k + 1) r into
// at[n + k], k = 0 .. n - 1; n a multiple of 4. The counts are exact doubles.
__attribute__((target("avx"), noinline)) void read_positions_avx(double p, double r, int i0, int n,
                                                                 double* at) {
    const __m256d vp = _mm256_set1_pd(p), vr = _mm256_set1_pd(r), four = _mm256_set1_pd(4.0);
    __m256d up = _mm256_set_pd(i0 + 3, i0 + 2, i0 + 1, i0);
    __m256d down = _mm256_set_pd(i0 + 4, i0 + 3, i0 + 2, i0 + 1);
    for (int k = 0; k < n; k += 4) {
        _mm256_storeu_pd(at + k, _mm256_add_pd(vp, _mm256_mul_pd(up, vr)));
        _mm256_storeu_pd(at + n + k, _mm256_sub_pd(vp, _mm256_mul_pd(down, vr)));
        up = _mm256_add_pd(up, four);
        down = _mm256_add_pd(down, four);
    }
}

// The breath's source block from n groups of four reads (fu - du, fu + du,
// fv - dv, fv + dv) in v: (v[4k] - v[4k + 1]) s[k] into up[k] and
// (v[4k + 2] - v[4k + 3]) s'[k] into down[-k], s' read downwards from sd;
// n a multiple of 4.
__attribute__((target("avx"), noinline)) void breath_block_avx(const double* v, int n,
                                                               const double* su, const double* sd,
                                                               double* up, double* down) {
    for (int k = 0; k < n; k += 4) {
        // hsub: (a0 - a1, b0 - b1, a2 - a3, b2 - b3)
        const __m256d h0 =
            _mm256_hsub_pd(_mm256_loadu_pd(v + 4 * k), _mm256_loadu_pd(v + 4 * k + 4));
        const __m256d h1 =
            _mm256_hsub_pd(_mm256_loadu_pd(v + 4 * k + 8), _mm256_loadu_pd(v + 4 * k + 12));
        const __m256d u = _mm256_permute2f128_pd(h0, h1, 0x20);  // groups k .. k + 3, forward
        const __m256d b = _mm256_permute2f128_pd(h0, h1, 0x31);  // the same groups, backward
        _mm256_storeu_pd(up + k, _mm256_mul_pd(u, _mm256_loadu_pd(su + k)));
        _mm256_storeu_pd(down - k - 3, _mm256_mul_pd(reverse4(b), _mm256_loadu_pd(sd - k - 3)));
    }
}

// ok ? a : b lane by lane, ok all ones or all zeros in each lane. (Masks
// rather than a blend, which the compiler may turn into branches.)
__attribute__((target("avx"))) inline __m256d select4(__m256d ok, __m256d a, __m256d b) {
    return _mm256_or_pd(_mm256_and_pd(ok, a), _mm256_andnot_pd(ok, b));
}

// bin_gains and apply_gains for bins from .. from + 4 * count - 1 (all below
// 512, none 0), four bins and their partners at a time.
__attribute__((target("avx"), noinline)) void gains_avx(double* x, const double* want,
                                                        const double* have, double pw, double fw,
                                                        const double* shape, int from, int count) {
    const __m256d vpw = _mm256_set1_pd(pw), vfw = _mm256_set1_pd(fw);
    const __m256d zero = _mm256_setzero_pd(), inf = _mm256_set1_pd(HUGE_VAL);
    const __m256d sign = _mm256_set1_pd(-0.0);
    for (int n = from; n < from + 4 * count; n += 4) {
        const __m256d h = _mm256_loadu_pd(have + n);
        const __m256d q = _mm256_div_pd(_mm256_loadu_pd(want + n), h);
        __m256d g = _mm256_sqrt_pd(_mm256_div_pd(_mm256_mul_pd(q, vpw), vfw));
        if (shape) g = _mm256_mul_pd(g, _mm256_loadu_pd(shape + n));
        const __m256d ok = _mm256_and_pd(_mm256_cmp_pd(h, zero, _CMP_GT_OQ),
                                         _mm256_cmp_pd(_mm256_andnot_pd(sign, g), inf, _CMP_LT_OQ));
        const __m256d a = _mm256_loadu_pd(x + n);
        _mm256_storeu_pd(x + n, select4(ok, _mm256_mul_pd(a, g), a));
        // x[1021 - n] .. x[1024 - n] belong to bins n + 3 .. n.
        const __m256d gr = reverse4(g), okr = reverse4(ok);
        const __m256d b = _mm256_loadu_pd(x + block - 3 - n);
        _mm256_storeu_pd(x + block - 3 - n, select4(okr, _mm256_mul_pd(b, gr), b));
    }
}

// outbuf[k] += (vg d[k] + ng nb[k]) s[k] for k = 0 .. n - 1 (n a multiple of
// 4); without noise (ng not positive) outbuf[k] += vg d[k] s[k].
__attribute__((target("avx"), noinline)) void add_block_avx(double* outbuf, const double* d,
                                                            const double* nb, const double* s,
                                                            double vg, double ng, int n) {
    const __m256d g = _mm256_set1_pd(vg), h = _mm256_set1_pd(ng);
    if (ng > 0) {
        for (int k = 0; k < n; k += 4) {
            const __m256d y = _mm256_add_pd(_mm256_mul_pd(g, _mm256_loadu_pd(d + k)),
                                            _mm256_mul_pd(h, _mm256_loadu_pd(nb + k)));
            _mm256_storeu_pd(outbuf + k, _mm256_add_pd(_mm256_loadu_pd(outbuf + k),
                                                       _mm256_mul_pd(y, _mm256_loadu_pd(s + k))));
        }
    } else {
        for (int k = 0; k < n; k += 4) {
            const __m256d y =
                _mm256_mul_pd(_mm256_mul_pd(g, _mm256_loadu_pd(d + k)), _mm256_loadu_pd(s + k));
            _mm256_storeu_pd(outbuf + k, _mm256_add_pd(_mm256_loadu_pd(outbuf + k), y));
        }
    }
}

// The frequency list at the four lanes of x, as series_pair2 gives it for
// each pair of lanes.
__attribute__((target("avx"))) inline __m256d series4(const SeriesReader& s, __m256d x) {
    if (s.inv > 0) {
        const __m256d u = _mm256_mul_pd(x, _mm256_set1_pd(s.inv));
        const __m256d in =
            _mm256_and_pd(_mm256_cmp_pd(u, _mm256_setzero_pd(), _CMP_GT_OQ),
                          _mm256_cmp_pd(u, _mm256_set1_pd(series_fast_limit), _CMP_LT_OQ));
        if (_mm256_movemask_pd(in) == 15) {
            // Between 0 and 2^31 the truncating conversion is the floor.
            const __m128i ki = _mm256_cvttpd_epi32(u);
            const __m256d f = _mm256_sub_pd(u, _mm256_cvtepi32_pd(ki));
            // Entries min(k, count) and min(k + 1, count): k >= count reads
            // entry count on both sides. The second is min(k, count - 1) + 1,
            // which cannot overflow at k = 2^31 - 1.
            const int count = s.count < 0 ? 0 : s.count;
            alignas(16) int32_t l[4], r[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(l),
                            _mm_min_epi32(ki, _mm_set1_epi32(count)));
            _mm_store_si128(
                reinterpret_cast<__m128i*>(r),
                _mm_add_epi32(_mm_min_epi32(ki, _mm_set1_epi32(count - 1)), _mm_set1_epi32(1)));
            const double* v = s.values;
            const __m256d vl = _mm256_set_pd(v[l[3]], v[l[2]], v[l[1]], v[l[0]]);
            const __m256d vr = _mm256_set_pd(v[r[3]], v[r[2]], v[r[1]], v[r[0]]);
            // Valid: v > lo and v != bad; NaN fails the first.
            const __m256d lo = _mm256_set1_pd(s.lo), bad = _mm256_set1_pd(s.bad);
            const __m256d fb = _mm256_set1_pd(s.fallback);
            const __m256d left = select4(_mm256_and_pd(_mm256_cmp_pd(vl, lo, _CMP_GT_OQ),
                                                       _mm256_cmp_pd(vl, bad, _CMP_NEQ_UQ)),
                                         vl, fb);
            const __m256d right = select4(_mm256_and_pd(_mm256_cmp_pd(vr, lo, _CMP_GT_OQ),
                                                        _mm256_cmp_pd(vr, bad, _CMP_NEQ_UQ)),
                                          vr, fb);
            return _mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(_mm256_set1_pd(1.0), f), left),
                                 _mm256_mul_pd(f, right));
        }
    }
    const __m128d a = series_pair2(s, _mm256_castpd256_pd128(x));
    const __m128d b = series_pair2(s, _mm256_extractf128_pd(x, 1));
    return _mm256_insertf128_pd(_mm256_castpd128_pd256(a), b, 1);
}

// The breath's read positions for n / 2 steps from the positions xs (fu and
// fv of each step side by side, n a multiple of 4): at[2j .. 2j + 3] = fu -
// du, fu + du, fv - dv, fv + dv with du = half_rate / (the list at fu), dv
// likewise at fv.
__attribute__((target("avx"), noinline)) void breath_positions_avx(const SeriesReader& freq,
                                                                   const double* xs, int n,
                                                                   double half_rate, double* at) {
    const __m256d hr = _mm256_set1_pd(half_rate);
    for (int j = 0; j < n; j += 4) {
        const __m256d x = _mm256_loadu_pd(xs + j);  // fu, fv of two steps
        const __m256d d = _mm256_div_pd(hr, series4(freq, x));
        const __m256d below = _mm256_sub_pd(x, d), above = _mm256_add_pd(x, d);
        const __m256d lo = _mm256_unpacklo_pd(below, above);  // fu -+ du of both steps
        const __m256d hi = _mm256_unpackhi_pd(below, above);  // fv -+ dv of both steps
        _mm256_storeu_pd(at + 2 * j, _mm256_permute2f128_pd(lo, hi, 0x20));
        _mm256_storeu_pd(at + 2 * j + 4, _mm256_permute2f128_pd(lo, hi, 0x31));
    }
}

bool envelope_wide_lanes() {
    static const bool wide = cpu_has_avx();
    return wide;
}
#endif

// Scales the amplitude of bin n of a transformed block by g.
void scale_bin(double* x, int n, double g) {
    x[n] = x[n] * g;
    if (n > 0 && n < half) x[block - n] = x[block - n] * g;
}

// Scales bin n of the transformed block x by g[n] * shape[n] (by g[n] when
// shape is null) where have[n] > 0 and that gain is finite; other bins stay
// as they are. Two bins side by side where SSE2 is at hand: each scaled value
// is the same product, each kept one the same double.
void apply_gains(double* x, const double* g, const double* shape, const double* have) {
    const auto one = [&](int n) {
        if (!(have[n] > 0)) return;
        const double gn = shape ? g[n] * shape[n] : g[n];
        if (std::isfinite(gn)) scale_bin(x, n, gn);
    };
    one(0);
    int n = 1;
#ifdef VELORIN_ENVELOPE_SSE2
    const __m128d zero = _mm_setzero_pd();
    const __m128d inf = _mm_set1_pd(HUGE_VAL);
    const __m128d sign = _mm_set1_pd(-0.0);
    for (; n + 2 <= half; n += 2) {  // bins n, n + 1 and their partners 1024 - n, 1023 - n
        __m128d gn = _mm_loadu_pd(g + n);
        if (shape) gn = _mm_mul_pd(gn, _mm_loadu_pd(shape + n));
        const __m128d ok = _mm_and_pd(_mm_cmpgt_pd(_mm_loadu_pd(have + n), zero),
                                      _mm_cmplt_pd(_mm_andnot_pd(sign, gn), inf));
        const __m128d a = _mm_loadu_pd(x + n);
        _mm_storeu_pd(x + n, _mm_or_pd(_mm_and_pd(ok, _mm_mul_pd(a, gn)), _mm_andnot_pd(ok, a)));
        // x[1023 - n], x[1024 - n] belong to bins n + 1 and n.
        const __m128d gr = _mm_shuffle_pd(gn, gn, 1), okr = _mm_shuffle_pd(ok, ok, 1);
        const __m128d b = _mm_loadu_pd(x + block - 1 - n);
        _mm_storeu_pd(x + block - 1 - n,
                      _mm_or_pd(_mm_and_pd(okr, _mm_mul_pd(b, gr)), _mm_andnot_pd(okr, b)));
    }
#endif
    for (; n < bins; ++n) one(n);
}

// g[n] = sqrt(want[n] / have[n] * pw / fw) for every bin, two bins side by
// side where SSE2 is at hand (the same doubles); g may be want itself. Bins
// where have[n] is not positive get values their callers skip.
void bin_gains(const double* want, const double* have, double pw, double fw, double* g) {
    int n = 0;
#ifdef VELORIN_ENVELOPE_SSE2
    const __m128d vpw = _mm_set1_pd(pw), vfw = _mm_set1_pd(fw);
    for (; n + 2 <= bins; n += 2) {
        const __m128d q = _mm_div_pd(_mm_loadu_pd(want + n), _mm_loadu_pd(have + n));
        _mm_storeu_pd(g + n, _mm_sqrt_pd(_mm_div_pd(_mm_mul_pd(q, vpw), vfw)));
    }
#endif
    for (; n < bins; ++n) g[n] = std::sqrt(want[n] / have[n] * pw / fw);
}

// bin_gains and apply_gains in one sweep: each bin's gain is computed and
// applied where it is usable (want may be overwritten).
void gains(double* x, double* want, const double* have, double pw, double fw, const double* shape) {
#ifdef VELORIN_ENVELOPE_AVX
    if (envelope_wide_lanes()) {
        constexpr int quads = (half - 1) / 4;  // bins 1 .. 508
        gains_avx(x, want, have, pw, fw, shape, 1, quads);
        for (int n : {0, 4 * quads + 1, 4 * quads + 2, 4 * quads + 3, half}) {
            if (!(have[n] > 0)) continue;
            const double g = std::sqrt(want[n] / have[n] * pw / fw);
            const double gn = shape ? g * shape[n] : g;
            if (std::isfinite(gn)) scale_bin(x, n, gn);
        }
        return;
    }
#endif
    bin_gains(want, have, pw, fw, want);
    apply_gains(x, want, shape, have);
}

// dst[i] = a[i] * b[i] for i = 0 .. n - 1.
void products(const double* a, const double* b, int n, double* dst) {
    int i = 0;
#ifdef VELORIN_ENVELOPE_AVX
    if (envelope_wide_lanes()) {
        i = n / 4 * 4;
        products_avx(a, b, i, dst);
    }
#endif
    for (; i < n; ++i) dst[i] = a[i] * b[i];
}

struct Widths {
    double w;   // reader width
    double pw;  // target harmonic width, bins
    double fw;  // source harmonic width, bins
};

// Gives the voiced block d (windowed, time domain) the source's envelope at p,
// stretched by the formant factor; d comes back in the time domain, times 512.
void correct_formants(const RenderShared& sh, const SecondPassUnit& u, const Widths& wd,
                      double* d) {
    const double* s = sh.sine1024;
    const double p = u.src_pos;
    const double r = sh.r;
    double src[block];
    ReadSpan span;
    for (int i0 = 0; i0 < half; i0 += batch / 2) {
        // Positions p + i r fill src from its middle forward, p - (i + 1) r
        // backward.
        double at[batch], v[batch];
#ifdef VELORIN_ENVELOPE_AVX
        const bool wide = envelope_wide_lanes();
        if (wide) read_positions_avx(p, r, i0, batch / 2, at);
#else
        constexpr bool wide = false;
#endif
        if (!wide) {
            for (int k = 0; k < batch / 2; ++k) {
                at[k] = p + (i0 + k) * r;
                at[batch / 2 + k] = p - (i0 + k + 1) * r;
            }
        }
        if (sh.missed)
            for (double x : at) span.add(x);
        sinc_read_render_many(sh.lanes, at, batch, sh.sample, wd.w, sh.channels, sh.sample_frames,
                              v);
#ifdef VELORIN_ENVELOPE_AVX
        if (wide) {
            products_avx(v, s + half + i0, batch / 2, src + half + i0);
            products_down_avx(v + batch / 2, s + half - 1 - i0, batch / 2, src + half - 1 - i0);
            continue;
        }
#endif
        for (int k = 0; k < batch / 2; ++k) {
            const int i = i0 + k;
            src[half + i] = v[k] * s[half + i];
            src[half - 1 - i] = v[batch / 2 + k] * s[half - 1 - i];
        }
    }
    check_reads(sh, span, wd.w);
    rfft_forward(block, d, sh.twiddles, sh.bitrev);
    rfft_forward(block, src, sh.twiddles, sh.bitrev);
    double es[bins], ed[bins];
    smoothed_power_spectrum(sh.lanes, src, wd.fw, es);
    smoothed_power_spectrum(sh.lanes, d, wd.pw, ed);
    double shifted[bins];
    double* e = es;  // the source's envelope as it is with gender 1
    if (u.gender != 1.0) {
        e = shifted;
        for (int n = 0; n < bins; ++n) {
            e[n] = 0.0;
            const double x = n * u.gender;
            // A bin that would come from at or past bin 512 is silenced; so
            // is one from a NaN or negative position, which a formant factor
            // never gives.
            if (x >= 0.0 && x < half) {
                // Between 0 and 512 the truncating conversion is the floor,
                // exactly (-0.0 too gives 0, and x - 0 keeps its sign).
                const int k = static_cast<int>(x);
                const double f = x - k;
                e[n] = (1 - f) * es[k] + f * es[k + 1];
            }
        }
    }
    gains(d, e, ed, wd.pw, wd.fw, nullptr);  // unusable widths leave the bin as it is
    rfft_inverse(block, d, sh.twiddles, sh.bitrev);
}

// Fills nb with the unit's noise shaped like the aperiodic part of the
// source: the source minus itself half a period earlier and later, read at
// the rate r / gender, tilted by the breath shaping table. Time domain, times
// 512.
void make_breath(const RenderShared& sh, const SecondPassUnit& u, const Widths& wd, double* nb) {
    const double* s = sh.sine1024;
    const double r = sh.r;
    const double step = r / u.gender;
    double src[block];
    const double half_rate = sh.rate * 0.5;
    const SeriesReader freq = freq_series(sh);
    double fu = u.src_pos;
    double fv = u.src_pos - r / u.gender;
    ReadSpan span;
    for (int i0 = 0; i0 < half; i0 += batch / 4) {
        // Four reads per i: fu -+ du and fv -+ dv, half a source period
        // either side of the position fu running forward and fv backward.
        double at[batch], v[batch];
#ifdef VELORIN_ENVELOPE_SSE2
        // fu and fv side by side; fv - step is fv + (-step), the same double.
        __m128d fuv = _mm_set_pd(fv, fu);
        const __m128d steps = _mm_set_pd(-step, step), hr = _mm_set1_pd(half_rate);
#ifdef VELORIN_ENVELOPE_AVX
        if (envelope_wide_lanes()) {
            // The positions of the batch first (each from the one before),
            // then their lookups and quotients four at a time.
            double xs[batch / 2];
            for (int k = 0; k < batch / 2; k += 2) {
                _mm_storeu_pd(xs + k, fuv);
                fuv = _mm_add_pd(fuv, steps);
            }
            breath_positions_avx(freq, xs, batch / 2, half_rate, at);
        } else
#endif
            for (int k = 0; k < batch; k += 4) {
                const __m128d d = _mm_div_pd(hr, series_pair2(freq, fuv));
                const __m128d below = _mm_sub_pd(fuv, d), above = _mm_add_pd(fuv, d);
                _mm_storeu_pd(at + k, _mm_unpacklo_pd(below, above));
                _mm_storeu_pd(at + k + 2, _mm_unpackhi_pd(below, above));
                fuv = _mm_add_pd(fuv, steps);
            }
        _mm_storel_pd(&fu, fuv);
        _mm_storeh_pd(&fv, fuv);
#else
        for (int k = 0; k < batch; k += 4) {
            double fq[2];
            series_pair(freq, fu, fv, fq);
            const double du = half_rate / fq[0];
            const double dv = half_rate / fq[1];
            at[k] = fu - du;
            at[k + 1] = fu + du;
            at[k + 2] = fv - dv;
            at[k + 3] = fv + dv;
            fu += step;
            fv -= step;
        }
#endif
        if (sh.missed)
            for (double x : at) span.add(x);
        sinc_read_render_many(sh.lanes, at, batch, sh.sample, wd.w, sh.channels, sh.sample_frames,
                              v);
#ifdef VELORIN_ENVELOPE_AVX
        if (envelope_wide_lanes()) {
            breath_block_avx(v, batch / 4, s + half + i0, s + half - 1 - i0, src + half + i0,
                             src + half - 1 - i0);
            continue;
        }
#endif
        for (int k = 0; k < batch / 4; ++k) {
            const int i = i0 + k;
            src[half + i] = (v[4 * k] - v[4 * k + 1]) * s[half + i];
            src[half - 1 - i] = (v[4 * k + 2] - v[4 * k + 3]) * s[half - 1 - i];
        }
    }
    check_reads(sh, span, wd.w);
    rfft_forward(block, src, sh.twiddles, sh.bitrev);
    double ea[bins];
    smoothed_power_spectrum(sh.lanes, src, wd.fw * u.gender, ea);

    products(u.noise, s, block, nb);
    rfft_forward(block, nb, sh.twiddles, sh.bitrev);
    double en[bins];
    smoothed_power_spectrum(sh.lanes, nb, wd.pw, en);
    gains(nb, ea, en, wd.pw, wd.fw * u.gender, sh.breath_shape);
    rfft_inverse(block, nb, sh.twiddles, sh.bitrev);
}

}  // namespace

void build_breath_table(double alpha, double* table) {
    const double a = alpha;
    if (a <= 1) {
        for (int k = 0; k < 1024; ++k) table[k] = (k * a * 0.04 + (1 - a)) * (2 - a);
        return;
    }
    table[0] = 0;
    for (int k = 1; k < 1024; ++k) table[k] = std::pow(k * 0.04 / ((a - 1) * 0.1 + 1), a * 0.48);
}

void envelope_breath_pass(const RenderShared& sh, const SecondPassUnit& u) {
    const int j0 = u.out_index;
    const double p = u.src_pos;
    const double m = u.modulation;

    Widths wd;
    wd.w = std::max(1.0, sh.r);
    const double fm = freq_at(sh, p + 0.5 - 0.25 * sh.freq_step);
    const double pt = pitch_at(sh, j0 - 0.5) / modulation_factor(sh, fm, m);
    wd.pw = pt * harmonic_width / 44100;
    const double fs = freq_at(sh, p);
    wd.fw = fs * harmonic_width / 44100;

    const int first = j0 - half;
    int lo = std::max(0, -first);
    const int hi = std::min(block, sh.outlen - first);
    double d[block];
    // Zeros outside lo..hi - 1, which may be empty or lie past the block.
    const int z0 = std::min(lo, block), z1 = std::max(z0, hi);
    std::fill(d, d + z0, 0.0);
    if (z1 > z0) products(sh.datbuf + first + z0, sh.sine1024 + z0, z1 - z0, d + z0);
    std::fill(d + z1, d + block, 0.0);
    if (!u.no_filter) correct_formants(sh, u, wd, d);

    // Zero unless the breath runs (which fills all of it), so the sum below
    // may always read it.
    double nb[block];
    if (u.breath > 0 && u.noise)
        make_breath(sh, u, wd, nb);
    else
        std::fill(nb, nb + block, 0.0);

    const double* s = sh.sine1024;
    mutex_lock(sh.outbuf_lock);
#ifdef VELORIN_ENVELOPE_AVX
    if (envelope_wide_lanes() && hi - lo >= 4) {
        const int n4 = (hi - lo) / 4 * 4;
        add_block_avx(sh.outbuf + first + lo, d + lo, nb + lo, s + lo, u.voiced_gain, u.noise_gain,
                      n4);
        lo += n4;
    }
#endif
    if (u.noise_gain > 0) {
        for (int k = lo; k < hi; ++k)
            sh.outbuf[first + k] += (u.voiced_gain * d[k] + u.noise_gain * nb[k]) * s[k];
    } else {
        for (int k = lo; k < hi; ++k) sh.outbuf[first + k] += u.voiced_gain * d[k] * s[k];
    }
    mutex_unlock(sh.outbuf_lock);
}

}  // namespace velorin
