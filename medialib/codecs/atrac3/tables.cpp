#include "medialib/codecs/atrac3/tables.h"

#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

namespace medialib::atrac3 {
namespace {

// The 24 distinct taps of the symmetric QMF prototype (halved).
constexpr std::array<double, 24> kQmfHalf = {
    -0.00001461907,  -0.00009205479, -0.000056157569, 0.00030117269, 0.0002422519,   -0.00085293897,
    -0.0005205574,   0.0020340169,   0.00078333891,   -0.0042153862, -0.00075614988, 0.0078402944,
    -0.000061169922, -0.01344162,    0.0024626821,    0.021736089,   -0.007801671,   -0.034090221,
    0.01880949,      0.054326009,    -0.043596379,    -0.099384367,  0.13207909,     0.46424159};

// Canonical prefix codes: codes are handed out in increasing order, shorter
// lengths first, in the listed order within one length.
template <typename Assign>
void BuildCanonical(const std::vector<std::pair<int, int>>& value_length, Assign assign) {
    uint32_t code = 0;
    int length = value_length.front().second;
    for (const auto& [value, len] : value_length) {
        code <<= (len - length);
        length = len;
        assign(value, Code{static_cast<uint16_t>(code), static_cast<uint8_t>(len)});
        ++code;
    }
}

// (value, length) lists in canonical order; every magnitude v appears as +v then -v.
std::vector<std::pair<int, int>> SignedList(const std::vector<std::pair<int, int>>& magnitudes) {
    std::vector<std::pair<int, int>> out;
    for (const auto& [v, len] : magnitudes) {
        out.emplace_back(v, len);
        if (v != 0) out.emplace_back(-v, len);
    }
    return out;
}

std::vector<std::pair<int, int>> RangeList(std::vector<std::pair<int, int>> head, int from, int to, int len) {
    for (int v = from; v <= to; ++v) head.emplace_back(v, len);
    return head;
}

Tables Build() {
    Tables t;
    for (int i = 0; i < 64; ++i) t.scale_factor[i] = static_cast<float>(std::exp2((i - 15) / 3.0));
    for (int n = 0; n < 256; ++n) {
        const double a = (1.0 + std::sin(std::numbers::pi * ((n + 0.5) / 256.0 - 0.5))) / 2.0;
        t.analysis_window[n] = static_cast<float>(a);
        t.analysis_window[511 - n] = static_cast<float>(a);
    }
    for (int k = 0; k < 24; ++k) {
        t.qmf[k] = static_cast<float>(2.0 * kQmfHalf[k]);
        t.qmf[47 - k] = t.qmf[k];
    }

    const std::vector<std::pair<int, int>> lists[kSelectors] = {
        {},
        {},
        SignedList({{0, 1}, {1, 3}, {2, 3}}),
        SignedList({{0, 1}, {1, 3}, {2, 4}, {3, 4}}),
        SignedList({{0, 1}, {1, 3}, {2, 4}, {3, 5}, {4, 5}}),
        SignedList({{0, 2}, {1, 3}, {2, 4}, {3, 4}, {7, 4}, {4, 5}, {5, 6}, {6, 6}}),
        SignedList(RangeList(
            RangeList(RangeList({{0, 3}, {1, 4}, {2, 4}, {3, 4}, {15, 4}}, 4, 6, 5), 7, 10, 6), 11, 14, 7)),
        SignedList(RangeList(RangeList(RangeList(RangeList({{0, 3}, {31, 4}}, 1, 5, 5), 6, 13, 6), 14, 20, 7),
                             21, 30, 8)),
    };
    for (int sel = 2; sel < kSelectors; ++sel) {
        BuildCanonical(lists[sel], [&](int value, Code c) { t.vlc[sel][value + 31] = c; });
    }
    // Pairs (first, second) in canonical order.
    const std::pair<int, int> pairs[9] = {{0, 0}, {0, 1},  {0, -1}, {1, 0},  {-1, 0},
                                          {1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
    const int pair_lengths[9] = {1, 3, 3, 4, 4, 5, 5, 5, 5};
    std::vector<std::pair<int, int>> pair_list;
    for (int i = 0; i < 9; ++i) pair_list.emplace_back(i, pair_lengths[i]);
    BuildCanonical(pair_list, [&](int index, Code c) {
        t.vlc_pair[(pairs[index].first + 1) * 3 + (pairs[index].second + 1)] = c;
    });
    return t;
}

}  // namespace

const Tables& GetTables() {
    static const Tables tables = Build();
    return tables;
}

}  // namespace medialib::atrac3
