// wsprintfW: the small printf of the Windows user library.
//
// Only integers, characters and strings exist (no floating point, no "*"
// widths). The output is capped at 1024 units including the NUL, the limit the
// callers size their line buffers by.

#include <cstdint>
#include <string>

#include "platform/text/text.h"

namespace {

struct Spec {
    bool left = false;
    bool zero = false;
    bool alternate = false;
    int width = 0;
    int precision = -1;
};

class Output {
  public:
    explicit Output(LPWSTR out) : out_(out) {}
    void Put(char16_t c) {
        if (count_ < kWsprintfLimit - 1) out_[count_++] = c;
    }
    void Put(std::u16string_view s) {
        for (char16_t c : s) Put(c);
    }
    void Pad(int n, char16_t c) {
        for (int i = 0; i < n; ++i) Put(c);
    }
    int Finish() {
        out_[count_] = 0;
        return count_;
    }

  private:
    LPWSTR out_;
    int count_ = 0;
};

// Writes `body` padded to the width; `sign_or_prefix` stays in front of zero padding.
void Emit(Output& out, const Spec& spec, std::u16string_view prefix, std::u16string_view body, bool numeric) {
    int length = static_cast<int>(prefix.size() + body.size());
    int pad = spec.width > length ? spec.width - length : 0;
    if (spec.left) {
        out.Put(prefix);
        out.Put(body);
        out.Pad(pad, u' ');
    } else if (spec.zero && numeric) {
        out.Put(prefix);
        out.Pad(pad, u'0');
        out.Put(body);
    } else {
        out.Pad(pad, u' ');
        out.Put(prefix);
        out.Put(body);
    }
}

std::u16string Digits(uint64_t value, unsigned base, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::u16string s;
    do {
        s.insert(s.begin(), static_cast<char16_t>(digits[value % base]));
        value /= base;
    } while (value);
    return s;
}

}  // namespace

int wvsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, va_list args) {
    if (!lpOut) return 0;
    Output out(lpOut);
    if (!lpFmt) return out.Finish();
    for (const char16_t* p = lpFmt; *p; ++p) {
        if (*p != u'%') {
            out.Put(*p);
            continue;
        }
        ++p;
        if (*p == u'%') {
            out.Put(u'%');
            continue;
        }
        Spec spec;
        for (;; ++p) {
            if (*p == u'-')
                spec.left = true;
            else if (*p == u'0')
                spec.zero = true;
            else if (*p == u'#')
                spec.alternate = true;
            else
                break;
        }
        while (*p >= u'0' && *p <= u'9' && spec.width < 10000) spec.width = spec.width * 10 + (*p++ - u'0');
        if (*p == u'.') {
            ++p;
            spec.precision = 0;
            while (*p >= u'0' && *p <= u'9' && spec.precision < 10000)
                spec.precision = spec.precision * 10 + (*p++ - u'0');
        }
        bool wide64 = false, narrow = false, wide = false;
        if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') {
            wide64 = true;
            p += 3;
        } else if (p[0] == u'l' && p[1] == u'l') {
            wide64 = true;
            p += 2;
        } else if (*p == u'l' || *p == u'w') {
            wide = true;
            ++p;
        } else if (*p == u'h') {
            narrow = true;
            ++p;
        }
        if (!*p) break;
        switch (*p) {
            case u'd':
            case u'i': {
                int64_t v = wide64 ? va_arg(args, long long) : va_arg(args, int);
                uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
                std::u16string body = Digits(magnitude, 10, false);
                if (spec.precision >= 0 && static_cast<int>(body.size()) < spec.precision)
                    body.insert(0, static_cast<size_t>(spec.precision) - body.size(), u'0');
                Emit(out, spec, v < 0 ? u"-" : u"", body, true);
                break;
            }
            case u'u':
            case u'x':
            case u'X': {
                uint64_t v = wide64 ? va_arg(args, unsigned long long) : va_arg(args, unsigned int);
                bool hex = *p != u'u';
                std::u16string body = Digits(v, hex ? 16 : 10, *p == u'X');
                if (spec.precision >= 0 && static_cast<int>(body.size()) < spec.precision)
                    body.insert(0, static_cast<size_t>(spec.precision) - body.size(), u'0');
                std::u16string_view prefix;
                if (hex && spec.alternate && v) prefix = *p == u'X' ? u"0X" : u"0x";
                Emit(out, spec, prefix, body, true);
                break;
            }
            case u'c':
            case u'C': {
                int v = va_arg(args, int);
                bool eight_bit = narrow || (*p == u'C' && !wide);
                char16_t c = static_cast<char16_t>(v);
                if (eight_bit) {
                    char byte = static_cast<char>(v);
                    std::u16string s = platform::FromAnsi(std::string_view(&byte, 1));
                    c = s.empty() ? u'?' : s[0];
                }
                Emit(out, spec, u"", std::u16string_view(&c, 1), false);
                break;
            }
            case u's':
            case u'S': {
                bool eight_bit = narrow || (*p == u'S' && !wide);
                std::u16string converted;
                std::u16string_view body;
                if (eight_bit) {
                    const char* s = va_arg(args, const char*);
                    converted = s ? platform::FromAnsi(s) : std::u16string(u"(null)");
                    body = converted;
                } else {
                    const char16_t* s = va_arg(args, const char16_t*);
                    body = s ? std::u16string_view(s) : std::u16string_view(u"(null)");
                }
                if (spec.precision >= 0 && body.size() > static_cast<size_t>(spec.precision))
                    body = body.substr(0, static_cast<size_t>(spec.precision));
                Emit(out, spec, u"", body, false);
                break;
            }
            default:
                out.Put(*p);
                break;
        }
    }
    return out.Finish();
}

int wsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, ...) {
    va_list args;
    va_start(args, lpFmt);
    int n = wvsprintfW(lpOut, lpFmt, args);
    va_end(args);
    return n;
}
