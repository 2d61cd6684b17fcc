// tests/support/frq_reference.cpp: the frequency analysis, straight from its formulas.
#include "tests/support/frq_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "synth/kernels.h"

namespace velorin_test {

namespace {

constexpr double two_pi_15 = 6.28318530717958;

void put_le(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void put_sample(std::vector<uint8_t>& out, double v, int bits) {
    switch (bits) {
        case 8: {
            const double u = std::round(v / 256.0 + 128.0);
            out.push_back(static_cast<uint8_t>(std::clamp(u, 0.0, 255.0)));
            break;
        }
        case 16:
            put_le(out,
                   static_cast<uint16_t>(
                       static_cast<int16_t>(std::clamp(std::round(v), -32768.0, 32767.0))),
                   2);
            break;
        case 24:
            put_le(out,
                   static_cast<uint32_t>(static_cast<int32_t>(
                       std::clamp(std::round(v * 256.0), -8388608.0, 8388607.0))),
                   3);
            break;
        case 32: {
            const float f = static_cast<float>(v / 32768.0);
            uint32_t u;
            std::memcpy(&u, &f, 4);
            put_le(out, u, 4);
            break;
        }
        case 64: {
            const double d = v / 32768.0;
            uint64_t u;
            std::memcpy(&u, &d, 8);
            put_le(out, u, 8);
            break;
        }
        default:
            break;
    }
}

struct Sample {
    const uint8_t* data;
    int bits;
    int channels;
    int64_t frames;
};

double read(const Sample& s, double x, double width) {
    using namespace velorin;
    switch (s.bits) {
        case 8:
            return sinc_read_u8(x, s.data, width, s.channels, s.frames);
        case 16:
            return sinc_read_i16(x, reinterpret_cast<const int16_t*>(s.data), width, s.channels,
                                 s.frames);
        case 24:
            return sinc_read_i24(x, s.data, width, s.channels, s.frames);
        case 32:
            return sinc_read_f32(x, reinterpret_cast<const float*>(s.data), width, s.channels,
                                 s.frames);
        case 64:
            return sinc_read_f64(x, reinterpret_cast<const double*>(s.data), width, s.channels,
                                 s.frames);
        default:
            return 0.0;
    }
}

double lag_cost(const Sample& s, double a, double g, int m_count, const std::vector<double>& ew) {
    double e = 0.0;
    for (int m = 0; m < m_count; ++m) {
        const double diff = read(s, a - g / 2 + m, 1.0) - read(s, a - g / 2 + g + m, 1.0);
        e += ew[2 * m] * (diff * diff);
    }
    return e;
}

// Sample p of channel 0 on the 16-bit scale, for the amplitude measure.
double sample16(const uint8_t* data, int bits, int channels, int64_t p) {
    const uint8_t* b = data + p * channels * (bits / 8);
    switch (bits) {
        case 8:
            return (b[0] - 127.5) * 256;
        case 16: {
            int16_t v;
            std::memcpy(&v, b, 2);
            return v;
        }
        case 24: {
            uint32_t u = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16;
            int32_t v = static_cast<int32_t>(u);
            if (u & 0x800000u) v -= 0x1000000;
            return v * 0.00390625;
        }
        case 32: {
            float v;
            std::memcpy(&v, b, 4);
            return v * 32768;
        }
        default:
            return 0.0;
    }
}

bool close_freqs(double a, double b) {
    return a > 0 && b > 0 && std::min(a, b) / std::max(a, b) > 0.9091;
}

}  // namespace

std::vector<uint8_t> analysis_bytes(const std::vector<double>& x, int bits, int channels,
                                    const std::vector<double>& other) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < x.size(); ++i) {
        put_sample(out, x[i], bits);
        for (int c = 1; c < channels; ++c) put_sample(out, i < other.size() ? other[i] : 0.0, bits);
    }
    out.resize(out.size() + size_t(4096) * channels * (bits / 8), 0);
    return out;
}

std::vector<double> reference_analysis_window(int n) {
    std::vector<double> w(n);
    for (int i = 0; i < n; ++i) w[i] = 0.5 - 0.5 * std::cos(i * (two_pi_15 / n));
    return w;
}

std::vector<double> reference_energy_window(int n) {
    const int l = n + n / 2;
    std::vector<double> w(l + 1);
    for (int j = 0; j <= l; ++j) w[j] = 0.5 - 0.5 * std::cos(j * (two_pi_15 / l));
    return w;
}

double reference_estimate_period(int p, int min_lag, int max_lag, const uint8_t* data, int nsamp,
                                 int bits, int channels, int rate, int n, int step, int mode,
                                 const std::vector<double>& aw, const std::vector<double>& ew) {
    const Sample s{data, bits, channels, int64_t(nsamp) + 4096};
    const int l = n + n / 2;
    double w = std::floor(rate / 920.0);
    if (w < 1) w = 1;
    std::vector<double> buf(l);
    for (int i = 0; i < l; ++i) {
        const int q = static_cast<int>(p + i - (0.75 * n - 0.25 * step));
        buf[i] = (q < 0 || q >= nsamp) ? 0.0 : read(s, q, bits == 8 ? 1.0 : w);
    }
    std::vector<double> x(n);
    for (int i = 0; i < n; ++i) x[i] = buf[i + n / 4] * aw[i];

    const int m_count = n / 2 + n / 4;
    std::vector<double> d(m_count + 1, 0.0);
    std::vector<int> cand;
    for (int tau = min_lag; tau <= max_lag; ++tau) {
        const int b = n / 8 + n / 4 - tau / 2;
        double sum = 0.0;
        for (int m = 0; m < m_count; ++m) {
            const double diff = buf[b + m] - buf[b + m + tau];
            sum += ew[2 * m] * (diff * diff);
        }
        d[tau] = sum;
        if (tau >= min_lag + 2 && d[tau - 2] > d[tau - 1] && d[tau] > d[tau - 1] &&
            cand.size() < 1024)
            cand.push_back(tau - 1);
    }

    int t = 0;
    double best_score = 0.0;
    for (int tc : cand) {
        const double om = 6.28318530717958 / tc;
        double sn = 0.0, cs = 0.0;
        for (int i = 0; i < n; ++i) {
            sn += x[i] * std::sin(i * om);
            cs += x[i] * std::cos(i * om);
        }
        const double score = std::sqrt((cs * cs + sn * sn) / (d[tc] + 1e-07));
        if (score >= best_score) {
            best_score = score;
            t = tc;
        }
    }
    const int c = static_cast<int>(cand.size());
    const bool accepted = mode == 1 ? c > 0 && (max_lag - min_lag + 1) / c > min_lag : c > 0;
    if (!accepted || t == 0) return 0.0;

    double dd = t;
    if (t / 80000.0 < 1) {
        const double a = n / 8 + p;
        double h = 1.0, best = 1e30;
        for (;;) {
            const double trial[3] = {dd - h, dd, dd + h};
            double lowest = best;
            int win = 1;
            for (int i = 0; i < 3; ++i) {
                const double e = (i == 1 && h < 1) ? best : lag_cost(s, a, trial[i], m_count, ew);
                if (e < lowest) {
                    lowest = e;
                    win = i;
                }
            }
            if (win != 1) {
                dd = trial[win];
                if (std::fabs(t - dd) > 1) {
                    dd = t;
                    break;
                }
            }
            best = lowest;
            h *= 0.5;
            if (h <= t / 80000.0) break;
        }
    }
    return dd > 0 ? rate / dd : 0.0;
}

void prepare_signal(const std::vector<uint8_t>& bytes, int bits, int channels, int rate, int n,
                    int step, PreparedSignal* out, velorin::SimdWidth lanes) {
    const int64_t frames = int64_t(bytes.size()) / (channels * (bits / 8));
    const int nsamp = static_cast<int>(frames - velorin::analysis_zero_frames);
    velorin::release_period_signal(&out->sig);
    velorin::PeriodInput in{bytes.data(), bits, channels, nsamp, rate, n, step};
    in.lanes = lanes;
    if (!velorin::prepare_period_signal(in, 1, false, &out->sig)) std::abort();
}

PreparedSignal::~PreparedSignal() { velorin::release_period_signal(&sig); }

velorin::FreqList* reference_freq_list(const uint8_t* data, int64_t bytes, int bits, int channels,
                                       int block_align, int rate, int n, int step, double lo_hz,
                                       double hi_hz) {
    const int nsamp = static_cast<int>(bytes / block_align);
    const int count = nsamp / step + 1;
    const std::vector<double> aw = reference_analysis_window(n);
    const std::vector<double> ew = reference_energy_window(n);
    velorin::FreqList* list = velorin::alloc_freq_list(count);
    if (!list) std::abort();
    double* freq = list->freq;
    double* amp = list->amp;

    double lo = lo_hz > 0 ? lo_hz : 52.0, hi = hi_hz > 0 ? hi_hz : 900.0;
    if (lo > hi) std::swap(lo, hi);
    const int min_lag = static_cast<int>(rate / hi);
    const int max_lag = std::min(static_cast<int>(rate / lo), n / 2 + n / 4);
    auto estimate = [&](int k, int lo_lag, int hi_lag, int mode) {
        return reference_estimate_period(k * step, lo_lag, hi_lag, data, nsamp, bits, channels,
                                         rate, n, step, mode, aw, ew);
    };
    for (int p = 0; p < nsamp; p += step) freq[p / step] = estimate(p / step, min_lag, max_lag, 1);

    double sw = 0.0, swf = 0.0;
    for (int k = 0; k < count; ++k) {
        double e = 0.0;
        for (int j = 0; j < n + n / 2; ++j) {
            const int64_t p = int64_t(k) * step - n / 4 + j;
            if (p < 0) continue;
            const double v = sample16(data, bits, channels, p) * ew[j];
            e += v * v;
        }
        amp[k] = 0.125 * std::sqrt(e);
        const double f = freq[k];
        if (f > 1) {
            double wt = amp[k] + 1;
            for (int j = 1; j <= 11; ++j) {
                if (k - j >= 0 && freq[k - j] > 1) {
                    const double r = f / (15 * std::fabs(freq[k - j] - f) + f);
                    wt = wt * (r * r);
                } else {
                    wt = wt * (1 / (f + 1));
                }
            }
            sw += wt;
            swf += wt * f;
        }
    }
    const double freq_avg = sw != 0 ? swf / sw : double(rate) / max_lag;

    auto again = [&](int k, double period) {
        const int lo_lag = static_cast<int>(std::floor(0.9091 * period));
        const int hi_lag = std::min(n / 2 + n / 4, static_cast<int>(std::ceil(1.1 * period)));
        freq[k] = estimate(k, lo_lag, hi_lag, 2);
    };
    double prev1 = 0.0, prev2 = 0.0;
    for (int k = 0; k < count; ++k) {
        if (freq[k] < 1) {
            int j = k;
            double jj = k < count - 1 ? freq[k + 1] : 0.0;
            double ii = k < count - 2 ? freq[k + 2] : 0.0;
            while (j >= 0 && freq[j] < 1 && close_freqs(jj, ii)) {
                again(j, rate / (2 * jj - ii));
                if (freq[j] < 1) break;
                ii = jj;
                jj = freq[j];
                --j;
            }
            if (freq[k] < 1 && close_freqs(prev1, prev2)) again(k, rate / (2 * prev1 - prev2));
            const double hh = k < count - 1 ? freq[k + 1] : 0.0;
            if (freq[k] < 1 && close_freqs(prev1, hh)) again(k, rate / ((hh + prev1) * 0.5));
        }
        prev2 = prev1;
        prev1 = freq[k];
    }
    freq[count] = freq[count - 1];
    amp[count] = amp[count - 1];

    list->step = step;
    list->sample_rate = rate;
    list->freq_avg = freq_avg;
    return list;
}

}  // namespace velorin_test
