// The in-memory picture behind every GDI+ image of this platform, and the
// codecs that fill it from bytes and turn it back into bytes.
//
// A PixelImage is a top-down, row-major array of 32-bit pixels 0xAARRGGBB
// with straight (not premultiplied) alpha, the raw format it came from and
// its resolution. Every decoder reads from memory only, checks each size it
// is told against the limits below before it allocates anything, and reports
// damaged or truncated input as DecodeError::Damaged; none throws.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/imaging/gdiplus.h"

namespace platform::imaging {

static_assert(std::endian::native == std::endian::little, "pixels are 0xAARRGGBB words stored as B, G, R, A");

inline constexpr uint32_t kMaxSide = 30000;
inline constexpr uint64_t kMaxPixels = 256ull * 1024 * 1024;
inline constexpr size_t kMaxInputBytes = size_t{1} << 30;

struct PixelImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> argb;
    GUID raw_format = ImageFormatUndefined;
    Gdiplus::PixelFormat pixel_format = Gdiplus::PixelFormat32bppARGB;
    float dpi_x = 96.0f;
    float dpi_y = 96.0f;

    uint32_t* Row(uint32_t y) { return argb.data() + static_cast<size_t>(y) * width; }
    const uint32_t* Row(uint32_t y) const { return argb.data() + static_cast<size_t>(y) * width; }
};

enum class DecodeError {
    None,
    UnknownFormat,  // the bytes are no picture format known here
    Damaged,        // a known format, but damaged, truncated or of an unsupported kind
    TooLarge,       // sizes beyond kMaxSide / kMaxPixels
    OutOfMemory,
};

// True when a picture of width x height is within the limits (both non-zero).
bool SizeAllowed(uint64_t width, uint64_t height);

// Sizes `image` to width x height filled with `fill`; TooLarge or OutOfMemory
// on failure (the image is then left empty).
DecodeError AllocatePixels(PixelImage& image, uint64_t width, uint64_t height, uint32_t fill = 0);

// Recognises the format by its first bytes and decodes it. On failure `image`
// is left empty. Icons decode to ImageFormatIcon.
DecodeError DecodeImage(std::span<const uint8_t> bytes, PixelImage& image);

DecodeError DecodeJpeg(std::span<const uint8_t> bytes, PixelImage& image);
DecodeError DecodePng(std::span<const uint8_t> bytes, PixelImage& image);
DecodeError DecodeGif(std::span<const uint8_t> bytes, PixelImage& image);
DecodeError DecodeTiff(std::span<const uint8_t> bytes, PixelImage& image);
// A "BM" file.
DecodeError DecodeBmp(std::span<const uint8_t> bytes, PixelImage& image);
// An .ico file: its largest picture (DIB or PNG).
DecodeError DecodeIcon(std::span<const uint8_t> bytes, PixelImage& image);

// Encoders append to `out`; false when the image cannot be encoded (empty,
// or the library failed). JPEG drops alpha; `quality` is 0..100.
bool EncodeJpeg(const PixelImage& image, int quality, std::vector<uint8_t>& out);
bool EncodePng(const PixelImage& image, std::vector<uint8_t>& out);

inline constexpr int kDefaultJpegQuality = 75;

}  // namespace platform::imaging
