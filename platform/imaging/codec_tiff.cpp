// TIFF through libtiff, reading from memory through client procedures. Its
// RGBA reader handles the photometric interpretations, bit depths, planar
// layouts and compressions that libtiff knows; it hands back premultiplied
// ABGR words, which are turned into straight 0xAARRGGBB here. Messages go to
// per-handle handlers that drop them, so nothing reaches the console. Only the
// first page is read.
#include <tiffio.h>

#include <cstring>
#include <memory>

#include "platform/imaging/pixel_image.h"

namespace platform::imaging {
namespace {

// The largest single buffer libtiff may allocate for its own use (strips,
// tiles, tag arrays); the pixel buffer itself is ours and limited separately.
constexpr tmsize_t kMaxLibraryAlloc = tmsize_t{256} * 1024 * 1024;

struct MemoryFile {
    std::span<const uint8_t> bytes;
    uint64_t position = 0;
};

tmsize_t Read(thandle_t handle, void* buffer, tmsize_t size) {
    auto* f = static_cast<MemoryFile*>(handle);
    if (size <= 0 || f->position >= f->bytes.size()) return 0;
    const uint64_t left = f->bytes.size() - f->position;
    const uint64_t n = left < static_cast<uint64_t>(size) ? left : static_cast<uint64_t>(size);
    std::memcpy(buffer, f->bytes.data() + f->position, static_cast<size_t>(n));
    f->position += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t Write(thandle_t, void*, tmsize_t) { return -1; }

toff_t Seek(thandle_t handle, toff_t offset, int whence) {
    auto* f = static_cast<MemoryFile*>(handle);
    uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = f->position;
    else if (whence == SEEK_END)
        base = f->bytes.size();
    else if (whence != SEEK_SET)
        return static_cast<toff_t>(-1);
    // Offsets are unsigned here; a seek before the start wraps to a huge value,
    // which simply reads nothing.
    f->position = base + offset;
    return f->position;
}

int Close(thandle_t) { return 0; }
toff_t Size(thandle_t handle) { return static_cast<MemoryFile*>(handle)->bytes.size(); }
int Map(thandle_t, void**, toff_t*) { return 0; }
void Unmap(thandle_t, void*, toff_t) {}

int DropMessage(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct OptionsFree {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};
struct TiffClose {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

uint32_t Straighten(uint32_t abgr) {
    uint32_t r = abgr & 0xFF, g = (abgr >> 8) & 0xFF, b = (abgr >> 16) & 0xFF;
    const uint32_t a = abgr >> 24;
    if (a == 0) return 0;
    if (a < 255) {
        r = r >= a ? 255 : (r * 255 + a / 2) / a;
        g = g >= a ? 255 : (g * 255 + a / 2) / a;
        b = b >= a ? 255 : (b * 255 + a / 2) / a;
    }
    return (a << 24) | (r << 16) | (g << 8) | b;
}

}  // namespace

DecodeError DecodeTiff(std::span<const uint8_t> bytes, PixelImage& image) {
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) return DecodeError::OutOfMemory;
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxLibraryAlloc);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), DropMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), DropMessage, nullptr);
    MemoryFile file{bytes};
    std::unique_ptr<TIFF, TiffClose> tif(
        TIFFClientOpenExt("memory", "rm", &file, Read, Write, Seek, Close, Size, Map, Unmap, options.get()));
    if (!tif) return DecodeError::Damaged;
    uint32_t width = 0, height = 0;
    if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height))
        return DecodeError::Damaged;
    if (width == 0 || height == 0) return DecodeError::Damaged;
    if (!SizeAllowed(width, height)) return DecodeError::TooLarge;
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tif.get(), message)) return DecodeError::Damaged;
    if (DecodeError e = AllocatePixels(image, width, height); e != DecodeError::None) return e;
    if (!TIFFReadRGBAImageOriented(tif.get(), width, height, image.argb.data(), ORIENTATION_TOPLEFT, 1)) {
        image = PixelImage{};
        return DecodeError::Damaged;
    }
    uint16_t extra_count = 0;
    uint16_t* extra = nullptr;
    const bool has_alpha =
        TIFFGetField(tif.get(), TIFFTAG_EXTRASAMPLES, &extra_count, &extra) && extra_count > 0;
    for (uint32_t& p : image.argb) p = Straighten(p);
    image.raw_format = ImageFormatTIFF;
    image.pixel_format = has_alpha ? Gdiplus::PixelFormat32bppARGB : Gdiplus::PixelFormat24bppRGB;
    return DecodeError::None;
}

}  // namespace platform::imaging
