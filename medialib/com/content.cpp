#include "medialib/com/content.h"

#include <string>

#include "library/media_ids.h"
#include "medialib/com/classes.h"
#include "medialib/com/item.h"
#include "medialib/core/container.h"
#include "medialib/detect/parse_cache.h"
#include "platform/files/files.h"
#include "platform/text/text.h"

namespace medialib {
namespace {

// A file opened by the library. It also answers MediaItem for that file: the
// item starts unloaded, and its caller loads it (for reading or writing) when
// it needs the attributes.
class Content final : public platform::ComObject<Content, MediaContent, MediaItemImpl> {
  public:
    explicit Content(std::u16string path) : path_(std::move(path)) {}

    // A new player; the caller opens this file (or another) in it.
    HRESULT CreatePlayer(REFIID riid, void** player) override {
        if (!player) return E_POINTER;
        return CreatePlayerObject(riid, player);
    }
    HRESULT Reserved3() override { return E_NOTIMPL; }
    HRESULT Reserved4() override { return E_NOTIMPL; }
    HRESULT Reserved5() override { return E_NOTIMPL; }
    HRESULT Reserved6() override { return E_NOTIMPL; }
    HRESULT Reserved7() override { return E_NOTIMPL; }
    HRESULT Reserved8() override { return E_NOTIMPL; }
    HRESULT Reserved9() override { return E_NOTIMPL; }

  private:
    std::u16string path_;
};

}  // namespace

// Paths cross the library boundary as UTF-16 and name UTF-8 files here.
std::filesystem::path FilePathOf(LPCWSTR path) { return std::filesystem::path(platform::NativePath(path)); }

bool IsKnownFormatId(LONG format_id) {
    switch (format_id) {
        case container::Omg:
        case container::ProtectedOma:
        case container::Oma:
        case container::Kdr:
        case container::Mp3:
        case container::Wav:
        case container::ThreeGp:
        case container::Wma:
            return true;
        default:
            return false;
    }
}

HRESULT OpenContentObject(LPCWSTR path, REFIID riid, void** content, LONG* format_id, LONG* status) {
    if (!*path) return E_INVALIDARG;
    // The parse stays with the engine for the item that loads this file next
    // (usually this content's own, right away).
    const std::optional<int32_t> container = EngineParseCache().ParseAndKeep(FilePathOf(path));
    if (!container) {
        if (status) *status = -1;
        return MEDIALIB_E_UNKNOWNFORMAT;
    }
    auto* object = new Content(std::u16string(path));
    HRESULT hr = object->QueryInterface(riid, content);
    object->Release();
    if (FAILED(hr)) return hr;
    if (format_id) *format_id = *container;
    return S_OK;
}

}  // namespace medialib
