// GIF through giflib, record by record, so that each frame's size is checked
// before anything is allocated for it. Only the first frame is decoded (what
// a still picture shows), composed on the logical screen; the screen outside
// the frame and the transparent colour index stay transparent.
#include <gif_lib.h>

#include <cstring>
#include <memory>
#include <new>

#include "platform/imaging/pixel_image.h"

namespace platform::imaging {
namespace {

struct MemoryReader {
    std::span<const uint8_t> bytes;
    size_t position = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* buffer, int count) {
    auto* reader = static_cast<MemoryReader*>(gif->UserData);
    // An empty span may have no data pointer at all, which memcpy must not see.
    if (count <= 0 || reader->position >= reader->bytes.size()) return 0;
    const size_t left = reader->bytes.size() - reader->position;
    const size_t n = left < static_cast<size_t>(count) ? left : static_cast<size_t>(count);
    std::memcpy(buffer, reader->bytes.data() + reader->position, n);
    reader->position += n;
    return static_cast<int>(n);
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifPtr = std::unique_ptr<GifFileType, GifCloser>;

bool SkipExtension(GifFileType* gif, int* transparent) {
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
    if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4)
        *transparent = (block[1] & 1) ? block[4] : -1;
    while (block) {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
    }
    return true;
}

DecodeError DecodeFrame(GifFileType* gif, int transparent, PixelImage& image) {
    if (DGifGetImageDesc(gif) == GIF_ERROR) return DecodeError::Damaged;
    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* colors = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    if (!colors || frame.Width <= 0 || frame.Height <= 0 || frame.Left < 0 || frame.Top < 0)
        return DecodeError::Damaged;
    if (!SizeAllowed(static_cast<uint64_t>(frame.Width), static_cast<uint64_t>(frame.Height)))
        return DecodeError::TooLarge;
    // A logical screen of size 0 occurs in the wild; the frame then sets the size.
    uint64_t width = static_cast<uint64_t>(gif->SWidth), height = static_cast<uint64_t>(gif->SHeight);
    if (width == 0 || height == 0) {
        width = static_cast<uint64_t>(frame.Left) + static_cast<uint64_t>(frame.Width);
        height = static_cast<uint64_t>(frame.Top) + static_cast<uint64_t>(frame.Height);
    }
    if (DecodeError e = AllocatePixels(image, width, height); e != DecodeError::None) return e;

    std::vector<GifByteType> line;
    try {
        line.resize(static_cast<size_t>(frame.Width));
    } catch (const std::bad_alloc&) {
        return DecodeError::OutOfMemory;
    }
    static constexpr int kInterlaceStart[] = {0, 4, 2, 1};
    static constexpr int kInterlaceStep[] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int start = frame.Interlace ? kInterlaceStart[pass] : 0;
        const int step = frame.Interlace ? kInterlaceStep[pass] : 1;
        for (int row = start; row < frame.Height; row += step) {
            if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR) return DecodeError::Damaged;
            const uint64_t y = static_cast<uint64_t>(frame.Top) + static_cast<uint64_t>(row);
            if (y >= image.height) continue;
            uint32_t* out = image.Row(static_cast<uint32_t>(y));
            for (int x = 0; x < frame.Width; ++x) {
                const uint64_t px = static_cast<uint64_t>(frame.Left) + static_cast<uint64_t>(x);
                const int index = line[static_cast<size_t>(x)];
                if (px >= image.width || index == transparent) continue;
                uint32_t argb = 0xFF000000u;  // an index past the palette shows black
                if (index < colors->ColorCount) {
                    const GifColorType& c = colors->Colors[index];
                    argb |= (uint32_t{c.Red} << 16) | (uint32_t{c.Green} << 8) | c.Blue;
                }
                out[px] = argb;
            }
        }
    }
    image.raw_format = ImageFormatGIF;
    image.pixel_format = Gdiplus::PixelFormat32bppARGB;
    return DecodeError::None;
}

}  // namespace

DecodeError DecodeGif(std::span<const uint8_t> bytes, PixelImage& image) {
    MemoryReader reader{bytes};
    int error = 0;
    GifPtr gif(DGifOpen(&reader, ReadFromMemory, &error));
    if (!gif) return DecodeError::Damaged;
    int transparent = -1;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) return DecodeError::Damaged;
        switch (type) {
            case EXTENSION_RECORD_TYPE:
                if (!SkipExtension(gif.get(), &transparent)) return DecodeError::Damaged;
                break;
            case IMAGE_DESC_RECORD_TYPE: {
                const DecodeError e = DecodeFrame(gif.get(), transparent, image);
                if (e != DecodeError::None) image = PixelImage{};
                return e;
            }
            default:
                return DecodeError::Damaged;  // the trailer (or junk) before any frame
        }
    }
}

}  // namespace platform::imaging
