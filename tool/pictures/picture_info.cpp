// The picture facts of the attribute listing (declared with the listing).
#include "tool/pictures/picture_info.h"

#include "library/attribute_read.h"
#include "tool/pictures/gdiplus_objects.h"
#include "tool/pictures/image_formats.h"

namespace quillet {

bool ReadPictureInfo(MediaItem* item, ULONG id, ULONG second_id, std::u16string* extension, UINT* width,
                     UINT* height) {
    if (extension) extension->clear();
    if (width) *width = 0;
    if (height) *height = 0;
    if (!item) return false;

    platform::VariantArray values;
    if (!library::ReadAttribute(item, id, second_id, values)) return false;
    const VARIANT& first = *values.First();
    if ((first.vt != VT_UNKNOWN && first.vt != VT_DISPATCH) || !first.punkVal) return false;
    ComPtr<MediaPicture> picture;
    if (FAILED(first.punkVal->QueryInterface(IID_MediaPicture, picture.ReleaseAndGetVoidAddress())) ||
        !picture)
        return false;

    BitmapPtr image = DecodePictureData(picture.Get());
    if (!image) return false;
    UINT w = 0;
    UINT h = 0;
    GdipGetImageWidth(image.get(), &w);
    GdipGetImageHeight(image.get(), &h);
    if (w == 0 || h == 0) return false;

    // A format that cannot be told still lists the size, without extension.
    GUID raw_format{};
    if (GdipGetImageRawFormat(image.get(), &raw_format) == Gdiplus::Ok) {
        const PictureFormat* format = FindPictureFormat(raw_format);
        if (!format) return false;
        if (extension) *extension = format->extension;
    }
    if (width) *width = w;
    if (height) *height = h;
    return true;
}

}  // namespace quillet
