// pitch/codec_hff.cpp: the Huffman residual codec ("hff").
#include <algorithm>
#include <functional>
#include <queue>
#include <utility>
#include <vector>

#include "pitch/codecs.h"
#include "pitch/curve.h"
#include "pitch/digits.h"
#include "platform/console.h"
#include "platform/mem.h"

namespace velorin {

namespace {

constexpr int max_code_length = 31;

using Bits = std::vector<uint8_t>;  // one bit per element, first bit first

// --- Writing -----------------------------------------------------------------

void put_bits(Bits& bits, uint64_t value, int count) {
    for (int b = count - 1; b >= 0; --b) bits.push_back(static_cast<uint8_t>((value >> b) & 1));
}

// Exp-Golomb of order k: t = u + 2^k in 2L - k - 1 bits, L the length of t.
void put_exp_golomb(Bits& bits, uint64_t u, int k) {
    const uint64_t t = u + (uint64_t(1) << k);
    int length = 0;
    while ((t >> length) != 0) ++length;
    put_bits(bits, 0, length - k - 1);
    put_bits(bits, t, length);
}

uint64_t zigzag(int s) { return s >= 0 ? 2 * uint64_t(s) : 2 * uint64_t(-int64_t(s)) - 1; }

// Six bits per digit; then either one more digit holding filler + 3, or,
// with three or more filler bits, their count - 3 in the last digit's low bits.
std::wstring pack_digits(Bits bits) {
    if (bits.empty()) return L"D";
    const size_t filler = (6 - bits.size() % 6) % 6;
    bits.insert(bits.end(), filler, 0);
    std::wstring out;
    for (size_t i = 0; i < bits.size(); i += 6) {
        int d = 0;
        for (size_t b = 0; b < 6; ++b) d = d * 2 + bits[i + b];
        out += digit_char(d);
    }
    if (filler <= 2) {
        out += digit_char(static_cast<int>(filler) + 3);
    } else {
        out.back() = digit_char(strict_digit(out.back()) + static_cast<int>(filler) - 3);
    }
    return out;
}

// A node of the code tree: leaves first, inner nodes appended after them.
struct HuffNode {
    int count;
    int parent = -1;
};

// Selection sort as the format fixes it: position by position, the first of
// the remaining entries with the best key is swapped in. It is not stable,
// and the order it leaves decides the codes, so no other sort will do.
template <typename Better>
void selection_sort(std::vector<std::pair<int, int>>& items, Better better) {
    for (size_t i = 0; i + 1 < items.size(); ++i) {
        size_t best = i;
        for (size_t j = i + 1; j < items.size(); ++j)
            if (better(items[j].second, items[best].second)) best = j;
        std::swap(items[i], items[best]);
    }
}

// Code lengths (tree depths) of leaves with the given counts. Each step joins
// the two parentless nodes of smallest count; of equal counts the one nearest
// the end of the node array goes first, which a heap keyed on (count, -index)
// reproduces exactly.
std::vector<int> code_depths(const std::vector<std::pair<int, int>>& leaves) {
    std::vector<HuffNode> nodes;
    for (const auto& leaf : leaves) nodes.push_back(HuffNode{leaf.second});
    using Key = std::pair<int, int>;  // (count, -index): the smallest key is taken first
    std::priority_queue<Key, std::vector<Key>, std::greater<Key>> free_nodes;
    for (size_t i = 0; i < nodes.size(); ++i) free_nodes.push({nodes[i].count, -int(i)});
    while (free_nodes.size() >= 2) {
        const int first = -free_nodes.top().second;
        free_nodes.pop();
        const int second = -free_nodes.top().second;
        free_nodes.pop();
        const int joined = static_cast<int>(nodes.size());
        nodes.push_back(HuffNode{nodes[first].count + nodes[second].count});
        nodes[first].parent = joined;
        nodes[second].parent = joined;
        free_nodes.push({nodes[joined].count, -joined});
    }
    std::vector<int> depth(nodes.size(), 0);
    for (size_t i = nodes.size(); i-- > 0;)  // a parent always follows its children
        if (nodes[i].parent >= 0) depth[i] = depth[nodes[i].parent] + 1;
    depth.resize(leaves.size());
    return depth;
}

// --- Reading -----------------------------------------------------------------

struct BitReader {
    const Bits& bits;
    size_t size;  // the bit string proper, without filler and trailer
    size_t pos;
};

// Reads an Exp-Golomb value of order k; false when the field runs past the
// end of the bit string. `u` keeps the low 64 bits of a longer value and
// `huge` tells that it did not fit.
bool read_exp_golomb(BitReader& br, int k, uint64_t* u, bool* huge) {
    size_t zeros = 0;
    while (br.pos + zeros < br.size && br.bits[br.pos + zeros] == 0) ++zeros;
    const size_t width = 2 * zeros + size_t(k) + 1;
    if (br.pos + zeros >= br.size || width > br.size - br.pos) return false;
    uint64_t t = 0;
    for (size_t b = 0; b < width; ++b) t = (t << 1) | br.bits[br.pos + b];
    br.pos += width;
    *huge = zeros + size_t(k) + 1 > 63;
    *u = t - (uint64_t(1) << k);
    return true;
}

struct HuffTable {
    std::vector<int16_t> symbols;
    std::vector<int> lengths;
    std::vector<uint32_t> codes;
};

bool read_table(BitReader& br, HuffTable* table) {
    uint64_t count = 0;
    bool huge = false;
    if (!read_exp_golomb(br, 4, &count, &huge) || huge || count == 0) return false;
    // Every entry takes at least five bits; a count that cannot fit is
    // refused before anything is allocated for it.
    if (count > (br.size - br.pos) / 5) return false;
    int length = 0;
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t u = 0;
        uint64_t step = 0;
        if (!read_exp_golomb(br, 3, &u, &huge)) return false;
        // Back from zigzag; only the low 16 bits of the symbol are kept.
        const uint64_t s = (u & 1) ? ~(u >> 1) : (u >> 1);
        if (!read_exp_golomb(br, 0, &step, &huge)) return false;
        if (huge || step > uint64_t(max_code_length - length)) return false;
        length += static_cast<int>(step);
        table->symbols.push_back(static_cast<int16_t>(static_cast<uint16_t>(s)));
        table->lengths.push_back(length);
    }
    table->codes = hff_canonical_codes(table->lengths);
    return true;
}

// Text to bits, six per character; a non-digit gives six 1-bits. Returns the
// length of the bit string proper (0 when the trailer claims more than there is).
size_t unpack_digits(const std::wstring& text, Bits* bits) {
    bits->reserve(text.size() * 6);
    for (const wchar_t c : text) {
        const int d = strict_digit(c);
        const int v = d < 0 ? 63 : d;
        for (int b = 5; b >= 0; --b) bits->push_back(static_cast<uint8_t>((v >> b) & 1));
    }
    const size_t total = bits->size();
    if (total < 3) return 0;
    const size_t filler =
        size_t((*bits)[total - 3] * 4 + (*bits)[total - 2] * 2 + (*bits)[total - 1]);
    return total - 3 >= filler ? total - 3 - filler : 0;
}

}  // namespace

// The counter can outgrow a code (lengths 1, 1, 1 give 0, 1, 0); only the
// low bits count, so a malformed table simply gets clashing codes.
std::vector<uint32_t> hff_canonical_codes(const std::vector<int>& lengths) {
    std::vector<uint32_t> codes(lengths.size());
    uint64_t c = 0;
    for (size_t i = 0; i < lengths.size(); ++i) {
        if (i > 0 && lengths[i] > lengths[i - 1]) c <<= (lengths[i] - lengths[i - 1]);
        codes[i] = static_cast<uint32_t>(c & ((uint64_t(1) << lengths[i]) - 1));
        ++c;
    }
    return codes;
}

int16_t* hff_decode(const std::wstring& text, int order) {
    Bits bits;
    BitReader br{bits, unpack_digits(text, &bits), 0};
    HuffTable table;
    if (!read_table(br, &table)) return nullptr;
    // Entries come by nondecreasing length, so the first entry in table order
    // that matches is the first one of the shortest length that matches. The
    // lookup holds (length, code, entry) sorted, so that the first hit of a
    // (length, code) is also its first entry.
    std::vector<std::pair<uint64_t, uint32_t>> lookup;  // (length << 32 | code, entry)
    std::vector<int> lengths_present;
    lookup.reserve(table.codes.size());
    for (size_t i = 0; i < table.codes.size(); ++i) {
        const int length = table.lengths[i];
        lookup.push_back({uint64_t(length) << 32 | table.codes[i], static_cast<uint32_t>(i)});
        if (lengths_present.empty() || lengths_present.back() != length)
            lengths_present.push_back(length);
    }
    std::sort(lookup.begin(), lookup.end());
    std::vector<int32_t> r;
    // A zero-length code matches without using a bit; only the curve limit
    // ends such a text.
    while (br.pos < br.size && r.size() < size_t(max_curve_points)) {
        bool matched = false;
        for (const int length : lengths_present) {
            if (size_t(length) > br.size - br.pos) break;
            uint32_t code = 0;
            for (int b = 0; b < length; ++b) code = (code << 1) | bits[br.pos + b];
            const uint64_t key = uint64_t(length) << 32 | code;
            const auto hit =
                std::lower_bound(lookup.begin(), lookup.end(), std::make_pair(key, 0u));
            if (hit == lookup.end() || hit->first != key) continue;
            r.push_back(table.symbols[hit->second]);
            br.pos += size_t(length);
            matched = true;
            break;
        }
        if (!matched) {
            say(stdout, "[Huffman-Code ist kaputt!]");
            break;
        }
    }
    return new_pitch_curve(rebuild_points(r, order));
}

std::wstring hff_encode(const int16_t* curve, int order) {
    std::vector<int> residuals;
    for (const int32_t full : delta_residuals(curve, order))
        residuals.push_back(static_cast<int16_t>(static_cast<uint16_t>(full)));
    if (residuals.empty()) return std::wstring();
    int lo = residuals[0];
    int hi = residuals[0];
    for (const int v : residuals) {
        if (v < lo) lo = v;
        if (v > hi) hi = v;
    }
    const int range = hi - lo + 1;
    int32_t* counts = alloc_zeroed<int32_t>(range);
    if (!counts) {
        say(stdout, "Alloc err.\n");
        return std::wstring();
    }
    for (const int v : residuals) ++counts[v - lo];
    std::vector<std::pair<int, int>> leaves;  // (value, count) in ascending value order
    for (int i = 0; i < range; ++i)
        if (counts[i] > 0) leaves.push_back({lo + i, counts[i]});
    release(counts);
    // All residuals equal: one entry with an empty code and no data bits,
    // which reads back as no points at all.
    if (leaves.size() < 2) return std::wstring();

    selection_sort(leaves, [](int a, int b) { return a > b; });  // by count, largest first
    const std::vector<int> depths = code_depths(leaves);
    std::vector<std::pair<int, int>> entries;  // (value, code length)
    for (size_t i = 0; i < leaves.size(); ++i) entries.push_back({leaves[i].first, depths[i]});
    selection_sort(entries, [](int a, int b) { return a < b; });  // by length, shortest first

    std::vector<int> lengths;
    for (const auto& e : entries) {
        if (e.second > max_code_length) return std::wstring();  // needs over 2^31 points
        lengths.push_back(e.second);
    }
    const std::vector<uint32_t> codes = hff_canonical_codes(lengths);
    std::vector<size_t> entry_of(size_t(range), 0);  // value - lo -> entry
    for (size_t i = 0; i < entries.size(); ++i) entry_of[size_t(entries[i].first - lo)] = i;

    Bits bits;
    put_exp_golomb(bits, entries.size(), 4);
    int previous = 0;
    for (const auto& e : entries) {
        put_exp_golomb(bits, zigzag(e.first), 3);
        put_exp_golomb(bits, uint64_t(e.second - previous), 0);
        previous = e.second;
    }
    for (const int v : residuals) {
        const size_t i = entry_of[size_t(v - lo)];
        put_bits(bits, codes[i], lengths[i]);
    }
    return pack_digits(bits);
}

}  // namespace velorin
