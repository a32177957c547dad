// Owning handles for the picture services' objects, and the steps that the
// picture operations share: decoding a picture object's bytes, and making a
// white-cleared drawing canvas with the program's graphics settings.
//
// A picture object's bytes are copied into a fresh memory stream and decoded
// from it whole; the stream is released as soon as the bitmap exists, since
// the services keep nothing of it. A canvas is a 32-bit ARGB bitmap whose
// graphics get the program's quality settings in a fixed order (compositing
// AssumeLinear, interpolation HighQualityBicubic, smoothing AntiAlias, pixel
// offset HighQuality, text AntiAlias); a setting that fails is remembered but
// does not stop the drawing.
#pragma once

#include <memory>

#include "library/media_library.h"
#include "platform/imaging/gdiplus.h"

namespace quillet {

struct ImageDisposer {
    void operator()(GpImage* image) const {
        if (image) GdipDisposeImage(image);
    }
};
struct GraphicsDeleter {
    void operator()(GpGraphics* graphics) const {
        if (graphics) GdipDeleteGraphics(graphics);
    }
};
struct BrushDeleter {
    void operator()(GpSolidFill* brush) const {
        if (brush) GdipDeleteBrush(brush);
    }
};
struct FontDeleter {
    void operator()(GpFont* font) const {
        if (font) GdipDeleteFont(font);
    }
};
struct FormatDeleter {
    void operator()(GpStringFormat* format) const {
        if (format) GdipDeleteStringFormat(format);
    }
};
struct PathDeleter {
    void operator()(GpPath* path) const {
        if (path) GdipDeletePath(path);
    }
};
using BitmapPtr = std::unique_ptr<GpBitmap, ImageDisposer>;
using GraphicsPtr = std::unique_ptr<GpGraphics, GraphicsDeleter>;
using BrushPtr = std::unique_ptr<GpSolidFill, BrushDeleter>;
using FontPtr = std::unique_ptr<GpFont, FontDeleter>;
using FormatPtr = std::unique_ptr<GpStringFormat, FormatDeleter>;
using PathPtr = std::unique_ptr<GpPath, PathDeleter>;

// Decodes the bytes of `picture` (borrowed, not null). Empty when the bytes
// cannot be had, are empty, cannot be copied into a memory stream, or do not
// decode. The library's copy of the bytes is freed before returning.
BitmapPtr DecodePictureData(MediaPicture* picture);

// Applies the program's five graphics settings to `graphics` (not null), each
// tried even when an earlier one failed. True when all five succeeded.
bool ApplyGraphicsSettings(GpGraphics* graphics);

// A canvas of `width` x `height` pixels in PixelFormat32bppARGB together with
// its graphics, the settings applied. Both empty when the bitmap or its
// graphics cannot be made; `settings_applied` (may be null) tells whether
// every setting took.
struct Canvas {
    BitmapPtr bitmap;
    GraphicsPtr graphics;
    bool settings_applied = false;
    explicit operator bool() const { return bitmap && graphics; }
};
Canvas MakeCanvas(INT width, INT height);

}  // namespace quillet
