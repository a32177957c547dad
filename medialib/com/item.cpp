#include "medialib/com/item.h"

#include <algorithm>

#include "library/media_ids.h"
#include "medialib/com/barrier.h"
#include "medialib/com/classes.h"
#include "medialib/com/content.h"
#include "medialib/detect/parse_cache.h"

namespace medialib {
namespace {

bool Same(const ValueList& a, const ValueList& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!SameValue(a[i], b[i])) return false;
    return true;
}

HRESULT ToArray(const ValueList& list, LONG* count, VARIANT** values) {
    auto* array = static_cast<VARIANT*>(CoTaskMemAlloc(list.size() * sizeof(VARIANT)));
    if (!array) return E_OUTOFMEMORY;
    for (size_t i = 0; i < list.size(); ++i) {
        HRESULT hr = ValueToVariant(list[i], &array[i]);
        if (FAILED(hr)) {
            for (size_t j = 0; j <= i; ++j) VariantClear(&array[j]);
            CoTaskMemFree(array);
            return hr;
        }
    }
    *count = static_cast<LONG>(list.size());
    *values = array;
    return S_OK;
}

class Item final : public platform::ComObject<Item, MediaItemImpl> {};

}  // namespace

HRESULT MediaItemImpl::Load(LPCWSTR path, LONG mode) {
    return Guarded([&]() -> HRESULT {
        if (!path || !*path) return E_INVALIDARG;
        if (mode != kMediaItemRead && mode != kMediaItemWrite) return E_INVALIDARG;
        std::lock_guard lock(mutex_);
        std::filesystem::path file_path = FilePathOf(path);
        // The parse of the content object that opened this file, when the
        // file has not changed since.
        std::unique_ptr<OpenedFile> file = EngineParseCache().TakeOrParse(file_path);
        if (!file) return MEDIALIB_E_UNKNOWNFORMAT;
        file_ = std::move(file);
        path_ = std::move(file_path);
        mode_ = mode;
        attributes_ = file_->Attributes();
        dirty_ = false;
        return S_OK;
    });
}

HRESULT MediaItemImpl::Close() {
    return Guarded([&]() -> HRESULT {
        std::lock_guard lock(mutex_);
        if (!file_) return S_FALSE;
        HRESULT hr = S_OK;
        if (mode_ == kMediaItemWrite && dirty_) {
            // A parse kept from before the write no longer describes the file
            // (its new stamp would tell as much; this does not wait for it).
            if (!file_->Save(path_, attributes_)) hr = MEDIALIB_E_WRITEFAILED;
            EngineParseCache().Forget(path_);
        }
        file_.reset();
        attributes_.clear();
        dirty_ = false;
        return hr;
    });
}

HRESULT MediaItemImpl::GetAttribute(ULONG id, LONG* count, VARIANT** values) {
    return Guarded([&]() -> HRESULT {
        if (!count || !values) return E_POINTER;
        *count = 0;
        *values = nullptr;
        std::lock_guard lock(mutex_);
        if (!file_) return MEDIALIB_E_NOTLOADED;
        auto it = attributes_.find(id);
        if (it == attributes_.end() || it->second.empty()) return MEDIALIB_E_NOATTRIBUTE;
        return ToArray(it->second, count, values);
    });
}

HRESULT MediaItemImpl::SetAttribute(ULONG id, LONG count, VARIANT* values) {
    return Guarded([&]() -> HRESULT {
        if (count < 0) return E_INVALIDARG;
        if (count > 0 && !values) return E_POINTER;
        std::lock_guard lock(mutex_);
        if (!file_) return MEDIALIB_E_NOTLOADED;
        if (mode_ != kMediaItemWrite) return MEDIALIB_E_READONLY;
        if (!file_->CanStore(id)) return MEDIALIB_E_UNSUPPORTED;
        // Pictures per jacket list: position in the list is the picture's kind.
        if ((id == attr::Jacket || id == attr::JacketAlt) &&
            count > static_cast<LONG>(attr::MaxJacketPictures))
            return E_INVALIDARG;
        // The count is the caller's word: a huge one must not reserve memory
        // for values that are not there (the list grows as values convert).
        ValueList list;
        list.reserve(static_cast<size_t>(std::min<LONG>(count, 64)));
        for (LONG i = 0; i < count; ++i) {
            Value value;
            if (!VariantToValue(id, values[i], &value)) return DISP_E_TYPEMISMATCH;
            list.push_back(std::move(value));
        }
        auto it = attributes_.find(id);
        if (list.empty()) {
            if (it != attributes_.end()) {
                attributes_.erase(it);
                dirty_ = true;
            }
            return S_OK;
        }
        if (it != attributes_.end() && Same(it->second, list)) return S_OK;
        attributes_[id] = std::move(list);
        dirty_ = true;
        return S_OK;
    });
}

HRESULT MediaItemImpl::GetAttributeCount(LONG* count) {
    return Guarded([&]() -> HRESULT {
        if (!count) return E_POINTER;
        std::lock_guard lock(mutex_);
        *count = 0;
        if (!file_) return MEDIALIB_E_NOTLOADED;
        for (const auto& [id, list] : attributes_)
            if (!list.empty()) ++*count;
        return S_OK;
    });
}

HRESULT MediaItemImpl::GetAttributeAt(LONG index, ULONG* id, LONG* count, VARIANT** values) {
    return Guarded([&]() -> HRESULT {
        if (!id || !count || !values) return E_POINTER;
        *id = 0;
        *count = 0;
        *values = nullptr;
        std::lock_guard lock(mutex_);
        if (!file_) return MEDIALIB_E_NOTLOADED;
        if (index < 0) return E_INVALIDARG;
        LONG position = 0;
        for (const auto& [attribute, list] : attributes_) {
            if (list.empty()) continue;
            if (position++ == index) {
                *id = attribute;
                return ToArray(list, count, values);
            }
        }
        return E_INVALIDARG;
    });
}

HRESULT CreateItemObject(REFIID riid, void** object) {
    return Guarded([&]() -> HRESULT {
        auto* item = new Item();
        HRESULT hr = item->QueryInterface(riid, object);
        item->Release();
        return hr;
    });
}

}  // namespace medialib
