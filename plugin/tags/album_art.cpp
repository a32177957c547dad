#include "plugin/tags/album_art.h"

#include <cstring>
#include <limits>
#include <utility>

#include "library/attribute_read.h"
#include "library/media_ids.h"
#include "platform/com/apartment.h"
#include "platform/com/classtable.h"
#include "plugin/host/file_claims.h"
#include "plugin/host/initquit.h"

namespace {

using medialib::attr::Jacket;
using medialib::attr::JacketAlt;

// Only this many elements of a jacket list are ever read.
constexpr LONG kArtSlots = static_cast<LONG>(medialib::attr::MaxJacketPictures);

// The album art id of each art slot.
constexpr GUID kSlotIds[kArtSlots] = {album_art_ids::cover_front, album_art_ids::cover_back,
                                      album_art_ids::disc, album_art_ids::icon, album_art_ids::artist};

// The picture an element holds, with a reference of its own; empty when the
// element holds no object that answers MediaPicture.
ComPtr<MediaPicture> PictureIn(const VARIANT& element) {
    ComPtr<MediaPicture> picture;
    if ((element.vt != VT_UNKNOWN && element.vt != VT_DISPATCH) || !element.punkVal) return picture;
    if (FAILED(element.punkVal->QueryInterface(IID_MediaPicture, picture.ReleaseAndGetVoidAddress())))
        picture.Reset();
    return picture;
}

// A copy of the bytes of the picture at `slot` of `values`, or empty when
// there is none there or it gives no bytes.
album_art_data_ptr DataAt(const platform::VariantArray& values, LONG slot) {
    if (!values.Array() || slot >= values.Count()) return {};
    ComPtr<MediaPicture> picture = PictureIn(values.Array()[slot]);
    if (!picture) return {};
    ULONG size = 0;
    BYTE* bytes = nullptr;
    album_art_data_ptr result;
    if (SUCCEEDED(picture->GetData(&size, &bytes)) && size > 0 && bytes)
        result = album_art_data_impl::g_create(bytes, size);
    CoTaskMemFree(bytes);
    return result;
}

// Balances one CoInitialize of the calling thread when the scope ends.
class ComScope {
  public:
    ComScope() : m_initialized(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComScope() {
        if (m_initialized) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool initialized() const { return m_initialized; }

  private:
    bool m_initialized;
};

// The opening both services share: the file's MediaItem through the
// process-wide library, with `path` set to the library path. Every failure
// (no path, path not UTF-8, no COM, no library, the library does not open
// the file or gives no item) throws Failure after releasing what was
// obtained. The caller keeps COM initialised around the call.
template <typename Failure>
ComPtr<MediaItem> OpenItem(const char* host_path, platform::Bstr& path, const ComScope& com) {
    path = corvina::LibraryPathOf(host_path);
    if (!path.Get() || !com.initialized()) throw Failure();
    MediaLibrary* library = corvina::EnsureMediaLibrary();
    if (!library) throw Failure();
    ComPtr<MediaContent> content;
    LONG format_id = 0;
    LONG status = E_FAIL;
    if (FAILED(library->OpenContent(path.Get(), IID_MediaContent, content.ReleaseAndGetVoidAddress(),
                                    &format_id, &status)) ||
        !content)
        throw Failure();
    ComPtr<MediaItem> item;
    const HRESULT hr = content->QueryInterface(IID_MediaItem, item.ReleaseAndGetVoidAddress());
    content.Reset();
    if (FAILED(hr) || !item) throw Failure();
    return item;
}

// Closes a loaded item when the scope ends unless the caller closed it.
class LoadedItem {
  public:
    explicit LoadedItem(MediaItem* item) : m_item(item) {}
    ~LoadedItem() {
        if (m_item) m_item->Close();
    }
    LoadedItem(const LoadedItem&) = delete;
    LoadedItem& operator=(const LoadedItem&) = delete;
    // Closes now and gives Close's result.
    HRESULT close() { return std::exchange(m_item, nullptr)->Close(); }

  private:
    MediaItem* m_item;
};

}  // namespace

int ArtSlotOf(const GUID& what) {
    for (int slot = 0; slot < kArtSlots; ++slot) {
        if (what == kSlotIds[slot]) return slot;
    }
    return 0;
}

LPCWSTR SniffPictureMime(const void* bytes, size_t size) {
    static constexpr unsigned char kPng[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    const auto* b = static_cast<const unsigned char*>(bytes);
    if (!b) return nullptr;
    if (size > 8 && std::memcmp(b, kPng, sizeof(kPng)) == 0) return u"image/png";
    // GIF87a and GIF89a alike: the version digit (byte 4) is not looked at.
    if (size > 6 && std::memcmp(b, "GIF8", 4) == 0 && b[5] == 'a') return u"image/gif";
    if (size > 2 && b[0] == 0xFF && b[1] == 0xD8) return u"image/jpeg";
    if (size > 2 && b[0] == 'B' && b[1] == 'M') return u"image/bmp";
    if (size > 2 && ((b[0] == 'M' && b[1] == 'M') || (b[0] == 'I' && b[1] == 'I'))) return u"image/tiff";
    return nullptr;
}

bool PutPictureInList(const GUID& what, album_art_editor_instance_oma* instance, ULONG list,
                      MediaPicture* picture) {
    MediaItem* item = instance->item();
    LONG slot = ArtSlotOf(what);
    platform::VariantArray values;
    // A list that cannot be read counts as an empty one.
    const LONG count = library::ReadAttribute(item, list, 0, values) ? values.Count() : 0;

    if (slot < count) {
        VARIANT& element = values.Array()[slot];
        VariantClear(&element);
        element.vt = VT_UNKNOWN;
        element.punkVal = picture;  // borrowed: not released with the list
        const HRESULT hr = item->SetAttribute(list, count, values.Array());
        element.vt = VT_EMPTY;
        return SUCCEEDED(hr);
    }

    // Appended: a slot beyond the end becomes the next free position, so
    // the list never has a hole. The existing elements (fewer than five
    // here) are moved over as they are.
    slot = count;
    VARIANT local[kArtSlots];
    if (count > 0) std::memcpy(local, values.Array(), sizeof(VARIANT) * static_cast<size_t>(count));
    values.Abandon();  // the elements now live in `local`
    VariantInit(&local[slot]);
    local[slot].vt = VT_UNKNOWN;
    local[slot].punkVal = picture;
    const HRESULT hr = item->SetAttribute(list, slot + 1, local);
    for (LONG i = 0; i < count; ++i) VariantClear(&local[i]);
    return SUCCEEDED(hr);
}

bool album_art_extractor_oma::is_our_path(const char* path, const char* extension) {
    return corvina::ClaimsExtension(extension);
}

album_art_extractor_instance_ptr album_art_extractor_oma::open(const file_ptr&, const char* path,
                                                               abort_callback&) {
    ComScope com;
    platform::Bstr library_path;
    ComPtr<MediaItem> item = OpenItem<exception_album_art_not_found>(path, library_path, com);
    if (FAILED(item->Load(library_path.Get(), kMediaItemRead))) throw exception_album_art_not_found();

    service_ptr_t<album_art_extractor_instance_simple> instance =
        fb2k::service_new<album_art_extractor_instance_simple>();
    bool found = false;
    {
        LoadedItem loaded(item.Get());
        // The second list first: a picture of the jacket list replaces the
        // one found there for the same kind.
        platform::VariantArray values;
        for (ULONG list : {JacketAlt, Jacket}) {
            if (!library::ReadAttribute(item.Get(), list, 0, values)) continue;
            for (LONG slot = 0; slot < kArtSlots && slot < values.Count(); ++slot) {
                if (album_art_data_ptr data = DataAt(values, slot)) {
                    instance->set(kSlotIds[slot], data);
                    found = true;
                }
            }
            values.Reset();
        }
    }
    if (!found) throw exception_album_art_not_found();
    return instance;
}

bool album_art_editor_oma::is_our_path(const char* path, const char* extension) {
    return corvina::ClaimsExtension(extension);
}

album_art_editor_instance_ptr album_art_editor_oma::open(const file_ptr&, const char* path, abort_callback&) {
    ComScope com;
    platform::Bstr library_path;
    ComPtr<MediaItem> item = OpenItem<exception_album_art_unsupported_entry>(path, library_path, com);
    service_ptr_t<album_art_editor_instance_oma> instance =
        fb2k::service_new<album_art_editor_instance_oma>();
    instance->attach(std::move(library_path), std::move(item));
    return instance;
}

album_art_editor_instance_oma::album_art_editor_instance_oma() {
    m_com_initialized = SUCCEEDED(CoInitialize(nullptr));
    if (m_com_initialized) m_com_thread = std::this_thread::get_id();
}

album_art_editor_instance_oma::~album_art_editor_instance_oma() {
    m_library_path = platform::Bstr();
    m_item.Reset();
    // Only the thread whose count the constructor raised is balanced.
    if (m_com_initialized && m_com_thread == std::this_thread::get_id()) CoUninitialize();
}

void album_art_editor_instance_oma::attach(platform::Bstr library_path, ComPtr<MediaItem> item) {
    m_library_path = std::move(library_path);
    m_item = std::move(item);
}

album_art_data_ptr album_art_editor_instance_oma::query(const GUID& what, abort_callback&) {
    if (!m_library_path.Get() || !m_item) throw exception_album_art_not_found();
    const LONG slot = ArtSlotOf(what);
    if (FAILED(m_item->Load(m_library_path.Get(), kMediaItemRead))) throw exception_album_art_not_found();
    album_art_data_ptr result;
    {
        LoadedItem loaded(m_item.Get());
        platform::VariantArray values;
        for (ULONG list : {Jacket, JacketAlt}) {
            if (library::ReadAttribute(m_item.Get(), list, 0, values)) result = DataAt(values, slot);
            values.Reset();
            if (result) break;
        }
    }
    if (!result) throw exception_album_art_not_found();
    return result;
}

void album_art_editor_instance_oma::set(const GUID& what, const album_art_data_ptr& data, abort_callback&) {
    if (!m_library_path.Get() || !m_item) throw exception_album_art_unsupported_entry();
    // No bytes is no picture: storing one would put an unreadable entry in
    // the kind's place (hiding the cover stored there), so it is refused
    // before the file is touched. So is data too large for the library.
    if (!data.is_valid() || data->get_size() == 0 || !data->get_ptr() ||
        data->get_size() > std::numeric_limits<ULONG>::max())
        throw exception_album_art_unsupported_entry();
    if (FAILED(m_item->Load(m_library_path.Get(), kMediaItemWrite)))
        throw exception_album_art_unsupported_entry();
    LoadedItem loaded(m_item.Get());

    ComPtr<MediaPicture> picture;
    if (FAILED(CoCreateInstance(CLSID_MediaPicture, nullptr, CLSCTX_INPROC_SERVER, IID_MediaPicture,
                                picture.ReleaseAndGetVoidAddress())) ||
        !picture)
        throw exception_album_art_unsupported_entry();
    const auto* bytes = static_cast<const BYTE*>(data->get_ptr());
    if (FAILED(picture->SetData(static_cast<ULONG>(data->get_size()), bytes)))
        throw exception_album_art_unsupported_entry();
    if (LPCWSTR mime = SniffPictureMime(bytes, data->get_size())) {
        platform::Variant type = platform::Variant::FromString(mime);
        picture->SetProperty(medialib::attr::PictureMime,
                             type.Get());  // a picture without a type is still kept
    }

    platform::VariantArray values;
    const LONG alt_count = library::ReadAttribute(m_item.Get(), JacketAlt, 0, values) ? values.Count() : 0;
    values.Reset();

    if (PutPictureInList(what, this, Jacket, picture.Get())) {
        // A file that keeps the second list too gets the picture there as well.
        if (alt_count > 0) PutPictureInList(what, this, JacketAlt, picture.Get());
    } else {
        // The jacket list is refused: the second list takes the picture, and
        // when it is new it starts as a copy of the jacket list.
        if (alt_count == 0 && library::ReadAttribute(m_item.Get(), Jacket, 0, values))
            m_item->SetAttribute(JacketAlt, values.Count(), values.Array());
        values.Reset();
        if (!PutPictureInList(what, this, JacketAlt, picture.Get()))
            throw exception_album_art_unsupported_entry();
    }
    picture.Reset();
    // Close writes the file: a write that failed (a read-only file, a full
    // disk) must not pass as a stored picture.
    if (FAILED(loaded.close())) throw exception_album_art_unsupported_entry();
}

void album_art_editor_instance_oma::remove(const GUID& what) {
    const LONG slot = ArtSlotOf(what);
    if (!m_library_path.Get() || !m_item) return;
    if (FAILED(m_item->Load(m_library_path.Get(), kMediaItemWrite))) return;
    LoadedItem loaded(m_item.Get());
    platform::VariantArray values;
    for (ULONG list : {Jacket, JacketAlt}) {
        if (library::ReadAttribute(m_item.Get(), list, 0, values) && slot < values.Count()) {
            VARIANT* array = values.Array();
            const LONG count = values.Count();
            VariantClear(&array[slot]);
            // The later pictures move down one position: each takes the kind
            // of the one before it.
            std::memmove(&array[slot], &array[slot + 1],
                         sizeof(VARIANT) * static_cast<size_t>(count - slot - 1));
            VariantInit(&array[count - 1]);  // its content moved one down
            if (count > 1)
                m_item->SetAttribute(list, count - 1, array);
            else
                m_item->SetAttribute(list, 0, nullptr);
        }
        values.Reset();
    }
}

void album_art_editor_instance_oma::commit(abort_callback&) {}
