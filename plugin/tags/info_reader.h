// The info reader: a file's media-library attributes as the host's file_info.
//
// Side tags are merged in first (side_tags.h), then the library's attributes
// are laid over them field by field, so the library wins wherever it has a
// value. Each metadata field maps to one attribute (some with a second id
// that is read when the first has no value); where the library has nothing,
// the field is removed, except for the file types whose format cannot store
// that attribute at all: there the side tag's value stays. Technical fields
// and the length are only ever set. Every attribute value is read as the
// library's first VARIANT, converted in place to the type the field needs;
// values that are missing or do not convert count as absent and are never
// reported as errors.
//
// Attributes are read through library::ReadAttribute (library/attribute_read.h),
// the same routine the info writer and the console program use.
#pragma once

#include <string>

#include "host/sdk/abort_callback.h"
#include "host/sdk/file_info.h"
#include "library/media_library.h"
#include "plugin/tags/side_tag_settings.h"

namespace corvina {

// The parts of an opened input object the tag roles work with. All borrowed
// for the duration of one call; any may be null.
struct InputFile {
    const char* host_path = nullptr;  // UTF-8, as the host gave it
    LPCWSTR library_path = nullptr;   // UTF-16, without "file://"
    LPCWSTR key_path = nullptr;       // library path in upper case (side-tag store key)
    MediaItem* item = nullptr;
};

// The extension of the file name of `host_path` (from the last dot, dot
// included), ASCII letters lower-cased; empty when the name has no dot.
std::string LowerExtension(const char* host_path);

// Fills `info` for the file: side tags (when `info` is empty), then the
// library's metadata, length and technical fields. Loads the item for
// reading and closes it again before returning, also when a side-tag error
// propagates. Throws exception_io ("I/O error") when the library path or the
// item is missing or the item does not load; `info` is then unchanged.
// Host errors from the side-tag store propagate.
void ReadInfo(const InputFile& file, const SideTagSettings& settings, file_info& info, abort_callback& abort);

}  // namespace corvina
