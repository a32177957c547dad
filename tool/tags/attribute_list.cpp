#include "tool/tags/attribute_list.h"

#include <string>

#include "library/attribute_read.h"
#include "platform/com/variant.h"
#include "platform/text/text.h"
#include "tool/tags/picture_info.h"

namespace quillet {
namespace {

enum class Row {
    Text,         // VT_BSTR to its id
    Number,       // VT_I4 to its id
    Date,         // VT_DATE to its id
    Album,        // text to 0x120C and 0x0207
    TrackNumber,  // number to 0x1105 and 0x110F; "n/m" also sets 0x112D
    Release,      // year text to 0x1236, date to 0x1400
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

constexpr ULONG kTrackNumber = 0x1105;
constexpr ULONG kTrackNumberSecond = 0x110F;
constexpr ULONG kTotalTracks = 0x112D;
constexpr ULONG kReleaseYear = 0x1236;
constexpr ULONG kReleaseDate = 0x1400;
constexpr ULONG kAlbum = 0x120C;
constexpr ULONG kAlbumSecond = 0x0207;

// Rows 1 to 20 are the writable ones.
constexpr int kWritableRows = 20;
constexpr AttributeRow kRows[] = {
    {u"Title", 0x1207, 0, Row::Text},
    {u"SortTitle", 0x1607, 0, Row::Text},
    {u"Subtitle", 0x1230, 0, Row::Text},
    {u"SortSubtitle", 0x1630, 0, Row::Text},
    {u"Artist", 0x1210, 0, Row::Text},
    {u"SortArtist", 0x1610, 0, Row::Text},
    {u"ArtistURL", 0x1510, 0, Row::Text},
    {u"Album", kAlbum, kAlbumSecond, Row::Album},
    {u"SortAlbum", 0x160C, 0, Row::Text},
    {u"AlbumArtist", 0x0210, 0, Row::Text},
    {u"SortAlbumArtist", 0x0251, 0, Row::Text},
    {u"Genre", 0x1208, 0, Row::Text},
    {u"Composer", 0x1213, 0, Row::Text},
    {u"Lyricist", 0x1212, 0, Row::Text},
    {u"TrackNumber", kTrackNumber, kTrackNumberSecond, Row::TrackNumber},
    {u"TotalTracks", kTotalTracks, 0, Row::Number},
    {u"Release", kReleaseDate, kReleaseYear, Row::Release},
    {u"Import", 0x1404, 0, Row::Date},
    {u"Duration", 0x1100, 0, Row::Number},
    {u"MilliSecond", 0x111A, 0, Row::Number},
    {u"Size", 0x1104, 0, Row::ReadOnly},
    {u"Format", 0x1101, 0, Row::ReadOnly},
    {u"Codec", 0x1102, 0, Row::ReadOnly},
    {u"BitRate", 0x1103, 0x1129, Row::ReadOnly},
    {u"Frequency", 0x1110, 0, Row::ReadOnly},
    {u"BitDepth", 0x1112, 0x111C, Row::ReadOnly},
    {u"Channel", 0x110C, 0, Row::ReadOnly},
    {u"Location", 0x1245, 0, Row::ReadOnly},
    {u"Extension", 0x126E, 0, Row::ReadOnly},
    {u"LyricsText", 0x122C, 0, Row::NotesLength},
    {u"LyricsPicture", 0x1224, 0, Row::Picture},
    {u"LinerNotesText", 0x122D, 0, Row::NotesLength},
    {u"LinerNotesPicture", 0x1223, 0, Row::Picture},
    {u"Jacket", 0x122A, 0x1220, Row::Picture},
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
        return WriteOneAttribute(item, kTrackNumber, kTrackNumberSecond, {kTrackNumber, kTrackNumberSecond},
                                 nullptr, VT_I4, true);
    }
    std::u16string track(value);
    bool changed = false;
    const size_t slash = track.find(u'/');
    if (slash != std::u16string::npos) {
        const std::u16string total = track.substr(slash + 1);
        changed |= WriteOneAttribute(item, kTotalTracks, 0, {kTotalTracks}, total.c_str(), VT_I4, false);
        track.resize(slash);
    }
    changed |= WriteOneAttribute(item, kTrackNumber, kTrackNumberSecond, {kTrackNumber, kTrackNumberSecond},
                                 track.c_str(), VT_I4, false);
    return changed;
}

bool WriteRelease(MediaItem* item, LPCWSTR value) {
    bool changed = false;
    if (value && lstrlenW(value) > 4) {
        const std::u16string year(value, 4);
        changed |= WriteOneAttribute(item, kReleaseYear, 0, {kReleaseYear}, year.c_str(), VT_BSTR, false);
    } else {
        changed |= WriteOneAttribute(item, kReleaseYear, 0, {kReleaseYear}, value, VT_BSTR, true);
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
        item->SetAttribute(kReleaseDate, 0, nullptr);
        return true;  // a removal counts as a change
    }
    changed |= WriteOneAttribute(item, kReleaseDate, 0, {kReleaseDate}, value, VT_DATE, true);
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
                changed |= WriteOneAttribute(item, kAlbum, kAlbumSecond, {kAlbum, kAlbumSecond}, value,
                                             VT_BSTR, true);
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
