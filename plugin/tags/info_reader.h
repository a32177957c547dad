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
// ReadAttribute and AttributeValues are shared with the info writer.
#pragma once

#include <optional>
#include <string>

#include "host/sdk/abort_callback.h"
#include "host/sdk/file_info.h"
#include "library/media_library.h"
#include "plugin/tags/side_tag_settings.h"

namespace corvina {

// Owns the value array of one MediaItem::GetAttribute call: clears every
// element and frees the array when reset or destroyed. One object is reused
// for many reads.
class AttributeValues {
  public:
    AttributeValues() = default;
    ~AttributeValues() { Reset(); }
    AttributeValues(const AttributeValues&) = delete;
    AttributeValues& operator=(const AttributeValues&) = delete;

    // Clears each element and frees the array; afterwards empty.
    void Reset();
    // The output arguments for GetAttribute; call Reset first.
    LONG* count_address() { return &m_count; }
    VARIANT** array_address() { return &m_values; }

    LONG count() const { return m_count; }
    VARIANT* array() const { return m_values; }
    // True when at least one value and an array are held.
    bool present() const { return m_count >= 1 && m_values; }
    // The first value (null when not present).
    VARIANT* first() const { return present() ? m_values : nullptr; }

  private:
    LONG m_count = 0;
    VARIANT* m_values = nullptr;
};

// Reads attribute `id` of `item` into `values` (whatever it held is freed
// first). When that read fails or yields no value, and `fallback_id` is not
// 0, reads `fallback_id` instead. True when the last read succeeded with at
// least one value; `values` then holds the library's array. `item` must not
// be null. Never throws.
bool ReadAttribute(MediaItem* item, ULONG id, ULONG fallback_id, AttributeValues& values);

// The first value of `values` converted in place to text; nothing when
// absent or not convertible. A null string counts as the empty text.
std::optional<std::u16string> FirstAsText(AttributeValues& values);

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
