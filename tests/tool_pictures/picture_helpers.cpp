#include "picture_helpers.h"

#include <cstring>
#include <fstream>

#include "platform/text/text.h"
#include "tool/pictures/gdiplus_objects.h"

namespace picturetest {

ComPtr<MediaPicture> NewLibraryPicture(const Bytes& data, std::u16string_view mime) {
    ComPtr<MediaPicture> picture;
    if (FAILED(CoCreateInstance(CLSID_MediaPicture, nullptr, CLSCTX_INPROC_SERVER, IID_MediaPicture,
                                picture.ReleaseAndGetVoidAddress())))
        return {};
    if (FAILED(picture->SetData(static_cast<ULONG>(data.size()), data.data()))) return {};
    platform::Variant value = platform::Variant::FromString(mime);
    if (FAILED(picture->SetProperty(medialib::attr::PictureMime, value.Get()))) return {};
    return picture;
}

Bytes DataOf(MediaPicture* picture) {
    ULONG size = 0;
    BYTE* data = nullptr;
    if (FAILED(picture->GetData(&size, &data))) return {};
    Bytes out(data, data + size);
    CoTaskMemFree(data);
    return out;
}

std::u16string MimeOf(MediaPicture* picture) {
    platform::Variant value;
    if (FAILED(picture->GetProperty(medialib::attr::PictureMime, value.Get())) || value->vt != VT_BSTR)
        return u"<none>";
    return std::u16string(platform::BstrView(value->bstrVal));
}

DecodedPicture Decode(const Bytes& bytes, bool with_pixels) {
    DecodedPicture out;
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.ReleaseAndGetAddressOf()))) return out;
    if (!bytes.empty()) stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
    GpBitmap* raw = nullptr;
    if (GdipCreateBitmapFromStream(stream.Get(), &raw) != Gdiplus::Ok) return out;
    quillet::BitmapPtr bitmap(raw);
    GdipGetImageRawFormat(raw, &out.format);
    GdipGetImageWidth(raw, &out.width);
    GdipGetImageHeight(raw, &out.height);
    if (with_pixels) out.argb.resize(static_cast<size_t>(out.width) * out.height);
    for (UINT y = 0; with_pixels && y < out.height; ++y) {
        for (UINT x = 0; x < out.width; ++x) {
            Gdiplus::ARGB color = 0;
            GdipBitmapGetPixel(raw, static_cast<INT>(x), static_cast<INT>(y), &color);
            out.argb[static_cast<size_t>(y) * out.width + x] = color;
        }
    }
    out.ok = true;
    return out;
}

}  // namespace picturetest
