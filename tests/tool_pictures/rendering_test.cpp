// Text and jacket rendering against the library's picture objects: canvas
// sizes from the outline bounds and the size bounds, the jacket's fixed
// canvas and text area, the size search's start, and failures that leave the
// picture alone.
#include "tool/pictures/rendering.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "picture_helpers.h"
#include "platform/imaging/gdiplus.h"
#include "platform_imaging/test_pictures.h"
#include "tool/commands/entry.h"

using namespace picturetest;
using quillet::RenderJacketPicture;
using quillet::RenderTextPicture;

namespace {

// The outline bounds of `text` at `points` on a 96-dpi canvas, whole pixels.
Gdiplus::Rect TextBounds(const std::u16string& text, double points) {
    GpFontFamily* family = nullptr;
    EXPECT_EQ(GdipGetGenericFontFamilySansSerif(&family), Gdiplus::Ok);
    GpPath* path = nullptr;
    EXPECT_EQ(GdipCreatePath(Gdiplus::FillModeAlternate, &path), Gdiplus::Ok);
    const Gdiplus::RectF layout{0, 0, 0, 0};
    EXPECT_EQ(GdipAddPathString(path, text.c_str(), -1, family, Gdiplus::FontStyleRegular,
                                static_cast<Gdiplus::REAL>(points * 96 / 72), &layout, nullptr),
              Gdiplus::Ok);
    Gdiplus::Rect bounds{};
    EXPECT_EQ(GdipGetPathWorldBoundsI(path, &bounds, nullptr, nullptr), Gdiplus::Ok);
    GdipDeletePath(path);
    return bounds;
}

DecodedPicture Rendered(const std::u16string& text, LONG size, bool with_pixels = false) {
    ComPtr<MediaPicture> picture = NewLibraryPicture({}, u"");
    EXPECT_TRUE(picture);
    if (!picture) return {};
    EXPECT_TRUE(RenderTextPicture(picture.Get(), quillet::JpegEncoderClsid, text.c_str(), size));
    EXPECT_EQ(MimeOf(picture.Get()), u"image/jpeg");
    return Decode(DataOf(picture.Get()), with_pixels);
}

bool Dark(uint32_t argb) {
    return ((argb >> 16) & 0xFF) < 128 && ((argb >> 8) & 0xFF) < 128 && (argb & 0xFF) < 128;
}

TEST(TextPicture, CanvasIsTheLinesBoundsPlusTwiceTheSizeAndSizesAreBounded) {
    const std::u16string three =
        u"First line\r\nThe second line, a good deal longer than the first one\r\nthird";
    const Gdiplus::Rect bounds = TextBounds(three, 20);
    const DecodedPicture picture = Rendered(three, 20);
    ASSERT_TRUE(picture.ok);
    EXPECT_EQ(picture.width, static_cast<UINT>(bounds.X + bounds.Width + 40));
    EXPECT_EQ(picture.height, static_cast<UINT>(bounds.Y + bounds.Height + 40));
    // Three lines and no wrapping however long a line is.
    EXPECT_GT(bounds.Height, 3 * 20);
    EXPECT_GT(bounds.Width, 20 * 20);

    const Gdiplus::Rect at16 = TextBounds(u"Size", 16);
    const DecodedPicture zero = Rendered(u"Size", 0);
    EXPECT_EQ(zero.height, static_cast<UINT>(at16.Y + at16.Height + 32));
    const Gdiplus::Rect at72 = TextBounds(u"Size", 72);
    const DecodedPicture hundred = Rendered(u"Size", 100);
    EXPECT_EQ(hundred.height, static_cast<UINT>(at72.Y + at72.Height + 144));
    EXPECT_EQ(hundred.width, static_cast<UINT>(at72.X + at72.Width + 144));
}

TEST(TextPicture, JapaneseTextDrawsGlyphsNotBoxes) {
    const DecodedPicture picture = Rendered(u"\u541b\u304c\u4ee3\u306f\u5343\u4ee3\u306b", 40, true);
    ASSERT_TRUE(picture.ok);
    // A missing-glyph box is a hollow frame; a kanji has strokes crossing its
    // middle. Count dark pixels along the middle row of each character cell.
    size_t dark = 0;
    for (UINT x = 0; x < picture.width; ++x)
        for (UINT y = picture.height / 2 - 3; y < picture.height / 2 + 3; ++y)
            dark += Dark(picture.Pixel(x, y));
    EXPECT_GT(dark, 40u);
}

TEST(TextPicture, EmptyTextFailsAndLeavesThePictureAlone) {
    FakePictureClass pictures;
    ComPtr<RecordingPicture> picture = NewRecordingPicture(pictures.log, {1, 2, 3}, u"image/png");
    EXPECT_FALSE(RenderTextPicture(picture.Get(), quillet::JpegEncoderClsid, u"", 20));
    EXPECT_FALSE(RenderTextPicture(picture.Get(), quillet::JpegEncoderClsid, nullptr, 20));
    EXPECT_TRUE(pictures.log->data_sets.empty());
    EXPECT_TRUE(pictures.log->mime_sets.empty());
}

TEST(JacketPicture, SearchStartsAtTheIntegerSquareRoot) {
    EXPECT_EQ(quillet::IntegerSquareRoot(27), 5u);  // "Unknown Artist" + "Unknown Title"
    EXPECT_EQ(quillet::IntegerSquareRoot(0), 0u);
    EXPECT_EQ(quillet::IntegerSquareRoot(1), 1u);
    for (ULONG n = 2; n < 5000; ++n)
        ASSERT_EQ(quillet::IntegerSquareRoot(n), static_cast<ULONG>(std::sqrt(static_cast<double>(n)))) << n;
    EXPECT_EQ(quillet::IntegerSquareRoot(0xFFFFFFFFu), 65535u);
}

TEST(JacketPicture, IsSquareWithItsInkInsideTheTextArea) {
    for (const char16_t* title : {u"", u"T", u"\u5b87\u591a\u7530\u30d2\u30ab\u30eb First Love"}) {
        ComPtr<MediaPicture> picture = NewLibraryPicture({}, u"");
        ASSERT_TRUE(picture);
        ASSERT_TRUE(
            RenderJacketPicture(picture.Get(), quillet::JpegEncoderClsid, *title ? u"A" : nullptr, title));
        const DecodedPicture decoded = Decode(DataOf(picture.Get()), true);
        ASSERT_TRUE(decoded.ok);
        EXPECT_EQ(decoded.width, 640u);
        EXPECT_EQ(decoded.height, 640u);
        size_t inside = 0, outside = 0;
        for (UINT y = 0; y < 640; ++y)
            for (UINT x = 0; x < 640; ++x) {
                if (!Dark(decoded.Pixel(x, y))) continue;
                const bool in_area = x >= 18 && x < 622 && y >= 18 && y < 622;  // JPEG ringing
                ++(in_area ? inside : outside);
            }
        EXPECT_GT(inside, 500u);
        EXPECT_EQ(outside, 0u);
    }
}

TEST(JacketPicture, FailureLeavesThePictureAlone) {
    FakePictureClass pictures;
    ComPtr<RecordingPicture> picture = NewRecordingPicture(pictures.log, {1, 2, 3}, u"image/png");
    // A title of blanks has no outline: the layout test fails.
    EXPECT_FALSE(RenderJacketPicture(picture.Get(), quillet::JpegEncoderClsid, u"A", u"   "));
    EXPECT_TRUE(pictures.log->data_sets.empty());
}

}  // namespace
