// Attributes <-> an ID3v2 tag, shared by MP3 files and the "id3 " chunk of
// RIFF/WAVE files.
//
// Text, numbers and dates go through TagLib's property map (see
// core/property_mapping.h). Pictures are APIC frames: the picture type gives
// the position in a jacket list (front cover 3, back cover 4, media 6, other
// file icon 2, artist 8 for positions 0 to 4) and the description tells the two
// jacket lists apart ("" or the kind's name for the first list, "JacketAlt ..."
// for the second); the lyrics and liner-notes pictures are APIC frames with the
// descriptions "LyricsPicture" (type 0) and "LinerNotesPicture" (type 5, leaflet
// page). APIC frames of other types (lead artist, band logo, ...) are kept.
#pragma once

#include <set>

#include "medialib/core/attributes.h"

namespace TagLib::ID3v2 {
class Tag;
}

namespace medialib {

void ReadId3v2(const TagLib::ID3v2::Tag& tag, const std::set<uint32_t>& storable, AttributeSet& out);
void WriteId3v2(const AttributeSet& tags, const std::set<uint32_t>& storable, TagLib::ID3v2::Tag& tag);

}  // namespace medialib
