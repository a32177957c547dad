#include "library/attribute_read.h"

namespace library {
namespace {

// One GetAttribute call; true when it succeeded with at least one value,
// otherwise `values` is left empty.
bool ReadOne(MediaItem* item, ULONG id, platform::VariantArray& values) {
    const HRESULT hr = item->GetAttribute(id, values.CountSlot(), values.ArraySlot());
    if (SUCCEEDED(hr) && values.HasValues()) return true;
    if (FAILED(hr)) {
        values.Abandon();
    } else {
        values.Reset();
    }
    return false;
}

}  // namespace

bool ReadAttribute(MediaItem* item, ULONG id, ULONG fallback_id, platform::VariantArray& values) {
    if (ReadOne(item, id, values)) return true;
    return fallback_id != 0 && ReadOne(item, fallback_id, values);
}

bool FirstAs(platform::VariantArray& values, VARTYPE type) {
    VARIANT* first = values.First();
    return first && SUCCEEDED(VariantChangeType(first, first, 0, type)) && first->vt == type;
}

std::optional<std::u16string> FirstAsText(platform::VariantArray& values) {
    if (!FirstAs(values, VT_BSTR)) return std::nullopt;
    return std::u16string(platform::BstrView(values.First()->bstrVal));
}

}  // namespace library
