// tools/tool_velorin_frq.cpp: velorin-frq, the frequency lists of a whole voicebank:
// analyse them, look at them, repair octave jumps, draw them and gather them in a report.
//
// Loading, analysis, the list path rule and the list file itself are velorin's own code
// (obtain_freq_list, freq_list_path, read_freq_list, write_freq_list); this program
// only chooses the samples, runs several at once and shows what the lists hold.
#include <algorithm>
#include <atomic>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "CLI/CLI.hpp"
#include "audio/analysis_loader.h"
#include "audio/bytes.h"
#include "audio/decoder_pipe.h"
#include "driver/render.h"
#include "frq/freq_list.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "tools/frq_picture.h"
#include "tools/frq_summary.h"

namespace {

using namespace velorin;

struct ListFree {
    void operator()(FreqList* f) const { free_freq_list(f); }
};
using ListPtr = std::unique_ptr<FreqList, ListFree>;

std::string utf8(const std::wstring& w) { return narrow_text(w.c_str()); }

void tell_text(FILE* stream, const std::wstring& text) { tell_wide(stream, text.c_str()); }

double seconds_since(int64_t start) {
    return double(perf_counter() - start) / double(perf_frequency());
}

// --- Samples and their lists ------------------------------------------------

// A sample is what velorin's analysis loader reads.
bool is_sample(const std::wstring& path) { return analysis_reads(path.c_str()); }

std::wstring join_path(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty()) return name;
    const wchar_t last = folder.back();
    if (last == L'/' || last == path_separator()) return folder + name;
    return folder + path_separator() + name;
}

struct Failure {
    std::wstring path;
    std::string reason;
};

// Samples under a folder, depth first, by name.
void walk(const std::wstring& folder, std::vector<std::wstring>* samples,
          std::vector<Failure>* failures) {
    std::vector<FolderEntry> entries;
    if (!folder_list(folder.c_str(), &entries)) {
        failures->push_back({folder, "the folder cannot be read"});
        return;
    }
    for (const FolderEntry& e : entries) {
        const std::wstring p = join_path(folder, e.name);
        if (e.folder)
            walk(p, samples, failures);
        else if (is_sample(p))
            samples->push_back(p);
    }
}

// The samples the command line names; what is not a sample is a failure.
std::vector<std::wstring> gather(const std::vector<std::wstring>& paths,
                                 std::vector<Failure>* failures) {
    std::vector<std::wstring> samples;
    for (const std::wstring& p : paths) {
        FileStatus st;
        if (!file_status(p.c_str(), &st)) {
            failures->push_back({p, "no such file or folder"});
        } else if (st.folder) {
            const size_t before = samples.size();
            walk(p, &samples, failures);
            if (samples.size() == before) failures->push_back({p, "no samples in this folder"});
        } else if (is_sample(p)) {
            samples.push_back(p);
        } else {
            failures->push_back({p,
                                 "not a sample velorin reads (.wav, .aif, .aiff, or a "
                                 "compressed form whose decoder variable is set)"});
        }
    }
    // A sample named twice (alone and in its folder) is analysed once.
    std::vector<std::wstring> once;
    std::set<std::wstring> seen;
    for (const std::wstring& p : samples)
        if (seen.insert(p).second) once.push_back(p);
    return once;
}

std::wstring list_path_of(const std::wstring& path) {
    std::wstring list;
    bool is_list = false;
    if (!freq_list_path(path.c_str(), &list, &is_list)) return std::wstring();
    return list;
}

bool is_list_path(const std::wstring& path) {
    bool is_list = false;
    return freq_list_path(path.c_str(), nullptr, &is_list) && is_list;
}

// The sample a list belongs to, by the list path rule read backwards.
std::wstring sample_of_list(const std::wstring& list) {
    std::wstring base = list.substr(0, list.size() - 4);
    const std::wstring wav = L"_wav";
    if (base.size() > wav.size() && base.compare(base.size() - wav.size(), wav.size(), wav) == 0) {
        const std::wstring candidate = base.substr(0, base.size() - wav.size()) + L".wav";
        FileStatus st;
        if (file_status(candidate.c_str(), &st) && !st.folder) return candidate;
    }
    return base;
}

// What is wrong with a list file that read_freq_list refuses.
std::string list_fault(const std::wstring& list) {
    FILE* f = file_open(list.c_str(), L"rb");
    if (!f) return "the list cannot be opened";
    uint8_t head[40];
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fclose(f);
    if (got < sizeof head)
        return "the list is too short for its 40-byte header (" + std::to_string(size) + " bytes)";
    if (std::memcmp(head, "FREQ000", 7) != 0) return "the list does not start with \"FREQ000\"";
    const int32_t step = static_cast<int32_t>(le_u32(head + 8));
    const int32_t count = static_cast<int32_t>(le_u32(head + 36));
    if (step <= 0) return "the list's step is " + std::to_string(step) + ", not above 0";
    if (count <= 0) return "the list's frame count is " + std::to_string(count) + ", not above 0";
    return "the list is cut short: its header promises " + std::to_string(count) +
           " frames, the file holds " + std::to_string((size - 40) / 16);
}

bool same_list(const FreqList& a, const FreqList& b) {
    return a.count == b.count && a.step == b.step && a.sample_rate == b.sample_rate &&
           std::memcmp(&a.freq_avg, &b.freq_avg, sizeof(double)) == 0 &&
           std::memcmp(a.freq, b.freq, sizeof(double) * size_t(a.count)) == 0 &&
           std::memcmp(a.amp, b.amp, sizeof(double) * size_t(a.count)) == 0;
}

// Why the analysis of a sample gave nothing.
std::string analysis_fault(const std::wstring& path) {
    FILE* f = file_open(path.c_str(), L"rb");
    if (!f) return "the sample cannot be opened";
    std::fclose(f);
    const std::wstring ext = lower_extension(path.c_str());
    if (ext != L".wav" && ext != L".aif" && ext != L".aiff")
        return "the decoder gave no usable sound";
    return "not a sample velorin can read (damaged, or a format it does not know)";
}

// The list velorin would use for a sample or a list path; for a sample without a
// list, the analysis makes one (and writes it, as velorin would). Null with the reason.
FreqList* load_list(const std::wstring& path, std::string* why) {
    FileStatus st;
    if (!file_status(path.c_str(), &st) || st.folder) {
        *why = st.folder ? "a folder, not a sample or a list" : "no such file";
        return nullptr;
    }
    const std::wstring list = is_list_path(path) ? path : list_path_of(path);
    if (list.empty()) {
        *why = "the path is too long for a list path";
        return nullptr;
    }
    FreqList* l = read_freq_list(list.c_str());
    if (l) return l;
    FileStatus ls;
    if (file_status(list.c_str(), &ls) && ls.exists) {
        *why = list_fault(list);
        return nullptr;
    }
    if (is_list_path(path)) {
        *why = "the list cannot be read";
        return nullptr;
    }
    l = obtain_freq_list(path.c_str());
    if (!l) *why = analysis_fault(path);
    return l;
}

// Text written under a temporary name and renamed into place.
bool write_text_file(const std::wstring& path, const std::string& text) {
    const std::wstring tmp = path + L"." + std::to_wstring(process_id()) + L".tmp";
    const int slot = temp_file_register(tmp.c_str());
    FILE* f = file_open(tmp.c_str(), L"wb");
    bool ok = f != nullptr;
    if (f) {
        ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
        if (std::fclose(f) != 0) ok = false;
        if (ok) ok = file_rename(tmp.c_str(), path.c_str());
        if (!ok) file_remove(tmp.c_str());
    }
    temp_file_forget(slot);
    return ok;
}

// --- analyse ----------------------------------------------------------------------

struct Analysis {
    std::vector<std::wstring> todo;
    size_t total = 0;  // samples found, up-to-date ones included
    size_t up_to_date = 0;
    bool terminal = false;
    int64_t start = 0;
    Mutex* lock = nullptr;
    Event* finished = nullptr;  // set when the last worker ends
    // Guarded by lock:
    int running = 0;  // workers
    size_t next = 0;
    size_t done = 0;
    size_t analysed = 0;
    std::wstring current;
    std::vector<Failure> failures;
    size_t drawn = 0;  // width of the last progress line
};

std::string clock_text(double seconds) {
    const long s = std::lround(std::max(0.0, seconds));
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

// The progress bar, redrawn in place; called under the lock.
void draw_progress(Analysis* a) {
    const size_t n = a->todo.size();
    const double elapsed = seconds_since(a->start);
    const int width = 24;
    const int filled = n ? int(double(a->done) / double(n) * width) : width;
    std::string bar =
        "[" + std::string(size_t(filled), '#') + std::string(size_t(width - filled), '.') + "]";
    char head[128];
    const std::string left =
        a->done > 0 ? clock_text(elapsed / double(a->done) * double(n - a->done)) : "?";
    std::snprintf(head, sizeof head, " %zu/%zu  %s elapsed  %s left  ", a->done, n,
                  clock_text(elapsed).c_str(), left.c_str());
    std::wstring line = widen_text((bar + head).c_str());
    std::wstring name = a->current;
    const size_t room = line.size() < 78 ? 78 - line.size() : 0;
    if (name.size() > room)
        name = (room > 3 ? L"..." + name.substr(name.size() - (room - 3)) : L"");
    line += name;
    const size_t shown = line.size();
    if (shown < a->drawn) line += std::wstring(a->drawn - shown, L' ');
    a->drawn = shown;
    tell_wide(stderr, (L"\r" + line).c_str());
}

void analyse_one(Analysis* a, const std::wstring& path) {
    std::string reason;
    ListPtr list(obtain_freq_list(path.c_str()));
    const std::wstring ext = lower_extension(path.c_str());
    if (interrupt_requested() && ext != L".wav" && ext != L".aif" && ext != L".aiff") {
        // Ctrl-C on a terminal reaches the decoder too, which may have stopped early:
        // a list of part of the sample is no list, so none is left.
        if (list) file_remove(list_path_of(path).c_str());
        return;
    }
    if (!list) {
        reason = analysis_fault(path);
    } else {
        // obtain_freq_list does not say whether the write worked: read the file back.
        const std::wstring lp = list_path_of(path);
        ListPtr back(read_freq_list(lp.c_str()));
        if (!back || !same_list(*list, *back))
            reason = "its list cannot be written (is the folder or the list read-only?)";
    }
    mutex_lock(a->lock);
    ++a->done;
    if (reason.empty()) {
        ++a->analysed;
        if (!a->terminal) tell_text(stderr, L"analysed " + path + L"\n");
    } else {
        a->failures.push_back({path, reason});
        if (a->terminal) tell(stderr, "\n");
        tell_text(stderr, L"failed " + path + L": " + widen_text(reason.c_str()) + L"\n");
        a->drawn = 0;
    }
    if (a->terminal) draw_progress(a);
    mutex_unlock(a->lock);
}

void analysis_worker(void* arg) {
    Analysis* a = static_cast<Analysis*>(arg);
    for (;;) {
        mutex_lock(a->lock);
        if (a->next >= a->todo.size() || interrupt_requested()) {
            if (--a->running == 0) event_set(a->finished);
            mutex_unlock(a->lock);
            return;
        }
        const std::wstring path = a->todo[a->next++];
        a->current = path;
        if (a->terminal) draw_progress(a);
        mutex_unlock(a->lock);
        analyse_one(a, path);
    }
}

bool list_up_to_date(const std::wstring& sample) {
    const std::wstring lp = list_path_of(sample);
    FileStatus ss, ls;
    if (lp.empty() || !file_status(sample.c_str(), &ss) || !file_status(lp.c_str(), &ls))
        return false;
    if (ls.mtime < ss.mtime) return false;
    ListPtr l(read_freq_list(lp.c_str()));  // a damaged list is analysed again
    return l != nullptr;
}

int analyse_command(const std::vector<std::wstring>& paths, int jobs, bool force) {
    interrupt_watch();
    Analysis a;
    a.start = perf_counter();
    std::vector<Failure> failures;
    const std::vector<std::wstring> samples = gather(paths, &failures);
    a.total = samples.size();
    for (const std::wstring& s : samples) {
        if (!force && list_up_to_date(s))
            ++a.up_to_date;
        else
            a.todo.push_back(s);
    }
    a.failures = failures;
    for (const Failure& f : failures)
        tell_text(stderr, L"failed " + f.path + L": " + widen_text(f.reason.c_str()) + L"\n");
    a.terminal = stream_is_terminal(stderr);
    a.lock = mutex_create();
    a.finished = event_create(false);
    if (!a.lock || !a.finished) {
        tell(stderr, "velorin-frq: out of resources\n");
        return 1;
    }
    if (jobs <= 0) jobs = processor_count();
    jobs = static_cast<int>(std::min<size_t>(size_t(jobs), std::max<size_t>(a.todo.size(), 1)));
    if (a.todo.empty()) {
        if (a.total > 0)
            tell(stdout,
                 ("nothing to analyse: all " + std::to_string(a.total) + " lists are up to date\n")
                     .c_str());
    } else {
        if (a.terminal) draw_progress(&a);
        std::vector<Thread*> threads;
        a.running = jobs;
        for (int i = 0; i < jobs; ++i) {
            Thread* t = thread_start(analysis_worker, &a);
            if (t) {
                threads.push_back(t);
            } else {
                mutex_lock(a.lock);
                if (--a.running == 0) event_set(a.finished);
                mutex_unlock(a.lock);
            }
        }
        if (threads.empty()) {
            a.running = 1;
            analysis_worker(&a);  // no thread could start: this one does the work
        }
        // The clock on the progress line moves on while the samples take their time.
        while (!event_wait_ms(a.finished, 500)) {
            if (!a.terminal) continue;
            mutex_lock(a.lock);
            draw_progress(&a);
            mutex_unlock(a.lock);
        }
        for (Thread* t : threads) thread_join(t);
        if (a.terminal) tell(stderr, "\n");
    }
    event_close(a.finished);
    mutex_close(a.lock);
    const bool stopped = interrupt_requested();
    char line[160];
    std::snprintf(line, sizeof line,
                  "analysed %zu, up to date %zu, failed %zu (%.1f s, %d at once)\n", a.analysed,
                  a.up_to_date, a.failures.size(), seconds_since(a.start), jobs);
    tell(stdout, line);
    for (const Failure& f : a.failures)
        tell_text(stdout, L"  failed: " + f.path + L": " + widen_text(f.reason.c_str()) + L"\n");
    if (stopped) {
        const size_t left = a.todo.size() - a.done;
        tell(stderr, ("interrupted: " + std::to_string(left) + " samples not analysed\n").c_str());
        return 130;
    }
    return a.failures.empty() ? 0 : 1;
}

// --- info, fix --------------------------------------------------------------------

std::string hz_text(double hz) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f Hz", hz);
    return buf;
}

void print_info(const std::wstring& path, const FreqList& l, const ListSummary& s) {
    tell_text(stdout, path + L"\n");
    char buf[256];
    std::snprintf(buf, sizeof buf, "  frames      %d, step %d samples (%.2f ms at %d Hz)\n",
                  s.count, s.step, l.sample_rate > 0 ? 1000.0 * s.step / l.sample_rate : 0.0,
                  l.sample_rate);
    tell(stdout, buf);
    std::snprintf(buf, sizeof buf, "  average     %s, nearest note %s\n",
                  hz_text(s.freq_avg).c_str(), note_name(s.freq_avg).c_str());
    tell(stdout, buf);
    std::snprintf(buf, sizeof buf, "  voiced      %.1f %% (%d of %d frames)\n",
                  100.0 * voiced_share(s), s.voiced, s.count);
    tell(stdout, buf);
    if (s.voiced > 0) {
        std::snprintf(
            buf, sizeof buf, "  pitch       lowest %s, median %s, highest %s (voiced frames)\n",
            hz_text(s.lowest).c_str(), hz_text(s.median).c_str(), hz_text(s.highest).c_str());
        tell(stdout, buf);
    }
    std::snprintf(buf, sizeof buf, "  suspicious  %zu frames (octave jumps)\n",
                  s.suspicious.size());
    tell(stdout, buf);
    for (const SuspiciousFrame& f : s.suspicious) {
        std::snprintf(buf, sizeof buf, "    frame %d at %.1f ms: %s, neighbours %s\n", f.frame,
                      frame_ms(l, f.frame), hz_text(l.freq[f.frame]).c_str(),
                      hz_text(f.reference_hz).c_str());
        tell(stdout, buf);
    }
}

void print_csv(const std::wstring* path, const FreqList& l, const ListSummary& s) {
    std::vector<char> suspicious(size_t(l.count), 0);
    for (const SuspiciousFrame& f : s.suspicious) suspicious[size_t(f.frame)] = 1;
    const std::string file = path ? "\"" + utf8(*path) + "\"," : "";
    std::string out;
    char buf[160];
    for (int k = 0; k < l.count; ++k) {
        std::snprintf(buf, sizeof buf, "%.3f,%.9g,%.9g,%d,%d\n", frame_ms(l, k), l.freq[k],
                      l.amp[k], frame_voiced(l.freq[k]) ? 1 : 0, int(suspicious[size_t(k)]));
        out += file;
        out += buf;
    }
    tell(stdout, out.c_str());
}

int info_command(const std::vector<std::wstring>& files, bool csv) {
    int rc = 0;
    if (csv)
        tell(stdout, files.size() > 1 ? "file,time_ms,frequency_hz,amplitude,voiced,suspicious\n"
                                      : "time_ms,frequency_hz,amplitude,voiced,suspicious\n");
    for (const std::wstring& p : files) {
        std::string why;
        ListPtr l(load_list(p, &why));
        if (!l) {
            tell_text(stderr, L"velorin-frq: " + p + L": " + widen_text(why.c_str()) + L"\n");
            rc = 1;
            continue;
        }
        const ListSummary s = summarise(*l);
        if (csv)
            print_csv(files.size() > 1 ? &p : nullptr, *l, s);
        else
            print_info(p, *l, s);
    }
    return rc;
}

int fix_command(const std::vector<std::wstring>& files, bool dry_run) {
    interrupt_watch();
    int rc = 0;
    for (const std::wstring& p : files) {
        if (interrupt_requested()) return 130;
        const std::wstring lp = is_list_path(p) ? p : list_path_of(p);
        ListPtr l(lp.empty() ? nullptr : read_freq_list(lp.c_str()));
        if (!l) {
            FileStatus st;
            const std::string why = lp.empty() ? "the path is too long for a list path"
                                    : file_status(lp.c_str(), &st) ? list_fault(lp)
                                                                   : "it has no frequency list";
            tell_text(stderr, L"velorin-frq: " + p + L": " + widen_text(why.c_str()) + L"\n");
            rc = 1;
            continue;
        }
        const ListSummary s = summarise(*l);
        int changed = 0;
        for (const SuspiciousFrame& f : s.suspicious) {
            const double before = l->freq[f.frame];
            const double after = octave_fixed(before, f.reference_hz);
            if (after == before) continue;
            ++changed;
            char buf[200];
            std::snprintf(buf, sizeof buf, "  frame %d at %.1f ms: %s -> %s\n", f.frame,
                          frame_ms(*l, f.frame), hz_text(before).c_str(), hz_text(after).c_str());
            if (changed == 1) tell_text(stdout, lp + (dry_run ? L" (dry run)\n" : L"\n"));
            tell(stdout, buf);
            l->freq[f.frame] = after;
        }
        if (changed == 0) {
            tell_text(stdout, lp + L": nothing to fix\n");
            continue;
        }
        if (dry_run) continue;
        if (write_freq_list(lp.c_str(), l.get()) != 1) {
            tell_text(stderr,
                      L"velorin-frq: " + lp + L": the list cannot be written (read-only?)\n");
            rc = 1;
            continue;
        }
        // Keep the list at least as new as its sample, so that it stays the one in use.
        const std::wstring sample = is_list_path(p) ? sample_of_list(lp) : p;
        FileStatus ss, ls;
        if (file_status(sample.c_str(), &ss) && file_status(lp.c_str(), &ls) && ls.mtime < ss.mtime)
            file_set_mtime(lp.c_str(), ss.mtime);
        tell(stdout, ("  " + std::to_string(changed) + " frames repaired\n").c_str());
    }
    return rc;
}

// --- plot, report -----------------------------------------------------------------

std::wstring file_name(const std::wstring& path) {
    const size_t at = path.find_last_of(L"/\\");
    return at == std::wstring::npos ? path : path.substr(at + 1);
}

// The picture of a sample or a list; empty with the reason when there is no list.
std::string picture(const std::wstring& path, std::string* why, ReportRow* row) {
    ListPtr l(load_list(path, why));
    if (!l) return std::string();
    const std::wstring sample = is_list_path(path) ? sample_of_list(path) : path;
    SampleWave wave;
    if (!load_wave(sample.c_str(), &wave)) wave = SampleWave{};
    const ListSummary s = summarise(*l);
    if (row) {
        row->summary = s;
        row->seconds = wave.rate > 0        ? double(wave.x.size()) / wave.rate
                       : l->sample_rate > 0 ? double(l->count) * l->step / l->sample_rate
                                            : 0.0;
    }
    return plot_svg(wave, *l, s, utf8(file_name(path)));
}

int plot_command(const std::wstring& file, std::wstring out) {
    interrupt_watch();
    std::string why;
    const std::string svg = picture(file, &why, nullptr);
    if (svg.empty()) {
        tell_text(stderr, L"velorin-frq: " + file + L": " + widen_text(why.c_str()) + L"\n");
        return 1;
    }
    if (out.empty()) {
        out = is_list_path(file) ? file : list_path_of(file);
        out = out.substr(0, out.size() - 4) + L".svg";
    }
    if (!write_text_file(out, svg)) {
        tell_text(stderr, L"velorin-frq: " + out + L": cannot be written\n");
        return 1;
    }
    tell_text(stdout, out + L"\n");
    return 0;
}

int report_command(const std::wstring& folder, const std::wstring& out) {
    interrupt_watch();
    FileStatus st;
    if (!file_status(folder.c_str(), &st) || !st.folder) {
        tell_text(stderr, L"velorin-frq: " + folder + L": not a folder\n");
        return 1;
    }
    std::vector<Failure> failures;
    std::vector<std::wstring> samples;
    walk(folder, &samples, &failures);
    for (const Failure& f : failures)
        tell_text(stderr, L"velorin-frq: " + f.path + L": " + widen_text(f.reason.c_str()) + L"\n");
    if (samples.empty()) {
        tell_text(stderr, L"velorin-frq: " + folder + L": no samples in this folder\n");
        return 1;
    }
    std::vector<ReportRow> rows;
    for (const std::wstring& p : samples) {
        if (interrupt_requested()) return 130;
        ReportRow row;
        std::wstring rel = p.substr(std::min(p.size(), folder.size()));
        while (!rel.empty() && (rel[0] == L'/' || rel[0] == L'\\')) rel.erase(0, 1);
        row.name = utf8(rel);
        std::string why;
        row.svg = picture(p, &why, &row);
        if (row.svg.empty()) row.error = why;
        rows.push_back(row);
    }
    sort_worst_first(&rows);
    if (!write_text_file(out, report_html(utf8(folder), rows))) {
        tell_text(stderr, L"velorin-frq: " + out + L": cannot be written\n");
        return 1;
    }
    tell_text(stdout, out + L"\n");
    return 0;
}

// --- command line ------------------------------------------------------------------

std::vector<std::wstring> wide_all(const std::vector<std::string>& v) {
    std::vector<std::wstring> out;
    for (const std::string& s : v) out.push_back(widen_text(s.c_str()));
    return out;
}

const char description[] =
    "velorin-frq: the frequency lists of a voicebank, with velorin's own analysis.\n"
    "Results go to standard output, messages and progress to standard error.\n"
    "Exit 0 on success, 1 when anything failed, 2 for bad usage, 130 when interrupted\n"
    "(Ctrl-C: the samples in progress are finished; a second Ctrl-C stops at once).";

int frq_tool_main(const std::vector<std::string>& args) {
    locale_from_environment();
    std::setlocale(LC_NUMERIC, "C");  // numbers in lists and CSV always with a point
    console_mute(true);               // the analysis's own progress lines are not shown

    CLI::App app{description, "velorin-frq"};
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "all subcommands' options");

    int jobs = 0;
    bool force = false, csv = false, dry_run = false;
    std::vector<std::string> paths, files;
    std::string file, out;

    CLI::App* analyse = app.add_subcommand(
        "analyse", "write the list of every sample under the paths, beside it, as velorin would");
    analyse
        ->add_option("-j,--jobs", jobs, "samples analysed at once (default: the processor count)")
        ->check(CLI::Range(1, 256));
    analyse->add_flag("--force", force, "analyse samples whose list is up to date too");
    analyse->add_option("PATH", paths, "samples and folders (walked recursively)")->required();

    CLI::App* info = app.add_subcommand("info", "summary and octave jumps of lists or samples");
    info->add_flag("--csv", csv,
                   "one row per frame: time_ms,frequency_hz,amplitude,voiced,suspicious");
    info->add_option("FILE", files, "samples or lists")->required();

    CLI::App* fix = app.add_subcommand("fix", "move the octave jumps info reports back, in place");
    fix->add_flag("--dry-run", dry_run, "only list what would change");
    fix->add_option("FILE", files, "samples or lists")->required();

    CLI::App* plot =
        app.add_subcommand("plot", "an SVG picture: waveform, spectrogram, pitch curve");
    plot->add_option("FILE", file, "a sample or a list")->required();
    plot->add_option("-o,--output", out, "the SVG file (default: the list's name with .svg)");

    CLI::App* report =
        app.add_subcommand("report", "an HTML page of every sample in a folder, worst first");
    report->add_option("FOLDER", file, "the folder (walked recursively)")->required();
    report->add_option("-o,--output", out, "the page (default: report.html)");

    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    try {
        app.parse(int(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }
    if (analyse->parsed()) return analyse_command(wide_all(paths), jobs, force);
    if (info->parsed()) return info_command(wide_all(files), csv);
    if (fix->parsed()) return fix_command(wide_all(files), dry_run);
    if (plot->parsed()) return plot_command(widen_text(file.c_str()), widen_text(out.c_str()));
    if (report->parsed())
        return report_command(widen_text(file.c_str()),
                              out.empty() ? std::wstring(L"report.html") : widen_text(out.c_str()));
    return 2;
}

}  // namespace

// Arguments reach the parser as UTF-8 (the platform's conversion, which gives every
// path back exactly), and every path goes back to a wide string the same way.
namespace {
int frq_wide_main(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(velorin::narrow_text(argv[i]));
    return frq_tool_main(args);
}
}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return frq_wide_main(argc, argv); }
#else
int main(int argc, char** argv) { return velorin::main_with_wide_args(argc, argv, frq_wide_main); }
#endif
