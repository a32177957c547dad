// VARIANTs: the tagged values in which attributes cross the library boundary.
//
// Supported types: VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R4, VT_R8, VT_DATE,
// VT_BSTR, VT_BOOL, VT_UNKNOWN, VT_DISPATCH, VT_UI4. A VARIANT owns its BSTR
// and holds one reference on its object; VariantClear gives both up.
//
// Conversions (VariantChangeType) follow this platform's fixed rules rather
// than a user locale:
//  - text to numbers: optional surrounding spaces, an optional sign and decimal
//    digits ("12abc" and "seven" fail with DISP_E_TYPEMISMATCH); floating
//    types also take a fraction and an exponent; out of range gives
//    DISP_E_OVERFLOW; integers from fractions round half to even.
//  - numbers to text: decimal, the shortest text that reads back the same value.
//  - dates: days since 1899-12-30 (fraction = time of day). Text forms
//    "yyyy/MM/dd" and "yyyy/MM/dd HH:mm:ss" (also with "-" as the separator,
//    and "HH:mm" without seconds); a date at midnight is written without time.
//    Years 100 to 9999.
//  - booleans: VARIANT_TRUE (-1) and VARIANT_FALSE (0); to text "-1" / "0";
//    from text "True"/"False" (any case) or a number (non-zero is true).
//  - VT_UNKNOWN and VT_DISPATCH convert to nothing but themselves
//    (VT_DISPATCH to VT_UNKNOWN by QueryInterface).
#pragma once

#include <string>

#include "platform/com/memory.h"
#include "platform/com/unknown.h"

using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using DATE = double;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_BOOL = 11,
    VT_UNKNOWN = 13,
    VT_UI4 = 19,
};

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        DATE date;
        BSTR bstrVal;
        VARIANT_BOOL boolVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        ULONG ulVal;
    };
};
static_assert(sizeof(VARIANT) == 16, "VARIANT is 16 bytes: 8 of header, 8 of value");

void VariantInit(VARIANT* v);
// Releases what the VARIANT holds and makes it VT_EMPTY. Unknown types: DISP_E_BADVARTYPE.
HRESULT VariantClear(VARIANT* v);
// Clears dest, then copies src into it (a new BSTR, one more object reference).
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Converts src to vt into dest (dest may be src: in place). On failure dest is
// left as it was (for an in-place conversion, src is unchanged).
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt);

namespace platform {

// Date text and serial conversions with the rules above.
bool ParseDateText(std::u16string_view text, DATE* out);
std::u16string FormatDateText(DATE date);
// Builds a date from calendar parts; false when out of range.
bool DateFromParts(int year, int month, int day, int hour, int minute, int second, DATE* out);
bool PartsFromDate(DATE date, int* year, int* month, int* day, int* hour, int* minute, int* second);

// Owns one VARIANT (cleared on destruction).
class Variant {
  public:
    Variant() { VariantInit(&v_); }
    ~Variant() { VariantClear(&v_); }
    Variant(const Variant& o) {
        VariantInit(&v_);
        VariantCopy(&v_, &o.v_);
    }
    Variant& operator=(const Variant& o) {
        if (this != &o) VariantCopy(&v_, &o.v_);
        return *this;
    }
    static Variant FromString(std::u16string_view text);
    static Variant FromInt(LONG value);
    static Variant FromDate(DATE value);
    static Variant FromUnknown(IUnknown* object);  // adds a reference

    VARIANT* Get() { return &v_; }
    const VARIANT* Get() const { return &v_; }
    VARIANT* operator->() { return &v_; }
    const VARIANT* operator->() const { return &v_; }

  private:
    VARIANT v_;
};

// Owns an array of VARIANTs that a call handed out (allocated with
// CoTaskMemAlloc) together with its count, as MediaItem::GetAttribute gives
// them: on Reset and on destruction every element is cleared and then the
// array is freed, so no path leaks a string or an object reference. One
// object may be reused for many calls.
class VariantArray {
  public:
    VariantArray() = default;
    ~VariantArray() { Reset(); }
    VariantArray(const VariantArray&) = delete;
    VariantArray& operator=(const VariantArray&) = delete;

    // Clears each of the `Count()` elements and frees the array; afterwards
    // empty (count 0, no array).
    void Reset();
    // Frees the array without touching its elements: for what a failed call
    // left behind, whose count and elements are not to be trusted.
    // Afterwards empty.
    void Abandon();

    // The output arguments of a call that hands out a count and an array.
    // CountSlot frees what is held first, so pass it on every call.
    LONG* CountSlot() {
        Reset();
        return &count_;
    }
    VARIANT** ArraySlot() { return &array_; }

    // The count as the call gave it (0 when empty) and the array (may be null).
    LONG Count() const { return count_; }
    VARIANT* Array() const { return array_; }
    // True when an array with at least one element is held.
    bool HasValues() const { return array_ && count_ >= 1; }
    // The first element; null without values.
    VARIANT* First() const { return HasValues() ? array_ : nullptr; }

  private:
    LONG count_ = 0;
    VARIANT* array_ = nullptr;
};

}  // namespace platform
