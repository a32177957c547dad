// Reading command lines into CommandOptions.
#include "tool/commands/dispatch.h"

#include <gtest/gtest.h>

#include "helpers.h"

namespace {

using quillet::Command;
using quillet::CommandOptions;
using quillet::NameValueList;
using quillet::ReadArguments;
using quillet::ReadOutcome;
using tooltest::U16;

struct Read {
    CommandOptions options;
    library::ApplicationIdentity identity;
    ReadOutcome outcome = ReadOutcome::kRunCommand;
    std::string output;
};

std::unique_ptr<Read> ReadWords(const std::vector<std::u16string>& words) {
    auto read = std::make_unique<Read>();
    tooltest::OutputCapture capture;
    read->outcome = ReadArguments(words, read->options, read->identity);
    read->output = capture.Text();
    return read;
}

std::vector<std::pair<std::u16string, std::u16string>> Entries(const NameValueList& list) {
    std::vector<std::pair<std::u16string, std::u16string>> out;
    for (const auto& e : list) out.emplace_back(e.name, e.value);
    return out;
}
using Pairs = std::vector<std::pair<std::u16string, std::u16string>>;

class DispatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        file_ = dir_ / "song.oma";
        testsupport::WriteText(file_, "x");
        other_ = dir_ / "other.oma";
        testsupport::WriteText(other_, "y");
    }
    testsupport::ScopedTempDir dir_;
    std::filesystem::path file_;
    std::filesystem::path other_;
};

TEST_F(DispatchTest, StartValuesWithoutWords) {
    auto r = ReadWords({});
    const CommandOptions& o = r->options;
    EXPECT_EQ(r->outcome, ReadOutcome::kRunCommand);
    EXPECT_EQ(o.command, Command::Get);
    EXPECT_FALSE(o.all);
    EXPECT_EQ(o.command_digit, 3);
    EXPECT_EQ(o.font_size, 16);
    EXPECT_EQ(o.lyrics_mode, 3);
    EXPECT_EQ(o.liner_notes_mode, 3);
    EXPECT_EQ(o.jacket_mode, 2);
    EXPECT_EQ(o.bit_rate, -1);
    EXPECT_EQ(r->output, "");
}

TEST_F(DispatchTest, PathWordsBecomeFullSourcePathsAndMissingOnesAreIgnored) {
    auto r = ReadWords({U16(file_), U16(dir_ / "missing.oma"), U16(dir_.path()), U16(other_)});
    EXPECT_EQ(Entries(r->options.sources), (Pairs{{u"", U16(file_)}, {u"", U16(other_)}}));
}

TEST_F(DispatchTest, UnknownOptionIsIgnoredAndItsNextWordReadAsPath) {
    auto r = ReadWords({u"--NoSuchOption", U16(file_)});
    EXPECT_EQ(r->options.command, Command::Get);
    EXPECT_EQ(Entries(r->options.sources), (Pairs{{u"", U16(file_)}}));
}

TEST_F(DispatchTest, CommandWordsAndEncodingDigits) {
    auto r = ReadWords(
        {u"--GetAll8", U16(file_), u"--Info", u"a.info", u"--info2", u"b.info", u"--LYRICS", u"c.lrc"});
    const CommandOptions& o = r->options;
    EXPECT_EQ(o.command, Command::Get);
    EXPECT_TRUE(o.all);
    EXPECT_EQ(o.command_digit, 8);
    EXPECT_EQ(o.command_digit_char, u'8');
    EXPECT_EQ(Entries(o.info), (Pairs{{u"8", u"a.info"}, {u"2", u"b.info"}}));
    EXPECT_EQ(Entries(o.lyrics), (Pairs{{u"8", u"c.lrc"}}));

    auto put = ReadWords({u"--PutAll", u"--Put1", u"--Create", u"--Convert9", u"--Base", u"x"});
    EXPECT_EQ(put->options.command, Command::Convert);
    EXPECT_FALSE(put->options.all);  // cleared by the later command words
    EXPECT_EQ(Entries(put->options.base), (Pairs{{u"9", u"x"}}));
}

TEST_F(DispatchTest, ValuesAreNextWordsUnlessOptionsAndEmptyWordsCount) {
    auto r = ReadWords({u"--Info", u"--Lyrics", u"", u"--Jacket"});
    EXPECT_TRUE(r->options.info.Empty());     // its next word is an option: no value
    EXPECT_EQ(r->options.lyrics.Size(), 1u);  // the empty word is a value
    EXPECT_EQ(r->options.lyrics[0].name, u"3");
    EXPECT_TRUE(r->options.jacket.Empty());
}

TEST_F(DispatchTest, FlagsBoundsAndAliases) {
    auto r = ReadWords(
        {u"--forcewrite", u"--QUIET",       u"--Jpeg", u"--PictureMax",       u"640",   u"--PictureMinWidth",
         u"0x20",         u"--PictureMin",  u"10",     u"--PictureMaxHeight", u"480",   u"--tc",
         u"n.txt",        u"--ti",          u"j.png",  u"--TextJpeg",         u"t.jpg", u"--Text",
         u"t.txt",        u"--PictureJpeg", u"p.jpg",  u"--Picture",          u"p.png", u"--JacketJpeg",
         u"jj.jpg"});
    const CommandOptions& o = r->options;
    EXPECT_TRUE(o.force_write);
    EXPECT_TRUE(o.quiet);
    EXPECT_TRUE(o.jpeg);
    EXPECT_EQ(o.max_width, 640);
    EXPECT_EQ(o.max_height, 480);
    EXPECT_EQ(o.min_width, 10);
    EXPECT_EQ(o.min_height, 10);
    EXPECT_EQ(Entries(o.liner_notes), (Pairs{{u"3", u"n.txt"}}));
    EXPECT_EQ(Entries(o.jacket), (Pairs{{u"3", u"j.png"}}));
    EXPECT_EQ(Entries(o.text_jpeg), (Pairs{{u"3", u"t.jpg"}}));
    EXPECT_EQ(Entries(o.text), (Pairs{{u"3", u"t.txt"}}));
    EXPECT_EQ(Entries(o.picture_jpeg), (Pairs{{u"3", u"p.jpg"}}));
    EXPECT_EQ(Entries(o.picture), (Pairs{{u"3", u"p.png"}}));
    EXPECT_EQ(Entries(o.jacket_jpeg), (Pairs{{u"3", u"jj.jpg"}}));
}

TEST_F(DispatchTest, FontSizeBounds) {
    EXPECT_EQ(ReadWords({u"--FontSize", u"0"})->options.font_size, 16);
    EXPECT_EQ(ReadWords({u"--FontSize", u"100"})->options.font_size, 72);
    EXPECT_EQ(ReadWords({u"--FontSize", u"-5"})->options.font_size, 16);
    EXPECT_EQ(ReadWords({u"--FontSize", u"72"})->options.font_size, 72);
    EXPECT_EQ(ReadWords({u"--FontSize"})->options.font_size, 16);
    EXPECT_EQ(ReadWords({u"--FontSize", u"30", u"--FontSize"})->options.font_size, 30);
}

TEST_F(DispatchTest, ModeWords) {
    auto r =
        ReadWords({u"--LyricsMode", u"hybrid", u"--LinerNotesMode", u"TEXT", u"--JacketMode", u"Hybrid"});
    EXPECT_EQ(r->options.lyrics_mode, 4);
    EXPECT_EQ(r->options.liner_notes_mode, 1);
    EXPECT_EQ(r->options.jacket_mode, 2);  // Hybrid is no jacket mode: consumed and ignored
    auto s = ReadWords({u"--JacketMode", u"delete", u"--LyricsMode", u"nonsense", U16(file_)});
    EXPECT_EQ(s->options.jacket_mode, 0);
    EXPECT_EQ(s->options.lyrics_mode, 3);
    EXPECT_EQ(s->options.sources.Size(), 1u);  // the word after the mode word is read as usual
}

TEST_F(DispatchTest, BitRateOutputAndFileType) {
    EXPECT_EQ(ReadWords({u"--BitRate", u"aUtO"})->options.bit_rate, -1);
    EXPECT_EQ(ReadWords({u"--BitRate", u"0x1F400"})->options.bit_rate, 128000);
    EXPECT_EQ(ReadWords({u"--BitRate", u"64000", u"--BitRate", u"auto"})->options.bit_rate, -1);
    auto r = ReadWords({u"--Output", u"out/x", u"--FileType", u"omg3"});
    EXPECT_EQ(r->options.output_path, u"out/x");
    EXPECT_EQ(r->options.file_type, u"omg3");
}

TEST_F(DispatchTest, TempPathListsFoldersAndTheFolderOfAnExistingFile) {
    const std::u16string folder = U16(dir_.path()) + u"/";
    auto r = ReadWords({u"--TempPath", u"/no/such/folder", u"--TempPath", U16(file_), u"--TempPath",
                        u"/NO/SUCH/FOLDER", u"--TempPath", U16(other_)});
    EXPECT_EQ(Entries(r->options.temp_folders),
              (Pairs{{u"/no/such/folder", u"/no/such/folder"}, {folder, folder}}));
}

TEST_F(DispatchTest, TagOptionsSetEntriesInPlace) {
    auto r =
        ReadWords({u"--Title", u"--Artist", u"Someone", u"--tl", u"Album 1", u"--TITLE", u"T2", u"--tg"});
    EXPECT_EQ(Entries(r->options.tags),
              (Pairs{{u"Title", u"T2"}, {u"Artist", u"Someone"}, {u"Album", u"Album 1"}, {u"Genre", u""}}));
    EXPECT_EQ(r->options.remembered_title, u"T2");
    EXPECT_EQ(r->options.remembered_artist, u"Someone");

    auto s = ReadWords({u"--Title", u"--Artist", u"A"});
    EXPECT_EQ(Entries(s->options.tags), (Pairs{{u"Title", u""}, {u"Artist", u"A"}}));
    EXPECT_EQ(s->options.remembered_title, u"");
}

TEST_F(DispatchTest, EveryTagOptionAndAlias) {
    auto r = ReadWords({u"--tt",
                        u"1",
                        u"--SortTitle",
                        u"2",
                        u"--Subtitle",
                        u"3",
                        u"--SortSubtitle",
                        u"4",
                        u"--ta",
                        u"5",
                        u"--SortArtist",
                        u"6",
                        u"--ArtistURL",
                        u"7",
                        u"--Album",
                        u"8",
                        u"--SortAlbum",
                        u"9",
                        u"--AlbumArtist",
                        u"10",
                        u"--SortAlbumArtist",
                        u"11",
                        u"--Genre",
                        u"12",
                        u"--Composer",
                        u"13",
                        u"--Lyricist",
                        u"14",
                        u"--tn",
                        u"15",
                        u"--TotalTracks",
                        u"16",
                        u"--ty",
                        u"17",
                        u"--Import",
                        u"18",
                        u"--Duration",
                        u"19",
                        u"--MilliSecond",
                        u"20"});
    Pairs expected = {
        {u"Title", u"1"},     {u"SortTitle", u"2"},    {u"Subtitle", u"3"},         {u"SortSubtitle", u"4"},
        {u"Artist", u"5"},    {u"SortArtist", u"6"},   {u"ArtistURL", u"7"},        {u"Album", u"8"},
        {u"SortAlbum", u"9"}, {u"AlbumArtist", u"10"}, {u"SortAlbumArtist", u"11"}, {u"Genre", u"12"},
        {u"Composer", u"13"}, {u"Lyricist", u"14"},    {u"TrackNumber", u"15"},     {u"TotalTracks", u"16"},
        {u"Release", u"17"},  {u"Import", u"18"},      {u"Duration", u"19"},        {u"MilliSecond", u"20"}};
    EXPECT_EQ(Entries(r->options.tags), expected);
}

TEST_F(DispatchTest, ReleaseYearBecomesFirstOfJanuary) {
    auto value = [](const std::u16string& word) {
        auto r = ReadWords({u"--Release", word});
        return r->options.tags[0].value;
    };
    EXPECT_EQ(value(u"2000"), u"2000/01/01");
    EXPECT_EQ(value(u"999"), u"999");
    EXPECT_EQ(value(u"12345"), u"12345");
    EXPECT_EQ(value(u"0999"), u"0999");
    EXPECT_EQ(value(u"1999/12/31"), u"1999/12/31");
}

TEST_F(DispatchTest, IdentityOverridesDropTheDetectedIdentityOnce) {
    auto r = std::make_unique<Read>();
    r->identity.ApplicationId = 285;
    r->identity.PluginRegistryKey = SysAllocString(u"SOFTWARE\\Detected");
    ReadArguments({u"--ApplicationId", u"0x129"}, r->options, r->identity);
    EXPECT_TRUE(r->identity.IsGiven);
    EXPECT_EQ(r->identity.ApplicationId, 297);
    EXPECT_EQ(r->identity.PluginRegistryKey, nullptr);
    EXPECT_EQ(r->identity.Mode, 2);

    auto s = std::make_unique<Read>();
    s->identity.ApplicationId = 285;
    ReadArguments({u"--PluginRegistryKey", u"KEY", u"--ApplicationId", u"+297"}, s->options, s->identity);
    EXPECT_EQ(s->identity.ApplicationId, 297);
    ASSERT_NE(s->identity.PluginRegistryKey, nullptr);
    EXPECT_EQ(std::u16string(s->identity.PluginRegistryKey), u"KEY");

    // Without a value the option still drops the detected identity.
    auto t = std::make_unique<Read>();
    t->identity.ApplicationId = 285;
    ReadArguments({u"--ApplicationId", U16(file_)}, t->options, t->identity);
    EXPECT_TRUE(t->identity.IsGiven);
    EXPECT_EQ(t->identity.ApplicationId, 0);
    EXPECT_EQ(t->options.sources.Size(), 0u);  // a path is a value like any other word
}

TEST_F(DispatchTest, VersionHelpAndExitEndTheReading) {
    auto v = ReadWords({u"--Version", u"--Get", U16(file_)});
    EXPECT_EQ(v->outcome, ReadOutcome::kAnswered);
    EXPECT_EQ(v->output, "Quillet Version 111029.\n");
    EXPECT_TRUE(v->options.sources.Empty());

    auto h = ReadWords({u"--help", u"--Get", U16(file_)});
    EXPECT_EQ(h->outcome, ReadOutcome::kAnswered);
    EXPECT_TRUE(h->options.sources.Empty());

    auto e = ReadWords({U16(file_), u"--EXIT", U16(other_)});
    EXPECT_EQ(e->outcome, ReadOutcome::kStopped);
    EXPECT_EQ(e->output, "");
    EXPECT_EQ(e->options.sources.Size(), 1u);
}

TEST(Help, PrintsEightyOneLinesWithTabsAndFiveBlankLines) {
    tooltest::OutputCapture capture;
    quillet::PrintHelp();
    const std::string text = capture.Text();
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size());  // ends with a line end
    ASSERT_EQ(lines.size(), 86u);
    EXPECT_EQ(lines.front(), "[--Version]");
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(lines[18], "---Output \"FileName\"");
    EXPECT_EQ(lines[22], "\tWAV=PCM.wav");
    EXPECT_EQ(lines.back(), "--MilliSecond 0~");
    int blank = 0;
    int tabbed = 0;
    for (const auto& line : lines) {
        blank += line.empty();
        tabbed += !line.empty() && line[0] == '\t';
        EXPECT_EQ(line.find('\r'), std::string::npos);
    }
    EXPECT_EQ(blank, 5);
    EXPECT_EQ(tabbed, 25);
    EXPECT_NE(text.find("--TrackNumber  0~\n--TotalTracks  0~\n"), std::string::npos);
    EXPECT_EQ(text.find("--ApplicationId"), std::string::npos);
}

}  // namespace
