// Damaged, truncated and oversized pictures of every format: each gives a
// failure status, none crashes, hangs or allocates without limit (the suite
// also runs under AddressSanitizer).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "test_pictures.h"

using namespace Gdiplus;
using namespace imaging_test;

namespace {

uint32_t Q(uint32_t x, uint32_t y) { return Quadrants(x, y, 24, 16); }

struct Sample {
    const char* name;
    Bytes bytes;
};

std::vector<Sample> Samples() {
    return {
        {"jpeg", MakeJpeg(24, 16, Q)},         {"exif", ToExif(MakeJpeg(24, 16, Q))},
        {"png", MakePng(24, 16, Q)},           {"gif", MakeGif(24, 16, Q)},
        {"bmp", MakeBmp(24, 16, Q)},           {"bmp8", MakeBmp(24, 16, Q, 8)},
        {"tiff", MakeTiff(24, 16, Q)},         {"ico", MakeIco(16, 16, Q, false)},
        {"ico png", MakeIco(16, 16, Q, true)},
    };
}

Status DecodeStatus(const Bytes& bytes) {
    Decoded d;
    DecodeBytes(bytes, d);
    if (d.status == Ok) {
        // Whatever decodes must be a complete, consistent image.
        EXPECT_GT(d.Width(), 0u);
        EXPECT_GT(d.Height(), 0u);
        d.Pixel(static_cast<int>(d.Width()) - 1, static_cast<int>(d.Height()) - 1);
    } else {
        EXPECT_EQ(d.bitmap, nullptr);
    }
    return d.status;
}

TEST(ImagingDamaged, EveryTruncationIsSafeAndCuttingIntoThePictureFails) {
    for (const Sample& s : Samples()) {
        SCOPED_TRACE(s.name);
        ASSERT_EQ(DecodeStatus(s.bytes), Ok);
        for (size_t n = 0; n < s.bytes.size(); ++n) {
            const Bytes cut(s.bytes.begin(), s.bytes.begin() + static_cast<std::ptrdiff_t>(n));
            const Status status = DecodeStatus(cut);
            // A GIF needs no trailer after its first frame; every other cut
            // into the first 90 % loses picture data.
            if (n < s.bytes.size() * 9 / 10) {
                EXPECT_NE(status, Ok) << "cut at " << n;
            }
        }
    }
}

// A JPEG whose scan is cut and closed with EOI (a picture saved half-way
// by a tool that still ends it properly) is as truncated as one cut short.
TEST(ImagingDamaged, JpegScanEndedEarlyByEoiFails) {
    for (const Bytes& whole : {MakeJpeg(24, 16, Q), MakeJpeg(240, 160, Q)}) {
        size_t sos = 0;
        for (size_t i = 2; i + 1 < whole.size(); ++i)
            if (whole[i] == 0xFF && whole[i + 1] == 0xDA) sos = i;
        ASSERT_GT(sos, 0u);
        const size_t scan = sos + 2 + ((whole[sos + 2] << 8) | whole[sos + 3]);
        // Some 200 cuts spread over the first 80 % of the scan.
        const size_t end = scan + (whole.size() - scan) * 8 / 10;
        const size_t step = std::max<size_t>(1, (end - scan) / 200);
        for (size_t n = scan; n < end; n += step) {
            Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
            if (cut.back() == 0xFF) cut.pop_back();
            cut.insert(cut.end(), {0xFF, 0xD9});
            EXPECT_NE(DecodeStatus(cut), Ok) << "scan cut at " << n << " of " << whole.size();
        }
    }
}

TEST(ImagingDamaged, RandomByteDamageNeverCrashes) {
    std::mt19937 random(20261207);
    for (const Sample& s : Samples()) {
        SCOPED_TRACE(s.name);
        for (int round = 0; round < 300; ++round) {
            Bytes damaged = s.bytes;
            const int changes = 1 + static_cast<int>(random() % 8);
            for (int i = 0; i < changes; ++i)
                damaged[random() % damaged.size()] = static_cast<uint8_t>(random());
            DecodeStatus(damaged);
        }
    }
}

TEST(ImagingDamaged, HeaderDamageThatTheFormatDetectsFails) {
    // PNG: a changed IHDR byte breaks the chunk's CRC.
    Bytes png = MakePng(24, 16, Q);
    png[20] ^= 0x01;
    EXPECT_NE(DecodeStatus(png), Ok);
    // BMP: bits per pixel that no bitmap has; a header size that none has.
    Bytes bmp = MakeBmp(24, 16, Q);
    bmp[28] = 7;
    EXPECT_EQ(DecodeStatus(bmp), GenericError);
    bmp = MakeBmp(24, 16, Q);
    bmp[14] = 13;
    EXPECT_EQ(DecodeStatus(bmp), GenericError);
    // Unknown content and an empty stream.
    EXPECT_EQ(DecodeStatus(Bytes{'h', 'e', 'l', 'l', 'o'}), UnknownImageFormat);
    EXPECT_EQ(DecodeStatus(Bytes{}), UnknownImageFormat);
}

void Patch16(Bytes& b, size_t at, uint16_t v, bool big_endian) {
    b[at] = static_cast<uint8_t>(big_endian ? v >> 8 : v);
    b[at + 1] = static_cast<uint8_t>(big_endian ? v : v >> 8);
}

uint32_t Crc32(const uint8_t* data, size_t n) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

size_t FindSof(const Bytes& jpeg) {
    for (size_t i = 2; i + 9 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) return i;
    ADD_FAILURE() << "no SOF0";
    return 0;
}

TEST(ImagingDamaged, AbsurdSizesAreRefusedBeforeAllocation) {
    // JPEG: 60000 x 60000 (over 30000 a side).
    Bytes jpeg = MakeJpeg(24, 16, Q);
    const size_t sof = FindSof(jpeg);
    Patch16(jpeg, sof + 5, 60000, true);
    Patch16(jpeg, sof + 7, 60000, true);
    EXPECT_EQ(DecodeStatus(jpeg), OutOfMemory);
    // BMP: 20000 x 20000 is within the side limit but 400 megapixels.
    Bytes bmp = MakeBmp(24, 16, Q);
    Patch16(bmp, 18, 20000, false);
    Patch16(bmp, 22, 20000, false);
    EXPECT_EQ(DecodeStatus(bmp), OutOfMemory);
    // GIF: a logical screen of 65535 x 65535.
    Bytes gif = MakeGif(24, 16, Q);
    Patch16(gif, 6, 65535, false);
    Patch16(gif, 8, 65535, false);
    EXPECT_EQ(DecodeStatus(gif), OutOfMemory);
    // PNG: IHDR claims 100000 pixels wide, with a correct CRC, so only the size is wrong.
    Bytes png = MakePng(24, 16, Q);
    png[16] = 0;
    png[17] = 0x01;
    png[18] = 0x86;
    png[19] = 0xA0;
    const uint32_t crc = Crc32(png.data() + 12, 17);  // chunk type and data
    for (int i = 0; i < 4; ++i) png[29 + static_cast<size_t>(i)] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    EXPECT_EQ(DecodeStatus(png), OutOfMemory);
    // Bitmaps made in memory have the same limits.
    GpBitmap* b = nullptr;
    EXPECT_EQ(GdipCreateBitmapFromScan0(30001, 10, 0, PixelFormat32bppARGB, nullptr, &b), InvalidParameter);
    EXPECT_EQ(GdipCreateBitmapFromScan0(20000, 20000, 0, PixelFormat32bppARGB, nullptr, &b),
              InvalidParameter);
    EXPECT_EQ(GdipCreateBitmapFromScan0(0, 10, 0, PixelFormat32bppARGB, nullptr, &b), InvalidParameter);
    EXPECT_EQ(b, nullptr);
}

}  // namespace
