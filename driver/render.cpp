// driver/render.cpp: one run of velorin after parsing: load, report, check,
// obtain the frequency list, build the time map, run both passes, normalise
// and write.
#include "driver/render.h"

#include <cmath>
#include <memory>
#include <vector>

#include "audio/analysis_loader.h"
#include "audio/wav.h"
#include "driver/schedule.h"
#include "frq/freq_gen.h"
#include "platform/console.h"
#include "platform/mem.h"
#include "platform/platform.h"
#include "synth/kernels.h"
#include "synth/passes.h"
#include "synth/rfft.h"

namespace velorin {

namespace {

template <typename T>
struct Released {
    void operator()(T* p) const { release(p); }
};
template <typename T>
using Buffer = std::unique_ptr<T, Released<T>>;

struct FreqListFree {
    void operator()(FreqList* f) const { free_freq_list(f); }
};
using FreqListPtr = std::unique_ptr<FreqList, FreqListFree>;

struct MutexClose {
    void operator()(Mutex* m) const { mutex_close(m); }
};
using MutexPtr = std::unique_ptr<Mutex, MutexClose>;

const wchar_t* const regenerate_notice =
    L"*************************************************\n"
    L"***           注意！       NOTICE!            ***\n"
    L"*** 音符内に'G'フラグが設定されているようです ***\n"
    L"*** There seems to be a 'G' flag in the note. ***\n"
    L"***       周波数表ファイルを作成します。      ***\n"
    L"***      Generating frequency list file.      ***\n"
    L"*************************************************\n";

// The loaded input and the region of it the note uses, in input samples.
struct Input {
    Buffer<double> sample;
    WavFormat fmt;
    int64_t ssize = 0;
    double cons = 0.0;
    double tail = 0.0;
    double start_pos = 0.0;
    double end_pos = 0.0;
};

bool load_input(const RenderParams& prm, Input* in) {
    in->sample.reset(read_wav_samples(prm.input_path.c_str(), 2048, &in->fmt, &in->ssize));
    // A file without a rate or channels cannot be rendered either.
    return in->sample && in->fmt.rate > 0 && in->fmt.channels > 0;
}

void convert_region(const RenderParams& prm, Input* in) {
    const double rate = in->fmt.rate;
    const double k = rate * 0.001;
    in->cons = prm.consonant_ms * k;
    in->start_pos = prm.offset_ms * k;
    in->tail = prm.tail_ms * k;
    // A positive cutoff counts back from the end of the sample, a negative
    // one forward from the offset.
    in->end_pos = (prm.cutoff_ms >= 0 ? static_cast<double>(in->ssize) : in->start_pos) -
                  prm.cutoff_ms * rate * 0.001;
}

void report_params(const RenderParams& prm, const Input& in) {
    if (!prm.verbose) return;
    sayf(stdout, "breathy  =%0.4lf\n", prm.breath);
    sayf(stdout, "bre alpha=%0.4lf\n", prm.breath_alpha);
    sayf(stdout, "gender   =%0.4lf\n", prm.gender);
    sayf(stdout, "modulation=%0.4lf\n", prm.modulation);
    if (prm.no_filter) say(stdout, "nofilter = on\n");
    if (prm.reverse) say(stdout, "reverse mode\n");
    sayf(stdout, "Input Sampling Rate=%d ", static_cast<int>(in.fmt.rate));
    sayf(stdout, "Bits=%d ", in.fmt.bits);
    sayf(stdout, "Channels=%d\n", in.fmt.channels);
    sayf(stdout, "ssize=%d\n", static_cast<int>(in.ssize));
    sayf(stdout, "outlen=%ld samples\n", static_cast<long>(prm.outlen));
    sayf(stdout, "target freq = %0.4lf\n", prm.target_freq);
}

// The three checks; false (after the message) ends the run.
bool check_region(const RenderParams& prm, const Input& in) {
    if (prm.outlen < 256) {
        say(stderr, "Output length is too short.\n");
        return false;
    }
    // A region that is not a number (an argument read as "nan" or "inf")
    // has no samples either.
    if (!(in.start_pos < in.end_pos) || !std::isfinite(in.start_pos) ||
        !std::isfinite(in.end_pos)) {
        say(stderr, "No samples available.\n");
        return false;
    }
    if (!(in.cons + in.tail <= in.end_pos - in.start_pos)) {
        say(stderr, "No stretchable range.\n");
        return false;
    }
    return true;
}

bool usable(const FreqList* list) {
    return list && list->freq && list->count >= 1 && list->step > 0;
}

// Reads the list beside the sample, or generates it; null (after the
// message) when neither works.
FreqList* frequency_list(RenderParams& prm) {
    std::wstring list_path;
    bool is_list_path = false;
    const bool path_ok = freq_list_path(prm.input_path.c_str(), &list_path, &is_list_path);

    FreqListPtr list;
    if (prm.regenerate) {
        // Flag G: the report stays on only when a host's batch file is
        // present and the output is not thrown away.
        FileStatus st;
        if (file_status(L"temp.bat", &st) && prm.output_path != L"nul") {
            prm.verbose = true;
            say_wide(stdout, regenerate_notice);
        } else {
            prm.verbose = false;
        }
        list.reset(obtain_freq_list(prm.input_path.c_str()));
    } else if (path_ok) {
        list.reset(read_freq_list(list_path.c_str()));
    }
    if (!usable(list.get())) list.reset(obtain_freq_list(prm.input_path.c_str()));
    if (!usable(list.get())) {
        say(stderr, "error : get freqency list.\n");
        return nullptr;
    }
    if (prm.verbose) sayf(stdout, "src freq avg. = %0.4lf\n", list->freq_avg);
    return list.release();
}

// The transform tables and windows the passes share.
struct Tables {
    std::vector<double> twiddles = std::vector<double>(2 * 1024);
    std::vector<double> hann1024 = std::vector<double>(1024);
    std::vector<double> sine1024 = std::vector<double>(1024);
    std::vector<double> hann128 = std::vector<double>(128);
    std::vector<double> sine128 = std::vector<double>(128);
    std::vector<int32_t> bitrev = std::vector<int32_t>(64, 0);
    std::vector<double> breath_shape = std::vector<double>(1024);
};

void build_tables(Tables* t) {
    build_twiddles(t->twiddles.data(), 1024);
    build_windows(t->hann1024.data(), t->sine1024.data(), 1024);
    build_windows(t->hann128.data(), t->sine128.data(), 128);
    build_bitrev(1024, t->bitrev.data());
}

// Peak normalisation and volume, in place.
void normalise(const RenderParams& prm, double* out, int outlen) {
    if (!(prm.peak_strength > 0 || prm.volume != 1)) return;
    double peak = 0.0;
    for (int i = 0; i < outlen; ++i)
        if (std::fabs(out[i]) > peak) peak = std::fabs(out[i]);
    // An all-zero result stays all zero: there is no peak to scale to.
    if (!(peak > 0)) return;
    double e = prm.peak_strength;
    if (e < 0) e = 0;
    if (e > 1) e = 1;
    const double g = std::pow(16384 / peak, e) * prm.volume;
    for (int i = 0; i < outlen; ++i) {
        double v = g * out[i];
        if (v > 32767) v = 32767;
        if (v < -32768) v = -32768;
        out[i] = v;
    }
}

}  // namespace

void analysis_frame(int rate, int* n, int* step) {
    if (rate > 59999) {
        *n = 2048;
        *step = 512;
    } else if (rate > 29999) {
        *n = 1024;
        *step = 256;
    } else if (rate > 14999) {
        *n = 720;
        *step = 128;
    } else {
        *n = 512;
        *step = 64;
    }
}

FreqList* obtain_freq_list(const wchar_t* input_path) {
    WavFormat fmt;
    int64_t bytes = 0;
    Buffer<uint8_t> data(read_for_analysis(input_path, 4096, &fmt, &bytes));
    if (!data) return nullptr;
    int n = 0, step = 0;
    analysis_frame(static_cast<int>(fmt.rate), &n, &step);
    FreqList* list = generate_freq_list(
        data.get(), bytes,
        {fmt.bits, fmt.channels, fmt.block_align, static_cast<int>(fmt.rate), n, step});
    if (!list) return nullptr;
    write_freq_list(input_path, list);
    return list;
}

int render_note(RenderParams& prm, RenderStats* stats) {
    // With the WAV stream on standard output nothing else may go there.
    if (prm.output_path == L"-") console_keep_stdout_clean(true);

    Input in;
    if (!load_input(prm, &in)) {
        say(stderr, "Datei hat nicht gefunden.\n");
        return 99;
    }
    convert_region(prm, &in);
    report_params(prm, in);
    if (!check_region(prm, in)) return 0;

    FreqListPtr list(frequency_list(prm));
    if (!list) return 0;

    const double rate = in.fmt.rate;
    const double r = rate / 44100;
    const int frames = static_cast<int>(in.ssize / list->step);
    Buffer<double> phase_table(alloc_zeroed<double>(int64_t(frames) + 1));
    if (!phase_table) {
        say(stderr, "datbuf : allocate memory error\n");
        return 0;
    }
    build_phase_table(list->freq, list->count, list->step, list->freq_avg, in.ssize, rate,
                      phase_table.get(), frames);

    TimeMapInput tmi;
    tmi.cons = in.cons;
    tmi.tail = in.tail;
    tmi.start_pos = in.start_pos;
    tmi.end_pos = in.end_pos;
    tmi.head_velocity = prm.head_velocity;
    tmi.tail_velocity = prm.tail_velocity;
    tmi.outlen = prm.outlen;
    tmi.r = r;
    tmi.reverse = prm.reverse;
    const TimeMap tm = build_time_map(tmi);

    const int outlen = prm.outlen;
    Buffer<double> datbuf(alloc_zeroed<double>(outlen));
    if (!datbuf) {
        say(stderr, "datbuf : allocate memory error\n");
        return 0;
    }

    Tables tables;
    build_tables(&tables);

    const int64_t frequency = perf_frequency();
    const int64_t start_count = perf_counter();
    const double voiced_gain =
        (prm.no_filter ? 0.6 : 0.001220703125) * (prm.breath < 0.5 ? 1 : (1 - prm.breath) * 2);
    const double noise_gain = (prm.breath < 0.5 ? prm.breath : 0.5) * 0.18 * 0.001220703125;
    MutexPtr datbuf_lock(mutex_create());
    MutexPtr outbuf_lock(mutex_create());

    Buffer<double> genposs(alloc_zeroed<double>(outlen / 256 + 8));
    if (!genposs) {
        say(stderr, "genposs : allocate memory error\n");
        return 0;
    }

    ScheduleSetup setup;
    setup.workers = worker_count(prm.thread_request, processor_count());
    // Without both locks the passes may not overlap: one worker at a time.
    if (!datbuf_lock || !outbuf_lock) setup.workers = 1;
    setup.modulation = prm.modulation;
    setup.gender = prm.gender;
    setup.breath = prm.breath;
    setup.breath_alpha = prm.breath_alpha;
    setup.voiced_gain = voiced_gain;
    setup.noise_gain = noise_gain;
    setup.no_filter = prm.no_filter;
    setup.second_pass = !(prm.breath <= 0 && prm.no_filter);
    setup.genposs = genposs.get();
    setup.breath_shape = tables.breath_shape.data();

    Buffer<double> outbuf;
    if (setup.second_pass) {
        outbuf.reset(alloc_zeroed<double>(outlen));
        if (!outbuf) {
            say(stderr, "outbuf : allocate memory error\n");
            return 0;
        }
    }

    RenderShared sh;
    sh.sample = in.sample.get();
    sh.sample_frames = in.ssize + 2048;
    sh.channels = in.fmt.channels;
    sh.rate = rate;
    sh.r = r;
    sh.freq = list->freq;
    sh.freq_count = list->count;
    sh.freq_step = list->step;
    sh.freq_avg = list->freq_avg;
    sh.phase_table = phase_table.get();
    sh.phase_frames = frames;
    if (!prm.pitch_freq.empty()) {
        sh.pitch_freq = prm.pitch_freq.data();
        sh.pitch_count = prm.pitch_count;
    }
    sh.pitch_step = prm.pitch_step;
    sh.target_freq = prm.target_freq;
    sh.outlen = outlen;
    sh.hann128 = tables.hann128.data();
    sh.sine1024 = tables.sine1024.data();
    sh.twiddles = tables.twiddles.data();
    sh.bitrev = tables.bitrev.data();
    sh.breath_shape = tables.breath_shape.data();
    sh.datbuf = datbuf.get();
    sh.outbuf = setup.second_pass ? outbuf.get() : datbuf.get();
    sh.datbuf_lock = datbuf_lock.get();
    sh.outbuf_lock = outbuf_lock.get();

    ScheduleReport rep;
    run_schedule(sh, tm, setup, &rep);

    const double passes_ms = static_cast<double>(rep.end_count - start_count) * 1000 / frequency;
    if (prm.verbose)
        sayf(stdout, "This process took  %.03lf msec with %d threads.\n", passes_ms, setup.workers);
    if (stats) {
        stats->first_pass_ms =
            static_cast<double>(rep.first_end_count - start_count) * 1000 / frequency;
        stats->second_pass_ms =
            static_cast<double>(rep.end_count - rep.first_end_count) * 1000 / frequency;
        stats->passes_ms = passes_ms;
    }
    double* out = sh.outbuf;
    normalise(prm, out, outlen);
    write_wav(prm.output_path.c_str(), out, outlen, 16, 1, 44100, 1);
    return 0;
}

}  // namespace velorin
