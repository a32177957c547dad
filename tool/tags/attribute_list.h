// Moving a file's attributes to and from the console program's flat form.
//
// The listing names 34 attributes in a fixed order: 20 tags that can be
// written back, 9 technical values, and 5 rows about lyrics, liner notes and
// the jacket picture. Values travel as text: reading converts the first value
// of an attribute to a string; writing converts the text to the attribute's
// type (text, number or date, by VariantChangeType) and replaces only the
// first value, so further values of a multi-valued attribute survive. An
// absent value removes an attribute that has at most one value.
#pragma once

#include "library/media_library.h"
#include "tool/common/name_value_list.h"

namespace quillet {

// Appends the 34 listing entries of `item` (borrowed) to `list`, in table
// order; an entry whose attribute has no value is appended with an absent value.
void ReadAttributeList(MediaItem* item, NameValueList& list);

// Writes the entries of `list` whose names are one of the 20 writable names
// (without regard to case) into `item`'s attributes; other names are skipped.
// True if at least one attribute was written or removed.
bool WriteAttributeList(MediaItem* item, const NameValueList& list);

// Copies every attribute of `base` into `target` (both borrowed), then closes
// `base` (MediaItem::Close). The caller releases both.
void CopyAllAttributes(MediaItem* base, MediaItem* target);

// The first value of attribute `id` when it is a VT_I4; 0 otherwise.
LONG ReadIntegerAttribute(MediaItem* item, ULONG id);

// The content length of attribute `id`: the UTF-16 length of each text value
// plus the byte length of each picture value's data; 0 without values.
ULONG AttributeContentLength(MediaItem* item, ULONG id);

}  // namespace quillet
