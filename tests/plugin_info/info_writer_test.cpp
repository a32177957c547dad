// The info writer against the fake item: which entry fills which field, the
// comparison that skips unchanged fields, removal of both ids, further values
// kept, the date and number rules, the side tags written first, and the
// failures.
#include <filesystem>

#include "host/sdk/exceptions.h"
#include "info_fixture.h"
#include "library/media_ids.h"
#include "plugin/tags/side_tags.h"

namespace attr = medialib::attr;

namespace infotest {
namespace {

namespace fs = std::filesystem;
using WriterTest = InfoTest;

// Sets with the writer only (the log starts after Load).
std::vector<std::string> Sets(const testsupport::FakeMediaItem& item) { return item.Entries("Set("); }

TEST_F(WriterTest, EqualTextsCauseNoWriteAtAll) {
    item.PutTexts(attr::Title, {u"Same"});
    item.PutTexts(attr::Artist, {u"Artist"});
    item.PutTexts(attr::Album, {u"Album"});
    item.PutInt(attr::TrackNumber, 7);
    item.PutDate(attr::Release, u"1999/05/06");
    item.PutDate(attr::Import, u"2020/01/02 10:11:12");
    file_info_impl info;
    Read("/m/a.oma", info);  // the record as the reader gives it
    info.meta_set("mood", "Happy");
    item.calls.clear();
    Write("/m/a.oma", info);
    EXPECT_TRUE(Sets(item).empty()) << ::testing::PrintToString(item.Log());
    EXPECT_EQ(item.Log().front(), "Load(2)");
    EXPECT_EQ(item.Log().back(), "Close");
}

TEST_F(WriterTest, ChangedFieldsGoToTheirAttributesInTableOrder) {
    file_info_impl info;
    info.meta_set("comment", "Liner");
    info.meta_set("title", "T");
    info.meta_set("artist", "A");
    info.meta_set("genre", "G");
    info.meta_set("lyrics", "L");
    info.meta_set("totaltracks", "12");
    info.meta_set("added", "2020/01/02 10:11:12");
    Write("/m/a.oma", info);
    const std::vector<std::string> expected = {"Set(Title [BSTR:T])",
                                               "Set(Artist [BSTR:A])",
                                               "Set(Genre [BSTR:G])",
                                               "Set(TotalTracks [I4:12])",
                                               "Set(Import [DATE:2020/01/02 10:11:12])",
                                               "Set(LyricsText [BSTR:L])",
                                               "Set(LinerNotesText [BSTR:Liner])"};
    EXPECT_EQ(Sets(item), expected);
}

TEST_F(WriterTest, AlternativeNamesAreAcceptedAndTheFirstMatchingEntryWins) {
    file_info_impl info;
    info.meta_set("ALBUMARTIST", "X");
    info.meta_set("album artist", "Y");
    info.meta_set("TitleSortOrder", "ts");
    info.meta_set("artist webpage url", "http://a");
    info.meta_set("Band Sort", "bs");
    info.meta_set("track number", "3");
    info.meta_set("Total Tracks", "9");
    info.meta_set("subtitlesort", "ss");
    info.meta_set("albumsort", "as");
    info.meta_set("artistsortorder", "ars");
    Write("/m/a.oma", info);
    const std::vector<std::string> expected = {
        "Set(SortTitle [BSTR:ts])",       "Set(SortSubtitle [BSTR:ss])", "Set(SortArtist [BSTR:ars])",
        "Set(ArtistURL [BSTR:http://a])", "Set(SortAlbum [BSTR:as])",    "Set(AlbumArtist [BSTR:X])",
        "Set(SortAlbumArtist [BSTR:bs])", "Set(TrackNumber [I4:3])",     "Set(TrackNumberAlt [I4:3])",
        "Set(TotalTracks [I4:9])"};
    EXPECT_EQ(Sets(item), expected);
}

TEST_F(WriterTest, OnlyTheFirstValueOfAnEntryIsWritten) {
    file_info_impl info;
    info.meta_set("genre", "Rock");
    info.meta_add("genre", "Pop");
    Write("/m/a.oma", info);
    EXPECT_EQ(Sets(item), std::vector<std::string>{"Set(Genre [BSTR:Rock])"});
}

TEST_F(WriterTest, FurtherLibraryValuesAreKeptWhenTheFirstIsReplaced) {
    item.PutTexts(attr::Artist, {u"Old", u"Second", u"Third"});
    item.attributes[attr::TrackNumber] = {platform::Variant::FromInt(1), platform::Variant::FromInt(2)};
    file_info_impl info;
    info.meta_set("artist", "New");
    info.meta_set("tracknumber", "8");
    Write("/m/a.oma", info);
    const std::vector<std::string> expected = {"Set(Artist [BSTR:New BSTR:Second BSTR:Third])",
                                               "Set(TrackNumber [I4:8 I4:2])",
                                               "Set(TrackNumberAlt [I4:8 I4:2])"};
    EXPECT_EQ(Sets(item), expected);
}

TEST_F(WriterTest, AMissingFieldRemovesItsAttributeAndBothAlbumIds) {
    item.PutTexts(attr::Genre, {u"Genre"});
    item.PutTexts(attr::Album, {u"Album"});
    item.PutTexts(attr::AlbumAlt, {u"Album"});
    item.PutInt(attr::TrackNumber, 5);
    item.PutInt(attr::TrackNumberAlt, 5);
    file_info_impl info;
    Write("/m/a.oma", info);
    const std::vector<std::string> expected = {"Set(Album [])", "Set(AlbumAlt [])", "Set(Genre [])",
                                               "Set(TrackNumber [])", "Set(TrackNumberAlt [])"};
    EXPECT_EQ(Sets(item), expected);
    EXPECT_TRUE(item.attributes.empty());
}

TEST_F(WriterTest, AlbumOnlyUnderItsSecondIdIsComparedAndWrittenToBoth) {
    item.PutTexts(attr::AlbumAlt, {u"Alt"});
    file_info_impl info;
    info.meta_set("album", "Alt");
    Write("/m/a.oma", info);
    EXPECT_TRUE(Sets(item).empty());
    info.meta_set("album", "New");
    Write("/m/a.oma", info);
    EXPECT_EQ(Sets(item), (std::vector<std::string>{"Set(Album [BSTR:New])", "Set(AlbumAlt [BSTR:New])"}));
}

TEST_F(WriterTest, RemovingAMultiValuedFieldEmptiesTheFirstTextAndLeavesNumbersAlone) {
    item.PutTexts(attr::Genre, {u"Rock", u"Pop"});
    item.attributes[attr::TrackNumber] = {platform::Variant::FromInt(1), platform::Variant::FromInt(2)};
    file_info_impl info;
    Write("/m/a.oma", info);
    EXPECT_EQ(Sets(item), std::vector<std::string>{"Set(Genre [BSTR: BSTR:Pop])"});
    EXPECT_EQ(item.attributes[attr::TrackNumber].size(), 2u);
}

TEST_F(WriterTest, TrackNumbersThatAreNotNumbersChangeNothing) {
    item.PutInt(attr::TrackNumber, 7);
    file_info_impl info;
    info.meta_set("tracknumber", "seven");
    info.meta_set("totaltracks", "3/12");
    Write("/m/a.oma", info);
    EXPECT_TRUE(Sets(item).empty()) << ::testing::PrintToString(item.Log());
    info.meta_set("tracknumber", "7");
    info.meta_set("totaltracks", " 12 ");
    Write("/m/a.oma", info);
    EXPECT_EQ(Sets(item), std::vector<std::string>{"Set(TotalTracks [I4:12])"});
}

TEST_F(WriterTest, AYearGoesToTheYearTextAndAsTheFirstOfJanuaryToTheDate) {
    file_info_impl info;
    info.meta_set("date", "1999");
    Write("/m/a.oma", info);
    EXPECT_EQ(Sets(item),
              (std::vector<std::string>{"Set(ReleaseYear [BSTR:1999])", "Set(Release [DATE:1999/01/01])"}));
}

TEST_F(WriterTest, AFullDateGivesItsFirstFourCharactersAsTheYear) {
    file_info_impl info;
    info.meta_set("date", "1999-05-06");
    Write("/m/a.oma", info);
    EXPECT_EQ(Sets(item),
              (std::vector<std::string>{"Set(ReleaseYear [BSTR:1999])", "Set(Release [DATE:1999/05/06])"}));
    item.calls.clear();
    info.meta_set("date", "2001/02/03 04:05:06");
    Write("/m/a.oma", info);
    EXPECT_EQ(Sets(item), (std::vector<std::string>{"Set(ReleaseYear [BSTR:2001])",
                                                    "Set(Release [DATE:2001/02/03 04:05:06])"}));
    // Read back as the reader gives it, the date compares equal: nothing is written.
    item.calls.clear();
    info.meta_set("date", "2001/02/03 04:05:06");
    Write("/m/a.oma", info);
    EXPECT_TRUE(Sets(item).empty());
}

TEST_F(WriterTest, ADateThatIsNoDateReplacesTheYearAndDropsTheStaleDate) {
    item.PutDate(attr::Release, u"2001/02/03");
    item.PutTexts(attr::ReleaseYear, {u"2001"});
    file_info_impl info;
    info.meta_set("date", "1999-13-45");
    Write("/m/a.oma", info);
    EXPECT_EQ(Sets(item), (std::vector<std::string>{"Set(ReleaseYear [BSTR:1999])", "Set(Release [])"}));
    // What the reader shows afterwards is the year just written.
    file_info_impl back;
    Read("/m/a.oma", back);
    EXPECT_STREQ(back.meta_get("date", 0), "1999");
}

TEST_F(WriterTest, ShortDatesAndRemovedDatesGoToBothIds) {
    file_info_impl info;
    info.meta_set("date", "99");
    Write("/m/a.oma", info);
    // Two characters are kept as the year text; as a date they do not convert.
    EXPECT_EQ(Sets(item), (std::vector<std::string>{"Set(ReleaseYear [BSTR:99])", "Set(Release [])"}));

    item.attributes.clear();
    item.PutDate(attr::Release, u"1999/05/06");
    item.PutTexts(attr::ReleaseYear, {u"1999"});
    item.calls.clear();
    Write("/m/a.oma", file_info_impl());
    EXPECT_EQ(Sets(item), (std::vector<std::string>{"Set(ReleaseYear [])", "Set(Release [])"}));
}

TEST_F(WriterTest, TheYearTextNeverSplitsACharacter) {
    file_info_impl info;
    info.meta_set("date", "\xf0\x9d\x9f\x99\xf0\x9d\x9f\x99\xf0\x9d\x9f\x99\xf0\x9d\x9f\x99-01-01");
    Write("/m/a.oma", info);
    ASSERT_FALSE(Sets(item).empty());
    EXPECT_EQ(Sets(item)[0],
              "Set(ReleaseYear [BSTR:\xf0\x9d\x9f\x99\xf0\x9d\x9f\x99\xf0\x9d\x9f\x99\xf0\x9d\x9f\x99])");
}

TEST_F(WriterTest, ALibraryThatRefusesOneAttributeStillGetsTheOthers) {
    item.set_failures[attr::Title] = E_FAIL;
    file_info_impl info;
    info.meta_set("title", "T");
    info.meta_set("artist", "A");
    EXPECT_NO_THROW(Write("/m/a.oma", info));
    EXPECT_EQ(Sets(item), (std::vector<std::string>{"Set(Title [BSTR:T])", "Set(Artist [BSTR:A])"}));
    EXPECT_EQ(item.attributes.count(attr::Title), 0u);
}

TEST_F(WriterTest, SideTagsAreSavedBeforeTheItemIsLoadedAndHoldTheWholeRecord) {
    const std::string path = InDir("a.oma");
    flags.ntfs_stream = true;
    bool stream_existed_at_load = false;
    item.on_load = [&] { stream_existed_at_load = fs::exists(path + ":ID3v2.tag"); };
    file_info_impl info;
    info.meta_set("title", "T");
    info.meta_set("mood", "Happy");
    replaygain_info rg;
    rg.m_track_gain = -6.5f;
    info.set_replaygain(rg);
    Write(path, info);
    EXPECT_TRUE(stream_existed_at_load);
    // The custom field reaches the side tag only.
    for (const auto& set : Sets(item)) EXPECT_EQ(set.find("Happy"), std::string::npos) << set;

    file_info_impl side;
    const Paths p = PathsOf(path);
    corvina::LoadSideTags(side, p.host.c_str(), p.key.c_str(), flags, abort);
    EXPECT_STREQ(side.meta_get("title", 0), "T");
    EXPECT_STREQ(side.meta_get("mood", 0), "Happy");
    EXPECT_FLOAT_EQ(side.get_replaygain().m_track_gain, -6.5f);
}

TEST_F(WriterTest, WithBothSideTagPlacesOffTheLibraryIsStillWrittenAndNoSideTagFileAppears) {
    const std::string path = InDir("a.oma");
    testsupport::WriteText(path, "audio");
    file_info_impl info;
    info.meta_set("title", "T");
    info.meta_set("mood", "Happy");
    Write(path, info);
    EXPECT_EQ(Sets(item), std::vector<std::string>{"Set(Title [BSTR:T])"});
    EXPECT_FALSE(fs::exists(path + ":ID3v2.tag"));
    EXPECT_FALSE(fs::exists(host.profile_dir() / "ID3v2"));
}

TEST_F(WriterTest, PreconditionsAndLoadFailuresAreIoErrors) {
    file_info_impl info;
    info.meta_set("title", "T");
    flags.ntfs_stream = true;
    const std::string path = InDir("a.oma");
    const Paths p = PathsOf(path);
    // Nothing is written without a host path, library path or item.
    EXPECT_THROW(corvina::WriteInfo({"", p.library.c_str(), p.key.c_str(), &item}, flags, info, abort),
                 exception_io);
    EXPECT_THROW(corvina::WriteInfo({nullptr, p.library.c_str(), p.key.c_str(), &item}, flags, info, abort),
                 exception_io);
    EXPECT_THROW(corvina::WriteInfo({p.host.c_str(), nullptr, p.key.c_str(), &item}, flags, info, abort),
                 exception_io);
    EXPECT_THROW(corvina::WriteInfo(p.file(nullptr), flags, info, abort), exception_io);
    EXPECT_TRUE(item.Log().empty());
    EXPECT_FALSE(fs::exists(path + ":ID3v2.tag"));

    // A failed load comes after the side tags were saved.
    item.load_result = E_FAIL;
    try {
        Write(path, info);
        ADD_FAILURE() << "no exception";
    } catch (const exception_io& e) {
        EXPECT_EQ(typeid(e), typeid(exception_io));
        EXPECT_STREQ(e.what(), "I/O error");
    }
    EXPECT_EQ(item.Log(), std::vector<std::string>{"Load(2)"});
    EXPECT_TRUE(fs::exists(path + ":ID3v2.tag"));
}

TEST_F(WriterTest, AFileTheLibraryCouldNotWriteOnCloseIsReported) {
    item.close_result = static_cast<HRESULT>(0x80040005);
    file_info_impl info;
    info.meta_set("title", "T");
    EXPECT_THROW(Write("/m/a.oma", info), exception_io);
    EXPECT_EQ(item.Log().back(), "Close");
    // A close that has nothing to report is fine.
    item.close_result = S_FALSE;
    EXPECT_NO_THROW(Write("/m/a.oma", info));
}

TEST_F(WriterTest, ASideTagErrorEndsTheWriteBeforeTheLibraryIsTouched) {
    const std::string path = InDir("missing folder/a.oma");
    flags.ntfs_stream = true;
    file_info_impl info;
    info.meta_set("title", "T");
    EXPECT_THROW(Write(path, info), exception_io);
    EXPECT_TRUE(item.Log().empty());
}

TEST_F(WriterTest, WriteAttributeAddsAValueWhereTheLibraryHadNone) {
    const std::u16string text = u"2024";
    EXPECT_TRUE(corvina::WriteAttribute(&text, &item, attr::Import, 0, VT_DATE));
    const std::u16string bad = u"24 o'clock";
    EXPECT_FALSE(corvina::WriteAttribute(&bad, &item, attr::Import, 0, VT_DATE));
    EXPECT_EQ(Sets(item), std::vector<std::string>{"Set(Import [DATE:2024/01/01])"});
}

}  // namespace
}  // namespace infotest
