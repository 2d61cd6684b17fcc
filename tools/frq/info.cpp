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

}  // namespace

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
        FreqListPtr l(lp.empty() ? nullptr : read_freq_list(lp.c_str()));
        if (!l) {
            FileStatus st;
            ListRefusal refusal;
            FreqListPtr again(lp.empty() ? nullptr : read_freq_list(lp.c_str(), &refusal));
            const std::string why = lp.empty() ? "the path is too long for a list path"
                                    : file_status(lp.c_str(), &st) ? list_refusal_text(refusal)
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

}  // namespace velorin
