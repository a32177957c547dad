// UTF-16 string functions: lengths, copies, comparisons and case mapping.

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <cstdint>

#include "platform/text/text.h"

namespace {

// Maps every code point with `map`, keeping the string's length in units: a
// mapping that would change the length (never the case for the simple
// mappings in use, but cheap to guard) leaves the character alone.
template <class Map>
void MapInPlace(char16_t* s, size_t length, Map map) {
    size_t i = 0;
    while (i < length) {
        size_t start = i;
        UChar32 c;
        U16_NEXT(s, i, length, c);
        UChar32 m = map(c);
        if (m == c || U16_LENGTH(m) != static_cast<int32_t>(i - start)) continue;
        size_t j = start;
        UBool error = false;
        U16_APPEND(s, j, length, m, error);
        (void)error;
    }
}

UChar32 Upper(UChar32 c) { return u_toupper(c); }
UChar32 Lower(UChar32 c) { return u_tolower(c); }
// ASCII folds to ASCII lower case and nothing else; answering it here keeps the
// comparisons of ASCII paths (most of them) out of the Unicode tables.
UChar32 Fold(UChar32 c) {
    if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
    return u_foldCase(c, U_FOLD_CASE_DEFAULT);
}

// Code point order (so surrogate pairs sort after U+E000-U+FFFF as code points).
template <class Map>
int CompareMapped(std::u16string_view a, std::u16string_view b, Map map) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        UChar32 ca, cb;
        U16_NEXT(a.data(), i, a.size(), ca);
        U16_NEXT(b.data(), j, b.size(), cb);
        ca = map(ca);
        cb = map(cb);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

UChar32 Same(UChar32 c) { return c; }

bool IsAtom(const void* p) { return (reinterpret_cast<uintptr_t>(p) >> 16) == 0; }

std::u16string_view View(LPCWSTR s) { return s ? std::u16string_view(s) : std::u16string_view(); }

}  // namespace

int lstrlenW(LPCWSTR lpString) {
    return lpString ? static_cast<int>(std::char_traits<char16_t>::length(lpString)) : 0;
}

int lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2) {
    if (!lpString1 || !lpString2) return lpString1 == lpString2 ? 0 : (lpString1 ? 1 : -1);
    return CompareMapped(View(lpString1), View(lpString2), Same);
}

int lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2) {
    if (!lpString1 || !lpString2) return lpString1 == lpString2 ? 0 : (lpString1 ? 1 : -1);
    return CompareMapped(View(lpString1), View(lpString2), Fold);
}

LPWSTR lstrcpyW(LPWSTR lpString1, LPCWSTR lpString2) {
    if (!lpString1) return nullptr;
    size_t n = lpString2 ? std::char_traits<char16_t>::length(lpString2) : 0;
    if (n) std::char_traits<char16_t>::move(lpString1, lpString2, n);
    lpString1[n] = 0;
    return lpString1;
}

LPWSTR lstrcpynW(LPWSTR lpString1, LPCWSTR lpString2, int iMaxLength) {
    if (!lpString1 || iMaxLength <= 0) return lpString1;
    int n = 0;
    if (lpString2)
        while (n < iMaxLength - 1 && lpString2[n]) ++n;
    if (n) std::char_traits<char16_t>::move(lpString1, lpString2, static_cast<size_t>(n));
    lpString1[n] = 0;
    return lpString1;
}

LPWSTR lstrcatW(LPWSTR lpString1, LPCWSTR lpString2) {
    if (!lpString1) return nullptr;
    lstrcpyW(lpString1 + lstrlenW(lpString1), lpString2);
    return lpString1;
}

LPWSTR CharUpperW(LPWSTR lpsz) {
    if (IsAtom(lpsz)) {
        auto c = static_cast<char16_t>(reinterpret_cast<uintptr_t>(lpsz));
        CharUpperBuffW(&c, 1);
        return reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(c));
    }
    MapInPlace(lpsz, std::char_traits<char16_t>::length(lpsz), Upper);
    return lpsz;
}

DWORD CharUpperBuffW(LPWSTR lpsz, DWORD cchLength) {
    if (!lpsz) return 0;
    MapInPlace(lpsz, cchLength, Upper);
    return cchLength;
}

DWORD CharLowerBuffW(LPWSTR lpsz, DWORD cchLength) {
    if (!lpsz) return 0;
    MapInPlace(lpsz, cchLength, Lower);
    return cchLength;
}

namespace platform {

std::u16string ToUpper(std::u16string_view text) {
    std::u16string s(text);
    MapInPlace(s.data(), s.size(), Upper);
    return s;
}

std::u16string ToLower(std::u16string_view text) {
    std::u16string s(text);
    MapInPlace(s.data(), s.size(), Lower);
    return s;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) { return CompareMapped(a, b, Fold) == 0; }

int CompareNoCase(std::u16string_view a, std::u16string_view b) { return CompareMapped(a, b, Fold); }

}  // namespace platform
