// Saving picture objects as files, and wrapping a text into a picture object.
//
// A picture is saved under the name it is given plus the extension of its
// MIME type, so a caller names a file without knowing what the picture holds.
// An existing file is replaced only when force-writing; its read-only and
// hidden attributes are cleared for the save and given back afterwards, so a
// protected file stays protected. A text object is a picture object whose
// MIME type is "text/plain" and whose bytes are the text in the thread's ANSI
// code page: the form in which lyrics and liner notes texts travel in a
// picture attribute.
#pragma once

#include <string>

#include "library/media_library.h"
#include "platform/com/unknown.h"

namespace quillet {

// Saves `picture` (borrowed; null fails) to `path` (without extension) + the
// extension of its MIME type (".jpg", ".bmp", ".gif", ".png", ".tif"; none
// for any other type). `extension` (may be null) is cleared first and then
// receives the extension used. Without `force_write` an existing file of that
// name fails and is left alone. The file's folder is created with its parents.
// True when the library saved the file.
bool SavePicture(std::u16string* extension, LPCWSTR path, MediaPicture* picture, bool force_write);

// A new picture object holding `text` (null or empty: none) in the thread's
// ANSI code page, without a terminating NUL, with the MIME type "text/plain".
// Empty when the text converts to no bytes or the object cannot be made or
// filled. The caller owns the object.
ComPtr<MediaPicture> MakeTextObject(LPCWSTR text);

}  // namespace quillet
