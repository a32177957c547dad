// The info writer against the fake item: which entry fills which field, the
// comparison that skips unchanged fields, removal of both ids, further values
// kept, the date and number rules, the side tags written first, and the
// failures.
#include <filesystem>

#include "host/sdk/exceptions.h"
#include "info_fixture.h"
#include "plugin/tags/side_tags.h"

namespace infotest {
namespace {

namespace fs = std::filesystem;
using WriterTest = InfoTest;

// Sets with the writer only (the log starts after Load).
std::vector<std::string> Sets(const fakes::FakeAttributeItem& item) { return item.Entries("Set("); }

TEST_F(WriterTest, EqualTextsCauseNoWriteAtAll) {
    item.SetText(0x1207, {u"Same"});
    item.SetText(0x1210, {u"Artist"});
    item.SetText(0x120C, {u"Album"});
    item.SetInt(0x1105, 7);
    item.SetDate(0x1400, u"1999/05/06");
    item.SetDate(0x1404, u"2020/01/02 10:11:12");
    file_info_impl info;
    Read("/m/a.oma", info);  // the record as the reader gives it
    info.meta_set("mood", "Happy");
    item.log.clear();
    Write("/m/a.oma", info);
    EXPECT_TRUE(Sets(item).empty()) << ::testing::PrintToString(item.log);
    EXPECT_EQ(item.log.front(), "Load(2)");
    EXPECT_EQ(item.log.back(), "Close");
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
    const std::vector<std::string> expected = {"Set(0x1207 ['T'])",
                                               "Set(0x1210 ['A'])",
                                               "Set(0x1208 ['G'])",
                                               "Set(0x112D [i:12])",
                                               "Set(0x1404 [d:2020/01/02 10:11:12])",
                                               "Set(0x122C ['L'])",
                                               "Set(0x122D ['Liner'])"};
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
        "Set(0x1607 ['ts'])", "Set(0x1630 ['ss'])", "Set(0x1610 ['ars'])", "Set(0x1510 ['http://a'])",
        "Set(0x160C ['as'])", "Set(0x0210 ['X'])",  "Set(0x0251 ['bs'])",  "Set(0x1105 [i:3])",
        "Set(0x110F [i:3])",  "Set(0x112D [i:9])"};
    EXPECT_EQ(Sets(item), expected);
}

TEST_F(WriterTest, OnlyTheFirstValueOfAnEntryIsWritten) {
    file_info_impl info;
    info.meta_set("genre", "Rock");
    info.meta_add("genre", "Pop");
    Write("/m/a.oma", info);
    EXPECT_EQ(Sets(item), std::vector<std::string>{"Set(0x1208 ['Rock'])"});
}

TEST_F(WriterTest, FurtherLibraryValuesAreKeptWhenTheFirstIsReplaced) {
    item.SetText(0x1210, {u"Old", u"Second", u"Third"});
    item.attributes[0x1105] = {platform::Variant::FromInt(1), platform::Variant::FromInt(2)};
    file_info_impl info;
    info.meta_set("artist", "New");
    info.meta_set("tracknumber", "8");
    Write("/m/a.oma", info);
    const std::vector<std::string> expected = {"Set(0x1210 ['New' 'Second' 'Third'])",
                                               "Set(0x1105 [i:8 i:2])", "Set(0x110F [i:8 i:2])"};
    EXPECT_EQ(Sets(item), expected);
}

TEST_F(WriterTest, AMissingFieldRemovesItsAttributeAndBothAlbumIds) {
    item.SetText(0x1208, {u"Genre"});
    item.SetText(0x120C, {u"Album"});
    item.SetText(0x0207, {u"Album"});
    item.SetInt(0x1105, 5);
    item.SetInt(0x110F, 5);
    file_info_impl info;
    Write("/m/a.oma", info);
    const std::vector<std::string> expected = {"Set(0x120C [])", "Set(0x0207 [])", "Set(0x1208 [])",
                                               "Set(0x1105 [])", "Set(0x110F [])"};
    EXPECT_EQ(Sets(item), expected);
    EXPECT_TRUE(item.attributes.empty());
}

TEST_F(WriterTest, AlbumOnlyUnderItsSecondIdIsComparedAndWrittenToBoth) {
    item.SetText(0x0207, {u"Alt"});
    file_info_impl info;
    info.meta_set("album", "Alt");
    Write("/m/a.oma", info);
    EXPECT_TRUE(Sets(item).empty());
    info.meta_set("album", "New");
    Write("/m/a.oma", info);
    EXPECT_EQ(Sets(item), (std::vector<std::string>{"Set(0x120C ['New'])", "Set(0x0207 ['New'])"}));
}

TEST_F(WriterTest, RemovingAMultiValuedFieldEmptiesTheFirstTextAndLeavesNumbersAlone) {
    item.SetText(0x1208, {u"Rock", u"Pop"});
    item.attributes[0x1105] = {platform::Variant::FromInt(1), platform::Variant::FromInt(2)};
    file_info_impl info;
    Write("/m/a.oma", info);
    EXPECT_EQ(Sets(item), std::vector<std::string>{"Set(0x1208 ['' 'Pop'])"});
    EXPECT_EQ(item.attributes[0x1105].size(), 2u);
}

TEST_F(WriterTest, TrackNumbersThatAreNotNumbersChangeNothing) {
    item.SetInt(0x1105, 7);
    file_info_impl info;
    info.meta_set("tracknumber", "seven");
    info.meta_set("totaltracks", "3/12");
    Write("/m/a.oma", info);
    EXPECT_TRUE(Sets(item).empty()) << ::testing::PrintToString(item.log);
    info.meta_set("tracknumber", "7");
    info.meta_set("totaltracks", " 12 ");
    Write("/m/a.oma", info);
    EXPECT_EQ(Sets(item), std::vector<std::string>{"Set(0x112D [i:12])"});
}

TEST_F(WriterTest, AYearGoesToTheYearTextAndAsTheFirstOfJanuaryToTheDate) {
    file_info_impl info;
    info.meta_set("date", "1999");
    Write("/m/a.oma", info);
    EXPECT_EQ(Sets(item), (std::vector<std::string>{"Set(0x1236 ['1999'])", "Set(0x1400 [d:1999/01/01])"}));
}

TEST_F(WriterTest, AFullDateGivesItsFirstFourCharactersAsTheYear) {
    file_info_impl info;
    info.meta_set("date", "1999-05-06");
    Write("/m/a.oma", info);
    EXPECT_EQ(Sets(item), (std::vector<std::string>{"Set(0x1236 ['1999'])", "Set(0x1400 [d:1999/05/06])"}));
    item.log.clear();
    info.meta_set("date", "2001/02/03 04:05:06");
    Write("/m/a.oma", info);
    EXPECT_EQ(Sets(item),
              (std::vector<std::string>{"Set(0x1236 ['2001'])", "Set(0x1400 [d:2001/02/03 04:05:06])"}));
    // Read back as the reader gives it, the date compares equal: nothing is written.
    item.log.clear();
    info.meta_set("date", "2001/02/03 04:05:06");
    Write("/m/a.oma", info);
    EXPECT_TRUE(Sets(item).empty());
}

TEST_F(WriterTest, ADateThatIsNoDateReplacesTheYearAndDropsTheStaleDate) {
    item.SetDate(0x1400, u"2001/02/03");
    item.SetText(0x1236, {u"2001"});
    file_info_impl info;
    info.meta_set("date", "1999-13-45");
    Write("/m/a.oma", info);
    EXPECT_EQ(Sets(item), (std::vector<std::string>{"Set(0x1236 ['1999'])", "Set(0x1400 [])"}));
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
    EXPECT_EQ(Sets(item), (std::vector<std::string>{"Set(0x1236 ['99'])", "Set(0x1400 [])"}));

    item.attributes.clear();
    item.SetDate(0x1400, u"1999/05/06");
    item.SetText(0x1236, {u"1999"});
    item.log.clear();
    Write("/m/a.oma", file_info_impl());
    EXPECT_EQ(Sets(item), (std::vector<std::string>{"Set(0x1236 [])", "Set(0x1400 [])"}));
}

TEST_F(WriterTest, TheYearTextNeverSplitsACharacter) {
    file_info_impl info;
    info.meta_set("date", "\xf0\x9d\x9f\x99\xf0\x9d\x9f\x99\xf0\x9d\x9f\x99\xf0\x9d\x9f\x99-01-01");
    Write("/m/a.oma", info);
    ASSERT_FALSE(Sets(item).empty());
    EXPECT_EQ(Sets(item)[0],
              "Set(0x1236 ['\xf0\x9d\x9f\x99\xf0\x9d\x9f\x99\xf0\x9d\x9f\x99\xf0\x9d\x9f\x99'])");
}

TEST_F(WriterTest, ALibraryThatRefusesOneAttributeStillGetsTheOthers) {
    item.set_failures.insert(0x1207);
    file_info_impl info;
    info.meta_set("title", "T");
    info.meta_set("artist", "A");
    EXPECT_NO_THROW(Write("/m/a.oma", info));
    EXPECT_EQ(Sets(item), (std::vector<std::string>{"Set(0x1207 ['T'])", "Set(0x1210 ['A'])"}));
    EXPECT_EQ(item.attributes.count(0x1207), 0u);
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
    EXPECT_EQ(Sets(item), std::vector<std::string>{"Set(0x1207 ['T'])"});
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
    EXPECT_TRUE(item.log.empty());
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
    EXPECT_EQ(item.log, std::vector<std::string>{"Load(2)"});
    EXPECT_TRUE(fs::exists(path + ":ID3v2.tag"));
}

TEST_F(WriterTest, AFileTheLibraryCouldNotWriteOnCloseIsReported) {
    item.close_result = static_cast<HRESULT>(0x80040005);
    file_info_impl info;
    info.meta_set("title", "T");
    EXPECT_THROW(Write("/m/a.oma", info), exception_io);
    EXPECT_EQ(item.log.back(), "Close");
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
    EXPECT_TRUE(item.log.empty());
}

TEST_F(WriterTest, WriteAttributeAddsAValueWhereTheLibraryHadNone) {
    const std::u16string text = u"2024";
    EXPECT_TRUE(corvina::WriteAttribute(&text, &item, 0x1404, 0, VT_DATE));
    const std::u16string bad = u"24 o'clock";
    EXPECT_FALSE(corvina::WriteAttribute(&bad, &item, 0x1404, 0, VT_DATE));
    EXPECT_EQ(Sets(item), std::vector<std::string>{"Set(0x1404 [d:2024/01/01])"});
}

}  // namespace
}  // namespace infotest
