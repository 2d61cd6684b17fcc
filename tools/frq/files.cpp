// tools/frq/files.cpp: the samples and lists velorin-frq works on, and how it
// writes and says things. Loading, analysis, the list path rule and the list
// file itself are velorin's own (frq/, audio/); this only walks and chooses.
#include "tools/frq/files.h"

#include <cstdarg>
#include <cstdio>
#include <set>

#include "audio/analysis_loader.h"
#include "audio/decoder_pipe.h"
#include "audio/output_file.h"
#include "frq/sample_analysis.h"
#include "platform/console.h"
#include "platform/platform.h"

namespace velorin {

std::string utf8(const std::wstring& w) { return narrow_text(w.c_str()); }

std::string text_printf(const char* format, ...) {
    char small[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) return std::string();
    if (size_t(n) < sizeof small) return std::string(small, size_t(n));
    std::string out(size_t(n) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(&out[0], out.size(), format, args);
    va_end(args);
    out.resize(size_t(n));
    return out;
}

void tell_text(FILE* stream, const std::wstring& text) { tell_wide(stream, text.c_str()); }

double seconds_since(int64_t start) {
    return double(perf_counter() - start) / double(perf_frequency());
}

// A sample is what velorin's analysis loader reads.
bool is_sample(const std::wstring& path) { return analysis_reads(path.c_str()); }

std::wstring join_path(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty()) return name;
    const wchar_t last = folder.back();
    if (last == L'/' || last == path_separator()) return folder + name;
    return folder + path_separator() + name;
}

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
    FileStatus ls;
    if (file_status(list.c_str(), &ls) && ls.exists) return read_list_file(list, why);
    if (is_list_path(path)) {
        *why = "the list cannot be read";
        return nullptr;
    }
    FreqListPtr l(obtain_freq_list(path.c_str()));
    ListRefusal refusal;
    if (!l)
        *why = analysis_fault(path);
    else if (!freq_list_plausible(*l, &refusal))
        *why = list_refusal_text(refusal);
    else
        return l.release();
    return nullptr;
}

FreqList* read_list_file(const std::wstring& list_path, std::string* why) {
    ListRefusal refusal;
    FreqListPtr l(read_freq_list(list_path.c_str(), &refusal));
    if (l && freq_list_plausible(*l, &refusal)) return l.release();
    FileStatus st;
    *why = l || (file_status(list_path.c_str(), &st) && st.exists) ? list_refusal_text(refusal)
                                                                   : "it has no frequency list";
    return nullptr;
}

bool write_text_file(const std::wstring& path, const std::string& text) {
    OutputFile file;
    if (!output_open(path.c_str(), &file)) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), file.stream) == text.size();
    return output_close(&file, ok);
}

std::wstring file_name(const std::wstring& path) {
    const size_t at = path.find_last_of(L"/\\");
    return at == std::wstring::npos ? path : path.substr(at + 1);
}

}  // namespace velorin
