#include <cstring>
#include <new>

#include "platform/imaging/pixel_image.h"

namespace platform::imaging {

bool SizeAllowed(uint64_t width, uint64_t height) {
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide && width * height <= kMaxPixels;
}

DecodeError AllocatePixels(PixelImage& image, uint64_t width, uint64_t height, uint32_t fill) {
    image.argb.clear();
    image.width = image.height = 0;
    if (!SizeAllowed(width, height)) return DecodeError::TooLarge;
    try {
        image.argb.assign(static_cast<size_t>(width * height), fill);
    } catch (const std::bad_alloc&) {
        return DecodeError::OutOfMemory;
    }
    image.width = static_cast<uint32_t>(width);
    image.height = static_cast<uint32_t>(height);
    return DecodeError::None;
}

namespace {

bool StartsWith(std::span<const uint8_t> bytes, const void* magic, size_t n) {
    return bytes.size() >= n && std::memcmp(bytes.data(), magic, n) == 0;
}

}  // namespace

DecodeError DecodeImage(std::span<const uint8_t> bytes, PixelImage& image) {
    image = PixelImage{};
    if (bytes.size() > kMaxInputBytes) return DecodeError::TooLarge;
    DecodeError e = DecodeError::UnknownFormat;
    if (StartsWith(bytes, "\xFF\xD8\xFF", 3)) {
        e = DecodeJpeg(bytes, image);
    } else if (StartsWith(bytes, "\x89PNG\r\n\x1A\n", 8)) {
        e = DecodePng(bytes, image);
    } else if (StartsWith(bytes, "GIF87a", 6) || StartsWith(bytes, "GIF89a", 6)) {
        e = DecodeGif(bytes, image);
    } else if (StartsWith(bytes, "BM", 2)) {
        e = DecodeBmp(bytes, image);
    } else if (StartsWith(bytes, "II*\0", 4) || StartsWith(bytes, "MM\0*", 4) ||
               StartsWith(bytes, "II+\0", 4) || StartsWith(bytes, "MM\0+", 4)) {
        e = DecodeTiff(bytes, image);
    } else if (StartsWith(bytes, "\0\0\1\0", 4)) {
        e = DecodeIcon(bytes, image);
    }
    if (e != DecodeError::None) image = PixelImage{};
    return e;
}

}  // namespace platform::imaging
