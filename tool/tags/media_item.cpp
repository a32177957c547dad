#include "tool/tags/media_item.h"

#include "platform/com/classtable.h"
#include "tool/common/protected_files.h"

namespace quillet {

ComPtr<MediaItem> OpenMediaItem(MediaLibrary* root, LPCWSTR path) {
    if (!root || !path || !*path) return {};

    // Only the format id is wanted from the content object.
    LONG format_id = 0;
    LONG status = 0;
    {
        ComPtr<IUnknown> content;
        const HRESULT hr = root->OpenContent(path, IID_MediaContent, content.ReleaseAndGetVoidAddress(),
                                             &format_id, &status);
        if (FAILED(hr) || !content) return {};
    }

    CLSID item_class{};
    if (FAILED(root->GetItemClass(format_id, &item_class))) return {};

    ComPtr<MediaItem> item;
    if (FAILED(CoCreateInstance(item_class, nullptr, CLSCTX_INPROC_SERVER, IID_MediaItem,
                                item.ReleaseAndGetVoidAddress())) ||
        !item) {
        return {};
    }
    if (FAILED(item->Load(path, kMediaItemWrite))) return {};
    LONG count = 0;
    if (FAILED(item->GetAttributeCount(&count)) || count < 1) return {};
    ProtectFile(path);  // the target or a base: never an export's destination
    return item;
}

}  // namespace quillet
