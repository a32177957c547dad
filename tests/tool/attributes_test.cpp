// The attribute listing, writing a list back, copying all attributes and the
// two small readers, against a fake item that records every call.
#include <gtest/gtest.h>

#include "helpers.h"
#include "library/media_ids.h"
#include "support/fake_media_library.h"
#include "tool/tags/attribute_list.h"

namespace attr = medialib::attr;

namespace {

using platform::Variant;
using quillet::NameValueList;
using testsupport::FakeMediaItem;
using testsupport::FakeMediaPicture;

ComPtr<FakeMediaItem> NewItem() { return FakeMediaItem::Make(); }
ComPtr<FakeMediaPicture> NewPicture(size_t bytes) {
    return FakeMediaPicture::Make(std::vector<uint8_t>(bytes, 0xAB));
}

// The Set calls, as "Set(<name> [<values>])".
std::vector<std::string> Sets(const FakeMediaItem& item) { return item.Entries("Set("); }

std::vector<ULONG> Gets(const FakeMediaItem& item) {
    std::vector<ULONG> out;
    for (const testsupport::ItemCall& call : item.calls)
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
    item->PutText(attr::Title, u"Song");
    item->Put(attr::Artist, {Variant::FromString(u"First"), Variant::FromString(u"Second")});
    item->PutText(attr::AlbumAlt, u"Album from second id");
    item->PutInt(attr::TrackNumberAlt, 7);
    item->PutText(attr::ReleaseYear, u"1999");
    item->PutInt(attr::BitRateAlt, 128000);
    item->PutInt(attr::BitDepthAlt, 16);
    DATE date = 0;
    ASSERT_TRUE(platform::DateFromParts(2003, 4, 5, 6, 7, 8, &date));
    item->Put(attr::Import, {Variant::FromDate(date)});
    item->PutText(attr::LyricsText, std::u16string(120, u'l'));
    auto picture = NewPicture(10);
    const ULONG picture_refs = picture->References();
    item->Put(attr::Location, {Variant::FromUnknown(picture->AsUnknown())});        // not convertible to text
    item->Put(attr::LinerNotesText, {Variant::FromUnknown(picture->AsUnknown())});  // notes held as no string

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
    EXPECT_EQ(position(attr::AlbumAlt), position(attr::Album) + 1);
    EXPECT_EQ(std::count(gets.begin(), gets.end(), attr::Subtitle), 1);
    EXPECT_EQ(std::count(gets.begin(), gets.end(), 0x0207u), 1);
}

TEST(ReadAttributeList, EmptyLyricsGiveZeroAndMissingOnesNothing) {
    auto item = NewItem();
    item->PutText(attr::LyricsText, u"");
    NameValueList list;
    quillet::ReadAttributeList(item.Get(), list);
    ASSERT_TRUE(list.Find(u"LyricsText"));
    EXPECT_EQ(list.Current()->value, u"0");
}

TEST(WriteAttributeList, TextValuesReplaceTheFirstValueAndKeepTheRest) {
    auto item = NewItem();
    auto picture = NewPicture(4);
    item->Put(attr::Genre, {Variant::FromString(u"Rock"), Variant::FromUnknown(picture->AsUnknown())});
    const ULONG refs = picture->References();
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"genre", u"Jazz"}, {u"Title", u"T"}})));
    EXPECT_EQ(Sets(*item.Get()),
              (std::vector<std::string>{"Set(Genre [BSTR:Jazz UNKNOWN])", "Set(Title [BSTR:T])"}));
    EXPECT_EQ(item->Text(attr::Genre), u"Jazz");
    EXPECT_EQ(picture->References(), refs);  // the array read for the write was freed
}

TEST(WriteAttributeList, AbsentValueRemovesASingleValueButBlanksTheFirstOfTwo) {
    auto item = NewItem();
    item->PutText(attr::Composer, u"One composer");
    item->Put(attr::Lyricist, {Variant::FromString(u"A"), Variant::FromString(u"B")});
    EXPECT_TRUE(quillet::WriteAttributeList(
        item.Get(), List({{u"Composer", nullptr}, {u"Lyricist", u""}, {u"Subtitle", nullptr}})));
    EXPECT_EQ(Sets(*item.Get()), (std::vector<std::string>{"Set(Composer [])", "Set(Lyricist [BSTR: BSTR:B])",
                                                           "Set(Subtitle [])"}));
    EXPECT_FALSE(item->Has(attr::Composer));
}

TEST(WriteAttributeList, RemovalCountsWhateverTheLibraryAnswersButAFailedWriteDoesNot) {
    auto item = NewItem();
    item->set_failures[attr::Subtitle] = E_FAIL;
    item->set_failures[attr::Title] = E_FAIL;
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"Subtitle", nullptr}})));
    EXPECT_FALSE(quillet::WriteAttributeList(item.Get(), List({{u"Title", u"x"}})));
}

TEST(WriteAttributeList, ReadFailureUsesASingleLocalValue) {
    auto item = NewItem();
    item->get_failures[attr::SortArtist] = E_UNEXPECTED;
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"SortArtist", u"S"}})));
    EXPECT_EQ(Sets(*item.Get()), (std::vector<std::string>{"Set(SortArtist [BSTR:S])"}));
}

TEST(WriteAttributeList, UnknownAndReadOnlyNamesChangeNothing) {
    auto item = NewItem();
    EXPECT_FALSE(quillet::WriteAttributeList(
        item.Get(), List({{u" Title", u"x"}, {u"Size", u"1"}, {u"LyricsText", u"x"}, {nullptr, u"v"}})));
    EXPECT_TRUE(item->calls.empty());
}

TEST(WriteAttributeList, NumbersAndDatesConvertOrLeaveTheAttributeAlone) {
    auto item = NewItem();
    item->PutInt(attr::Duration, 100);
    EXPECT_TRUE(quillet::WriteAttributeList(
        item.Get(),
        List({{u"Duration", u"245"}, {u"MilliSecond", u"abc"}, {u"Import", u"2001/02/03 04:05:06"}})));
    EXPECT_EQ(Sets(*item.Get()),
              (std::vector<std::string>{"Set(Duration [I4:245])", "Set(Import [DATE:2001/02/03 04:05:06])"}));
    EXPECT_FALSE(quillet::WriteAttributeList(item.Get(), List({{u"TotalTracks", u"twelve"}})));
}

// A negative number is refused like any other text that is no number: the
// attribute keeps its value and nothing counts as changed.
TEST(WriteAttributeList, NegativeNumbersAreRefused) {
    auto item = NewItem();
    item->PutInt(attr::TrackNumber, 4);
    item->PutInt(attr::TotalTracks, 9);
    EXPECT_FALSE(quillet::WriteAttributeList(
        item.Get(), List({{u"TrackNumber", u"-5"}, {u"TotalTracks", u"-1"}, {u"Duration", u"-3"}})));
    EXPECT_TRUE(Sets(*item.Get()).empty());
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"TrackNumber", u"-5/10"}})));
    EXPECT_EQ(Sets(*item.Get()), (std::vector<std::string>{"Set(TotalTracks [I4:10])"}));
}

TEST(WriteAttributeList, AlbumGoesToBothIds) {
    auto item = NewItem();
    item->PutText(attr::AlbumAlt, u"Old");
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"Album", u"New"}})));
    EXPECT_EQ(Sets(*item.Get()),
              (std::vector<std::string>{"Set(Album [BSTR:New])", "Set(AlbumAlt [BSTR:New])"}));
    EXPECT_EQ(Gets(*item.Get()), (std::vector<ULONG>{attr::Album, attr::AlbumAlt}));

    item->calls.clear();
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"Album", nullptr}})));
    EXPECT_EQ(Sets(*item.Get()), (std::vector<std::string>{"Set(Album [])", "Set(AlbumAlt [])"}));
}

TEST(WriteAttributeList, TrackNumberWithTotal) {
    auto item = NewItem();
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"TrackNumber", u"3/12"}})));
    EXPECT_EQ(Sets(*item.Get()),
              (std::vector<std::string>{"Set(TotalTracks [I4:12])", "Set(TrackNumber [I4:3])",
                                        "Set(TrackNumberAlt [I4:3])"}));

    item->calls.clear();
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"TrackNumber", u"4"}})));
    EXPECT_EQ(Sets(*item.Get()),
              (std::vector<std::string>{"Set(TrackNumber [I4:4])", "Set(TrackNumberAlt [I4:4])"}));

    item->calls.clear();
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"TrackNumber", u"/20"}})));
    EXPECT_EQ(Sets(*item.Get()), (std::vector<std::string>{"Set(TotalTracks [I4:20])"}));

    item->calls.clear();
    EXPECT_FALSE(quillet::WriteAttributeList(item.Get(), List({{u"TrackNumber", u"x/"}})));
    EXPECT_TRUE(Sets(*item.Get()).empty());

    item->calls.clear();
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"TrackNumber", nullptr}})));
    EXPECT_EQ(Sets(*item.Get()), (std::vector<std::string>{"Set(TrackNumber [])", "Set(TrackNumberAlt [])"}));
}

TEST(WriteAttributeList, ReleaseWritesYearTextAndDate) {
    auto item = NewItem();
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"Release", u"2000/01/01"}})));
    EXPECT_EQ(Sets(*item.Get()),
              (std::vector<std::string>{"Set(ReleaseYear [BSTR:2000])", "Set(Release [DATE:2000/01/01])"}));

    item->calls.clear();
    item->PutInt(attr::Release, 1);  // an old full date
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"Release", u"1999"}})));
    // A bare year is no date: the old date goes, or the listing would still show it.
    EXPECT_EQ(Sets(*item.Get()),
              (std::vector<std::string>{"Set(ReleaseYear [BSTR:1999])", "Set(Release [])"}));

    item->calls.clear();
    EXPECT_TRUE(quillet::WriteAttributeList(item.Get(), List({{u"release", nullptr}})));
    EXPECT_EQ(Sets(*item.Get()), (std::vector<std::string>{"Set(ReleaseYear [])", "Set(Release [])"}));
}

TEST(CopyAllAttributes, CopiesEveryAttributeThenClosesTheBase) {
    auto base = NewItem();
    auto target = NewItem();
    auto picture = NewPicture(3);
    base->PutText(attr::Title, u"T");
    base->Put(attr::Jacket, {Variant::FromUnknown(picture->AsUnknown())});
    base->PutInt(attr::TrackNumber, 2);
    const ULONG refs = picture->References();
    quillet::CopyAllAttributes(base.Get(), target.Get());
    EXPECT_EQ(Sets(*target.Get()), (std::vector<std::string>{"Set(Title [BSTR:T])", "Set(Jacket [UNKNOWN])",
                                                             "Set(TrackNumber [I4:2])"}));
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
    base->PutText(attr::Title, u"T");
    base->PutText(attr::Artist, u"A");
    base->get_failures[attr::Title] = E_FAIL;
    base->failure_leftovers[attr::Title] = picture->AsUnknown();
    const ULONG refs = picture->References();
    quillet::CopyAllAttributes(base.Get(), target.Get());
    EXPECT_EQ(Sets(*target.Get()), (std::vector<std::string>{"Set(Artist [BSTR:A])"}));
    EXPECT_EQ(picture->References(), refs);  // a reference the caller never held was not released
    EXPECT_EQ(base->close_count, 1);
}

TEST(SmallReaders, ContentLengthFreesAFailedReadsLeftoversWithoutClearingThem) {
    auto item = NewItem();
    auto picture = NewPicture(10);
    item->PutText(attr::LyricsText, u"lyrics");
    item->get_failures[attr::LyricsText] = E_FAIL;
    item->failure_leftovers[attr::LyricsText] = picture->AsUnknown();
    const ULONG refs = picture->References();
    EXPECT_EQ(quillet::AttributeContentLength(item.Get(), attr::LyricsText), 0u);
    EXPECT_EQ(picture->References(), refs);
}

TEST(SmallReaders, IntegerAndContentLength) {
    auto item = NewItem();
    item->PutInt(attr::BitRate, 132000);
    item->PutText(attr::Size, u"5");
    auto picture = NewPicture(1000);
    item->Put(attr::Title, {Variant::FromString(u"abc"), Variant::FromString(u"de"), Variant::FromInt(7),
                            Variant::FromUnknown(picture->AsUnknown())});
    const ULONG refs = picture->References();
    EXPECT_EQ(quillet::ReadIntegerAttribute(item.Get(), attr::BitRate), 132000);
    EXPECT_EQ(quillet::ReadIntegerAttribute(item.Get(), attr::Size), 0);
    EXPECT_EQ(quillet::ReadIntegerAttribute(item.Get(), 0x9999), 0);
    EXPECT_EQ(quillet::AttributeContentLength(item.Get(), attr::Title), 1005u);
    EXPECT_EQ(quillet::AttributeContentLength(item.Get(), 0x9999), 0u);
    EXPECT_EQ(picture->References(), refs);
}

}  // namespace
