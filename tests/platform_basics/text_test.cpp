// Code pages, case rules, comparisons and wsprintfW of the text stand-in.

#include "platform/text/text.h"

#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <climits>
#include <string>
#include <thread>
#include <vector>

namespace {

// Pins the thread's ANSI code page for one test and restores the locale's.
class PinnedCodePage {
  public:
    explicit PinnedCodePage(const char* name) { ok_ = platform::SetThreadAnsiCodePage(name); }
    ~PinnedCodePage() { platform::SetThreadAnsiCodePage(nullptr); }
    bool ok() const { return ok_; }

  private:
    bool ok_;
};

std::string Narrow(UINT cp, std::u16string_view text, BOOL* used = nullptr, const char* def = nullptr) {
    int n = WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, def, used);
    std::string out(static_cast<size_t>(n), '\0');
    if (n > 0) {
        EXPECT_EQ(n, WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                                         def, used));
    }
    return out;
}

std::u16string Wide(UINT cp, std::string_view bytes, DWORD flags = 0) {
    int n = MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::u16string out(static_cast<size_t>(n), u'\0');
    if (n > 0) {
        EXPECT_EQ(
            n, MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), out.data(), n));
    }
    return out;
}

TEST(CodePageTest, Windows1252RoundTrip) {
    PinnedCodePage pin("windows-1252");
    ASSERT_TRUE(pin.ok());
    EXPECT_EQ(1252u, GetACP());
    std::u16string text = u"Caf\u00E9 \u20AC5 \u00FF";
    BOOL used = TRUE;
    std::string bytes = Narrow(CP_THREAD_ACP, text, &used);
    EXPECT_EQ(std::string("Caf\xE9 \x80"
                          "5 \xFF"),
              bytes);
    EXPECT_FALSE(used);
    EXPECT_EQ(text, Wide(CP_ACP, bytes));
}

TEST(CodePageTest, Windows932RoundTrip) {
    PinnedCodePage pin("windows-932");
    ASSERT_TRUE(pin.ok());
    EXPECT_EQ(932u, GetACP());
    std::u16string text = u"\u65E5\u672C abc \uFF71";  // 日本 abc ｱ
    BOOL used = TRUE;
    std::string bytes = Narrow(CP_THREAD_ACP, text, &used);
    EXPECT_EQ(std::string("\x93\xFA\x96\x7B abc \xB1"), bytes);
    EXPECT_FALSE(used);
    EXPECT_EQ(text, Wide(CP_THREAD_ACP, bytes));
}

TEST(CodePageTest, MissingCharacterBecomesDefaultAndIsReported) {
    PinnedCodePage pin("windows-1252");
    BOOL used = FALSE;
    EXPECT_EQ("A?B", Narrow(CP_THREAD_ACP, u"A\u65E5B", &used));
    EXPECT_TRUE(used);
    // The caller's own default character.
    used = FALSE;
    EXPECT_EQ("A*B", Narrow(CP_THREAD_ACP, u"A\u65E5B", &used, "*"));
    EXPECT_TRUE(used);
    // Plain ASCII and Latin-1 need no default.
    used = TRUE;
    EXPECT_EQ("plain \xE9", Narrow(CP_THREAD_ACP, u"plain \u00E9", &used));
    EXPECT_FALSE(used);
    // A letter that Windows would map by best fit still counts as missing.
    used = FALSE;
    Narrow(CP_THREAD_ACP, u"\u0100", &used);
    EXPECT_TRUE(used);
    // The C++ form answers the same question.
    bool used_default = false;
    EXPECT_EQ("?", platform::ToAnsi(u"\u65E5", &used_default));
    EXPECT_TRUE(used_default);
}

TEST(CodePageTest, SizeQueryAndBufferRules) {
    PinnedCodePage pin("UTF-8");
    const char16_t* text = u"\u00E9t\u00E9";  // 3 units, 5 bytes in UTF-8
    EXPECT_EQ(5, WideCharToMultiByte(CP_UTF8, 0, text, 3, nullptr, 0, nullptr, nullptr));
    // -1 converts the NUL too and counts it.
    EXPECT_EQ(6, WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr));
    char buf[6];
    EXPECT_EQ(6, WideCharToMultiByte(CP_UTF8, 0, text, -1, buf, 6, nullptr, nullptr));
    EXPECT_STREQ("\xC3\xA9t\xC3\xA9", buf);
    SetLastError(0);
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, text, -1, buf, 5, nullptr, nullptr));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());

    EXPECT_EQ(4, MultiByteToWideChar(CP_UTF8, 0, buf, -1, nullptr, 0));
    char16_t wide[4];
    EXPECT_EQ(4, MultiByteToWideChar(CP_UTF8, 0, buf, -1, wide, 4));
    EXPECT_EQ(std::u16string_view(text), std::u16string_view(wide));
    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, buf, -1, wide, 3));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
}

TEST(CodePageTest, InvalidArgumentsFail) {
    char16_t wide[8];
    char bytes[8];
    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "abc", 0, wide, 8));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, nullptr, 3, wide, 8));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    SetLastError(0);
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, u"abc", -1, nullptr, 8, nullptr, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    // No code page by that number.
    SetLastError(0);
    EXPECT_EQ(0, WideCharToMultiByte(4711, 0, u"abc", -1, bytes, 8, nullptr, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    // UTF-8 has no default character.
    BOOL used = FALSE;
    SetLastError(0);
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, u"abc", -1, bytes, 8, nullptr, &used));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    // Code pages by number, independent of the thread's pin.
    EXPECT_EQ(std::string("\xE9"), Narrow(1252, u"\u00E9"));
    EXPECT_FALSE(platform::SetThreadAnsiCodePage("no-such-codepage-4711"));
}

TEST(CodePageTest, SurrogatePairsAndLoneSurrogates) {
    std::u16string smile = u"\U0001F600";
    ASSERT_EQ(2u, smile.size());
    EXPECT_EQ("\xF0\x9F\x98\x80", Narrow(CP_UTF8, smile));
    EXPECT_EQ(smile, Wide(CP_UTF8, "\xF0\x9F\x98\x80"));
    EXPECT_EQ("\xF0\x9F\x98\x80", platform::Utf16ToUtf8(smile));
    EXPECT_EQ(smile, platform::Utf8ToUtf16("\xF0\x9F\x98\x80"));

    // A lone surrogate becomes U+FFFD, or fails when asked to.
    std::u16string lone = u"a";
    lone.push_back(static_cast<char16_t>(0xD800));
    lone.push_back(u'b');
    EXPECT_EQ(
        "a\xEF\xBF\xBD"
        "b",
        Narrow(CP_UTF8, lone));
    char bytes[16];
    SetLastError(0);
    EXPECT_EQ(
        0, WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone.data(), 3, bytes, 16, nullptr, nullptr));
    EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, GetLastError());

    // Invalid UTF-8 input: U+FFFD, or a failure with MB_ERR_INVALID_CHARS.
    EXPECT_EQ(u"a\uFFFDb", Wide(CP_UTF8,
                                "a\xFF"
                                "b"));
    char16_t wide[8];
    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xFF", 2, wide, 8));
    EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, GetLastError());

    // A truncated double-byte character in Shift-JIS is invalid too.
    PinnedCodePage pin("windows-932");
    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "\x93", 1, wide, 8));
    EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, GetLastError());
}

TEST(CodePageTest, PinBelongsToTheThread) {
    std::string before = platform::AnsiCodePageName();
    PinnedCodePage pin("windows-932");
    EXPECT_EQ("windows-932", platform::AnsiCodePageName());
    std::string other;
    std::thread([&] { other = platform::AnsiCodePageName(); }).join();
    EXPECT_EQ(before, other);
}

TEST(CaseTest, CaseInsensitiveComparison) {
    EXPECT_EQ(0, lstrcmpiW(u"Title", u"TITLE"));
    EXPECT_EQ(0, lstrcmpiW(u"\u00C4rger \u00D6l", u"\u00E4RGER \u00F6L"));  // Ärger Öl
    EXPECT_EQ(0, lstrcmpiW(u"\u0416\u0443\u043A", u"\u0436\u0423\u041A"));  // Жук
    EXPECT_EQ(0, lstrcmpiW(u"\u03A3\u0399\u03A3", u"\u03C3\u03B9\u03C2"));  // final sigma folds too
    EXPECT_EQ(0, lstrcmpiW(u"\U00010400", u"\U00010428"));                  // Deseret, a surrogate pair
    EXPECT_NE(0, lstrcmpiW(u"stra\u00DFe", u"STRASSE"));                    // no length-changing folds
    EXPECT_NE(0, lstrcmpiW(u"a", u"\uFF41"));                               // width matters
    EXPECT_LT(lstrcmpiW(u"apple", u"Banana"), 0);
    EXPECT_GT(lstrcmpiW(u"abc", u"AB"), 0);
    EXPECT_TRUE(platform::EqualsNoCase(u"d:\\music\\track.oma", u"D:\\MUSIC\\TRACK.OMA"));
    EXPECT_FALSE(platform::EqualsNoCase(u"track.oma", u"track.omg"));

    EXPECT_EQ(0, lstrcmpW(u"same", u"same"));
    EXPECT_NE(0, lstrcmpW(u"same", u"Same"));
    EXPECT_LT(lstrcmpW(u"abc", u"abd"), 0);
    // Null sorts first and equals only null.
    EXPECT_EQ(0, lstrcmpiW(nullptr, nullptr));
    EXPECT_LT(lstrcmpiW(nullptr, u""), 0);
    EXPECT_GT(lstrcmpW(u"", nullptr), 0);
    EXPECT_EQ(0, lstrlenW(nullptr));
    EXPECT_EQ(3, lstrlenW(u"abc"));
}

TEST(CaseTest, AsciiComparesAsTheUnicodeFoldingDoes) {
    // Every pair of ASCII units orders as their Unicode simple case folding
    // orders them, and the letters outside ASCII that fold onto ASCII ones
    // (Kelvin sign, long s) still compare equal to them.
    for (char16_t a = 1; a < 0x80; ++a) {
        for (char16_t b = 1; b < 0x80; ++b) {
            const char16_t left[] = {a, 0}, right[] = {b, 0};
            const UChar32 fa = u_foldCase(a, U_FOLD_CASE_DEFAULT), fb = u_foldCase(b, U_FOLD_CASE_DEFAULT);
            const int expected = fa == fb ? 0 : (fa < fb ? -1 : 1);
            ASSERT_EQ(lstrcmpiW(left, right), expected) << int(a) << " " << int(b);
        }
    }
    EXPECT_EQ(0, lstrcmpiW(u"\u212A", u"k"));
    EXPECT_EQ(0, lstrcmpiW(u"K", u"\u212A"));
    EXPECT_EQ(0, lstrcmpiW(u"\u017F", u"S"));
}

TEST(CaseTest, UpperAndLowerKeepTheLength) {
    char16_t path[] = u"d:\\m\u00FCsic\\stra\u00DFe \u00FF \U00010428.oma";
    size_t length = std::char_traits<char16_t>::length(path);
    EXPECT_EQ(path, CharUpperW(path));
    EXPECT_EQ(std::u16string(u"D:\\M\u00DCSIC\\STRA\u00DFE \u0178 \U00010400.OMA"), std::u16string(path));
    EXPECT_EQ(length, std::char_traits<char16_t>::length(path));

    // A character passed in place of a pointer comes back mapped.
    auto atom = reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(u'q'));
    EXPECT_EQ(static_cast<uintptr_t>(u'Q'), reinterpret_cast<uintptr_t>(CharUpperW(atom)));

    // The buffer forms stop at the count, NULs included.
    char16_t buf[] = {u'a', 0, u'b', u'c'};
    EXPECT_EQ(3u, CharUpperBuffW(buf, 3));
    EXPECT_EQ(u'A', buf[0]);
    EXPECT_EQ(u'B', buf[2]);
    EXPECT_EQ(u'c', buf[3]);
    EXPECT_EQ(4u, CharLowerBuffW(buf, 4));
    EXPECT_EQ(u'a', buf[0]);
    EXPECT_EQ(u'b', buf[2]);

    EXPECT_EQ(u"\u00C9T\u00C9", platform::ToUpper(u"\u00E9t\u00E9"));
    EXPECT_EQ(u"\u00E9t\u00E9", platform::ToLower(u"\u00C9T\u00C9"));
}

TEST(StringCopyTest, CopyTruncateAndConcatenate) {
    char16_t buf[8];
    EXPECT_EQ(buf, lstrcpynW(buf, u"abcdefghij", 5));
    EXPECT_EQ(std::u16string(u"abcd"), buf);
    lstrcpyW(buf, u"ab");
    lstrcatW(buf, u"cd");
    EXPECT_EQ(std::u16string(u"abcd"), buf);
}

std::u16string Format(const char16_t* fmt, auto... args) {
    std::vector<char16_t> buf(kWsprintfLimit + 16, u'#');
    int n = wsprintfW(buf.data(), fmt, args...);
    EXPECT_EQ(0, buf[static_cast<size_t>(n)]);
    return std::u16string(buf.data(), static_cast<size_t>(n));
}

TEST(WsprintfTest, FormatsTheSystemUses) {
    EXPECT_EQ(u"Title=Caf\u00E9", Format(u"%s=%s", u"Title", u"Caf\u00E9"));
    EXPECT_EQ(u"-42 42 4294967295", Format(u"%d %i %u", -42, 42, 0xFFFFFFFFu));
    EXPECT_EQ(std::u16string(u"-2147483648"), Format(u"%d", INT_MIN));
    EXPECT_EQ(u"00001A2B.tag", Format(u"%08X.tag", 0x1A2Bu));
    EXPECT_EQ(u"BD\\", Format(u"%02X\\", 0xBDu));
    EXPECT_EQ(u"ff FF 0xff", Format(u"%x %X %#x", 255u, 255u, 255u));
    EXPECT_EQ(u".jpg/600/600", Format(u"%s/%u/%u", u".jpg", 600u, 600u));
    EXPECT_EQ(u"x 100%", Format(u"%c %d%%", u'x', 100));
    EXPECT_EQ(u"[ab   ][   ab][-0042]", Format(u"[%-5s][%5s][%05d]", u"ab", u"ab", -42));
    EXPECT_EQ(u"abc", Format(u"%.3s", u"abcdef"));
    EXPECT_EQ(u"(null)", Format(u"%s", static_cast<const char16_t*>(nullptr)));
    EXPECT_EQ(u"12345678901", Format(u"%I64d", 12345678901LL));
    EXPECT_EQ(u"7", Format(u"%ld", 7));
    EXPECT_EQ(u"narrow", Format(u"%hs", "narrow"));
    EXPECT_EQ(u"", Format(u""));
}

TEST(WsprintfTest, OutputStopsAt1023Units) {
    std::u16string big(3000, u'x');
    std::u16string out = Format(u"[%s]", big.c_str());
    EXPECT_EQ(1023u, out.size());
    EXPECT_EQ(u'[', out.front());
    EXPECT_EQ(u'x', out.back());
}

}  // namespace

namespace {

// Arbitrary bytes and units never crash a converter, and the size query
// always agrees with the conversion itself.
TEST(CodePageTest, ArbitraryInputIsHandledInEveryCodePage) {
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    for (UINT cp : {UINT{CP_UTF8}, UINT{932}, UINT{1252}}) {
        for (int round = 0; round < 300; ++round) {
            std::string bytes(1 + next() % 24, '\0');
            for (char& b : bytes) b = static_cast<char>(next());
            for (DWORD flags : {DWORD{0}, MB_ERR_INVALID_CHARS}) {
                int need =
                    MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
                if (need == 0) {
                    EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, GetLastError());
                    continue;
                }
                std::u16string wide(static_cast<size_t>(need), u'\0');
                EXPECT_EQ(need, MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()),
                                                    wide.data(), need));
            }
            std::u16string units(1 + next() % 24, u'\0');
            for (char16_t& u : units) u = static_cast<char16_t>(next());
            BOOL used = FALSE;
            BOOL* used_out = cp == CP_UTF8 ? nullptr : &used;
            int need = WideCharToMultiByte(cp, 0, units.data(), static_cast<int>(units.size()), nullptr, 0,
                                           nullptr, used_out);
            ASSERT_GT(need, 0);
            std::string out(static_cast<size_t>(need), '\0');
            EXPECT_EQ(need, WideCharToMultiByte(cp, 0, units.data(), static_cast<int>(units.size()),
                                                out.data(), need, nullptr, used_out));
        }
    }
}

TEST(CodePageTest, ByteOrderMarkAndNulAreKept) {
    // A UTF-8 byte order mark is a character like any other, as on Windows.
    EXPECT_EQ(u"\uFEFFa", Wide(CP_UTF8,
                               "\xEF\xBB\xBF"
                               "a"));
    // -1 on an empty string converts just the NUL.
    char16_t wide[2] = {u'x', u'x'};
    EXPECT_EQ(1, MultiByteToWideChar(CP_UTF8, 0, "", -1, wide, 2));
    EXPECT_EQ(0, wide[0]);
    char narrow[2] = {'x', 'x'};
    EXPECT_EQ(1, WideCharToMultiByte(CP_UTF8, 0, u"", -1, narrow, 2, nullptr, nullptr));
    EXPECT_EQ(0, narrow[0]);
}

}  // namespace
