// Fake picture objects and a fake library that serves one test-owned item,
// for the plug-in's album-art code.
//
// FakePicture holds bytes and a MIME type and counts its own references.
// FakeItemLibrary registers, for its lifetime, the library root class (whose
// OpenContent gives a content object that hands out the test's item) and the
// picture class (whose objects are FakePictures), and logs the calls that
// matter to the album-art rules: "OpenContent(<path>)", "content QI item",
// "create picture", "picture SetData(<bytes>)", "picture SetProperty(<mime>)".
#pragma once

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "library/media_ids.h"
#include "library/media_library.h"
#include "platform/com/classtable.h"
#include "platform/com/variant.h"
#include "platform/text/text.h"
#include "support/media_library_stubs.h"

namespace fakes {

class FakePicture final : public testsupport::StubMediaPicture {
  public:
    explicit FakePicture(std::string bytes = {}, std::string mime = {},
                         std::vector<std::string>* log = nullptr)
        : bytes(std::move(bytes)), mime(std::move(mime)), log_(log) {}

    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    HRESULT QueryInterface(REFIID riid, void** object) override {
        *object = nullptr;
        if (riid != IID_IUnknown && riid != IID_MediaPicture) return E_NOINTERFACE;
        *object = static_cast<MediaPicture*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT GetProperty(ULONG id, VARIANT* value) override {
        if (id != medialib::attr::PictureMime) return E_INVALIDARG;
        VariantClear(value);
        value->vt = VT_BSTR;
        value->bstrVal = platform::AllocBstr(platform::Utf8ToUtf16(mime));
        return S_OK;
    }
    HRESULT SetProperty(ULONG id, const VARIANT* value) override {
        if (id != medialib::attr::PictureMime || value->vt != VT_BSTR) return E_INVALIDARG;
        mime = platform::Utf16ToUtf8(platform::BstrView(value->bstrVal));
        if (log_) log_->push_back("picture SetProperty(" + mime + ")");
        return set_property_result;
    }
    HRESULT GetData(ULONG* size, BYTE** data) override {
        *size = 0;
        *data = nullptr;
        if (FAILED(get_data_result)) return get_data_result;
        *data = static_cast<BYTE*>(CoTaskMemAlloc(bytes.size() ? bytes.size() : 1));
        if (!bytes.empty()) std::memcpy(*data, bytes.data(), bytes.size());
        *size = static_cast<ULONG>(bytes.size());
        return S_OK;
    }
    HRESULT SetData(ULONG size, const BYTE* data) override {
        bytes.assign(reinterpret_cast<const char*>(data), size);
        if (log_) log_->push_back("picture SetData(" + bytes + ")");
        return set_data_result;
    }

    std::string bytes;
    std::string mime;
    HRESULT get_data_result = S_OK;
    HRESULT set_data_result = S_OK;
    HRESULT set_property_result = S_OK;

  private:
    ~FakePicture() = default;
    std::vector<std::string>* log_;
    std::atomic<ULONG> refs_{1};
};

// A VARIANT holding a new picture of `bytes` (the VARIANT owns the one reference).
inline platform::Variant PictureValue(std::string bytes) {
    platform::Variant value;
    value->vt = VT_UNKNOWN;
    value->punkVal = new FakePicture(std::move(bytes));
    return value;
}

class FakeItemLibrary {
  public:
    // `item` (borrowed) is what every opened content hands out.
    explicit FakeItemLibrary(MediaItem* item)
        : m_item(item),
          m_root_class(CLSID_MediaLibrary,
                       [this](REFIID riid, void** object) {
                           if (!available) return REGDB_E_CLASSNOTREG;
                           auto* root = new Root(this);
                           HRESULT hr = root->QueryInterface(riid, object);
                           root->Release();
                           return hr;
                       }),
          m_picture_class(CLSID_MediaPicture, [this](REFIID riid, void** object) {
              log.push_back("create picture");
              *object = nullptr;
              if (FAILED(picture_class_result)) return picture_class_result;
              auto* picture = new FakePicture({}, {}, &log);
              picture->set_data_result = picture_set_data_result;
              HRESULT hr = picture->QueryInterface(riid, object);
              picture->Release();
              return hr;
          }) {}

    bool available = true;                // the root class can be created
    HRESULT open_result = S_OK;           // OpenContent's status
    bool content_gives_item = true;       // the content answers MediaItem
    HRESULT picture_class_result = S_OK;  // creating a picture object
    HRESULT picture_set_data_result = S_OK;
    std::vector<std::string> log;

  private:
    template <typename Interface>
    class Counted : public Interface {
      public:
        ULONG AddRef() override { return ++m_refs; }
        ULONG Release() override {
            const ULONG n = --m_refs;
            if (n == 0) delete this;
            return n;
        }
        virtual ~Counted() = default;

      private:
        std::atomic<ULONG> m_refs{1};
    };

    class Content final : public Counted<testsupport::StubMediaContent> {
      public:
        explicit Content(FakeItemLibrary* owner) : m_owner(owner) {}
        HRESULT QueryInterface(REFIID riid, void** object) override {
            *object = nullptr;
            if (riid == IID_MediaItem) {
                m_owner->log.push_back("content QI item");
                if (!m_owner->content_gives_item) return E_NOINTERFACE;
                return m_owner->m_item->QueryInterface(riid, object);
            }
            if (riid != IID_IUnknown && riid != IID_MediaContent) return E_NOINTERFACE;
            *object = static_cast<MediaContent*>(this);
            AddRef();
            return S_OK;
        }

      private:
        FakeItemLibrary* m_owner;
    };

    class Root final : public Counted<testsupport::StubMediaLibrary> {
      public:
        explicit Root(FakeItemLibrary* owner) : m_owner(owner) {}
        HRESULT QueryInterface(REFIID riid, void** object) override {
            *object = nullptr;
            bool known = riid == IID_IUnknown;
            for (const IID& iid : kMediaLibraryInterfaceIds) known |= riid == iid;
            if (!known) return E_NOINTERFACE;
            *object = static_cast<MediaLibrary*>(this);
            AddRef();
            return S_OK;
        }
        HRESULT Initialize() override { return S_OK; }
        HRESULT IsInitialized(LONG* count) override {
            *count = 1;
            return S_OK;
        }
        HRESULT SetApplication(LONG) override { return S_OK; }
        HRESULT SetApplication(LONG, LONG, LPCWSTR, BSTR) override { return S_OK; }
        HRESULT OpenContent(LPCWSTR path, REFIID riid, void** content, LONG*, LONG*) override {
            m_owner->log.push_back("OpenContent(" + platform::Utf16ToUtf8(path ? path : u"<null>") + ")");
            *content = nullptr;
            if (riid != IID_MediaContent) return E_NOINTERFACE;
            if (FAILED(m_owner->open_result)) return m_owner->open_result;
            *content = static_cast<MediaContent*>(new Content(m_owner));
            return S_OK;
        }

      private:
        FakeItemLibrary* m_owner;
    };

    MediaItem* m_item;
    platform::ClassRegistration m_root_class;
    platform::ClassRegistration m_picture_class;
};

}  // namespace fakes
