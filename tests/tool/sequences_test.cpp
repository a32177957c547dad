// The Get and Put sequences through a whole command line against a fake
// library: info files written and read, tag options over info files over
// base files, exit codes, and the "--GetAll"/"--PutAll" defaults.
#include <gtest/gtest.h>

#include "helpers.h"
#include "library/media_ids.h"
#include "platform/com/apartment.h"
#include "support/fake_media_library.h"
#include "tool/commands/entry.h"

namespace attr = medialib::attr;

namespace {

using testsupport::FakeMediaItem;
using tooltest::U16;
namespace attr = medialib::attr;

std::string Bytes(const std::filesystem::path& path) {
    auto bytes = testsupport::ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

class SequenceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        song_ = dir_ / "song.oma";
        base_ = dir_ / "base.oma";
        testsupport::WriteText(song_, "x");
        testsupport::WriteText(base_, "y");
        item_ = Openable(song_);
        item_->PutText(attr::Title, u"Old title");
        item_->PutText(attr::Album, u"Old album");
        item_->PutInt(attr::TrackNumber, 1);
    }
    void TearDown() override { CoUninitialize(); }

    ComPtr<FakeMediaItem> Openable(const std::filesystem::path& path) { return fake_.Openable(U16(path)); }

    LONG Run(std::vector<std::u16string> arguments) {
        return tooltest::RunQuilletLine(std::move(arguments), &output_);
    }

    testsupport::ScopedTempDir dir_;
    tooltest::CodePage code_page_{"windows-1252"};
    testsupport::FakeMediaLibrary fake_;
    std::filesystem::path song_;
    std::filesystem::path base_;
    ComPtr<FakeMediaItem> item_;
    std::string output_;
};

TEST_F(SequenceTest, GetWritesThirtyFourCrLfLinesAndPrintsInfoFileBeforeTheListing) {
    const auto info = dir_ / "out" / "song.info";
    EXPECT_EQ(Run({u"--Get", U16(song_), u"--Info", U16(dir_ / "out" / "song.dat")}), 0);
    const std::string text = Bytes(info);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 34);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 34);
    EXPECT_EQ(text.rfind("Title=Old title\r\nSortTitle=\r\nSubtitle=\r\n", 0), 0u);
    EXPECT_NE(text.find("\r\nAlbum=Old album\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nTrackNumber=1\r\n"), std::string::npos);
    const std::string expected =
        "TargetTrack=" + song_.string() + "\nInfoFile=" + info.string() + "\nTitle=Old title\n";
    EXPECT_EQ(output_.substr(0, expected.size()), expected);
    EXPECT_EQ(item_->close_count, 1);
}

TEST_F(SequenceTest, GetOverAnExistingInfoFileFailsUnlessGetAllOrForceWrite) {
    const auto info = dir_ / "song.info";
    testsupport::WriteText(info, "mine");
    EXPECT_EQ(Run({u"--Get", U16(song_), u"--Info", U16(info)}), 1);
    EXPECT_EQ(output_.find("InfoFile="), std::string::npos);
    EXPECT_EQ(Bytes(info), "mine");
    EXPECT_NE(output_.find("\nJacket=\nEOS.\n"), std::string::npos);  // the listing still follows

    EXPECT_EQ(Run({u"--GetAll", U16(song_), u"--Info", U16(info)}), 0);
    EXPECT_EQ(Bytes(info), "mine");

    EXPECT_EQ(Run({u"--Get", U16(song_), u"--Info", U16(info), u"--ForceWrite"}), 0);
    EXPECT_NE(Bytes(info), "mine");
}

TEST_F(SequenceTest, GetAllDefaultsToTheInfoFileBesideTheTargetInTheCommandDigit) {
    EXPECT_EQ(Run({u"--GetAll2", U16(song_), u"--Quiet"}), 0);
    const auto info = dir_ / "song.info";
    EXPECT_EQ(Bytes(info).substr(0, 4), std::string("\xFF\xFET\0", 4));
    EXPECT_EQ(output_, "TargetTrack=" + song_.string() + "\nInfoFile=" + info.string() + "\nEOS.\n");
}

TEST_F(SequenceTest, PutTagOptionsOverInfoFileOverBaseFiles) {
    ComPtr<FakeMediaItem> base = Openable(base_);
    base->PutText(attr::Album, u"Base album");
    base->PutText(attr::Artist, u"Base artist");
    base->PutText(attr::Genre, u"Base genre");
    const auto info = dir_ / "tags.info";
    testsupport::WriteText(info, "Title=From file\r\nAlbum=File album\r\nGenre=\r\nTrackNumber=3/12\r\n");
    EXPECT_EQ(Run({u"--Put", U16(song_), u"--Base", U16(base_), u"--Info", U16(info), u"--Title",
                   u"From option", u"--Quiet"}),
              0);
    EXPECT_EQ(item_->Text(attr::Title), u"From option");
    EXPECT_EQ(item_->Text(attr::Album), u"File album");
    EXPECT_EQ(item_->Text(attr::AlbumAlt), u"File album");
    EXPECT_EQ(item_->Text(attr::Artist), u"Base artist");
    EXPECT_FALSE(item_->Has(attr::Genre));  // an empty value removes a single value
    EXPECT_EQ(item_->Text(attr::TotalTracks), u"I4:12");
    EXPECT_EQ(item_->Text(attr::TrackNumber), u"I4:3");
    EXPECT_EQ(base->close_count, 1);
    EXPECT_EQ(item_->close_count, 1);
    // The base was opened after the target, through the library.
    EXPECT_EQ(fake_.state->opened, (std::vector<std::u16string>{U16(song_), U16(base_)}));
}

TEST_F(SequenceTest, PutWithOnlyUnknownNamesFailsAndAnEmptyPutSucceeds) {
    const auto info = dir_ / "tags.info";
    testsupport::WriteText(info, "Unknown=1\r\nSize=5\r\n");
    EXPECT_EQ(Run({u"--Put", U16(song_), u"--Info", U16(info)}), 1);
    for (const auto& call : item_->calls) EXPECT_NE(call.op, "Set");

    EXPECT_EQ(Run({u"--Put", U16(song_), u"--Base", U16(dir_ / "missing.oma")}), 0);
}

TEST_F(SequenceTest, GetNotesAndJacketExportsFailTheRunUnlessGetAll) {
    const auto out = dir_ / "out" / "x.mp3";
    // Nothing stored: the notes export fails, and so does a jacket export that wrote nothing.
    EXPECT_EQ(Run({u"--Get", U16(song_), u"--Lyrics", U16(out), u"--Quiet"}), 1);
    EXPECT_EQ(Run({u"--GetAll", U16(song_), u"--Lyrics", U16(out), u"--Quiet"}), 0);
    EXPECT_EQ(Run({u"--Get", U16(song_), u"--Jacket", U16(out), u"--Quiet"}), 1);
    EXPECT_EQ(Run({u"--GetAll", U16(song_), u"--Jacket", U16(out), u"--Quiet"}), 0);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out"));

    // A stored liner-notes text is written beside the entry, before the listing.
    item_->PutText(attr::LinerNotesText, u"Notes");
    EXPECT_EQ(Run({u"--Get", U16(song_), u"--LinerNotes", U16(out)}), 0);
    const auto txt = dir_ / "out" / "x.txt";
    EXPECT_EQ(Bytes(txt), "Notes");
    const std::string expected =
        "TargetTrack=" + song_.string() + "\nLinerNotesTextFile=" + txt.string() + "\nTitle=";
    EXPECT_EQ(output_.substr(0, expected.size()), expected);
}

TEST_F(SequenceTest, PutAttachesLyricsThenLinerNotesThenJacketAfterTheTags) {
    EXPECT_EQ(Run({u"--Put", U16(song_), u"--Title", u"T", u"--LyricsMode", u"Delete", u"--LinerNotesMode",
                   u"Delete", u"--JacketMode", u"Delete", u"--Quiet"}),
              0);
    std::vector<std::pair<ULONG, LONG>> sets;
    for (const auto& call : item_->calls)
        if (call.op == "Set") sets.emplace_back(call.id, call.count);
    const std::vector<std::pair<ULONG, LONG>> expected = {
        {attr::Title, 1},          {attr::LyricsText, 0},        {attr::LyricsPicture, 0},
        {attr::LinerNotesText, 0}, {attr::LinerNotesPicture, 0}, {attr::Jacket, 0}};
    EXPECT_EQ(sets, expected);

    // A notes step that fails sets the exit code; the later steps still run.
    item_->calls.clear();
    item_->set_failures[attr::LyricsText] = E_FAIL;
    item_->set_failures[attr::LyricsPicture] = E_FAIL;
    EXPECT_EQ(Run({u"--Put", U16(song_), u"--LyricsMode", u"Delete", u"--JacketMode", u"Delete", u"--Quiet"}),
              1);
    ULONG last_set = 0;
    for (const auto& call : item_->calls)
        if (call.op == "Set") last_set = call.id;
    EXPECT_EQ(last_set, ULONG{attr::Jacket});
}

TEST_F(SequenceTest, CreateWithoutArtistOrTitleWritesNoJacket) {
    const auto out = dir_ / "jacket.png";
    EXPECT_EQ(Run({u"--Create", u"--JacketJpeg", U16(out)}), 0);
    EXPECT_EQ(output_.find("JacketJpeg"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "jacket.jpg"));
}

TEST_F(SequenceTest, PutAllAddsDefaultsThatMayBeMissing) {
    // The default lyrics and liner-notes files do not exist: their Auto
    // attachments fail (Put has no All exception), the tags are still written.
    EXPECT_EQ(Run({u"--PutAll", U16(song_), u"--Artist", u"A", u"--Quiet"}), 1);
    EXPECT_EQ(item_->Text(attr::Artist), u"A");
    EXPECT_EQ(output_, "TargetTrack=" + song_.string() + "\nEOS.\n");
}

TEST_F(SequenceTest, ListingShowsTheWrittenValues) {
    EXPECT_EQ(Run({u"--Put", U16(song_), u"--Release", u"2000", u"--tn", u"4"}), 0);
    EXPECT_NE(output_.find("\nTrackNumber=4\n"), std::string::npos);
    EXPECT_NE(output_.find("\nRelease=2000/01/01\n"), std::string::npos);
}

}  // namespace
