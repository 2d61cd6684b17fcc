// tests/support/synth_fixtures.cpp: transform tables, windows and a complete
// render setting for the synthesis tests and benchmarks.
#include "tests/support/synth_fixtures.h"

#include <algorithm>
#include <cmath>

#include "synth/kernels.h"
#include "synth/rfft.h"

namespace velorin_test {

std::vector<velorin::SimdWidth> every_width() {
    using velorin::SimdWidth;
    std::vector<SimdWidth> out;
    for (SimdWidth w : {SimdWidth::scalar, SimdWidth::pair, SimdWidth::avx, SimdWidth::avx512})
        if (static_cast<int>(w) <= static_cast<int>(velorin::simd_width_available()))
            out.push_back(w);
    return out;
}

RfftTables make_rfft_tables(int n) {
    RfftTables t;
    t.n = n;
    t.twiddles.assign(2 * static_cast<size_t>(n), 0.0);
    // sqrt(n) entries suffice; two more keep odd powers of two safe.
    t.bitrev.assign(static_cast<size_t>(std::sqrt(static_cast<double>(n))) + 2, 0);
    velorin::build_twiddles(t.twiddles.data(), n);
    velorin::build_bitrev(n, t.bitrev.data());
    return t;
}

Windows make_windows(int n) {
    Windows w;
    w.hann.assign(n, 0.0);
    w.sine.assign(n, 0.0);
    velorin::build_windows(w.hann.data(), w.sine.data(), n);
    return w;
}

SynthScene::SynthScene() {
    sh.lanes = velorin::simd_width_available();
    sh.datbuf_lock = velorin::mutex_create();
    sh.outbuf_lock = velorin::mutex_create();
}

SynthScene::~SynthScene() {
    velorin::mutex_close(sh.datbuf_lock);
    velorin::mutex_close(sh.outbuf_lock);
}

std::unique_ptr<SynthScene> make_scene(const std::vector<double>& source, double rate,
                                       const std::vector<double>& freq, int outlen, double target) {
    auto sc = std::make_unique<SynthScene>();
    const int step = 256;
    const int64_t ssize = static_cast<int64_t>(source.size());
    sc->sample = source;
    sc->sample.resize(source.size() + 2048, 0.0);
    const int count = static_cast<int>(ssize / step);
    if (freq.size() == 1)
        sc->freq.assign(count + 1, freq[0]);
    else
        sc->freq = freq;
    sc->freq.resize(count + 1, sc->freq.empty() ? 0.0 : sc->freq.back());
    // The list's average over its valid frames, as the analysis reports it.
    double sum = 0;
    int n = 0;
    for (int k = 0; k < count; ++k) {
        if (sc->freq[k] > 1.0 && sc->freq[k] != 55.0) {
            sum += sc->freq[k];
            ++n;
        }
    }
    const double avg = n ? sum / n : target;
    sc->phase_table.assign(count + 1, 0.0);
    velorin::build_phase_table(sc->freq.data(), count, step, avg, ssize, rate,
                               sc->phase_table.data(), count);
    sc->breath_shape.resize(1024);
    for (int k = 0; k < 1024; ++k) sc->breath_shape[k] = k * 0.04;
    sc->datbuf.assign(outlen, 0.0);
    sc->outbuf.assign(outlen, 0.0);

    velorin::RenderShared& sh = sc->sh;
    sh.sample = sc->sample.data();
    sh.sample_frames = static_cast<int64_t>(sc->sample.size());
    sh.channels = 1;
    sh.rate = rate;
    sh.r = rate / 44100;
    sh.freq = sc->freq.data();
    sh.freq_count = count;
    sh.freq_step = step;
    sh.freq_step_inv = velorin::step_reciprocal(step);
    sh.freq_avg = avg;
    sh.phase_table = sc->phase_table.data();
    sh.phase_frames = count;
    sh.target_freq = target;
    sh.outlen = outlen;
    sh.hann128 = sc->w128.hann.data();
    sh.sine1024 = sc->w1024.sine.data();
    sh.twiddles = sc->tables.twiddles.data();
    sh.bitrev = sc->tables.bitrev.data();
    sh.breath_shape = sc->breath_shape.data();
    sh.datbuf = sc->datbuf.data();
    sh.outbuf = sc->outbuf.data();
    return sc;
}

std::vector<velorin::FirstPassUnit> first_pass_units(const SynthScene& sc, double start,
                                                     double advance, double modulation,
                                                     std::vector<double>* genposs) {
    const velorin::RenderShared& sh = sc.sh;
    std::vector<velorin::FirstPassUnit> units;
    genposs->assign(sh.outlen / 256 + 8, 0.0);
    double x = start;
    double phase = 0;
    for (int j = 0; j < sh.outlen; ++j) {
        double f = sh.pitch_freq ? velorin::series_value_at(j - 0.5, sh.pitch_freq, sh.pitch_count,
                                                            sh.pitch_step, 1.0, 1.0, sh.target_freq)
                                 : sh.target_freq;
        const double s = x + 0.5 - 0.25 * sh.freq_step;
        const double fs = velorin::series_value_at(s, sh.freq, sh.freq_count, sh.freq_step, 1.0,
                                                   55.0, sh.freq_avg);
        f = f / ((sh.freq_avg / fs) * modulation + (1 - modulation));
        if (j % 64 == 0) {
            if (j % 256 == 0) (*genposs)[j / 256] = s;
            velorin::FirstPassUnit u;
            u.out_index = j;
            u.src_pos = s;
            u.out_phase = phase;
            u.target_freq = f;
            u.modulation = modulation;
            units.push_back(u);
        }
        x += advance;
        phase += f / 44100;
    }
    return units;
}

std::vector<velorin::SecondPassUnit> second_pass_units(const SynthScene& sc,
                                                       const std::vector<double>& genposs,
                                                       double breath, double gender, bool no_filter,
                                                       double modulation,
                                                       std::vector<std::vector<double>>* noise) {
    const int outlen = sc.sh.outlen;
    uint32_t state = 1;  // the C runtime's generator, never seeded
    const auto draw = [&state]() {
        state = state * 214013u + 2531011u;
        const int v = static_cast<int>((state >> 16) & 0x7fff);
        return v * 32768.0 / 32767 - 16384;
    };
    std::vector<double> history(1024, 0.0);
    if (breath > 0)
        for (int i = 256; i < 1024; ++i) history[i] = draw();
    const int units = outlen / 256 + 2;
    noise->assign(breath > 0 ? units : 0, std::vector<double>());
    std::vector<velorin::SecondPassUnit> out;
    for (int u = 0; u < units; ++u) {
        velorin::SecondPassUnit w;
        w.out_index = u * 256;
        w.src_pos = u < static_cast<int>(genposs.size()) ? genposs[u] : 0.0;
        w.gender = gender;
        w.breath = breath;
        w.voiced_gain = (no_filter ? 0.6 : 0.001220703125) * (breath < 0.5 ? 1 : 2 * (1 - breath));
        w.noise_gain = std::min(breath, 0.5) * 0.18 * 0.001220703125;
        w.no_filter = no_filter ? 1 : 0;
        w.modulation = modulation;
        if (breath > 0) {
            std::vector<double>& block = (*noise)[u];
            block.resize(1024);
            for (int i = 0; i < 1024; ++i) {
                history[i] = i < 768 ? history[i + 256] : draw();
                block[i] = history[i];
            }
            w.noise = block.data();
        }
        out.push_back(w);
    }
    return out;
}

}  // namespace velorin_test
