// tools/frq/info.cpp: velorin-frq info and fix: what a list holds, and the
// repair of its octave jumps.
#include <cstdio>
#include <vector>

#include "platform/console.h"
#include "platform/platform.h"
#include "tools/frq/commands.h"
#include "tools/frq/files.h"
#include "tools/frq/summary.h"

namespace velorin {

namespace {

// Any double in full: 1e308 Hz has 309 digits before its point.
std::string hz_text(double hz) { return text_printf("%.2f Hz", hz); }

}  // namespace

std::string info_text(const FreqList& l, const ListSummary& s) {
    std::string t =
        text_printf("  frames      %d, step %d samples (%.2f ms at %d Hz)\n", s.count, s.step,
                    l.sample_rate > 0 ? 1000.0 * s.step / l.sample_rate : 0.0, l.sample_rate);
    t += "  average     " + hz_text(s.freq_avg) + ", nearest note " + note_name(s.freq_avg) + "\n";
    t += text_printf("  voiced      %.1f %% (%d of %d frames)\n", 100.0 * voiced_share(s), s.voiced,
                     s.count);
    if (s.voiced > 0)
        t += "  pitch       lowest " + hz_text(s.lowest) + ", median " + hz_text(s.median) +
             ", highest " + hz_text(s.highest) + " (voiced frames)\n";
    t += text_printf("  suspicious  %zu frames (octave jumps)\n", s.suspicious.size());
    for (const SuspiciousFrame& f : s.suspicious)
        t += text_printf("    frame %d at %.1f ms: ", f.frame, frame_ms(l, f.frame)) +
             hz_text(l.freq[f.frame]) + ", neighbours " + hz_text(f.reference_hz) + "\n";
    return t;
}

std::string csv_text(const std::wstring* path, const FreqList& l, const ListSummary& s) {
    std::vector<char> suspicious(size_t(l.count), 0);
    for (const SuspiciousFrame& f : s.suspicious) suspicious[size_t(f.frame)] = 1;
    const std::string file = path ? "\"" + utf8(*path) + "\"," : "";
    std::string out;
    for (int k = 0; k < l.count; ++k) {
        out += file;
        out += text_printf("%.3f,%.9g,%.9g,%d,%d\n", frame_ms(l, k), l.freq[k], l.amp[k],
                           frame_voiced(l.freq[k]) ? 1 : 0, int(suspicious[size_t(k)]));
    }
    return out;
}

int fix_frames(FreqList* l, const ListSummary& s, std::string* lines) {
    int changed = 0;
    for (const SuspiciousFrame& f : s.suspicious) {
        const double before = l->freq[f.frame];
        const double after = octave_fixed(before, f.reference_hz, l->sample_rate);
        if (after == before) continue;
        ++changed;
        *lines += text_printf("  frame %d at %.1f ms: ", f.frame, frame_ms(*l, f.frame)) +
                  hz_text(before) + " -> " + hz_text(after) + "\n";
        l->freq[f.frame] = after;
    }
    // The guard entry repeats the last frame.
    l->freq[l->count] = l->freq[l->count - 1];
    return changed;
}

int info_command(const std::vector<std::wstring>& files, bool csv) {
    int rc = 0;
    if (csv)
        tell(stdout, files.size() > 1 ? "file,time_ms,frequency_hz,amplitude,voiced,suspicious\n"
                                      : "time_ms,frequency_hz,amplitude,voiced,suspicious\n");
    for (const std::wstring& p : files) {
        std::string why;
        FreqListPtr l(load_list(p, &why));
        if (!l) {
            tell_text(stderr, L"velorin-frq: " + p + L": " + widen_text(why.c_str()) + L"\n");
            rc = 1;
            continue;
        }
        const ListSummary s = summarise(*l);
        if (!csv) tell_text(stdout, p + L"\n");
        tell(stdout,
             (csv ? csv_text(files.size() > 1 ? &p : nullptr, *l, s) : info_text(*l, s)).c_str());
    }
    return rc;
}

int fix_command(const std::vector<std::wstring>& files, bool dry_run) {
    interrupt_watch();
    int rc = 0;
    for (const std::wstring& p : files) {
        if (interrupt_requested()) return 130;
        const std::wstring lp = is_list_path(p) ? p : list_path_of(p);
        std::string why = "the path is too long for a list path";
        FreqListPtr l(lp.empty() ? nullptr : read_list_file(lp, &why));
        if (!l) {
            tell_text(stderr, L"velorin-frq: " + p + L": " + widen_text(why.c_str()) + L"\n");
            rc = 1;
            continue;
        }
        std::string lines;
        const int changed = fix_frames(l.get(), summarise(*l), &lines);
        if (changed == 0) {
            tell_text(stdout, lp + L": nothing to fix\n");
            continue;
        }
        tell_text(stdout, lp + (dry_run ? L" (dry run)\n" : L"\n"));
        tell(stdout, lines.c_str());
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

}  // namespace velorin
