// The picture formats that the console program accepts, and the MIME types
// and file extensions that go with them.
//
// The picture services name each decoded picture's format by a raw-format id.
// Seven of those ids are accepted; each maps to the MIME type that is set on a
// picture of that format and to the extension under which such a picture is
// saved. Saving works from the MIME type alone (the picture may never have
// been decoded), so a second lookup goes from MIME type to extension. Every
// other format (icons, metafiles, unknown ids) is not a picture here.
#pragma once

#include "platform/com/guid.h"
#include "platform/wintypes.h"

namespace quillet {

struct PictureFormat {
    GUID raw_format;
    LPCWSTR mime_type;  // set on the picture ("image/jpeg", ...)
    LPCWSTR extension;  // used when saving (".jpg", ...), at most four characters
};

// The entry of `raw_format`, or null when it is not one of the seven accepted
// formats. The entry is static.
const PictureFormat* FindPictureFormat(const GUID& raw_format);

// The extension ("" when none) under which a picture of `mime_type` (compared
// without regard to case; null counts as empty) is saved: "image/jpeg" ".jpg",
// "image/bmp" ".bmp", "image/gif" ".gif", "image/png" ".png", "image/tiff"
// ".tif". Any other type, "text/plain" included, has no extension. The result
// is static.
LPCWSTR ExtensionForMimeType(LPCWSTR mime_type);

}  // namespace quillet
