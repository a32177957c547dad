// Opens files through the built media library module exactly as the
// deliverables do: root object → OpenContent → GetItemClass → CoCreateInstance
// → Load.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/identity.h"
#include "platform/com/apartment.h"
#include "platform/com/classtable.h"
#include "platform/text/text.h"
#include "support/test_support.h"

namespace comtest {

inline std::u16string Wide(const std::filesystem::path& p) { return platform::Utf8ToUtf16(p.string()); }

// The values of one attribute and the status of the call that gave them,
// freed as the callers free them.
struct Values : platform::VariantArray {
    HRESULT hr = E_FAIL;
    std::u16string Text(LONG i = 0) const {
        platform::Variant v;
        if (i >= Count() || FAILED(VariantChangeType(v.Get(), &Array()[i], 0, VT_BSTR))) return u"<none>";
        return std::u16string(platform::BstrView(v->bstrVal));
    }
};

class MediaLibraryModule : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        int version = 0;
        MediaLibrary* root = nullptr;
        ASSERT_TRUE(library::CreateLibraryRoot(&root, &version))
            << "bin/registry.reg registers bin/medialib.so";
        root_.Attach(root);
    }
    void TearDown() override {
        root_.Reset();
        CoUninitialize();
    }

    ComPtr<MediaItem> Open(const std::filesystem::path& path, LONG mode) {
        std::u16string p = Wide(path);
        ComPtr<MediaContent> content;
        LONG format = 0, status = 0;
        if (FAILED(root_->OpenContent(p.c_str(), IID_MediaContent, content.ReleaseAndGetVoidAddress(),
                                      &format, &status)) ||
            !content)
            return {};
        CLSID item_class{};
        if (FAILED(root_->GetItemClass(format, &item_class))) return {};
        ComPtr<MediaItem> item;
        if (FAILED(CoCreateInstance(item_class, nullptr, CLSCTX_INPROC_SERVER, IID_MediaItem,
                                    item.ReleaseAndGetVoidAddress())))
            return {};
        if (FAILED(item->Load(p.c_str(), mode))) return {};
        return item;
    }

    static void Get(MediaItem* item, ULONG id, Values* out) {
        out->hr = item->GetAttribute(id, out->CountSlot(), out->ArraySlot());
    }

    static HRESULT SetText(MediaItem* item, ULONG id, std::u16string_view text) {
        platform::Variant v = platform::Variant::FromString(text);
        return item->SetAttribute(id, 1, v.Get());
    }

    ComPtr<MediaLibrary> root_;
};

}  // namespace comtest
