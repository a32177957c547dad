// Entries over the platform stand-ins: the registry file and the picture
// decoders (each given the bytes as the memory stream hands them over).
#include <span>
#include <string_view>

#include "fuzz/entries.h"
#include "platform/imaging/pixel_image.h"
#include "platform/registry/registry.h"

namespace cqfuzz {
namespace {

using namespace platform::imaging;

int Decoded(DecodeError (*decode)(std::span<const uint8_t>, PixelImage&), const uint8_t* data, size_t size) {
    PixelImage image;
    const DecodeError rc = decode(std::span<const uint8_t>(data, size), image);
    if (rc != DecodeError::None) return 0;
    // Every pixel of a decoded picture is there to be read.
    uint32_t sum = 0;
    for (uint32_t y = 0; y < image.height; ++y) sum += image.Row(y)[image.width - 1];
    return sum ? 2 : 1;
}

}  // namespace

int RegistryFile(const uint8_t* data, size_t size) {
    const auto counts =
        platform::ParseRegistryFile(std::string_view(reinterpret_cast<const char*>(data), size));
    return (counts.keys ? 1 : 0) + (counts.values ? 2 : 0);
}

int Jpeg(const uint8_t* data, size_t size) { return Decoded(DecodeJpeg, data, size); }
int Png(const uint8_t* data, size_t size) { return Decoded(DecodePng, data, size); }
int Gif(const uint8_t* data, size_t size) { return Decoded(DecodeGif, data, size); }
int Bmp(const uint8_t* data, size_t size) {
    return Decoded(DecodeBmp, data, size) + 4 * Decoded(DecodeIcon, data, size);
}
int Tiff(const uint8_t* data, size_t size) { return Decoded(DecodeTiff, data, size); }

}  // namespace cqfuzz
