// The encoder list, scaled drawing onto a canvas as picture recoding does it,
// and the JPEG and PNG encoders.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/com/unknown.h"
#include "test_pictures.h"

using namespace Gdiplus;
using namespace imaging_test;

namespace {

// A canvas as the picture code makes one: ARGB, high-quality settings,
// cleared to opaque white.
struct Canvas {
    BitmapHolder bitmap{nullptr};
    GpGraphics* graphics = nullptr;
    Canvas(INT width, INT height) {
        EXPECT_EQ(GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, &bitmap.bitmap),
                  Ok);
        EXPECT_EQ(GdipGetImageGraphicsContext(bitmap.bitmap, &graphics), Ok);
        EXPECT_EQ(GdipSetCompositingQuality(graphics, CompositingQualityAssumeLinear), Ok);
        EXPECT_EQ(GdipSetInterpolationMode(graphics, InterpolationModeHighQualityBicubic), Ok);
        EXPECT_EQ(GdipSetSmoothingMode(graphics, SmoothingModeAntiAlias), Ok);
        EXPECT_EQ(GdipSetPixelOffsetMode(graphics, PixelOffsetModeHighQuality), Ok);
        EXPECT_EQ(GdipSetTextRenderingHint(graphics, TextRenderingHintAntiAlias), Ok);
        EXPECT_EQ(GdipGraphicsClear(graphics, 0xFFFFFFFFu), Ok);
    }
    ~Canvas() { GdipDeleteGraphics(graphics); }
    uint32_t Pixel(INT x, INT y) const {
        ARGB c = 0;
        EXPECT_EQ(GdipBitmapGetPixel(bitmap.bitmap, x, y, &c), Ok);
        return c;
    }
    Status Draw(GpImage* image, INT w, INT h, INT nw, INT nh) {
        return GdipDrawImageRectRectI(graphics, image, 0, 0, nw, nh, 0, 0, w, h, UnitPixel, nullptr, nullptr,
                                      nullptr);
    }
};

TEST(ImagingEncoders, ListHoldsJpegAndPngWithTheirStringsInTheCallersBuffer) {
    UINT count = 0, size = 0;
    ASSERT_EQ(GdipGetImageEncodersSize(&count, &size), Ok);
    ASSERT_GE(count, 2u);
    ASSERT_GT(size, count * sizeof(ImageCodecInfo));
    std::vector<uint8_t> buffer(size, 0);
    auto* codecs = reinterpret_cast<ImageCodecInfo*>(buffer.data());
    EXPECT_EQ(GdipGetImageEncoders(count, size - 1, codecs), GenericError);
    ASSERT_EQ(GdipGetImageEncoders(count, size, codecs), Ok);
    int jpeg = -1, png = -1;
    for (UINT i = 0; i < count; ++i) {
        const auto* mime = reinterpret_cast<const uint8_t*>(codecs[i].MimeType);
        EXPECT_TRUE(mime >= buffer.data() && mime < buffer.data() + size);
        if (std::u16string_view(codecs[i].MimeType) == u"image/jpeg") jpeg = static_cast<int>(i);
        if (std::u16string_view(codecs[i].MimeType) == u"image/png") png = static_cast<int>(i);
    }
    ASSERT_GE(jpeg, 0);
    ASSERT_GE(png, 0);
    EXPECT_EQ(codecs[jpeg].FormatID, ImageFormatJPEG);
    EXPECT_EQ(codecs[png].FormatID, ImageFormatPNG);
    EXPECT_NE(codecs[jpeg].Clsid, codecs[png].Clsid);
    EXPECT_NE(codecs[jpeg].Clsid, GUID_NULL);
}

TEST(ImagingDraw, Scaling1200x800Into600x400KeepsTheContent) {
    BitmapHolder source(
        MakeBitmap(1200, 800, [](uint32_t x, uint32_t y) { return Quadrants(x, y, 1200, 800); }));
    Canvas canvas(600, 400);
    ASSERT_EQ(canvas.Draw(source.bitmap, 1200, 800, 600, 400), Ok);
    // Quadrant centres, and the corners: the edges are not faded.
    EXPECT_PRED3(Near, canvas.Pixel(150, 100), 0xFFFF0000u, 1);
    EXPECT_PRED3(Near, canvas.Pixel(450, 100), 0xFF00FF00u, 1);
    EXPECT_PRED3(Near, canvas.Pixel(150, 300), 0xFF0000FFu, 1);
    EXPECT_PRED3(Near, canvas.Pixel(450, 300), 0xFFFFFFFFu, 1);
    EXPECT_PRED3(Near, canvas.Pixel(0, 0), 0xFFFF0000u, 2);
    EXPECT_PRED3(Near, canvas.Pixel(599, 0), 0xFF00FF00u, 2);
    EXPECT_PRED3(Near, canvas.Pixel(0, 399), 0xFF0000FFu, 2);
    EXPECT_PRED3(Near, canvas.Pixel(599, 399), 0xFFFFFFFFu, 2);
    // The border between red and green stays within a few pixels of x = 300.
    EXPECT_PRED3(Near, canvas.Pixel(296, 100), 0xFFFF0000u, 8);
    EXPECT_PRED3(Near, canvas.Pixel(304, 100), 0xFF00FF00u, 8);
}

TEST(ImagingDraw, ShrinkingAveragesInsteadOfSkippingPixels) {
    // One-pixel black and white stripes halved: every output pixel is grey.
    BitmapHolder stripes(
        MakeBitmap(200, 100, [](uint32_t x, uint32_t) { return x % 2 ? 0xFFFFFFFFu : 0xFF000000u; }));
    Canvas canvas(100, 50);
    ASSERT_EQ(canvas.Draw(stripes.bitmap, 200, 100, 100, 50), Ok);
    for (INT x : {1, 30, 49, 50, 77, 98}) EXPECT_PRED3(Near, canvas.Pixel(x, 25), 0xFF808080u, 24) << x;
}

TEST(ImagingDraw, EnlargingKeepsTheContent) {
    BitmapHolder small(MakeBitmap(100, 50, [](uint32_t x, uint32_t y) { return Quadrants(x, y, 100, 50); }));
    Canvas canvas(300, 150);
    ASSERT_EQ(canvas.Draw(small.bitmap, 100, 50, 300, 150), Ok);
    EXPECT_PRED3(Near, canvas.Pixel(60, 30), 0xFFFF0000u, 1);
    EXPECT_PRED3(Near, canvas.Pixel(240, 120), 0xFFFFFFFFu, 1);
    EXPECT_PRED3(Near, canvas.Pixel(60, 120), 0xFF0000FFu, 1);
}

TEST(ImagingDraw, TranslucentPicturesAreBlendedOverOpaqueWhite) {
    BitmapHolder half(
        MakeBitmap(10, 10, [](uint32_t x, uint32_t) { return x < 5 ? 0x80FF0000u : 0x00000000u; }));
    Canvas canvas(10, 10);
    ASSERT_EQ(canvas.Draw(half.bitmap, 10, 10, 10, 10), Ok);
    EXPECT_PRED3(Near, canvas.Pixel(1, 5), 0xFFFF7F7Fu, 2);
    EXPECT_EQ(canvas.Pixel(8, 5), 0xFFFFFFFFu);
}

TEST(ImagingDraw, BadArgumentsAndADisposedBitmapAreHandled) {
    Canvas canvas(8, 8);
    EXPECT_EQ(GdipSetInterpolationMode(canvas.graphics, InterpolationModeInvalid), InvalidParameter);
    EXPECT_EQ(GdipSetSmoothingMode(canvas.graphics, static_cast<SmoothingMode>(9)), InvalidParameter);
    EXPECT_EQ(GdipDrawImageRectRectI(canvas.graphics, nullptr, 0, 0, 1, 1, 0, 0, 1, 1, UnitPixel, nullptr,
                                     nullptr, nullptr),
              InvalidParameter);
    EXPECT_EQ(canvas.Draw(canvas.bitmap.bitmap, 8, 8, 0, 0), Ok);  // nothing to draw
    // The graphics keeps the pixels it draws on, even past the bitmap's end.
    GdipDisposeImage(canvas.bitmap.bitmap);
    canvas.bitmap.bitmap = nullptr;
    EXPECT_EQ(GdipGraphicsClear(canvas.graphics, 0xFF000000u), Ok);
}

TEST(ImagingEncode, JpegRoundTripKeepsSizeAndColours) {
    BitmapHolder source(MakeBitmap(120, 80, [](uint32_t x, uint32_t y) { return Quadrants(x, y, 120, 80); }));
    const Bytes jpeg = Encode(source.bitmap, u"image/jpeg");
    ASSERT_GT(jpeg.size(), 4u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
    EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);
    Decoded d;
    DecodeBytes(jpeg, d);
    ASSERT_EQ(d.status, Ok);
    EXPECT_EQ(d.RawFormat(), ImageFormatJPEG);
    EXPECT_EQ(d.Width(), 120u);
    EXPECT_EQ(d.Height(), 80u);
    EXPECT_PRED3(Near, d.Pixel(30, 20), 0xFFFF0000u, 12);
    EXPECT_PRED3(Near, d.Pixel(90, 60), 0xFFFFFFFFu, 12);

    // Without parameters the default quality applies; a higher one makes a larger file.
    IStream* raw = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &raw), S_OK);
    auto stream = ComPtr<IStream>::Adopt(raw);
    ULONG quality = 100;
    EncoderParameters params{1, {{EncoderQuality, 1, EncoderParameterValueTypeLong, &quality}}};
    const CLSID clsid = EncoderClsid(u"image/jpeg");
    ASSERT_EQ(GdipSaveImageToStream(source.bitmap, stream.Get(), &clsid, &params), Ok);
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    EXPECT_GT(stat.cbSize.QuadPart, jpeg.size());
}

TEST(ImagingEncode, PngRoundTripIsExactWithAlpha) {
    auto pixel = [](uint32_t x, uint32_t y) {
        return (((x * 7 + y) & 0xFF) << 24) | (x << 16) | (y << 8) | 0x3Cu;
    };
    BitmapHolder source(MakeBitmap(40, 30, pixel));
    Decoded d;
    DecodeBytes(Encode(source.bitmap, u"image/png"), d);
    ASSERT_EQ(d.status, Ok);
    EXPECT_EQ(d.RawFormat(), ImageFormatPNG);
    for (uint32_t y = 0; y < 30; y += 7)
        for (uint32_t x = 0; x < 40; x += 9)
            EXPECT_EQ(d.Pixel(static_cast<int>(x), static_cast<int>(y)), pixel(x, y));
}

TEST(ImagingEncode, UnknownEncoderAndFailingStreamAreReported) {
    BitmapHolder source(MakeBitmap(4, 4, [](uint32_t, uint32_t) { return 0xFF000000u; }));
    IStream* raw = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &raw), S_OK);
    auto stream = ComPtr<IStream>::Adopt(raw);
    const CLSID zero = GUID_NULL;  // what the caller holds when no JPEG encoder was found
    EXPECT_EQ(GdipSaveImageToStream(source.bitmap, stream.Get(), &zero, nullptr), UnknownImageFormat);
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    EXPECT_EQ(stat.cbSize.QuadPart, 0u);

    // A stream that refuses to grow beyond 4 GiB - 1 bytes: put its pointer at the end.
    LARGE_INTEGER far{};
    far.QuadPart = 0xFFFFFFFFll;
    ASSERT_EQ(stream->Seek(far, STREAM_SEEK_SET, nullptr), S_OK);
    const CLSID png = EncoderClsid(u"image/png");
    EXPECT_EQ(GdipSaveImageToStream(source.bitmap, stream.Get(), &png, nullptr), Win32Error);
}

}  // namespace
