// The attribute read both deliverables share: which ids are asked for, when
// the fallback id stands in, what a failed call's leftovers cost, and the
// first value as text. Run under the sanitizers, every array that is not
// freed, or freed beyond what was handed out, fails the test.
#include "library/attribute_read.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "library/media_ids.h"
#include "support/fake_media_library.h"

namespace attr = medialib::attr;

namespace {

using testsupport::FakeMediaItem;

ComPtr<FakeMediaItem> NewItem() { return FakeMediaItem::Make(); }

std::u16string Text(platform::VariantArray& values) {
    return library::FirstAsText(values).value_or(u"<none>");
}

TEST(ReadAttribute, AValueOfTheFirstIdLeavesTheFallbackUnread) {
    auto item = NewItem();
    item->PutTexts(attr::Title, {u"Title", u"Second"});
    item->PutTexts(attr::AlbumAlt, {u"Other"});
    platform::VariantArray values;
    ASSERT_TRUE(library::ReadAttribute(item.Get(), attr::Title, attr::AlbumAlt, values));
    EXPECT_EQ(values.Count(), 2);
    EXPECT_EQ(Text(values), u"Title");
    EXPECT_EQ(item->Gets(), (std::vector<ULONG>{attr::Title}));
}

TEST(ReadAttribute, TheFallbackStandsInForAFailureNoValueOrNoArray) {
    const std::function<void(FakeMediaItem&)> firsts[] = {
        [](FakeMediaItem& item) { item.get_failures[attr::Album] = E_FAIL; },
        [](FakeMediaItem& item) { item.Put(attr::Album, {}); },  // success, an array, no value
        [](FakeMediaItem& item) { item.null_arrays.insert(attr::Album); },
    };
    for (const auto& first : firsts) {
        auto item = NewItem();
        first(*item.Get());
        item->PutTexts(attr::AlbumAlt, {u"Album"});
        platform::VariantArray values;
        ASSERT_TRUE(library::ReadAttribute(item.Get(), attr::Album, attr::AlbumAlt, values));
        EXPECT_EQ(Text(values), u"Album");
        EXPECT_EQ(item->Gets(), (std::vector<ULONG>{attr::Album, attr::AlbumAlt}));
    }
}

TEST(ReadAttribute, WithoutAValueAnywhereTheArrayIsEmpty) {
    auto item = NewItem();
    platform::VariantArray values;
    EXPECT_FALSE(library::ReadAttribute(item.Get(), attr::Composer, 0, values));
    EXPECT_EQ(item->Gets(), (std::vector<ULONG>{attr::Composer}));  // fallback id 0: none
    EXPECT_EQ(values.Count(), 0);
    EXPECT_EQ(values.Array(), nullptr);
    EXPECT_EQ(values.First(), nullptr);
    EXPECT_FALSE(library::FirstAsText(values));

    item->calls.clear();
    EXPECT_FALSE(library::ReadAttribute(item.Get(), attr::Jacket, attr::JacketAlt, values));
    EXPECT_EQ(item->Gets(), (std::vector<ULONG>{attr::Jacket, attr::JacketAlt}));
    EXPECT_EQ(values.Array(), nullptr);
}

TEST(ReadAttribute, AFailedCallsArrayIsFreedWithoutTrustingItsCount) {
    // The call fails, yet counts five values over an array of one: clearing
    // by that count would run past the array.
    auto item = NewItem();
    for (ULONG id : {attr::TrackNumber, attr::TrackNumberAlt}) {
        item->get_failures[id] = E_FAIL;
        item->failure_leftovers[id] = nullptr;
        item->failure_counts[id] = 5;
    }
    platform::VariantArray values;
    EXPECT_FALSE(library::ReadAttribute(item.Get(), attr::TrackNumber, attr::TrackNumberAlt, values));
    EXPECT_EQ(values.Count(), 0);
    EXPECT_EQ(values.Array(), nullptr);
}

TEST(ReadAttribute, OneArrayServesManyReads) {
    auto item = NewItem();
    item->PutTexts(1, {u"one", u"more"});
    item->PutTexts(2, {u"two"});
    platform::VariantArray values;
    for (ULONG id : {1u, 2u, 3u, 1u}) library::ReadAttribute(item.Get(), id, 0, values);
    EXPECT_EQ(Text(values), u"one");  // the earlier arrays were cleared and freed on the way
}

TEST(FirstAsText, ConvertsTheFirstValueInPlace) {
    auto item = NewItem();
    item->PutInt(1, 7);
    platform::Variant null_text;
    null_text->vt = VT_BSTR;
    null_text->bstrVal = nullptr;
    item->Put(2, {null_text});
    item->Put(3, {platform::Variant::FromUnknown(nullptr)});

    platform::VariantArray values;
    ASSERT_TRUE(library::ReadAttribute(item.Get(), 1, 0, values));
    EXPECT_EQ(library::FirstAsText(values), u"7");
    EXPECT_EQ(values.First()->vt, VT_BSTR);
    EXPECT_FALSE(library::FirstAs(values, VT_DATE));  // "7" is no date text

    ASSERT_TRUE(library::ReadAttribute(item.Get(), 2, 0, values));
    EXPECT_EQ(library::FirstAsText(values), u"");  // a null string is the empty text

    ASSERT_TRUE(library::ReadAttribute(item.Get(), 3, 0, values));
    EXPECT_FALSE(library::FirstAsText(values));
    EXPECT_EQ(values.First()->vt, VT_UNKNOWN);  // a failed conversion leaves the value as it was
}

}  // namespace
