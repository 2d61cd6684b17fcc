// tools/frq/draw.cpp: velorin-frq plot and report: the picture of one sample,
// and the page of a whole folder.
#include <algorithm>

#include "platform/console.h"
#include "platform/platform.h"
#include "tools/frq/commands.h"
#include "tools/frq/files.h"
#include "tools/frq/picture.h"
#include "tools/frq/summary.h"

namespace velorin {

namespace {

// The picture of a sample or a list; empty with the reason when there is no list.
std::string picture(const std::wstring& path, std::string* why, ReportRow* row) {
    FreqListPtr l(load_list(path, why));
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

}  // namespace

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
    int rc = failures.empty() ? 0 : 1;
    for (const std::wstring& p : samples) {
        if (interrupt_requested()) return 130;
        ReportRow row;
        std::wstring rel = p.substr(std::min(p.size(), folder.size()));
        while (!rel.empty() && (rel[0] == L'/' || rel[0] == L'\\')) rel.erase(0, 1);
        row.name = utf8(rel);
        std::string why;
        row.svg = picture(p, &why, &row);
        if (row.svg.empty()) {
            // On the page, and said here: the page is written, the run has failed.
            row.error = why;
            tell_text(stderr, L"velorin-frq: " + p + L": " + widen_text(why.c_str()) + L"\n");
            rc = 1;
        }
        rows.push_back(row);
    }
    sort_worst_first(&rows);
    if (!write_text_file(out, report_html(utf8(folder), rows))) {
        tell_text(stderr, L"velorin-frq: " + out + L": cannot be written\n");
        return 1;
    }
    tell_text(stdout, out + L"\n");
    return rc;
}

}  // namespace velorin
