// Lyrics, liner notes and the jacket picture: attaching them to the target
// file from text and picture files (Put) and exporting them beside names
// given on the command line (Get).
//
// Lyrics and liner notes are each a text attribute and a picture attribute;
// a notes kind says which, and under which extension and result keys they
// are exported. The notes modes choose between storing the text (with the
// text also wrapped as a "text/plain" picture), a picture (a picture file, or
// the text rendered), or both; the jacket modes between a picture file and a
// picture rendered from the artist and title. In every list the last usable
// entry wins. Each entry's name is its encoding digit, its value a path.
// Nothing is printed on failure: a result line appears only for what was
// stored or written, and the result tells the sequence whether to fail.
#pragma once

#include <string>

#include "library/media_library.h"
#include "tool/common/name_value_list.h"
#include "tool/common/notes_modes.h"

namespace quillet {

struct NotesKind {
    ULONG text_id;
    ULONG picture_id;
    LPCWSTR extension;    // of the exported text file
    LPCWSTR text_key;     // result key for a text file
    LPCWSTR picture_key;  // result key for a picture file
};
extern const NotesKind kLyricsKind;
extern const NotesKind kLinerNotesKind;

// The bounds a picture is recoded to (0: no bound).
struct PictureBounds {
    LONG max_width = 0;
    LONG max_height = 0;
    LONG min_width = 0;
    LONG min_height = 0;
};

// Stores `picture` (borrowed; the caller keeps its reference) as the first
// value of attribute `id`, keeping any further values. True when the item
// took it.
bool SetPictureAttribute(MediaItem* item, ULONG id, MediaPicture* picture);

// Stores `text` as the first value of the text attribute `id`, keeping any
// further values. True when the item took it.
bool WriteNotesText(MediaItem* item, ULONG id, LPCWSTR text);

// Put: attaches the lyrics or liner notes of `list` to `item` in `mode`
// (0 Delete, 1 Text, 2 Picture, 3 Auto, 4 Hybrid). `jpeg` turns stored
// pictures into JPEG; `font_size` is the size a text is rendered at.
bool AttachNotes(const NameValueList& list, MediaItem* item, const NotesKind& kind, LONG mode, bool jpeg,
                 const CLSID& jpeg_encoder, LONG font_size);

// Get: writes the stored text as folder + base name + the kind's extension
// and the stored picture (recoded within `bounds`) as that name + the
// extension of its MIME type, for every entry of `list`. Existing files are
// replaced only with `force_write`. Fails only when the item holds neither.
bool ExportNotes(const NameValueList& list, MediaItem* item, const NotesKind& kind, bool jpeg,
                 const CLSID& jpeg_encoder, const PictureBounds& bounds, bool force_write);

// "[" + artist + "]" + title, empty parts named "Unknown Artist" and
// "Unknown Title".
std::u16string JacketText(std::u16string_view artist, std::u16string_view title);

// Put: attaches the jacket in `mode` (0 Delete, 1 Text, 2 Picture, 3 Auto).
// Text mode renders the item's own artist and title, which then replace
// `remembered_artist` and `remembered_title`. A picture that cannot be had
// is no failure; only a picture the item refuses, or a Delete that removes
// nothing, is.
bool AttachJacket(const NameValueList& list, MediaItem* item, LONG mode, bool jpeg, const CLSID& jpeg_encoder,
                  const PictureBounds& bounds, std::u16string& remembered_artist,
                  std::u16string& remembered_title);

// Get: saves the item's jacket (recoded within `bounds`) as folder + base
// name + the extension of its MIME type for every entry of `list`. True when
// at least one file was written.
bool ExportJacket(const NameValueList& list, MediaItem* item, bool jpeg, const CLSID& jpeg_encoder,
                  const PictureBounds& bounds, bool force_write);

}  // namespace quillet
