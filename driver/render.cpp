// driver/render.cpp: one run of velorin after parsing: load, report, check,
// obtain the frequency list, build the time map, run both passes, normalise
// and write.
#include "driver/render.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <vector>

#include "audio/analysis_loader.h"
#include "audio/wav.h"
#include "driver/note_size.h"
#include "driver/schedule.h"
#include "frq/freq_gen.h"
#include "frq/period.h"
#include "frq/sample_analysis.h"
#include "platform/console.h"
#include "platform/mem.h"
#include "platform/platform.h"
#include "synth/kernels.h"
#include "synth/passes.h"
#include "synth/rfft.h"

namespace velorin {

namespace {

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

// The zero frames appended to the sample: the readers look up to two kernel
// widths past the last frame and past the region's end, and read silence
// there instead of testing every tap.
constexpr int appended_frames = 2048;

// The loaded input and the region of it the note uses, in input samples.
// The sample buffer is allocated whole (zeroed, so untouched pages cost
// nothing) but converted only where the note reads; `ready_*` say where.
// The stored bytes stay in the file, open, until the passes are done, and
// are read where they are converted.
struct Input {
    Input() = default;
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;
    ~Input() { release_stored(&stored); }

    Buffer<double> owned;            // the run's own load, converted where the note reads
    const double* frames = nullptr;  // owned.get(), or a loaded sample's frames
    StoredSamples stored;
    int64_t ready_first[2] = {0, 0};
    int64_t ready_last[2] = {0, 0};
    WavFormat fmt;
    int64_t ssize = 0;
    double cons = 0.0;
    double tail = 0.0;
    double start_pos = 0.0;
    double end_pos = 0.0;
};

bool load_input(const RenderParams& prm, Input* in) {
    if (!open_wav_stored(prm.input_path.c_str(), &in->fmt, &in->ssize, &in->stored)) return false;
    in->owned.reset(alloc_zeroed<double>((in->ssize + appended_frames) * in->fmt.channels));
    in->frames = in->owned.get();
    // A file without a rate or channels cannot be rendered either.
    return in->owned && in->fmt.rate > 0 && in->fmt.channels > 0;
}

// A loaded sample: every frame converted already, nothing left to read.
void input_of(const LoadedSample& s, Input* in) {
    in->frames = s.frames.get();
    in->fmt = s.fmt;
    in->ssize = s.ssize;
    in->ready_first[0] = 0;
    in->ready_last[0] = s.ssize + appended_frames + 1;
}

// r: input samples per output sample at natural speed.
double rate_ratio(const Input& in) { return static_cast<double>(in.fmt.rate) / 44100; }

void convert_frames(Input* in, int64_t first, int64_t last) {
    // The frames converted are written one after another: their pages are
    // mapped in one call first rather than one fault at a time.
    const int64_t lo = std::max<int64_t>(first, 0), hi = std::min(last, in->ssize);
    if (lo < hi)
        memory_prefault(in->owned.get() + lo * in->fmt.channels,
                        (hi - lo) * in->fmt.channels * int64_t(sizeof(double)));
    convert_stored_frames(in->stored, in->fmt, in->ssize, first, last, in->owned.get());
}

// Room around the walk's span for the reads of ordinary notes (grains,
// blocks, breath): a quarter of a second of input plus a few blocks. Notes
// across pitches, formant shifts, breath, modulation, bends and 22.05 to 96
// kHz sources read a few thousand samples past the span at most; a note that
// reads further is rendered again (see convert_what_the_note_reads). Each
// frame converted costs a conversion and, in a long sample, memory touched
// for the first time.
double read_margin(double rate) { return 0.25 * rate + 8192; }

// Converts the part of the input the note reads: the walk's span with the
// margin, and the start of the sample, which the second pass's last units
// read. When that saves little, all of it. A note that reads further is seen
// by the passes (RenderShared::missed) and rendered again from all of it.
void convert_what_the_note_reads(Input* in, const TimeMap& tm, int outlen) {
    const double margin = read_margin(in->fmt.rate);
    const double lo = walk_floor(tm, outlen) - margin;
    const double hi = walk_reach(tm, outlen) + margin;
    const int64_t total = in->ssize + appended_frames;
    const auto frame = [total](double x) {
        return x <= 0                            ? int64_t(0)
               : x >= static_cast<double>(total) ? total
                                                 : static_cast<int64_t>(x);
    };
    in->ready_first[0] = 0;
    in->ready_last[0] = frame(margin);
    if (!(lo == lo && hi == hi) || hi - lo >= 0.5 * static_cast<double>(in->ssize)) {
        in->ready_last[0] = total;
    } else if (frame(lo) <= in->ready_last[0]) {  // the two overlap: one range
        in->ready_last[0] = std::max(in->ready_last[0], frame(hi));
    } else {
        in->ready_first[1] = frame(lo);
        in->ready_last[1] = frame(hi);
        convert_frames(in, in->ready_first[1], in->ready_last[1]);
    }
    convert_frames(in, in->ready_first[0], in->ready_last[0]);
    // The appended frames are zeros, converted or not.
    for (int64_t& last : in->ready_last)
        if (last >= in->ssize) last = total + 1;
}

// After a note read past the converted part: all of it.
void convert_everything(Input* in) {
    convert_frames(in, 0, in->ssize);
    in->ready_first[0] = 0;
    in->ready_last[0] = in->ssize + appended_frames + 1;
}

void region_in_samples(const RenderParams& prm, Input* in) {
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

void build_tables(const RenderParams& prm, Tables* t) {
    build_twiddles(t->twiddles.data(), 1024);
    build_windows(t->hann1024.data(), t->sine1024.data(), 1024);
    build_windows(t->hann128.data(), t->sine128.data(), 128);
    build_bitrev(1024, t->bitrev.data());
    // The second pass reads the breath shaping table only while breath runs.
    if (prm.breath > 0) build_breath_table(prm.breath_alpha, t->breath_shape.data());
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

// The source phase table, as far as the note's first pass can read it (the
// entries past that stay 0 and are never read); null (after the message)
// when it cannot be allocated.
double* make_phase_table(const Input& in, const FreqList& list, const TimeMap& tm, int outlen,
                         int* frames) {
    *frames = static_cast<int>(in.ssize / list.step);
    double* table = alloc_zeroed<double>(int64_t(*frames) + 1);
    if (!table) {
        say(stderr, "datbuf : allocate memory error\n");
        return nullptr;
    }
    // A unit's source position is the walk's position plus 0.5 - step / 4.
    build_phase_table_upto(list.freq, list.count, list.step, list.freq_avg, in.ssize, in.fmt.rate,
                           table, *frames, walk_reach(tm, outlen) + 0.5, simd_width_for_run());
    return table;
}

TimeMap make_time_map(const RenderParams& prm, const Input& in) {
    TimeMapInput tmi;
    tmi.cons = in.cons;
    tmi.tail = in.tail;
    tmi.start_pos = in.start_pos;
    tmi.end_pos = in.end_pos;
    tmi.head_velocity = prm.head_velocity;
    tmi.tail_velocity = prm.tail_velocity;
    tmi.outlen = prm.outlen;
    tmi.r = rate_ratio(in);
    tmi.reverse = prm.reverse;
    return build_time_map(tmi);
}

// The run's buffers: the passes' results and the schedule's bookkeeping.
struct RunBuffers {
    Buffer<double> datbuf;
    Buffer<double> genposs;
    Buffer<FirstPassUnit> grains;
    Buffer<double> outbuf;  // empty when the second pass is skipped
};

// Allocates each buffer in turn; false (after the message) when one fails.
bool allocate_datbuf(int outlen, RunBuffers* b) {
    b->datbuf.reset(alloc_zeroed<double>(outlen));
    if (b->datbuf) return true;
    say(stderr, "datbuf : allocate memory error\n");
    return false;
}

bool allocate_schedule_buffers(int outlen, bool second_pass, RunBuffers* b) {
    b->genposs.reset(alloc_zeroed<double>(outlen / 256 + 8));
    b->grains.reset(alloc_zeroed<FirstPassUnit>(first_pass_units(outlen)));
    if (!b->genposs || !b->grains) {
        say(stderr, "genposs : allocate memory error\n");
        return false;
    }
    if (second_pass) {
        b->outbuf.reset(alloc_zeroed<double>(outlen));
        if (!b->outbuf) {
            say(stderr, "outbuf : allocate memory error\n");
            return false;
        }
    }
    return true;
}

// The second pass's gains. A filtered block went through the forward and
// inverse transforms, which together scale it by 512; 0.001220703125 =
// 0.625 / 512 (exact in binary) undoes that and sets the filtered level.
constexpr double filtered_block_gain = 0.001220703125;

double voiced_gain_of(const RenderParams& prm) {
    return (prm.no_filter ? 0.6 : filtered_block_gain) *
           (prm.breath < 0.5 ? 1 : (1 - prm.breath) * 2);
}
double noise_gain_of(const RenderParams& prm) {
    return (prm.breath < 0.5 ? prm.breath : 0.5) * 0.18 * filtered_block_gain;
}

bool second_pass_runs(const RenderParams& prm) { return !(prm.breath <= 0 && prm.no_filter); }

ScheduleSetup schedule_setup(const RenderParams& prm, bool locks, RunBuffers* b) {
    ScheduleSetup setup;
    setup.workers = worker_count(prm.thread_request, processor_count());
    // Without both locks the passes may not overlap: one worker at a time.
    if (!locks) setup.workers = 1;
    setup.modulation = prm.modulation;
    setup.gender = prm.gender;
    setup.breath = prm.breath;
    setup.voiced_gain = voiced_gain_of(prm);
    setup.noise_gain = noise_gain_of(prm);
    setup.no_filter = prm.no_filter;
    setup.second_pass = second_pass_runs(prm);
    setup.genposs = b->genposs.get();
    setup.grains = b->grains.get();
    // Every page of the passes' buffers is written: mapped in one call each
    // rather than by the time walk, a page at a time.
    const int64_t bytes = int64_t(prm.outlen) * int64_t(sizeof(double));
    setup.buffers_mapped = memory_prefault(b->datbuf.get(), bytes) &&
                           (!b->outbuf || memory_prefault(b->outbuf.get(), bytes));
    return setup;
}

RenderShared shared_context(const RenderParams& prm, const Input& in, const FreqList& list,
                            const double* phase_table, int frames, const Tables& tables,
                            RunBuffers* b, Mutex* datbuf_lock, Mutex* outbuf_lock) {
    RenderShared sh;
    sh.sample = in.frames;
    sh.sample_frames = in.ssize + appended_frames;
    for (int k = 0; k < 2; ++k) {
        sh.ready_first[k] = in.ready_first[k];
        sh.ready_last[k] = in.ready_last[k];
    }
    sh.channels = in.fmt.channels;
    sh.rate = in.fmt.rate;
    sh.lanes = simd_width_for_run();
    sh.r = rate_ratio(in);
    sh.freq = list.freq;
    sh.freq_count = list.count;
    sh.freq_step = list.step;
    sh.freq_step_inv = step_reciprocal(list.step);
    sh.freq_avg = list.freq_avg;
    sh.phase_table = phase_table;
    sh.phase_frames = frames;
    if (!prm.pitch_freq.empty()) {
        sh.pitch_freq = prm.pitch_freq.data();
        sh.pitch_count = prm.pitch_count;
    }
    sh.pitch_step = prm.pitch_step;
    sh.pitch_step_inv = step_reciprocal(prm.pitch_step);
    sh.target_freq = prm.target_freq;
    sh.outlen = prm.outlen;
    sh.hann128 = tables.hann128.data();
    sh.sine1024 = tables.sine1024.data();
    sh.twiddles = tables.twiddles.data();
    sh.bitrev = tables.bitrev.data();
    sh.breath_shape = tables.breath_shape.data();
    sh.datbuf = b->datbuf.get();
    sh.outbuf = b->outbuf ? b->outbuf.get() : b->datbuf.get();
    sh.datbuf_lock = datbuf_lock;
    sh.outbuf_lock = outbuf_lock;
    return sh;
}

// Runs both passes; when a unit read past the converted part of the input,
// converts all of it and runs them again from clean buffers.
void run_passes(Input* in, RenderShared* sh, const TimeMap& tm, ScheduleSetup setup,
                ScheduleReport* rep) {
    std::atomic<bool> missed(false);
    const bool partial = in->ready_last[0] <= in->ssize || in->ready_last[1] > in->ready_first[1];
    sh->missed = partial ? &missed : nullptr;
    setup.say_counts = false;
    run_schedule(*sh, tm, setup, rep);
    if (missed.load()) {
        convert_everything(in);
        sh->missed = nullptr;
        std::fill(sh->datbuf, sh->datbuf + sh->outlen, 0.0);
        std::fill(sh->outbuf, sh->outbuf + sh->outlen, 0.0);
        run_schedule(*sh, tm, setup, rep);
    }
    sayf(stderr, "i=%d tinx=%d\n", setup.second_pass ? rep->second_units : rep->workers,
         rep->last_slot);
}

void report_timing(const RenderParams& prm, const ScheduleReport& rep, int64_t start_count,
                   int workers, RenderStats* stats) {
    const double frequency = static_cast<double>(perf_frequency());
    const double passes_ms = static_cast<double>(rep.end_count - start_count) * 1000 / frequency;
    if (prm.verbose)
        sayf(stdout, "This process took  %.03lf msec with %d threads.\n", passes_ms, workers);
    if (!stats) return;
    stats->first_pass_ms =
        static_cast<double>(rep.first_end_count - start_count) * 1000 / frequency;
    stats->second_pass_ms =
        static_cast<double>(rep.end_count - rep.first_end_count) * 1000 / frequency;
    stats->passes_ms = passes_ms;
}

// The checks before any long work: the region, then the note's size. -1 to go
// on, otherwise the run's exit code (after the message).
int refuse_or_go_on(const RenderParams& prm, Input* in) {
    region_in_samples(prm, in);
    report_params(prm, *in);
    if (!check_region(prm, *in)) return 0;
    if (!note_size_ok(prm.outlen, in->ssize, in->fmt.channels, physical_memory()))
        return exit_failed;
    return -1;
}

// Both passes and the normalisation, from the input and its list to the note
// in `buffers` (sh.outbuf). -1 when the note is ready, otherwise the run's
// exit code (after the message). The input's stored bytes are released once
// the passes are done.
int render_samples(const RenderParams& prm, Input* in, const FreqList& list, RunBuffers* buffers,
                   double** note, RenderStats* stats) {
    const TimeMap tm = make_time_map(prm, *in);
    if (in->owned) convert_what_the_note_reads(in, tm, prm.outlen);
    int frames = 0;
    Buffer<double> phase_table(make_phase_table(*in, list, tm, prm.outlen, &frames));
    if (!phase_table) return 0;

    if (!allocate_datbuf(prm.outlen, buffers)) return 0;
    Tables tables;
    build_tables(prm, &tables);

    const int64_t start_count = perf_counter();
    MutexPtr datbuf_lock(mutex_create());
    MutexPtr outbuf_lock(mutex_create());
    if (!allocate_schedule_buffers(prm.outlen, second_pass_runs(prm), buffers)) return 0;
    const ScheduleSetup setup = schedule_setup(prm, datbuf_lock && outbuf_lock, buffers);
    RenderShared sh = shared_context(prm, *in, list, phase_table.get(), frames, tables, buffers,
                                     datbuf_lock.get(), outbuf_lock.get());
    ScheduleReport rep;
    run_passes(in, &sh, tm, setup, &rep);
    // The input file is closed before the note is written: a note written
    // over its own sample replaces a file that nothing holds open.
    release_stored(&in->stored);

    report_timing(prm, rep, start_count, setup.workers, stats);
    normalise(prm, sh.outbuf, prm.outlen);
    *note = sh.outbuf;
    return -1;
}

}  // namespace

int render_note(RenderParams& prm, RenderStats* stats) {
    // With the WAV stream on standard output nothing else may go there.
    if (prm.output_path == L"-") console_keep_stdout_clean(true);

    Input in;
    if (!load_input(prm, &in)) {
        say(stderr, "Datei hat nicht gefunden.\n");
        return 99;
    }
    const int refused = refuse_or_go_on(prm, &in);
    if (refused >= 0) return refused;

    FreqListPtr list(frequency_list(prm));
    if (!list) return 0;
    RunBuffers buffers;
    double* note = nullptr;
    const int failed = render_samples(prm, &in, *list, &buffers, &note, stats);
    if (failed >= 0) return failed;
    if (!write_note(prm.output_path.c_str(), note, prm.outlen)) return exit_failed;
    if (stats) stats->note_written = true;
    return 0;
}

bool load_sample(const wchar_t* path, LoadedSample* out) {
    StoredSamples stored;
    WavFormat fmt;
    int64_t ssize = 0;
    if (!open_wav_stored(path, &fmt, &ssize, &stored)) return false;
    const bool ok = load_sample_from(stored, fmt, ssize, out);
    release_stored(&stored);
    return ok;
}

bool load_sample_from(const StoredSamples& stored, const WavFormat& fmt, int64_t ssize,
                      LoadedSample* out) {
    if (fmt.rate == 0 || fmt.channels == 0) return false;
    out->frames.reset(alloc_zeroed<double>((ssize + appended_frames) * fmt.channels));
    if (!out->frames) return false;
    convert_stored_frames(stored, fmt, ssize, 0, ssize, out->frames.get());
    out->fmt = fmt;
    out->ssize = ssize;
    return true;
}

int render_loaded(const RenderParams& params, const LoadedSample& sample, const FreqList& list,
                  NoteSamples* note, RenderStats* stats) {
    RenderParams prm = params;
    Input in;
    input_of(sample, &in);
    const int refused = refuse_or_go_on(prm, &in);
    if (refused >= 0) return refused;
    if (!usable(&list)) {
        say(stderr, "error : get freqency list.\n");
        return 0;
    }
    if (prm.verbose) sayf(stdout, "src freq avg. = %0.4lf\n", list.freq_avg);
    RunBuffers buffers;
    double* samples = nullptr;
    const int failed = render_samples(prm, &in, list, &buffers, &samples, stats);
    if (failed >= 0) return failed;
    note->samples =
        samples == buffers.outbuf.get() ? std::move(buffers.outbuf) : std::move(buffers.datbuf);
    note->count = prm.outlen;
    return -1;
}

}  // namespace velorin
