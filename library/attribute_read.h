// Reading one attribute of a media item, as both deliverables do it.
//
// MediaItem::GetAttribute hands out a count and an array of VARIANTs; a value
// counts as present when the call succeeds with a count of at least 1 and an
// array. Some attributes have a second id that the library fills for some
// formats instead of the first: it is read only when the first gives no
// value. What a failed call leaves behind is freed without clearing its
// elements, because neither its count nor its contents can be trusted. The
// callers use the first value only, converted in place to the type they need.
#pragma once

#include <optional>
#include <string>

#include "library/media_library.h"

namespace library {

// Reads attribute `id` of `item` (borrowed, not null) into `values`, freeing
// whatever it held first. When that read fails or yields no value and
// `fallback_id` is not 0, reads `fallback_id` instead. True when the last read
// succeeded with at least one value: `values` then holds the library's array;
// otherwise `values` is empty. One `values` may be reused for many reads.
bool ReadAttribute(MediaItem* item, ULONG id, ULONG fallback_id, platform::VariantArray& values);

// Converts the first value of `values` in place to `type`. False when there is
// no first value or it does not convert to exactly that type.
bool FirstAs(platform::VariantArray& values, VARTYPE type);

// The first value of `values` converted in place to text; nothing when absent
// or not convertible. A null string counts as the empty text.
std::optional<std::u16string> FirstAsText(platform::VariantArray& values);

}  // namespace library
