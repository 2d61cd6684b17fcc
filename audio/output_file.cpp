// audio/output_file.cpp: files written whole or not at all.
#include "audio/output_file.h"

#include <atomic>
#include <cerrno>
#include <cwchar>

#include "platform/platform.h"

namespace velorin {

std::wstring temporary_name(const std::wstring& path) {
    static std::atomic<unsigned> counter{0};
    const unsigned n = counter.fetch_add(1);
    return path + L"." + std::to_wstring(process_id()) + L"." + std::to_wstring(n) + L".tmp";
}

bool output_open(const wchar_t* path, OutputFile* out) {
    *out = OutputFile{};
    if (!path || !*path) {
        errno = ENOENT;
        return false;
    }
    out->path = path;
    if (std::wcscmp(path, L"-") == 0) {
        stdout_binary();
        out->stream = stdout;
        out->to_stdout = true;
        return true;
    }
    FileStatus st;
    const bool exists = file_status(path, &st) && st.exists;
    // A read-only file is kept, as when it could be opened only in place.
    if (exists && st.regular && !st.owner_write) {
        errno = EACCES;
        return false;
    }
    const bool in_place = exists && !st.regular;
    if (!in_place) {
        out->temporary = temporary_name(out->path);
        out->slot = temp_file_register(out->temporary.c_str());
    }
    out->stream = file_open(in_place ? path : out->temporary.c_str(), L"wb");
    if (!out->stream) {
        const int saved = errno;
        temp_file_forget(out->slot);
        out->slot = -1;
        out->temporary.clear();
        errno = saved;
        return false;
    }
    return true;
}

bool output_close(OutputFile* out, bool ok) {
    if (!out->stream) return false;
    int saved = errno;
    if (out->to_stdout) {
        if (std::fflush(out->stream) != 0 || std::ferror(out->stream)) {
            if (ok) saved = errno;
            ok = false;
        }
    } else if (std::fclose(out->stream) != 0) {
        if (ok) saved = errno;
        ok = false;
    }
    out->stream = nullptr;
    if (!out->temporary.empty()) {
        if (ok && !file_rename(out->temporary.c_str(), out->path.c_str())) {
            saved = errno;
            ok = false;
        }
        if (!ok) file_remove(out->temporary.c_str());
        temp_file_forget(out->slot);
        out->slot = -1;
        out->temporary.clear();
    }
    errno = saved;
    return ok;
}

}  // namespace velorin
