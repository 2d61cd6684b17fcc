// frq/freq_list.cpp: the frequency list record, its file and its path rule.
#include "frq/freq_list.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "audio/bytes.h"
#include "audio/grow_buffer.h"
#include "audio/output_file.h"
#include "platform/console.h"
#include "platform/mem.h"
#include "platform/platform.h"

namespace velorin {

namespace {

constexpr size_t list_path_buffer = 512;  // wide characters, terminator included
constexpr int header_size = 40;
constexpr int record_size = 16;

// The header and frame table of a list file held in memory; null when they
// do not make a usable list, with the reason in *why.
FreqList* decode_list(const uint8_t* bytes, int64_t size, ListRefusal* why) {
    why->bytes = size;
    const auto refuse = [why](ListFault f) {
        why->fault = f;
        return nullptr;
    };
    if (size < header_size) return refuse(ListFault::too_short);
    // The eighth byte is a version digit; every version shares this layout.
    if (std::memcmp(bytes, "FREQ000", 7) != 0) return refuse(ListFault::bad_magic);
    const int32_t step = static_cast<int32_t>(le_u32(bytes + 8));
    const double freq_avg = le_f64(bytes + 12);
    const int32_t sample_rate = static_cast<int32_t>(le_u32(bytes + 20));
    const int32_t count = static_cast<int32_t>(le_u32(bytes + 36));
    why->step = step;
    why->count = count;
    why->rate = sample_rate;
    if (step <= 0) return refuse(ListFault::bad_step);
    if (count <= 0) return refuse(ListFault::bad_count);
    if (size < header_size + int64_t(record_size) * count) return refuse(ListFault::cut_short);

    FreqList* list = alloc_freq_list(count);
    if (!list) return refuse(ListFault::no_memory);
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

}  // namespace

std::vector<uint8_t> freq_list_bytes(const FreqList& list) {
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

std::wstring sample_of_list(const std::wstring& list_path) {
    bool is_list = false;
    if (!freq_list_path(list_path.c_str(), nullptr, &is_list) || !is_list) return list_path;
    std::wstring base = list_path.substr(0, list_path.size() - 4);  // less ".frq"
    // Appending ".frq" turned the first ".wav" followed by ".frq" into "_wav".
    const std::wstring wav = L"_wav";
    if (base.size() > wav.size() && base.compare(base.size() - wav.size(), wav.size(), wav) == 0) {
        const std::wstring candidate = base.substr(0, base.size() - wav.size()) + L".wav";
        FileStatus st;
        if (file_status(candidate.c_str(), &st) && !st.folder) return candidate;
    }
    return base;
}

std::string list_refusal_text(const ListRefusal& why) {
    const std::string step = std::to_string(why.step), count = std::to_string(why.count);
    switch (why.fault) {
        case ListFault::none:
            return "the list is usable";
        case ListFault::path_too_long:
            return "the path is too long for a list path";
        case ListFault::missing:
            return "it has no frequency list";
        case ListFault::stale:
            return "the list is read-only and older than its sample";
        case ListFault::unreadable:
            return "the list cannot be opened";
        case ListFault::too_short:
            return "the list is too short for its 40-byte header (" + std::to_string(why.bytes) +
                   " bytes)";
        case ListFault::bad_magic:
            return "the list does not start with \"FREQ000\"";
        case ListFault::bad_step:
            return "the list's step is " + step + ", not above 0";
        case ListFault::bad_count:
            return "the list's frame count is " + count + ", not above 0";
        case ListFault::cut_short:
            return "the list is cut short: its header promises " + count +
                   " frames, the file holds " + std::to_string((why.bytes - header_size) / 16);
        case ListFault::implausible_step:
            return "the list's step is " + step + " samples; no analysis takes more than " +
                   std::to_string(plausible_step_max);
        case ListFault::implausible_rate:
            return "the list's sample rate is " + std::to_string(why.rate) + " Hz, not " +
                   std::to_string(plausible_rate_min) + " to " +
                   std::to_string(plausible_rate_max) + " Hz";
        case ListFault::implausible_length: {
            char hours[64];
            std::snprintf(hours, sizeof hours, "%.0f",
                          double(why.count) * why.step / why.rate / 3600.0);
            return "the list claims " + std::string(hours) + " hours of sound (" + count +
                   " frames of " + step + " samples at " + std::to_string(why.rate) +
                   " Hz), more than a day";
        }
        default:
            return "there is not enough memory for the list";
    }
}

bool freq_list_plausible(const FreqList& list, ListRefusal* why) {
    ListRefusal ignored;
    if (!why) why = &ignored;
    why->step = list.step;
    why->count = list.count;
    why->rate = list.sample_rate;
    why->fault = ListFault::none;
    if (list.step < 1) {
        why->fault = ListFault::bad_step;
    } else if (list.count < 1) {
        why->fault = ListFault::bad_count;
    } else if (list.step > plausible_step_max) {
        why->fault = ListFault::implausible_step;
    } else if (list.sample_rate < plausible_rate_min || list.sample_rate > plausible_rate_max) {
        why->fault = ListFault::implausible_rate;
    } else if (double(list.count) * list.step > plausible_seconds_max * list.sample_rate) {
        why->fault = ListFault::implausible_length;
    }
    return why->fault == ListFault::none;
}

FreqList* read_freq_list(const wchar_t* path, ListRefusal* why) {
    ListRefusal ignored;
    if (!why) why = &ignored;
    *why = ListRefusal{};
    std::wstring list_path;
    bool is_list = false;
    if (!freq_list_path(path, &list_path, &is_list)) {
        why->fault = ListFault::path_too_long;
        return nullptr;
    }

    if (!is_list) {
        FileStatus list_st, sample_st;
        if (!file_status(list_path.c_str(), &list_st) || !list_st.exists) {
            say_wide(stdout, L"FRQ-Datei hat nicht gefunden.\n");
            why->fault = ListFault::missing;
            return nullptr;
        }
        // A read-only list older than its sample is stale but protected:
        // regenerate it in memory rather than trust it.
        if (file_status(path, &sample_st) && sample_st.mtime > list_st.mtime &&
            !list_st.owner_write) {
            why->fault = ListFault::stale;
            return nullptr;
        }
    }

    FILE* f = file_open(list_path.c_str(), L"rb");
    if (!f) {
        FileStatus st;
        why->fault = file_status(list_path.c_str(), &st) && st.exists ? ListFault::unreadable
                                                                      : ListFault::missing;
        return nullptr;
    }
    ByteSource src = stream_source(f);
    FreqList* list = freq_list_from(src, why);
    std::fclose(f);
    return list;
}

FreqList* freq_list_from(ByteSource& src, ListRefusal* why) {
    ListRefusal ignored;
    if (!why) why = &ignored;
    *why = ListRefusal{};
    GrowBuffer bytes;
    FreqList* list = nullptr;
    if (!grow_read(bytes, src, header_size, header_size)) {
        why->fault = ListFault::no_memory;
    } else if (bytes.size < header_size) {
        why->fault = ListFault::too_short;
        why->bytes = bytes.size;
    } else {
        // Read the frame table by pieces, so a corrupt count costs no more
        // memory than the file really holds.
        const int64_t count = static_cast<int32_t>(le_u32(bytes.data + 36));
        const int64_t want = count > 0 ? header_size + record_size * count : header_size;
        if (grow_read(bytes, src, want, 65536))
            list = decode_list(bytes.data, bytes.size, why);
        else
            why->fault = ListFault::no_memory;
    }
    grow_free(bytes);
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

    const std::vector<uint8_t> bytes = freq_list_bytes(*list);
    OutputFile file;
    if (!output_open(list_path.c_str(), &file)) return 0;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file.stream) == bytes.size();
    return output_close(&file, ok) ? 1 : 0;
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
