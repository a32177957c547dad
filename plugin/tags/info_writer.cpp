#include "plugin/tags/info_writer.h"

#include <array>
#include <optional>

#include "host/sdk/exceptions.h"
#include "host/sdk/text.h"
#include "library/attribute_read.h"
#include "library/media_ids.h"
#include "platform/text/text.h"
#include "plugin/tags/side_tags.h"

namespace attr = medialib::attr;

namespace corvina {
namespace {

enum class Rule { Plain, Date };

struct Field {
    const char* const* names;  // null-terminated list, compared without regard to case
    ULONG id;                  // compared with, written to
    ULONG fallback_id;         // 0: none; otherwise compared with when `id` has no value, and written to
    VARTYPE type;
    Rule rule;
};

constexpr const char* kTitle[] = {"title", nullptr};
constexpr const char* kTitleSort[] = {"title sort", "titlesort", "title sort order", "titlesortorder",
                                      nullptr};
constexpr const char* kSubtitle[] = {"subtitle", nullptr};
constexpr const char* kSubtitleSort[] = {"subtitle sort", "subtitlesort", "subtitle sort order",
                                         "subtitlesortorder", nullptr};
constexpr const char* kArtist[] = {"artist", nullptr};
constexpr const char* kArtistSort[] = {"artist sort", "artistsort", "artist sort order", "artistsortorder",
                                       nullptr};
constexpr const char* kArtistUrl[] = {"wwwartist", "artist webpage url", nullptr};
constexpr const char* kAlbum[] = {"album", nullptr};
constexpr const char* kAlbumSort[] = {"album sort", "albumsort", "album sort order", "albumsortorder",
                                      nullptr};
constexpr const char* kAlbumArtist[] = {"album artist", "albumartist", "band", nullptr};
constexpr const char* kAlbumArtistSort[] = {
    "album artist sort",    "albumartistsort", "album artist sort order",
    "albumartistsortorder", "band sort",       "bandsort",
    "band sort order",      "bandsortorder",   nullptr};
constexpr const char* kGenre[] = {"genre", nullptr};
constexpr const char* kComposer[] = {"composer", nullptr};
constexpr const char* kLyricist[] = {"lyricist", nullptr};
constexpr const char* kTrackNumber[] = {"tracknumber", "track number", nullptr};
constexpr const char* kTotalTracks[] = {"totaltracks", "total tracks", nullptr};
constexpr const char* kDate[] = {"date", nullptr};
constexpr const char* kAdded[] = {"added", nullptr};
constexpr const char* kLyrics[] = {"lyrics", nullptr};
constexpr const char* kComment[] = {"comment", nullptr};

// In the order they are collected and written.
constexpr Field kFields[] = {
    {kTitle, attr::Title, 0, VT_BSTR, Rule::Plain},
    {kTitleSort, attr::SortTitle, 0, VT_BSTR, Rule::Plain},
    {kSubtitle, attr::Subtitle, 0, VT_BSTR, Rule::Plain},
    {kSubtitleSort, attr::SortSubtitle, 0, VT_BSTR, Rule::Plain},
    {kArtist, attr::Artist, 0, VT_BSTR, Rule::Plain},
    {kArtistSort, attr::SortArtist, 0, VT_BSTR, Rule::Plain},
    {kArtistUrl, attr::ArtistURL, 0, VT_BSTR, Rule::Plain},
    {kAlbum, attr::Album, attr::AlbumAlt, VT_BSTR, Rule::Plain},
    {kAlbumSort, attr::SortAlbum, 0, VT_BSTR, Rule::Plain},
    {kAlbumArtist, attr::AlbumArtist, 0, VT_BSTR, Rule::Plain},
    {kAlbumArtistSort, attr::SortAlbumArtist, 0, VT_BSTR, Rule::Plain},
    {kGenre, attr::Genre, 0, VT_BSTR, Rule::Plain},
    {kComposer, attr::Composer, 0, VT_BSTR, Rule::Plain},
    {kLyricist, attr::Lyricist, 0, VT_BSTR, Rule::Plain},
    {kTrackNumber, attr::TrackNumber, attr::TrackNumberAlt, VT_I4, Rule::Plain},
    {kTotalTracks, attr::TotalTracks, 0, VT_I4, Rule::Plain},
    {kDate, attr::Release, attr::ReleaseYear, VT_DATE, Rule::Date},
    {kAdded, attr::Import, 0, VT_DATE, Rule::Plain},
    {kLyrics, attr::LyricsText, 0, VT_BSTR, Rule::Plain},
    {kComment, attr::LinerNotesText, 0, VT_BSTR, Rule::Plain},
};
constexpr size_t kFieldCount = std::size(kFields);

using Slots = std::array<std::optional<std::u16string>, kFieldCount>;

bool NameMatches(const Field& field, const char* name) {
    for (const char* const* accepted = field.names; *accepted; ++accepted) {
        if (stricmp_utf8(name, *accepted) == 0) return true;
    }
    return false;
}

// The first value of each field's first matching entry, in UTF-16.
Slots Collect(const file_info& info) {
    Slots slots;
    for (size_t i = 0; i < info.meta_get_count(); ++i) {
        const char* name = info.meta_enum_name(i);
        if (!name || info.meta_enum_value_count(i) == 0) continue;
        for (size_t f = 0; f < kFieldCount; ++f) {
            if (slots[f] || !NameMatches(kFields[f], name)) continue;
            const char* value = info.meta_enum_value(i, 0);
            slots[f] = platform::Utf8ToUtf16(value ? value : "");
            break;
        }
    }
    return slots;
}

bool IsYear(std::u16string_view text) {
    if (text.size() != 4) return false;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return false;
    }
    return true;
}

// The number of UTF-16 units that hold the first `characters` characters of
// `text`, so a cut never splits a surrogate pair.
size_t UnitsOfFirstCharacters(std::u16string_view text, size_t characters) {
    size_t units = 0;
    for (size_t seen = 0; seen < characters && units < text.size(); ++seen) {
        const bool pair = text[units] >= 0xD800 && text[units] <= 0xDBFF && units + 1 < text.size() &&
                          text[units + 1] >= 0xDC00 && text[units + 1] <= 0xDFFF;
        units += pair ? 2 : 1;
    }
    return units;
}

// The text a VT_DATE attribute is set from: a bare year is the first of
// January of that year.
std::u16string DateSourceText(const std::u16string& text) {
    if (!IsYear(text)) return text;
    std::u16string out = u"0000/01/01";
    out.replace(0, 4, text);
    return out;
}

bool ConvertsTo(const std::u16string& text, VARTYPE type) {
    platform::Variant v = platform::Variant::FromString(text);
    return SUCCEEDED(VariantChangeType(v.Get(), v.Get(), 0, type)) && v->vt == type;
}

// The date goes to two attributes: the year text (its first four characters)
// and the full date. When the full text is no date the platform can read, the
// old date is removed rather than kept: the reader prefers the date to the
// year text, so a stale date would hide the year just written and show a
// value the user replaced.
void WriteDate(const std::optional<std::u16string>& text, MediaItem* item) {
    if (text) {
        const size_t year_units = UnitsOfFirstCharacters(*text, 4);
        const std::u16string year = year_units < text->size() ? text->substr(0, year_units) : *text;
        WriteAttribute(&year, item, attr::ReleaseYear, 0, VT_BSTR);
        if (ConvertsTo(DateSourceText(*text), VT_DATE)) {
            WriteAttribute(&*text, item, attr::Release, 0, VT_DATE);
            return;
        }
        WriteAttribute(nullptr, item, attr::Release, 0, VT_DATE);
        return;
    }
    WriteAttribute(nullptr, item, attr::ReleaseYear, 0, VT_BSTR);
    WriteAttribute(nullptr, item, attr::Release, 0, VT_DATE);
}

void WriteFields(const Slots& slots, MediaItem* item) {
    platform::VariantArray values;
    for (size_t f = 0; f < kFieldCount; ++f) {
        const Field& field = kFields[f];
        std::u16string current;
        if (library::ReadAttribute(item, field.id, field.fallback_id, values))
            current = library::FirstAsText(values).value_or(u"");
        values.Reset();
        const std::u16string& wanted = slots[f] ? *slots[f] : std::u16string();
        if (lstrcmpW(current.c_str(), wanted.c_str()) == 0) continue;
        if (field.rule == Rule::Date) {
            WriteDate(slots[f], item);
        } else {
            WriteAttribute(slots[f] ? &*slots[f] : nullptr, item, field.id, field.fallback_id, field.type);
        }
    }
}

}  // namespace

bool WriteAttribute(const std::u16string* text, MediaItem* item, ULONG id, ULONG fallback_id, VARTYPE type) {
    platform::VariantArray current;
    const bool read = library::ReadAttribute(item, id, fallback_id, current);

    if (!text && !(read && current.Count() > 1)) {
        item->SetAttribute(id, 0, nullptr);
        if (fallback_id > 0) item->SetAttribute(fallback_id, 0, nullptr);
        return true;
    }

    // The library's own array keeps its further values; without one, a
    // single value of our own is written.
    platform::Variant local;
    VARIANT* array = local.Get();
    LONG count = 1;
    if (read) {
        array = current.Array();
        count = current.Count();
    }

    VARIANT* first = &array[0];
    VariantClear(first);
    const std::u16string source = !text ? std::u16string() : type == VT_DATE ? DateSourceText(*text) : *text;
    first->bstrVal = platform::AllocBstr(source);
    first->vt = VT_BSTR;
    if (FAILED(VariantChangeType(first, first, 0, type)) || first->vt != type) return false;

    item->SetAttribute(id, count, array);
    if (fallback_id > 0) item->SetAttribute(fallback_id, count, array);
    return true;
}

void WriteInfo(const InputFile& file, const SideTagSettings& settings, const file_info& info,
               abort_callback& abort) {
    if (!file.host_path || !*file.host_path || !file.library_path || !file.item) throw exception_io();
    SaveSideTags(info, file.host_path, file.key_path, settings, abort);

    const Slots slots = Collect(info);
    MediaItem* item = file.item;
    if (FAILED(item->Load(file.library_path, kMediaItemWrite))) throw exception_io();
    try {
        WriteFields(slots, item);
    } catch (...) {
        item->Close();
        throw;
    }
    // Closing is what writes the file: a failure there means the edit did
    // not reach it, which the host must hear about.
    if (FAILED(item->Close())) throw exception_io();
}

}  // namespace corvina
