// One attribute's values as the library hands them out: a count and an array
// of VARIANTs allocated with CoTaskMemAlloc. AttributeValues owns such an
// array and, when it dies or is reset, clears every element and frees the
// array, so no path can leak a string or an object reference.
#pragma once

#include "library/media_library.h"

namespace quillet {

class AttributeValues {
  public:
    AttributeValues() = default;
    ~AttributeValues() { Reset(); }
    AttributeValues(const AttributeValues&) = delete;
    AttributeValues& operator=(const AttributeValues&) = delete;

    // MediaItem::GetAttribute into this holder (what it held before is freed).
    // True when the call succeeded with at least one value.
    bool Read(MediaItem* item, ULONG id);
    // Read `id`, and when that gives no value and `fallback` is not 0, `fallback`.
    bool ReadWithFallback(MediaItem* item, ULONG id, ULONG fallback);

    // Clears every value and frees the array.
    void Reset();

    // Slots for a call that hands out values (freed first).
    LONG* CountSlot() {
        Reset();
        return &count_;
    }
    VARIANT** ValuesSlot() { return &values_; }

    LONG Count() const { return values_ && count_ > 0 ? count_ : 0; }
    VARIANT* Values() const { return values_; }
    bool HasValues() const { return values_ && count_ >= 1; }

  private:
    LONG count_ = 0;
    VARIANT* values_ = nullptr;
};

}  // namespace quillet
