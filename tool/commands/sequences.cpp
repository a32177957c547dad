#include "tool/commands/sequences.h"

#include "platform/com/classtable.h"
#include "tool/commands/convert.h"
#include "tool/commands/entry.h"
#include "tool/common/console_output.h"
#include "tool/common/numbers_paths.h"
#include "tool/pictures/picture_files.h"
#include "tool/pictures/recoding.h"
#include "tool/pictures/rendering.h"
#include "tool/tags/attribute_list.h"
#include "tool/tags/info_file.h"
#include "tool/tags/media_item.h"
#include "tool/tags/notes.h"

namespace quillet {
namespace {

PictureBounds BoundsOf(const CommandOptions& options) {
    return PictureBounds{options.max_width, options.max_height, options.min_width, options.min_height};
}

ComPtr<MediaPicture> NewPicture() {
    ComPtr<MediaPicture> picture;
    if (FAILED(CoCreateInstance(CLSID_MediaPicture, nullptr, CLSCTX_INPROC_SERVER, IID_MediaPicture,
                                picture.ReleaseAndGetVoidAddress())) ||
        !picture)
        return {};
    return picture;
}

// Saves `picture` for every entry of `outputs` as the folder of its full path
// + its file name without extension (+ the picture's extension) and prints
// `key` with each name written.
void SaveCreated(const NameValueList& outputs, MediaPicture* picture, bool force_write, LPCWSTR key) {
    for (const NameValueList::Entry& entry : outputs) {
        std::u16string name;
        if (!OutputStem(entry.Value(), &name)) continue;
        std::u16string extension;
        if (SavePicture(&extension, name.c_str(), picture, force_write))
            WriteKeyValue(key, (name + u".jpg").c_str());
    }
}

}  // namespace

bool RunGetSequence(CommandRun& run) {
    CommandOptions& options = run.options;
    if (!options.info.Empty()) {
        NameValueList attributes;
        ReadAttributeList(run.item.Get(), attributes);
        if (!ExportInfoFiles(options.info, attributes, options.force_write) && !options.all)
            run.exit_code = 1;
    }
    const PictureBounds bounds = BoundsOf(options);
    if (!ExportNotes(options.lyrics, run.item.Get(), kLyricsKind, options.jpeg, JpegEncoderClsid, bounds,
                     options.force_write))
        run.exit_code = 1;
    if (!ExportNotes(options.liner_notes, run.item.Get(), kLinerNotesKind, options.jpeg, JpegEncoderClsid,
                     bounds, options.force_write))
        run.exit_code = 1;
    // With "--GetAll" the info, lyrics and liner notes steps cannot fail the run.
    if (options.all) run.exit_code = 0;
    if (!options.jacket.Empty() &&
        !ExportJacket(options.jacket, run.item.Get(), options.jpeg, JpegEncoderClsid, bounds,
                      options.force_write) &&
        !options.all)
        run.exit_code = 1;
    return true;
}

bool RunPutSequence(CommandRun& run) {
    CommandOptions& options = run.options;
    // Base files first, so that info files and tag options override them.
    for (const NameValueList::Entry& entry : options.base) {
        ComPtr<MediaItem> base = OpenMediaItem(run.root, entry.Value());
        if (!base) {
            std::u16string full;
            if (SplitPath(entry.Value(), &full, nullptr, nullptr, nullptr) != 0)
                base = OpenMediaItem(run.root, full.c_str());
        }
        if (!base) continue;
        CopyAllAttributes(base.Get(), run.item.Get());
    }

    NameValueList merged;
    if (!options.info.Empty()) ImportInfoFiles(options.info, merged);
    for (const NameValueList::Entry& entry : options.tags) merged.Set(entry.Name(), entry.Value());
    if (!merged.Empty() && !WriteAttributeList(run.item.Get(), merged)) run.exit_code = 1;

    if (!AttachNotes(options.lyrics, run.item.Get(), kLyricsKind, options.lyrics_mode, options.jpeg,
                     JpegEncoderClsid, options.font_size))
        run.exit_code = 1;
    if (!AttachNotes(options.liner_notes, run.item.Get(), kLinerNotesKind, options.liner_notes_mode,
                     options.jpeg, JpegEncoderClsid, options.font_size))
        run.exit_code = 1;
    // In text mode the jacket is drawn from the file's own artist and title,
    // which then become the remembered ones.
    if (!AttachJacket(options.jacket, run.item.Get(), options.jacket_mode, options.jpeg, JpegEncoderClsid,
                      BoundsOf(options), options.remembered_artist, options.remembered_title))
        run.exit_code = 1;
    if (options.command == Command::Convert) return FinishConversion(run);
    return true;
}

void RunCreateSequence(CommandOptions& options) {
    // Text to JPEG: the newest entry that is no picture and reads as text.
    if (!options.text_jpeg.Empty() && !options.text.Empty()) {
        std::u16string text;
        bool found = false;
        for (auto entry = options.text.rbegin(); entry != options.text.rend() && !found; ++entry) {
            const LPCWSTR path = entry->Value();
            found = path && !IsPictureFile(path) && ReadTextFile(path, &text) && !text.empty();
        }
        if (found) {
            ComPtr<MediaPicture> picture = NewPicture();
            if (picture &&
                RenderTextPicture(picture.Get(), JpegEncoderClsid, text.c_str(), options.font_size) &&
                RecodePicture(picture.Get(), JpegEncoderClsid, true, 0, 0, 0, 0))
                SaveCreated(options.text_jpeg, picture.Get(), options.force_write, u"TextJpeg");
        }
    }

    // Picture to JPEG: the newest entry that is a picture.
    if (!options.picture_jpeg.Empty() && !options.picture.Empty()) {
        LPCWSTR source = nullptr;
        for (auto entry = options.picture.rbegin(); entry != options.picture.rend() && !source; ++entry)
            if (entry->Value() && IsPictureFile(entry->Value())) source = entry->Value();
        if (source) {
            ComPtr<MediaPicture> picture = NewPicture();
            if (picture && SUCCEEDED(picture->Load(source)) &&
                RecodePicture(picture.Get(), JpegEncoderClsid, true, options.max_width, options.max_height,
                              options.min_width, options.min_height))
                SaveCreated(options.picture_jpeg, picture.Get(), options.force_write, u"PictureJpeg");
        }
    }

    // Jacket to JPEG from the artist and title given on the command line.
    if (!options.jacket_jpeg.Empty() &&
        (!options.remembered_artist.empty() || !options.remembered_title.empty())) {
        ComPtr<MediaPicture> picture = NewPicture();
        if (picture &&
            RenderJacketPicture(picture.Get(), JpegEncoderClsid, options.remembered_artist.c_str(),
                                options.remembered_title.c_str()) &&
            RecodePicture(picture.Get(), JpegEncoderClsid, true, options.max_width, options.max_height,
                          options.min_width, options.min_height))
            SaveCreated(options.jacket_jpeg, picture.Get(), options.force_write, u"JacketJpeg");
    }

    options.text.Clear();
    options.text_jpeg.Clear();
    options.picture.Clear();
    options.picture_jpeg.Clear();
    options.jacket_jpeg.Clear();
}

}  // namespace quillet
