// tools/frq/picture.h: velorin-frq's pictures: one SVG per sample (waveform,
// spectrogram, pitch curve) and the HTML report that gathers them.
#pragma once

#include <string>
#include <vector>

#include "frq/freq_list.h"
#include "tools/frq/summary.h"

namespace velorin {

// The first channel of a sample on a -1..1 scale, loaded by the analysis loader.
struct SampleWave {
    std::vector<double> x;
    int rate = 0;
};
bool load_wave(const wchar_t* path, SampleWave* wave);

// The picture; `wave` may be empty (a list without its sample): then only the
// pitch curve is drawn. `title` is plain text (escaped here).
std::string plot_svg(const SampleWave& wave, const FreqList& list, const ListSummary& summary,
                     const std::string& title);

struct ReportRow {
    std::string name;  // UTF-8
    double seconds = 0.0;
    ListSummary summary;
    std::string svg;    // the picture, or empty
    std::string error;  // why the sample has no list, or empty
};
// Rows worst first: failures, then most suspicious frames, then least voiced, then by name.
void sort_worst_first(std::vector<ReportRow>* rows);
std::string report_html(const std::string& folder, const std::vector<ReportRow>& rows);

std::string xml_escape(const std::string& text);

}  // namespace velorin
