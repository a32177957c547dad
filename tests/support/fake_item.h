// A fake MediaItem for the plug-in's tag and picture code: attributes held as
// VARIANT lists that a test configures, every call recorded in a log.
//
// Log entries: "Load(<mode>)", "Get(0x1207)", "Set(0x1207 [<values>])" with
// each value written as 'text', i:<number>, d:<date text>, r:<real>,
// pic:<the picture's bytes> or <vt>, "Close". GetAttribute hands out copies in a CoTaskMemAlloc'ed array,
// as the library does, so the sanitizers see every array the code under test
// fails to free. SetAttribute applies the values (count 0 removes), so a
// test can read back what the item would store.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "library/media_library.h"
#include "platform/text/text.h"
#include "support/media_library_stubs.h"

namespace fakes {

inline std::string Describe(const VARIANT& v) {
    switch (v.vt) {
        case VT_BSTR:
            return "'" + platform::Utf16ToUtf8(platform::BstrView(v.bstrVal)) + "'";
        case VT_I4:
            return "i:" + std::to_string(v.lVal);
        case VT_DATE:
            return "d:" + platform::Utf16ToUtf8(platform::FormatDateText(v.date));
        case VT_R8:
            return "r:" + std::to_string(v.dblVal);
        case VT_UNKNOWN:
        case VT_DISPATCH: {
            // A picture shows as its bytes (tests give them readable ones).
            MediaPicture* picture = nullptr;
            if (!v.punkVal ||
                FAILED(v.punkVal->QueryInterface(IID_MediaPicture, reinterpret_cast<void**>(&picture))))
                return "<" + std::to_string(v.vt) + ">";
            ULONG size = 0;
            BYTE* bytes = nullptr;
            std::string text = "pic:";
            if (SUCCEEDED(picture->GetData(&size, &bytes)) && bytes)
                text.append(reinterpret_cast<char*>(bytes), size);
            CoTaskMemFree(bytes);
            picture->Release();
            return text;
        }
        default:
            return "<" + std::to_string(v.vt) + ">";
    }
}

inline std::string Hex(ULONG id) {
    char buffer[16];
    std::snprintf(buffer, sizeof(buffer), "0x%04X", static_cast<unsigned>(id));
    return buffer;
}

class FakeAttributeItem final : public testsupport::StubMediaItem {
  public:
    using Values = std::vector<platform::Variant>;

    // Lives on the test's stack: reference counting is not needed.
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT QueryInterface(REFIID riid, void** object) override {
        *object = nullptr;
        if (riid != IID_IUnknown && riid != IID_MediaItem) return E_NOINTERFACE;
        *object = static_cast<MediaItem*>(this);
        return S_OK;
    }

    HRESULT Load(LPCWSTR path, LONG mode) override {
        log.push_back("Load(" + std::to_string(mode) + ")");
        loaded_path = path ? platform::Utf16ToUtf8(path) : "<null>";
        if (on_load) on_load();
        return load_result;
    }
    HRESULT Close() override {
        log.push_back("Close");
        return close_result;
    }
    HRESULT GetAttribute(ULONG id, LONG* count, VARIANT** values) override {
        log.push_back("Get(" + Hex(id) + ")");
        *count = 0;
        *values = nullptr;
        if (auto it = get_results.find(id); it != get_results.end()) {
            // A failure that still hands over an array: the caller must free it.
            if (FAILED(it->second)) *values = static_cast<VARIANT*>(CoTaskMemAlloc(sizeof(VARIANT) * 2));
            return it->second;
        }
        if (empty_successes.count(id)) return S_OK;
        if (null_arrays.count(id)) {
            *count = 1;
            return S_OK;
        }
        auto it = attributes.find(id);
        if (it == attributes.end() || it->second.empty()) return E_FAIL;
        auto* array = static_cast<VARIANT*>(CoTaskMemAlloc(sizeof(VARIANT) * it->second.size()));
        for (size_t i = 0; i < it->second.size(); ++i) {
            VariantInit(&array[i]);
            VariantCopy(&array[i], it->second[i].Get());
        }
        *count = static_cast<LONG>(it->second.size());
        *values = array;
        return S_OK;
    }
    HRESULT SetAttribute(ULONG id, LONG count, VARIANT* values) override {
        std::string entry = "Set(" + Hex(id) + " [";
        Values stored;
        for (LONG i = 0; i < count; ++i) {
            entry += (i ? " " : "") + Describe(values[i]);
            platform::Variant copy;
            VariantCopy(copy.Get(), &values[i]);
            stored.push_back(copy);
        }
        log.push_back(entry + "])");
        if (set_failures.count(id)) return E_FAIL;
        if (count == 0)
            attributes.erase(id);
        else
            attributes[id] = stored;
        return S_OK;
    }

    void SetText(ULONG id, std::initializer_list<std::u16string_view> texts) {
        Values values;
        for (auto text : texts) values.push_back(platform::Variant::FromString(text));
        attributes[id] = values;
    }
    void SetInt(ULONG id, LONG value) { attributes[id] = {platform::Variant::FromInt(value)}; }
    void SetReal(ULONG id, double value) {
        platform::Variant v;
        v->vt = VT_R8;
        v->dblVal = value;
        attributes[id] = {v};
    }
    void SetDate(ULONG id, std::u16string_view text) {
        DATE date = 0;
        platform::ParseDateText(text, &date);
        attributes[id] = {platform::Variant::FromDate(date)};
    }

    // Entries of the log that start with `prefix`.
    std::vector<std::string> Entries(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& e : log)
            if (e.rfind(prefix, 0) == 0) out.push_back(e);
        return out;
    }

    std::map<ULONG, Values> attributes;
    std::map<ULONG, HRESULT> get_results;  // GetAttribute answers this status instead
    std::set<ULONG> empty_successes;       // success with no value
    std::set<ULONG> null_arrays;           // success with a count but no array
    std::set<ULONG> set_failures;          // SetAttribute fails (after logging)
    HRESULT load_result = S_OK;
    HRESULT close_result = S_OK;
    std::function<void()> on_load;
    std::string loaded_path;
    std::vector<std::string> log;
};

}  // namespace fakes
