// Cover pictures for the player: the album art extractor (every picture of a
// file at once) and the album art editor (one picture read, replaced or
// removed at a time).
//
// The pictures are MediaPicture objects in two list attributes of the file's
// MediaItem, the jacket list (Jacket) and the second jacket list (JacketAlt).
// A picture's position in a list is its kind, its art slot:
//   0 front cover, 1 back cover, 2 disc, 3 icon, 4 artist;
// any other album art id counts as slot 0, and only the first five elements
// of a list are ever read. Reading looks at both lists: the extractor takes
// the second list first and lets the jacket list override it per kind; the
// editor's query takes the jacket list first and falls back to the second.
//
// Lists have no holes. A picture set for a slot beyond the end of a list goes
// to the next free position (an icon set on a file without pictures is read
// back as the front cover), and removing a picture moves the later ones one
// position down (removing the back cover of [front, back, disc] makes the
// disc picture the back cover). Stored files and callers rely on both rules.
//
// Each service opens its own library objects per request, independent of any
// input object playing the same file; each editor operation runs its own
// MediaItem Load ... Close cycle, so a change is in the file when set or
// remove returns and commit has nothing left to do.
//
// Failures reach the host as its exceptions: "Album Art Not Found"
// (extractor, editor query), "Unsupported Album Art Entry" (editor open and
// set); remove is silent.
#pragma once

#include <cstddef>
#include <thread>

#include "host/sdk/album_art.h"
#include "library/media_library.h"
#include "platform/com/memory.h"

// The art slot of an album art id: its position in a jacket list.
int ArtSlotOf(const GUID& what);

// The MIME type of encoded picture bytes, from their first bytes (PNG, GIF,
// JPEG, BMP, TIFF, tested in that order), or null when none matches.
LPCWSTR SniffPictureMime(const void* bytes, size_t size);

class album_art_editor_instance_oma;

// Puts `picture` into list attribute `list` of the instance's (loaded) item
// at the art slot of `what`: the element there is replaced, or, when the
// list is shorter, the picture is appended at the next free position. The
// picture is handed over without a new reference. True when the library took
// the new list.
bool PutPictureInList(const GUID& what, album_art_editor_instance_oma* instance, ULONG list,
                      MediaPicture* picture);

class album_art_extractor_oma : public album_art_extractor {
  public:
    // Extensions oma, omg, kdr (any case); 3gp while cfg_support_3gp is on.
    bool is_our_path(const char* path, const char* extension) override;
    // Every picture of the file, loaded for reading and closed again before
    // returning. Throws exception_album_art_not_found when the file cannot be
    // opened or has no readable picture.
    album_art_extractor_instance_ptr open(const file_ptr& filehint, const char* path,
                                          abort_callback& abort) override;
};

class album_art_editor_oma : public album_art_editor {
  public:
    bool is_our_path(const char* path, const char* extension) override;
    // An instance bound to the file's MediaItem (not loaded yet). Throws
    // exception_album_art_unsupported_entry when the file cannot be opened.
    album_art_editor_instance_ptr open(const file_ptr& filehint, const char* path,
                                       abort_callback& abort) override;
};

class album_art_editor_instance_oma : public album_art_editor_instance {
  public:
    // Initialises COM on the calling thread for the instance's life.
    album_art_editor_instance_oma();
    // Frees the path, releases the item, then balances the constructor's
    // CoInitialize when it runs on the same thread.
    ~album_art_editor_instance_oma();
    album_art_editor_instance_oma(const album_art_editor_instance_oma&) = delete;
    album_art_editor_instance_oma& operator=(const album_art_editor_instance_oma&) = delete;

    // Binds the instance to a file: its library path and its item (the
    // instance takes over the reference).
    void attach(platform::Bstr library_path, ComPtr<MediaItem> item);

    // The picture of kind `what`; throws exception_album_art_not_found.
    album_art_data_ptr query(const GUID& what, abort_callback& abort) override;
    // Stores `data` as the picture of kind `what` and writes the file. Throws
    // exception_album_art_unsupported_entry when the data is empty, the item
    // cannot be loaded for writing, neither list takes the picture or the
    // file cannot be written (a read-only file is left as it was).
    void set(const GUID& what, const album_art_data_ptr& data, abort_callback& abort) override;
    // Removes the picture of kind `what` from both lists; silent on failure.
    void remove(const GUID& what) override;
    // Nothing: set and remove have written their changes already.
    void commit(abort_callback& abort) override;

    bool com_initialized() const { return m_com_initialized; }
    BSTR library_path() const { return m_library_path.Get(); }
    MediaItem* item() const { return m_item.Get(); }

  private:
    bool m_com_initialized = false;
    std::thread::id m_com_thread;
    platform::Bstr m_library_path;
    ComPtr<MediaItem> m_item;
};
