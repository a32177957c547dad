#include "tool/pictures/picture_files.h"

#include <string>

#include "library/media_ids.h"
#include "platform/com/classtable.h"
#include "platform/files/files.h"
#include "platform/text/text.h"
#include "tool/common/numbers_paths.h"
#include "tool/common/protected_files.h"
#include "tool/pictures/image_formats.h"

namespace quillet {

bool SavePicture(std::u16string* extension, LPCWSTR path, MediaPicture* picture, bool force_write) {
    if (extension) extension->clear();
    if (!path || !*path || !picture) return false;

    platform::Variant mime;
    LPCWSTR chosen = u"";
    if (SUCCEEDED(picture->GetProperty(medialib::attr::PictureMime, mime.Get())) &&
        SUCCEEDED(VariantChangeType(mime.Get(), mime.Get(), 0, VT_BSTR)) && mime->vt == VT_BSTR) {
        chosen = ExtensionForMimeType(mime->bstrVal);
    }
    std::u16string file_name = path;
    file_name += chosen;
    if (extension) *extension = chosen;

    if (!force_write && !IsMissingOrFolder(file_name.c_str())) return false;
    if (!MayExportOnto(file_name.c_str())) return false;  // the audio file of this run, a FIFO, a device

    std::u16string folder;
    if (SplitPath(file_name.c_str(), nullptr, &folder, nullptr, nullptr) != 0 && !folder.empty())
        SHCreateDirectory(nullptr, folder.c_str());

    // The save replaces the file; read-only would refuse it, and both
    // attributes are the user's to keep, so they are lifted for the save only.
    bool was_read_only = false;
    bool was_hidden = false;
    const DWORD before = GetFileAttributesW(file_name.c_str());
    if (before != INVALID_FILE_ATTRIBUTES && (before & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        was_read_only = (before & FILE_ATTRIBUTE_READONLY) != 0;
        was_hidden = (before & FILE_ATTRIBUTE_HIDDEN) != 0;
        if (was_read_only || was_hidden)
            SetFileAttributesW(file_name.c_str(),
                               before & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    }

    const bool saved = SUCCEEDED(picture->Save(file_name.c_str()));

    if (was_read_only || was_hidden) {
        const DWORD after = GetFileAttributesW(file_name.c_str());
        if (after != INVALID_FILE_ATTRIBUTES && (after & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            DWORD restored = after;
            if (was_read_only) restored |= FILE_ATTRIBUTE_READONLY;
            if (was_hidden) restored |= FILE_ATTRIBUTE_HIDDEN;
            SetFileAttributesW(file_name.c_str(), restored);
        }
    }
    return saved;
}

ComPtr<MediaPicture> MakeTextObject(LPCWSTR text) {
    if (!text || !*text) return {};
    const int length = lstrlenW(text);
    const int size = WideCharToMultiByte(CP_THREAD_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string bytes(static_cast<size_t>(size), '\0');
    const int converted =
        WideCharToMultiByte(CP_THREAD_ACP, 0, text, length, bytes.data(), size, nullptr, nullptr);
    if (converted <= 0) return {};

    ComPtr<MediaPicture> picture;
    if (FAILED(CoCreateInstance(CLSID_MediaPicture, nullptr, CLSCTX_INPROC_SERVER, IID_MediaPicture,
                                picture.ReleaseAndGetVoidAddress())) ||
        !picture) {
        return {};
    }
    if (FAILED(picture->SetData(static_cast<ULONG>(converted), reinterpret_cast<const BYTE*>(bytes.data()))))
        return {};
    platform::Variant mime = platform::Variant::FromString(u"text/plain");
    if (FAILED(picture->SetProperty(medialib::attr::PictureMime, mime.Get()))) return {};
    return picture;
}

}  // namespace quillet
