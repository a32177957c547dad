// The info writer: the host's file_info stored back into a file.
//
// The whole record (every metadata field and the ReplayGain values) goes to
// the side-tag store first (side_tags.h); then the twenty fields the media
// library knows are written into its attributes. Each field accepts several
// names, so tags coming from other formats land in the right attribute; the
// first entry of the record that matches a field fills it. A field is
// written only when its text differs from the library's current first value,
// and only the first value is replaced: the library's further values of a
// multi-valued attribute stay as they are. A field missing from the record
// removes its attribute (both ids where a field has two). The date goes to
// two attributes: its first four characters as the year text, and the whole
// text as a date (a bare year meaning the first of January). The item is
// loaded for writing after the side tags are saved and closed at the end,
// which is when the library writes the file.
#pragma once

#include <string>

#include "host/sdk/abort_callback.h"
#include "host/sdk/file_info.h"
#include "library/media_library.h"
#include "plugin/tags/info_reader.h"
#include "plugin/tags/side_tag_settings.h"

namespace corvina {

// Writes one field into `item` (loaded for writing; not null): `text` null
// removes attribute `id` (and `fallback_id` when not 0) unless the library
// holds more than one value, in which case the first value becomes empty
// text. Otherwise the first of the current values (read from `id`, or from
// `fallback_id` when `id` has none) is replaced by `text` converted to
// `type` (for VT_DATE a four-digit year means 1 January of that year), and
// the array is written to `id` and `fallback_id`. Returns false when nothing
// was written because the text does not convert to `type`; library failures
// are not reported. Never throws.
bool WriteAttribute(const std::u16string* text, MediaItem* item, ULONG id, ULONG fallback_id, VARTYPE type);

// Stores `info`: side tags first (SaveSideTags with the settings), then the
// library attributes whose text changed. Throws exception_io ("I/O error")
// when the host path is empty or the library path or item is missing
// (nothing written), when the item does not load for writing (the side tags
// are then already saved), or when closing the item reports that the file
// could not be written. Host errors from the side-tag store propagate and
// leave the library untouched.
void WriteInfo(const InputFile& file, const SideTagSettings& settings, const file_info& info,
               abort_callback& abort);

}  // namespace corvina
