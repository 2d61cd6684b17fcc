// tools/frq/main.cpp: velorin-frq, the frequency lists of a whole voicebank:
// analyse them, look at them, repair octave jumps, draw them and gather them in
// a report. This file is its command line; the commands are in commands.h.
#include <clocale>
#include <string>
#include <vector>

#include "CLI/CLI.hpp"
#include "platform/console.h"
#include "platform/platform.h"
#include "simd/simd.h"
#include "tools/frq/commands.h"

namespace {

using namespace velorin;

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
    if (*simd_width_complaint()) tell(stderr, (std::string(simd_width_complaint()) + "\n").c_str());

    CLI::App app{description, "velorin-frq"};
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "all subcommands' options");

    int jobs = 0, threads = 0;
    bool force = false, csv = false, dry_run = false;
    std::vector<std::string> paths, files;
    std::string file, out;

    CLI::App* analyse = app.add_subcommand(
        "analyse", "write the list of every sample under the paths, beside it, as velorin would");
    analyse
        ->add_option("-j,--jobs", jobs, "samples analysed at once (default: the processor count)")
        ->check(CLI::Range(1, 256));
    analyse
        ->add_option("-t,--threads", threads,
                     "threads of each analysis (default: the processor count; the lists are the "
                     "same)")
        ->check(CLI::Range(1, 32));
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
    if (analyse->parsed()) return analyse_command(wide_all(paths), jobs, force, threads);
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
