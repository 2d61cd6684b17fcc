// frq/freq_gen.cpp: the threaded pitch analysis that builds a frequency list.
#include "frq/freq_gen.h"

#include <cmath>
#include <cstdio>

#include "audio/samples.h"
#include "frq/period.h"
#include "frq/threads.h"
#include "platform/console.h"
#include "platform/mem.h"
#include "platform/platform.h"

namespace velorin {

namespace {

constexpr int64_t max_frames = 1 << 30;  // keeps positions and frame indices in 32 bits
// Two frequencies are close when min / max > 0.9091 (about 1 / 1.1); also the
// lower end of a pass-two lag range, whose upper end is 1.1 times the period.
constexpr double close_ratio = 0.9091;

// One per pass-one thread, filled before the thread starts and read-only
// afterwards. The thread writes freq[k] for its own frames only.
struct analysis_task {
    int64_t first;  // first position: thread index * step
    int thread_count;
    int min_lag;
    int max_lag;
    const PeriodSignal* sig;  // sample, tables and settings, shared read-only
    double* freq;             // the list being filled
};

void analysis_worker(void* arg) {
    const analysis_task& task = *static_cast<const analysis_task*>(arg);
    const PeriodSignal& sig = *task.sig;
    const int64_t advance = static_cast<int64_t>(task.thread_count) * sig.step;
    for (int64_t p = task.first; p < sig.nsamp; p += advance) {
        const int k = static_cast<int>(p / sig.step);
        task.freq[k] = estimate_period(sig, static_cast<int>(p), task.min_lag, task.max_lag, 1);
        if (task.first == 0) say_widef(stderr, L"pass 1 %d\t%lf\t\r", k, task.freq[k]);
    }
}

bool settings_usable(int64_t bytes, int bits, int channels, int block_align, int rate, int n,
                     int step) {
    if (!period_depth_supported(bits)) {
        sayf(stderr, "unsupported bits per sample: %d\n", bits);
        return false;
    }
    if (channels <= 0 || block_align <= 0 ||
        block_align < static_cast<int64_t>(channels) * (bits / 8)) {
        sayf(stderr, "unusable sample layout: %d channels, block align %d\n", channels,
             block_align);
        return false;
    }
    if (n < min_frame_length || n > max_frame_length || step <= 0 || rate <= 0) {
        sayf(stderr, "unusable analysis settings: N=%d step=%d rate=%d\n", n, step, rate);
        return false;
    }
    if (bytes < 0 || bytes / block_align > max_frames) {
        say(stderr, "sample too long for frequency analysis\n");
        return false;
    }
    return true;
}

// A lag bound from a period in samples, kept inside int range.
int lag_of(double samples) {
    if (!(samples < 1e9)) return 1000000000;
    if (!(samples > -1e9)) return -1000000000;
    return static_cast<int>(samples);
}

// Sample p of channel 0 on the 16-bit scale, as the amplitude measure sees
// it: 8-bit data centred like the render reader, floats scaled like the
// analysis readers; 64-bit data has no such conversion and measures 0.
double amplitude_sample(const PeriodSignal& sig, int64_t p) {
    const double v = sig.raw[p];
    switch (sig.bits) {
        case 8:
            return (v - u8_centre) * u8_to_16bit;
        case 16:
            return v;
        case 24:
            return v * i24_to_16bit;
        case 32:
            return v * float_full_scale_analysis;
        default:
            return 0.0;
    }
}

double frame_amplitude(const PeriodSignal& sig, int k) {
    const int n = sig.n;
    const int l = n + n / 2;
    const double* ew = sig.windows->energy;
    double e = 0.0;
    for (int j = 0; j < l; ++j) {
        const int64_t p = static_cast<int64_t>(k) * sig.step - n / 4 + j;
        if (p < 0) continue;
        const double v = amplitude_sample(sig, p) * ew[j];
        e += v * v;
    }
    return 0.125 * std::sqrt(e);  // 1/8 of the windowed energy's root
}

// Fills amp and returns the weighted average of the voiced frames: a frame
// weighs more when it is loud and its eleven predecessors agree with it.
double amplitudes_and_average(const PeriodSignal& sig, const double* freq, int count, int max_lag,
                              double* amp) {
    double sum_w = 0.0;
    double sum_wf = 0.0;
    for (int k = 0; k < count; ++k) {
        amp[k] = frame_amplitude(sig, k);
        const double f = freq[k];
        if (!(f > 1)) continue;
        double w = amp[k] + 1;
        for (int j = 1; j <= 11; ++j) {
            double cj;
            if (k - j >= 0 && freq[k - j] > 1) {
                const double r = f / (15 * std::fabs(freq[k - j] - f) + f);
                cj = r * r;
            } else {
                cj = 1 / (f + 1);
            }
            w = w * cj;
        }
        sum_w += w;
        sum_wf += w * f;
    }
    return sum_w != 0 ? sum_wf / sum_w : static_cast<double>(sig.rate) / max_lag;
}

bool close_freqs(double a, double b) {
    if (!(a > 0 && b > 0)) return false;
    return (a < b ? a : b) / (a < b ? b : a) > close_ratio;
}

// Pass two's second look at frame k, searching lags around the expected
// period (in samples).
void reestimate(const PeriodSignal& sig, int k, double period, double* freq, const double* amp) {
    const int lag_cap = sig.n / 2 + sig.n / 4;
    const int lo = lag_of(std::floor(close_ratio * period));
    const int up = lag_of(std::ceil(1.1 * period));
    const int hi = up < lag_cap ? up : lag_cap;
    freq[k] = estimate_period(sig, k * sig.step, lo, hi, 2);
    say_widef(stderr, L"pass 2 %d\t%lf\t%lf\t\r", k, freq[k], amp[k]);
}

// Pass two, in frame order on the calling thread: unvoiced frames are looked
// at again with a lag range predicted from their neighbours.
void fill_gaps(const PeriodSignal& sig, int count, double* freq, const double* amp) {
    const double rate = sig.rate;
    double prev1 = 0.0;  // final frequency of frame k - 1
    double prev2 = 0.0;  // and of frame k - 2
    for (int k = 0; k < count; ++k) {
        if (freq[k] < 1) {
            // Backwards from the voiced frames that follow, one frame at a time.
            int j = k;
            double next1 = k < count - 1 ? freq[k + 1] : 0.0;
            double next2 = k < count - 2 ? freq[k + 2] : 0.0;
            while (freq[j] < 1 && close_freqs(next1, next2)) {
                reestimate(sig, j, rate / (2 * next1 - next2), freq, amp);
                if (freq[j] < 1) break;
                --j;
                next2 = next1;
                next1 = freq[j + 1];
                if (j < 0) break;
            }
            if (freq[k] < 1 && close_freqs(prev1, prev2))
                reestimate(sig, k, rate / (2 * prev1 - prev2), freq, amp);
            if (freq[k] < 1) {
                const double next = k < count - 1 ? freq[k + 1] : 0.0;
                if (close_freqs(prev1, next))
                    reestimate(sig, k, rate / ((next + prev1) * 0.5), freq, amp);
            }
        }
        prev2 = prev1;
        prev1 = freq[k];
    }
}

// The analysis's report of its input.
void report_input(const FreqGenSettings& settings, int64_t bytes, int count) {
    say_widef(stderr, L"N=%d Step=%d\n", settings.n, settings.step);
    say_widef(stderr, L"Data Size=%d\n", static_cast<int>(bytes));
    say_widef(stderr, L"Channels=%d\n", settings.channels);
    say_widef(stderr, L"Block Align=%d\n", settings.block_align);
    say_widef(stderr, L"Samples per Sec=%d\n", settings.rate);
    say_widef(stderr, L"Bits per sample=%d\n", settings.bits);
    say_widef(stderr, L"List Size=%d\n", count);
}

// The lags searched for the settings' frequency range (52..900 Hz unless
// they say otherwise; the buffers hold 1.5 N samples, which caps the lags),
// and the threads, with the lines that report them.
struct Search {
    int min_lag = 0, max_lag = 0;
    int threads = 1;
};

Search search_of(const FreqGenSettings& settings) {
    const int n = settings.n, rate = settings.rate;
    double lo = settings.lo_hz > 0 ? settings.lo_hz : 52.0;
    double hi = settings.hi_hz > 0 ? settings.hi_hz : 900.0;
    if (lo > hi) {
        const double t = lo;
        lo = hi;
        hi = t;
    }
    const int lag_cap = n / 2 + n / 4;
    const double lowest_lag = rate / hi;
    const double highest_lag = rate / lo;
    Search s;
    s.min_lag = lowest_lag < lag_cap + 1 ? static_cast<int>(lowest_lag) : lag_cap + 1;
    s.max_lag = highest_lag < lag_cap ? static_cast<int>(highest_lag) : lag_cap;
    s.threads = settings.threads > 0 ? settings.threads : processor_count();
    if (s.threads > max_analysis_threads) s.threads = max_analysis_threads;
    if (s.threads < 1) s.threads = 1;
    say_widef(stderr, L"Frequenz auf    %lfHz %d\n", static_cast<double>(rate) / s.max_lag,
              s.max_lag);
    say_widef(stderr, L"Frequenz bis zu %lfHz %d\n", static_cast<double>(rate) / s.min_lag,
              s.min_lag);
    say_widef(stderr, L"Threads %d\n", s.threads);
    return s;
}

}  // namespace

FreqList* generate_freq_list(const uint8_t* data, int64_t bytes, const FreqGenSettings& settings) {
    const int bits = settings.bits;
    const int channels = settings.channels;
    const int block_align = settings.block_align;
    const int rate = settings.rate;
    const int n = settings.n;
    const int step = settings.step;
    if (!data) {
        say(stderr, "no sample data to analyse\n");
        return nullptr;
    }
    if (!settings_usable(bytes, bits, channels, block_align, rate, n, step)) return nullptr;
    const int nsamp = static_cast<int>(bytes / block_align);
    const int count = nsamp / step + 1;

    report_input(settings, bytes, count);

    // Cleared, so a frame no worker visits (position nsamp) is unvoiced.
    FreqList* list = alloc_freq_list(count);
    if (!list) {
        say(stderr, "frequency analysis : allocate memory error\n");
        return nullptr;
    }
    double* freq = list->freq;
    double* amp = list->amp;

    const Search search = search_of(settings);
    const int min_lag = search.min_lag, max_lag = search.max_lag;
    const int thread_count = search.threads;

    PeriodSignal sig{};
    const PeriodInput input{data, bits, channels, nsamp, rate, n, step, settings.lanes};
    if (!prepare_period_signal(input, thread_count, true, &sig)) {
        free_freq_list(list);
        say(stderr, "frequency analysis : allocate memory error\n");
        return nullptr;
    }

    analysis_task tasks[max_analysis_threads];
    for (int t = 0; t < thread_count; ++t)
        tasks[t] = analysis_task{
            static_cast<int64_t>(t) * step, thread_count, min_lag, max_lag, &sig, freq};
    run_on_threads(analysis_worker, tasks, thread_count);

    const double freq_avg = amplitudes_and_average(sig, freq, count, max_lag, amp);
    fill_gaps(sig, count, freq, amp);
    release_period_signal(&sig);
    freq[count] = freq[count - 1];
    amp[count] = amp[count - 1];
    say_widef(stderr, L"freq_avg=%lf\t\t\t\t\n", freq_avg);

    list->step = step;
    list->sample_rate = rate;
    list->freq_avg = freq_avg;
    return list;
}

}  // namespace velorin
