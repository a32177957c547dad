// Graphics objects: their settings, clearing, and scaled image drawing
// through Cairo. Shrinking with the high-quality modes convolves (through
// pixman) over every source pixel that a destination pixel covers, so a 2:1
// reduction averages and does not skip; enlarging uses a Lanczos kernel. The
// source is padded at its edges, so borders do not fade to transparent.
#include <cairo.h>

#include <cstdlib>
#include <memory>
#include <new>

#include "platform/imaging/cairo_ptr.h"
#include "platform/imaging/objects.h"

using namespace Gdiplus;

namespace platform::imaging {
namespace {

SurfacePtr WrapPixels(PixelImage& image) {
    return SurfacePtr(cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(image.argb.data()), CAIRO_FORMAT_ARGB32,
        static_cast<int>(image.width), static_cast<int>(image.height), static_cast<int>(image.width * 4)));
}

// Cairo's best filter (a Lanczos kernel) costs twenty times its good one
// (box averaging over the covered source pixels) when shrinking a camera
// picture, for no visible gain at the sizes pictures are reduced to; it is
// used for enlarging only, where its cost follows the small source.
cairo_filter_t FilterFor(InterpolationMode mode, bool enlarging) {
    switch (mode) {
        case InterpolationModeNearestNeighbor:
            return CAIRO_FILTER_NEAREST;
        case InterpolationModeHighQualityBilinear:
            return CAIRO_FILTER_GOOD;
        case InterpolationModeHighQuality:
        case InterpolationModeHighQualityBicubic:
        case InterpolationModeBicubic:
            return enlarging ? CAIRO_FILTER_BEST : CAIRO_FILTER_GOOD;
        default:
            return CAIRO_FILTER_BILINEAR;
    }
}

}  // namespace
}  // namespace platform::imaging

using namespace platform::imaging;

Status GdipGetImageGraphicsContext(GpImage* image, GpGraphics** graphics) {
    if (!image || !graphics) return InvalidParameter;
    *graphics = nullptr;
    if (!Started()) return GdiplusNotInitialized;
    try {
        *graphics = new GpGraphics(AsBitmap(image)->pixels());
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
    return Ok;
}

Status GdipDeleteGraphics(GpGraphics* graphics) {
    if (!graphics) return InvalidParameter;
    delete graphics;
    return Ok;
}

Status GdipSetCompositingQuality(GpGraphics* graphics, CompositingQuality quality) {
    if (!graphics || quality < CompositingQualityDefault || quality > CompositingQualityAssumeLinear)
        return InvalidParameter;
    graphics->compositing_quality = quality;
    return Ok;
}

Status GdipSetInterpolationMode(GpGraphics* graphics, InterpolationMode mode) {
    if (!graphics || mode < InterpolationModeDefault || mode > InterpolationModeHighQualityBicubic)
        return InvalidParameter;
    graphics->interpolation = mode;
    return Ok;
}

Status GdipGetInterpolationMode(GpGraphics* graphics, InterpolationMode* mode) {
    if (!graphics || !mode) return InvalidParameter;
    *mode = graphics->interpolation;
    return Ok;
}

Status GdipSetSmoothingMode(GpGraphics* graphics, SmoothingMode mode) {
    if (!graphics || mode < SmoothingModeDefault || mode > SmoothingModeAntiAlias) return InvalidParameter;
    graphics->smoothing = mode;
    return Ok;
}

Status GdipSetPixelOffsetMode(GpGraphics* graphics, PixelOffsetMode mode) {
    if (!graphics || mode < PixelOffsetModeDefault || mode > PixelOffsetModeHalf) return InvalidParameter;
    graphics->pixel_offset = mode;
    return Ok;
}

Status GdipSetTextRenderingHint(GpGraphics* graphics, TextRenderingHint hint) {
    if (!graphics || hint < TextRenderingHintSystemDefault || hint > TextRenderingHintClearTypeGridFit)
        return InvalidParameter;
    graphics->text_hint = hint;
    return Ok;
}

Status GdipGetDpiX(GpGraphics* graphics, REAL* dpi) {
    if (!graphics || !dpi) return InvalidParameter;
    *dpi = graphics->target->dpi_x;
    return Ok;
}

Status GdipGetDpiY(GpGraphics* graphics, REAL* dpi) {
    if (!graphics || !dpi) return InvalidParameter;
    *dpi = graphics->target->dpi_y;
    return Ok;
}

Status GdipGraphicsClear(GpGraphics* graphics, ARGB color) {
    if (!graphics) return InvalidParameter;
    PixelImage& target = *graphics->target;
    if (target.pixel_format == PixelFormat24bppRGB || target.pixel_format == PixelFormat32bppRGB)
        color |= 0xFF000000u;
    std::fill(target.argb.begin(), target.argb.end(), color);
    return Ok;
}

Status GdipDrawImageRectRectI(GpGraphics* graphics, GpImage* image, INT dst_x, INT dst_y, INT dst_width,
                              INT dst_height, INT src_x, INT src_y, INT src_width, INT src_height,
                              Unit src_unit, const GpImageAttributes* attributes, DrawImageAbort, void*) {
    if (!graphics || !image) return InvalidParameter;
    if (src_unit != UnitPixel || attributes) return NotImplemented;
    if (dst_width == 0 || dst_height == 0 || src_width == 0 || src_height == 0) return Ok;

    // The source is copied first: it may be the target itself.
    PixelImage source;
    try {
        source = *AsBitmap(image)->pixels();
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
    Premultiply(source.argb);
    PixelImage& target = *graphics->target;
    Premultiply(target.argb);

    SurfacePtr src = WrapPixels(source);
    SurfacePtr dst = WrapPixels(target);
    ContextPtr cr(cairo_create(dst.get()));
    cairo_rectangle(cr.get(), dst_x, dst_y, dst_width, dst_height);
    cairo_clip(cr.get());
    cairo_translate(cr.get(), dst_x, dst_y);
    cairo_scale(cr.get(), static_cast<double>(dst_width) / src_width,
                static_cast<double>(dst_height) / src_height);
    cairo_translate(cr.get(), -src_x, -src_y);
    cairo_set_source_surface(cr.get(), src.get(), 0, 0);
    cairo_pattern_t* pattern = cairo_get_source(cr.get());
    const bool enlarging =
        std::abs(dst_width) > std::abs(src_width) || std::abs(dst_height) > std::abs(src_height);
    cairo_pattern_set_filter(pattern, FilterFor(graphics->interpolation, enlarging));
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    cairo_rectangle(cr.get(), src_x, src_y, src_width, src_height);
    cairo_fill(cr.get());
    const cairo_status_t status = cairo_status(cr.get());
    cr.reset();
    cairo_surface_flush(dst.get());
    Unpremultiply(target.argb);
    return status == CAIRO_STATUS_SUCCESS ? Ok : GenericError;
}
