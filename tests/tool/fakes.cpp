#include "fakes.h"

#include <cstring>

#include "platform/text/text.h"

namespace fakes {
namespace {

std::string Narrow(std::u16string_view text) { return platform::Utf16ToUtf8(text); }

class FakeContent final : public platform::ComObject<FakeContent, testsupport::StubMediaContent> {
  public:
    explicit FakeContent(std::shared_ptr<LibraryState> state) : state_(std::move(state)) {
        ++state_->live_contents;
    }
    ~FakeContent() override { --state_->live_contents; }

  private:
    std::shared_ptr<LibraryState> state_;
};

class FakeLibrary final : public testsupport::StubMediaLibrary {
  public:
    FakeLibrary(std::shared_ptr<LibraryState> state) : state_(std::move(state)) { state_->references = 1; }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++state_->references); }
    ULONG Release() override {
        const long n = --state_->references;
        if (n == 0) {
            state_->destroyed = true;
            delete this;
        }
        return static_cast<ULONG>(n);
    }

    HRESULT Initialize() override {
        state_->calls.push_back("Initialize");
        return state_->tell_result;
    }
    HRESULT IsInitialized(LONG* count) override {
        state_->calls.push_back("IsInitialized");
        *count = state_->is_initialized;
        return state_->is_initialized_result;
    }
    HRESULT GetItemClass(LONG format_id, CLSID* item_class) override {
        state_->calls.push_back("GetItemClass(" + std::to_string(format_id) + ")");
        *item_class = CLSID_FakeItem;
        return S_OK;
    }
    HRESULT OpenContent(LPCWSTR path, REFIID riid, void** content, LONG* format_id, LONG* status) override {
        state_->opened.push_back(path);
        *content = nullptr;
        auto it = state_->items.find(path);
        if (it == state_->items.end() || riid != IID_MediaContent) return STG_E_FILENOTFOUND;
        state_->next_item = it->second;
        *content = static_cast<MediaContent*>(new FakeContent(state_));
        *format_id = 0x90012;
        *status = 0;
        return S_OK;
    }
    HRESULT SetApplication(LONG application_id) override {
        state_->calls.push_back("SetApplication(" + std::to_string(application_id) + ")");
        return state_->tell_result;
    }
    HRESULT SetApplication(LONG application_id, LONG mode, LPCWSTR reserved, BSTR extra) override {
        state_->calls.push_back("SetApplication(" + std::to_string(application_id) + "," +
                                std::to_string(mode) + "," + (reserved ? Narrow(reserved) : "null") + "," +
                                (extra ? Narrow(extra) : "null") + ")");
        return state_->tell_result;
    }

  private:
    ~FakeLibrary() = default;
    std::shared_ptr<LibraryState> state_;
};

}  // namespace

HRESULT FakePicture::GetData(ULONG* size, BYTE** data) {
    *size = static_cast<ULONG>(data_.size());
    *data = static_cast<BYTE*>(CoTaskMemAlloc(data_.size()));
    if (!data_.empty()) std::memcpy(*data, data_.data(), data_.size());
    return S_OK;
}

std::u16string DescribeVariant(const VARIANT& value) {
    switch (value.vt) {
        case VT_EMPTY:
            return u"EMPTY";
        case VT_I4:
            return u"I4:" + platform::Utf8ToUtf16(std::to_string(value.lVal));
        case VT_BSTR:
            return u"BSTR:" + std::u16string(platform::BstrView(value.bstrVal));
        case VT_DATE:
            return u"DATE:" + platform::FormatDateText(value.date);
        case VT_UNKNOWN:
            return u"UNKNOWN";
        default:
            return u"VT:" + platform::Utf8ToUtf16(std::to_string(value.vt));
    }
}

HRESULT FakeItem::Load(LPCWSTR path, LONG mode) {
    calls.push_back({"Load", 0, mode, {path}});
    loaded_path = path;
    loaded_mode = mode;
    return load_result;
}

HRESULT FakeItem::Close() {
    calls.push_back({"Close", 0, 0, {}});
    ++close_count;
    return close_result;
}

HRESULT FakeItem::GetAttribute(ULONG id, LONG* count, VARIANT** values) {
    calls.push_back({"Get", id, 0, {}});
    *count = 0;
    *values = nullptr;
    if (auto f = get_failures.find(id); f != get_failures.end()) {
        if (auto l = failure_leftovers.find(id); l != failure_leftovers.end()) {
            *values = static_cast<VARIANT*>(CoTaskMemAlloc(sizeof(VARIANT)));
            VariantInit(*values);
            (*values)->vt = VT_UNKNOWN;
            (*values)->punkVal = l->second;  // no reference taken: not the caller's to release
            *count = 1;
        }
        return f->second;
    }
    auto it = attributes_.find(id);
    if (it == attributes_.end()) return E_FAIL;
    const auto& stored = it->second;
    *values = static_cast<VARIANT*>(CoTaskMemAlloc(sizeof(VARIANT) * (stored.empty() ? 1 : stored.size())));
    for (size_t i = 0; i < stored.size(); ++i) {
        VariantInit(&(*values)[i]);
        VariantCopy(&(*values)[i], stored[i].Get());
    }
    *count = static_cast<LONG>(stored.size());
    return S_OK;
}

HRESULT FakeItem::SetAttribute(ULONG id, LONG count, VARIANT* values) {
    AttributeCall call{"Set", id, count, {}};
    for (LONG i = 0; i < count && values; ++i) call.values.push_back(DescribeVariant(values[i]));
    calls.push_back(call);
    if (auto f = set_failures.find(id); f != set_failures.end()) return f->second;
    if (count == 0) {
        attributes_.erase(id);
        std::erase(order_, id);
        return S_OK;
    }
    std::vector<platform::Variant> copy(static_cast<size_t>(count));
    for (LONG i = 0; i < count; ++i) VariantCopy(copy[static_cast<size_t>(i)].Get(), &values[i]);
    Put(id, std::move(copy));
    return S_OK;
}

HRESULT FakeItem::GetAttributeCount(LONG* count) {
    calls.push_back({"Count", 0, 0, {}});
    *count = static_cast<LONG>(order_.size());
    return S_OK;
}

HRESULT FakeItem::GetAttributeAt(LONG index, ULONG* id, LONG* count, VARIANT** values) {
    calls.push_back({"GetAt", 0, index, {}});
    if (index < 0 || static_cast<size_t>(index) >= order_.size()) return E_INVALIDARG;
    *id = order_[static_cast<size_t>(index)];
    const size_t mark = calls.size();
    const HRESULT hr = GetAttribute(*id, count, values);
    calls.resize(mark);  // the inner read is not a call of its own
    return hr;
}

void FakeItem::Put(ULONG id, std::vector<platform::Variant> values) {
    if (!attributes_.count(id)) order_.push_back(id);
    attributes_[id] = std::move(values);
}

std::u16string FakeItem::Text(ULONG id, size_t index) {
    auto it = attributes_.find(id);
    if (it == attributes_.end() || index >= it->second.size()) return {};
    const VARIANT* value = it->second[index].Get();
    return value->vt == VT_BSTR ? std::u16string(platform::BstrView(value->bstrVal))
                                : DescribeVariant(*value);
}

FakeLibraryRegistration::FakeLibraryRegistration() {
    std::shared_ptr<LibraryState> shared = state;
    root_ = platform::ClassRegistration(CLSID_MediaLibrary, [shared](REFIID riid, void** object) -> HRESULT {
        *object = nullptr;
        for (int v = 1; v <= 5; ++v) {
            if (riid != kMediaLibraryInterfaceIds[v - 1]) continue;
            shared->versions_tried.push_back(v);
            if (v < shared->accepted_version) return E_NOINTERFACE;
            *object = static_cast<MediaLibrary*>(new FakeLibrary(shared));
            return S_OK;
        }
        return E_NOINTERFACE;
    });
    item_class_ =
        platform::ClassRegistration(CLSID_FakeItem, [shared](REFIID riid, void** object) -> HRESULT {
            *object = nullptr;
            ComPtr<FakeItem> item = std::move(shared->next_item);
            if (!item) return E_FAIL;
            return item->QueryInterface(riid, object);
        });
}

ComPtr<FakeItem> FakeLibraryRegistration::Openable(const std::u16string& path) {
    ComPtr<FakeItem> item = ComPtr<FakeItem>::Adopt(new FakeItem);
    state->items[path] = item;
    return item;
}

}  // namespace fakes
