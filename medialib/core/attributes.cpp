#include "medialib/core/attributes.h"

namespace medialib {

bool SameValue(const Value& a, const Value& b) {
    if (a.index() != b.index()) return false;
    if (const auto* pa = std::get_if<std::shared_ptr<PictureData>>(&a)) {
        const auto& pb = std::get<std::shared_ptr<PictureData>>(b);
        if (!*pa || !pb) return !*pa && !pb;
        return **pa == *pb;
    }
    return a == b;
}

}  // namespace medialib
