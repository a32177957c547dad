// Attribute values to VARIANTs and back. Every attribute id holds one kind of
// value; a VARIANT handed in for an id is converted to that kind, so a caller
// that copies an attribute as text still stores a number where the format
// keeps a number.
#include "library/media_ids.h"
#include "medialib/com/content.h"

namespace medialib {
namespace {

enum class Kind { Natural, Text, Number, Date, Picture };

Kind KindOf(uint32_t id) {
    switch (id) {
        case attr::Title:
        case attr::SortTitle:
        case attr::Subtitle:
        case attr::SortSubtitle:
        case attr::Artist:
        case attr::SortArtist:
        case attr::ArtistURL:
        case attr::Album:
        case attr::AlbumAlt:
        case attr::SortAlbum:
        case attr::AlbumArtist:
        case attr::SortAlbumArtist:
        case attr::Genre:
        case attr::Composer:
        case attr::Lyricist:
        case attr::ReleaseYear:
        case attr::LyricsText:
        case attr::LinerNotesText:
        case attr::Location:
        case attr::Extension:
            return Kind::Text;
        case attr::TrackNumber:
        case attr::TrackNumberAlt:
        case attr::TotalTracks:
        case attr::Duration:
        case attr::MilliSecond:
        case attr::Format:
        case attr::Codec:
        case attr::BitRate:
        case attr::BitRateAlt:
        case attr::Size:
        case attr::Frequency:
        case attr::BitDepth:
        case attr::BitDepthAlt:
        case attr::Channel:
            return Kind::Number;
        case attr::Release:
        case attr::Import:
            return Kind::Date;
        case attr::Jacket:
        case attr::JacketAlt:
        case attr::LyricsPicture:
        case attr::LinerNotesPicture:
            return Kind::Picture;
        default:
            return Kind::Natural;
    }
}

bool PictureFromVariant(const VARIANT& in, Value* out) {
    if ((in.vt != VT_UNKNOWN && in.vt != VT_DISPATCH) || !in.punkVal) return false;
    ComPtr<MediaPicture> picture;
    if (FAILED(in.punkVal->QueryInterface(IID_MediaPicture, picture.ReleaseAndGetVoidAddress())) || !picture)
        return false;
    auto data = std::make_shared<PictureData>();
    platform::Variant mime;
    if (SUCCEEDED(picture->GetProperty(attr::PictureMime, mime.Get())) && mime->vt == VT_BSTR) {
        std::u16string_view m = platform::BstrView(mime->bstrVal);
        data->mime.assign(m.begin(), m.end());  // MIME types are ASCII
    }
    ULONG size = 0;
    BYTE* bytes = nullptr;
    if (FAILED(picture->GetData(&size, &bytes))) return false;
    if (bytes) data->bytes.assign(bytes, bytes + size);
    CoTaskMemFree(bytes);
    *out = std::move(data);
    return true;
}

}  // namespace

HRESULT ValueToVariant(const Value& value, VARIANT* out) {
    VariantInit(out);
    if (const auto* text = std::get_if<std::u16string>(&value)) {
        out->bstrVal = platform::AllocBstr(*text);
        if (!out->bstrVal) return E_OUTOFMEMORY;
        out->vt = VT_BSTR;
    } else if (const auto* number = std::get_if<int32_t>(&value)) {
        out->vt = VT_I4;
        out->lVal = *number;
    } else if (const auto* date = std::get_if<DateValue>(&value)) {
        out->vt = VT_DATE;
        out->date = date->days;
    } else if (const auto* picture = std::get_if<std::shared_ptr<PictureData>>(&value)) {
        // The caller gets a picture object of its own; changing it does not
        // change the item until it is set back.
        auto copy = std::make_shared<PictureData>(*picture ? **picture : PictureData{});
        out->vt = VT_UNKNOWN;
        out->punkVal = NewPictureObject(std::move(copy));
    }
    return S_OK;
}

bool VariantToValue(uint32_t id, const VARIANT& in, Value* out) {
    Kind kind = KindOf(id);
    if (kind == Kind::Natural) {
        switch (in.vt) {
            case VT_BSTR:
                kind = Kind::Text;
                break;
            case VT_I2:
            case VT_I4:
            case VT_UI4:
            case VT_BOOL:
                kind = Kind::Number;
                break;
            case VT_DATE:
                kind = Kind::Date;
                break;
            case VT_UNKNOWN:
            case VT_DISPATCH:
                kind = Kind::Picture;
                break;
            default:
                return false;
        }
    }
    if (kind == Kind::Picture) return PictureFromVariant(in, out);
    const VARTYPE target = kind == Kind::Text ? VT_BSTR : kind == Kind::Number ? VT_I4 : VT_DATE;
    platform::Variant converted;
    if (FAILED(VariantChangeType(converted.Get(), &in, 0, target)) || converted->vt != target) return false;
    switch (kind) {
        case Kind::Text:
            *out = std::u16string(platform::BstrView(converted->bstrVal));
            break;
        case Kind::Number:
            *out = static_cast<int32_t>(converted->lVal);
            break;
        default:
            *out = DateValue{converted->date};
            break;
    }
    return true;
}

}  // namespace medialib
