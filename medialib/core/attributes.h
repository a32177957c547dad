// The engine's own, COM-free model of a file's attributes.
//
// Every container reader fills an AttributeSet: attribute id -> ordered list of
// values. The COM layer (MediaItem) turns these values into VARIANT arrays and
// back; the container writers receive the changed set and store what their
// format can hold. Keeping this model free of COM lets the container code,
// its tests and the fuzzers run without the platform's COM stand-in.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace medialib {

// Picture bytes with their MIME type ("image/jpeg", "image/png", "text/plain", ...).
struct PictureData {
    std::string mime;
    std::vector<uint8_t> bytes;
    bool operator==(const PictureData&) const = default;
};

// A point in time as an OLE date: days since 1899-12-30, fraction = time of day.
struct DateValue {
    double days = 0;
    bool operator==(const DateValue&) const = default;
};

// One attribute value. Text is UTF-16 (the library boundary's unit); numbers
// are 32-bit signed, as the callers convert them with VT_I4.
using Value = std::variant<std::u16string, int32_t, DateValue, std::shared_ptr<PictureData>>;

using ValueList = std::vector<Value>;

// Ordered by id so that GetAttributeAt enumerates in a stable order.
using AttributeSet = std::map<uint32_t, ValueList>;

bool SameValue(const Value& a, const Value& b);  // pictures compare by content

// The pictures among the values of `id`, in order, at most `limit` of them;
// values of other types and null pictures are skipped. Empty when `id` is absent.
std::vector<std::shared_ptr<PictureData>> PicturesOf(const AttributeSet& tags, uint32_t id, size_t limit);

// Whether PicturesOf(a, id, limit) and PicturesOf(b, id, limit) hold the same
// pictures (MIME type and bytes) in the same order. Writers use it to leave a
// file's picture frames alone when a save does not change them.
bool SamePictures(const AttributeSet& a, const AttributeSet& b, uint32_t id, size_t limit);

}  // namespace medialib
