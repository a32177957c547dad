#include "medialib/core/attributes.h"

#include <algorithm>

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

std::vector<std::shared_ptr<PictureData>> PicturesOf(const AttributeSet& tags, uint32_t id, size_t limit) {
    std::vector<std::shared_ptr<PictureData>> out;
    auto it = tags.find(id);
    if (it == tags.end()) return out;
    for (const Value& v : it->second) {
        const auto* p = std::get_if<std::shared_ptr<PictureData>>(&v);
        if (p && *p && out.size() < limit) out.push_back(*p);
    }
    return out;
}

bool SamePictures(const AttributeSet& a, const AttributeSet& b, uint32_t id, size_t limit) {
    const auto first = PicturesOf(a, id, limit);
    const auto second = PicturesOf(b, id, limit);
    return std::equal(first.begin(), first.end(), second.begin(), second.end(),
                      [](const auto& x, const auto& y) { return *x == *y; });
}

}  // namespace medialib
