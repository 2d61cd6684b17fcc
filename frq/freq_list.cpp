// frq/freq_list.cpp: the frequency list record, its file and its path rule.
#include "frq/freq_list.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "audio/bytes.h"
#include "audio/grow_buffer.h"
#include "platform/console.h"
#include "platform/mem.h"
#include "platform/platform.h"

namespace velorin {

namespace {

constexpr size_t list_path_buffer = 512;  // wide characters, terminator included
constexpr int header_size = 40;
constexpr int record_size = 16;

// The header and frame table of a list file held in memory; null when they
// do not make a usable list.
FreqList* decode_list(const uint8_t* bytes, int64_t size) {
    if (size < header_size) return nullptr;
    // The eighth byte is a version digit; every version shares this layout.
    if (std::memcmp(bytes, "FREQ000", 7) != 0) return nullptr;
    const int32_t step = static_cast<int32_t>(le_u32(bytes + 8));
    const double freq_avg = le_f64(bytes + 12);
    const int32_t sample_rate = static_cast<int32_t>(le_u32(bytes + 20));
    const int32_t count = static_cast<int32_t>(le_u32(bytes + 36));
    if (step <= 0 || count <= 0) return nullptr;
    if (size < header_size + int64_t(record_size) * count) return nullptr;

    FreqList* list = alloc_freq_list(count);
    if (!list) return nullptr;
    const uint8_t* rec = bytes + header_size;
    for (int32_t k = 0; k < count; ++k, rec += record_size) {
        list->freq[k] = le_f64(rec);
        list->amp[k] = le_f64(rec + 8);
    }
    // Entry count repeats entry count - 1, so a reader interpolating between
    // frames k and k + 1 may take k + 1 == count without a bounds test.
    list->freq[count] = list->freq[count - 1];
    list->amp[count] = list->amp[count - 1];
    list->step = step;
    list->sample_rate = sample_rate;
    list->freq_avg = freq_avg;
    return list;
}

// A name beside the list that no other writer uses at the same time: the
// process id tells processes apart, the counter the writes of one process.
std::wstring temporary_name(const std::wstring& list_path) {
    static std::atomic<unsigned> counter{0};
    const unsigned n = counter.fetch_add(1);
    return list_path + L"." + std::to_wstring(process_id()) + L"." + std::to_wstring(n) + L".tmp";
}

std::vector<uint8_t> encode_list(const FreqList& list) {
    std::vector<uint8_t> b(header_size + size_t(record_size) * size_t(list.count), 0);
    std::memcpy(b.data(), "FREQ0003", 8);
    put_le_u32(&b[8], static_cast<uint32_t>(list.step));
    put_le_f64(&b[12], list.freq_avg);
    put_le_u32(&b[20], static_cast<uint32_t>(list.sample_rate));
    // Offsets 24..35 are reserved and stay zero.
    put_le_u32(&b[36], static_cast<uint32_t>(list.count));
    for (int32_t k = 0; k < list.count; ++k) {
        put_le_f64(&b[header_size + size_t(k) * record_size], list.freq[k]);
        put_le_f64(&b[header_size + size_t(k) * record_size + 8], list.amp[k]);
    }
    return b;  // the guard entry is not stored
}

}  // namespace

FreqList* alloc_freq_list(int32_t count) {
    if (count < 1) return nullptr;
    FreqList* list = new (std::nothrow) FreqList;
    if (!list) return nullptr;
    list->freq = alloc_zeroed<double>(int64_t(count) + 1);
    list->amp = alloc_zeroed<double>(int64_t(count) + 1);
    if (!list->freq || !list->amp) {
        free_freq_list(list);
        return nullptr;
    }
    list->count = count;
    return list;
}

bool freq_list_path(const wchar_t* path, std::wstring* list_path, bool* is_list_path) {
    if (!path) return false;
    std::wstring text = std::wstring(path) + L".frq";
    // Only a name that ends in ".frq" is a list already. A ".frq.frq" further
    // up (in a folder's name, say) would otherwise make the writer put the
    // list over the sample itself.
    const std::wstring twice = L".frq.frq";
    const bool is_list = text.size() >= twice.size() &&
                         text.compare(text.size() - twice.size(), twice.size(), twice) == 0;
    if (is_list) {
        text = path;
    } else {
        const size_t at = text.find(L".wav.frq");
        if (at != std::wstring::npos) text[at] = L'_';
    }
    if (text.size() >= list_path_buffer) return false;
    if (list_path) *list_path = text;
    if (is_list_path) *is_list_path = is_list;
    return true;
}

FreqList* read_freq_list(const wchar_t* path) {
    std::wstring list_path;
    bool is_list = false;
    if (!freq_list_path(path, &list_path, &is_list)) return nullptr;

    if (!is_list) {
        FileStatus list_st, sample_st;
        if (!file_status(list_path.c_str(), &list_st) || !list_st.exists) {
            say_wide(stdout, L"FRQ-Datei hat nicht gefunden.\n");
            return nullptr;
        }
        // A read-only list older than its sample is stale but protected:
        // regenerate it in memory rather than trust it.
        if (file_status(path, &sample_st) && sample_st.mtime > list_st.mtime &&
            !list_st.owner_write)
            return nullptr;
    }

    FILE* f = file_open(list_path.c_str(), L"rb");
    if (!f) return nullptr;
    GrowBuffer bytes;
    FreqList* list = nullptr;
    if (grow_read(bytes, f, header_size, header_size) && bytes.size == header_size) {
        // Read the frame table by pieces, so a corrupt count costs no more
        // memory than the file really holds.
        const int64_t count = static_cast<int32_t>(le_u32(bytes.data + 36));
        const int64_t want = count > 0 ? header_size + record_size * count : header_size;
        if (grow_read(bytes, f, want, 65536)) list = decode_list(bytes.data, bytes.size);
    }
    grow_free(bytes);
    std::fclose(f);
    return list;
}

int write_freq_list(const wchar_t* path, const FreqList* list) {
    if (!list) {
        say_wide(stdout, L"FreqList ist Null.\n");
        return 0;
    }
    if (list->count < 0 || (list->count > 0 && (!list->freq || !list->amp))) return 0;
    std::wstring list_path;
    if (!freq_list_path(path, &list_path, nullptr)) return 0;

    // A read-only list file is kept, as if it could not be opened for writing.
    FileStatus st;
    if (file_status(list_path.c_str(), &st) && st.exists && !st.owner_write) return 0;

    const std::vector<uint8_t> bytes = encode_list(*list);
    const std::wstring tmp = temporary_name(list_path);
    // Known to the interruption handler, so that a process ended while the list is
    // written leaves no temporary file behind.
    const int slot = temp_file_register(tmp.c_str());
    FILE* f = file_open(tmp.c_str(), L"wb");
    if (!f) {
        temp_file_forget(slot);
        return 0;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0) ok = false;
    if (ok) ok = file_rename(tmp.c_str(), list_path.c_str());
    if (!ok) file_remove(tmp.c_str());
    temp_file_forget(slot);
    return ok ? 1 : 0;
}

void free_freq_list(FreqList* list) {
    if (!list) return;
    if (list->freq) release(list->freq);
    if (list->amp) release(list->amp);
    if (list->extra_a) release(list->extra_a);
    if (list->extra_b) release(list->extra_b);
    delete list;
}

}  // namespace velorin
