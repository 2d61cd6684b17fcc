// pitch/container.cpp: back-reference and zero-run packing.
#include "pitch/container.h"

#include <cstdint>
#include <vector>

#include "pitch/digits.h"

namespace velorin {

namespace {

constexpr int min_ref_length = 4;
constexpr int max_ref_length = 131;
constexpr int max_ref_distance = 128;

}  // namespace

std::wstring expandrefs(const std::wstring& text) {
    std::wstring out;
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        if (out.size() >= max_expanded_length) break;
        const wchar_t c = text[i];
        if (c != L'[' && c != L']' && c != L'{' && c != L'}') {
            out += c;
            continue;
        }
        const int d = i + 1 < n ? strict_digit(text[i + 1]) : -1;
        const int e = i + 2 < n ? strict_digit(text[i + 2]) : -1;
        if (d < 0 || e < 0) break;
        const size_t distance = size_t(d) + (c == L']' || c == L'}' ? 65 : 1);
        size_t length = size_t(e) + (c == L'{' || c == L'}' ? 68 : 4);
        if (distance > out.size()) break;  // reaches before the start: malformed
        if (length > max_expanded_length - out.size()) length = max_expanded_length - out.size();
        for (size_t k = 0; k < length; ++k) out += out[out.size() - distance];  // may overlap
        i += 2;
    }
    return out;
}

std::wstring packrefs(const std::wstring& text) {
    const size_t n = text.size();
    // best_len[p], best_dist[p]: the longest match at p over distances 1..128.
    // One backward pass per distance gives the match length at every position
    // at once (a match at p is one longer than the one at p + 1), so packing
    // costs 128 steps per character, however long the runs.
    std::vector<size_t> best_len(n, 0);
    std::vector<uint8_t> best_dist(n, 0);
    for (size_t d = 1; d <= size_t(max_ref_distance) && d < n; ++d) {
        size_t run = 0;  // match length at p + 1 for this distance
        for (size_t p = n; p-- > d;) {
            run = text[p] == text[p - d] ? run + 1 : 0;
            if (run > best_len[p]) {  // strictly longer: the nearer distance keeps a tie
                best_len[p] = run;
                best_dist[p] = static_cast<uint8_t>(d);
            }
        }
    }
    std::wstring out;
    for (size_t p = 0; p < n;) {
        if (best_len[p] < size_t(min_ref_length)) {
            out += text[p++];
            continue;
        }
        const int length =
            best_len[p] > size_t(max_ref_length) ? max_ref_length : static_cast<int>(best_len[p]);
        const int distance = best_dist[p];
        const bool far = distance > 64;
        const bool lng = length > 67;
        out += far ? (lng ? L'}' : L']') : (lng ? L'{' : L'[');
        out += digit_char(distance - (far ? 65 : 1));
        out += digit_char(length - (lng ? 68 : 4));
        p += static_cast<size_t>(length);
    }
    return out;
}

std::wstring expandzeros(const std::wstring& text) {
    std::wstring out;
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        if (out.size() >= max_expanded_length) break;
        const wchar_t c = text[i];
        size_t run = 0;
        if (c == L'$') {
            const int d = i + 1 < n ? strict_digit(text[i + 1]) : -1;
            if (d < 0) break;
            run = size_t(d) + 3;
            i += 1;
        } else if (c == L'#') {
            const int lo = i + 1 < n ? strict_digit(text[i + 1]) : -1;
            const int hi = i + 2 < n ? strict_digit(text[i + 2]) : -1;
            if (lo < 0 || hi < 0) break;
            run = size_t(lo) + 64 * size_t(hi) + 67;
            i += 2;
        } else {
            out += c;
            continue;
        }
        if (run > max_expanded_length - out.size()) run = max_expanded_length - out.size();
        out.append(run, L'A');
    }
    return out;
}

std::wstring packzeros(const std::wstring& text) {
    std::wstring out;
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        if (text[i] != L'A') {
            out += text[i++];
            continue;
        }
        size_t run = 0;
        while (i < n && text[i] == L'A') ++run, ++i;
        put_zero_run(out, run);
    }
    return out;
}

}  // namespace velorin
