// The root object: the application identity, opening files, and the
// conversion settings.
#include <atomic>

#include "medialib/com/barrier.h"
#include "medialib/com/classes.h"
#include "medialib/com/content.h"

namespace medialib {
namespace {

class LibraryRoot final : public MediaLibrary {
  public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        bool known = riid == IID_IUnknown;
        for (const IID& iid : kMediaLibraryInterfaceIds) known |= (riid == iid);
        if (!known) return E_NOINTERFACE;
        *object = static_cast<MediaLibrary*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

    HRESULT Initialize() override {
        return Guarded([&]() -> HRESULT {
            told_ = 1;
            return S_OK;
        });
    }
    HRESULT IsInitialized(LONG* count) override {
        return Guarded([&]() -> HRESULT {
            if (!count) return E_POINTER;
            *count = told_;
            return S_OK;
        });
    }
    HRESULT SetApplication(LONG application_id) override {
        return Guarded([&]() -> HRESULT {
            if (application_id < 0) return E_INVALIDARG;
            application_id_ = application_id;
            told_ = 1;
            return S_OK;
        });
    }
    HRESULT SetApplication(LONG application_id, LONG mode, LPCWSTR, BSTR) override {
        return Guarded([&]() -> HRESULT {
            if (application_id < 0) return E_INVALIDARG;
            application_id_ = application_id;
            mode_ = mode;
            told_ = 1;
            return S_OK;
        });
    }

    HRESULT GetItemClass(LONG format_id, CLSID* item_class) override {
        return Guarded([&]() -> HRESULT {
            if (!item_class) return E_POINTER;
            *item_class = GUID_NULL;
            if (!IsKnownFormatId(format_id)) return MEDIALIB_E_UNKNOWNFORMAT;
            *item_class = CLSID_MediaItem;
            return S_OK;
        });
    }

    HRESULT OpenContent(LPCWSTR path, REFIID riid, void** content, LONG* format_id, LONG* status) override {
        return Guarded([&]() -> HRESULT {
            if (content) *content = nullptr;
            if (format_id) *format_id = 0;
            if (status) *status = 0;
            if (!path || !content) return E_POINTER;
            return OpenContentObject(path, riid, content, format_id, status);
        });
    }

    HRESULT SetProgressSink(ProgressSink* sink) override {
        return Guarded([&]() -> HRESULT {
            sink_ = sink;  // not owned: the caller keeps it alive for the conversion
            return S_OK;
        });
    }
    HRESULT SetWorkFolder(LPCWSTR folder) override {
        return Guarded([&]() -> HRESULT {
            work_folder_ = folder ? std::u16string(folder) : std::u16string();
            return S_OK;
        });
    }
    HRESULT SetBitRate(LONG bits_per_second) override {
        return Guarded([&]() -> HRESULT {
            bit_rate_ = bits_per_second;
            return S_OK;
        });
    }
    HRESULT Convert(LONG, const ConvertSource*, LONG, const LONG*, LONG, LONG) override { return E_NOTIMPL; }

    HRESULT Reserved4() override { return E_NOTIMPL; }
    HRESULT Reserved5() override { return E_NOTIMPL; }
    HRESULT Reserved6() override { return E_NOTIMPL; }
    HRESULT Reserved8() override { return E_NOTIMPL; }
    HRESULT Reserved10() override { return E_NOTIMPL; }
    HRESULT Reserved11() override { return E_NOTIMPL; }
    HRESULT Reserved13() override { return E_NOTIMPL; }
    HRESULT Reserved14() override { return E_NOTIMPL; }
    HRESULT Reserved15() override { return E_NOTIMPL; }
    HRESULT Reserved17() override { return E_NOTIMPL; }
    HRESULT Reserved20() override { return E_NOTIMPL; }
    HRESULT Reserved22() override { return E_NOTIMPL; }

  private:
    ~LibraryRoot() = default;

    std::atomic<ULONG> refs_{1};
    LONG told_ = 0;
    LONG application_id_ = 0;
    LONG mode_ = 0;
    ProgressSink* sink_ = nullptr;
    std::u16string work_folder_;
    LONG bit_rate_ = 0;
};

}  // namespace

HRESULT CreateLibraryRootObject(REFIID riid, void** object) {
    return Guarded([&]() -> HRESULT {
        auto* root = new LibraryRoot();
        HRESULT hr = root->QueryInterface(riid, object);
        root->Release();
        return hr;
    });
}

}  // namespace medialib
