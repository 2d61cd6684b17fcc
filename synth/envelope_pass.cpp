// synth/envelope_pass.cpp: the second render pass, one 1024-sample block per
// unit with the source's formant envelope and breath.
#include <algorithm>
#include <cmath>

#include "platform/platform.h"
#include "synth/kernels.h"
#include "synth/lane_kernels.h"
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

// Scales bin n of the transformed block x by g = sqrt(want[n] / have[n] * pw
// / fw) (times shape[n] where shape is not null) where have[n] > 0 and that
// gain is finite; other bins stay as they are. Bins 1 .. 511 go side by side.
void gains(const LaneKernels& k, double* x, const double* want, const double* have, double pw,
           double fw, const double* shape) {
    const auto one = [&](int n) {
        if (!(have[n] > 0)) return;
        const double g = std::sqrt(want[n] / have[n] * pw / fw);
        const double gn = shape ? g * shape[n] : g;
        if (std::isfinite(gn)) scale_bin(x, n, gn);
    };
    one(0);
    for (int n = k.gains(x, want, have, pw, fw, shape, 1); n <= half; ++n) one(n);
}

// dst[i] = a[i] * b[i] for i = 0 .. n - 1.
void products(const LaneKernels& k, const double* a, const double* b, int n, double* dst) {
    for (int i = k.products(a, b, n, dst); i < n; ++i) dst[i] = a[i] * b[i];
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
    const LaneKernels& lk = lane_kernels(sh.lanes);
    double src[block];
    ReadSpan span;
    constexpr int reads = batch / 2;  // in each direction
    for (int i0 = 0; i0 < half; i0 += reads) {
        // Positions p + i r fill src from its middle forward, p - (i + 1) r
        // backward.
        double at[batch], v[batch];
        for (int k = lk.read_positions(p, r, i0, reads, at); k < reads; ++k) {
            at[k] = p + (i0 + k) * r;
            at[reads + k] = p - (i0 + k + 1) * r;
        }
        if (sh.missed)
            for (double x : at) span.add(x);
        sinc_read_render_many(sh.lanes, at, batch, sh.sample, wd.w, sh.channels, sh.sample_frames,
                              v);
        double* up = src + half + i0;
        double* down = src + half - 1 - i0;
        for (int k = lk.products(v, s + half + i0, reads, up); k < reads; ++k)
            up[k] = v[k] * s[half + i0 + k];
        for (int k = lk.products_down(v + reads, s + half - 1 - i0, reads, down); k < reads; ++k)
            down[-k] = v[reads + k] * s[half - 1 - i0 - k];
    }
    check_reads(sh, span, wd.w);
    rfft_forward(sh.lanes, block, d, sh.twiddles, sh.bitrev);
    rfft_forward(sh.lanes, block, src, sh.twiddles, sh.bitrev);
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
    gains(lk, d, e, ed, wd.pw, wd.fw, nullptr);  // unusable widths leave the bin as it is
    rfft_inverse(sh.lanes, block, d, sh.twiddles, sh.bitrev);
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
    const LaneKernels& lk = lane_kernels(sh.lanes);
    double fu = u.src_pos;
    double fv = u.src_pos - r / u.gender;
    ReadSpan span;
    for (int i0 = 0; i0 < half; i0 += batch / 4) {
        // Four reads per i: fu -+ du and fv -+ dv, half a source period
        // either side of the position fu running forward and fv backward.
        // The positions of the batch first (each from the one before), then
        // their lookups and quotients side by side.
        double xs[batch / 2], at[batch], v[batch];
        for (int k = 0; k < batch / 2; k += 2) {
            xs[k] = fu;
            xs[k + 1] = fv;
            fu += step;
            fv -= step;
        }
        for (int j = lk.breath_positions(freq, xs, batch / 2, half_rate, at); j < batch / 2; ++j) {
            const double d = half_rate / freq.at(xs[j]);
            at[2 * j] = xs[j] - d;
            at[2 * j + 1] = xs[j] + d;
        }
        if (sh.missed)
            for (double x : at) span.add(x);
        sinc_read_render_many(sh.lanes, at, batch, sh.sample, wd.w, sh.channels, sh.sample_frames,
                              v);
        double* up = src + half + i0;
        double* down = src + half - 1 - i0;
        const double* su = s + half + i0;
        const double* sd = s + half - 1 - i0;
        for (int k = lk.breath_block(v, batch / 4, su, sd, up, down); k < batch / 4; ++k) {
            up[k] = (v[4 * k] - v[4 * k + 1]) * su[k];
            down[-k] = (v[4 * k + 2] - v[4 * k + 3]) * sd[-k];
        }
    }
    check_reads(sh, span, wd.w);
    rfft_forward(sh.lanes, block, src, sh.twiddles, sh.bitrev);
    double ea[bins];
    smoothed_power_spectrum(sh.lanes, src, wd.fw * u.gender, ea);

    products(lk, u.noise, s, block, nb);
    rfft_forward(sh.lanes, block, nb, sh.twiddles, sh.bitrev);
    double en[bins];
    smoothed_power_spectrum(sh.lanes, nb, wd.pw, en);
    gains(lk, nb, ea, en, wd.pw, wd.fw * u.gender, sh.breath_shape);
    rfft_inverse(sh.lanes, block, nb, sh.twiddles, sh.bitrev);
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
    const LaneKernels& lk = lane_kernels(sh.lanes);
    if (z1 > z0) products(lk, sh.datbuf + first + z0, sh.sine1024 + z0, z1 - z0, d + z0);
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
    if (hi > lo)
        lo += lk.add_block(sh.outbuf + first + lo, d + lo, nb + lo, s + lo, u.voiced_gain,
                           u.noise_gain, hi - lo);
    if (u.noise_gain > 0) {
        for (int k = lo; k < hi; ++k)
            sh.outbuf[first + k] += (u.voiced_gain * d[k] + u.noise_gain * nb[k]) * s[k];
    } else {
        for (int k = lo; k < hi; ++k) sh.outbuf[first + k] += u.voiced_gain * d[k] * s[k];
    }
    mutex_unlock(sh.outbuf_lock);
}

}  // namespace velorin
