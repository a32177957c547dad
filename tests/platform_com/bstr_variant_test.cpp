#include <gtest/gtest.h>

#include <cmath>

#include "platform/com/memory.h"
#include "platform/com/variant.h"

namespace {

using platform::Bstr;
using platform::Variant;

// An object that counts its references, to see what VARIANTs hold.
class Counted final : public platform::ComObject<Counted, IDispatch> {
  public:
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, ULONG, void**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPWSTR*, UINT, ULONG, LONG*) override { return E_NOTIMPL; }
    HRESULT Invoke(LONG, REFIID, ULONG, WORD, void*, void*, void*, UINT*) override { return E_NOTIMPL; }
    ULONG Refs() {
        AddRef();
        return Release();
    }
};

TEST(Bstr, LengthPrefixAndNullSafety) {
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    SysFreeString(nullptr);

    const char16_t with_nul[] = {u'a', 0, u'b'};
    BSTR s = SysAllocStringLen(with_nul, 3);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(SysStringByteLen(s), 6u);
    EXPECT_EQ(s[1], 0);
    EXPECT_EQ(s[3], 0) << "terminated after its length";
    SysFreeString(s);

    BSTR empty = platform::AllocBstr(u"");
    ASSERT_NE(empty, nullptr) << "an empty text is a valid, non-null BSTR";
    EXPECT_EQ(SysStringLen(empty), 0u);
    EXPECT_TRUE(SysReAllocString(&empty, u"longer text"));
    EXPECT_EQ(platform::BstrView(empty), u"longer text");
    SysFreeString(empty);
}

TEST(Bstr, OwnerCopiesAndReleases) {
    Bstr a(u"Title");
    Bstr b = a;
    EXPECT_NE(a.Get(), b.Get());
    EXPECT_EQ(b.View(), u"Title");
    Bstr c = std::move(a);
    EXPECT_EQ(a.Get(), nullptr);
    EXPECT_TRUE(a.Empty());
    EXPECT_EQ(c.View(), u"Title");
}

TEST(Variant, ClearAndCopyBalanceObjectReferences) {
    auto* object = new Counted();
    {
        Variant v = Variant::FromUnknown(object->AsUnknown());
        EXPECT_EQ(object->Refs(), 2u);
        Variant copy = v;
        EXPECT_EQ(object->Refs(), 3u);
        VariantClear(copy.Get());
        EXPECT_EQ(copy->vt, VT_EMPTY);
        EXPECT_EQ(object->Refs(), 2u);
    }
    EXPECT_EQ(object->Refs(), 1u);
    object->Release();
}

TEST(Variant, CopyDuplicatesStrings) {
    Variant a = Variant::FromString(u"abc");
    Variant b;
    ASSERT_EQ(VariantCopy(b.Get(), a.Get()), S_OK);
    EXPECT_NE(a->bstrVal, b->bstrVal);
    EXPECT_EQ(platform::BstrView(b->bstrVal), u"abc");
}

TEST(Variant, UnknownTypesAreRefused) {
    VARIANT v;
    VariantInit(&v);
    v.vt = 0x4000 | VT_I4;  // by-reference types are not supported
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    Variant out;
    EXPECT_EQ(VariantChangeType(out.Get(), &v, 0, VT_BSTR), DISP_E_BADVARTYPE);
}

HRESULT ChangeText(std::u16string_view text, VARTYPE vt, Variant* out) {
    Variant in = Variant::FromString(text);
    return VariantChangeType(out->Get(), in.Get(), 0, vt);
}

TEST(VariantChangeType, TextToNumbersIsStrict) {
    Variant v;
    ASSERT_EQ(ChangeText(u" 42 ", VT_I4, &v), S_OK);
    EXPECT_EQ(v->vt, VT_I4);
    EXPECT_EQ(v->lVal, 42);
    ASSERT_EQ(ChangeText(u"-7", VT_I4, &v), S_OK);
    EXPECT_EQ(v->lVal, -7);
    ASSERT_EQ(ChangeText(u"+3", VT_I2, &v), S_OK);
    EXPECT_EQ(v->iVal, 3);
    EXPECT_EQ(ChangeText(u"seven", VT_I4, &v), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(ChangeText(u"12abc", VT_I4, &v), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(ChangeText(u"", VT_I4, &v), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(ChangeText(u"0x10", VT_I4, &v), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(ChangeText(u"+-5", VT_I4, &v), DISP_E_TYPEMISMATCH) << "one sign only";
    EXPECT_EQ(ChangeText(u"+-2.5", VT_R8, &v), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(ChangeText(u"nan", VT_R8, &v), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(ChangeText(u"2147483648", VT_I4, &v), DISP_E_OVERFLOW);
    EXPECT_EQ(ChangeText(u"-1", VT_UI4, &v), DISP_E_OVERFLOW);
    EXPECT_EQ(ChangeText(u"40000", VT_I2, &v), DISP_E_OVERFLOW);
    ASSERT_EQ(ChangeText(u"183.5", VT_R8, &v), S_OK);
    EXPECT_DOUBLE_EQ(v->dblVal, 183.5);
    ASSERT_EQ(ChangeText(u"2.5", VT_I4, &v), S_OK);
    EXPECT_EQ(v->lVal, 2) << "fractions round half to even";
    ASSERT_EQ(ChangeText(u"3.5", VT_I4, &v), S_OK);
    EXPECT_EQ(v->lVal, 4);
}

TEST(VariantChangeType, NumbersToText) {
    Variant v = Variant::FromInt(-352000);
    ASSERT_EQ(VariantChangeType(v.Get(), v.Get(), 0, VT_BSTR), S_OK);
    EXPECT_EQ(platform::BstrView(v->bstrVal), u"-352000");

    Variant r;
    r->vt = VT_R8;
    r->dblVal = 0.1;
    ASSERT_EQ(VariantChangeType(r.Get(), r.Get(), 0, VT_BSTR), S_OK);
    EXPECT_EQ(platform::BstrView(r->bstrVal), u"0.1");

    Variant b;
    b->vt = VT_BOOL;
    b->boolVal = VARIANT_TRUE;
    ASSERT_EQ(VariantChangeType(b.Get(), b.Get(), 0, VT_BSTR), S_OK);
    EXPECT_EQ(platform::BstrView(b->bstrVal), u"-1");
}

TEST(VariantChangeType, TextToDatesInBothSeparatorForms) {
    Variant v;
    ASSERT_EQ(ChangeText(u"1999/01/01", VT_DATE, &v), S_OK);
    EXPECT_EQ(v->vt, VT_DATE);
    EXPECT_DOUBLE_EQ(v->date, 36161.0);
    ASSERT_EQ(ChangeText(u"1999-05-06", VT_DATE, &v), S_OK);
    EXPECT_DOUBLE_EQ(v->date, 36286.0);
    ASSERT_EQ(ChangeText(u"1899/12/30", VT_DATE, &v), S_OK);
    EXPECT_DOUBLE_EQ(v->date, 0.0);
    ASSERT_EQ(ChangeText(u"2000/01/01 12:00:00", VT_DATE, &v), S_OK);
    EXPECT_DOUBLE_EQ(v->date, 36526.5);
    ASSERT_EQ(ChangeText(u"2000/01/01 06:00", VT_DATE, &v), S_OK);
    EXPECT_DOUBLE_EQ(v->date, 36526.25);
    for (const char16_t* bad : {u"1999", u"seven", u"1999/13/01", u"1999/02/30", u"1999/01-01", u"99/01/01",
                                u"2000/01/01 25:00:00", u"0099/01/01"}) {
        Variant out;
        EXPECT_LT(ChangeText(bad, VT_DATE, &out), 0)
            << std::string(bad, bad + std::char_traits<char16_t>::length(bad));
    }
}

TEST(VariantChangeType, DatesToTextRoundTrip) {
    for (const char16_t* text :
         {u"1999/01/01", u"2000/01/01 12:34:56", u"1800/06/15 08:00:01", u"9999/12/31"}) {
        Variant v;
        ASSERT_EQ(ChangeText(text, VT_DATE, &v), S_OK);
        ASSERT_EQ(VariantChangeType(v.Get(), v.Get(), 0, VT_BSTR), S_OK);
        EXPECT_EQ(platform::BstrView(v->bstrVal), text);
    }
}

TEST(VariantChangeType, FailureLeavesInPlaceValueIntact) {
    Variant v = Variant::FromString(u"not a number");
    BSTR before = v->bstrVal;
    EXPECT_LT(VariantChangeType(v.Get(), v.Get(), 0, VT_I4), 0);
    EXPECT_EQ(v->vt, VT_BSTR);
    EXPECT_EQ(v->bstrVal, before);
}

TEST(VariantChangeType, NullAndObjectsDoNotBecomeText) {
    Variant null;
    null->vt = VT_NULL;
    Variant out;
    EXPECT_EQ(VariantChangeType(out.Get(), null.Get(), 0, VT_BSTR), DISP_E_TYPEMISMATCH);
    auto* object = new Counted();
    Variant unk = Variant::FromUnknown(object->AsUnknown());
    EXPECT_EQ(VariantChangeType(out.Get(), unk.Get(), 0, VT_BSTR), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(out.Get(), unk.Get(), 0, VT_UNKNOWN), S_OK);
    EXPECT_EQ(object->Refs(), 3u);
    object->Release();
}

TEST(VariantChangeType, EmptyBecomesZeroOrEmptyText) {
    Variant empty, out;
    ASSERT_EQ(VariantChangeType(out.Get(), empty.Get(), 0, VT_I4), S_OK);
    EXPECT_EQ(out->lVal, 0);
    ASSERT_EQ(VariantChangeType(out.Get(), empty.Get(), 0, VT_BSTR), S_OK);
    EXPECT_EQ(SysStringLen(out->bstrVal), 0u);
}

}  // namespace
