// The attribute read both deliverables share: which ids are asked for, when
// the fallback id stands in, what a failed call's leftovers cost, and the
// first value as text. Run under the sanitizers, every array that is not
// freed, or freed beyond what was handed out, fails the test.
#include "library/attribute_read.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "support/media_library_stubs.h"

namespace {

// How GetAttribute answers for one id.
struct Answer {
    HRESULT hr = S_OK;
    LONG count = 0;
    std::vector<platform::Variant> values;  // copied into a fresh array
    bool array = true;                      // false: no array however many values are counted
};

class ScriptedItem final : public testsupport::StubMediaItem {
  public:
    // Lives on the test's stack.
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }

    HRESULT GetAttribute(ULONG id, LONG* count, VARIANT** values) override {
        asked.push_back(id);
        *count = 0;
        *values = nullptr;
        auto it = answers.find(id);
        if (it == answers.end()) return E_FAIL;
        const Answer& a = it->second;
        *count = a.count;
        if (a.array) {
            auto* array = static_cast<VARIANT*>(CoTaskMemAlloc(sizeof(VARIANT) * (a.values.size() + 1)));
            for (size_t i = 0; i < a.values.size(); ++i) {
                VariantInit(&array[i]);
                VariantCopy(&array[i], a.values[i].Get());
            }
            *values = array;
        }
        return a.hr;
    }

    std::map<ULONG, Answer> answers;
    std::vector<ULONG> asked;
};

Answer Texts(std::initializer_list<std::u16string_view> texts) {
    Answer a;
    for (auto text : texts) a.values.push_back(platform::Variant::FromString(text));
    a.count = static_cast<LONG>(a.values.size());
    return a;
}

std::u16string Text(platform::VariantArray& values) {
    return library::FirstAsText(values).value_or(u"<none>");
}

TEST(ReadAttribute, AValueOfTheFirstIdLeavesTheFallbackUnread) {
    ScriptedItem item;
    item.answers[0x1207] = Texts({u"Title", u"Second"});
    item.answers[0x0207] = Texts({u"Other"});
    platform::VariantArray values;
    ASSERT_TRUE(library::ReadAttribute(&item, 0x1207, 0x0207, values));
    EXPECT_EQ(values.Count(), 2);
    EXPECT_EQ(Text(values), u"Title");
    EXPECT_EQ(item.asked, (std::vector<ULONG>{0x1207}));
}

TEST(ReadAttribute, TheFallbackStandsInForAFailureNoValueOrNoArray) {
    Answer failed;
    failed.hr = E_FAIL;
    Answer empty;  // success, an array, no value
    Answer no_array;
    no_array.count = 1;
    no_array.array = false;
    for (const Answer* first : {&failed, &empty, &no_array}) {
        ScriptedItem item;
        item.answers[0x120C] = *first;
        item.answers[0x0207] = Texts({u"Album"});
        platform::VariantArray values;
        ASSERT_TRUE(library::ReadAttribute(&item, 0x120C, 0x0207, values));
        EXPECT_EQ(Text(values), u"Album");
        EXPECT_EQ(item.asked, (std::vector<ULONG>{0x120C, 0x0207}));
    }
}

TEST(ReadAttribute, WithoutAValueAnywhereTheArrayIsEmpty) {
    ScriptedItem item;
    platform::VariantArray values;
    EXPECT_FALSE(library::ReadAttribute(&item, 0x1213, 0, values));
    EXPECT_EQ(item.asked, (std::vector<ULONG>{0x1213}));  // fallback id 0: none
    EXPECT_EQ(values.Count(), 0);
    EXPECT_EQ(values.Array(), nullptr);
    EXPECT_EQ(values.First(), nullptr);
    EXPECT_FALSE(library::FirstAsText(values));

    item.asked.clear();
    EXPECT_FALSE(library::ReadAttribute(&item, 0x122A, 0x1220, values));
    EXPECT_EQ(item.asked, (std::vector<ULONG>{0x122A, 0x1220}));
    EXPECT_EQ(values.Array(), nullptr);
}

TEST(ReadAttribute, AFailedCallsArrayIsFreedWithoutTrustingItsCount) {
    // The call fails, yet counts five values over an array of one: clearing
    // by that count would run past the array.
    Answer lying;
    lying.hr = E_FAIL;
    lying.count = 5;
    ScriptedItem item;
    item.answers[0x1105] = lying;
    item.answers[0x110F] = lying;
    platform::VariantArray values;
    EXPECT_FALSE(library::ReadAttribute(&item, 0x1105, 0x110F, values));
    EXPECT_EQ(values.Count(), 0);
    EXPECT_EQ(values.Array(), nullptr);
}

TEST(ReadAttribute, OneArrayServesManyReads) {
    ScriptedItem item;
    item.answers[1] = Texts({u"one", u"more"});
    item.answers[2] = Texts({u"two"});
    platform::VariantArray values;
    for (ULONG id : {1u, 2u, 3u, 1u}) library::ReadAttribute(&item, id, 0, values);
    EXPECT_EQ(Text(values), u"one");  // the earlier arrays were cleared and freed on the way
}

TEST(FirstAsText, ConvertsTheFirstValueInPlace) {
    ScriptedItem item;
    item.answers[1] = Answer{S_OK, 1, {platform::Variant::FromInt(7)}, true};
    platform::Variant null_text;
    null_text->vt = VT_BSTR;
    null_text->bstrVal = nullptr;
    item.answers[2] = Answer{S_OK, 1, {null_text}, true};
    item.answers[3] = Answer{S_OK, 1, {platform::Variant::FromUnknown(nullptr)}, true};

    platform::VariantArray values;
    ASSERT_TRUE(library::ReadAttribute(&item, 1, 0, values));
    EXPECT_EQ(library::FirstAsText(values), u"7");
    EXPECT_EQ(values.First()->vt, VT_BSTR);
    EXPECT_FALSE(library::FirstAs(values, VT_DATE));  // "7" is no date text

    ASSERT_TRUE(library::ReadAttribute(&item, 2, 0, values));
    EXPECT_EQ(library::FirstAsText(values), u"");  // a null string is the empty text

    ASSERT_TRUE(library::ReadAttribute(&item, 3, 0, values));
    EXPECT_FALSE(library::FirstAsText(values));
    EXPECT_EQ(values.First()->vt, VT_UNKNOWN);  // a failed conversion leaves the value as it was
}

}  // namespace
