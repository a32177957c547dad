// Lyrics, liner notes and jacket attached to and exported from a fake item,
// with the library's own picture objects: the file choice from the last entry
// back, every mode, the result lines, the export names and encodings.
#include "tool/tags/notes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "library/media_ids.h"
#include "picture_helpers.h"
#include "platform_imaging/test_pictures.h"
#include "support/fake_media_library.h"
#include "tool/commands/entry.h"
#include "tool/common/name_value_list.h"
#include "tool/helpers.h"

using namespace picturetest;
using FakeItem = testsupport::FakeMediaItem;
using quillet::NameValueList;
using tooltest::U16;
namespace attr = medialib::attr;

namespace {

class NotesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        item_ = FakeItem::Make();
        text_ = dir_ / "words.txt";
        testsupport::WriteText(text_, "Hello\r\nworld");
        picture_ = dir_ / "art.png";
        const Bytes png = imaging_test::MakePng(
            40, 30, [](uint32_t x, uint32_t) { return x < 20 ? 0xFFFF0000u : 0xFF0000FFu; });
        testsupport::WriteBytes(picture_, png);
    }

    NameValueList List(std::initializer_list<std::filesystem::path> paths, const char16_t* digit = u"3") {
        NameValueList list;
        for (const auto& path : paths) list.Append(digit, U16(path).c_str());
        return list;
    }

    bool Attach(const NameValueList& list, LONG mode, const quillet::NotesKind& kind = quillet::kLyricsKind) {
        tooltest::OutputCapture capture;
        const bool result =
            quillet::AttachNotes(list, item_.Get(), kind, mode, true, quillet::JpegEncoderClsid, 20);
        output_ = capture.Text();
        return result;
    }

    // The stored picture's MIME type and bytes; "" when there is none.
    std::u16string PictureMime(ULONG id) {
        if (!item_->Has(id)) return u"";
        const VARIANT* v = item_->ValuesOf(id)[0].Get();
        if (v->vt != VT_UNKNOWN || !v->punkVal) return u"";
        ComPtr<MediaPicture> picture;
        v->punkVal->QueryInterface(IID_MediaPicture, picture.ReleaseAndGetVoidAddress());
        return picture ? MimeOf(picture.Get()) : u"";
    }
    Bytes PictureData(ULONG id) {
        const VARIANT* v = item_->ValuesOf(id)[0].Get();
        ComPtr<MediaPicture> picture;
        v->punkVal->QueryInterface(IID_MediaPicture, picture.ReleaseAndGetVoidAddress());
        return DataOf(picture.Get());
    }

    testsupport::ScopedTempDir dir_;
    tooltest::CodePage code_page_{"windows-1252"};
    ComPtr<FakeItem> item_;
    std::filesystem::path text_;
    std::filesystem::path picture_;
    std::string output_;
};

TEST_F(NotesTest, AutoUsesTheLastUsableFile) {
    // Text, then picture: the picture wins and the text attribute goes.
    item_->PutText(attr::LyricsText, u"old");
    ASSERT_TRUE(Attach(List({text_, picture_, dir_ / "missing.txt"}), quillet::kModeAuto));
    EXPECT_FALSE(item_->Has(attr::LyricsText));
    EXPECT_EQ(PictureMime(attr::LyricsPicture), u"image/jpeg");
    EXPECT_EQ(output_, "LyricsPictureFile=" + picture_.string() + "\n");

    // Picture, then text: the text is stored, and the picture attribute holds
    // it as "text/plain".
    ASSERT_TRUE(Attach(List({picture_, text_}), quillet::kModeAuto, quillet::kLinerNotesKind));
    EXPECT_EQ(item_->Text(attr::LinerNotesText), u"Hello\r\nworld");
    EXPECT_EQ(PictureMime(attr::LinerNotesPicture), u"text/plain");
    const Bytes plain = PictureData(attr::LinerNotesPicture);
    EXPECT_EQ(std::string(plain.begin(), plain.end()), "Hello\r\nworld");
    EXPECT_EQ(output_, "LinerNotesTextFile=" + text_.string() + "\n");
}

TEST_F(NotesTest, HybridWithOnlyATextRendersThePictureAndPrintsBothLines) {
    ASSERT_TRUE(Attach(List({text_}), quillet::kModeHybrid));
    EXPECT_EQ(item_->Text(attr::LyricsText), u"Hello\r\nworld");
    EXPECT_EQ(PictureMime(attr::LyricsPicture), u"image/jpeg");
    EXPECT_EQ(output_, "LyricsTextFile=" + text_.string() + "\nLyricsPictureFile=" + text_.string() + "\n");

    // With only a picture it is Picture mode: the text goes.
    ASSERT_TRUE(Attach(List({picture_}), quillet::kModeHybrid));
    EXPECT_FALSE(item_->Has(attr::LyricsText));
    EXPECT_EQ(output_, "LyricsPictureFile=" + picture_.string() + "\n");
}

TEST_F(NotesTest, PictureModeRendersATextAndRemovesTheTextAttribute) {
    item_->PutText(attr::LyricsText, u"old");
    ASSERT_TRUE(Attach(List({text_}), quillet::kModePicture));
    EXPECT_FALSE(item_->Has(attr::LyricsText));
    const DecodedPicture rendered = Decode(PictureData(attr::LyricsPicture));
    EXPECT_TRUE(rendered.ok);
    EXPECT_GT(rendered.height, 40u);
    EXPECT_EQ(output_, "LyricsPictureFile=" + text_.string() + "\n");
}

TEST_F(NotesTest, DeleteRemovesBothAndMissingFilesFailEveryOtherMode) {
    item_->PutText(attr::LyricsText, u"old");
    ASSERT_TRUE(Attach(List({text_}), quillet::kModeDelete));
    EXPECT_FALSE(item_->Has(attr::LyricsText));
    EXPECT_TRUE(Attach(List({}), quillet::kModeDelete));  // removals of absent values succeed here
    item_->set_failures[attr::LyricsText] = E_FAIL;
    item_->set_failures[attr::LyricsPicture] = E_FAIL;
    EXPECT_FALSE(Attach(List({}), quillet::kModeDelete));
    item_->set_failures.clear();

    EXPECT_TRUE(Attach(List({}), quillet::kModeText));  // an empty list does nothing
    std::filesystem::create_directory(dir_ / "folder.txt");
    const auto missing = List({dir_ / "none.txt", dir_ / "folder.txt", dir_ / "none.png"});
    for (LONG mode : std::initializer_list<LONG>{quillet::kModeText, quillet::kModePicture,
                                                 quillet::kModeAuto, quillet::kModeHybrid}) {
        EXPECT_FALSE(Attach(missing, mode)) << mode;
        EXPECT_EQ(output_, "");
    }
    EXPECT_FALSE(Attach(List({text_}), 7));
    // Text mode without a text file fails even with a picture.
    EXPECT_FALSE(Attach(List({picture_}), quillet::kModeText));
}

TEST_F(NotesTest, HostileFilesFailWithoutALine) {
    const auto empty = dir_ / "empty.txt";
    testsupport::WriteText(empty, "");
    EXPECT_FALSE(Attach(List({empty}), quillet::kModeText));
    EXPECT_FALSE(Attach(List({empty}), quillet::kModeHybrid));
    EXPECT_EQ(output_, "");
    // A ".png" that is really text is a text file.
    const auto fake_png = dir_ / "fake.png";
    testsupport::WriteText(fake_png, "not a picture");
    ASSERT_TRUE(Attach(List({fake_png}), quillet::kModeAuto));
    EXPECT_EQ(item_->Text(attr::LyricsText), u"not a picture");
    // A text the item refuses fails.
    item_->set_failures[attr::LyricsText] = E_FAIL;
    EXPECT_FALSE(Attach(List({text_}), quillet::kModeText));
    EXPECT_FALSE(Attach(List({text_}), quillet::kModePicture));  // the text cannot be removed
}

TEST_F(NotesTest, ExportWritesTextInTheDigitsEncodingAndThePicture) {
    item_->PutText(attr::LyricsText, u"caf\u00e9 \u6b4c");
    const auto target = dir_ / "out" / "x.mp3";
    quillet::PictureBounds bounds;
    {
        tooltest::OutputCapture capture;
        ASSERT_TRUE(quillet::ExportNotes(List({target}, u"3"), item_.Get(), quillet::kLyricsKind, true,
                                         quillet::JpegEncoderClsid, bounds, false));
        output_ = capture.Text();
    }
    const Bytes utf16 = testsupport::ReadBytes(dir_ / "out" / "x.lrc");
    ASSERT_GE(utf16.size(), 4u);
    EXPECT_EQ(utf16[0], 0xFF);
    EXPECT_EQ(utf16[1], 0xFE);
    EXPECT_EQ(utf16[2], 'c');
    EXPECT_EQ(output_, "LyricsTextFile=" + (dir_ / "out" / "x.lrc").string() + "\n");

    // An existing file stays without force-write; digit 9 gives UTF-8 with its mark.
    {
        tooltest::OutputCapture capture;
        ASSERT_TRUE(quillet::ExportNotes(List({target}, u"9"), item_.Get(), quillet::kLyricsKind, true,
                                         quillet::JpegEncoderClsid, bounds, false));
        EXPECT_EQ(capture.Text(), "");
        ASSERT_TRUE(quillet::ExportNotes(List({target}, u"9"), item_.Get(), quillet::kLyricsKind, true,
                                         quillet::JpegEncoderClsid, bounds, true));
    }
    const Bytes utf8 = testsupport::ReadBytes(dir_ / "out" / "x.lrc");
    ASSERT_GE(utf8.size(), 3u);
    EXPECT_EQ(std::string(utf8.begin(), utf8.begin() + 3), "\xEF\xBB\xBF");

    // With a picture as well, x.lrc.jpg; a "text/plain" picture is not exported.
    ComPtr<MediaPicture> png = NewLibraryPicture(testsupport::ReadBytes(picture_), u"image/png");
    item_->Put(attr::LyricsPicture, {platform::Variant::FromUnknown(png.Get())});
    {
        tooltest::OutputCapture capture;
        ASSERT_TRUE(quillet::ExportNotes(List({target}), item_.Get(), quillet::kLyricsKind, true,
                                         quillet::JpegEncoderClsid, bounds, true));
        EXPECT_EQ(capture.Text(), "LyricsTextFile=" + (dir_ / "out" / "x.lrc").string() +
                                      "\nLyricsPictureFile=" + (dir_ / "out" / "x.lrc.jpg").string() + "\n");
    }
    EXPECT_TRUE(Decode(testsupport::ReadBytes(dir_ / "out" / "x.lrc.jpg")).ok);

    FakeItem* bare = nullptr;
    ComPtr<FakeItem> nothing = FakeItem::Make();
    bare = nothing.Get();
    EXPECT_FALSE(quillet::ExportNotes(List({target}), bare, quillet::kLinerNotesKind, true,
                                      quillet::JpegEncoderClsid, bounds, true));
    EXPECT_TRUE(quillet::ExportNotes(List({}), bare, quillet::kLinerNotesKind, true,
                                     quillet::JpegEncoderClsid, bounds, true));
}

TEST_F(NotesTest, JacketModes) {
    std::u16string artist = u"given", title = u"given";
    quillet::PictureBounds bounds;
    auto attach = [&](const NameValueList& list, LONG mode) {
        tooltest::OutputCapture capture;
        const bool ok = quillet::AttachJacket(list, item_.Get(), mode, true, quillet::JpegEncoderClsid,
                                              bounds, artist, title);
        output_ = capture.Text();
        return ok;
    };
    // Picture mode without a usable picture changes nothing.
    EXPECT_TRUE(attach(List({text_}), quillet::kModePicture));
    EXPECT_FALSE(item_->Has(attr::Jacket));
    EXPECT_EQ(output_, "");
    // Text mode on a file without artist and title.
    EXPECT_TRUE(attach(List({}), quillet::kModeText));
    EXPECT_EQ(output_, "JacketText=[Unknown Artist]Unknown Title\n");
    EXPECT_EQ(artist, u"");
    EXPECT_EQ(Decode(PictureData(attr::Jacket)).width, 640u);
    // Auto with a picture file; the newest usable entry counts.
    EXPECT_TRUE(attach(List({picture_, text_}), quillet::kModeAuto));
    EXPECT_EQ(output_, "JacketFile=" + picture_.string() + "\n");
    EXPECT_EQ(Decode(PictureData(attr::Jacket)).width, 40u);
    // A first list that refuses falls back to the second.
    item_->set_failures[attr::Jacket] = E_FAIL;
    EXPECT_TRUE(attach(List({picture_}), quillet::kModePicture));
    EXPECT_TRUE(item_->Has(attr::JacketAlt));
    item_->set_failures[attr::JacketAlt] = E_FAIL;
    EXPECT_FALSE(attach(List({picture_}), quillet::kModePicture));
    EXPECT_FALSE(attach(List({}), quillet::kModeDelete));
    item_->set_failures.clear();
    EXPECT_TRUE(attach(List({}), quillet::kModeDelete));
    EXPECT_FALSE(item_->Has(attr::Jacket));

    // Export: cover.png names cover.jpg; nothing stored writes nothing.
    item_->SetAttribute(attr::JacketAlt, 0, nullptr);
    EXPECT_FALSE(quillet::ExportJacket(List({dir_ / "cover.png"}), item_.Get(), true,
                                       quillet::JpegEncoderClsid, bounds, false));
    ComPtr<MediaPicture> png = NewLibraryPicture(testsupport::ReadBytes(picture_), u"image/png");
    item_->Put(attr::Jacket, {platform::Variant::FromUnknown(png.Get())});
    {
        tooltest::OutputCapture capture;
        EXPECT_TRUE(quillet::ExportJacket(List({dir_ / "cover.png"}), item_.Get(), true,
                                          quillet::JpegEncoderClsid, bounds, false));
        EXPECT_EQ(capture.Text(), "JacketFile=" + (dir_ / "cover.jpg").string() + "\n");
    }
    EXPECT_FALSE(quillet::ExportJacket(List({dir_ / "cover.png"}), item_.Get(), true,
                                       quillet::JpegEncoderClsid, bounds, false));
    EXPECT_EQ(quillet::JacketText(u"", u"Song"), u"[Unknown Artist]Song");
}

}  // namespace
