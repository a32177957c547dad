// Recoding picture objects: size bounds and scaling, format labels, the JPEG
// flag, pictures that are not pictures, and failures that must leave the
// picture's bytes alone. The bound and label cases run against both a
// recording fake and the media library's own picture objects.
#include "tool/pictures/recoding.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "picture_helpers.h"
#include "platform/files/files.h"
#include "platform_imaging/test_pictures.h"
#include "support/test_support.h"
#include "tool/commands/entry.h"
#include "tool/pictures/image_formats.h"

namespace {

using imaging_test::Near;
using picturetest::Bytes;
using picturetest::Decode;
using picturetest::PictureLog;

uint32_t QuadrantPixel(uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    return imaging_test::Quadrants(x, y, w, h);
}

Bytes QuadrantPng(uint32_t w, uint32_t h) {
    return imaging_test::MakePng(w, h, [w, h](uint32_t x, uint32_t y) { return QuadrantPixel(x, y, w, h); });
}

enum class PictureKind { Fake, Library };

class RecodeBoth : public ::testing::TestWithParam<PictureKind> {
  protected:
    ComPtr<MediaPicture> Make(const Bytes& data, std::u16string mime) {
        if (GetParam() == PictureKind::Fake) {
            auto fake = picturetest::NewRecordingPicture(log_, data, std::move(mime));
            return fake.As<MediaPicture>();
        }
        ComPtr<MediaPicture> picture = picturetest::NewLibraryPicture(data, mime);
        EXPECT_TRUE(picture) << "the media library's picture class (bin/registry.reg)";
        return picture;
    }
    std::shared_ptr<PictureLog> log_ = std::make_shared<PictureLog>();
};

struct BoundsCase {
    const char* what;
    UINT w, h;
    LONG max_w, max_h, min_w, min_h;
    UINT expected_w, expected_h;
};

TEST_P(RecodeBoth, OutOfBoundsPicturesAreScaledKeepingTheirShapeAndBecomeJpeg) {
    const BoundsCase cases[] = {
        {"maximum 600 x 600", 1200, 800, 600, 600, 0, 0, 600, 400},
        {"maximum width only", 1200, 800, 600, 0, 0, 0, 600, 400},
        {"maximum height only", 1200, 800, 0, 600, 0, 0, 900, 600},
        {"minimum width only", 100, 50, 0, 0, 300, 0, 300, 150},
        {"minimum 300 x 300: the height rule follows the width rule", 100, 50, 0, 0, 300, 300, 600, 300},
        {"maximum 100 below minimum 300 acts as maximum 300", 1200, 800, 100, 0, 300, 0, 300, 200},
        {"maximum 100 below minimum 300 acts as minimum 100", 50, 25, 100, 0, 300, 0, 100, 50},
        {"a maximum wins over a minimum", 1200, 800, 600, 0, 0, 900, 600, 400},
        {"minimum height only", 40, 100, 0, 0, 0, 300, 120, 300},
        {"a width bound that would wrap 32 bits still scales by the height", 800, 1200, INT_MIN, 600, 0, 0,
         400, 600},
    };
    for (const BoundsCase& c : cases) {
        SCOPED_TRACE(c.what);
        ComPtr<MediaPicture> picture = Make(QuadrantPng(c.w, c.h), u"image/png");
        ASSERT_TRUE(picture);
        ASSERT_TRUE(quillet::RecodePicture(picture.Get(), quillet::JpegEncoderClsid, false, c.max_w, c.max_h,
                                           c.min_w, c.min_h));
        EXPECT_EQ(picturetest::MimeOf(picture.Get()), u"image/jpeg");
        const auto decoded = Decode(picturetest::DataOf(picture.Get()));
        ASSERT_TRUE(decoded.ok);
        EXPECT_TRUE(decoded.format == ImageFormatJPEG);
        EXPECT_EQ(decoded.width, c.expected_w);
        EXPECT_EQ(decoded.height, c.expected_h);
    }
}

TEST_P(RecodeBoth, AScaledPictureIsTheWholeImageOnOpaqueWhite) {
    // Left half fully transparent, right half opaque blue: after scaling the
    // transparent half shows the white canvas, and the quadrants of the
    // source land in the same quadrants of the result.
    const Bytes png = imaging_test::MakePng(400, 200, [](uint32_t x, uint32_t y) -> uint32_t {
        if (x < 200) return 0x00000000u;
        return y < 100 ? 0xFF0000FFu : 0xFFFF0000u;
    });
    ComPtr<MediaPicture> picture = Make(png, u"image/png");
    ASSERT_TRUE(picture);
    ASSERT_TRUE(quillet::RecodePicture(picture.Get(), quillet::JpegEncoderClsid, false, 200, 0, 0, 0));
    const auto decoded = Decode(picturetest::DataOf(picture.Get()), true);
    ASSERT_TRUE(decoded.ok);
    ASSERT_EQ(decoded.width, 200u);
    ASSERT_EQ(decoded.height, 100u);
    EXPECT_TRUE(Near(decoded.Pixel(50, 50), 0xFFFFFFFFu, 8)) << std::hex << decoded.Pixel(50, 50);
    EXPECT_TRUE(Near(decoded.Pixel(150, 25), 0xFF0000FFu, 24)) << std::hex << decoded.Pixel(150, 25);
    EXPECT_TRUE(Near(decoded.Pixel(150, 75), 0xFFFF0000u, 24)) << std::hex << decoded.Pixel(150, 75);
    EXPECT_TRUE(Near(decoded.Pixel(0, 0), 0xFFFFFFFFu, 8));
    EXPECT_TRUE(Near(decoded.Pixel(199, 99), 0xFFFF0000u, 24));
}

TEST_P(RecodeBoth, InBoundsPicturesKeepTheirBytesAndAreLabelledByWhatTheyAre) {
    const auto pixel = [](uint32_t x, uint32_t y) { return QuadrantPixel(x, y, 64, 48); };
    struct LabelCase {
        const char* what;
        Bytes bytes;
        const char16_t* mime;
    };
    const LabelCase cases[] = {
        {"png", imaging_test::MakePng(64, 48, pixel), u"image/png"},
        {"jpeg", imaging_test::MakeJpeg(64, 48, pixel), u"image/jpeg"},
        {"exif jpeg", imaging_test::ToExif(imaging_test::MakeJpeg(64, 48, pixel)), u"image/jpeg"},
        {"bmp", imaging_test::MakeBmp(64, 48, pixel), u"image/bmp"},
        {"gif", imaging_test::MakeGif(64, 48, pixel), u"image/gif"},
        {"tiff", imaging_test::MakeTiff(64, 48, pixel), u"image/tiff"},
    };
    for (const LabelCase& c : cases) {
        SCOPED_TRACE(c.what);
        // A wrong label, and bounds the picture meets exactly (a negative
        // maximum acts as a very large one).
        ComPtr<MediaPicture> picture = Make(c.bytes, u"application/octet-stream");
        ASSERT_TRUE(picture);
        ASSERT_TRUE(quillet::RecodePicture(picture.Get(), quillet::JpegEncoderClsid, false, -1, 48, 64, 1));
        EXPECT_EQ(picturetest::MimeOf(picture.Get()), c.mime);
        EXPECT_EQ(picturetest::DataOf(picture.Get()), c.bytes);
    }
}

TEST_P(RecodeBoth, TheJpegFlagReencodesAPictureWithinBoundsAtItsOwnSize) {
    const Bytes png = QuadrantPng(120, 90);
    ComPtr<MediaPicture> picture = Make(png, u"image/png");
    ASSERT_TRUE(picture);
    ASSERT_TRUE(quillet::RecodePicture(picture.Get(), quillet::JpegEncoderClsid, true, 0, 0, 0, 0));
    EXPECT_EQ(picturetest::MimeOf(picture.Get()), u"image/jpeg");
    const auto decoded = Decode(picturetest::DataOf(picture.Get()), true);
    ASSERT_TRUE(decoded.ok);
    EXPECT_TRUE(decoded.format == ImageFormatJPEG);
    EXPECT_EQ(decoded.width, 120u);
    EXPECT_EQ(decoded.height, 90u);
    EXPECT_TRUE(Near(decoded.Pixel(10, 10), 0xFFFF0000u, 24));
    EXPECT_TRUE(Near(decoded.Pixel(110, 80), 0xFFFFFFFFu, 24));
}

TEST_P(RecodeBoth, TextIconsAndDamagedBytesAreNotPictures) {
    const auto pixel = [](uint32_t x, uint32_t y) { return QuadrantPixel(x, y, 32, 32); };
    Bytes truncated = QuadrantPng(64, 64);
    truncated.resize(truncated.size() / 2);
    struct BadCase {
        const char* what;
        Bytes bytes;
        const char16_t* mime;
    };
    const std::string text = "Some lyrics\r\nin two lines";
    const BadCase cases[] = {
        {"text", Bytes(text.begin(), text.end()), u"text/plain"},
        {"png icon", imaging_test::MakeIco(32, 32, pixel, true), u"image/x-icon"},
        {"dib icon", imaging_test::MakeIco(32, 32, pixel, false), u"image/x-icon"},
        {"truncated png", truncated, u"image/png"},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool jpeg : {false, true}) {
            ComPtr<MediaPicture> picture = Make(c.bytes, c.mime);
            ASSERT_TRUE(picture);
            EXPECT_FALSE(
                quillet::RecodePicture(picture.Get(), quillet::JpegEncoderClsid, jpeg, 10, 10, 0, 0));
            EXPECT_EQ(picturetest::MimeOf(picture.Get()), c.mime);
            EXPECT_EQ(picturetest::DataOf(picture.Get()), c.bytes);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Pictures, RecodeBoth, ::testing::Values(PictureKind::Fake, PictureKind::Library),
                         [](const auto& info) {
                             return info.param == PictureKind::Fake ? std::string("Fake")
                                                                    : std::string("Library");
                         });

// ---- the calls themselves, on the recording fake ------------------------------

class RecodeCalls : public ::testing::Test {
  protected:
    std::shared_ptr<PictureLog> log_ = std::make_shared<PictureLog>();
};

TEST_F(RecodeCalls, APictureWithinBoundsIsLabelledButItsBytesAreNeverWritten) {
    auto picture = picturetest::NewRecordingPicture(log_, QuadrantPng(30, 20), u"image/jpeg");
    ASSERT_TRUE(quillet::RecodePicture(picture.Get(), quillet::JpegEncoderClsid, false, 30, 20, 30, 20));
    EXPECT_TRUE(log_->data_sets.empty());
    EXPECT_EQ(log_->mime_sets, std::vector<std::u16string>{u"image/png"});
}

TEST_F(RecodeCalls, AScaledPictureIsWrittenOnceAndThenLabelledJpeg) {
    auto picture = picturetest::NewRecordingPicture(log_, QuadrantPng(30, 20), u"");
    ASSERT_TRUE(quillet::RecodePicture(picture.Get(), quillet::JpegEncoderClsid, false, 15, 0, 0, 0));
    ASSERT_EQ(log_->data_sets.size(), 1u);
    EXPECT_EQ(log_->mime_sets, (std::vector<std::u16string>{u"image/png", u"image/jpeg"}));
    EXPECT_EQ(log_->data_sets[0], picture->data());
}

TEST_F(RecodeCalls, MissingOrEmptyBytesFailWithoutTouchingThePicture) {
    auto empty = picturetest::NewRecordingPicture(log_, {}, u"image/png");
    EXPECT_FALSE(quillet::RecodePicture(empty.Get(), quillet::JpegEncoderClsid, true, 0, 0, 0, 0));
    auto refusing = picturetest::NewRecordingPicture(log_, QuadrantPng(8, 8), u"image/png");
    refusing->get_data_result = E_FAIL;
    EXPECT_FALSE(quillet::RecodePicture(refusing.Get(), quillet::JpegEncoderClsid, true, 0, 0, 0, 0));
    EXPECT_FALSE(quillet::RecodePicture(nullptr, quillet::JpegEncoderClsid, true, 0, 0, 0, 0));
    EXPECT_TRUE(log_->mime_sets.empty());
    EXPECT_TRUE(log_->data_sets.empty());
}

TEST_F(RecodeCalls, AMinimumTooLargeForACanvasFails) {
    // A negative minimum acts as a very large one: no canvas can be that big.
    const Bytes png = QuadrantPng(10, 10);
    auto picture = picturetest::NewRecordingPicture(log_, png, u"image/png");
    EXPECT_FALSE(quillet::RecodePicture(picture.Get(), quillet::JpegEncoderClsid, false, 0, 0, -1, 0));
    EXPECT_FALSE(quillet::RecodePicture(picture.Get(), quillet::JpegEncoderClsid, false, 0, 0, 40000, 0));
    EXPECT_EQ(picture->data(), png);
    EXPECT_TRUE(log_->data_sets.empty());
}

TEST_F(RecodeCalls, APictureThatRefusesItsNewBytesFailsAndKeepsItsLabel) {
    auto picture = picturetest::NewRecordingPicture(log_, QuadrantPng(40, 40), u"image/png");
    picture->set_data_result = E_OUTOFMEMORY;
    EXPECT_FALSE(quillet::RecodePicture(picture.Get(), quillet::JpegEncoderClsid, false, 20, 20, 0, 0));
    EXPECT_EQ(picture->mime(), u"image/png");
    EXPECT_EQ(log_->data_sets.size(), 1u);
}

TEST_F(RecodeCalls, WithoutAJpegEncoderOnlyPicturesThatNeedNoEncodingSucceed) {
    const CLSID none{};
    const Bytes png = QuadrantPng(40, 40);
    auto picture = picturetest::NewRecordingPicture(log_, png, u"image/png");
    EXPECT_TRUE(quillet::RecodePicture(picture.Get(), none, false, 0, 0, 0, 0));
    EXPECT_FALSE(quillet::RecodePicture(picture.Get(), none, true, 0, 0, 0, 0));
    EXPECT_FALSE(quillet::RecodePicture(picture.Get(), none, false, 20, 0, 0, 0));
    EXPECT_EQ(picture->data(), png);
    EXPECT_TRUE(log_->data_sets.empty());
}

TEST(ScaledSize, StaysWithin32BitsWhereTheProductsWouldWrap) {
    UINT w = 0, h = 0;
    // 3000 x 0x80000000 wraps to 0 in 32 bits; in 64 bits the height rule
    // then takes over as it should.
    EXPECT_TRUE(quillet::ScaledSize(2000, 3000, 0x80000000u, 600, 0, 0, &w, &h));
    EXPECT_EQ(w, 400u);
    EXPECT_EQ(h, 600u);
    // An enlargement whose height does not fit 32 bits is given as 0.
    EXPECT_TRUE(quillet::ScaledSize(1, 30000, 0, 0, 0xFFFFFFFFu, 0, &w, &h));
    EXPECT_EQ(w, 0xFFFFFFFFu);
    EXPECT_EQ(h, 0u);
    // Within bounds nothing changes.
    EXPECT_FALSE(quillet::ScaledSize(640, 480, 0xFFFFFFFFu, 0xFFFFFFFFu, 1, 1, &w, &h));
    EXPECT_EQ(w, 640u);
    EXPECT_EQ(h, 480u);
}

// ---- the format table and picture files ------------------------------------------

TEST(PictureFormats, SevenRawFormatsMapToTypesAndExtensions) {
    struct Row {
        GUID format;
        const char16_t* mime;
        const char16_t* extension;
    };
    const Row rows[] = {
        {ImageFormatMemoryBMP, u"image/bmp", u".bmp"}, {ImageFormatBMP, u"image/bmp", u".bmp"},
        {ImageFormatJPEG, u"image/jpeg", u".jpg"},     {ImageFormatEXIF, u"image/jpeg", u".jpg"},
        {ImageFormatPNG, u"image/png", u".png"},       {ImageFormatGIF, u"image/gif", u".gif"},
        {ImageFormatTIFF, u"image/tiff", u".tif"},
    };
    for (const Row& row : rows) {
        const quillet::PictureFormat* format = quillet::FindPictureFormat(row.format);
        ASSERT_NE(format, nullptr);
        EXPECT_EQ(std::u16string(format->mime_type), row.mime);
        EXPECT_EQ(std::u16string(format->extension), row.extension);
        // Saving goes back from the type to the same extension, in any case.
        std::u16string upper(row.mime);
        for (auto& c : upper) c = static_cast<char16_t>(c >= u'a' && c <= u'z' ? c - 32 : c);
        EXPECT_EQ(std::u16string(quillet::ExtensionForMimeType(upper.c_str())), row.extension);
    }
    for (const GUID& other : {ImageFormatIcon, ImageFormatEMF, ImageFormatWMF, ImageFormatUndefined})
        EXPECT_EQ(quillet::FindPictureFormat(other), nullptr);
    for (const char16_t* other : {u"text/plain", u"image/x-icon", u"image/jpg", u"", u"image/jpeg "})
        EXPECT_EQ(std::u16string(quillet::ExtensionForMimeType(other)), u"");
    EXPECT_EQ(std::u16string(quillet::ExtensionForMimeType(nullptr)), u"");
}

TEST(IsPictureFile, AcceptsTheSevenFormatsOnlyInExistingFiles) {
    testsupport::ScopedTempDir dir;
    const auto pixel = [](uint32_t x, uint32_t y) { return QuadrantPixel(x, y, 16, 12); };
    const std::pair<const char*, Bytes> pictures[] = {
        {"a.png", imaging_test::MakePng(16, 12, pixel)},
        {"a.jpg", imaging_test::MakeJpeg(16, 12, pixel)},
        {"exif.jpg", imaging_test::ToExif(imaging_test::MakeJpeg(16, 12, pixel))},
        {"a.bmp", imaging_test::MakeBmp(16, 12, pixel, 8)},
        {"a.gif", imaging_test::MakeGif(16, 12, pixel)},
        {"a.tif", imaging_test::MakeTiff(16, 12, pixel, true)},
        {"no-extension", imaging_test::MakePng(16, 12, pixel)},
    };
    for (const auto& [name, bytes] : pictures) {
        testsupport::WriteBytes(dir / name, bytes);
        EXPECT_TRUE(quillet::IsPictureFile(platform::FromNativePath((dir / name).string()).c_str())) << name;
    }
    Bytes truncated = imaging_test::MakePng(16, 12, pixel);
    truncated.resize(40);
    const std::pair<const char*, Bytes> others[] = {
        {"icon.png", imaging_test::MakeIco(16, 16, pixel, true)},
        {"icon.ico", imaging_test::MakeIco(16, 16, pixel, false)},
        {"lyrics.txt", Bytes{'l', 'a', ' ', 'l', 'a'}},
        {"empty.png", Bytes{}},
        {"truncated.png", truncated},
    };
    for (const auto& [name, bytes] : others) {
        testsupport::WriteBytes(dir / name, bytes);
        EXPECT_FALSE(quillet::IsPictureFile(platform::FromNativePath((dir / name).string()).c_str())) << name;
    }
    std::filesystem::create_directory(dir / "folder.png");
    EXPECT_FALSE(quillet::IsPictureFile(platform::FromNativePath((dir / "folder.png").string()).c_str()));
    EXPECT_FALSE(quillet::IsPictureFile(platform::FromNativePath((dir / "missing.png").string()).c_str()));
    EXPECT_FALSE(quillet::IsPictureFile(u""));
    EXPECT_FALSE(quillet::IsPictureFile(nullptr));
}

}  // namespace
