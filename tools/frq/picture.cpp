// tools/frq/picture.cpp: the SVG picture of a sample and the HTML report.
#include "tools/frq/picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "audio/analysis_loader.h"
#include "audio/samples.h"
#include "platform/mem.h"
#include "synth/rfft.h"
#include "tools/frq/files.h"

#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wshadow"
#endif
#include "stb_image_write.h"
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace velorin {

namespace {

// Layout of the picture, in SVG units.
constexpr int svg_w = 1000, svg_h = 560;
constexpr int left = 84, right = 16, plot_w = svg_w - left - right;
constexpr int wave_top = 34, wave_h = 100;
constexpr int spec_top = 150, spec_h = 330;
constexpr int img_w = 800, img_h = 256;  // spectrogram pixels, stretched to the panel
constexpr double range_db = 80.0;
// A pitch curve of more frames than this is drawn by its lowest and highest
// voiced frame per half of a unit of width, so that no list draws more.
constexpr int curve_frames_max = 4 * plot_w;

std::string fmt(const char* format, double a) { return text_printf(format, a); }

std::string num(double v) { return fmt("%.1f", v); }

struct Scale {  // the logarithmic frequency axis of the spectrogram panel
    double lo = 50.0, hi = 5000.0;
    double y(double hz) const {  // 0 at the top, 1 at the bottom
        const double v = std::log(hi / std::clamp(hz, lo, hi)) / std::log(hi / lo);
        return v;
    }
    double hz(double y01) const { return hi * std::pow(lo / hi, y01); }
};

void colour(double v, uint8_t* rgb) {  // 0..1 to dark blue, purple, orange, pale yellow
    static const double stops[5][3] = {
        {0, 0, 8}, {70, 20, 120}, {200, 60, 70}, {250, 170, 50}, {255, 250, 200}};
    v = std::clamp(v, 0.0, 1.0) * 4.0;
    const int i = std::min(3, static_cast<int>(v));
    const double t = v - i;
    for (int c = 0; c < 3; ++c)
        rgb[c] = static_cast<uint8_t>(stops[i][c] + (stops[i + 1][c] - stops[i][c]) * t + 0.5);
}

void append_png(void* context, void* data, int size) {
    auto* out = static_cast<std::string*>(context);
    out->append(static_cast<const char*>(data), size_t(size));
}

std::string base64(const std::string& bytes) {
    static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 |
                           uint32_t(uint8_t(bytes[i + 1])) << 8 | uint8_t(bytes[i + 2]);
        for (int s = 18; s >= 0; s -= 6) out += table[(v >> s) & 63];
    }
    if (i < bytes.size()) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
        if (i + 1 < bytes.size()) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        out += table[(v >> 18) & 63];
        out += table[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? table[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// The spectrogram as a PNG: one column per img_w-th of the sample, rows on the
// logarithmic axis, power in dB below the loudest point.
std::string spectrogram_png(const SampleWave& w, const Scale& sc) {
    const int n = w.rate > 24000 ? 2048 : 1024;
    const size_t un = static_cast<size_t>(n);
    std::vector<double> tw(2 * un), hann(un), sine(un), a(un);
    std::vector<int32_t> bitrev(64, 0);
    build_twiddles(tw.data(), n);
    build_bitrev(n, bitrev.data());
    build_windows(hann.data(), sine.data(), n);
    std::vector<double> db(size_t(img_w) * img_h);
    std::vector<double> power(un / 2 + 1);
    const int64_t len = int64_t(w.x.size());
    double top = -1e300;
    for (int c = 0; c < img_w; ++c) {
        const int64_t centre = int64_t((c + 0.5) * double(len) / img_w);
        for (int i = 0; i < n; ++i) {
            const int64_t j = centre - n / 2 + i;
            a[size_t(i)] = (j >= 0 && j < len ? w.x[size_t(j)] : 0.0) * hann[size_t(i)];
        }
        rfft_forward(simd_width_for_run(), n, a.data(), tw.data(), bitrev.data());
        power[0] = a[0] * a[0];
        power[size_t(n) / 2] = a[size_t(n) / 2] * a[size_t(n) / 2];
        for (int k = 1; k < n / 2; ++k)
            power[size_t(k)] = a[size_t(k)] * a[size_t(k)] + a[size_t(n - k)] * a[size_t(n - k)];
        for (int r = 0; r < img_h; ++r) {
            const double bin = sc.hz((r + 0.5) / img_h) * n / w.rate;
            const int b = std::min(n / 2 - 1, static_cast<int>(bin));
            const double t = std::clamp(bin - b, 0.0, 1.0);
            const double p = power[size_t(b)] * (1 - t) + power[size_t(b) + 1] * t;
            const double v = 10.0 * std::log10(p + 1e-20);
            db[size_t(r) * img_w + size_t(c)] = v;
            top = std::max(top, v);
        }
    }
    // A quiet sample stays dark: the scale's top is never more than 40 dB below a
    // full-scale sine's peak.
    top = std::max(top, 20.0 * std::log10(n / 4.0) - 40.0);
    std::vector<uint8_t> rgb(size_t(img_w) * img_h * 3);
    for (size_t i = 0; i < db.size(); ++i) colour(1.0 + (db[i] - top) / range_db, &rgb[i * 3]);
    std::string png;
    stbi_write_png_to_func(append_png, &png, img_w, img_h, 3, rgb.data(), img_w * 3);
    return png;
}

}  // namespace

std::string xml_escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                // Control characters are not allowed in XML 1.0.
                if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n')
                    out += c;
                else
                    out += '?';
        }
    }
    return out;
}

bool load_wave(const wchar_t* path, SampleWave* wave) {
    WavFormat f;
    int64_t bytes = 0;
    uint8_t* data = read_for_analysis(path, 0, &f, &bytes);
    if (!data) return false;
    const int bytes_per = f.bits / 8;
    const bool ok = wav_format_usable(f) && f.rate > 0 && bytes_per >= 1 &&
                    bytes_per * f.channels <= f.block_align;
    wave->x.clear();
    wave->rate = static_cast<int>(f.rate);
    if (ok) {
        const int64_t frames = bytes / f.block_align;
        wave->x.resize(size_t(frames));
        // The render reader's value of each stored sample, on a -1..1 scale.
        for (int64_t k = 0; k < frames; ++k)
            wave->x[size_t(k)] =
                render_sample_value(data + k * f.block_align, f.bits, f.format_tag) / 32768.0;
    }
    release(data);
    return ok;
}

namespace {

// Where a picture's panels put a moment and a frequency.
struct Frame {
    bool has_wave = false;
    double seconds = 1.0;  // the time axis's length
    Scale sc;
    double x(double t) const { return left + plot_w * t / std::max(seconds, 1e-9); }
    double y(double hz) const { return spec_top + spec_h * sc.y(hz); }
};

Frame picture_frame(const SampleWave& wave, const FreqList& list) {
    Frame f;
    f.has_wave =
        !wave.x.empty() && wave.rate >= plausible_rate_min && wave.rate <= plausible_rate_max;
    const double list_seconds =
        list.sample_rate > 0 ? double(list.count) * list.step / list.sample_rate : 1.0;
    f.seconds = f.has_wave ? double(wave.x.size()) / wave.rate : list_seconds;
    if (!(f.seconds > 0.0 && f.seconds < 1e12)) f.seconds = 1.0;
    if (f.has_wave) f.sc.hi = std::min(5000.0, 0.5 * wave.rate);
    return f;
}

// The picture's frame, title and summary line.
void title_panel(const ListSummary& summary, const std::string& title, std::string& s) {
    s += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(svg_w) +
         "\" height=\"" + std::to_string(svg_h) + "\" viewBox=\"0 0 " + std::to_string(svg_w) +
         " " + std::to_string(svg_h) + "\" font-family=\"sans-serif\" font-size=\"11\">\n";
    s += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    s += "<text x=\"" + std::to_string(left) +
         "\" y=\"20\" font-size=\"14\" font-weight=\"bold\">" + xml_escape(title) + "</text>\n";
    const std::string info =
        text_printf("average %.1f Hz (%s), voiced %.1f %%, %d suspicious frames", summary.freq_avg,
                    note_name(summary.freq_avg).c_str(), 100.0 * voiced_share(summary),
                    int(summary.suspicious.size()));
    s += "<text x=\"" + std::to_string(svg_w - right) + "\" y=\"20\" text-anchor=\"end\">" +
         xml_escape(info) + "</text>\n";
}

// Waveform: the lowest and highest value under every unit of width.
void waveform_panel(const SampleWave& wave, const Frame& f, std::string& s) {
    s += "<g class=\"waveform\"><rect x=\"" + std::to_string(left) + "\" y=\"" +
         std::to_string(wave_top) + "\" width=\"" + std::to_string(plot_w) + "\" height=\"" +
         std::to_string(wave_h) + "\" fill=\"#f4f4f4\" stroke=\"#999\"/>\n";
    const double mid = wave_top + wave_h / 2.0;
    if (f.has_wave) {
        s += "<path fill=\"none\" stroke=\"#245\" stroke-width=\"1\" d=\"";
        const size_t len = wave.x.size();
        for (int c = 0; c < plot_w; ++c) {
            const size_t a = len * size_t(c) / size_t(plot_w),
                         b = std::max(a + 1, len * size_t(c + 1) / size_t(plot_w));
            double lo = 0, hi = 0;
            for (size_t i = a; i < b && i < len; ++i) {
                lo = std::min(lo, wave.x[i]);
                hi = std::max(hi, wave.x[i]);
            }
            s += "M" + std::to_string(left + c) + " " + num(mid - hi * wave_h / 2) + "V" +
                 num(mid - lo * wave_h / 2 + 0.5);
        }
        s += "\"/>\n";
    } else {
        s += "<text x=\"" + std::to_string(left + 8) + "\" y=\"" + num(mid) +
             "\">sample not found: pitch curve only</text>\n";
    }
    s += "<text x=\"" + std::to_string(left - 6) + "\" y=\"" + num(mid + 4) +
         "\" text-anchor=\"end\">wave</text></g>\n";
}

// The spectrogram, with the frequency axis over it: every C (with its
// frequency) and a faint line at every A.
void spectrogram_panel(const SampleWave& wave, const Frame& f, std::string& s) {
    s += "<g class=\"spectrogram\"><rect x=\"" + std::to_string(left) + "\" y=\"" +
         std::to_string(spec_top) + "\" width=\"" + std::to_string(plot_w) + "\" height=\"" +
         std::to_string(spec_h) + "\" fill=\"#000008\"/>\n";
    if (f.has_wave) {
        s += "<image x=\"" + std::to_string(left) + "\" y=\"" + std::to_string(spec_top) +
             "\" width=\"" + std::to_string(plot_w) + "\" height=\"" + std::to_string(spec_h) +
             "\" preserveAspectRatio=\"none\" href=\"data:image/png;base64," +
             base64(spectrogram_png(wave, f.sc)) + "\"/>\n";
    }
    s += "</g>\n";
    s += "<g class=\"frequency-axis\">\n";
    for (int octave = 0; octave <= 9; ++octave) {
        for (int pc : {0, 9}) {
            const double hz = 440.0 * std::pow(2.0, (12 * (octave + 1) + pc - 69) / 12.0);
            if (hz < f.sc.lo || hz > f.sc.hi) continue;
            const std::string y = num(f.y(hz));
            s += "<line x1=\"" + std::to_string(left) + "\" x2=\"" + std::to_string(left + plot_w) +
                 "\" y1=\"" + y + "\" y2=\"" + y + "\" stroke=\"white\" stroke-opacity=\"" +
                 (pc == 0 ? "0.35" : "0.12") + "\"/>\n";
            if (pc == 0)
                s += "<text x=\"" + std::to_string(left - 6) + "\" y=\"" + num(f.y(hz) + 4) +
                     "\" text-anchor=\"end\">C" + std::to_string(octave) + " " +
                     std::to_string(int(std::lround(hz))) + "</text>\n";
        }
    }
    s += "<text transform=\"translate(12," + std::to_string(spec_top + spec_h / 2) +
         ") rotate(-90)\" text-anchor=\"middle\">frequency (Hz, note)</text>\n</g>\n";
}

// The time axis under the spectrogram.
void time_axis(const Frame& f, std::string& s) {
    s += "<g class=\"time-axis\">\n";
    const double steps[] = {0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 30, 60, 120, 300};
    double tick = steps[0];
    for (double st : steps)
        if (f.seconds / st <= 12) {
            tick = st;
            break;
        } else
            tick = st;
    while (f.seconds / tick > 12) tick *= 2;  // beyond five minutes a tick: at most 12 ticks
    for (int i = 0; i * tick <= f.seconds + 1e-9; ++i) {
        const std::string x = num(f.x(i * tick));
        s += "<line x1=\"" + x + "\" x2=\"" + x + "\" y1=\"" + std::to_string(spec_top + spec_h) +
             "\" y2=\"" + std::to_string(spec_top + spec_h + 5) + "\" stroke=\"#333\"/>\n";
        s += "<text x=\"" + x + "\" y=\"" + std::to_string(spec_top + spec_h + 18) +
             "\" text-anchor=\"middle\">" +
             fmt(tick < 0.1 ? "%.2f"
                 : tick < 1 ? "%.1f"
                            : "%.0f",
                 i * tick) +
             "</text>\n";
    }
    s += "<text x=\"" + std::to_string(left + plot_w / 2) + "\" y=\"" +
         std::to_string(spec_top + spec_h + 34) +
         "\" text-anchor=\"middle\">time (s)</text>\n</g>\n";
}

// The frames the pitch curve passes through, -1 where it breaks: each voiced
// frame of a list up to curve_frames_max frames long; of a longer list, in each
// of curve_frames_max / 2 equal parts, its lowest and highest voiced frame.
std::vector<int> curve_frames(const FreqList& list) {
    const auto voiced = [&list](int k) {
        return frame_voiced(list.freq[k]) && std::isfinite(list.freq[k]);
    };
    std::vector<int> out;
    if (list.count <= curve_frames_max) {
        for (int k = 0; k < list.count; ++k) out.push_back(voiced(k) ? k : -1);
        return out;
    }
    const int parts = curve_frames_max / 2;
    for (int p = 0; p < parts; ++p) {
        const int a = int(int64_t(list.count) * p / parts);
        const int e = int(int64_t(list.count) * (p + 1) / parts);
        int lo = -1, hi = -1;
        for (int k = a; k < e; ++k) {
            if (!voiced(k)) continue;
            if (lo < 0 || list.freq[k] < list.freq[lo]) lo = k;
            if (hi < 0 || list.freq[k] > list.freq[hi]) hi = k;
        }
        out.push_back(std::min(lo, hi));
        if (hi != lo) out.push_back(std::max(lo, hi));
    }
    return out;
}

// The pitch curve: one polyline per run of voiced frames; suspicious frames
// circled (of a long list, one per part); and the legend.
void pitch_panel(const FreqList& list, const ListSummary& summary, const Frame& f, std::string& s) {
    s += "<g class=\"pitch\" fill=\"none\" stroke=\"#00e0ff\" stroke-width=\"1.6\">\n";
    const double frame_s = list.sample_rate > 0 ? double(list.step) / list.sample_rate : 0.0;
    std::string points, first_x, first_y;
    int in_run = 0;
    auto flush = [&]() {
        if (in_run == 1)  // a lone voiced frame: a dot
            s += "<circle cx=\"" + first_x + "\" cy=\"" + first_y +
                 "\" r=\"1.5\" fill=\"#00e0ff\"/>\n";
        else if (in_run > 1)
            s += "<polyline points=\"" + points + "\"/>\n";
        points.clear();
        in_run = 0;
    };
    for (int k : curve_frames(list)) {
        if (k < 0) {
            flush();
            continue;
        }
        const double hz = list.freq[k];
        if (in_run++ == 0) {
            first_x = num(f.x(k * frame_s));
            first_y = num(f.y(hz));
        }
        points += num(f.x(k * frame_s)) + "," + num(f.y(hz)) + " ";
    }
    flush();
    s += "</g>\n<g class=\"suspicious\" fill=\"none\" stroke=\"#ff2020\" stroke-width=\"1.6\">\n";
    int64_t last_part = -1;
    for (const SuspiciousFrame& sf : summary.suspicious) {
        if (list.count > curve_frames_max) {
            const int64_t part = int64_t(sf.frame) * (curve_frames_max / 2) / list.count;
            if (part == last_part) continue;
            last_part = part;
        }
        s += "<circle cx=\"" + num(f.x(sf.frame * frame_s)) + "\" cy=\"" +
             num(f.y(list.freq[sf.frame])) + "\" r=\"4\"/>\n";
    }
    s += "</g>\n";
    s += "<text x=\"" + std::to_string(left) + "\" y=\"" + std::to_string(svg_h - 6) +
         "\" fill=\"#555\">blue line: pitch of the voiced frames; red circles: suspicious frames "
         "(octave jumps)</text>\n";
}

}  // namespace

std::string plot_svg(const SampleWave& wave, const FreqList& list, const ListSummary& summary,
                     const std::string& title) {
    const Frame f = picture_frame(wave, list);
    std::string s;
    title_panel(summary, title, s);
    waveform_panel(wave, f, s);
    spectrogram_panel(wave, f, s);
    time_axis(f, s);
    pitch_panel(list, summary, f, s);
    s += "</svg>\n";
    return s;
}

void sort_worst_first(std::vector<ReportRow>* rows) {
    std::stable_sort(rows->begin(), rows->end(), [](const ReportRow& a, const ReportRow& b) {
        if (a.error.empty() != b.error.empty()) return !a.error.empty();
        if (a.summary.suspicious.size() != b.summary.suspicious.size())
            return a.summary.suspicious.size() > b.summary.suspicious.size();
        const double va = voiced_share(a.summary), vb = voiced_share(b.summary);
        if (va != vb) return va < vb;
        return a.name < b.name;
    });
}

std::string report_html(const std::string& folder, const std::vector<ReportRow>& rows) {
    std::string h;
    h += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    h += "<title>Frequency lists of " + xml_escape(folder) + "</title>\n";
    h += "<style>\nbody{font-family:sans-serif;margin:1.5em;color:#222}\n"
         "table{border-collapse:collapse}\nth,td{border-bottom:1px solid #ccc;padding:4px 8px;"
         "text-align:left;vertical-align:top}\n"
         "td.num{text-align:right}\ntr.bad td{background:#fff0f0}\n"
         "td.picture svg{width:100%;max-width:1000px;height:auto}\n</style>\n</head>\n<body>\n";
    h += "<h1>Frequency lists of " + xml_escape(folder) + "</h1>\n";
    h += "<p>" + std::to_string(rows.size()) + (rows.size() == 1 ? " sample" : " samples") +
         ", worst first: most suspicious frames (octave jumps), then least voiced.</p>\n";
    h += "<table>\n<thead><tr><th>sample</th><th>length</th><th>average</th><th>note</th>"
         "<th>voiced</th><th>suspicious</th></tr></thead>\n<tbody>\n";
    for (const ReportRow& r : rows) {
        const bool bad = !r.error.empty() || !r.summary.suspicious.empty();
        h += std::string("<tr class=\"sample") + (bad ? " bad" : "") + "\"><td class=\"name\">" +
             xml_escape(r.name) + "</td>";
        if (!r.error.empty()) {
            h += "<td colspan=\"5\">" + xml_escape(r.error) + "</td></tr>\n";
            continue;
        }
        h += "<td class=\"num\">" + fmt("%.2f s", r.seconds) + "</td><td class=\"num\">" +
             fmt("%.1f Hz", r.summary.freq_avg) + "</td><td>" +
             xml_escape(note_name(r.summary.freq_avg)) + "</td><td class=\"num\">" +
             fmt("%.1f %%", 100.0 * voiced_share(r.summary)) + "</td><td class=\"num\">" +
             std::to_string(r.summary.suspicious.size()) + "</td></tr>\n";
        h += "<tr class=\"plot\"><td class=\"picture\" colspan=\"6\">" + r.svg + "</td></tr>\n";
    }
    h += "</tbody>\n</table>\n</body>\n</html>\n";
    return h;
}

}  // namespace velorin
