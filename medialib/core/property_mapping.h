// The one table from text, number and date attributes to TagLib's format-
// neutral property keys (TITLE, ARTISTSORT, TRACKNUMBER, DATE, ...).
//
// TagLib maps each key to the standard frame or atom of a format (ID3v2 TIT2,
// TSOP, TRCK, TDRC; MP4 (c)nam, soar, trkn, (c)day; ...), so going through
// property maps gives every container the same, widely read fields. Keys without
// a standard field (SUBTITLESORT, IMPORTDATE) become TXXX frames in ID3v2 and
// "----:com.apple.iTunes:" items in MP4. Pictures are not properties; each
// container maps them itself.
//
// Conversions: several values of a text attribute become several property
// values; TrackNumber/TrackNumberAlt/TotalTracks share TRACKNUMBER ("n/m");
// Release (date) and ReleaseYear (year text) share DATE (ISO 8601, the full
// date when Release is given, else the year); Album and AlbumAlt are one field.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "medialib/core/attributes.h"

namespace TagLib {
class PropertyMap;
}

namespace medialib {

// Adds the attributes found in `props` (only ids in `storable`).
void ReadProperties(const TagLib::PropertyMap& props, const std::set<uint32_t>& storable, AttributeSet& out);

// Sets or erases every key of the table whose attribute is in `storable` so that
// `props` holds exactly `tags`; keys outside the table are left alone.
void WriteProperties(const AttributeSet& tags, const std::set<uint32_t>& storable,
                     TagLib::PropertyMap& props);

// Every property key the table uses.
std::vector<std::string> MappedPropertyKeys();

// First value of an attribute as a positive number (int32 or decimal text); 0 if none.
int32_t FirstNumber(const AttributeSet& tags, uint32_t id);
// First value of an attribute as text (empty when absent or not text).
std::u16string FirstText(const AttributeSet& tags, uint32_t id);

}  // namespace medialib
