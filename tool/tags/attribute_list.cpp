#include "tool/tags/attribute_list.h"

#include <string>

#include "library/attribute_read.h"
#include "library/media_ids.h"
#include "platform/com/variant.h"
#include "platform/text/text.h"
#include "tool/pictures/picture_info.h"

namespace attr = medialib::attr;

namespace quillet {
namespace {

enum class Row {
    Text,         // VT_BSTR to its id
    Number,       // VT_I4 to its id
    Date,         // VT_DATE to its id
    Album,        // text to Album and AlbumAlt
    TrackNumber,  // number to TrackNumber and TrackNumberAlt; "n/m" also sets TotalTracks
    Release,      // year text to ReleaseYear, date to Release
    ReadOnly,     // technical values: never written
    NotesLength,  // the length of the lyrics or liner notes text
    Picture,      // extension/width/height of a picture
};

struct AttributeRow {
    const char16_t* name;
    ULONG id;
    ULONG fallback;  // 0: none
    Row kind;
};

// Rows 1 to 20 are the writable ones.
constexpr int kWritableRows = 20;
constexpr AttributeRow kRows[] = {
    {u"Title", attr::Title, 0, Row::Text},
    {u"SortTitle", attr::SortTitle, 0, Row::Text},
    {u"Subtitle", attr::Subtitle, 0, Row::Text},
    {u"SortSubtitle", attr::SortSubtitle, 0, Row::Text},
    {u"Artist", attr::Artist, 0, Row::Text},
    {u"SortArtist", attr::SortArtist, 0, Row::Text},
    {u"ArtistURL", attr::ArtistURL, 0, Row::Text},
    {u"Album", attr::Album, attr::AlbumAlt, Row::Album},
    {u"SortAlbum", attr::SortAlbum, 0, Row::Text},
    {u"AlbumArtist", attr::AlbumArtist, 0, Row::Text},
    {u"SortAlbumArtist", attr::SortAlbumArtist, 0, Row::Text},
    {u"Genre", attr::Genre, 0, Row::Text},
    {u"Composer", attr::Composer, 0, Row::Text},
    {u"Lyricist", attr::Lyricist, 0, Row::Text},
    {u"TrackNumber", attr::TrackNumber, attr::TrackNumberAlt, Row::TrackNumber},
    {u"TotalTracks", attr::TotalTracks, 0, Row::Number},
    {u"Release", attr::Release, attr::ReleaseYear, Row::Release},
    {u"Import", attr::Import, 0, Row::Date},
    {u"Duration", attr::Duration, 0, Row::Number},
    {u"MilliSecond", attr::MilliSecond, 0, Row::Number},
    {u"Size", attr::Size, 0, Row::ReadOnly},
    {u"Format", attr::Format, 0, Row::ReadOnly},
    {u"Codec", attr::Codec, 0, Row::ReadOnly},
    {u"BitRate", attr::BitRate, attr::BitRateAlt, Row::ReadOnly},
    {u"Frequency", attr::Frequency, 0, Row::ReadOnly},
    {u"BitDepth", attr::BitDepth, attr::BitDepthAlt, Row::ReadOnly},
    {u"Channel", attr::Channel, 0, Row::ReadOnly},
    {u"Location", attr::Location, 0, Row::ReadOnly},
    {u"Extension", attr::Extension, 0, Row::ReadOnly},
    {u"LyricsText", attr::LyricsText, 0, Row::NotesLength},
    {u"LyricsPicture", attr::LyricsPicture, 0, Row::Picture},
    {u"LinerNotesText", attr::LinerNotesText, 0, Row::NotesLength},
    {u"LinerNotesPicture", attr::LinerNotesPicture, 0, Row::Picture},
    {u"Jacket", attr::Jacket, attr::JacketAlt, Row::Picture},
};
static_assert(sizeof(kRows) / sizeof(kRows[0]) == 34);

// The first value of the attribute (or its fallback) as text; empty when
// there is none or it does not convert to a string.
std::u16string ReadAttributeText(MediaItem* item, ULONG id, ULONG fallback) {
    platform::VariantArray values;
    if (!library::ReadAttribute(item, id, fallback, values)) return {};
    return library::FirstAsText(values).value_or(u"");
}

std::u16string ReadNotesLength(MediaItem* item, ULONG id) {
    platform::VariantArray values;
    if (!library::ReadAttribute(item, id, 0, values) || values.First()->vt != VT_BSTR) return {};
    WCHAR text[32];
    wsprintfW(text, u"%d", static_cast<int>(SysStringLen(values.First()->bstrVal)));
    return text;
}

std::u16string ReadPictureText(MediaItem* item, ULONG id, ULONG fallback) {
    std::u16string extension;
    UINT width = 0;
    UINT height = 0;
    if (!ReadPictureInfo(item, id, fallback, &extension, &width, &height)) return {};
    WCHAR text[kWsprintfLimit];
    wsprintfW(text, u"%s/%u/%u", extension.c_str(), width, height);
    return text;
}

// Writes `value` (null: absent) to the attribute: reads the current values of
// `read_id` (or `read_fallback`), and either removes the attribute from every
// id of `write_ids` (absent value, at most one current value, removal
// allowed) or replaces the first value by the value converted to `type` and
// writes the whole array to every id. True when something counted as a change.
bool WriteOneAttribute(MediaItem* item, ULONG read_id, ULONG read_fallback,
                       std::initializer_list<ULONG> write_ids, LPCWSTR value, VARTYPE type,
                       bool removal_allowed) {
    platform::VariantArray current;
    library::ReadAttribute(item, read_id, read_fallback, current);

    if (!value && removal_allowed && current.Count() <= 1) {
        for (ULONG id : write_ids) item->SetAttribute(id, 0, nullptr);
        return true;  // a removal counts whatever the library answers
    }

    // Without current values a single local value stands in for the array.
    VARIANT local;
    VariantInit(&local);
    VARIANT* array = current.HasValues() ? current.Array() : &local;
    const LONG count = current.HasValues() ? current.Count() : 1;

    VariantClear(&array[0]);
    array[0].vt = VT_BSTR;
    array[0].bstrVal = SysAllocString(value ? value : u"");
    bool changed = false;
    // A negative number is refused like any other text that is no number:
    // no attribute (track, total, duration) can hold one, and storing it
    // would turn it into 0 or nothing.
    if (SUCCEEDED(VariantChangeType(&array[0], &array[0], 0, type)) && array[0].vt == type &&
        !(type == VT_I4 && array[0].lVal < 0)) {
        for (ULONG id : write_ids) {
            if (SUCCEEDED(item->SetAttribute(id, count, array))) changed = true;
        }
    }
    VariantClear(&local);
    return changed;
}

bool WriteTrackNumber(MediaItem* item, LPCWSTR value) {
    if (!value) {
        return WriteOneAttribute(item, attr::TrackNumber, attr::TrackNumberAlt,
                                 {attr::TrackNumber, attr::TrackNumberAlt}, nullptr, VT_I4, true);
    }
    std::u16string track(value);
    bool changed = false;
    const size_t slash = track.find(u'/');
    if (slash != std::u16string::npos) {
        const std::u16string total = track.substr(slash + 1);
        changed |=
            WriteOneAttribute(item, attr::TotalTracks, 0, {attr::TotalTracks}, total.c_str(), VT_I4, false);
        track.resize(slash);
    }
    changed |= WriteOneAttribute(item, attr::TrackNumber, attr::TrackNumberAlt,
                                 {attr::TrackNumber, attr::TrackNumberAlt}, track.c_str(), VT_I4, false);
    return changed;
}

bool WriteRelease(MediaItem* item, LPCWSTR value) {
    bool changed = false;
    if (value && lstrlenW(value) > 4) {
        const std::u16string year(value, 4);
        changed |=
            WriteOneAttribute(item, attr::ReleaseYear, 0, {attr::ReleaseYear}, year.c_str(), VT_BSTR, false);
    } else {
        changed |= WriteOneAttribute(item, attr::ReleaseYear, 0, {attr::ReleaseYear}, value, VT_BSTR, true);
    }
    // A value that is no date (a year alone, from an info file) removes the
    // stored date: kept beside the new year text, the old date would still
    // be what the listing shows. The plug-in's writer does the same.
    platform::Variant date;
    if (value && *value) {
        date->vt = VT_BSTR;
        date->bstrVal = SysAllocString(value);
    }
    if (value && *value && FAILED(VariantChangeType(date.Get(), date.Get(), 0, VT_DATE))) {
        item->SetAttribute(attr::Release, 0, nullptr);
        return true;  // a removal counts as a change
    }
    changed |= WriteOneAttribute(item, attr::Release, 0, {attr::Release}, value, VT_DATE, true);
    return changed;
}

const AttributeRow* FindWritableRow(LPCWSTR name) {
    if (!name) return nullptr;
    for (int i = 0; i < kWritableRows; ++i) {
        if (lstrcmpiW(name, kRows[i].name) == 0) return &kRows[i];
    }
    return nullptr;
}

}  // namespace

void ReadAttributeList(MediaItem* item, NameValueList& list) {
    for (const AttributeRow& row : kRows) {
        std::u16string value;
        switch (row.kind) {
            case Row::NotesLength:
                value = ReadNotesLength(item, row.id);
                break;
            case Row::Picture:
                value = ReadPictureText(item, row.id, row.fallback);
                break;
            default:
                value = ReadAttributeText(item, row.id, row.fallback);
                break;
        }
        list.Append(std::u16string_view(row.name), value);
    }
}

bool WriteAttributeList(MediaItem* item, const NameValueList& list) {
    bool changed = false;
    for (const NameValueList::Entry& entry : list) {
        const AttributeRow* row = FindWritableRow(entry.Name());
        if (!row) continue;
        const LPCWSTR value = entry.Value();
        switch (row->kind) {
            case Row::Text:
                changed |= WriteOneAttribute(item, row->id, 0, {row->id}, value, VT_BSTR, true);
                break;
            case Row::Number:
                changed |= WriteOneAttribute(item, row->id, 0, {row->id}, value, VT_I4, true);
                break;
            case Row::Date:
                changed |= WriteOneAttribute(item, row->id, 0, {row->id}, value, VT_DATE, true);
                break;
            case Row::Album:
                changed |= WriteOneAttribute(item, attr::Album, attr::AlbumAlt, {attr::Album, attr::AlbumAlt},
                                             value, VT_BSTR, true);
                break;
            case Row::TrackNumber:
                changed |= WriteTrackNumber(item, value);
                break;
            case Row::Release:
                changed |= WriteRelease(item, value);
                break;
            default:
                break;
        }
    }
    return changed;
}

void CopyAllAttributes(MediaItem* base, MediaItem* target) {
    LONG count = 0;
    if (SUCCEEDED(base->GetAttributeCount(&count))) {
        for (LONG index = 0; index < count; ++index) {
            platform::VariantArray values;
            ULONG id = 0;
            const HRESULT hr = base->GetAttributeAt(index, &id, values.CountSlot(), values.ArraySlot());
            if (FAILED(hr)) {
                values.Abandon();  // neither the count nor the elements of a failed call can be trusted
                continue;
            }
            if (values.Array()) target->SetAttribute(id, values.Count(), values.Array());
        }
    }
    base->Close();
}

LONG ReadIntegerAttribute(MediaItem* item, ULONG id) {
    platform::VariantArray values;
    if (!library::ReadAttribute(item, id, 0, values) || values.First()->vt != VT_I4) return 0;
    return values.First()->lVal;
}

ULONG AttributeContentLength(MediaItem* item, ULONG id) {
    platform::VariantArray values;
    if (FAILED(item->GetAttribute(id, values.CountSlot(), values.ArraySlot()))) {
        values.Abandon();  // neither the count nor the elements of a failed call can be trusted
        return 0;
    }
    if (!values.Array()) return 0;
    ULONG total = 0;
    for (LONG i = 0; i < values.Count(); ++i) {
        const VARIANT& value = values.Array()[i];
        if (value.vt == VT_BSTR) {
            total += SysStringLen(value.bstrVal);
        } else if (value.vt == VT_UNKNOWN && value.punkVal) {
            ComPtr<MediaPicture> picture;
            if (SUCCEEDED(
                    value.punkVal->QueryInterface(IID_MediaPicture, picture.ReleaseAndGetVoidAddress())) &&
                picture) {
                ULONG size = 0;
                BYTE* data = nullptr;
                if (SUCCEEDED(picture->GetData(&size, &data))) total += size;
                CoTaskMemFree(data);
            }
        }
    }
    return total;
}

}  // namespace quillet
