// Enumerators over a snapshot: pins, filters (referenced objects) and media
// types (copies the caller frees).
#pragma once

#include <atomic>
#include <vector>

#include "platform/com/memory.h"
#include "platform/graph/dshow.h"

namespace platform::graph {

template <typename Enum, typename T>
class ObjectEnumerator final : public platform::ComObject<ObjectEnumerator<Enum, T>, Enum> {
  public:
    explicit ObjectEnumerator(std::vector<ComPtr<T>> items) : items_(std::move(items)) {}
    HRESULT Next(ULONG count, T** out, ULONG* fetched) override {
        if (!out) return E_POINTER;
        ULONG n = 0;
        while (n < count && pos_ < items_.size()) {
            out[n] = items_[pos_++].Get();
            out[n]->AddRef();
            ++n;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        pos_ = std::min(items_.size(), pos_ + count);
        return pos_ < items_.size() ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        pos_ = 0;
        return S_OK;
    }
    HRESULT Clone(Enum** out) override {
        if (!out) return E_POINTER;
        auto* copy = new ObjectEnumerator(items_);
        copy->pos_ = pos_;
        *out = copy;
        return S_OK;
    }

  private:
    std::vector<ComPtr<T>> items_;
    size_t pos_ = 0;
};

class MediaTypeEnumerator final : public platform::ComObject<MediaTypeEnumerator, IEnumMediaTypes> {
  public:
    explicit MediaTypeEnumerator(std::vector<AM_MEDIA_TYPE> types) : types_(std::move(types)) {}
    ~MediaTypeEnumerator() override {
        for (auto& t : types_) FreeMediaType(t);
    }
    HRESULT Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* fetched) override {
        if (!out) return E_POINTER;
        ULONG n = 0;
        while (n < count && pos_ < types_.size()) {
            auto* t = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
            if (!t || FAILED(CopyMediaType(t, &types_[pos_]))) {
                CoTaskMemFree(t);
                break;
            }
            out[n++] = t;
            ++pos_;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        pos_ = std::min(types_.size(), pos_ + count);
        return pos_ < types_.size() ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        pos_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumMediaTypes** out) override {
        if (!out) return E_POINTER;
        std::vector<AM_MEDIA_TYPE> copy(types_.size());
        for (size_t i = 0; i < types_.size(); ++i) CopyMediaType(&copy[i], &types_[i]);
        auto* e = new MediaTypeEnumerator(std::move(copy));
        e->pos_ = pos_;
        *out = e;
        return S_OK;
    }

  private:
    std::vector<AM_MEDIA_TYPE> types_;
    size_t pos_ = 0;
};

}  // namespace platform::graph
