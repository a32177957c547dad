#include "tool/pictures/recoding.h"

#include <climits>
#include <cstdint>
#include <utility>
#include <vector>

#include "library/media_ids.h"
#include "tool/common/numbers_paths.h"
#include "tool/pictures/gdiplus_objects.h"
#include "tool/pictures/image_formats.h"
#include "tool/pictures/picture_services.h"

namespace quillet {
namespace {

// Sets the picture's MIME type; the caller decides whether the result counts.
HRESULT SetMimeType(MediaPicture* picture, LPCWSTR mime_type) {
    platform::Variant value = platform::Variant::FromString(mime_type);
    return picture->SetProperty(medialib::attr::PictureMime, value.Get());
}

// Division of a 64-bit product, kept only when it fits 32 bits (0 otherwise,
// which the caller treats as a size that cannot be made).
UINT Scale(uint64_t a, uint64_t b, uint64_t divisor) {
    const uint64_t result = a * b / divisor;
    return result > UINT32_MAX ? 0 : static_cast<UINT>(result);
}

}  // namespace

bool IsPictureFile(LPCWSTR path) {
    if (!path || !*path || !IsExistingFile(path)) return false;

    UsePictureServices();
    GpBitmap* raw = nullptr;
    const Gdiplus::Status status = GdipCreateBitmapFromFile(path, &raw);
    BitmapPtr bitmap(raw);
    if (status != Gdiplus::Ok || !bitmap) return false;
    GUID format{};
    if (GdipGetImageRawFormat(bitmap.get(), &format) != Gdiplus::Ok || !FindPictureFormat(format))
        return false;
    UINT width = 0;
    UINT height = 0;
    GdipGetImageWidth(bitmap.get(), &width);
    GdipGetImageHeight(bitmap.get(), &height);
    return width != 0 && height != 0;
}

bool ScaledSize(UINT w, UINT h, UINT max_width, UINT max_height, UINT min_width, UINT min_height,
                UINT* new_width, UINT* new_height) {
    *new_width = w;
    *new_height = h;
    if (w == 0 || h == 0) return false;
    const bool too_wide = max_width != 0 && w > max_width;
    const bool too_high = max_height != 0 && h > max_height;
    const bool too_narrow = min_width != 0 && w < min_width;
    const bool too_low = min_height != 0 && h < min_height;
    if (!too_wide && !too_high && !too_narrow && !too_low) return false;

    // The products below are the ones a 32-bit computation would wrap for
    // bounds beyond about 140000 pixels (a negative bound given on the
    // command line), giving a size of 0 or a wrong one; in 64 bits they
    // cannot, and only a result that does not fit 32 bits is refused.
    uint64_t nw = w;
    uint64_t nh = h;
    if (too_wide || too_high) {
        if (max_width != 0) {
            nw = max_width;
            nh = h * uint64_t{max_width} / w;
        }
        if (max_height != 0 && nh > max_height) {
            nw = Scale(w, max_height, h);
            nh = max_height;
        }
    } else {
        if (min_width != 0) {
            nw = min_width;
            nh = h * uint64_t{min_width} / w;
        }
        if (min_height != 0 && nh < min_height) {
            nw = Scale(w, min_height, h);
            nh = min_height;
        }
    }
    *new_width = nw > UINT32_MAX ? 0 : static_cast<UINT>(nw);
    *new_height = nh > UINT32_MAX ? 0 : static_cast<UINT>(nh);
    return true;
}

bool EncodeJpeg(GpImage* image, const CLSID& jpeg_encoder, MediaPicture* picture) {
    if (!image || !picture) return false;
    UsePictureServices();
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.ReleaseAndGetAddressOf())) || !stream)
        return false;
    if (GdipSaveImageToStream(image, stream.Get(), &jpeg_encoder, nullptr) != Gdiplus::Ok) return false;

    STATSTG stat{};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || stat.cbSize.QuadPart > UINT32_MAX) return false;
    const ULONG size = static_cast<ULONG>(stat.cbSize.QuadPart);
    std::vector<BYTE> buffer(size);
    LARGE_INTEGER start{};
    start.QuadPart = 0;
    if (FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr))) return false;
    ULONG read = 0;
    if (size != 0) stream->Read(buffer.data(), size, &read);
    if (read == 0) return false;
    if (FAILED(picture->SetData(read, buffer.data()))) return false;
    SetMimeType(picture, u"image/jpeg");  // the bytes are what counts; the label follows them
    return true;
}

bool RecodePicture(MediaPicture* picture, const CLSID& jpeg_encoder, bool jpeg, LONG max_width,
                   LONG max_height, LONG min_width, LONG min_height) {
    if (!picture) return false;
    UINT max_w = static_cast<UINT>(max_width);
    UINT max_h = static_cast<UINT>(max_height);
    UINT min_w = static_cast<UINT>(min_width);
    UINT min_h = static_cast<UINT>(min_height);
    // A maximum below its minimum is taken as the two given the wrong way round.
    if (max_w != 0 && min_w != 0 && max_w < min_w) std::swap(max_w, min_w);
    if (max_h != 0 && min_h != 0 && max_h < min_h) std::swap(max_h, min_h);

    BitmapPtr image = DecodePictureData(picture);
    if (!image) return false;

    // A format that cannot be told leaves the type as the picture had it.
    GUID raw_format{};
    if (GdipGetImageRawFormat(image.get(), &raw_format) == Gdiplus::Ok) {
        const PictureFormat* format = FindPictureFormat(raw_format);
        if (!format) return false;
        SetMimeType(picture, format->mime_type);
    }

    UINT w = 0;
    UINT h = 0;
    GdipGetImageWidth(image.get(), &w);
    GdipGetImageHeight(image.get(), &h);
    if (w == 0 || h == 0) return false;

    UINT nw = 0;
    UINT nh = 0;
    if (!ScaledSize(w, h, max_w, max_h, min_w, min_h, &nw, &nh)) {
        return jpeg ? EncodeJpeg(image.get(), jpeg_encoder, picture) : true;
    }
    if (nw == 0 || nh == 0 || nw > INT_MAX || nh > INT_MAX) return false;

    Canvas canvas = MakeCanvas(static_cast<INT>(nw), static_cast<INT>(nh));
    if (!canvas) return false;
    if (GdipGraphicsClear(canvas.graphics.get(), 0xFFFFFFFF) != Gdiplus::Ok) return false;
    if (GdipDrawImageRectRectI(canvas.graphics.get(), image.get(), 0, 0, static_cast<INT>(nw),
                               static_cast<INT>(nh), 0, 0, static_cast<INT>(w), static_cast<INT>(h),
                               Gdiplus::UnitPixel, nullptr, nullptr, nullptr) != Gdiplus::Ok) {
        return false;
    }
    // A scaled picture is always stored as JPEG.
    return EncodeJpeg(canvas.bitmap.get(), jpeg_encoder, picture);
}

}  // namespace quillet
