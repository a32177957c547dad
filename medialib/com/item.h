// The MediaItem implementation: one file's attributes. Load reads the file
// through the engine's container handlers; SetAttribute changes a working
// copy; Close writes the copy back when the item was loaded for writing and
// something changed.
//
// Both the item class and the content object carry it: the content object
// answers MediaItem for its own file, and the item class makes free-standing
// items for callers that create one by the class GetItemClass names.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>

#include "library/media_library.h"
#include "medialib/core/container.h"

namespace medialib {

class MediaItemImpl : public MediaItem {
  public:
    HRESULT Load(LPCWSTR path, LONG mode) override;
    HRESULT Close() override;
    HRESULT GetAttribute(ULONG id, LONG* count, VARIANT** values) override;
    HRESULT SetAttribute(ULONG id, LONG count, VARIANT* values) override;
    HRESULT GetAttributeCount(LONG* count) override;
    HRESULT GetAttributeAt(LONG index, ULONG* id, LONG* count, VARIANT** values) override;

  protected:
    ~MediaItemImpl() = default;

  private:
    std::mutex mutex_;
    std::unique_ptr<OpenedFile> file_;
    std::filesystem::path path_;
    LONG mode_ = 0;
    AttributeSet attributes_;
    bool dirty_ = false;
};

}  // namespace medialib
