// The objects behind the opaque handles of the flat API, shared by the
// imaging sources only (callers see gdiplus.h).
//
// A bitmap and every graphics object made on it share one PixelImage, so a
// graphics stays valid when its bitmap is disposed first. Drawing converts the
// shared pixels to Cairo's premultiplied form for the length of one call and
// back; the stored form is always straight alpha.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/imaging/gdiplus.h"
#include "platform/imaging/pixel_image.h"

namespace platform::imaging {

class Bitmap final : public GpBitmap {
  public:
    explicit Bitmap(std::shared_ptr<PixelImage> pixels) : pixels_(std::move(pixels)) {}
    const std::shared_ptr<PixelImage>& pixels() const { return pixels_; }

  private:
    std::shared_ptr<PixelImage> pixels_;
};

// Every image of this platform is a Bitmap.
inline Bitmap* AsBitmap(GpImage* image) { return static_cast<Bitmap*>(image); }

class SolidBrush final : public GpSolidFill {
  public:
    explicit SolidBrush(Gdiplus::ARGB argb) : color(argb) {}
    Gdiplus::ARGB color;
};

// True between GdiplusStartup and the matching GdiplusShutdown.
bool Started();

// The status a caller sees for a decoder's error.
Gdiplus::Status StatusFor(DecodeError error);

// Makes a new Bitmap handle around `image`; OutOfMemory when that fails.
Gdiplus::Status MakeBitmap(PixelImage&& image, GpBitmap** bitmap);

// In-place conversions between straight and premultiplied 0xAARRGGBB.
void Premultiply(std::span<uint32_t> pixels);
void Unpremultiply(std::span<uint32_t> pixels);

// UTF-16 (length units, or up to the NUL when length is -1) to UTF-8; an
// unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const WCHAR* text, INT length);

}  // namespace platform::imaging

class GpGraphics {
  public:
    explicit GpGraphics(std::shared_ptr<platform::imaging::PixelImage> image) : target(std::move(image)) {}
    std::shared_ptr<platform::imaging::PixelImage> target;
    Gdiplus::CompositingQuality compositing_quality = Gdiplus::CompositingQualityDefault;
    Gdiplus::InterpolationMode interpolation = Gdiplus::InterpolationModeBilinear;
    Gdiplus::SmoothingMode smoothing = Gdiplus::SmoothingModeNone;
    Gdiplus::PixelOffsetMode pixel_offset = Gdiplus::PixelOffsetModeDefault;
    Gdiplus::TextRenderingHint text_hint = Gdiplus::TextRenderingHintSystemDefault;
};

class GpFontFamily {
  public:
    GpFontFamily(std::string family, bool is_generic) : name(std::move(family)), generic(is_generic) {}
    std::string name;  // as fontconfig knows it (UTF-8)
    bool generic;      // the process-wide generic family: never deleted
};

class GpFont {
  public:
    std::string family;
    Gdiplus::REAL size = 0;
    INT style = Gdiplus::FontStyleRegular;
    Gdiplus::Unit unit = Gdiplus::UnitPoint;
};

class GpStringFormat {
  public:
    INT flags = 0;
    LANGID language = LANG_NEUTRAL;
    Gdiplus::StringAlignment align = Gdiplus::StringAlignmentNear;
    Gdiplus::StringAlignment line_align = Gdiplus::StringAlignmentNear;
};

class GpPath {
  public:
    struct Point {
        float x, y;
    };
    Gdiplus::FillMode fill_mode = Gdiplus::FillModeAlternate;
    std::vector<Point> points;
};
