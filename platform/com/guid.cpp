#include "platform/com/guid.h"

#include <cstdio>

namespace platform {
namespace {

template <typename Char>
std::optional<GUID> ParseGuidImpl(std::basic_string_view<Char> text) {
    if (text.size() == 38) {
        if (text.front() != Char('{') || text.back() != Char('}')) return std::nullopt;
        text = text.substr(1, 36);
    }
    if (text.size() != 36) return std::nullopt;
    static constexpr int kDashes[] = {8, 13, 18, 23};
    uint8_t nibbles[32];
    int n = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<char32_t>(text[i]);
        bool dash_here = false;
        for (int d : kDashes) dash_here |= (static_cast<int>(i) == d);
        if (dash_here) {
            if (c != U'-') return std::nullopt;
            continue;
        }
        int v;
        if (c >= U'0' && c <= U'9')
            v = static_cast<int>(c - U'0');
        else if (c >= U'a' && c <= U'f')
            v = static_cast<int>(c - U'a' + 10);
        else if (c >= U'A' && c <= U'F')
            v = static_cast<int>(c - U'A' + 10);
        else
            return std::nullopt;
        nibbles[n++] = static_cast<uint8_t>(v);
    }
    auto take = [&](int pos, int count) {
        uint32_t v = 0;
        for (int i = 0; i < count; ++i) v = (v << 4) | nibbles[pos + i];
        return v;
    };
    GUID g{};
    g.Data1 = take(0, 8);
    g.Data2 = static_cast<uint16_t>(take(8, 4));
    g.Data3 = static_cast<uint16_t>(take(12, 4));
    for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<uint8_t>(take(16 + 2 * i, 2));
    return g;
}

}  // namespace

std::optional<GUID> ParseGuid(std::string_view text) { return ParseGuidImpl(text); }
std::optional<GUID> ParseGuid(std::u16string_view text) { return ParseGuidImpl(text); }

std::string FormatGuid(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                  g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7]);
    return buf;
}

std::u16string FormatGuidW(const GUID& g) {
    std::string s = FormatGuid(g);
    return std::u16string(s.begin(), s.end());
}

}  // namespace platform
