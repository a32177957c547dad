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
using BitmapPtr = std::unique_ptr<GpBitmap, ImageDisposer>;
using GraphicsPtr = std::unique_ptr<GpGraphics, GraphicsDeleter>;

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
