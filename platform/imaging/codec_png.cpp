// PNG through libpng's simplified interface, which does its own error
// recovery (no jump points here) and converts every colour type, bit depth,
// palette and transparency chunk to 8-bit BGRA.
#include <png.h>

#include <new>

#include "platform/imaging/pixel_image.h"

namespace platform::imaging {
namespace {

struct ImageGuard {
    png_image* image;
    ~ImageGuard() { png_image_free(image); }
};

}  // namespace

DecodeError DecodePng(std::span<const uint8_t> bytes, PixelImage& image) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    ImageGuard guard{&png};
    if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) return DecodeError::Damaged;
    const DecodeError e = AllocatePixels(image, png.width, png.height);
    if (e != DecodeError::None) return e;
    const bool has_alpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    // BGRA in memory order is 0xAARRGGBB in a little-endian 32-bit word.
    png.format = PNG_FORMAT_BGRA;
    if (!png_image_finish_read(&png, nullptr, image.argb.data(), static_cast<png_int_32>(image.width * 4),
                               nullptr)) {
        image = PixelImage{};
        return DecodeError::Damaged;
    }
    image.raw_format = ImageFormatPNG;
    image.pixel_format = has_alpha ? Gdiplus::PixelFormat32bppARGB : Gdiplus::PixelFormat24bppRGB;
    return DecodeError::None;
}

bool EncodePng(const PixelImage& image, std::vector<uint8_t>& out) {
    if (image.width == 0 || image.height == 0 || image.argb.size() != size_t{image.width} * image.height)
        return false;
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = image.width;
    png.height = image.height;
    png.format = PNG_FORMAT_BGRA;
    ImageGuard guard{&png};
    png_alloc_size_t size = 0;
    const auto stride = static_cast<png_int_32>(image.width * 4);
    if (!png_image_write_to_memory(&png, nullptr, &size, 0, image.argb.data(), stride, nullptr)) return false;
    const size_t start = out.size();
    try {
        out.resize(start + size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!png_image_write_to_memory(&png, out.data() + start, &size, 0, image.argb.data(), stride, nullptr)) {
        out.resize(start);
        return false;
    }
    out.resize(start + size);
    return true;
}

}  // namespace platform::imaging
