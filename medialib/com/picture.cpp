// MediaPicture: picture bytes with a MIME type (property PictureMime), saved to and
// loaded from files byte for byte.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <system_error>

#include "library/media_ids.h"
#include "medialib/com/barrier.h"
#include "medialib/com/classes.h"
#include "medialib/com/content.h"
#include "medialib/core/atomic_save.h"
#include "medialib/core/container.h"
#include "medialib/core/technical.h"

namespace medialib {
namespace {

namespace fs = std::filesystem;

class Picture final : public platform::ComObject<Picture, MediaPicture> {
  public:
    explicit Picture(std::shared_ptr<PictureData> data) : data_(std::move(data)) {}

    HRESULT GetProperty(ULONG id, VARIANT* value) override {
        return Guarded([&]() -> HRESULT {
            if (!value) return E_POINTER;
            if (id != attr::PictureMime) return E_INVALIDARG;
            std::lock_guard lock(mutex_);
            VariantClear(value);
            value->bstrVal = platform::AllocBstr(std::u16string(data_->mime.begin(), data_->mime.end()));
            if (!value->bstrVal) return E_OUTOFMEMORY;
            value->vt = VT_BSTR;
            return S_OK;
        });
    }

    HRESULT SetProperty(ULONG id, const VARIANT* value) override {
        return Guarded([&]() -> HRESULT {
            if (!value) return E_POINTER;
            if (id != attr::PictureMime) return E_INVALIDARG;
            platform::Variant text;
            if (FAILED(VariantChangeType(text.Get(), value, 0, VT_BSTR))) return DISP_E_TYPEMISMATCH;
            std::u16string_view m = platform::BstrView(text->bstrVal);
            std::string mime;
            for (char16_t c : m) {
                if (c >= 0x80) return E_INVALIDARG;  // MIME types are ASCII
                mime.push_back(static_cast<char>(c));
            }
            std::lock_guard lock(mutex_);
            data_->mime = std::move(mime);
            return S_OK;
        });
    }

    HRESULT GetData(ULONG* size, BYTE** data) override {
        return Guarded([&]() -> HRESULT {
            if (!size || !data) return E_POINTER;
            std::lock_guard lock(mutex_);
            *size = 0;
            *data = nullptr;
            auto* copy = static_cast<BYTE*>(CoTaskMemAlloc(data_->bytes.size()));
            if (!copy) return E_OUTOFMEMORY;
            if (!data_->bytes.empty()) std::memcpy(copy, data_->bytes.data(), data_->bytes.size());
            *size = static_cast<ULONG>(data_->bytes.size());
            *data = copy;
            return S_OK;
        });
    }

    HRESULT SetData(ULONG size, const BYTE* data) override {
        return Guarded([&]() -> HRESULT {
            if (size && !data) return E_POINTER;
            std::lock_guard lock(mutex_);
            data_->bytes.assign(data, data + size);
            return S_OK;
        });
    }

    HRESULT Save(LPCWSTR path) override {
        return Guarded([&]() -> HRESULT {
            if (!path || !*path) return E_INVALIDARG;
            const fs::path target = FilePathOf(path);
            std::vector<uint8_t> bytes;
            {
                std::lock_guard lock(mutex_);
                bytes = data_->bytes;
            }
            // Written whole or not at all: a failed write never leaves a
            // half-written picture, nor damages the file it would replace.
            if (!WriteWholeFile(target, [&](int fd) { return WriteAll(fd, bytes.data(), bytes.size()); }))
                return STG_E_WRITEFAULT;
            return S_OK;
        });
    }

    HRESULT Load(LPCWSTR path) override {
        return Guarded([&]() -> HRESULT {
            if (!path || !*path) return E_INVALIDARG;
            // Regular files only: a FIFO or a device could wait forever or
            // never end.
            const std::unique_ptr<ByteSource> source = OpenFileSource(FilePathOf(path));
            if (!source) return STG_E_FILENOTFOUND;
            std::vector<uint8_t> bytes(static_cast<size_t>(source->Size()));
            if (source->ReadAt(0, bytes.data(), bytes.size()) != bytes.size()) return STG_E_READFAULT;
            std::lock_guard lock(mutex_);
            data_->mime = SniffImageMime(bytes.data(), bytes.size());
            data_->bytes = std::move(bytes);
            return S_OK;
        });
    }

  private:
    std::mutex mutex_;
    std::shared_ptr<PictureData> data_;
};

}  // namespace

MediaPicture* NewPictureObject(std::shared_ptr<PictureData> data) {
    if (!data) data = std::make_shared<PictureData>();
    return new Picture(std::move(data));
}

HRESULT CreatePictureObject(REFIID riid, void** object) {
    return Guarded([&]() -> HRESULT {
        MediaPicture* picture = NewPictureObject(nullptr);
        HRESULT hr = picture->QueryInterface(riid, object);
        picture->Release();
        return hr;
    });
}

}  // namespace medialib
