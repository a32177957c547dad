// Text services: UTF-8/ANSI/UTF-16 conversion, case mapping, comparison and
// the small wsprintfW formatter.
//
// Conversions run through ICU converters. The ANSI code page is the codeset of
// the process locale (LC_CTYPE as the environment sets it: LC_ALL, LC_CTYPE,
// LANG), read once without changing the process's own locale; a plain C/POSIX
// locale therefore gives US-ASCII. A thread can pin another code page (tests
// do, to get the behaviour of a given Windows system); the pin applies to
// CP_ACP, CP_OEMCP and CP_THREAD_ACP on that thread. Converters are cached per
// thread, so every function here may be called from any thread.
//
// A character that the target code page lacks becomes the code page's default
// character ("?" unless the caller names another) and is reported through the
// used-default-character flag. Windows' "best fit" mapping (for instance a
// macron letter written as its plain letter) is not reproduced: every character
// without an exact mapping counts as missing, which is what callers that choose
// an encoding by that flag want.
//
// Case mapping is the simple one-to-one Unicode mapping per code point, so a
// string keeps its length in UTF-16 units, as Windows' CharUpper does.
// Comparisons order by code point after simple case folding (lstrcmpiW) or as
// they are (lstrcmpW); Windows orders linguistically, but equality, the only
// thing the callers test, agrees.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

#include "platform/wintypes.h"

using LPBOOL = BOOL*;

// Code page numbers.
inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_OEMCP = 1;
inline constexpr UINT CP_THREAD_ACP = 3;
inline constexpr UINT CP_UTF7 = 65000;
inline constexpr UINT CP_UTF8 = 65001;

// Conversion flags.
inline constexpr DWORD MB_PRECOMPOSED = 0x1;
inline constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;
inline constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;
inline constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x400;

// Converts cbMultiByte bytes (-1: up to and including the NUL) of the code
// page to UTF-16. With cchWideChar 0 nothing is written and the result is the
// number of units needed. Returns the units written (the NUL counts when it was
// part of the input), or 0 on failure with the last error
// ERROR_INVALID_PARAMETER (bad arguments, unknown code page),
// ERROR_INSUFFICIENT_BUFFER (the output is too small; its content is then
// unspecified) or ERROR_NO_UNICODE_TRANSLATION (invalid input with
// MB_ERR_INVALID_CHARS). Without that flag an invalid sequence becomes U+FFFD.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);

// Converts cchWideChar units (-1: up to and including the NUL) of UTF-16 to the
// code page. With cbMultiByte 0 nothing is written and the result is the number
// of bytes needed. lpDefaultChar (may be null: "?") replaces characters the code
// page lacks; *lpUsedDefaultChar (may be null) tells whether that happened. For
// CP_UTF8 both must be null, and a lone surrogate becomes U+FFFD (or fails with
// WC_ERR_INVALID_CHARS). Result and failures as MultiByteToWideChar.
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar);

// The number of the calling thread's ANSI code page (1252, 932, 65001 for
// UTF-8, 20127 for US-ASCII; 0 when the codeset has no Windows number).
UINT GetACP();

// Length in units up to the NUL; null gives 0.
int lstrlenW(LPCWSTR lpString);
// Three-way comparisons (-1, 0, 1). Null sorts before every string, even "".
int lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2);
int lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2);
// Copies (the destination must hold the source and its NUL); return the destination.
LPWSTR lstrcpyW(LPWSTR lpString1, LPCWSTR lpString2);
// Copies at most iMaxLength - 1 units and always ends with a NUL (iMaxLength > 0).
LPWSTR lstrcpynW(LPWSTR lpString1, LPCWSTR lpString2, int iMaxLength);
LPWSTR lstrcatW(LPWSTR lpString1, LPCWSTR lpString2);

// Upper-cases a NUL-terminated string in place and returns it. As on
// Windows, a "pointer" whose upper bits are all zero is a single character
// instead: its mapped character comes back in the low 16 bits.
LPWSTR CharUpperW(LPWSTR lpsz);
// Maps cchLength units in place (NULs included); returns cchLength (0 for null).
DWORD CharUpperBuffW(LPWSTR lpsz, DWORD cchLength);
DWORD CharLowerBuffW(LPWSTR lpsz, DWORD cchLength);

// Formats into lpOut, which must hold 1024 units: output stops at 1023 units
// and a NUL. Returns the units written without the NUL. Conversions: %s (a
// UTF-16 string; null prints "(null)"), %S and %hs (an 8-bit string in the ANSI
// code page), %c (a UTF-16 unit; %hc an 8-bit one), %d %i %u %x %X (32-bit;
// "ll" or "I64" for 64-bit; "l" stays 32-bit as Windows' LONG), %%; flags "-",
// "0", "#", a width and a precision. An unknown conversion prints its letter.
int wsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, ...);
int wvsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, va_list arglist);

inline constexpr int kWsprintfLimit = 1024;

namespace platform {

// Pins the calling thread's ANSI code page to an ICU converter name
// ("windows-1252", "windows-932", "UTF-8", ...). Null or "" returns to the
// locale's code page. False (and no change) when ICU does not know the name.
bool SetThreadAnsiCodePage(const char* icuName);

// The ICU converter name of the calling thread's ANSI code page.
std::string AnsiCodePageName();

// UTF-8 ↔ UTF-16. Invalid input becomes U+FFFD; never fails.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-16 ↔ the thread's ANSI code page. ToAnsi sets *usedDefault (may be null)
// when a character had to become the default character.
std::string ToAnsi(std::u16string_view text, bool* usedDefault = nullptr);
std::u16string FromAnsi(std::string_view bytes);

// Simple (length-keeping) case mapping, as CharUpperBuffW / CharLowerBuffW.
std::u16string ToUpper(std::u16string_view text);
std::u16string ToLower(std::u16string_view text);

// Equality without regard to case, as lstrcmpiW(a, b) == 0.
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
// Three-way comparison without regard to case, as lstrcmpiW.
int CompareNoCase(std::u16string_view a, std::u16string_view b);

}  // namespace platform
