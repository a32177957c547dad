// Opening a file as a MediaItem through the media library.
//
// The library first opens the file as content to learn its format id, names
// the item class for that format, and the item is then created from that
// class and loaded in write mode. A file counts as opened only when the item
// loaded and holds at least one attribute.
#pragma once

#include "library/media_library.h"
#include "platform/com/unknown.h"

namespace quillet {

// Opens `path` (null or empty: none) with the library root `root` (borrowed).
// Returns the loaded item, owned by the caller, or empty on any failure;
// everything made on the way is released again.
ComPtr<MediaItem> OpenMediaItem(MediaLibrary* root, LPCWSTR path);

}  // namespace quillet
