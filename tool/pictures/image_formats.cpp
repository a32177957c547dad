#include "tool/pictures/image_formats.h"

#include "platform/imaging/gdiplus.h"
#include "platform/text/text.h"

namespace quillet {
namespace {

// Both BMP ids and both JPEG ids share a type: the services tell a bitmap
// made in memory from one read from a file, and a camera's EXIF JPEG from a
// plain one, but a file of either is the same kind of file.
constexpr PictureFormat kPictureFormats[] = {
    {ImageFormatMemoryBMP, u"image/bmp", u".bmp"}, {ImageFormatBMP, u"image/bmp", u".bmp"},
    {ImageFormatJPEG, u"image/jpeg", u".jpg"},     {ImageFormatEXIF, u"image/jpeg", u".jpg"},
    {ImageFormatPNG, u"image/png", u".png"},       {ImageFormatGIF, u"image/gif", u".gif"},
    {ImageFormatTIFF, u"image/tiff", u".tif"},
};

struct MimeExtension {
    LPCWSTR mime_type;
    LPCWSTR extension;
};

constexpr MimeExtension kSaveExtensions[] = {
    {u"image/jpeg", u".jpg"}, {u"image/bmp", u".bmp"},  {u"image/gif", u".gif"},
    {u"image/png", u".png"},  {u"image/tiff", u".tif"},
};

}  // namespace

const PictureFormat* FindPictureFormat(const GUID& raw_format) {
    for (const PictureFormat& format : kPictureFormats) {
        if (format.raw_format == raw_format) return &format;
    }
    return nullptr;
}

LPCWSTR ExtensionForMimeType(LPCWSTR mime_type) {
    if (!mime_type || !*mime_type) return u"";
    for (const MimeExtension& entry : kSaveExtensions) {
        if (lstrcmpiW(mime_type, entry.mime_type) == 0) return entry.extension;
    }
    return u"";
}

}  // namespace quillet
