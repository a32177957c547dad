// Windows bitmaps ("BM" files) and icons, read by hand: no library of this
// platform reads them, and the layout is small. Every offset and size is
// checked against the bytes at hand before use.
//
// Supported: the OS/2 core header and the 40-byte header with its later
// extensions; 1, 4 and 8 bits with a palette, 16 and 32 bits with default or
// explicit channel masks, 24 bits; bottom-up and top-down rows. Run-length and
// embedded JPEG/PNG compressions are refused as damaged. A 32-bit bitmap
// without an alpha mask is opaque (its fourth byte is padding), as Windows
// shows it; icons use their alpha channel, or the AND mask when they have none.
#include <array>
#include <cstring>
#include <optional>

#include "platform/imaging/pixel_image.h"

namespace platform::imaging {
namespace {

constexpr uint32_t kBiRgb = 0, kBiBitfields = 3, kBiAlphaBitfields = 6;

uint16_t U16(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
uint32_t U32(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
           (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;

    explicit Channel(uint32_t m = 0) : mask(m) {
        if (!m) return;
        while (!((m >> shift) & 1)) ++shift;
        max = m >> shift;
    }
    uint32_t Get(uint32_t pixel) const {
        if (!mask) return 0;
        const uint64_t v = (pixel & mask) >> shift;
        return static_cast<uint32_t>((v * 255 + max / 2) / max);
    }
};

struct Dib {
    int64_t width = 0;
    int64_t height = 0;  // rows of colour data (an icon's doubled height already halved)
    bool top_down = false;
    uint32_t bits = 0;
    uint32_t compression = kBiRgb;
    std::array<uint32_t, 4> masks{};  // red, green, blue, alpha
    std::vector<uint32_t> palette;    // 0xFFRRGGBB
    size_t header_end = 0;            // first byte after header, masks and palette
    float dpi_x = 96.0f, dpi_y = 96.0f;
};

// Reads the header at `at` (with masks and palette). `icon`: the height counts
// colour rows and mask rows together.
DecodeError ReadDibHeader(std::span<const uint8_t> b, size_t at, bool icon, Dib& dib) {
    if (b.size() < at || b.size() - at < 12) return DecodeError::Damaged;
    const uint32_t header_size = U32(b, at);
    size_t palette_entry = 4;
    if (header_size == 12) {
        dib.width = U16(b, at + 4);
        dib.height = U16(b, at + 6);
        dib.bits = U16(b, at + 10);
        palette_entry = 3;
    } else if (header_size >= 40 && header_size <= 1024) {
        if (b.size() - at < header_size) return DecodeError::Damaged;
        dib.width = static_cast<int32_t>(U32(b, at + 4));
        dib.height = static_cast<int32_t>(U32(b, at + 8));
        dib.bits = U16(b, at + 14);
        dib.compression = U32(b, at + 16);
        const auto ppm_x = static_cast<int32_t>(U32(b, at + 24)),
                   ppm_y = static_cast<int32_t>(U32(b, at + 28));
        if (ppm_x > 0 && ppm_y > 0) {
            dib.dpi_x = static_cast<float>(ppm_x * 0.0254);
            dib.dpi_y = static_cast<float>(ppm_y * 0.0254);
        }
        const uint32_t colors_used = U32(b, at + 32);
        if (dib.bits <= 8) {
            if (colors_used > 256) return DecodeError::Damaged;
            dib.palette.resize(colors_used ? colors_used : (1u << dib.bits));
        }
    } else {
        return DecodeError::Damaged;
    }
    if (dib.bits == 0 || (dib.bits > 8 && dib.bits != 16 && dib.bits != 24 && dib.bits != 32) ||
        (dib.bits < 8 && dib.bits != 1 && dib.bits != 4))
        return DecodeError::Damaged;
    if (dib.bits <= 8 && dib.palette.empty()) dib.palette.resize(1u << dib.bits);

    size_t pos = at + header_size;
    if (dib.compression == kBiBitfields || dib.compression == kBiAlphaBitfields) {
        if (dib.bits != 16 && dib.bits != 32) return DecodeError::Damaged;
        const size_t count = dib.compression == kBiAlphaBitfields ? 4 : 3;
        if (header_size >= 52) {
            // The masks are part of the larger headers (alpha from 56 bytes on).
            for (size_t i = 0; i < 3; ++i) dib.masks[i] = U32(b, at + 40 + 4 * i);
            if (header_size >= 56) dib.masks[3] = U32(b, at + 52);
        } else {
            if (b.size() - pos < 4 * count) return DecodeError::Damaged;
            for (size_t i = 0; i < count; ++i) dib.masks[i] = U32(b, pos + 4 * i);
            pos += 4 * count;
        }
    } else if (dib.compression != kBiRgb) {
        return DecodeError::Damaged;
    } else if (dib.bits == 16) {
        dib.masks = {0x7C00, 0x03E0, 0x001F, 0};
    } else if (dib.bits == 32) {
        dib.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, icon ? 0xFF000000u : 0u};
    }

    if (!dib.palette.empty()) {
        if ((b.size() - pos) / palette_entry < dib.palette.size()) return DecodeError::Damaged;
        for (uint32_t& c : dib.palette) {
            c = 0xFF000000u | (uint32_t{b[pos + 2]} << 16) | (uint32_t{b[pos + 1]} << 8) | b[pos];
            pos += palette_entry;
        }
    }
    dib.header_end = pos;

    if (dib.width <= 0 || dib.height == 0) return DecodeError::Damaged;
    if (dib.height < 0) {
        if (icon || header_size == 12) return DecodeError::Damaged;
        dib.top_down = true;
        dib.height = -dib.height;
    }
    if (icon) {
        dib.height /= 2;
        if (dib.height == 0) return DecodeError::Damaged;
    }
    if (!SizeAllowed(static_cast<uint64_t>(dib.width), static_cast<uint64_t>(dib.height)))
        return DecodeError::TooLarge;
    return DecodeError::None;
}

uint64_t Stride(uint64_t width, uint32_t bits) { return (width * bits + 31) / 32 * 4; }

// Decodes the colour rows that start at `pixels` (and, for icons, the AND
// mask after them).
DecodeError DecodeRows(std::span<const uint8_t> b, size_t pixels, const Dib& dib, bool icon,
                       PixelImage& image) {
    const uint64_t w = static_cast<uint64_t>(dib.width), h = static_cast<uint64_t>(dib.height);
    const uint64_t stride = Stride(w, dib.bits);
    if (pixels > b.size() || (b.size() - pixels) / stride < h) return DecodeError::Damaged;
    if (DecodeError e = AllocatePixels(image, w, h); e != DecodeError::None) return e;

    const Channel red(dib.masks[0]), green(dib.masks[1]), blue(dib.masks[2]), alpha(dib.masks[3]);
    bool any_alpha = false;
    for (uint64_t row = 0; row < h; ++row) {
        const uint8_t* src = b.data() + pixels + row * stride;
        uint32_t* out = image.Row(static_cast<uint32_t>(dib.top_down ? row : h - 1 - row));
        for (uint64_t x = 0; x < w; ++x) {
            uint32_t argb;
            switch (dib.bits) {
                case 1:
                case 4:
                case 8: {
                    const uint64_t bit = x * dib.bits;
                    const uint32_t index =
                        (src[bit / 8] >> (8 - dib.bits - bit % 8)) & ((1u << dib.bits) - 1);
                    // An index past a short palette shows black rather than failing.
                    argb = index < dib.palette.size() ? dib.palette[index] : 0xFF000000u;
                    break;
                }
                case 24:
                    argb = 0xFF000000u | (uint32_t{src[3 * x + 2]} << 16) | (uint32_t{src[3 * x + 1]} << 8) |
                           src[3 * x];
                    break;
                default: {
                    const uint32_t v = dib.bits == 16 ? U16(b, pixels + row * stride + 2 * x)
                                                      : U32(b, pixels + row * stride + 4 * x);
                    const uint32_t a = alpha.mask ? alpha.Get(v) : 255;
                    any_alpha |= a != 0;
                    argb = (a << 24) | (red.Get(v) << 16) | (green.Get(v) << 8) | blue.Get(v);
                }
            }
            out[x] = argb;
        }
    }
    if (!icon) return DecodeError::None;

    // Icons: a 32-bit picture whose alpha is all zero, and every picture of
    // fewer bits, take their transparency from the AND mask (1 = transparent).
    const bool use_mask = dib.bits != 32 || !any_alpha;
    if (!use_mask) return DecodeError::None;
    const size_t mask_start = static_cast<size_t>(pixels + stride * h);
    const uint64_t mask_stride = Stride(w, 1);
    const bool has_mask = mask_start <= b.size() && (b.size() - mask_start) / mask_stride >= h;
    for (uint64_t row = 0; row < h; ++row) {
        uint32_t* out = image.Row(static_cast<uint32_t>(h - 1 - row));
        for (uint64_t x = 0; x < w; ++x) {
            bool transparent = false;
            if (has_mask) transparent = (b[mask_start + row * mask_stride + x / 8] >> (7 - x % 8)) & 1;
            out[x] = transparent ? 0 : (out[x] | 0xFF000000u);
        }
    }
    return DecodeError::None;
}

}  // namespace

DecodeError DecodeBmp(std::span<const uint8_t> bytes, PixelImage& image) {
    if (bytes.size() < 14 + 12) return DecodeError::Damaged;
    Dib dib;
    if (DecodeError e = ReadDibHeader(bytes, 14, false, dib); e != DecodeError::None) return e;
    const size_t pixels = U32(bytes, 10);
    if (pixels < 14) return DecodeError::Damaged;
    const DecodeError e = DecodeRows(bytes, pixels, dib, false, image);
    if (e != DecodeError::None) return e;
    image.raw_format = ImageFormatBMP;
    image.pixel_format = dib.masks[3]     ? Gdiplus::PixelFormat32bppARGB
                         : dib.bits == 32 ? Gdiplus::PixelFormat32bppRGB
                                          : Gdiplus::PixelFormat24bppRGB;
    image.dpi_x = dib.dpi_x;
    image.dpi_y = dib.dpi_y;
    return DecodeError::None;
}

DecodeError DecodeIcon(std::span<const uint8_t> bytes, PixelImage& image) {
    if (bytes.size() < 6) return DecodeError::Damaged;
    const uint16_t count = U16(bytes, 4);
    if (count == 0 || (bytes.size() - 6) / 16 < count) return DecodeError::Damaged;
    // The largest picture of the directory, by its declared size (0 means 256).
    std::optional<std::span<const uint8_t>> best;
    uint32_t best_area = 0;
    for (uint16_t i = 0; i < count; ++i) {
        const size_t entry = 6 + size_t{16} * i;
        const uint32_t w = bytes[entry] ? bytes[entry] : 256, h = bytes[entry + 1] ? bytes[entry + 1] : 256;
        const uint32_t size = U32(bytes, entry + 8), offset = U32(bytes, entry + 12);
        if (offset > bytes.size() || size > bytes.size() - offset || size < 12) return DecodeError::Damaged;
        if (!best || w * h > best_area) {
            best = bytes.subspan(offset, size);
            best_area = w * h;
        }
    }
    DecodeError e;
    if (best->size() >= 8 && std::memcmp(best->data(), "\x89PNG\r\n\x1A\n", 8) == 0) {
        e = DecodePng(*best, image);
    } else {
        Dib dib;
        e = ReadDibHeader(*best, 0, true, dib);
        if (e == DecodeError::None) e = DecodeRows(*best, dib.header_end, dib, true, image);
    }
    if (e != DecodeError::None) return e;
    image.raw_format = ImageFormatIcon;
    image.pixel_format = Gdiplus::PixelFormat32bppARGB;
    return DecodeError::None;
}

}  // namespace platform::imaging
