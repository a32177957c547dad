#include "platform/com/variant.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

namespace {

using namespace std::chrono;

constexpr double kMinDate = -657434.0;      // 0100-01-01
constexpr double kMaxDate = 2958465.99999;  // 9999-12-31 23:59:59

bool IsKnownType(VARTYPE vt) {
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL:
        case VT_I2:
        case VT_I4:
        case VT_R4:
        case VT_R8:
        case VT_DATE:
        case VT_BSTR:
        case VT_BOOL:
        case VT_UNKNOWN:
        case VT_DISPATCH:
        case VT_UI4:
            return true;
        default:
            return false;
    }
}

bool IsNumeric(VARTYPE vt) {
    return vt == VT_I2 || vt == VT_I4 || vt == VT_R4 || vt == VT_R8 || vt == VT_DATE || vt == VT_BOOL ||
           vt == VT_UI4 || vt == VT_EMPTY;
}

double NumericValue(const VARIANT& v) {
    switch (v.vt) {
        case VT_I2:
            return v.iVal;
        case VT_I4:
            return v.lVal;
        case VT_R4:
            return v.fltVal;
        case VT_R8:
            return v.dblVal;
        case VT_DATE:
            return v.date;
        case VT_BOOL:
            return v.boolVal;
        case VT_UI4:
            return v.ulVal;
        default:
            return 0;
    }
}

std::string Narrow(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '\x7f');
    return out;
}

std::u16string Widen(std::string_view text) { return std::u16string(text.begin(), text.end()); }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Strict decimal number: [sign] digits [. digits] [e [sign] digits].
HRESULT ParseNumberText(std::u16string_view text, double* out) {
    std::string narrow = Narrow(text);
    std::string_view s = Trim(narrow);
    if (s.empty()) return DISP_E_TYPEMISMATCH;
    std::string_view body = s;
    // from_chars takes a minus but no plus; after a plus no second sign may follow.
    if (body.front() == '+') {
        body.remove_prefix(1);
        if (!body.empty() && body.front() == '-') return DISP_E_TYPEMISMATCH;
    }
    if (body.empty()) return DISP_E_TYPEMISMATCH;
    double value = 0;
    auto [ptr, ec] =
        std::from_chars(body.data(), body.data() + body.size(), value, std::chars_format::general);
    if (ptr != body.data() + body.size()) return DISP_E_TYPEMISMATCH;
    if (ec == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
    if (ec != std::errc()) return DISP_E_TYPEMISMATCH;
    // from_chars accepts "inf" and "nan"; text of this kind is not a number here.
    if (!std::isfinite(value)) return DISP_E_TYPEMISMATCH;
    *out = value;
    return S_OK;
}

double RoundHalfEven(double v) { return std::nearbyint(v); }  // default rounding mode is to nearest even

std::u16string FormatDouble(double v) {
    char buf[64];
    auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, v);
    if (ec != std::errc()) return u"0";
    return Widen(std::string_view(buf, static_cast<size_t>(ptr - buf)));
}

std::u16string FormatFloat(float v) {
    char buf[64];
    auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, v);
    if (ec != std::errc()) return u"0";
    return Widen(std::string_view(buf, static_cast<size_t>(ptr - buf)));
}

// Puts `value` into `out` as type vt, with range checks.
HRESULT FromDouble(double value, VARTYPE vt, VARIANT* out) {
    switch (vt) {
        case VT_I2: {
            double r = RoundHalfEven(value);
            if (!(r >= -32768.0 && r <= 32767.0)) return DISP_E_OVERFLOW;
            out->vt = VT_I2;
            out->iVal = static_cast<SHORT>(r);
            return S_OK;
        }
        case VT_I4: {
            double r = RoundHalfEven(value);
            if (!(r >= -2147483648.0 && r <= 2147483647.0)) return DISP_E_OVERFLOW;
            out->vt = VT_I4;
            out->lVal = static_cast<LONG>(r);
            return S_OK;
        }
        case VT_UI4: {
            double r = RoundHalfEven(value);
            if (!(r >= 0.0 && r <= 4294967295.0)) return DISP_E_OVERFLOW;
            out->vt = VT_UI4;
            out->ulVal = static_cast<ULONG>(r);
            return S_OK;
        }
        case VT_R4:
            if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max())
                return DISP_E_OVERFLOW;
            out->vt = VT_R4;
            out->fltVal = static_cast<float>(value);
            return S_OK;
        case VT_R8:
            out->vt = VT_R8;
            out->dblVal = value;
            return S_OK;
        case VT_DATE:
            if (!(value >= kMinDate && value <= kMaxDate)) return DISP_E_OVERFLOW;
            out->vt = VT_DATE;
            out->date = value;
            return S_OK;
        case VT_BOOL:
            out->vt = VT_BOOL;
            out->boolVal = value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

bool EqualsNoCaseAscii(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
        if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
        if (x != y) return false;
    }
    return true;
}

HRESULT TextToType(std::u16string_view text, VARTYPE vt, VARIANT* out) {
    if (vt == VT_DATE) {
        DATE d;
        if (!platform::ParseDateText(text, &d)) return DISP_E_TYPEMISMATCH;
        out->vt = VT_DATE;
        out->date = d;
        return S_OK;
    }
    if (vt == VT_BOOL) {
        std::string narrow = Narrow(text);
        std::string_view t = Trim(narrow);
        std::u16string wide = Widen(t);
        if (EqualsNoCaseAscii(wide, u"true")) return FromDouble(1, VT_BOOL, out);
        if (EqualsNoCaseAscii(wide, u"false")) return FromDouble(0, VT_BOOL, out);
    }
    double value;
    HRESULT hr = ParseNumberText(text, &value);
    if (FAILED(hr)) return hr;
    return FromDouble(value, vt, out);
}

HRESULT ToText(const VARIANT& src, VARIANT* out) {
    std::u16string text;
    switch (src.vt) {
        case VT_EMPTY:
            break;
        case VT_I2:
            text = Widen(std::to_string(src.iVal));
            break;
        case VT_I4:
            text = Widen(std::to_string(src.lVal));
            break;
        case VT_UI4:
            text = Widen(std::to_string(src.ulVal));
            break;
        case VT_R4:
            text = FormatFloat(src.fltVal);
            break;
        case VT_R8:
            text = FormatDouble(src.dblVal);
            break;
        case VT_BOOL:
            text = src.boolVal ? u"-1" : u"0";
            break;
        case VT_DATE:
            if (!(src.date >= kMinDate && src.date <= kMaxDate)) return DISP_E_OVERFLOW;
            text = platform::FormatDateText(src.date);
            break;
        default:
            return DISP_E_TYPEMISMATCH;
    }
    BSTR s = platform::AllocBstr(text);
    if (!s) return E_OUTOFMEMORY;
    out->vt = VT_BSTR;
    out->bstrVal = s;
    return S_OK;
}

}  // namespace

void VariantInit(VARIANT* v) {
    if (!v) return;
    std::memset(v, 0, sizeof *v);
    v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
    if (!v) return E_INVALIDARG;
    if (!IsKnownType(v->vt)) return DISP_E_BADVARTYPE;
    if (v->vt == VT_BSTR)
        SysFreeString(v->bstrVal);
    else if ((v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH) && v->punkVal)
        v->punkVal->Release();
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
    if (!dest || !src) return E_INVALIDARG;
    if (dest == src) return S_OK;
    if (!IsKnownType(src->vt)) return DISP_E_BADVARTYPE;
    HRESULT hr = VariantClear(dest);
    if (FAILED(hr)) return hr;
    VARIANT copy = *src;
    if (src->vt == VT_BSTR && src->bstrVal) {
        copy.bstrVal =
            SysAllocStringByteLen(reinterpret_cast<LPCSTR>(src->bstrVal), SysStringByteLen(src->bstrVal));
        if (!copy.bstrVal) return E_OUTOFMEMORY;
    } else if ((src->vt == VT_UNKNOWN || src->vt == VT_DISPATCH) && src->punkVal) {
        src->punkVal->AddRef();
    }
    *dest = copy;
    return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT /*flags*/, VARTYPE vt) {
    if (!dest || !src) return E_INVALIDARG;
    if (!IsKnownType(src->vt) || !IsKnownType(vt)) return DISP_E_BADVARTYPE;

    VARIANT result;
    VariantInit(&result);
    HRESULT hr = S_OK;
    if (src->vt == vt) {
        hr = VariantCopy(&result, src);
    } else if (vt == VT_EMPTY) {
        // Converting to empty always succeeds.
    } else if (src->vt == VT_NULL || vt == VT_NULL) {
        hr = DISP_E_TYPEMISMATCH;
    } else if (vt == VT_BSTR) {
        hr = ToText(*src, &result);
    } else if (src->vt == VT_BSTR) {
        hr = TextToType(platform::BstrView(src->bstrVal), vt, &result);
    } else if (vt == VT_UNKNOWN && src->vt == VT_DISPATCH) {
        if (!src->pdispVal) {
            result.vt = VT_UNKNOWN;
            result.punkVal = nullptr;
        } else {
            void* unk = nullptr;
            hr = src->pdispVal->QueryInterface(IID_IUnknown, &unk);
            if (SUCCEEDED(hr)) {
                result.vt = VT_UNKNOWN;
                result.punkVal = static_cast<IUnknown*>(unk);
            }
        }
    } else if (IsNumeric(src->vt) && IsNumeric(vt)) {
        hr = FromDouble(NumericValue(*src), vt, &result);
    } else {
        hr = DISP_E_TYPEMISMATCH;
    }
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    if (dest != src) {
        hr = VariantClear(dest);
        if (FAILED(hr)) {
            VariantClear(&result);
            return hr;
        }
    } else {
        VariantClear(dest);
    }
    *dest = result;
    return S_OK;
}

namespace platform {

namespace {
const sys_days kEpoch = sys_days{year{1899} / 12 / 30};
}

bool DateFromParts(int y, int mo, int d, int h, int mi, int s, DATE* out) {
    if (y < 100 || y > 9999 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59) return false;
    year_month_day ymd{year{y}, month{static_cast<unsigned>(mo)}, day{static_cast<unsigned>(d)}};
    if (!ymd.ok()) return false;
    const double days = static_cast<double>((sys_days{ymd} - kEpoch).count());
    const double frac = (h * 3600.0 + mi * 60.0 + s) / 86400.0;
    // Before the epoch the time of day is stored as a positive fraction away from zero.
    *out = days >= 0 ? days + frac : days - frac;
    return true;
}

bool PartsFromDate(DATE date, int* y, int* mo, int* d, int* h, int* mi, int* s) {
    if (!(date >= kMinDate && date <= kMaxDate)) return false;
    double whole = std::trunc(date);
    double frac = std::fabs(date - whole);
    long long secs = std::llround(frac * 86400.0);
    if (secs >= 86400) {
        secs -= 86400;
        whole += date >= 0 ? 1 : -1;
    }
    year_month_day ymd{kEpoch + days{static_cast<long long>(whole)}};
    *y = static_cast<int>(ymd.year());
    *mo = static_cast<int>(static_cast<unsigned>(ymd.month()));
    *d = static_cast<int>(static_cast<unsigned>(ymd.day()));
    *h = static_cast<int>(secs / 3600);
    *mi = static_cast<int>((secs / 60) % 60);
    *s = static_cast<int>(secs % 60);
    return true;
}

bool ParseDateText(std::u16string_view text, DATE* out) {
    std::string narrow = Narrow(text);
    std::string_view s = Trim(narrow);
    size_t pos = 0;
    auto number = [&](int min_digits, int max_digits, int* value) {
        int digits = 0, v = 0;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && digits < max_digits) {
            v = v * 10 + (s[pos] - '0');
            ++pos;
            ++digits;
        }
        *value = v;
        return digits >= min_digits && !(pos < s.size() && s[pos] >= '0' && s[pos] <= '9');
    };
    int y, mo, d, h = 0, mi = 0, sec = 0;
    if (!number(4, 4, &y)) return false;
    if (pos >= s.size() || (s[pos] != '/' && s[pos] != '-')) return false;
    const char sep = s[pos++];
    if (!number(1, 2, &mo)) return false;
    if (pos >= s.size() || s[pos] != sep) return false;
    ++pos;
    if (!number(1, 2, &d)) return false;
    if (pos < s.size()) {
        if (s[pos] != ' ' && s[pos] != 'T') return false;
        while (pos < s.size() && (s[pos] == ' ' || s[pos] == 'T')) ++pos;
        if (!number(1, 2, &h)) return false;
        if (pos >= s.size() || s[pos] != ':') return false;
        ++pos;
        if (!number(2, 2, &mi)) return false;
        if (pos < s.size()) {
            if (s[pos] != ':') return false;
            ++pos;
            if (!number(2, 2, &sec)) return false;
        }
        if (pos != s.size()) return false;
    }
    return DateFromParts(y, mo, d, h, mi, sec, out);
}

std::u16string FormatDateText(DATE date) {
    int y, mo, d, h, mi, s;
    if (!PartsFromDate(date, &y, &mo, &d, &h, &mi, &s)) return {};
    char buf[32];
    if (h == 0 && mi == 0 && s == 0)
        std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", y, mo, d);
    else
        std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
    return Widen(buf);
}

Variant Variant::FromString(std::u16string_view text) {
    Variant v;
    v.v_.vt = VT_BSTR;
    v.v_.bstrVal = AllocBstr(text);
    return v;
}

Variant Variant::FromInt(LONG value) {
    Variant v;
    v.v_.vt = VT_I4;
    v.v_.lVal = value;
    return v;
}

Variant Variant::FromDate(DATE value) {
    Variant v;
    v.v_.vt = VT_DATE;
    v.v_.date = value;
    return v;
}

Variant Variant::FromUnknown(IUnknown* object) {
    Variant v;
    v.v_.vt = VT_UNKNOWN;
    v.v_.punkVal = object;
    if (object) object->AddRef();
    return v;
}

void VariantArray::Reset() {
    if (array_) {
        for (LONG i = 0; i < count_; ++i) VariantClear(&array_[i]);
        CoTaskMemFree(array_);
    }
    array_ = nullptr;
    count_ = 0;
}

void VariantArray::Abandon() {
    CoTaskMemFree(array_);
    array_ = nullptr;
    count_ = 0;
}

}  // namespace platform
