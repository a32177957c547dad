#include "picture_fakes.h"

#include <cstring>
#include <fstream>

#include "platform/text/text.h"
#include "tool/pictures/gdiplus_objects.h"

namespace picturetest {

RecordingPicture::RecordingPicture(std::shared_ptr<PictureLog> log, Bytes data, std::u16string mime)
    : log_(std::move(log)), data_(std::move(data)), mime_(std::move(mime)) {
    ++log_->live;
    ++log_->created;
}

RecordingPicture::~RecordingPicture() { --log_->live; }

HRESULT RecordingPicture::GetProperty(ULONG id, VARIANT* value) {
    if (FAILED(get_property_result)) return get_property_result;
    if (id != kPictureMimeProperty) return E_INVALIDARG;
    VariantClear(value);
    value->vt = VT_BSTR;
    value->bstrVal = platform::AllocBstr(mime_);
    return S_OK;
}

HRESULT RecordingPicture::SetProperty(ULONG id, const VARIANT* value) {
    if (id != kPictureMimeProperty || value->vt != VT_BSTR) return E_INVALIDARG;
    const std::u16string mime(platform::BstrView(value->bstrVal));
    log_->mime_sets.push_back(mime);
    if (FAILED(set_property_result)) return set_property_result;
    mime_ = mime;
    return S_OK;
}

HRESULT RecordingPicture::GetData(ULONG* size, BYTE** data) {
    *size = 0;
    *data = nullptr;
    if (FAILED(get_data_result)) return get_data_result;
    auto* copy = static_cast<BYTE*>(CoTaskMemAlloc(data_.size()));
    if (!copy) return E_OUTOFMEMORY;
    if (!data_.empty()) std::memcpy(copy, data_.data(), data_.size());
    *size = static_cast<ULONG>(data_.size());
    *data = copy;
    return S_OK;
}

HRESULT RecordingPicture::SetData(ULONG size, const BYTE* data) {
    log_->data_sets.emplace_back(data, data + size);
    if (FAILED(set_data_result)) return set_data_result;
    data_.assign(data, data + size);
    return S_OK;
}

HRESULT RecordingPicture::Save(LPCWSTR path) {
    log_->saves.push_back(path);
    if (FAILED(save_result)) return save_result;
    std::ofstream out(platform::Utf16ToUtf8(path), std::ios::binary | std::ios::trunc);
    if (!out) return STG_E_WRITEFAULT;
    out.write(reinterpret_cast<const char*>(data_.data()), static_cast<std::streamsize>(data_.size()));
    return out ? S_OK : STG_E_WRITEFAULT;
}

ComPtr<RecordingPicture> NewRecordingPicture(const std::shared_ptr<PictureLog>& log, Bytes data,
                                             std::u16string mime) {
    return ComPtr<RecordingPicture>::Adopt(new RecordingPicture(log, std::move(data), std::move(mime)));
}

FakePictureClass::FakePictureClass()
    : registration_(CLSID_MediaPicture, [this](REFIID riid, void** object) -> HRESULT {
          *object = nullptr;
          if (FAILED(create_result)) return create_result;
          ComPtr<RecordingPicture> picture = NewRecordingPicture(log, {});
          picture->set_data_result = set_data_result;
          picture->set_property_result = set_property_result;
          return picture->QueryInterface(riid, object);
      }) {}

ComPtr<MediaPicture> NewLibraryPicture(const Bytes& data, std::u16string_view mime) {
    ComPtr<MediaPicture> picture;
    if (FAILED(CoCreateInstance(CLSID_MediaPicture, nullptr, CLSCTX_INPROC_SERVER, IID_MediaPicture,
                                picture.ReleaseAndGetVoidAddress())))
        return {};
    if (FAILED(picture->SetData(static_cast<ULONG>(data.size()), data.data()))) return {};
    platform::Variant value = platform::Variant::FromString(mime);
    if (FAILED(picture->SetProperty(kPictureMimeProperty, value.Get()))) return {};
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
    if (FAILED(picture->GetProperty(kPictureMimeProperty, value.Get())) || value->vt != VT_BSTR)
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
