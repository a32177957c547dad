// Code page conversions through ICU converters (see text.h).

#include <langinfo.h>
#include <locale.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "platform/text/text.h"

namespace {

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

struct LocaleFreer {
    void operator()(locale_t l) const { freelocale(l); }
};

// The codeset of the locale the environment asks for, read without touching
// the process locale (a library must not call setlocale behind its host).
std::string LocaleCodeset() {
    std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleFreer> loc(newlocale(LC_CTYPE_MASK, "", nullptr));
    const char* codeset = nullptr;
    if (loc) {
        codeset = nl_langinfo_l(CODESET, loc.get());
    } else {
        // The environment names a locale that is not installed: C rules apply.
        std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleFreer> c(
            newlocale(LC_CTYPE_MASK, "C", nullptr));
        if (c) return nl_langinfo_l(CODESET, c.get());
    }
    return codeset && *codeset ? codeset : "US-ASCII";
}

bool IcuKnows(const char* name) {
    UErrorCode err = U_ZERO_ERROR;
    ConverterPtr c(ucnv_open(name, &err));
    return U_SUCCESS(err) && c;
}

const std::string& ProcessAnsiName() {
    static const std::string name = [] {
        std::string codeset = LocaleCodeset();
        return IcuKnows(codeset.c_str()) ? codeset : std::string("US-ASCII");
    }();
    return name;
}

thread_local std::string t_pinned_ansi;

const std::string& ThreadAnsiName() { return t_pinned_ansi.empty() ? ProcessAnsiName() : t_pinned_ansi; }

// One converter per name and thread; ICU converters keep state and must not
// be shared between threads.
UConverter* ConverterFor(const std::string& name) {
    thread_local std::map<std::string, ConverterPtr> cache;
    auto it = cache.find(name);
    if (it != cache.end()) {
        ucnv_reset(it->second.get());
        return it->second.get();
    }
    UErrorCode err = U_ZERO_ERROR;
    ConverterPtr c(ucnv_open(name.c_str(), &err));
    if (U_FAILURE(err) || !c) return nullptr;
    return cache.emplace(name, std::move(c)).first->second.get();
}

// The ICU name for a Windows code page number, or "" when there is none.
std::string NameForCodePage(UINT cp) {
    switch (cp) {
        case CP_ACP:
        case CP_OEMCP:
        case CP_THREAD_ACP:
            return ThreadAnsiName();
        case CP_UTF8:
            return "UTF-8";
        case CP_UTF7:
            return "UTF-7";
        case 20127:
            return "US-ASCII";
        default:
            break;
    }
    for (const char* prefix : {"windows-", "cp", "ibm-"}) {
        std::string name = prefix + std::to_string(cp);
        if (IcuKnows(name.c_str())) return name;
    }
    return {};
}

bool IsUtf8Name(const std::string& name) {
    UErrorCode err = U_ZERO_ERROR;
    const char* canonical = ucnv_getCanonicalName(name.c_str(), "", &err);
    return std::strcmp(canonical ? canonical : name.c_str(), "UTF-8") == 0 ||
           ucnv_compareNames(name.c_str(), "UTF-8") == 0;
}

struct FromUnicodeState {
    const char* default_bytes;
    int8_t default_length;
    bool strict;
    bool used_default = false;
    bool failed = false;
};

void FromUnicodeCallback(const void* context, UConverterFromUnicodeArgs* args, const UChar*, int32_t, UChar32,
                         UConverterCallbackReason reason, UErrorCode* err) {
    if (reason > UCNV_IRREGULAR) return;  // reset, close and clone need nothing
    auto* state = static_cast<FromUnicodeState*>(const_cast<void*>(context));
    state->used_default = true;
    if (state->strict) {
        state->failed = true;
        return;  // the error stays set and ends the conversion
    }
    *err = U_ZERO_ERROR;
    ucnv_cbFromUWriteBytes(args, state->default_bytes, state->default_length, 0, err);
}

struct ToUnicodeState {
    bool strict;
    bool failed = false;
};

void ToUnicodeCallback(const void* context, UConverterToUnicodeArgs* args, const char*, int32_t,
                       UConverterCallbackReason reason, UErrorCode* err) {
    if (reason > UCNV_IRREGULAR) return;
    auto* state = static_cast<ToUnicodeState*>(const_cast<void*>(context));
    if (state->strict) {
        state->failed = true;
        return;
    }
    *err = U_ZERO_ERROR;
    static const UChar kReplacement = 0xFFFD;
    ucnv_cbToUWriteUChars(args, &kReplacement, 1, 0, err);
}

// ICU counts in int32_t: an output size to try, computed without overflow and
// capped at what ICU can take.
int32_t Room(size_t wanted) { return static_cast<int32_t>(std::min<size_t>(wanted, INT32_MAX)); }

// Converts UTF-16 to bytes; false when the converter gave up (strict mode) or
// the text is longer than ICU can take.
bool FromUnicode(UConverter* conv, FromUnicodeState& state, std::u16string_view src, std::string& out) {
    UErrorCode err = U_ZERO_ERROR;
    ucnv_setFromUCallBack(conv, FromUnicodeCallback, &state, nullptr, nullptr, &err);
    if (U_FAILURE(err)) return false;
    out.clear();
    if (src.empty()) return true;
    if (src.size() > static_cast<size_t>(INT32_MAX)) return false;
    int32_t room = Room(src.size() * 4 + 16);
    for (int attempt = 0; attempt < 4; ++attempt) {
        out.resize(static_cast<size_t>(room));
        err = U_ZERO_ERROR;
        state.used_default = false;
        state.failed = false;
        int32_t n =
            ucnv_fromUChars(conv, out.data(), room, src.data(), static_cast<int32_t>(src.size()), &err);
        if (err == U_BUFFER_OVERFLOW_ERROR && !state.failed) {
            room = Room(static_cast<size_t>(n) + 16);
            continue;
        }
        if (U_FAILURE(err) || state.failed) return false;
        out.resize(static_cast<size_t>(n));
        return true;
    }
    return false;
}

bool ToUnicode(UConverter* conv, ToUnicodeState& state, std::string_view src, std::u16string& out) {
    UErrorCode err = U_ZERO_ERROR;
    ucnv_setToUCallBack(conv, ToUnicodeCallback, &state, nullptr, nullptr, &err);
    if (U_FAILURE(err)) return false;
    out.clear();
    if (src.empty()) return true;
    if (src.size() > static_cast<size_t>(INT32_MAX)) return false;
    int32_t room = Room(src.size() + 16);
    for (int attempt = 0; attempt < 4; ++attempt) {
        out.resize(static_cast<size_t>(room));
        err = U_ZERO_ERROR;
        state.failed = false;
        int32_t n = ucnv_toUChars(conv, out.data(), room, src.data(), static_cast<int32_t>(src.size()), &err);
        if (err == U_BUFFER_OVERFLOW_ERROR && !state.failed) {
            room = Room(static_cast<size_t>(n) + 16);
            continue;
        }
        if (U_FAILURE(err) || state.failed) return false;
        out.resize(static_cast<size_t>(n));
        return true;
    }
    return false;
}

}  // namespace

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
    if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && !lpWideCharStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string name = NameForCodePage(CodePage);
    UConverter* conv = name.empty() ? nullptr : ConverterFor(name);
    if (!conv) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    ToUnicodeState state{(dwFlags & MB_ERR_INVALID_CHARS) != 0};
    std::u16string out;
    if (!ToUnicode(conv, state, std::string_view(lpMultiByteStr, length), out)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (cchWideChar == 0) return static_cast<int>(out.size());
    if (out.size() > static_cast<size_t>(cchWideChar)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpWideCharStr, out.data(), out.size() * sizeof(char16_t));
    return static_cast<int>(out.size());
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) {
    if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && !lpMultiByteStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string name = NameForCodePage(CodePage);
    UConverter* conv = name.empty() ? nullptr : ConverterFor(name);
    if (!conv) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    bool utf8 = IsUtf8Name(name);
    if (CodePage == CP_UTF8 && (lpDefaultChar || lpUsedDefaultChar)) {
        // Windows refuses a default character for UTF-8: every character exists there. An ANSI code page
        // that happens to be UTF-8 (the usual Linux locale) still answers the question, so that callers
        // choosing an encoding by it work: only a lone surrogate counts as a default character there.
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    FromUnicodeState state{};
    if (utf8) {
        state.default_bytes = "\xEF\xBF\xBD";
        state.default_length = 3;
    } else if (lpDefaultChar && *lpDefaultChar) {
        state.default_bytes = lpDefaultChar;
        state.default_length = static_cast<int8_t>(strnlen(lpDefaultChar, 2));
    } else {
        state.default_bytes = "?";
        state.default_length = 1;
    }
    state.strict = utf8 && (dwFlags & WC_ERR_INVALID_CHARS) != 0;

    size_t length = 0;
    if (cchWideChar == -1) {
        while (lpWideCharStr[length]) ++length;
        ++length;  // the NUL is converted too
    } else {
        length = static_cast<size_t>(cchWideChar);
    }
    std::string out;
    if (!FromUnicode(conv, state, std::u16string_view(lpWideCharStr, length), out)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (lpUsedDefaultChar) *lpUsedDefaultChar = state.used_default ? TRUE : FALSE;
    if (cbMultiByte == 0) return static_cast<int>(out.size());
    if (out.size() > static_cast<size_t>(cbMultiByte)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpMultiByteStr, out.data(), out.size());
    return static_cast<int>(out.size());
}

UINT GetACP() {
    const std::string& name = ThreadAnsiName();
    if (IsUtf8Name(name)) return CP_UTF8;
    UErrorCode err = U_ZERO_ERROR;
    const char* windows = ucnv_getStandardName(name.c_str(), "WINDOWS", &err);
    if (U_SUCCESS(err) && windows) {
        if (std::strncmp(windows, "windows-", 8) == 0)
            return static_cast<UINT>(std::strtoul(windows + 8, nullptr, 10));
        if (ucnv_compareNames(windows, "us-ascii") == 0) return 20127;
    }
    err = U_ZERO_ERROR;
    const char* canonical = ucnv_getCanonicalName(name.c_str(), "", &err);
    if (canonical && std::strcmp(canonical, "US-ASCII") == 0) return 20127;
    return 0;
}

namespace platform {

bool SetThreadAnsiCodePage(const char* icuName) {
    if (!icuName || !*icuName) {
        t_pinned_ansi.clear();
        return true;
    }
    if (!IcuKnows(icuName)) return false;
    t_pinned_ansi = icuName;
    return true;
}

std::string AnsiCodePageName() { return ThreadAnsiName(); }

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    UConverter* conv = ConverterFor("UTF-8");
    ToUnicodeState state{false};
    if (!conv || !ToUnicode(conv, state, text, out)) out.clear();
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    UConverter* conv = ConverterFor("UTF-8");
    FromUnicodeState state{"\xEF\xBF\xBD", 3, false};
    if (!conv || !FromUnicode(conv, state, text, out)) out.clear();
    return out;
}

std::string ToAnsi(std::u16string_view text, bool* usedDefault) {
    std::string out;
    UConverter* conv = ConverterFor(ThreadAnsiName());
    bool utf8 = IsUtf8Name(ThreadAnsiName());
    FromUnicodeState state{utf8 ? "\xEF\xBF\xBD" : "?", static_cast<int8_t>(utf8 ? 3 : 1), false};
    if (!conv || !FromUnicode(conv, state, text, out)) out.clear();
    if (usedDefault) *usedDefault = state.used_default;
    return out;
}

std::u16string FromAnsi(std::string_view bytes) {
    std::u16string out;
    UConverter* conv = ConverterFor(ThreadAnsiName());
    ToUnicodeState state{false};
    if (!conv || !ToUnicode(conv, state, bytes, out)) out.clear();
    return out;
}

}  // namespace platform
