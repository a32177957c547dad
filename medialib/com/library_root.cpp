// The root object: the application identity, opening files, and the
// conversion settings.
#include <atomic>
#include <mutex>
#include <thread>

#include "medialib/com/barrier.h"
#include "medialib/com/classes.h"
#include "medialib/com/content.h"
#include "medialib/convert/converter.h"
#include "platform/files/files.h"
#include "platform/text/text.h"

namespace medialib {
namespace {

class LibraryRoot final : public MediaLibrary {
  public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        bool known = riid == IID_IUnknown;
        for (const IID& version : kMediaLibraryInterfaceIds) known |= (riid == version);
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
            std::lock_guard<std::mutex> lock(mutex_);
            sink_ = sink;  // not owned: the caller keeps it alive for the conversion
            return S_OK;
        });
    }
    HRESULT SetWorkFolder(LPCWSTR folder) override {
        return Guarded([&]() -> HRESULT {
            std::lock_guard<std::mutex> lock(mutex_);
            work_folder_ = folder ? std::u16string(folder) : std::u16string();
            return S_OK;
        });
    }
    HRESULT SetBitRate(LONG bits_per_second) override {
        return Guarded([&]() -> HRESULT {
            if (bits_per_second < 0) return E_INVALIDARG;
            std::lock_guard<std::mutex> lock(mutex_);
            bit_rate_ = bits_per_second;
            return S_OK;
        });
    }

    // Starts one conversion on a worker thread of the library and returns at
    // once; the sink hears how it goes. One source and one target per call.
    HRESULT Convert(LONG source_count, const ConvertSource* sources, LONG target_count,
                    const LONG* format_code, LONG, LONG) override {
        return Guarded([&]() -> HRESULT {
            if (source_count != 1 || target_count != 1) return E_INVALIDARG;
            if (!sources || !sources[0].path || !format_code) return E_POINTER;
            std::lock_guard<std::mutex> lock(mutex_);
            if (work_folder_.empty()) return E_INVALIDARG;
            // One conversion at a time: the previous worker has reported its end
            // before a caller starts the next, so this join does not wait long.
            if (worker_.joinable()) worker_.join();
            conversion::Request request;
            request.source = platform::NativePath(sources[0].path);
            request.format_code = *format_code;
            request.bit_rate = bit_rate_;
            request.work_folder = platform::NativePath(work_folder_);
            ProgressSink* sink = sink_;
            worker_ = std::thread([request, sink] { RunConversion(request, sink); });
            return S_OK;
        });
    }

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
    ~LibraryRoot() {
        if (worker_.joinable()) worker_.join();
    }

    static void Notify(ProgressSink* sink, LONG state, LONG code, LPCWSTR path, LONG percent) {
        if (!sink) return;
        LONG flag = 0;
        sink->Notify(0, state, code, path, percent, 0, &flag);
    }

    static void RunConversion(const conversion::Request& request, ProgressSink* sink) {
        Notify(sink, kStateStarted, 0, nullptr, 0);
        const conversion::Result result = conversion::Convert(
            request, [sink](int percent) { Notify(sink, kStateWorking, 0, nullptr, percent); });
        if (!result.ok) {
            Notify(sink, kStateStopped, 0, nullptr, 0);
            return;
        }
        const std::u16string path = platform::Utf8ToUtf16(result.output.string());
        Notify(sink, kStateDone, result.format_code, path.c_str(), 100);
    }

    // Conversion states reported to the sink; the fifth argument of Notify
    // carries the percentage done.
    static constexpr LONG kStateStarted = 0x1001;
    static constexpr LONG kStateDone = 0x1003;
    static constexpr LONG kStateStopped = 0x1004;
    static constexpr LONG kStateWorking = 0x1006;

    std::atomic<ULONG> refs_{1};
    LONG told_ = 0;
    LONG application_id_ = 0;
    LONG mode_ = 0;
    std::mutex mutex_;  // the conversion settings and the worker
    ProgressSink* sink_ = nullptr;
    std::u16string work_folder_;
    LONG bit_rate_ = 0;
    std::thread worker_;
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
