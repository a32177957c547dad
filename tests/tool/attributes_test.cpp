// The attribute listing, writing a list back, copying all attributes and the
// two small readers, against a fake item that records every call.
#include <gtest/gtest.h>

#include "fakes.h"
#include "helpers.h"
#include "tool/tags/attribute_list.h"

namespace {

using fakes::AttributeCall;
using fakes::FakeItem;
using fakes::FakePicture;
using platform::Variant;
using quillet::NameValueList;

ComPtr<FakeItem> NewItem() { return ComPtr<FakeItem>::Adopt(new FakeItem); }
ComPtr<FakePicture> NewPicture(size_t bytes) {
    return ComPtr<FakePicture>::Adopt(new FakePicture(std::vector<BYTE>(bytes, 0xAB)));
}

// The Set calls, as "id:[values]" lines.
std::vector<std::string> Sets(const FakeItem& item) {
    std::vector<std::string> out;
    for (const AttributeCall& call : item.calls) {
        if (call.op != "Set") continue;
        char id[16];
        std::snprintf(id, sizeof id, "%04X", call.id);
        std::string line = std::string(id) + ":" + std::to_string(call.count);
        for (const auto& v : call.values) line += " " + platform::Utf16ToUtf8(v);
        out.push_back(line);
    }
    return out;
}

std::vector<ULONG> Gets(const FakeItem& item) {
    std::vector<ULONG> out;
    for (const AttributeCall& call : item.calls)
        if (call.op == "Get") out.push_back(call.id);
    return out;
}

NameValueList List(std::initializer_list<std::pair<const char16_t*, const char16_t*>> entries) {
    NameValueList list;
    for (const auto& [name, value] : entries) list.Append(name, value);
    return list;
}

TEST(ReadAttributeList, ThirtyFourNamesInOrderWithFallbacksAndConversions) {
    auto item = NewItem();
    item->PutText(0x1207, u"Song");
    item->Put(0x1210, {Variant::FromString(u"First"), Variant::FromString(u"Second")});
    item->PutText(0x0207, u"Album from second id");
    item->PutInt(0x110F, 7);
    item->PutText(0x1236, u"1999");
    item->PutInt(0x1129, 128000);
    item->PutInt(0x111C, 16);
    DATE date = 0;
    ASSERT_TRUE(platform::DateFromParts(2003, 4, 5, 6, 7, 8, &date));
    item->Put(0x1404, {Variant::FromDate(date)});
    item->PutText(0x122C, std::u16string(120, u'l'));
    auto picture = NewPicture(10);
    const ULONG picture_refs = picture->References();
    item->Put(0x1245, {Variant::FromUnknown(picture->AsUnknown())});  // not convertible to text
    item->Put(0x122D, {Variant::FromUnknown(picture->AsUnknown())});  // notes held as no string

    NameValueList list;
    list.Append(u"Existing", u"entry");
    quillet::ReadAttributeList(item.Get(), list);
    ASSERT_EQ(list.Size(), 35u);
    const std::vector<std::u16string> names = {u"Title",         u"SortTitle",       u"Subtitle",
                                               u"SortSubtitle",  u"Artist",          u"SortArtist",
                                               u"ArtistURL",     u"Album",           u"SortAlbum",
                                               u"AlbumArtist",   u"SortAlbumArtist", u"Genre",
                                               u"Composer",      u"Lyricist",        u"TrackNumber",
                                               u"TotalTracks",   u"Release",         u"Import",
                                               u"Duration",      u"MilliSecond",     u"Size",
                                               u"Format",        u"Codec",           u"BitRate",
                                               u"Frequency",     u"BitDepth",        u"Channel",
                                               u"Location",      u"Extension",       u"LyricsText",
                                               u"LyricsPicture", u"LinerNotesText",  u"LinerNotesPicture",
                                               u"Jacket"};
    for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(list[i + 1].name, names[i]);
    auto value = [&](const char16_t* name) {
        EXPECT_TRUE(list.Find(name));
        return list.Current()->value;
    };
    EXPECT_EQ(value(u"Title"), u"Song");
    EXPECT_EQ(value(u"Artist"), u"First");
    EXPECT_EQ(value(u"Album"), u"Album from second id");
    EXPECT_EQ(value(u"TrackNumber"), u"7");
    EXPECT_EQ(value(u"Release"), u"1999");
    EXPECT_EQ(value(u"BitRate"), u"128000");
    EXPECT_EQ(value(u"BitDepth"), u"16");
    EXPECT_EQ(value(u"Import"), u"2003/04/05 06:07:08");
    EXPECT_EQ(value(u"Location"), u"");
    EXPECT_EQ(value(u"LyricsText"), u"120");
    EXPECT_EQ(value(u"LinerNotesText"), u"");
    EXPECT_EQ(value(u"Jacket"), u"");
    // Every array was cleared: the picture holds only the item's references.
    EXPECT_EQ(picture->References(), picture_refs + 2);

    // The fallback id is read only when the first gives nothing.
    const std::vector<ULONG> gets = Gets(*item.Get());
    auto position = [&](ULONG id) { return std::find(gets.begin(), gets.end(), id) - gets.begin(); };
    EXPECT_EQ(position(0x0207), position(0x120C) + 1);
    EXPECT_EQ(std::count(gets.begin(), gets.end(), 0x1230u), 1);
    EXPECT_EQ(std::count(gets.begin(), gets.end(), 0x0207u), 1);
}

TEST(ReadAttributeList, EmptyLyricsGiveZeroAndMissingOnesNothing) {
    auto item = NewItem();
    item->PutText(0x122C, u"");
    NameValueList list;
    quillet::ReadAttributeList(item.Get(), list);
    ASSERT_TRUE(list.Find(u"LyricsText"));
    EXPECT_EQ(list.Current()->value, u"0");
}

TEST(WriteAttributeList, TextValuesReplaceTheFirstValueAndKeepTheRest) {
    auto item = NewItem();
    auto picture = NewPicture(4);
    item->Put(0x1208, {Variant::FromString(u"Rock"), Variant::FromUnknown(picture->AsUnknown())});
    const ULONG refs = picture->References();
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"genre", u"Jazz"}, {u"Title", u"T"}})));
    EXPECT_EQ(Sets(*item.Get()), (std::vector<std::string>{"1208:2 BSTR:Jazz UNKNOWN", "1207:1 BSTR:T"}));
    EXPECT_EQ(item->Text(0x1208), u"Jazz");
    EXPECT_EQ(picture->References(), refs);  // the array read for the write was freed
}

TEST(WriteAttributeList, AbsentValueRemovesASingleValueButBlanksTheFirstOfTwo) {
    auto item = NewItem();
    item->PutText(0x1213, u"One composer");
    item->Put(0x1212, {Variant::FromString(u"A"), Variant::FromString(u"B")});
    EXPECT_TRUE(quillet::WriteAttributeList(
        item.Get(), List({{u"Composer", nullptr}, {u"Lyricist", u""}, {u"Subtitle", nullptr}})));
    EXPECT_EQ(Sets(*item.Get()), (std::vector<std::string>{"1213:0", "1212:2 BSTR: BSTR:B", "1230:0"}));
    EXPECT_FALSE(item->Has(0x1213));
}

TEST(WriteAttributeList, RemovalCountsWhateverTheLibraryAnswersButAFailedWriteDoesNot) {
    auto item = NewItem();
    item->set_failures[0x1230] = E_FAIL;
    item->set_failures[0x1207] = E_FAIL;
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"Subtitle", nullptr}})));
    EXPECT_FALSE(quillet::WriteAttributeList(item.Get(), List({{u"Title", u"x"}})));
}

TEST(WriteAttributeList, ReadFailureUsesASingleLocalValue) {
    auto item = NewItem();
    item->get_failures[0x1610] = E_UNEXPECTED;
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"SortArtist", u"S"}})));
    EXPECT_EQ(Sets(*item.Get()), (std::vector<std::string>{"1610:1 BSTR:S"}));
}

TEST(WriteAttributeList, UnknownAndReadOnlyNamesChangeNothing) {
    auto item = NewItem();
    EXPECT_FALSE(quillet::WriteAttributeList(
        item.Get(), List({{u" Title", u"x"}, {u"Size", u"1"}, {u"LyricsText", u"x"}, {nullptr, u"v"}})));
    EXPECT_TRUE(item->calls.empty());
}

TEST(WriteAttributeList, NumbersAndDatesConvertOrLeaveTheAttributeAlone) {
    auto item = NewItem();
    item->PutInt(0x1100, 100);
    EXPECT_TRUE(quillet::WriteAttributeList(
        item.Get(),
        List({{u"Duration", u"245"}, {u"MilliSecond", u"abc"}, {u"Import", u"2001/02/03 04:05:06"}})));
    EXPECT_EQ(Sets(*item.Get()),
              (std::vector<std::string>{"1100:1 I4:245", "1404:1 DATE:2001/02/03 04:05:06"}));
    EXPECT_FALSE(quillet::WriteAttributeList(item.Get(), List({{u"TotalTracks", u"twelve"}})));
}

// A negative number is refused like any other text that is no number: the
// attribute keeps its value and nothing counts as changed.
TEST(WriteAttributeList, NegativeNumbersAreRefused) {
    auto item = NewItem();
    item->PutInt(0x1105, 4);
    item->PutInt(0x112D, 9);
    EXPECT_FALSE(quillet::WriteAttributeList(
        item.Get(), List({{u"TrackNumber", u"-5"}, {u"TotalTracks", u"-1"}, {u"Duration", u"-3"}})));
    EXPECT_TRUE(Sets(*item.Get()).empty());
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"TrackNumber", u"-5/10"}})));
    EXPECT_EQ(Sets(*item.Get()), (std::vector<std::string>{"112D:1 I4:10"}));
}

TEST(WriteAttributeList, AlbumGoesToBothIds) {
    auto item = NewItem();
    item->PutText(0x0207, u"Old");
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"Album", u"New"}})));
    EXPECT_EQ(Sets(*item.Get()), (std::vector<std::string>{"120C:1 BSTR:New", "0207:1 BSTR:New"}));
    EXPECT_EQ(Gets(*item.Get()), (std::vector<ULONG>{0x120C, 0x0207}));

    item->calls.clear();
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"Album", nullptr}})));
    EXPECT_EQ(Sets(*item.Get()), (std::vector<std::string>{"120C:0", "0207:0"}));
}

TEST(WriteAttributeList, TrackNumberWithTotal) {
    auto item = NewItem();
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"TrackNumber", u"3/12"}})));
    EXPECT_EQ(Sets(*item.Get()), (std::vector<std::string>{"112D:1 I4:12", "1105:1 I4:3", "110F:1 I4:3"}));

    item->calls.clear();
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"TrackNumber", u"4"}})));
    EXPECT_EQ(Sets(*item.Get()), (std::vector<std::string>{"1105:1 I4:4", "110F:1 I4:4"}));

    item->calls.clear();
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"TrackNumber", u"/20"}})));
    EXPECT_EQ(Sets(*item.Get()), (std::vector<std::string>{"112D:1 I4:20"}));

    item->calls.clear();
    EXPECT_FALSE(quillet::WriteAttributeList(item.Get(), List({{u"TrackNumber", u"x/"}})));
    EXPECT_TRUE(Sets(*item.Get()).empty());

    item->calls.clear();
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"TrackNumber", nullptr}})));
    EXPECT_EQ(Sets(*item.Get()), (std::vector<std::string>{"1105:0", "110F:0"}));
}

TEST(WriteAttributeList, ReleaseWritesYearTextAndDate) {
    auto item = NewItem();
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"Release", u"2000/01/01"}})));
    EXPECT_EQ(Sets(*item.Get()), (std::vector<std::string>{"1236:1 BSTR:2000", "1400:1 DATE:2000/01/01"}));

    item->calls.clear();
    item->PutInt(0x1400, 1);  // an old full date
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"Release", u"1999"}})));
    // A bare year is no date: the old date goes, or the listing would still show it.
    EXPECT_EQ(Sets(*item.Get()), (std::vector<std::string>{"1236:1 BSTR:1999", "1400:0"}));

    item->calls.clear();
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"release", nullptr}})));
    EXPECT_EQ(Sets(*item.Get()), (std::vector<std::string>{"1236:0", "1400:0"}));
}

TEST(CopyAllAttributes, CopiesEveryAttributeThenClosesTheBase) {
    auto base = NewItem();
    auto target = NewItem();
    auto picture = NewPicture(3);
    base->PutText(0x1207, u"T");
    base->Put(0x122A, {Variant::FromUnknown(picture->AsUnknown())});
    base->PutInt(0x1105, 2);
    const ULONG refs = picture->References();
    quillet::CopyAllAttributes(base.Get(), target.Get());
    EXPECT_EQ(Sets(*target.Get()),
              (std::vector<std::string>{"1207:1 BSTR:T", "122A:1 UNKNOWN", "1105:1 I4:2"}));
    EXPECT_EQ(base->close_count, 1);
    EXPECT_EQ(target->close_count, 0);
    EXPECT_EQ(picture->References(), refs + 1);  // the target's copy, nothing leaked
}

TEST(CopyAllAttributes, EmptyBaseCopiesNothingButIsClosed) {
    auto base = NewItem();
    auto target = NewItem();
    quillet::CopyAllAttributes(base.Get(), target.Get());
    EXPECT_TRUE(target->calls.empty());
    EXPECT_EQ(base->close_count, 1);
}

TEST(CopyAllAttributes, AFailedReadsLeftoversAreFreedWithoutBeingCleared) {
    auto base = NewItem();
    auto target = NewItem();
    auto picture = NewPicture(3);
    base->PutText(0x1207, u"T");
    base->PutText(0x1210, u"A");
    base->get_failures[0x1207] = E_FAIL;
    base->failure_leftovers[0x1207] = picture->AsUnknown();
    const ULONG refs = picture->References();
    quillet::CopyAllAttributes(base.Get(), target.Get());
    EXPECT_EQ(Sets(*target.Get()), (std::vector<std::string>{"1210:1 BSTR:A"}));
    EXPECT_EQ(picture->References(), refs);  // a reference the caller never held was not released
    EXPECT_EQ(base->close_count, 1);
}

TEST(SmallReaders, ContentLengthFreesAFailedReadsLeftoversWithoutClearingThem) {
    auto item = NewItem();
    auto picture = NewPicture(10);
    item->PutText(0x122C, u"lyrics");
    item->get_failures[0x122C] = E_FAIL;
    item->failure_leftovers[0x122C] = picture->AsUnknown();
    const ULONG refs = picture->References();
    EXPECT_EQ(quillet::AttributeContentLength(item.Get(), 0x122C), 0u);
    EXPECT_EQ(picture->References(), refs);
}

TEST(SmallReaders, IntegerAndContentLength) {
    auto item = NewItem();
    item->PutInt(0x1103, 132000);
    item->PutText(0x1104, u"5");
    auto picture = NewPicture(1000);
    item->Put(0x1207, {Variant::FromString(u"abc"), Variant::FromString(u"de"), Variant::FromInt(7),
                       Variant::FromUnknown(picture->AsUnknown())});
    const ULONG refs = picture->References();
    EXPECT_EQ(quillet::ReadIntegerAttribute(item.Get(), 0x1103), 132000);
    EXPECT_EQ(quillet::ReadIntegerAttribute(item.Get(), 0x1104), 0);
    EXPECT_EQ(quillet::ReadIntegerAttribute(item.Get(), 0x9999), 0);
    EXPECT_EQ(quillet::AttributeContentLength(item.Get(), 0x1207), 1005u);
    EXPECT_EQ(quillet::AttributeContentLength(item.Get(), 0x9999), 0u);
    EXPECT_EQ(picture->References(), refs);
}

}  // namespace
