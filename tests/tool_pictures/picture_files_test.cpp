// Saving pictures under the extension of their type (force-write, protected
// files, folders made on the way) and wrapping texts into "text/plain"
// picture objects; against the recording fake and the library's pictures.
#include "tool/pictures/picture_files.h"

#include <gtest/gtest.h>

#include "picture_helpers.h"
#include "platform/files/files.h"
#include "platform/text/text.h"
#include "platform_imaging/test_pictures.h"
#include "support/test_support.h"
#include "tool/commands/entry.h"
#include "tool/pictures/recoding.h"

namespace {

using picturetest::Bytes;
using picturetest::PictureLog;

std::u16string W(const std::filesystem::path& path) { return platform::FromNativePath(path.string()); }

Bytes SmallPng() {
    return imaging_test::MakePng(6, 4,
                                 [](uint32_t x, uint32_t) { return x < 3 ? 0xFF00FF00u : 0xFF0000FFu; });
}

DWORD AttributesOf(const std::filesystem::path& path) { return GetFileAttributesW(W(path).c_str()); }

class SavePictureTest : public ::testing::Test {
  protected:
    ComPtr<MediaPicture> Library(const Bytes& bytes, std::u16string_view mime) {
        ComPtr<MediaPicture> picture = picturetest::NewLibraryPicture(bytes, mime);
        EXPECT_TRUE(picture) << "the media library's picture class (bin/registry.reg)";
        return picture;
    }
    testsupport::ScopedTempDir dir_;
    std::shared_ptr<PictureLog> log_ = std::make_shared<PictureLog>();
};

TEST_F(SavePictureTest, TheExtensionComesFromTheTypeAndIsReturned) {
    const Bytes png = SmallPng();
    struct Case {
        const char16_t* mime;
        const char16_t* extension;
    };
    const Case cases[] = {{u"image/jpeg", u".jpg"},
                          {u"IMAGE/PNG", u".png"},
                          {u"image/Gif", u".gif"},
                          {u"image/bmp", u".bmp"},
                          {u"image/tiff", u".tif"},
                          {u"text/plain", u""},
                          {u"", u""},
                          {u"image/webp", u""}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(platform::Utf16ToUtf8(c.mime));
        ComPtr<MediaPicture> picture = Library(png, c.mime);
        ASSERT_TRUE(picture);
        const std::string base = "picture" + std::to_string(n++);
        std::u16string extension = u"stale";
        ASSERT_TRUE(quillet::SavePicture(&extension, W(dir_ / base).c_str(), picture.Get(), false));
        EXPECT_EQ(extension, c.extension);
        EXPECT_EQ(testsupport::ReadBytes(dir_ / (base + platform::Utf16ToUtf8(c.extension))), png);
    }
}

TEST_F(SavePictureTest, APictureWhoseTypeCannotBeReadIsSavedWithoutExtension) {
    auto picture = picturetest::NewRecordingPicture(log_, SmallPng(), u"image/png");
    picture->get_property_result = E_FAIL;
    std::u16string extension;
    ASSERT_TRUE(quillet::SavePicture(&extension, W(dir_ / "cover").c_str(), picture.Get(), false));
    EXPECT_EQ(extension, u"");
    EXPECT_TRUE(std::filesystem::exists(dir_ / "cover"));
}

TEST_F(SavePictureTest, MissingPathsAndPicturesFailWithTheExtensionCleared) {
    ComPtr<MediaPicture> picture = Library(SmallPng(), u"image/png");
    ASSERT_TRUE(picture);
    std::u16string extension = u".old";
    EXPECT_FALSE(quillet::SavePicture(&extension, nullptr, picture.Get(), true));
    EXPECT_EQ(extension, u"");
    extension = u".old";
    EXPECT_FALSE(quillet::SavePicture(&extension, u"", picture.Get(), true));
    EXPECT_EQ(extension, u"");
    EXPECT_FALSE(quillet::SavePicture(nullptr, W(dir_ / "x").c_str(), nullptr, true));
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

TEST_F(SavePictureTest, TheFoldersAreMadeWithTheirParents) {
    ComPtr<MediaPicture> picture = Library(SmallPng(), u"image/png");
    ASSERT_TRUE(picture);
    ASSERT_TRUE(quillet::SavePicture(nullptr, W(dir_ / "a" / "b" / "cover").c_str(), picture.Get(), false));
    EXPECT_EQ(testsupport::ReadBytes(dir_ / "a" / "b" / "cover.png"), SmallPng());
}

TEST_F(SavePictureTest, AnExistingFileIsReplacedOnlyWhenForceWriting) {
    ComPtr<MediaPicture> picture = Library(SmallPng(), u"image/png");
    ASSERT_TRUE(picture);
    testsupport::WriteText(dir_ / "cover.png", "old");
    EXPECT_FALSE(quillet::SavePicture(nullptr, W(dir_ / "cover").c_str(), picture.Get(), false));
    EXPECT_EQ(testsupport::ReadBytes(dir_ / "cover.png"), (Bytes{'o', 'l', 'd'}));
    EXPECT_TRUE(quillet::SavePicture(nullptr, W(dir_ / "cover").c_str(), picture.Get(), true));
    EXPECT_EQ(testsupport::ReadBytes(dir_ / "cover.png"), SmallPng());
    // A folder of the name counts as free, and the save into it fails.
    std::filesystem::create_directory(dir_ / "folder.png");
    EXPECT_FALSE(quillet::SavePicture(nullptr, W(dir_ / "folder").c_str(), picture.Get(), false));
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "folder.png"));
}

TEST_F(SavePictureTest, AReadOnlyHiddenFileStaysReadOnlyAndHiddenWhenReplaced) {
    ComPtr<MediaPicture> picture = Library(SmallPng(), u"image/png");
    ASSERT_TRUE(picture);
    const auto file = dir_ / "cover.png";
    testsupport::WriteText(file, "old");
    if (!SetFileAttributesW(W(file).c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)) {
        GTEST_SKIP() << "the temporary folder's file system has no user extended attributes, so nothing "
                        "can be hidden there";
    }

    EXPECT_FALSE(quillet::SavePicture(nullptr, W(dir_ / "cover").c_str(), picture.Get(), false));
    EXPECT_EQ(testsupport::ReadBytes(file), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(AttributesOf(file) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);

    std::u16string extension;
    ASSERT_TRUE(quillet::SavePicture(&extension, W(dir_ / "cover").c_str(), picture.Get(), true));
    EXPECT_EQ(extension, u".png");
    EXPECT_EQ(testsupport::ReadBytes(file), SmallPng());
    EXPECT_EQ(AttributesOf(file) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(SavePictureTest, EachAttributeComesBackAloneAsItWas) {
    const auto hidden = dir_ / "hidden.png";
    const auto read_only = dir_ / "readonly.png";
    testsupport::WriteText(hidden, "h");
    testsupport::WriteText(read_only, "r");
    ASSERT_TRUE(SetFileAttributesW(W(read_only).c_str(), FILE_ATTRIBUTE_READONLY));
    const bool can_hide = SetFileAttributesW(W(hidden).c_str(), FILE_ATTRIBUTE_HIDDEN);

    ComPtr<MediaPicture> picture = Library(SmallPng(), u"image/png");
    ASSERT_TRUE(picture);
    ASSERT_TRUE(quillet::SavePicture(nullptr, W(dir_ / "readonly").c_str(), picture.Get(), true));
    EXPECT_EQ(AttributesOf(read_only) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(testsupport::ReadBytes(read_only), SmallPng());
    if (!can_hide) GTEST_SKIP() << "no user extended attributes in the temporary folder: hidden not tested";
    ASSERT_TRUE(quillet::SavePicture(nullptr, W(dir_ / "hidden").c_str(), picture.Get(), true));
    EXPECT_EQ(AttributesOf(hidden) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(testsupport::ReadBytes(hidden), SmallPng());
}

TEST_F(SavePictureTest, AFailedSaveLeavesTheProtectedFileAsItWas) {
    const auto file = dir_ / "cover.png";
    testsupport::WriteText(file, "old");
    ASSERT_TRUE(SetFileAttributesW(W(file).c_str(), FILE_ATTRIBUTE_READONLY));
    auto picture = picturetest::NewRecordingPicture(log_, SmallPng(), u"image/png");
    picture->save_result = STG_E_WRITEFAULT;
    EXPECT_FALSE(quillet::SavePicture(nullptr, W(dir_ / "cover").c_str(), picture.Get(), true));
    EXPECT_EQ(log_->saves, std::vector<std::u16string>{W(file)});
    EXPECT_EQ(testsupport::ReadBytes(file), (Bytes{'o', 'l', 'd'}));
    EXPECT_TRUE(AttributesOf(file) & FILE_ATTRIBUTE_READONLY);
}

// ---- text objects ------------------------------------------------------------------

TEST(MakeTextObject, HoldsTheTextInTheAnsiCodePageLabelledTextPlain) {
    platform::SetThreadAnsiCodePage("windows-1252");
    picturetest::FakePictureClass fake;
    {
        ComPtr<MediaPicture> picture = quillet::MakeTextObject(u"Caf\u00e9 \u65e5\r\nline");
        ASSERT_TRUE(picture);
        // No terminating NUL; a character the code page lacks becomes its default.
        const std::string expected = "Caf\xe9 ?\r\nline";
        EXPECT_EQ(picturetest::DataOf(picture.Get()), Bytes(expected.begin(), expected.end()));
        EXPECT_EQ(picturetest::MimeOf(picture.Get()), u"text/plain");
        EXPECT_EQ(fake.log->mime_sets, std::vector<std::u16string>{u"text/plain"});
        EXPECT_EQ(fake.log->data_sets.size(), 1u);
    }
    EXPECT_EQ(fake.log->live, 0);
    platform::SetThreadAnsiCodePage(nullptr);
}

TEST(MakeTextObject, NoTextOrAnObjectThatCannotBeMadeOrFilledGivesNone) {
    picturetest::FakePictureClass fake;
    EXPECT_FALSE(quillet::MakeTextObject(nullptr));
    EXPECT_FALSE(quillet::MakeTextObject(u""));
    EXPECT_EQ(fake.log->created, 0) << "no object for no text";

    fake.create_result = E_OUTOFMEMORY;
    EXPECT_FALSE(quillet::MakeTextObject(u"text"));
    fake.create_result = S_OK;

    fake.set_data_result = E_OUTOFMEMORY;
    EXPECT_FALSE(quillet::MakeTextObject(u"text"));
    fake.set_data_result = S_OK;

    fake.set_property_result = E_INVALIDARG;
    EXPECT_FALSE(quillet::MakeTextObject(u"text"));
    EXPECT_EQ(fake.log->created, 2);
    EXPECT_EQ(fake.log->live, 0) << "a half-made object is released";
}

TEST(MakeTextObject, ALibraryTextObjectIsSavedWithoutExtensionAndIsNoPicture) {
    ComPtr<MediaPicture> picture = quillet::MakeTextObject(u"la la la");
    ASSERT_TRUE(picture) << "the media library's picture class (bin/registry.reg)";
    EXPECT_EQ(picturetest::MimeOf(picture.Get()), u"text/plain");
    EXPECT_FALSE(quillet::RecodePicture(picture.Get(), quillet::JpegEncoderClsid, true, 0, 0, 0, 0));
    EXPECT_EQ(picturetest::MimeOf(picture.Get()), u"text/plain");

    testsupport::ScopedTempDir dir;
    std::u16string extension = u"x";
    ASSERT_TRUE(quillet::SavePicture(&extension, W(dir / "song.lrc").c_str(), picture.Get(), false));
    EXPECT_EQ(extension, u"");
    EXPECT_EQ(testsupport::ReadBytes(dir / "song.lrc"), (Bytes{'l', 'a', ' ', 'l', 'a', ' ', 'l', 'a'}));
}

}  // namespace
