#include "tool/tags/notes.h"

#include <optional>

#include "library/attribute_read.h"
#include "library/media_ids.h"
#include "platform/com/classtable.h"
#include "platform/com/unknown.h"
#include "platform/text/text.h"
#include "tool/common/console_output.h"
#include "tool/common/notes_modes.h"
#include "tool/common/numbers_paths.h"
#include "tool/pictures/picture_files.h"
#include "tool/pictures/recoding.h"
#include "tool/pictures/rendering.h"
#include "tool/tags/attribute_list.h"
#include "tool/tags/info_file.h"

namespace quillet {

const NotesKind kLyricsKind{medialib::attr::LyricsText, medialib::attr::LyricsPicture, u".lrc",
                            u"LyricsTextFile", u"LyricsPictureFile"};
const NotesKind kLinerNotesKind{medialib::attr::LinerNotesText, medialib::attr::LinerNotesPicture, u".txt",
                                u"LinerNotesTextFile", u"LinerNotesPictureFile"};

namespace {

// Jacket modes share the first four notes modes' numbers.
constexpr LONG kJacketDelete = kModeDelete;
constexpr LONG kJacketText = kModeText;
constexpr LONG kJacketPicture = kModePicture;
constexpr LONG kJacketAuto = kModeAuto;

bool RemoveAttribute(MediaItem* item, ULONG id) { return SUCCEEDED(item->SetAttribute(id, 0, nullptr)); }

ComPtr<MediaPicture> NewPicture() {
    ComPtr<MediaPicture> picture;
    if (FAILED(CoCreateInstance(CLSID_MediaPicture, nullptr, CLSCTX_INPROC_SERVER, IID_MediaPicture,
                                picture.ReleaseAndGetVoidAddress())) ||
        !picture)
        return {};
    return picture;
}

// The first value of `values` as a picture object; empty when it is no object
// or does not answer the picture interface.
ComPtr<MediaPicture> FirstAsPicture(const platform::VariantArray& values) {
    const VARIANT* first = values.First();
    if (!first) return {};
    IUnknown* object = nullptr;
    if (first->vt == VT_UNKNOWN) object = first->punkVal;
    if (first->vt == VT_DISPATCH) object = first->pdispVal;
    if (!object) return {};
    ComPtr<MediaPicture> picture;
    if (FAILED(object->QueryInterface(IID_MediaPicture, picture.ReleaseAndGetVoidAddress())) || !picture)
        return {};
    return picture;
}

// The files a notes list offers, walking from its last entry back; only
// entries naming an existing file (not a folder) count.
struct ChosenFiles {
    LPCWSTR first = nullptr;
    LPCWSTR picture = nullptr;
    LPCWSTR text = nullptr;
};

ChosenFiles ChooseFiles(const NameValueList& list) {
    ChosenFiles chosen;
    for (auto entry = list.rbegin(); entry != list.rend(); ++entry) {
        const LPCWSTR path = entry->Value();
        if (!path || !IsExistingFile(path)) continue;
        if (!chosen.first) chosen.first = path;
        if (IsPictureFile(path)) {
            if (!chosen.picture) chosen.picture = path;
        } else if (!chosen.text) {
            chosen.text = path;
        }
        if (chosen.picture && chosen.text) break;
    }
    return chosen;
}

bool AttachText(MediaItem* item, const NotesKind& kind, const ChosenFiles& files) {
    std::u16string text;
    if (!files.text || !ReadTextFile(files.text, &text)) return false;
    if (!WriteNotesText(item, kind.text_id, text.c_str())) return false;
    // The picture attribute carries the text too, for players that show only
    // pictures; whether it takes it does not matter.
    if (ComPtr<MediaPicture> wrapped = MakeTextObject(text.c_str()))
        SetPictureAttribute(item, kind.picture_id, wrapped.Get());
    WriteKeyValue(kind.text_key, files.text);
    return true;
}

bool AttachPicture(MediaItem* item, const NotesKind& kind, const ChosenFiles& files, bool jpeg,
                   const CLSID& jpeg_encoder, LONG font_size) {
    ComPtr<MediaPicture> picture = NewPicture();
    if (!picture) return false;
    LPCWSTR shown = files.picture;
    if (files.picture) {
        if (FAILED(picture->Load(files.picture))) return false;
    } else if (files.text) {
        std::u16string text;
        if (!ReadTextFile(files.text, &text) ||
            !RenderTextPicture(picture.Get(), jpeg_encoder, text.c_str(), font_size))
            return false;
        shown = files.text;
    } else {
        return false;
    }
    if (!RecodePicture(picture.Get(), jpeg_encoder, jpeg, 0, 0, 0, 0)) return false;
    if (!SetPictureAttribute(item, kind.picture_id, picture.Get())) return false;
    if (!RemoveAttribute(item, kind.text_id)) return false;
    WriteKeyValue(kind.picture_key, shown);
    return true;
}

bool AttachHybrid(MediaItem* item, const NotesKind& kind, const ChosenFiles& files, bool jpeg,
                  const CLSID& jpeg_encoder, LONG font_size) {
    ComPtr<MediaPicture> picture = NewPicture();
    if (!picture) return false;
    std::u16string text;
    const bool has_text = files.text && ReadTextFile(files.text, &text);
    LPCWSTR shown = files.picture;
    if (files.picture) {
        if (FAILED(picture->Load(files.picture))) return false;
    } else if (!has_text) {
        return false;
    } else {
        if (!RenderTextPicture(picture.Get(), jpeg_encoder, text.c_str(), font_size)) return false;
        shown = files.text;
    }
    if (!RecodePicture(picture.Get(), jpeg_encoder, jpeg, 0, 0, 0, 0)) return false;
    if (!SetPictureAttribute(item, kind.picture_id, picture.Get())) return false;
    bool text_written = false;
    if (!has_text) {
        RemoveAttribute(item, kind.text_id);
    } else {
        text_written = WriteNotesText(item, kind.text_id, text.c_str());
        if (!text_written) RemoveAttribute(item, kind.text_id);
    }
    if (text_written) WriteKeyValue(kind.text_key, files.text);
    WriteKeyValue(kind.picture_key, shown);
    return true;
}

// The newest entry naming an existing picture file; null when none does.
LPCWSTR ChooseJacketFile(const NameValueList& list) {
    for (auto entry = list.rbegin(); entry != list.rend(); ++entry) {
        const LPCWSTR path = entry->Value();
        if (path && IsExistingFile(path) && IsPictureFile(path)) return path;
    }
    return nullptr;
}

// Stores the jacket in the first list, else in the second.
bool SetJacket(MediaItem* item, MediaPicture* picture) {
    return SetPictureAttribute(item, medialib::attr::Jacket, picture) ||
           SetPictureAttribute(item, medialib::attr::JacketAlt, picture);
}

}  // namespace

bool SetPictureAttribute(MediaItem* item, ULONG id, MediaPicture* picture) {
    if (!item || !picture) return false;
    platform::VariantArray values;
    const bool held = library::ReadAttribute(item, id, 0, values);
    VARIANT local;
    VariantInit(&local);
    VARIANT* array = held ? values.Array() : &local;
    const LONG count = held ? values.Count() : 1;
    VariantClear(&array[0]);
    array[0].vt = VT_UNKNOWN;
    array[0].punkVal = picture;  // borrowed: the caller keeps its reference
    const bool stored = SUCCEEDED(item->SetAttribute(id, count, array));
    array[0].vt = VT_EMPTY;
    array[0].punkVal = nullptr;
    return stored;
}

bool WriteNotesText(MediaItem* item, ULONG id, LPCWSTR text) {
    if (!item) return false;
    platform::VariantArray values;
    const bool held = library::ReadAttribute(item, id, 0, values);
    VARIANT local;
    VariantInit(&local);
    VARIANT* array = held ? values.Array() : &local;
    const LONG count = held ? values.Count() : 1;
    VariantClear(&array[0]);
    array[0].vt = VT_BSTR;
    array[0].bstrVal = SysAllocString(text ? text : u"");
    bool written = false;
    if (SUCCEEDED(VariantChangeType(&array[0], &array[0], 0, VT_BSTR)) && count >= 1)
        written = SUCCEEDED(item->SetAttribute(id, count, array));
    VariantClear(&local);
    return written;
}

bool AttachNotes(const NameValueList& list, MediaItem* item, const NotesKind& kind, LONG mode, bool jpeg,
                 const CLSID& jpeg_encoder, LONG font_size) {
    if (!item) return false;
    if (mode == kModeDelete) {
        const bool text_removed = RemoveAttribute(item, kind.text_id);
        const bool picture_removed = RemoveAttribute(item, kind.picture_id);
        return text_removed || picture_removed;
    }
    if (list.Empty()) return true;

    const ChosenFiles files = ChooseFiles(list);
    switch (mode) {
        case kModeText:
            return files.text && AttachText(item, kind, files);
        case kModeAuto:
            // The last usable file decides.
            if (files.first && files.first == files.picture)
                return AttachPicture(item, kind, files, jpeg, jpeg_encoder, font_size);
            return AttachText(item, kind, files);
        case kModePicture:
            return AttachPicture(item, kind, files, jpeg, jpeg_encoder, font_size);
        case kModeHybrid:
            if (files.text || !files.picture)
                return AttachHybrid(item, kind, files, jpeg, jpeg_encoder, font_size);
            return AttachPicture(item, kind, files, jpeg, jpeg_encoder, font_size);
        default:
            return false;
    }
}

bool ExportNotes(const NameValueList& list, MediaItem* item, const NotesKind& kind, bool jpeg,
                 const CLSID& jpeg_encoder, const PictureBounds& bounds, bool force_write) {
    if (list.Empty()) return true;
    if (!item) return false;

    std::optional<std::u16string> text;
    {
        platform::VariantArray values;
        if (library::ReadAttribute(item, kind.text_id, 0, values)) text = library::FirstAsText(values);
    }
    ComPtr<MediaPicture> picture;
    {
        platform::VariantArray values;
        if (library::ReadAttribute(item, kind.picture_id, 0, values)) picture = FirstAsPicture(values);
        // A picture that does not recode (a "text/plain" one among them) is
        // not exported.
        if (picture && !RecodePicture(picture.Get(), jpeg_encoder, jpeg, bounds.max_width, bounds.max_height,
                                      bounds.min_width, bounds.min_height))
            picture.Reset();
    }
    if (!text && !picture) return false;

    for (const NameValueList::Entry& entry : list) {
        std::u16string stem;
        if (!OutputStem(entry.Value(), &stem)) continue;
        const std::u16string name = stem + kind.extension;
        if (text && (force_write || IsMissingOrFolder(name.c_str()))) {
            if (WriteTextFile(name.c_str(), text->c_str(), ParseNumber(entry.Name())) &&
                IsExistingFile(name.c_str()))
                WriteKeyValue(kind.text_key, name.c_str());
        }
        if (picture) {
            std::u16string extension;
            if (SavePicture(&extension, name.c_str(), picture.Get(), force_write)) {
                const std::u16string saved = name + extension;
                if (IsExistingFile(saved.c_str())) WriteKeyValue(kind.picture_key, saved.c_str());
            }
        }
    }
    return true;
}

std::u16string JacketText(std::u16string_view artist, std::u16string_view title) {
    std::u16string text = u"[";
    text += artist.empty() ? std::u16string_view(u"Unknown Artist") : artist;
    text += u"]";
    text += title.empty() ? std::u16string_view(u"Unknown Title") : title;
    return text;
}

bool AttachJacket(const NameValueList& list, MediaItem* item, LONG mode, bool jpeg, const CLSID& jpeg_encoder,
                  const PictureBounds& bounds, std::u16string& remembered_artist,
                  std::u16string& remembered_title) {
    if (!item) return false;
    const LPCWSTR jacket_file = ChooseJacketFile(list);
    if (mode == kJacketDelete)
        return RemoveAttribute(item, medialib::attr::Jacket) ||
               RemoveAttribute(item, medialib::attr::JacketAlt);
    if (mode == kJacketAuto) mode = jacket_file ? kJacketPicture : kJacketText;

    if (mode == kJacketPicture) {
        if (!jacket_file) return true;
        ComPtr<MediaPicture> picture = NewPicture();
        if (!picture || FAILED(picture->Load(jacket_file)) ||
            !RecodePicture(picture.Get(), jpeg_encoder, jpeg, bounds.max_width, bounds.max_height,
                           bounds.min_width, bounds.min_height))
            return true;
        if (!SetJacket(item, picture.Get())) return false;
        WriteKeyValue(u"JacketFile", jacket_file);
        return true;
    }
    if (mode == kJacketText) {
        // The item already holds what this Put wrote.
        NameValueList attributes;
        ReadAttributeList(item, attributes);
        const NameValueList::Entry* artist = attributes.Find(u"Artist") ? attributes.Current() : nullptr;
        remembered_artist = artist ? artist->value : std::u16string();
        const NameValueList::Entry* title = attributes.Find(u"Title") ? attributes.Current() : nullptr;
        remembered_title = title ? title->value : std::u16string();

        ComPtr<MediaPicture> picture = NewPicture();
        if (!picture ||
            !RenderJacketPicture(picture.Get(), jpeg_encoder, remembered_artist.c_str(),
                                 remembered_title.c_str()) ||
            !RecodePicture(picture.Get(), jpeg_encoder, jpeg, bounds.max_width, bounds.max_height,
                           bounds.min_width, bounds.min_height))
            return true;
        const std::u16string text = JacketText(remembered_artist, remembered_title);
        if (!SetJacket(item, picture.Get())) return false;
        WriteKeyValue(u"JacketText", text.c_str());
        return true;
    }
    return false;
}

bool ExportJacket(const NameValueList& list, MediaItem* item, bool jpeg, const CLSID& jpeg_encoder,
                  const PictureBounds& bounds, bool force_write) {
    if (!item) return false;
    ComPtr<MediaPicture> picture;
    {
        platform::VariantArray values;
        if (library::ReadAttribute(item, medialib::attr::Jacket, medialib::attr::JacketAlt, values))
            picture = FirstAsPicture(values);
    }
    if (!picture || !RecodePicture(picture.Get(), jpeg_encoder, jpeg, bounds.max_width, bounds.max_height,
                                   bounds.min_width, bounds.min_height))
        return false;
    int written = 0;
    for (const NameValueList::Entry& entry : list) {
        std::u16string name;
        if (!OutputStem(entry.Value(), &name)) continue;
        std::u16string extension;
        if (!SavePicture(&extension, name.c_str(), picture.Get(), force_write)) continue;
        const std::u16string saved = name + extension;
        if (IsExistingFile(saved.c_str())) {
            WriteKeyValue(u"JacketFile", saved.c_str());
            ++written;
        }
    }
    return written > 0;
}

}  // namespace quillet
