// Opening a file as a content object, and the conversions between the
// engine's attribute values and VARIANTs.
#pragma once

#include <filesystem>
#include <memory>

#include "library/media_library.h"
#include "medialib/core/attributes.h"

namespace medialib {

// The file a UTF-16 library path names (UTF-8 on this system).
std::filesystem::path FilePathOf(LPCWSTR path);

// Opens `path` by content; on success *content holds the content object for
// `riid` and *format_id the file's container number.
HRESULT OpenContentObject(LPCWSTR path, REFIID riid, void** content, LONG* format_id, LONG* status);
bool IsKnownFormatId(LONG format_id);

// A VARIANT for one value (pictures become new MediaPicture objects).
HRESULT ValueToVariant(const Value& value, VARIANT* out);
// The value of a VARIANT for attribute `id`, converted to the kind the
// attribute holds (text, number, date or picture). False when it does not convert.
bool VariantToValue(uint32_t id, const VARIANT& in, Value* out);
// A new picture object holding the given data (one reference for the caller).
MediaPicture* NewPictureObject(std::shared_ptr<PictureData> data);

}  // namespace medialib
