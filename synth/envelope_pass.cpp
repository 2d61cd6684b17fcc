// synth/envelope_pass.cpp: the second render pass, one 1024-sample block per
// unit with the source's formant envelope and breath.
#include <algorithm>
#include <cmath>

#if defined(__SSE2__) || defined(__x86_64__)
#include <emmintrin.h>
#define VELORIN_ENVELOPE_SSE2 1
#endif

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
        for (int k = 0; k < batch / 2; ++k) {
            at[k] = p + (i0 + k) * r;
            at[batch / 2 + k] = p - (i0 + k + 1) * r;
        }
        if (sh.missed)
            for (double x : at) span.add(x);
        sinc_read_render_many(at, batch, sh.sample, wd.w, sh.channels, sh.sample_frames, v);
        for (int k = 0; k < batch / 2; ++k) {
            const int i = i0 + k;
            src[half + i] = v[k] * s[half + i];
            src[half - 1 - i] = v[batch / 2 + k] * s[half - 1 - i];
        }
    }
    check_reads(sh, span, wd.w);
    rfft_forward(block, d, sh.twiddles, sh.bitrev);
    rfft_forward(block, src, sh.twiddles, sh.bitrev);
    double pd[bins], ps[bins], es[bins], ed[bins];
    power_spectrum(d, pd);
    power_spectrum(src, ps);
    smoothed_spectrum(ps, wd.fw, es);
    smoothed_spectrum(pd, wd.pw, ed);
    double e[bins];
    for (int n = 0; n < bins; ++n) {
        e[n] = 0.0;
        if (u.gender == 1.0) {
            e[n] = es[n];
        } else {
            const double x = n * u.gender;
            // A bin that would come from at or past bin 512 is silenced; so
            // is one from a NaN or negative position, which a formant factor
            // never gives.
            if (x >= 0.0 && x < half) {
                const int k = static_cast<int>(std::floor(x));
                const double f = x - k;
                e[n] = (1 - f) * es[k] + f * es[k + 1];
            }
        }
    }
    double* g = e;  // each gain replaces its bin's envelope
    bin_gains(e, ed, wd.pw, wd.fw, g);
    apply_gains(d, g, nullptr, ed);  // unusable widths leave the bin as it is
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
        sinc_read_render_many(at, batch, sh.sample, wd.w, sh.channels, sh.sample_frames, v);
        for (int k = 0; k < batch / 4; ++k) {
            const int i = i0 + k;
            src[half + i] = (v[4 * k] - v[4 * k + 1]) * s[half + i];
            src[half - 1 - i] = (v[4 * k + 2] - v[4 * k + 3]) * s[half - 1 - i];
        }
    }
    check_reads(sh, span, wd.w);
    rfft_forward(block, src, sh.twiddles, sh.bitrev);
    double pa[bins], ea[bins];
    power_spectrum(src, pa);
    smoothed_spectrum(pa, wd.fw * u.gender, ea);

    for (int i = 0; i < block; ++i) nb[i] = u.noise[i] * s[i];
    rfft_forward(block, nb, sh.twiddles, sh.bitrev);
    double pn[bins], en[bins];
    power_spectrum(nb, pn);
    smoothed_spectrum(pn, wd.pw, en);
    double* g = ea;  // each gain replaces its bin's envelope
    bin_gains(ea, en, wd.pw, wd.fw * u.gender, g);
    apply_gains(nb, g, sh.breath_shape, en);
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
    const int lo = std::max(0, -first);
    const int hi = std::min(block, sh.outlen - first);
    double d[block];
    // Zeros outside lo..hi - 1, which may be empty or lie past the block.
    const int z0 = std::min(lo, block), z1 = std::max(z0, hi);
    std::fill(d, d + z0, 0.0);
    for (int i = z0; i < z1; ++i) d[i] = sh.datbuf[first + i] * sh.sine1024[i];
    std::fill(d + z1, d + block, 0.0);
    if (!u.no_filter) correct_formants(sh, u, wd, d);

    // Zero unless the breath runs, so the sum below may always read it.
    double nb[block] = {};
    if (u.breath > 0 && u.noise) make_breath(sh, u, wd, nb);

    const double* s = sh.sine1024;
    mutex_lock(sh.outbuf_lock);
    if (u.noise_gain > 0) {
        for (int k = lo; k < hi; ++k)
            sh.outbuf[first + k] += (u.voiced_gain * d[k] + u.noise_gain * nb[k]) * s[k];
    } else {
        for (int k = lo; k < hi; ++k) sh.outbuf[first + k] += u.voiced_gain * d[k] * s[k];
    }
    mutex_unlock(sh.outbuf_lock);
}

}  // namespace velorin
