// tests/support/synth_reference.cpp: the two render passes evaluated the
// straightforward way.
#include "tests/support/synth_reference.h"

#include <algorithm>
#include <cmath>

#include "synth/kernels.h"
#include "synth/render_reader.h"
#include "synth/rfft.h"

namespace velorin_test {

using velorin::FirstPassUnit;
using velorin::RenderShared;
using velorin::SecondPassUnit;

namespace {

double ref_freq_at(const RenderShared& sh, double x) {
    return velorin::series_value_at(x, sh.freq, sh.freq_count, sh.freq_step, 1.0, 55.0,
                                    sh.freq_avg);
}

double ref_pitch_at(const RenderShared& sh, double x) {
    if (!sh.pitch_freq) return sh.target_freq;
    return velorin::series_value_at(x, sh.pitch_freq, sh.pitch_count, sh.pitch_step, 1.0, 1.0,
                                    sh.target_freq);
}

double factor(const RenderShared& sh, double f, double m) {
    return (sh.freq_avg / f) * m + (1 - m);
}

double read(const RenderShared& sh, double x, double w, bool render_reader = false) {
    if (render_reader)
        return velorin::sinc_read_render(x, sh.sample, w, sh.channels, sh.sample_frames);
    return velorin::sinc_read_f64(x, sh.sample, w, sh.channels, sh.sample_frames);
}

void power(const double* x, double* p) {
    for (int k = 0; k <= 512; ++k)
        p[k] = (k == 0 || k == 512) ? x[k] * x[k] : x[k] * x[k] + x[1024 - k] * x[1024 - k];
}

void scale(double* x, int n, double g) {
    x[n] = x[n] * g;
    if (n > 0 && n < 512) x[1024 - n] = x[1024 - n] * g;
}

}  // namespace

void reference_smoothed_spectrum(const double* p, double width, double* out) {
    const int h = width >= 1.0 ? static_cast<int>(std::floor(width)) : 0;
    for (int n = 0; n <= 512; ++n) {
        double sum = 0;
        for (int t = -h; t <= h; ++t) {
            int i = n + t;
            if (i < 0) i = -i;
            if (i > 512) continue;
            sum += velorin::smoothing_weight(t / width) * p[i];
        }
        out[n] = sum;
    }
}

void reference_resampling_pass(const RenderShared& sh, const FirstPassUnit& u) {
    const double r = sh.r;
    const double c = velorin::aligned_source_position(
        u.src_pos, u.out_phase, sh.freq, sh.freq_count, sh.phase_table, sh.phase_frames,
        sh.freq_step, 1.0, 55.0, sh.freq_avg, sh.rate);
    const double fc = ref_freq_at(sh, c);
    const double w = std::max(1.0, r);
    double a = c;
    double b = c - (u.target_freq / fc) * r;
    double grain[128];
    for (int i = 0; i < 64; ++i) {
        const double fa = ref_freq_at(sh, a);
        const double fb = ref_freq_at(sh, b);
        grain[64 + i] = read(sh, a, w) * sh.hann128[64 + i];
        grain[63 - i] = read(sh, b, w) * sh.hann128[63 - i];
        const double pa = ref_pitch_at(sh, u.out_index + i + 0.5);
        const double pb = ref_pitch_at(sh, u.out_index - i - 1.5);
        a += (pa / fa) * r / factor(sh, fa, u.modulation);
        b -= (pb / fb) * r / factor(sh, fb, u.modulation);
    }
    for (int k = 0; k < 128; ++k) {
        const int n = u.out_index - 64 + k;
        if (n >= 0 && n < sh.outlen) sh.datbuf[n] += grain[k];
    }
}

void reference_envelope_breath_pass(const RenderShared& sh, const SecondPassUnit& u,
                                    bool render_reader) {
    const int j0 = u.out_index;
    const double p = u.src_pos;
    const double r = sh.r;
    const double w = std::max(1.0, r);
    const double* s = sh.sine1024;
    const double pt = ref_pitch_at(sh, j0 - 0.5) /
                      factor(sh, ref_freq_at(sh, p + 0.5 - 0.25 * sh.freq_step), u.modulation);
    const double pw = pt * 1433.6 / 44100;
    const double fs = ref_freq_at(sh, p);
    const double fw = fs * 1433.6 / 44100;

    double d[1024], sb[1024], nb[1024] = {};
    for (int i = 0; i < 1024; ++i) {
        const int n = j0 - 512 + i;
        d[i] = (n >= 0 && n < sh.outlen) ? sh.datbuf[n] * s[i] : 0.0;
    }
    if (u.no_filter == 0) {
        for (int i = 0; i < 512; ++i) {
            sb[512 + i] = read(sh, p + i * r, w, render_reader) * s[512 + i];
            sb[511 - i] = read(sh, p - (i + 1) * r, w, render_reader) * s[511 - i];
        }
        velorin::rfft_forward(velorin::SimdWidth::scalar, 1024, d, sh.twiddles, sh.bitrev);
        velorin::rfft_forward(velorin::SimdWidth::scalar, 1024, sb, sh.twiddles, sh.bitrev);
        double pd[513], ps[513], es[513], ed[513];
        power(d, pd);
        power(sb, ps);
        reference_smoothed_spectrum(ps, fw, es);
        reference_smoothed_spectrum(pd, pw, ed);
        for (int n = 0; n <= 512; ++n) {
            if (ed[n] > 0) {
                double e;
                if (u.gender == 1.0) {
                    e = es[n];
                } else {
                    const double x = n * u.gender;
                    const int k = static_cast<int>(std::floor(x));
                    const double f = x - k;
                    e = k < 512 ? (1 - f) * es[k] + f * es[k + 1] : 0;
                }
                scale(d, n, std::sqrt(e / ed[n] * pw / fw));
            }
        }
        velorin::rfft_inverse(velorin::SimdWidth::scalar, 1024, d, sh.twiddles, sh.bitrev);
    }
    if (u.breath > 0) {
        for (int i = 0; i < 1024; ++i) nb[i] = u.noise[i] * s[i];
        double fu = p, fv = p - r / u.gender;
        for (int i = 0; i < 512; ++i) {
            const double du = (sh.rate * 0.5) / ref_freq_at(sh, fu);
            const double dv = (sh.rate * 0.5) / ref_freq_at(sh, fv);
            sb[512 + i] =
                (read(sh, fu - du, w, render_reader) - read(sh, fu + du, w, render_reader)) *
                s[512 + i];
            sb[511 - i] =
                (read(sh, fv - dv, w, render_reader) - read(sh, fv + dv, w, render_reader)) *
                s[511 - i];
            fu += r / u.gender;
            fv -= r / u.gender;
        }
        velorin::rfft_forward(velorin::SimdWidth::scalar, 1024, sb, sh.twiddles, sh.bitrev);
        double pa[513], ea[513];
        power(sb, pa);
        reference_smoothed_spectrum(pa, fw * u.gender, ea);
        velorin::rfft_forward(velorin::SimdWidth::scalar, 1024, nb, sh.twiddles, sh.bitrev);
        double pn[513], en[513];
        power(nb, pn);
        reference_smoothed_spectrum(pn, pw, en);
        for (int n = 0; n <= 512; ++n) {
            if (en[n] > 0)
                scale(nb, n, std::sqrt(ea[n] / en[n] * pw / (fw * u.gender)) * sh.breath_shape[n]);
        }
        velorin::rfft_inverse(velorin::SimdWidth::scalar, 1024, nb, sh.twiddles, sh.bitrev);
    }
    for (int k = 0; k < 1024; ++k) {
        const int n = j0 - 512 + k;
        if (n < 0 || n >= sh.outlen) continue;
        if (u.noise_gain > 0)
            sh.outbuf[n] += (u.voiced_gain * d[k] + u.noise_gain * nb[k]) * s[k];
        else
            sh.outbuf[n] += u.voiced_gain * d[k] * s[k];
    }
}

void reference_rfft_stages(int n, double* a, const double* twiddles) {
    for (int size = 2; size <= n; size *= 2) {
        const int half = size / 2, quarter = size / 4, stride = n / size;
        for (int b = 0; b < n; b += size) {
            const double x0 = a[b], x1 = a[b + half];
            a[b + half] = x0 - x1;
            a[b] = x0 + x1;
            for (int j = 1; j < quarter; ++j) {
                const double c = twiddles[2 * (j * stride)], s = twiddles[2 * (j * stride) + 1];
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

void reference_rfft_inverse_stages(int n, double* a, const double* twiddles) {
    a[0] = a[0] * 0.5;
    a[n / 2] = a[n / 2] * 0.5;
    for (int size = n; size >= 2; size /= 2) {
        const int half = size / 2, quarter = size / 4, stride = n / size;
        for (int b = 0; b < n; b += size) {
            const double x0 = a[b], x1 = a[b + half];
            a[b] = x0 + x1;
            a[b + half] = x0 - x1;
            for (int j = 1; j < quarter; ++j) {
                const double c = twiddles[2 * (j * stride)], s = twiddles[2 * (j * stride) + 1];
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
}

}  // namespace velorin_test
