// GUIDs: the 16-byte identifiers of classes and interfaces.
#pragma once

#include <compare>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/wintypes.h"

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];

    friend bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
    friend auto operator<=>(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) <=> 0; }
};
static_assert(sizeof(GUID) == 16, "GUID is 16 bytes on every ABI");

using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using REFGUID = const GUID&;

inline constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

namespace platform {

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional, hex digits
// in either case). Returns nothing for any other text.
std::optional<GUID> ParseGuid(std::string_view text);
std::optional<GUID> ParseGuid(std::u16string_view text);

// Formats as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with upper-case digits.
std::string FormatGuid(const GUID& guid);
std::u16string FormatGuidW(const GUID& guid);

// Compile-time GUID from its registry text, for interface and class constants:
//   inline constexpr GUID IID_Foo = platform::MakeGuid("{...}");
consteval GUID MakeGuid(const char (&s)[39]) {
    auto hex = [](char c) -> uint32_t {
        if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0');
        if (c >= 'a' && c <= 'f') return static_cast<uint32_t>(c - 'a' + 10);
        if (c >= 'A' && c <= 'F') return static_cast<uint32_t>(c - 'A' + 10);
        throw "not a hex digit";
    };
    auto field = [&](int pos, int digits) {
        uint32_t v = 0;
        for (int i = 0; i < digits; ++i) v = (v << 4) | hex(s[pos + i]);
        return v;
    };
    if (s[0] != '{' || s[9] != '-' || s[14] != '-' || s[19] != '-' || s[24] != '-' || s[37] != '}')
        throw "malformed GUID text";
    GUID g{};
    g.Data1 = field(1, 8);
    g.Data2 = static_cast<uint16_t>(field(10, 4));
    g.Data3 = static_cast<uint16_t>(field(15, 4));
    g.Data4[0] = static_cast<uint8_t>(field(20, 2));
    g.Data4[1] = static_cast<uint8_t>(field(22, 2));
    for (int i = 0; i < 6; ++i) g.Data4[2 + i] = static_cast<uint8_t>(field(25 + 2 * i, 2));
    return g;
}

}  // namespace platform

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }
