// Telling picture files apart, and recoding picture objects: detecting their
// format, keeping them within size bounds and turning them into JPEG.
//
// Recoding decodes a picture object's bytes whole, labels the object with the
// MIME type of the detected format, and then either leaves the bytes alone
// (within the bounds and no JPEG asked for), encodes the decoded image as JPEG
// (within the bounds and JPEG asked for), or draws the image scaled onto a
// white canvas and stores that as JPEG (out of bounds). Bounds are 32-bit
// numbers compared without sign, 0 meaning no bound, so a negative bound acts
// as a very large one. Scaling keeps the aspect ratio and a maximum bound wins
// over a minimum bound. The picture services must be started before any of
// these is called. The JPEG encoder's class id is passed in (the program finds
// it at start-up); with an all-zero id every JPEG encoding fails.
#pragma once

#include "library/media_library.h"
#include "platform/imaging/gdiplus.h"

namespace quillet {

// True when `path` (may be null) names an existing file, not a folder, that
// the picture services read as one of the seven accepted formats with a width
// and a height that are not 0. Icons and other formats are not pictures here.
bool IsPictureFile(LPCWSTR path);

// Recodes `picture` (borrowed; null fails) in place as the header describes.
// Out of bounds the picture becomes a JPEG of the new size whatever `jpeg`
// says. False when the bytes cannot be had or decoded, the format is not an
// accepted one, the new size comes out as 0, or drawing or encoding fails; on
// failure the MIME type may already have been set from the detected format,
// and the bytes are unchanged.
bool RecodePicture(MediaPicture* picture, const CLSID& jpeg_encoder, bool jpeg, LONG max_width,
                   LONG max_height, LONG min_width, LONG min_height);

// Replaces the bytes of `picture` (borrowed) by `image` (borrowed) encoded as
// JPEG at the encoder's default quality and sets its MIME type "image/jpeg".
// False (the picture unchanged) when encoding fails, nothing was encoded, or
// the picture refuses the bytes.
bool EncodeJpeg(GpImage* image, const CLSID& jpeg_encoder, MediaPicture* picture);

// The size that RecodePicture scales a w x h picture to, for bounds already
// swapped into order; false when (w, h) is within the bounds (then `new_width`
// and `new_height` are w and h). Products are formed in 64 bits so that a
// bound near 2^32 cannot wrap; a result beyond 32 bits is given as 0.
bool ScaledSize(UINT w, UINT h, UINT max_width, UINT max_height, UINT min_width, UINT min_height,
                UINT* new_width, UINT* new_height);

}  // namespace quillet
