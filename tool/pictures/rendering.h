// Drawing text into JPEG pictures: a whole lyrics or liner-notes text at a
// chosen size, and the artist and title of a jacket picture.
//
// Both draw black anti-aliased text on a white 32-bit canvas with the
// program's graphics settings and the generic sans-serif family (taken once
// and kept for the process), and hand the canvas to EncodeJpeg, which replaces
// the picture's bytes and sets its MIME type "image/jpeg". Text is measured
// through the outline bounds of a path at an em size in pixels; fonts are made
// in points, so a size of p pixels is drawn as p x 72 / dpi points at the
// canvas's vertical resolution. Every picture-service object made is released
// on every path; on failure the picture is left as it was.
#pragma once

#include "library/media_library.h"
#include "platform/wintypes.h"

namespace quillet {

// Jacket layout: a square canvas with a text area inset on every side.
inline constexpr INT kJacketCanvasSize = 640;
inline constexpr INT kJacketTextArea = 600;
inline constexpr INT kJacketInset = 20;

// Renders `text` (null or empty fails) at `font_size` points (below 1: 16;
// above 72: 72) on a canvas as large as the text's outline bounds plus a
// margin of that many pixels on each side. Lines break only where the text
// has line breaks. `picture` is borrowed.
bool RenderTextPicture(MediaPicture* picture, const CLSID& jpeg_encoder, LPCWSTR text, LONG font_size);

// Renders an underlined artist line above a bold title, centred in their
// shares of the 600 x 600 text area of a 640 x 640 canvas, at the largest
// title size that fits (the artist at 8/10 of it). A null or empty artist is
// "Unknown Artist", a null or empty title "Unknown Title". Fails when even the
// smallest size leaves a block wider than the area or both blocks higher.
bool RenderJacketPicture(MediaPicture* picture, const CLSID& jpeg_encoder, LPCWSTR artist, LPCWSTR title);

// The integer square root of `n`: a doubling guess refined by
// Newton steps; the start of the jacket's size search.
ULONG IntegerSquareRoot(ULONG n);

}  // namespace quillet
