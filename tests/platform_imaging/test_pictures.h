// Pictures made at test time for the imaging tests, in every format the
// decoders read, and a GoogleTest environment that starts the library.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/imaging/gdiplus.h"

namespace imaging_test {

using Bytes = std::vector<uint8_t>;

// Colour of pixel (x, y) of a picture, as 0xAARRGGBB.
using PixelFunction = std::function<uint32_t(uint32_t x, uint32_t y)>;

// Four flat quadrants: red top-left, green top-right, blue bottom-left,
// white bottom-right; all opaque.
uint32_t Quadrants(uint32_t x, uint32_t y, uint32_t width, uint32_t height);

// A bitmap made with GdipCreateBitmapFromScan0 and filled pixel by pixel.
GpBitmap* MakeBitmap(uint32_t width, uint32_t height, const PixelFunction& pixel);

// Encodes with the listed encoder of that MIME type ("image/jpeg", "image/png").
Bytes Encode(GpImage* image, const char16_t* mime_type);
CLSID EncoderClsid(const char16_t* mime_type);

// Format writers. BMP: 24-bit bottom-up (or 8-bit with a palette of the
// picture's first 256 distinct colours when `bits` is 8). GIF: the colours
// must be few (at most 256 distinct). TIFF: RGB(A), LZW. ICO: one picture,
// PNG-embedded or as a 32-bit DIB with AND mask.
Bytes MakeBmp(uint32_t width, uint32_t height, const PixelFunction& pixel, int bits = 24);
Bytes MakeGif(uint32_t width, uint32_t height, const PixelFunction& pixel, int transparent_index = -1,
              bool interlaced = false);
Bytes MakeTiff(uint32_t width, uint32_t height, const PixelFunction& pixel, bool alpha = false);
Bytes MakeIco(uint32_t width, uint32_t height, const PixelFunction& pixel, bool png_inside);
Bytes MakeJpeg(uint32_t width, uint32_t height, const PixelFunction& pixel);
Bytes MakePng(uint32_t width, uint32_t height, const PixelFunction& pixel);
// Replaces the JFIF APP0 segment of a JPEG by an "Exif" APP1 segment (a
// minimal TIFF header with no entries), as a camera writes it.
Bytes ToExif(const Bytes& jfif);

// Decodes bytes through a memory stream; the status, and the bitmap on Ok.
struct Decoded {
    Gdiplus::Status status = Gdiplus::GenericError;
    GpBitmap* bitmap = nullptr;
    ~Decoded();
    Decoded() = default;
    Decoded(const Decoded&) = delete;
    Decoded& operator=(const Decoded&) = delete;
    GUID RawFormat() const;
    UINT Width() const;
    UINT Height() const;
    uint32_t Pixel(int x, int y) const;
};
void DecodeBytes(const Bytes& bytes, Decoded& out);

// True when every channel of a and b differs by at most `tolerance`.
bool Near(uint32_t a, uint32_t b, int tolerance);

// Owns one bitmap handle.
struct BitmapHolder {
    GpBitmap* bitmap = nullptr;
    explicit BitmapHolder(GpBitmap* b) : bitmap(b) {}
    ~BitmapHolder() {
        if (bitmap) GdipDisposeImage(bitmap);
    }
    BitmapHolder(const BitmapHolder&) = delete;
    BitmapHolder& operator=(const BitmapHolder&) = delete;
};

}  // namespace imaging_test
