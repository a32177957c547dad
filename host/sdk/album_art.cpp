// Finding the album-art service for a path, as the player does before it
// shows or edits a file's pictures: the first registered service whose
// is_our_path accepts the path and its extension.
#include "host/sdk/album_art.h"

#include <string>

#include "host/sdk/core_api.h"
#include "host/sdk/input.h"

namespace {

template <typename Service>
bool FirstClaiming(service_ptr_t<Service>& out, const char* path) {
    out.release();
    if (!path) return false;
    const std::string extension = input_entry::g_extension(path);
    service_enum_t<Service> services;
    service_ptr_t<Service> candidate;
    while (services.next(candidate)) {
        if (candidate->is_our_path(path, extension.c_str())) {
            out = candidate;
            return true;
        }
    }
    return false;
}

}  // namespace

bool album_art_extractor::g_get_interface(service_ptr_t<album_art_extractor>& out, const char* path) {
    return FirstClaiming(out, path);
}

album_art_extractor_instance_ptr album_art_extractor::g_open(const file_ptr& filehint, const char* path,
                                                             abort_callback& abort) {
    service_ptr_t<album_art_extractor> extractor;
    if (!g_get_interface(extractor, path)) throw exception_album_art_not_found();
    return extractor->open(filehint, path, abort);
}

bool album_art_editor::g_get_interface(service_ptr_t<album_art_editor>& out, const char* path) {
    return FirstClaiming(out, path);
}

album_art_editor_instance_ptr album_art_editor::g_open(const file_ptr& filehint, const char* path,
                                                       abort_callback& abort) {
    service_ptr_t<album_art_editor> editor;
    if (!g_get_interface(editor, path)) throw exception_album_art_unsupported_entry();
    return editor->open(filehint, path, abort);
}
