// Decoding of every readable format: raw format, size and pixel colours, the
// JFIF/EXIF distinction, icons outside the picture table, and file reading.
#include <gtest/gtest.h>

#include "platform/com/unknown.h"
#include "support/test_support.h"
#include "test_pictures.h"

using namespace Gdiplus;
using namespace imaging_test;

namespace {

uint32_t Q(uint32_t x, uint32_t y) { return Quadrants(x, y, 64, 48); }

// The centre of each quadrant of a 64 x 48 picture has the quadrant's colour.
void ExpectQuadrants(const Decoded& d, int tolerance) {
    ASSERT_EQ(d.status, Ok);
    ASSERT_EQ(d.Width(), 64u);
    ASSERT_EQ(d.Height(), 48u);
    EXPECT_PRED3(Near, d.Pixel(16, 12), 0xFFFF0000u, tolerance);
    EXPECT_PRED3(Near, d.Pixel(48, 12), 0xFF00FF00u, tolerance);
    EXPECT_PRED3(Near, d.Pixel(16, 36), 0xFF0000FFu, tolerance);
    EXPECT_PRED3(Near, d.Pixel(48, 36), 0xFFFFFFFFu, tolerance);
}

TEST(ImagingDecode, EachFormatGivesItsRawFormatSizeAndColours) {
    struct Case {
        const char* name;
        Bytes bytes;
        GUID format;
        int tolerance;
    };
    const Case cases[] = {
        {"jpeg", MakeJpeg(64, 48, Q), ImageFormatJPEG, 40},
        {"png", MakePng(64, 48, Q), ImageFormatPNG, 0},
        {"gif", MakeGif(64, 48, Q), ImageFormatGIF, 0},
        {"gif interlaced", MakeGif(64, 48, Q, -1, true), ImageFormatGIF, 0},
        {"bmp 24", MakeBmp(64, 48, Q), ImageFormatBMP, 0},
        {"bmp 8", MakeBmp(64, 48, Q, 8), ImageFormatBMP, 0},
        {"tiff", MakeTiff(64, 48, Q), ImageFormatTIFF, 0},
        {"tiff alpha", MakeTiff(64, 48, Q, true), ImageFormatTIFF, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Decoded d;
        DecodeBytes(c.bytes, d);
        ExpectQuadrants(d, c.tolerance);
        EXPECT_EQ(d.RawFormat(), c.format);
    }
}

TEST(ImagingDecode, JfifIsJpegAndExifIsExif) {
    const Bytes jfif = MakeJpeg(64, 48, Q);
    const Bytes exif = ToExif(jfif);
    Decoded a, b;
    DecodeBytes(jfif, a);
    DecodeBytes(exif, b);
    ASSERT_EQ(a.status, Ok);
    ASSERT_EQ(b.status, Ok);
    EXPECT_EQ(a.RawFormat(), ImageFormatJPEG);
    EXPECT_EQ(b.RawFormat(), ImageFormatEXIF);
    ExpectQuadrants(b, 40);
}

TEST(ImagingDecode, IconsAreReadableButReportTheIconFormat) {
    for (bool png_inside : {true, false}) {
        SCOPED_TRACE(png_inside ? "png icon" : "dib icon");
        Decoded d;
        DecodeBytes(
            MakeIco(
                32, 32, [](uint32_t x, uint32_t) { return x < 16 ? 0xFFFF0000u : 0x00000000u; }, png_inside),
            d);
        ASSERT_EQ(d.status, Ok);
        EXPECT_EQ(d.RawFormat(), ImageFormatIcon);
        EXPECT_EQ(d.Width(), 32u);
        EXPECT_EQ(d.Height(), 32u);
        EXPECT_EQ(d.Pixel(3, 5), 0xFFFF0000u);
        EXPECT_EQ(d.Pixel(20, 5) >> 24, 0u);  // transparent half
    }
}

TEST(ImagingDecode, GifTransparentIndexAndBitmapOfMemory) {
    // Index 0 is the first colour met (red at the top left).
    Decoded d;
    DecodeBytes(MakeGif(64, 48, Q, 0), d);
    ASSERT_EQ(d.status, Ok);
    EXPECT_EQ(d.Pixel(1, 1) >> 24, 0u);
    EXPECT_EQ(d.Pixel(60, 1), 0xFF00FF00u);

    BitmapHolder memory(MakeBitmap(3, 2, [](uint32_t, uint32_t) { return 0x80123456u; }));
    GUID format{};
    ASSERT_EQ(GdipGetImageRawFormat(memory.bitmap, &format), Ok);
    EXPECT_EQ(format, ImageFormatMemoryBMP);
    ARGB c = 0;
    ASSERT_EQ(GdipBitmapGetPixel(memory.bitmap, 2, 1, &c), Ok);
    EXPECT_EQ(c, 0x80123456u);
    EXPECT_EQ(GdipBitmapGetPixel(memory.bitmap, 3, 1, &c), InvalidParameter);
}

TEST(ImagingDecode, StreamIsReadFromItsStartWhereverItsPointerIs) {
    // Callers write the picture into a fresh stream and hand it over without
    // rewinding; DecodeBytes does exactly that.
    Decoded d;
    DecodeBytes(MakePng(64, 48, Q), d);
    ExpectQuadrants(d, 0);
}

TEST(ImagingDecode, FilesAreReadWholeAndFailuresAreReported) {
    testsupport::ScopedTempDir dir;
    const auto png = dir / "picture.png";
    testsupport::WriteBytes(png, MakePng(64, 48, Q));
    const std::u16string path(png.u16string());
    GpBitmap* bitmap = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromFile(path.c_str(), &bitmap), Ok);
    BitmapHolder holder(bitmap);
    UINT w = 0;
    GdipGetImageWidth(bitmap, &w);
    EXPECT_EQ(w, 64u);

    GpBitmap* none = reinterpret_cast<GpBitmap*>(1);
    const std::u16string missing((dir / "missing.png").u16string());
    EXPECT_EQ(GdipCreateBitmapFromFile(missing.c_str(), &none), Win32Error);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(GdipCreateBitmapFromFile(dir.path().u16string().c_str(), &none), Win32Error);

    const auto text = dir / "notes.txt";
    testsupport::WriteText(text, "not a picture at all");
    EXPECT_EQ(GdipCreateBitmapFromFile(text.u16string().c_str(), &none), UnknownImageFormat);
    const auto empty = dir / "empty.png";
    testsupport::WriteText(empty, "");
    EXPECT_EQ(GdipCreateBitmapFromFile(empty.u16string().c_str(), &none), UnknownImageFormat);
    EXPECT_EQ(GdipCreateBitmapFromFile(nullptr, &none), InvalidParameter);
}

TEST(ImagingDecode, ResolutionsBeyondWhatJfifHoldsAreEncodedAsItsLargest) {
    // A bitmap claiming 2^31 - 1 pixels per metre decodes at about 54.5
    // million dpi; its JPEG must carry JFIF's largest density, 65535, rather
    // than the low 16 bits of an out-of-range conversion.
    Bytes bmp = MakeBmp(64, 48, Q);
    for (size_t at : {size_t{14 + 24}, size_t{14 + 28}}) {
        bmp[at] = 0xFF;
        bmp[at + 1] = 0xFF;
        bmp[at + 2] = 0xFF;
        bmp[at + 3] = 0x7F;
    }
    Decoded source;
    DecodeBytes(bmp, source);
    ASSERT_EQ(source.status, Ok);
    REAL dpi = 0;
    GdipGetImageHorizontalResolution(source.bitmap, &dpi);
    EXPECT_GT(dpi, 65535.0f);

    Decoded jpeg;
    DecodeBytes(Encode(source.bitmap, u"image/jpeg"), jpeg);
    ASSERT_EQ(jpeg.status, Ok);
    REAL x = 0;
    REAL y = 0;
    GdipGetImageHorizontalResolution(jpeg.bitmap, &x);
    GdipGetImageVerticalResolution(jpeg.bitmap, &y);
    EXPECT_EQ(x, 65535.0f);
    EXPECT_EQ(y, 65535.0f);
}

TEST(ImagingDecode, NothingIsMadeWithoutStartup) {
    // The test environment holds one start-up: end it for the length of this test.
    GdiplusShutdown(1);
    GpBitmap* b = nullptr;
    EXPECT_EQ(GdipCreateBitmapFromScan0(4, 4, 0, PixelFormat32bppARGB, nullptr, &b), GdiplusNotInitialized);
    EXPECT_EQ(b, nullptr);
    UINT count = 0, size = 0;
    EXPECT_EQ(GdipGetImageEncodersSize(&count, &size), GdiplusNotInitialized);

    GdiplusStartupInput bad;
    bad.GdiplusVersion = 9;
    ULONG_PTR token = 0;
    EXPECT_EQ(GdiplusStartup(&token, &bad, nullptr), UnsupportedGdiplusVersion);
    GdiplusStartupInput input;
    ASSERT_EQ(GdiplusStartup(&token, &input, nullptr), Ok);
    EXPECT_NE(token, 0u);
    EXPECT_EQ(GdipCreateBitmapFromScan0(4, 4, 0, PixelFormat32bppARGB, nullptr, &b), Ok);
    BitmapHolder holder(b);
}

}  // namespace
