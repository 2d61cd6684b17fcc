// lib/api.cpp: the library's C functions over the engine. Each call speaks to a
// console of its own (its report and the messages that explain a failure), so
// no call sees another's settings or text.
#define VELORIN_BUILDING
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "audio/analysis_loader.h"
#include "audio/bytes.h"
#include "audio/wav.h"
#include "driver/params.h"
#include "driver/render.h"
#include "frq/freq_list.h"
#include "frq/period.h"
#include "frq/sample_analysis.h"
#include "pitch/curve.h"
#include "pitch/dispatch.h"
#include "pitch/plain.h"
#include "platform/console.h"
#include "platform/mem.h"
#include "platform/platform.h"
#include "velorin/velorin.h"

using namespace velorin;

// A list handed to the caller: the public record over the engine's list.
struct ListHandle {
    velorin_list pub;
    FreqList* list;
};

struct velorin_sample {
    LoadedSample loaded;
    ListHandle* list = nullptr;
};

namespace {

// The console of one call: the report goes to the caller's callback, and the
// messages are kept (the last few KiB) to explain a failure.
class CallConsole {
   public:
    explicit CallConsole(const velorin_report* report) : report_(report), lock_(mutex_create()) {
        console_.sink = &CallConsole::sink;
        console_.context = this;
    }
    ~CallConsole() { mutex_close(lock_); }
    CallConsole(const CallConsole&) = delete;
    CallConsole& operator=(const CallConsole&) = delete;

    Console* console() { return &console_; }

    // The last line of the messages, without its end; empty when there is none.
    std::string last_message() const {
        std::string text = messages_;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
            text.pop_back();
        const size_t from = text.find_last_of("\r\n");
        return from == std::string::npos ? text : text.substr(from + 1);
    }

   private:
    static void sink(void* context, FILE* stream, const char* bytes, size_t size) {
        auto* self = static_cast<CallConsole*>(context);
        if (self->lock_) mutex_lock(self->lock_);
        const int which = stream == stdout ? 1 : 2;
        if (which == 2) {
            self->messages_.append(bytes, size);
            constexpr size_t kept = 4096;
            if (self->messages_.size() > kept)
                self->messages_.erase(0, self->messages_.size() - kept);
        }
        if (self->report_ && self->report_->write)
            self->report_->write(self->report_->context, which, bytes, size);
        if (self->lock_) mutex_unlock(self->lock_);
    }

    const velorin_report* report_;
    Mutex* lock_;
    Console console_;
    std::string messages_;
};

// The call's console for its thread and every thread it starts.
struct CallScope {
    explicit CallScope(const velorin_report* report) : call(report), scope(call.console()) {}
    CallConsole call;
    ConsoleScope scope;
};

int succeed(velorin_error* err) {
    if (err) {
        err->code = VELORIN_OK;
        err->message[0] = 0;
    }
    return VELORIN_OK;
}

// Fills `err` with the code and `what`, followed by the engine's last message
// where there is one.
int fail(velorin_error* err, int code, const std::string& what, const CallScope* call = nullptr) {
    if (err) {
        std::string text = what;
        const std::string said = call ? call->call.last_message() : std::string();
        if (!said.empty()) text += ": " + said;
        err->code = code;
        const size_t n =
            text.size() < sizeof err->message - 1 ? text.size() : sizeof err->message - 1;
        std::memcpy(err->message, text.data(), n);
        err->message[n] = 0;
    }
    return code;
}

std::wstring wide(const char* text) { return widen_text(text ? text : ""); }

// The caller's copy of a list.
ListHandle* hand_out(FreqList* list) {
    if (!list) return nullptr;
    auto* h = new (std::nothrow) ListHandle;
    if (!h) {
        free_freq_list(list);
        return nullptr;
    }
    h->list = list;
    h->pub.step = list->step;
    h->pub.count = list->count;
    h->pub.sample_rate = list->sample_rate;
    h->pub.average_hz = list->freq_avg;
    h->pub.hz = list->freq;
    h->pub.amplitude = list->amp;
    return h;
}

ListHandle* handle_of(const velorin_list* list) {
    return reinterpret_cast<ListHandle*>(const_cast<velorin_list*>(list));
}

// An engine list with the public record's values (the caller may have changed
// them), the guard entry set.
FreqList* engine_copy(const velorin_list& pub) {
    if (pub.count < 1 || !pub.hz || !pub.amplitude) return nullptr;
    FreqList* list = alloc_freq_list(pub.count);
    if (!list) return nullptr;
    list->step = pub.step;
    list->sample_rate = pub.sample_rate;
    list->freq_avg = pub.average_hz;
    for (int k = 0; k < pub.count; ++k) {
        list->freq[k] = pub.hz[k];
        list->amp[k] = pub.amplitude[k];
    }
    list->freq[pub.count] = list->freq[pub.count - 1];
    list->amp[pub.count] = list->amp[pub.count - 1];
    return list;
}

bool list_usable(const FreqList* list) {
    return list && list->freq && list->count >= 1 && list->step > 0;
}

bool memory_format(int rate, int channels, int bits, int is_float, WavFormat* fmt) {
    const bool integer = !is_float && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    const bool floating = is_float && (bits == 32 || bits == 64);
    if (!(integer || floating) || rate <= 0 || channels <= 0 || channels > max_channels)
        return false;
    fmt->format_tag = floating ? 3 : 1;
    fmt->channels = static_cast<uint16_t>(channels);
    fmt->rate = static_cast<uint32_t>(rate);
    fmt->bits = static_cast<uint16_t>(bits);
    fmt->block_align = static_cast<uint16_t>(channels * (bits / 8));
    fmt->byte_rate = fmt->rate * fmt->block_align;
    fmt->chunk_size = 16;
    std::memcpy(fmt->id, "fmt ", 4);
    return wav_format_usable(*fmt);
}

// A WAV image of the samples, for the render reader: the samples read from it
// exactly as from a file with the same bytes.
bool wav_image(const void* samples, const WavFormat& fmt, int64_t bytes,
               std::vector<uint8_t>* out) {
    if (bytes > max_wav_data) return false;
    out->assign(static_cast<size_t>(44 + bytes), 0);
    uint8_t* h = out->data();
    std::memcpy(h, "RIFF", 4);
    put_le_u32(h + 4, static_cast<uint32_t>(36 + bytes));
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put_le_u32(h + 16, 16);
    put_le_u16(h + 20, fmt.format_tag);
    put_le_u16(h + 22, fmt.channels);
    put_le_u32(h + 24, fmt.rate);
    put_le_u32(h + 28, fmt.byte_rate);
    put_le_u16(h + 32, fmt.block_align);
    put_le_u16(h + 34, fmt.bits);
    std::memcpy(h + 36, "data", 4);
    put_le_u32(h + 40, static_cast<uint32_t>(bytes));
    if (bytes > 0) std::memcpy(h + 44, samples, static_cast<size_t>(bytes));
    return true;
}

bool load_from_image(const std::vector<uint8_t>& image, LoadedSample* out) {
    ByteSource src = memory_source(image.data(), image.size());
    StoredSamples stored;
    WavFormat fmt;
    int64_t ssize = 0;
    const bool ok =
        wav_stored_from(src, &fmt, &ssize, &stored) && load_sample_from(stored, fmt, ssize, out);
    release_stored(&stored);
    return ok;
}

// The raw data with the analysis's zero frames appended, analysed.
FreqList* analyse_raw(const void* samples, int64_t bytes, const WavFormat& fmt, int threads) {
    const int64_t total = bytes + int64_t(analysis_zero_frames) * fmt.block_align;
    Buffer<uint8_t> data(alloc_zeroed<uint8_t>(total));
    if (!data) return nullptr;
    if (bytes > 0) std::memcpy(data.get(), samples, static_cast<size_t>(bytes));
    return analyse_loaded(data.get(), bytes, fmt, simd_width_for_run(), threads);
}

bool memory_bytes(size_t frames, const WavFormat& fmt, int64_t* bytes) {
    if (frames > size_t(INT32_MAX)) return false;
    *bytes = int64_t(frames) * fmt.block_align;
    return true;
}

int render_status(int code, const CallScope& call) {
    if (code == exit_failed) return VELORIN_ERROR_REFUSED;
    return call.call.last_message().find("allocate memory") != std::string::npos
               ? VELORIN_ERROR_MEMORY
               : VELORIN_ERROR_REFUSED;
}

NoteArgs args_of(const velorin_note& n) {
    NoteArgs a;
    a.pitch_hz = n.pitch_hz;
    a.velocity = n.velocity;
    a.has_tail_velocity = n.has_tail_velocity != 0;
    a.tail_velocity = n.tail_velocity;
    a.flags = wide(n.flags);
    a.offset_ms = n.offset_ms;
    a.length_ms = n.length_ms;
    a.consonant_ms = n.consonant_ms;
    a.has_tail_ms = n.has_tail_ms != 0;
    a.tail_ms = n.tail_ms;
    a.cutoff_ms = n.cutoff_ms;
    a.volume = n.volume;
    a.modulation = n.modulation;
    a.tempo = static_cast<int16_t>(n.tempo);
    if (n.bend && n.bend_count > 0) {
        const int count = n.bend_count < max_curve_points ? n.bend_count : max_curve_points;
        a.bend.assign(n.bend, n.bend + count);
    }
    return a;
}

// Renders the note of `params` from the sample; the samples in `note`.
int render_params(const velorin_sample* sample, const RenderParams& params, NoteSamples* note,
                  const CallScope& call, velorin_error* err) {
    if (!sample->list) return fail(err, VELORIN_ERROR_LIST, "the sample has no frequency list");
    const int code = render_loaded(params, sample->loaded, *sample->list->list, note);
    if (code >= 0) return fail(err, render_status(code, call), "the note was not rendered", &call);
    return succeed(err);
}

int render_note_of(const velorin_sample* sample, const velorin_note* note, NoteSamples* out,
                   const CallScope& call, velorin_error* err) {
    if (!sample || !note) return fail(err, VELORIN_ERROR_ARGUMENT, "no sample or no note");
    RenderParams params;
    params_from_args(args_of(*note), &params);
    return render_params(sample, params, out, call, err);
}

int hand_out_16(const NoteSamples& note, short** out, size_t* count, velorin_error* err) {
    auto* values = static_cast<short*>(std::malloc(size_t(note.count) * sizeof(short) + 1));
    if (!values) return fail(err, VELORIN_ERROR_MEMORY, "no memory for the note");
    samples_to_16(note.samples.get(), note.count, reinterpret_cast<int16_t*>(values));
    *out = values;
    if (count) *count = size_t(note.count);
    return succeed(err);
}

std::string utf8(const std::wstring& text) { return narrow_text(text.c_str()); }

// The list a sample file gets as `source` says; null (with the reason in the
// call's messages) when there is none.
FreqList* list_of_file(const std::wstring& path, int source, int threads) {
    if (source == VELORIN_LIST_CALLER) return nullptr;
    if (source == VELORIN_LIST_MEMORY)
        return analyse_sample(path.c_str(), simd_width_for_run(), threads);
    if (source == VELORIN_LIST_BESIDE) {
        std::wstring list_path;
        bool is_list_path = false;
        if (freq_list_path(path.c_str(), &list_path, &is_list_path)) {
            FreqListPtr list(read_freq_list(list_path.c_str()));
            if (list_usable(list.get())) return list.release();
        }
    }
    return obtain_freq_list(path.c_str(), nullptr, simd_width_for_run(), threads);
}

}  // namespace

extern "C" {

const char* velorin_version(int* major, int* minor, int* patch) {
    if (major) *major = VELORIN_VERSION_MAJOR;
    if (minor) *minor = VELORIN_VERSION_MINOR;
    if (patch) *patch = VELORIN_VERSION_PATCH;
    return VELORIN_VERSION_STRING;
}

void velorin_free(void* memory) { std::free(memory); }

velorin_list* velorin_analyse_file(const char* path, int threads, const velorin_report* report,
                                   velorin_error* err) {
    if (!path) return fail(err, VELORIN_ERROR_ARGUMENT, "no path"), nullptr;
    CallScope call(report);
    ListHandle* h = hand_out(analyse_sample(wide(path).c_str(), simd_width_for_run(), threads));
    if (!h)
        return fail(err, VELORIN_ERROR_LOAD, std::string("cannot analyse ") + path, &call), nullptr;
    succeed(err);
    return &h->pub;
}

velorin_list* velorin_analyse_memory(const void* samples, size_t frames, int rate, int channels,
                                     int bits, int is_float, int threads,
                                     const velorin_report* report, velorin_error* err) {
    WavFormat fmt;
    int64_t bytes = 0;
    if (!memory_format(rate, channels, bits, is_float, &fmt) ||
        !memory_bytes(frames, fmt, &bytes) || (!samples && frames > 0))
        return fail(err, VELORIN_ERROR_ARGUMENT, "unusable samples or format"), nullptr;
    CallScope call(report);
    ListHandle* h = hand_out(analyse_raw(samples, bytes, fmt, threads));
    if (!h) return fail(err, VELORIN_ERROR_LIST, "cannot analyse the samples", &call), nullptr;
    succeed(err);
    return &h->pub;
}

velorin_list* velorin_list_read(const char* path, velorin_error* err) {
    if (!path) return fail(err, VELORIN_ERROR_ARGUMENT, "no path"), nullptr;
    CallScope call(nullptr);
    std::wstring list_path;
    bool is_list_path = false;
    if (!freq_list_path(wide(path).c_str(), &list_path, &is_list_path))
        return fail(err, VELORIN_ERROR_ARGUMENT, "the list's path is too long"), nullptr;
    ListRefusal why;
    ListHandle* h = hand_out(read_freq_list(list_path.c_str(), &why));
    if (!h)
        return fail(err, VELORIN_ERROR_LOAD,
                    "cannot read " + utf8(list_path) + ": " + list_refusal_text(why)),
               nullptr;
    succeed(err);
    return &h->pub;
}

int velorin_list_write(const char* path, const velorin_list* list, velorin_error* err) {
    if (!path || !list) return fail(err, VELORIN_ERROR_ARGUMENT, "no path or no list");
    CallScope call(nullptr);
    FreqListPtr copy(engine_copy(*list));
    if (!copy) return fail(err, VELORIN_ERROR_ARGUMENT, "the list has no frames");
    if (write_freq_list(wide(path).c_str(), copy.get()) != 1)
        return fail(err, VELORIN_ERROR_WRITE, std::string("cannot write the list of ") + path,
                    &call);
    return succeed(err);
}

velorin_list* velorin_list_new(int count, int step, int sample_rate, velorin_error* err) {
    if (count < 1 || step < 1) return fail(err, VELORIN_ERROR_ARGUMENT, "no frames"), nullptr;
    ListHandle* h = hand_out(alloc_freq_list(count));
    if (!h) return fail(err, VELORIN_ERROR_MEMORY, "no memory for the list"), nullptr;
    h->list->step = step;
    h->list->sample_rate = sample_rate;
    h->pub.step = step;
    h->pub.sample_rate = sample_rate;
    succeed(err);
    return &h->pub;
}

void velorin_list_free(velorin_list* list) {
    if (!list) return;
    ListHandle* h = handle_of(list);
    free_freq_list(h->list);
    delete h;
}

velorin_sample* velorin_sample_open(const char* path, int list_source, const velorin_report* report,
                                    velorin_error* err) {
    if (!path || list_source < VELORIN_LIST_BESIDE || list_source > VELORIN_LIST_CALLER)
        return fail(err, VELORIN_ERROR_ARGUMENT, "no path or an unknown list source"), nullptr;
    CallScope call(report);
    auto* s = new (std::nothrow) velorin_sample;
    if (!s) return fail(err, VELORIN_ERROR_MEMORY, "no memory for the sample"), nullptr;
    const std::wstring wpath = wide(path);
    bool loaded = load_sample(wpath.c_str(), &s->loaded);
    if (!loaded && !analysis_reads(wpath.c_str()))
        return delete s, fail(err, VELORIN_ERROR_LOAD, std::string("cannot load ") + path, &call),
               nullptr;
    if (!loaded) {
        // Not a WAV file the render reader takes: the samples the analysis decodes.
        WavFormat fmt;
        int64_t bytes = 0;
        Buffer<uint8_t> data(read_for_analysis(wpath.c_str(), 0, &fmt, &bytes));
        std::vector<uint8_t> image;
        loaded =
            data && wav_image(data.get(), fmt, bytes, &image) && load_from_image(image, &s->loaded);
    }
    if (!loaded)
        return delete s, fail(err, VELORIN_ERROR_LOAD, std::string("cannot load ") + path, &call),
               nullptr;
    if (list_source != VELORIN_LIST_CALLER) {
        s->list = hand_out(list_of_file(wpath, list_source, 0));
        if (!s->list)
            return velorin_sample_close(s),
                   fail(err, VELORIN_ERROR_LIST, std::string("no frequency list for ") + path,
                        &call),
                   nullptr;
    }
    succeed(err);
    return s;
}

velorin_sample* velorin_sample_from_memory(const void* samples, size_t frames, int rate,
                                           int channels, int bits, int is_float, int list_source,
                                           const velorin_report* report, velorin_error* err) {
    WavFormat fmt;
    int64_t bytes = 0;
    if (!memory_format(rate, channels, bits, is_float, &fmt) ||
        !memory_bytes(frames, fmt, &bytes) || (!samples && frames > 0) ||
        (list_source != VELORIN_LIST_MEMORY && list_source != VELORIN_LIST_CALLER))
        return fail(err, VELORIN_ERROR_ARGUMENT, "unusable samples, format or list source"),
               nullptr;
    CallScope call(report);
    auto* s = new (std::nothrow) velorin_sample;
    std::vector<uint8_t> image;
    if (!s || !wav_image(samples, fmt, bytes, &image) || !load_from_image(image, &s->loaded))
        return delete s, fail(err, VELORIN_ERROR_MEMORY, "cannot hold the samples", &call), nullptr;
    if (list_source == VELORIN_LIST_MEMORY) {
        s->list = hand_out(analyse_raw(samples, bytes, fmt, 0));
        if (!s->list)
            return velorin_sample_close(s),
                   fail(err, VELORIN_ERROR_LIST, "cannot analyse the samples", &call), nullptr;
    }
    succeed(err);
    return s;
}

int velorin_sample_set_list(velorin_sample* sample, const velorin_list* list, velorin_error* err) {
    if (!sample || !list) return fail(err, VELORIN_ERROR_ARGUMENT, "no sample or no list");
    FreqList* copy = engine_copy(*list);
    if (!list_usable(copy)) {
        free_freq_list(copy);
        return fail(err, VELORIN_ERROR_ARGUMENT, "the list has no frames or no step");
    }
    ListHandle* h = hand_out(copy);
    if (!h) return fail(err, VELORIN_ERROR_MEMORY, "no memory for the list");
    velorin_list_free(sample->list ? &sample->list->pub : nullptr);
    sample->list = h;
    return succeed(err);
}

const velorin_list* velorin_sample_list(const velorin_sample* sample) {
    return sample && sample->list ? &sample->list->pub : nullptr;
}

void velorin_sample_format(const velorin_sample* sample, int* rate, int* channels, int* bits,
                           size_t* frames) {
    if (!sample) return;
    if (rate) *rate = static_cast<int>(sample->loaded.fmt.rate);
    if (channels) *channels = sample->loaded.fmt.channels;
    if (bits) *bits = sample->loaded.fmt.bits;
    if (frames) *frames = static_cast<size_t>(sample->loaded.ssize);
}

void velorin_sample_close(velorin_sample* sample) {
    if (!sample) return;
    velorin_list_free(sample->list ? &sample->list->pub : nullptr);
    delete sample;
}

void velorin_note_init(velorin_note* note) {
    if (!note) return;
    std::memset(note, 0, sizeof *note);
    const NoteArgs a;
    note->pitch_hz = a.pitch_hz;
    note->velocity = a.velocity;
    note->tail_velocity = a.tail_velocity;
    note->volume = a.volume;
}

double velorin_note_hz(const char* name) { return note_name_to_hz(wide(name).c_str()); }

size_t velorin_note_samples(const velorin_note* note) {
    if (!note) return 0;
    RenderParams params;
    params_from_args(args_of(*note), &params);
    return params.outlen >= 256 ? static_cast<size_t>(params.outlen) : 0;
}

int velorin_render(const velorin_sample* sample, const velorin_note* note, short* out,
                   size_t capacity, size_t* count, const velorin_report* report,
                   velorin_error* err) {
    if (!note) return fail(err, VELORIN_ERROR_ARGUMENT, "no note");
    const size_t needed = velorin_note_samples(note);
    if (!out || capacity < needed) {
        if (count) *count = needed;
        if (!out) return succeed(err);
        return fail(err, VELORIN_ERROR_BUFFER, "the buffer holds fewer samples than the note");
    }
    CallScope call(report);
    NoteSamples rendered;
    const int code = render_note_of(sample, note, &rendered, call, err);
    if (code != VELORIN_OK) return code;
    samples_to_16(rendered.samples.get(), rendered.count, reinterpret_cast<int16_t*>(out));
    if (count) *count = static_cast<size_t>(rendered.count);
    return VELORIN_OK;
}

int velorin_render_alloc(const velorin_sample* sample, const velorin_note* note, short** out,
                         size_t* count, const velorin_report* report, velorin_error* err) {
    if (!out) return fail(err, VELORIN_ERROR_ARGUMENT, "nowhere to put the note");
    *out = nullptr;
    CallScope call(report);
    NoteSamples rendered;
    const int code = render_note_of(sample, note, &rendered, call, err);
    if (code != VELORIN_OK) return code;
    return hand_out_16(rendered, out, count, err);
}

int velorin_render_file(const velorin_sample* sample, const velorin_note* note, const char* path,
                        const velorin_report* report, velorin_error* err) {
    if (!path) return fail(err, VELORIN_ERROR_ARGUMENT, "no path");
    CallScope call(report);
    NoteSamples rendered;
    const int code = render_note_of(sample, note, &rendered, call, err);
    if (code != VELORIN_OK) return code;
    if (!write_note(wide(path).c_str(), rendered.samples.get(), rendered.count))
        return fail(err, VELORIN_ERROR_WRITE, std::string("cannot write ") + path, &call);
    return succeed(err);
}

int velorin_render_args(const velorin_sample* sample, int count, const char* const* args,
                        short** out, size_t* samples, const velorin_report* report,
                        velorin_error* err) {
    if (!sample || !out || count < 0 || count > 13 || (count > 0 && !args))
        return fail(err, VELORIN_ERROR_ARGUMENT, "no sample, no output or not 0 to 13 arguments");
    *out = nullptr;
    // The program's argument vector: its name, and an input and output that are not read.
    std::vector<std::wstring> words{L"velorin", L"", L""};
    for (int i = 0; i < count; ++i)
        if (i < 2)
            words[size_t(i) + 1] = wide(args[i]);
        else
            words.push_back(wide(args[i]));
    std::vector<wchar_t*> argv;
    for (std::wstring& w : words) argv.push_back(&w[0]);
    CallScope call(report);
    RenderParams params;
    parse_invocation(static_cast<int>(argv.size()), argv.data(), &params, false);
    NoteSamples rendered;
    const int code = render_params(sample, params, &rendered, call, err);
    if (code != VELORIN_OK) return code;
    return hand_out_16(rendered, out, samples, err);
}

int velorin_run(int argc, const char* const* argv, const velorin_report* report,
                velorin_error* err) {
    if (argc < 0 || (argc > 0 && !argv))
        return fail(err, VELORIN_ERROR_ARGUMENT, "no arguments"), 99;
    std::vector<std::wstring> words;
    for (int i = 0; i < argc; ++i) words.push_back(wide(argv[i]));
    std::vector<wchar_t*> wargv;
    for (std::wstring& w : words) wargv.push_back(&w[0]);
    CallScope call(report);
    RenderParams params;
    RenderStats stats;
    int code = parse_invocation(argc, wargv.data(), &params, false);
    if (code == 0) code = render_note(params, &stats);
    if (code == 99 && argc < 3)
        fail(err, VELORIN_ERROR_ARGUMENT, "no input or no output");
    else if (code == 99)
        fail(err, VELORIN_ERROR_LOAD, "cannot load the input", &call);
    else if (code != 0 || !stats.note_written)
        fail(err,
             call.call.last_message().rfind("Cannot write", 0) == 0 ? VELORIN_ERROR_WRITE
                                                                    : VELORIN_ERROR_REFUSED,
             "no note written", &call);
    else
        succeed(err);
    return code;
}

void velorin_pitch_form(const char* tempo, int* form, int* order) {
    int variant = 0, o = 0;
    const std::wstring text = wide(tempo);
    const bool compressed = select_pitch_form(text.c_str(), &variant, &o);
    // A "*" naming no codec reads as the first compressed form, as the command line does.
    if (form)
        *form = !compressed ? VELORIN_PITCH_PLAIN : variant == 0 ? VELORIN_PITCH_ENC : variant;
    if (order) *order = compressed ? o : 0;
}

int velorin_pitch_decode(const char* text, int form, int order, short** points, int* count,
                         velorin_error* err) {
    if (!text || !points || !count || form < VELORIN_PITCH_PLAIN || form > VELORIN_PITCH_HFF)
        return fail(err, VELORIN_ERROR_ARGUMENT, "no text, nowhere to put the points or no form");
    *points = nullptr;
    *count = 0;
    CallScope call(nullptr);
    const std::wstring wtext = wide(text);
    int16_t* curve = form == VELORIN_PITCH_PLAIN ? decplain(wtext.c_str())
                                                 : decpitch(wtext.c_str(), order, form);
    const int n = curve && curve[0] > 0 ? curve[0] : 0;
    if (n > 0) {
        *points = static_cast<short*>(std::malloc(sizeof(short) * size_t(n)));
        if (!*points) {
            free_pitch_curve(curve);
            return fail(err, VELORIN_ERROR_MEMORY, "no memory for the points");
        }
        std::memcpy(*points, curve + 1, sizeof(short) * size_t(n));
        *count = n;
    }
    free_pitch_curve(curve);
    return succeed(err);
}

int velorin_pitch_encode(const short* points, int count, int form, int order, char** text,
                         velorin_error* err) {
    if (!text || (count > 0 && !points) || count < 0 || count > max_curve_points ||
        form < VELORIN_PITCH_PLAIN || form > VELORIN_PITCH_HFF)
        return fail(err, VELORIN_ERROR_ARGUMENT, "no points, too many, or no form");
    *text = nullptr;
    CallScope call(nullptr);
    int16_t* curve = new_pitch_curve(std::vector<int16_t>(points, points + count));
    wchar_t* coded = nullptr;
    if (curve) coded = form == VELORIN_PITCH_PLAIN ? encplain(curve) : encpitch(curve, order, form);
    free_pitch_curve(curve);
    const std::string bytes = coded ? narrow_text(coded) : std::string();
    free_pitch_text(coded);
    if (count > 0 && bytes.empty())
        return fail(err, VELORIN_ERROR_PITCH, "the points cannot be coded in this form", &call);
    *text = static_cast<char*>(std::malloc(bytes.size() + 1));
    if (!*text) return fail(err, VELORIN_ERROR_MEMORY, "no memory for the text");
    std::memcpy(*text, bytes.c_str(), bytes.size() + 1);
    return succeed(err);
}

}  // extern "C"
