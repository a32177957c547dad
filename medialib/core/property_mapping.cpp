#include "medialib/core/property_mapping.h"

#include <taglib/tpropertymap.h>
#include <taglib/tstringlist.h>

#include <cstdlib>
#include <optional>

#include "library/media_ids.h"
#include "medialib/core/dates.h"
#include "medialib/core/text_utf.h"

namespace medialib {
namespace {

struct TextRow {
    uint32_t id;
    const char* key;
};

// Plain text attributes: one attribute, one property key.
constexpr TextRow kTextRows[] = {
    {attr::Title, "TITLE"},
    {attr::SortTitle, "TITLESORT"},
    {attr::Subtitle, "SUBTITLE"},
    {attr::SortSubtitle, "SUBTITLESORT"},
    {attr::Artist, "ARTIST"},
    {attr::SortArtist, "ARTISTSORT"},
    {attr::ArtistURL, "ARTISTWEBPAGE"},
    {attr::SortAlbum, "ALBUMSORT"},
    {attr::AlbumArtist, "ALBUMARTIST"},
    {attr::SortAlbumArtist, "ALBUMARTISTSORT"},
    {attr::Genre, "GENRE"},
    {attr::Composer, "COMPOSER"},
    {attr::Lyricist, "LYRICIST"},
    {attr::LyricsText, "LYRICS"},
    {attr::LinerNotesText, "COMMENT"},
};

TagLib::String ToTagString(const std::u16string& s) {
    return TagLib::String(Utf16ToUtf8(s), TagLib::String::UTF8);
}
std::u16string FromTagString(const TagLib::String& s) { return Utf8ToUtf16(s.to8Bit(true)); }

TagLib::StringList TextValues(const AttributeSet& tags, uint32_t id) {
    TagLib::StringList list;
    auto it = tags.find(id);
    if (it == tags.end()) return list;
    for (const Value& v : it->second) {
        if (const auto* s = std::get_if<std::u16string>(&v)) list.append(ToTagString(*s));
    }
    return list;
}

ValueList ToValues(const TagLib::StringList& list) {
    ValueList out;
    for (const TagLib::String& s : list) out.emplace_back(FromTagString(s));
    return out;
}

std::optional<DateValue> FirstDate(const AttributeSet& tags, uint32_t id) {
    auto it = tags.find(id);
    if (it == tags.end() || it->second.empty()) return std::nullopt;
    if (const auto* d = std::get_if<DateValue>(&it->second.front())) {
        // ISO 8601 text has four-digit years: a value outside them (or not a
        // number) would be written as a date that reads back as garbage.
        const int year = FromDateValue(*d).year;
        if (year < 1 || year > 9999) return std::nullopt;
        return *d;
    }
    if (const auto* s = std::get_if<std::u16string>(&it->second.front())) {
        if (auto t = ParseDateText(Utf16ToUtf8(*s))) return ToDateValue(*t);
    }
    return std::nullopt;
}

int32_t ParsePositive(const std::string& s) {
    if (s.empty() || s.size() > 9) return 0;
    for (char c : s) {
        if (c < '0' || c > '9') return 0;
    }
    return static_cast<int32_t>(std::strtol(s.c_str(), nullptr, 10));
}

std::string Trim(const std::string& s) {
    const size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

void ReadDate(const std::string& text, const std::set<uint32_t>& storable, AttributeSet& out) {
    if (text.empty()) return;
    const auto parsed = ParseDateText(text);
    if (storable.count(attr::ReleaseYear))
        out[attr::ReleaseYear] = {Utf8ToUtf16(parsed ? text.substr(0, 4) : text)};
    if (parsed && storable.count(attr::Release)) out[attr::Release] = {ToDateValue(*parsed)};
}

}  // namespace

std::vector<std::string> MappedPropertyKeys() {
    std::vector<std::string> keys;
    for (const TextRow& row : kTextRows) keys.emplace_back(row.key);
    for (const char* k : {"ALBUM", "TRACKNUMBER", "DATE", "IMPORTDATE"}) keys.emplace_back(k);
    return keys;
}

int32_t FirstNumber(const AttributeSet& tags, uint32_t id) {
    auto it = tags.find(id);
    if (it == tags.end() || it->second.empty()) return 0;
    if (const auto* n = std::get_if<int32_t>(&it->second.front())) return *n > 0 ? *n : 0;
    if (const auto* s = std::get_if<std::u16string>(&it->second.front()))
        return ParsePositive(Utf16ToUtf8(*s));
    return 0;
}

std::u16string FirstText(const AttributeSet& tags, uint32_t id) {
    auto it = tags.find(id);
    if (it == tags.end() || it->second.empty()) return {};
    if (const auto* s = std::get_if<std::u16string>(&it->second.front())) return *s;
    return {};
}

void ReadProperties(const TagLib::PropertyMap& props, const std::set<uint32_t>& storable, AttributeSet& out) {
    auto get = [&](const char* key) -> TagLib::StringList {
        auto it = props.find(key);
        return it == props.end() ? TagLib::StringList() : it->second;
    };
    for (const TextRow& row : kTextRows) {
        if (!storable.count(row.id)) continue;
        const TagLib::StringList values = get(row.key);
        if (!values.isEmpty()) out[row.id] = ToValues(values);
    }
    if (storable.count(attr::Album)) {
        const TagLib::StringList album = get("ALBUM");
        if (!album.isEmpty()) {
            out[attr::Album] = ToValues(album);
            if (storable.count(attr::AlbumAlt)) out[attr::AlbumAlt] = ToValues(album);
        }
    }
    if (const TagLib::StringList track = get("TRACKNUMBER"); !track.isEmpty()) {
        const std::string text = track.front().to8Bit(true);
        const size_t slash = text.find('/');
        const int32_t number = ParsePositive(Trim(text.substr(0, slash)));
        const int32_t total = slash == std::string::npos ? 0 : ParsePositive(Trim(text.substr(slash + 1)));
        if (number > 0 && storable.count(attr::TrackNumber)) {
            out[attr::TrackNumber] = {number};
            if (storable.count(attr::TrackNumberAlt)) out[attr::TrackNumberAlt] = {number};
        }
        if (total > 0 && storable.count(attr::TotalTracks)) out[attr::TotalTracks] = {total};
    }
    if (const TagLib::StringList date = get("DATE"); !date.isEmpty())
        ReadDate(date.front().to8Bit(true), storable, out);
    if (const TagLib::StringList imported = get("IMPORTDATE");
        !imported.isEmpty() && storable.count(attr::Import)) {
        if (auto t = ParseDateText(imported.front().to8Bit(true))) out[attr::Import] = {ToDateValue(*t)};
    }
}

void WriteProperties(const AttributeSet& tags, const std::set<uint32_t>& storable,
                     TagLib::PropertyMap& props) {
    auto set = [&](const char* key, const TagLib::StringList& values) {
        if (values.isEmpty()) {
            props.erase(key);
        } else {
            props.replace(key, values);
        }
    };
    for (const TextRow& row : kTextRows) {
        if (storable.count(row.id)) set(row.key, TextValues(tags, row.id));
    }
    if (storable.count(attr::Album)) {
        TagLib::StringList album = TextValues(tags, attr::Album);
        if (album.isEmpty()) album = TextValues(tags, attr::AlbumAlt);
        set("ALBUM", album);
    }
    if (storable.count(attr::TrackNumber)) {
        int32_t number = FirstNumber(tags, attr::TrackNumber);
        if (number == 0) number = FirstNumber(tags, attr::TrackNumberAlt);
        const int32_t total = storable.count(attr::TotalTracks) ? FirstNumber(tags, attr::TotalTracks) : 0;
        TagLib::StringList value;
        if (number > 0 || total > 0) {
            std::string text = std::to_string(number);
            if (total > 0) {
                text.push_back('/');
                text.append(std::to_string(total));
            }
            value.append(TagLib::String(text));
        }
        set("TRACKNUMBER", value);
    }
    if (storable.count(attr::Release) || storable.count(attr::ReleaseYear)) {
        TagLib::StringList value;
        if (auto date = FirstDate(tags, attr::Release)) {
            value.append(TagLib::String(FormatIsoDate(*date)));
        } else if (const std::u16string year = FirstText(tags, attr::ReleaseYear); !year.empty()) {
            value.append(ToTagString(year));
        }
        set("DATE", value);
    }
    if (storable.count(attr::Import)) {
        TagLib::StringList value;
        if (auto date = FirstDate(tags, attr::Import)) value.append(TagLib::String(FormatIsoDate(*date)));
        set("IMPORTDATE", value);
    }
}

}  // namespace medialib
