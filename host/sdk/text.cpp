#include "host/sdk/text.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <cstring>

namespace {

// Folded code point at `i`, advancing `i`; an invalid sequence yields the
// negated byte value so that it never equals a real character.
int32_t NextFolded(std::string_view s, int32_t& i) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(s.data());
    const int32_t length = static_cast<int32_t>(s.size());
    const int32_t start = i;
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) return -static_cast<int32_t>(bytes[start]) - 1;
    return static_cast<int32_t>(u_foldCase(c, U_FOLD_CASE_DEFAULT));
}

}  // namespace

int stricmp_utf8(std::string_view a, std::string_view b) {
    int32_t i = 0;
    int32_t j = 0;
    const auto na = static_cast<int32_t>(a.size());
    const auto nb = static_cast<int32_t>(b.size());
    while (i < na && j < nb) {
        const int32_t ca = NextFolded(a, i);
        const int32_t cb = NextFolded(b, j);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (i < na) return 1;
    if (j < nb) return -1;
    return 0;
}

int stricmp_utf8(const char* a, const char* b) {
    if (!a || !b) return (a ? 1 : 0) - (b ? 1 : 0);
    return stricmp_utf8(std::string_view(a), std::string_view(b));
}

namespace fb2k {
bool starts_with_nocase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t k = 0; k < prefix.size(); ++k) {
        char x = text[k];
        char y = prefix[k];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}
}  // namespace fb2k
