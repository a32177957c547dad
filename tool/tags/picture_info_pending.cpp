// Built only while the picture layer (tool/pictures) has no sources: the
// listing then shows the picture rows as absent, which is also what it shows
// for a picture that cannot be decoded.
#include "tool/tags/picture_info.h"

namespace quillet {

bool ReadPictureInfo(MediaItem*, ULONG, ULONG, std::u16string* extension, UINT* width, UINT* height) {
    if (extension) extension->clear();
    if (width) *width = 0;
    if (height) *height = 0;
    return false;
}

}  // namespace quillet
