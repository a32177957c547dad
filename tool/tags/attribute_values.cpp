#include "tool/tags/attribute_values.h"

namespace quillet {

bool AttributeValues::Read(MediaItem* item, ULONG id) {
    Reset();
    const HRESULT hr = item->GetAttribute(id, &count_, &values_);
    return SUCCEEDED(hr) && HasValues();
}

bool AttributeValues::ReadWithFallback(MediaItem* item, ULONG id, ULONG fallback) {
    if (Read(item, id)) return true;
    if (fallback == 0) return false;
    return Read(item, fallback);
}

void AttributeValues::Reset() {
    if (values_) {
        for (LONG i = 0; i < count_; ++i) VariantClear(&values_[i]);
        CoTaskMemFree(values_);
    }
    values_ = nullptr;
    count_ = 0;
}

}  // namespace quillet
